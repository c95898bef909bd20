// The picture size of a Motion JPEG frame: its start-of-frame segment, and the AVI1 marker that
// tells a frame stored as one field from a whole one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace clipwright::codec {

enum class JpegFields : uint8_t {
    Whole,          // no AVI1 marker, or one with polarity 0
    OddFieldFirst,  // AVI1 polarity 1: the JPEG holds one field, half the picture's lines
    EvenFieldFirst, // AVI1 polarity 2
};

struct MjpegSize {
    uint32_t width = 0;
    uint32_t height = 0;      // of the picture: twice the coded height for a field
    uint32_t codedHeight = 0; // as the start-of-frame segment gives it
    JpegFields fields = JpegFields::Whole;
};

// Reads the segments from the start-of-image marker up to SOF0, SOF1 or SOF2. Nothing for a frame
// that does not begin with a start of image, ends before the size, has another kind of frame, or
// an AVI1 marker whose polarity is missing or unknown.
std::optional<MjpegSize> ParseMjpegSize(std::span<const uint8_t> frame);

} // namespace clipwright::codec
