#include "H264Headers.h"

#include "BitReader.h"
#include "Mpeg4Headers.h"

#include <algorithm>

namespace clipwright::codec {

namespace {

// Profiles whose SPS carries chroma format, bit depths and scaling matrices.
bool HasChromaInfo(uint32_t profile) {
    constexpr uint32_t kProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    return std::find(std::begin(kProfiles), std::end(kProfiles), profile) != std::end(kProfiles);
}

// Values the standard bounds; anything above is damage, and would cost loops or overflow.
constexpr uint32_t kMaxChromaFormat = 3;
constexpr uint32_t kMaxBitDepthMinus8 = 6;
constexpr uint32_t kMaxPocCycle = 255;
constexpr uint32_t kMaxLog2Minus4 = 12;
constexpr uint32_t kMaxPicOrderCountType = 2;
constexpr uint32_t kMaxMacroblocksAcross = 1u << 12; // 65536 samples
constexpr uint32_t kExtendedSar = 255;

bool SkipScalingList(BitReader& reader, int size) {
    int32_t last = 8;
    int32_t next = 8;
    for (int i = 0; i < size; ++i) {
        if (next != 0) {
            std::optional<int32_t> delta = reader.SignedExpGolomb();
            if (!delta || *delta < -128 || *delta > 127)
                return false;
            next = (last + *delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

// Reads the VUI up to its timing information.
bool ReadVuiTiming(BitReader& reader, H264Sps& sps) {
    if (reader.Flag() == true) { // aspect_ratio_info_present_flag
        if (reader.Bits(8) == kExtendedSar)
            reader.Skip(32); // sar_width, sar_height
    }
    if (reader.Flag() == true)   // overscan_info_present_flag
        reader.Skip(1);          // overscan_appropriate_flag
    if (reader.Flag() == true) { // video_signal_type_present_flag
        reader.Skip(4);          // video_format, video_full_range_flag
        if (reader.Flag() == true)
            reader.Skip(24); // colour_primaries, transfer_characteristics, matrix_coefficients
    }
    if (reader.Flag() == true) { // chroma_loc_info_present_flag
        reader.UnsignedExpGolomb();
        reader.UnsignedExpGolomb();
    }
    std::optional<bool> timing = reader.Flag();
    if (!timing)
        return false;
    if (*timing) {
        std::optional<uint32_t> units = reader.Bits(32);
        std::optional<uint32_t> scale = reader.Bits(32);
        std::optional<bool> fixed = reader.Flag();
        if (!fixed)
            return false;
        sps.numUnitsInTick = units;
        sps.timeScale = scale;
        sps.fixedFrameRate = *fixed;
    }
    return !reader.Failed();
}

} // namespace

std::optional<NalUnit> NextNalUnit(std::span<const uint8_t> stream, size_t from) {
    for (std::optional<size_t> at = FindStartCode(stream, from); at; at = FindStartCode(stream, *at + 3)) {
        const size_t start = *at + 3;
        std::optional<size_t> next = FindStartCode(stream, start);
        size_t end = next.value_or(stream.size());
        // The zero that makes a four-byte start code belongs to the next one, not to this unit.
        while (next && end > start && stream[end - 1] == 0)
            --end;
        if (end > start)
            return NalUnit{start, stream.subspan(start, end - start)};
    }
    return std::nullopt;
}

std::vector<uint8_t> RemoveEmulationPrevention(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size());
    size_t zeros = 0;
    for (uint8_t byte : bytes) {
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.push_back(byte);
    }
    return out;
}

std::optional<double> H264Sps::FrameRate() const {
    if (!numUnitsInTick || !timeScale || *numUnitsInTick == 0 || *timeScale == 0)
        return std::nullopt;
    return static_cast<double>(*timeScale) / (2.0 * static_cast<double>(*numUnitsInTick));
}

std::optional<H264Sps> ParseH264Sps(std::span<const uint8_t> rbsp) {
    BitReader reader(rbsp);
    H264Sps sps;
    std::optional<uint32_t> profile = reader.Bits(8);
    reader.Skip(8); // constraint_set flags, reserved_zero_2bits
    std::optional<uint32_t> level = reader.Bits(8);
    std::optional<uint32_t> id = reader.UnsignedExpGolomb();
    if (reader.Failed() || *id > 31)
        return std::nullopt;
    sps.profile = static_cast<uint8_t>(*profile);
    sps.level = static_cast<uint8_t>(*level);
    sps.id = *id;

    bool separateColourPlanes = false;
    if (HasChromaInfo(*profile)) {
        std::optional<uint32_t> chroma = reader.UnsignedExpGolomb();
        if (!chroma || *chroma > kMaxChromaFormat)
            return std::nullopt;
        sps.chromaFormat = *chroma;
        if (*chroma == 3)
            separateColourPlanes = reader.Flag() == true;
        std::optional<uint32_t> lumaDepth = reader.UnsignedExpGolomb();
        std::optional<uint32_t> chromaDepth = reader.UnsignedExpGolomb();
        if (!lumaDepth || !chromaDepth || *lumaDepth > kMaxBitDepthMinus8 ||
            *chromaDepth > kMaxBitDepthMinus8)
            return std::nullopt;
        reader.Skip(1);              // qpprime_y_zero_transform_bypass_flag
        if (reader.Flag() == true) { // seq_scaling_matrix_present_flag
            const int lists = *chroma != 3 ? 8 : 12;
            for (int i = 0; i < lists; ++i) {
                if (reader.Flag() == true && !SkipScalingList(reader, i < 6 ? 16 : 64))
                    return std::nullopt;
            }
        }
    }
    std::optional<uint32_t> log2MaxFrameNum = reader.UnsignedExpGolomb();
    std::optional<uint32_t> pocType = reader.UnsignedExpGolomb();
    if (reader.Failed() || *log2MaxFrameNum > kMaxLog2Minus4 || *pocType > kMaxPicOrderCountType)
        return std::nullopt;
    if (*pocType == 0) {
        std::optional<uint32_t> log2MaxPocLsb = reader.UnsignedExpGolomb();
        if (!log2MaxPocLsb || *log2MaxPocLsb > kMaxLog2Minus4)
            return std::nullopt;
    } else if (*pocType == 1) {
        reader.Skip(1); // delta_pic_order_always_zero_flag
        reader.SignedExpGolomb();
        reader.SignedExpGolomb();
        std::optional<uint32_t> cycle = reader.UnsignedExpGolomb();
        if (!cycle || *cycle > kMaxPocCycle)
            return std::nullopt;
        for (uint32_t i = 0; i < *cycle; ++i)
            reader.SignedExpGolomb();
    }
    reader.UnsignedExpGolomb(); // max_num_ref_frames
    reader.Skip(1);             // gaps_in_frame_num_value_allowed_flag
    std::optional<uint32_t> widthMbsMinus1 = reader.UnsignedExpGolomb();
    std::optional<uint32_t> heightMapUnitsMinus1 = reader.UnsignedExpGolomb();
    std::optional<bool> frameMbsOnly = reader.Flag();
    if (reader.Failed() || *widthMbsMinus1 >= kMaxMacroblocksAcross ||
        *heightMapUnitsMinus1 >= kMaxMacroblocksAcross)
        return std::nullopt;
    sps.frameMbsOnly = *frameMbsOnly;
    if (!sps.frameMbsOnly)
        reader.Skip(1); // mb_adaptive_frame_field_flag
    reader.Skip(1);     // direct_8x8_inference_flag

    const uint32_t frameHeightFactor = sps.frameMbsOnly ? 1 : 2;
    const uint32_t codedWidth = (*widthMbsMinus1 + 1) * 16;
    const uint32_t codedHeight = (*heightMapUnitsMinus1 + 1) * 16 * frameHeightFactor;
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    if (reader.Flag() == true) { // frame_cropping_flag
        std::optional<uint32_t> left = reader.UnsignedExpGolomb();
        std::optional<uint32_t> right = reader.UnsignedExpGolomb();
        std::optional<uint32_t> top = reader.UnsignedExpGolomb();
        std::optional<uint32_t> bottom = reader.UnsignedExpGolomb();
        if (reader.Failed())
            return std::nullopt;
        cropLeft = *left;
        cropRight = *right;
        cropTop = *top;
        cropBottom = *bottom;
    }
    // Crop offsets count in chroma samples, and in field lines for field-coded pictures.
    const uint32_t chromaArrayType = separateColourPlanes ? 0 : sps.chromaFormat;
    const uint32_t cropUnitX = (chromaArrayType == 1 || chromaArrayType == 2) ? 2 : 1;
    const uint32_t cropUnitY = (chromaArrayType == 1 ? 2 : 1) * frameHeightFactor;
    const uint64_t cropX = (uint64_t{cropLeft} + cropRight) * cropUnitX;
    const uint64_t cropY = (uint64_t{cropTop} + cropBottom) * cropUnitY;
    if (cropX >= codedWidth || cropY >= codedHeight)
        return std::nullopt;
    sps.width = codedWidth - static_cast<uint32_t>(cropX);
    sps.height = codedHeight - static_cast<uint32_t>(cropY);

    std::optional<bool> vui = reader.Flag();
    if (!vui || (*vui && !ReadVuiTiming(reader, sps)))
        return std::nullopt;
    return sps;
}

std::optional<H264Sps> FindH264Sps(std::span<const uint8_t> stream) {
    for (auto nal = NextNalUnit(stream, 0); nal; nal = NextNalUnit(stream, nal->End())) {
        if (nal->Type() != kH264Sps || (nal->bytes[0] & 0x80) != 0) // forbidden_zero_bit
            continue;
        const std::vector<uint8_t> rbsp = RemoveEmulationPrevention(nal->bytes.subspan(1));
        if (std::optional<H264Sps> sps = ParseH264Sps(rbsp))
            return sps;
    }
    return std::nullopt;
}

std::optional<uint32_t> SeiRecoveryFrameCount(std::span<const uint8_t> rbsp) {
    size_t position = 0;
    // Type and size are each a run of 0xFF bytes, 255 apiece, and one last byte.
    auto readVariable = [&]() -> std::optional<uint32_t> {
        uint32_t value = 0;
        while (position < rbsp.size() && rbsp[position] == 0xFF) {
            value += 255;
            ++position;
            if (value > (1u << 24))
                return std::nullopt;
        }
        if (position >= rbsp.size())
            return std::nullopt;
        return value + rbsp[position++];
    };
    // The RBSP ends with its stop bit, 0x80, after the last message.
    while (position < rbsp.size() && !(position + 1 == rbsp.size() && rbsp[position] == 0x80)) {
        std::optional<uint32_t> type = readVariable();
        std::optional<uint32_t> size = readVariable();
        if (!type || !size || *size > rbsp.size() - position)
            return std::nullopt;
        const std::span<const uint8_t> payload = rbsp.subspan(position, *size);
        if (*type == kH264SeiRecoveryPoint) {
            BitReader reader(payload);
            return reader.UnsignedExpGolomb();
        }
        position += *size;
    }
    return std::nullopt;
}

bool StartsRandomAccess(std::span<const uint8_t> accessUnit) {
    for (auto nal = NextNalUnit(accessUnit, 0); nal; nal = NextNalUnit(accessUnit, nal->End())) {
        if (IsIdrSlice(nal->Type()))
            return true;
        if (nal->Type() == kH264Sei &&
            SeiRecoveryFrameCount(RemoveEmulationPrevention(nal->bytes.subspan(1))))
            return true;
    }
    return false;
}

} // namespace clipwright::codec
