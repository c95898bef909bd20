// Headers of an MPEG-4 Visual stream: the video object layer (VOL) with the picture size and
// the clock the frames are timed by, the group of VOPs (GOV), and each frame's VOP header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace clipwright::codec {

// Start codes are 00 00 01 followed by this byte.
inline constexpr uint8_t kMpeg4VolFirst = 0x20;
inline constexpr uint8_t kMpeg4VolLast = 0x2F;
inline constexpr uint8_t kMpeg4Gov = 0xB3;
inline constexpr uint8_t kMpeg4Vop = 0xB6;

inline bool IsMpeg4Vol(uint8_t code) {
    return code >= kMpeg4VolFirst && code <= kMpeg4VolLast;
}

// The position of the next 00 00 01 at or after `from`.
std::optional<size_t> FindStartCode(std::span<const uint8_t> bytes, size_t from);

// A header behind a start code: the code's fourth byte, and the bytes up to the next start code or
// the end. Units follow each other from body's end on.
struct StartCodeUnit {
    size_t position = 0;
    uint8_t code = 0;
    std::span<const uint8_t> body;
    size_t End() const { return position + 4 + body.size(); }
};
std::optional<StartCodeUnit> NextStartCodeUnit(std::span<const uint8_t> bytes, size_t from);

enum class Mpeg4Shape : uint8_t { Rectangular = 0, Binary = 1, BinaryOnly = 2, Grayscale = 3 };

struct Mpeg4Vol {
    uint8_t versionId = 1; // video_object_layer_verid, 1 when the layer names none
    Mpeg4Shape shape = Mpeg4Shape::Rectangular;
    uint32_t timeIncrementResolution = 0;       // ticks per second, 1 to 65535
    std::optional<uint32_t> fixedTimeIncrement; // ticks per frame, when fixed_vop_rate is set
    unsigned timeIncrementBits = 0;             // width of vop_time_increment
    std::optional<uint32_t> width, height;      // rectangular shape only

    // Frames per second the layer declares, when its VOP rate is fixed.
    std::optional<double> FixedRate() const;
};

enum class VopCodingType : uint8_t { Intra = 0, Predicted = 1, Bidirectional = 2, Sprite = 3 };

struct Mpeg4Vop {
    VopCodingType codingType = VopCodingType::Intra;
    uint32_t moduloTimeBase = 0; // whole seconds since the previous time base
    uint32_t timeIncrement = 0;  // ticks into that second
};

struct Mpeg4Gov {
    uint32_t timeCodeSeconds = 0; // hours, minutes and seconds of the time code, in seconds
    bool closed = false;
    bool brokenLink = false;
};

// Each parser takes the bytes behind the four-byte start code.
std::optional<Mpeg4Vol> ParseMpeg4Vol(std::span<const uint8_t> body);
std::optional<Mpeg4Gov> ParseMpeg4Gov(std::span<const uint8_t> body);
std::optional<Mpeg4Vop> ParseMpeg4Vop(std::span<const uint8_t> body, const Mpeg4Vol& vol);

// The first VOL in a stream or frame that parses.
std::optional<Mpeg4Vol> FindMpeg4Vol(std::span<const uint8_t> bytes);

} // namespace clipwright::codec
