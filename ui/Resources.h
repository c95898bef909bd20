// Where the program's pictures are in its built-in resources, by their resource numbers.
#pragma once

#include <QString>
#include <array>

namespace clipwright::ui::resources {

inline const QString kAppIcon = QStringLiteral(":/icons/app-128.png");
inline const QString kAppIconLarge = QStringLiteral(":/icons/app-128-256.png");
inline const QString kBanner = QStringLiteral(":/banner-1002.png");

// The film strip moves down one step per frame in this order.
inline constexpr std::array<int, 6> kFrameIconIds = {134, 135, 129, 130, 131, 132};

inline QString FrameIconPath(int iconId) {
    return QStringLiteral(":/icons/frame-%1.png").arg(iconId);
}

} // namespace clipwright::ui::resources
