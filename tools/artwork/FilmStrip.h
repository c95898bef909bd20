#pragma once

#include <QColor>
#include <QImage>

#include <array>

namespace clipwright::artwork {

// The progress window's film strip. Geometry is on the 32 px icon grid; larger sizes scale it.
// The pattern repeats every kPatternPeriod rows, and each frame moves it down kFrameStep rows, so the
// six frames run kFrameCount * kFrameStep = kPatternPeriod rows: one seamless cycle.
inline constexpr int kIconSize = 32;
inline constexpr int kPatternPeriod = 18;
inline constexpr int kFrameStep = 3;
inline constexpr int kFrameCount = 6;
static_assert(kFrameCount * kFrameStep == kPatternPeriod);

// Icon resource numbers in the order the progress window shows them.
inline constexpr std::array<int, kFrameCount> kFrameIconIds = {134, 135, 129, 130, 131, 132};

// The application icon shows the strip as this frame does.
inline constexpr int kAppIconFrameId = 129;

// The sixteen colours the small icons are restricted to (the classic VGA set).
const std::array<QColor, 16>& SixteenColours();

enum class StripFinish {
    PixelExact, // hard edges on the pixel grid, sixteen colours: the 32 px frames
    Smooth,     // anti-aliased rounded shapes: the large desktop icon
};

// Draws the strip moved down by shiftRows grid rows (any whole number; taken modulo the period).
// The result is size x size pixels, transparent beside the strip; size is at least 32 px, and a
// multiple of 32 px for the pixel-exact finish.
QImage DrawFilmStrip(int size, int shiftRows, StripFinish finish);

// Frame number frameIndex (0 = icon 134 ... 5 = icon 132) as a sixteen-colour palette image, `size`
// pixels square (32, or 64 for screens with twice the pixels).
QImage DrawFilmStripFrame(int frameIndex, int size = kIconSize);

} // namespace clipwright::artwork
