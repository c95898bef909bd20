#include "codec/PictureTypes.h"

#include "codec/BitReader.h"
#include "codec/H264Headers.h"
#include "codec/Mpeg4Headers.h"

namespace clipwright::codec {

namespace {

constexpr uint8_t kMpeg12Picture = 0x00;
constexpr uint8_t kMpeg12LastSlice = 0xAF;
constexpr uint32_t kMpeg12IntraCoded = 1;
constexpr uint32_t kH263ExtendedType = 7; // source format: PLUSPTYPE follows
constexpr uint32_t kH263IntraCoded = 0;
constexpr uint32_t kHevcFirstIrap = 16;
constexpr uint32_t kHevcLastIrap = 23;
constexpr uint32_t kHevcFirstNonVcl = 32;

std::optional<bool> Answer(const std::optional<uint32_t>& field, uint32_t intra) {
    if (!field)
        return std::nullopt;
    return *field == intra;
}

// The picture start code: 22 bits, 0000 0000 0000 0000 1000 00, byte aligned as encoders write it.
std::optional<size_t> FindH263StartCode(std::span<const uint8_t> frame) {
    for (size_t at = 0; at + 3 <= frame.size(); ++at)
        if (frame[at] == 0 && frame[at + 1] == 0 && (frame[at + 2] & 0xFC) == 0x80)
            return at;
    return std::nullopt;
}

} // namespace

std::optional<bool> Mpeg12IntraPicture(std::span<const uint8_t> frame) {
    for (auto at = FindStartCode(frame, 0); at; at = FindStartCode(frame, *at + 4)) {
        if (*at + 3 >= frame.size())
            return std::nullopt;
        const uint8_t code = frame[*at + 3];
        if (code == kMpeg12Picture) {
            // temporal_reference (10 bits), then picture_coding_type (3).
            BitReader bits(frame.subspan(*at + 4));
            bits.Skip(10);
            return Answer(bits.Bits(3), kMpeg12IntraCoded);
        }
        // A slice before any picture header: nothing a decoder starts at.
        if (code <= kMpeg12LastSlice)
            return false;
    }
    return std::nullopt;
}

std::optional<bool> H263IntraPicture(std::span<const uint8_t> frame) {
    const std::optional<size_t> at = FindH263StartCode(frame);
    if (!at)
        return std::nullopt;
    BitReader bits(frame.subspan(*at));
    bits.Skip(22 + 8); // the start code, the temporal reference
    const std::optional<uint32_t> marker = bits.Bits(2);
    if (marker && *marker != 0b10)
        return false; // not a picture header
    bits.Skip(3);     // split screen, document camera, freeze picture release
    const std::optional<uint32_t> format = bits.Bits(3);
    if (!format)
        return std::nullopt;
    if (*format != kH263ExtendedType)
        return Answer(bits.Bits(1), kH263IntraCoded);
    const std::optional<uint32_t> updateFullExtended = bits.Bits(3);
    if (updateFullExtended == 1u)
        bits.Skip(18); // the optional part of PLUSPTYPE
    return Answer(bits.Bits(3), kH263IntraCoded);
}

std::optional<bool> MsMpeg4v1IntraPicture(std::span<const uint8_t> frame) {
    if (frame.size() < 5)
        return std::nullopt;
    if (frame[0] != 0 || frame[1] != 0 || frame[2] != 1 || frame[3] != 0)
        return false;
    return ((frame[4] >> 1) & 0x3) == 0;
}

std::optional<bool> MsMpeg4IntraPicture(std::span<const uint8_t> frame) {
    if (frame.empty())
        return std::nullopt;
    return (frame[0] >> 6) == 0;
}

std::optional<bool> Wmv2IntraPicture(std::span<const uint8_t> frame) {
    if (frame.empty())
        return std::nullopt;
    return (frame[0] >> 7) == 0;
}

std::optional<bool> Ffv1KeyFrame(std::span<const uint8_t> frame) {
    if (frame.size() < 2)
        return std::nullopt;
    // The coder starts with a range of 0xFF00 and the first two bytes as its value; at state 128
    // the bit is 1 when the value reaches the upper half of the range.
    constexpr uint32_t kHalfRange = 0xFF00 - ((0xFF00 * 128) >> 8);
    const uint32_t value = uint32_t{frame[0]} << 8 | frame[1];
    return value >= kHalfRange;
}

std::optional<bool> HevcIrapPicture(std::span<const uint8_t> frame) {
    for (auto nal = NextNalUnit(frame, 0); nal; nal = NextNalUnit(frame, nal->End())) {
        const uint32_t type = (nal->bytes[0] >> 1) & 0x3F;
        if (type < kHevcFirstNonVcl)
            return type >= kHevcFirstIrap && type <= kHevcLastIrap;
    }
    return std::nullopt;
}

std::optional<bool> Vp8KeyFrame(std::span<const uint8_t> frame) {
    if (frame.empty())
        return std::nullopt;
    return (frame[0] & 1) == 0;
}

std::optional<bool> Vp9KeyFrame(std::span<const uint8_t> frame) {
    BitReader bits(frame);
    const std::optional<uint32_t> marker = bits.Bits(2);
    if (!marker)
        return std::nullopt;
    if (*marker != 0b10)
        return false;
    const uint32_t profileLow = bits.Bits(1).value_or(0);
    const uint32_t profile = bits.Bits(1).value_or(0) << 1 | profileLow;
    if (profile == 3)
        bits.Skip(1); // reserved_zero
    const std::optional<bool> showExisting = bits.Flag();
    if (showExisting == true)
        return false;
    const std::optional<uint32_t> frameType = bits.Bits(1);
    return Answer(frameType, 0);
}

} // namespace clipwright::codec
