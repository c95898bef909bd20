// Capture settings that a rebuilt file is written with, as the old header gives them or as the user
// answers the "Image Setting Needed" prompt.
#pragma once

#include <cstdint>
#include <optional>

namespace clipwright {

// 0 = 640 by 480, 1 = 320 by 240, 2 = 160 by 112, 3 = not recognised (written like 2).
using ResolutionCode = uint8_t;
inline constexpr ResolutionCode kResolutionVga = 0;
inline constexpr ResolutionCode kResolutionQvga = 1;
inline constexpr ResolutionCode kResolutionQqvga = 2;
inline constexpr ResolutionCode kResolutionUnknown = 3;

// The camera's frame size as its code: 640x480, 320x240, 160x112; any other size, or none, unknown.
inline ResolutionCode ResolutionFromSize(std::optional<uint32_t> width, std::optional<uint32_t> height) {
    if (width == 640u && height == 480u)
        return kResolutionVga;
    if (width == 320u && height == 240u)
        return kResolutionQvga;
    if (width == 160u && height == 112u)
        return kResolutionQqvga;
    return kResolutionUnknown;
}

// The answer to the "Image Setting Needed" prompt.
struct ImageSettings {
    ResolutionCode resolution = kResolutionVga;
    uint32_t framesPerSecond = 0;
};

} // namespace clipwright
