// Whether a frame is a key frame, from the picture header each of these codecs begins a frame
// with. Each reader answers from the bytes it is given only when they settle it, and nothing when
// more of the frame is needed (or, given the whole probe, when the frame does not read as one of its
// codec's), so that fewer bytes never give another answer than more.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace clipwright::codec {

// The picture_coding_type behind the first picture start code, past sequence and GOP headers.
std::optional<bool> Mpeg12IntraPicture(std::span<const uint8_t> frame);
// The picture coding type of the first picture header, plain or with PLUSPTYPE.
std::optional<bool> H263IntraPicture(std::span<const uint8_t> frame);
// MS-MPEG-4 v1: a 00 00 01 00 start code, five bits of frame number, two of picture type.
std::optional<bool> MsMpeg4v1IntraPicture(std::span<const uint8_t> frame);
// MS-MPEG-4 v2 and v3, WMV1: the frame's first two bits are the picture type less one.
std::optional<bool> MsMpeg4IntraPicture(std::span<const uint8_t> frame);
// WMV2: the first bit.
std::optional<bool> Wmv2IntraPicture(std::span<const uint8_t> frame);
// FFV1: the first bit of its range coder, at state one half.
std::optional<bool> Ffv1KeyFrame(std::span<const uint8_t> frame);
// HEVC in Annex B: the type of the first slice's NAL unit.
std::optional<bool> HevcIrapPicture(std::span<const uint8_t> frame);
// VP8: bit 0 of the frame tag.
std::optional<bool> Vp8KeyFrame(std::span<const uint8_t> frame);
// VP9: the uncompressed header's frame_type, of a frame that is not a shown earlier one.
std::optional<bool> Vp9KeyFrame(std::span<const uint8_t> frame);

} // namespace clipwright::codec
