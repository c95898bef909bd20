// Capture settings that a rebuilt file is written with, as the old header gives them or as the user
// answers the "Image Setting Needed" prompt.
#pragma once

#include <cstdint>

namespace clipwright {

// 0 = 640 by 480, 1 = 320 by 240, 2 = 160 by 112, 3 = not recognised (written like 2).
using ResolutionCode = uint8_t;
inline constexpr ResolutionCode kResolutionVga = 0;
inline constexpr ResolutionCode kResolutionQvga = 1;
inline constexpr ResolutionCode kResolutionQqvga = 2;
inline constexpr ResolutionCode kResolutionUnknown = 3;

// The answer to the "Image Setting Needed" prompt.
struct ImageSettings {
    ResolutionCode resolution = kResolutionVga;
    uint32_t framesPerSecond = 0;
};

} // namespace clipwright
