#include "Resources.h"

namespace clipwright::ui::resources {

QPixmap Picture(const QString& path, const QSize& logicalSize, qreal devicePixelRatio) {
    // QIcon finds the @2x drawing beside the ordinary one and picks between them by pixels needed.
    const QIcon drawings(path);
    return drawings.pixmap(logicalSize, devicePixelRatio);
}

QIcon AppIcon() {
    QIcon icon(kAppIcon);
    icon.addFile(kAppIconLarge);
    return icon;
}

} // namespace clipwright::ui::resources
