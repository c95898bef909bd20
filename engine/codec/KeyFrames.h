// Which frames a decoder can start at, read from the frame's own bitstream rather than from any
// index a recorder may or may not have written.
#pragma once

#include "avi/FourCC.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace clipwright::codec {

enum class VideoCoding {
    Mpeg4Visual, // MPEG-4 Part 2: a frame whose first VOP is intra coded
    H264,        // an IDR slice or a recovery point
    AllKey,      // MJPEG and whatever else: every frame stands alone, as far as we can tell
};

// From the format's compression code, or the stream header's handler when that says nothing.
VideoCoding VideoCodingOf(const FourCC& compression, const FourCC& handler);

// The first bytes of a frame that IsKeyFrame needs: headers before the first slice or VOP are
// small, apart from an encoder's text in the first frame.
inline constexpr size_t kKeyFrameProbeBytes = 4096;

// `frameStart` is the start of the frame, at most kKeyFrameProbeBytes of it.
bool IsKeyFrame(VideoCoding coding, std::span<const uint8_t> frameStart);

// IsKeyFrame's answer from fewer of the frame's first bytes, when they settle it (a VOP whose header
// lies inside them; every frame of an all-key coding); nothing when more are needed. A walk then
// reads a few hundred bytes of most frames rather than four kilobytes.
std::optional<bool> KeyFrameSettledBy(VideoCoding coding, std::span<const uint8_t> frameStart);

} // namespace clipwright::codec
