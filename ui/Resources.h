// The program's pictures in its built-in resources, by their resource numbers. Each has a drawing for
// ordinary screens and one twice as large (name@2x) for screens with twice the pixels.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <array>

namespace clipwright::ui::resources {

inline const QString kAppIcon = QStringLiteral(":/icons/app-128.png");
inline const QString kAppIconLarge = QStringLiteral(":/icons/app-128-256.png");
inline const QString kBanner = QStringLiteral(":/banner-1002.png");

// Sizes of the drawings for ordinary screens, in pixels.
inline constexpr QSize kBannerSize(225, 85);
inline constexpr QSize kIconSize(32, 32);

// The film strip moves down one step per frame in this order.
inline constexpr std::array<int, 6> kFrameIconIds = {134, 135, 129, 130, 131, 132};

inline QString FrameIconPath(int iconId) {
    return QStringLiteral(":/icons/frame-%1.png").arg(iconId);
}

// The picture at `path` shown `logicalSize` large on a screen of `devicePixelRatio`, made from the
// drawing that is sharpest there (never enlarged from a smaller one where a larger exists).
QPixmap Picture(const QString& path, const QSize& logicalSize, qreal devicePixelRatio);

// The program's icon at every size it is drawn in.
QIcon AppIcon();

} // namespace clipwright::ui::resources
