#pragma once

#include <QImage>

namespace clipwright::artwork {

inline constexpr int kBannerWidth = 225;
inline constexpr int kBannerHeight = 85;

// The main dialog's banner: the maker's mark, name and slogan in white on a blue field, drawn
// `scale` times as large (2 for screens with twice the pixels).
QImage DrawBanner(int scale = 1);

} // namespace clipwright::artwork
