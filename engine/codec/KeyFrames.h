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
    Hevc,        // an IRAP picture: its first slice's NAL unit type is 16 to 23
    Mpeg12,      // MPEG-1 and MPEG-2 video: an I picture
    H263,        // H.263 and H.263+: an INTRA picture
    MsMpeg4v1,   // an I picture behind the v1 start code
    MsMpeg4,     // MS-MPEG-4 v2 and v3, WMV1: the first two bits say I
    Wmv2,        // the first bit says I
    Ffv1,        // the first range-coded bit says key frame
    Vp8,         // frame tag bit 0 clear
    Vp9,         // the uncompressed header's frame_type says key frame
    Intra,       // every frame stands alone: MJPEG, huffyuv, raw pictures, DV, ProRes and the like
    Unread,      // frames that do not say here which are key frames: the writer's index has to
};

// From the format's compression code, or the stream header's handler when that says nothing.
VideoCoding VideoCodingOf(const FourCC& compression, const FourCC& handler);

// The first bytes of a frame that IsKeyFrame needs: headers before the first slice or VOP are
// small, apart from an encoder's text in the first frame.
inline constexpr size_t kKeyFrameProbeBytes = 4096;

// `frameStart` is the start of the frame, at most kKeyFrameProbeBytes of it. Not to be asked of
// Unread frames, for which it says no.
bool IsKeyFrame(VideoCoding coding, std::span<const uint8_t> frameStart);

// IsKeyFrame's answer from fewer of the frame's first bytes, when they settle it (a picture header
// that lies inside them; every frame of an all-intra coding); nothing when more are needed. A walk
// then reads a few hundred bytes of most frames rather than four kilobytes.
std::optional<bool> KeyFrameSettledBy(VideoCoding coding, std::span<const uint8_t> frameStart);

} // namespace clipwright::codec
