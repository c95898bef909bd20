// H.264 headers in an Annex B byte stream (NAL units behind 00 00 01 or 00 00 00 01): the
// sequence parameter set with the picture size and the timing of its VUI, and the NAL units a
// decoder can start at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace clipwright::codec {

inline constexpr uint8_t kH264NonIdrSlice = 1;
inline constexpr uint8_t kH264IdrSlice = 5;
inline constexpr uint8_t kH264Sei = 6;
inline constexpr uint8_t kH264Sps = 7;
inline constexpr uint8_t kH264Pps = 8;
inline constexpr uint32_t kH264SeiRecoveryPoint = 6; // SEI payload type

inline uint8_t NalUnitType(uint8_t headerByte) {
    return headerByte & 0x1F;
}
inline bool IsIdrSlice(uint8_t nalUnitType) {
    return nalUnitType == kH264IdrSlice;
}

// A NAL unit, its header byte first, up to the next start code (zeros before it not counted).
struct NalUnit {
    size_t position = 0; // of its header byte
    std::span<const uint8_t> bytes;
    uint8_t Type() const { return NalUnitType(bytes[0]); }
    size_t End() const { return position + bytes.size(); }
};
std::optional<NalUnit> NextNalUnit(std::span<const uint8_t> stream, size_t from);

// The payload without the emulation prevention bytes: each 03 that follows 00 00.
std::vector<uint8_t> RemoveEmulationPrevention(std::span<const uint8_t> bytes);

struct H264Sps {
    uint8_t profile = 0;
    uint8_t level = 0;
    uint32_t id = 0;
    uint32_t chromaFormat = 1; // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4
    bool frameMbsOnly = true;  // false: pictures may be coded as fields
    uint32_t width = 0;        // after cropping
    uint32_t height = 0;
    // From the VUI, when it gives timing.
    std::optional<uint32_t> numUnitsInTick;
    std::optional<uint32_t> timeScale;
    bool fixedFrameRate = false;

    // time_scale / (2 * num_units_in_tick): a frame is two field ticks.
    std::optional<double> FrameRate() const;
};

// `rbsp` is the SPS NAL unit without its header byte and without emulation prevention bytes.
std::optional<H264Sps> ParseH264Sps(std::span<const uint8_t> rbsp);
// The first SPS of an Annex B stream that parses.
std::optional<H264Sps> FindH264Sps(std::span<const uint8_t> stream);

// recovery_frame_cnt of the recovery point message in an SEI NAL unit's RBSP, when it has one.
std::optional<uint32_t> SeiRecoveryFrameCount(std::span<const uint8_t> rbsp);

// True when a decoder can start at this access unit: it holds an IDR slice or a recovery point.
bool StartsRandomAccess(std::span<const uint8_t> accessUnit);

} // namespace clipwright::codec
