#include "Mpeg4Headers.h"

#include "BitReader.h"

namespace clipwright::codec {

namespace {

constexpr uint32_t kExtendedPar = 0xF;
// first_half_bit_rate, marker, latter_half_bit_rate, marker, first_half_vbv_buffer_size, marker,
// latter_half_vbv_buffer_size, first_half_vbv_occupancy, marker, latter_half_vbv_occupancy, marker
constexpr size_t kVbvParameterBits = 15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1;

// Marker bits are always 1; a 0 where one stands means the bits are not what they are taken for.
bool Marker(BitReader& reader) {
    return reader.Flag() == true;
}

// vop_time_increment is as wide as the resolution less one needs, and at least one bit.
unsigned TimeIncrementBits(uint32_t resolution) {
    unsigned bits = 1;
    while (bits < 16 && (uint32_t{1} << bits) < resolution)
        ++bits;
    return bits;
}

} // namespace

std::optional<size_t> FindStartCode(std::span<const uint8_t> bytes, size_t from) {
    for (size_t i = from; i + 3 <= bytes.size(); ++i) {
        if (bytes[i + 2] > 1) {
            i += 2; // neither of the next two positions can begin 00 00 01
            continue;
        }
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1)
            return i;
    }
    return std::nullopt;
}

std::optional<StartCodeUnit> NextStartCodeUnit(std::span<const uint8_t> bytes, size_t from) {
    const std::optional<size_t> at = FindStartCode(bytes, from);
    if (!at || *at + 4 > bytes.size())
        return std::nullopt;
    const size_t bodyStart = *at + 4;
    const size_t bodyEnd = FindStartCode(bytes, bodyStart).value_or(bytes.size());
    return StartCodeUnit{*at, bytes[*at + 3], bytes.subspan(bodyStart, bodyEnd - bodyStart)};
}

std::optional<double> Mpeg4Vol::FixedRate() const {
    if (!fixedTimeIncrement || *fixedTimeIncrement == 0 || timeIncrementResolution == 0)
        return std::nullopt;
    return static_cast<double>(timeIncrementResolution) / static_cast<double>(*fixedTimeIncrement);
}

std::optional<Mpeg4Vol> ParseMpeg4Vol(std::span<const uint8_t> body) {
    BitReader reader(body);
    Mpeg4Vol vol;
    reader.Skip(1);              // random_accessible_vol
    reader.Skip(8);              // video_object_type_indication
    if (reader.Flag() == true) { // is_object_layer_identifier
        std::optional<uint32_t> versionId = reader.Bits(4);
        reader.Skip(3); // video_object_layer_priority
        if (!versionId)
            return std::nullopt;
        vol.versionId = static_cast<uint8_t>(*versionId);
    }
    if (reader.Bits(4) == kExtendedPar) // aspect_ratio_info
        reader.Skip(16);                // par_width, par_height
    if (reader.Flag() == true) {        // vol_control_parameters
        reader.Skip(3);                 // chroma_format, low_delay
        if (reader.Flag() == true)      // vbv_parameters
            reader.Skip(kVbvParameterBits);
    }
    std::optional<uint32_t> shape = reader.Bits(2);
    if (!shape)
        return std::nullopt;
    vol.shape = static_cast<Mpeg4Shape>(*shape);
    if (vol.shape == Mpeg4Shape::Grayscale && vol.versionId != 1)
        reader.Skip(4); // video_object_layer_shape_extension
    if (!Marker(reader))
        return std::nullopt;
    std::optional<uint32_t> resolution = reader.Bits(16);
    if (!resolution || *resolution == 0 || !Marker(reader))
        return std::nullopt;
    vol.timeIncrementResolution = *resolution;
    vol.timeIncrementBits = TimeIncrementBits(*resolution);
    std::optional<bool> fixedRate = reader.Flag();
    if (!fixedRate)
        return std::nullopt;
    if (*fixedRate) {
        std::optional<uint32_t> increment = reader.Bits(vol.timeIncrementBits);
        if (!increment)
            return std::nullopt;
        // An increment of 0 declares no rate at all.
        if (*increment != 0)
            vol.fixedTimeIncrement = *increment;
    }
    if (vol.shape == Mpeg4Shape::Rectangular) {
        bool markers = Marker(reader);
        std::optional<uint32_t> width = reader.Bits(13);
        markers = Marker(reader) && markers;
        std::optional<uint32_t> height = reader.Bits(13);
        markers = Marker(reader) && markers;
        if (!width || !height || !markers || *width == 0 || *height == 0)
            return std::nullopt;
        vol.width = *width;
        vol.height = *height;
    }
    if (reader.Failed())
        return std::nullopt;
    return vol;
}

std::optional<Mpeg4Gov> ParseMpeg4Gov(std::span<const uint8_t> body) {
    BitReader reader(body);
    std::optional<uint32_t> hours = reader.Bits(5);
    std::optional<uint32_t> minutes = reader.Bits(6);
    const bool marker = Marker(reader);
    std::optional<uint32_t> seconds = reader.Bits(6);
    std::optional<bool> closed = reader.Flag();
    std::optional<bool> brokenLink = reader.Flag();
    if (reader.Failed() || !marker || *hours > 23 || *minutes > 59 || *seconds > 59)
        return std::nullopt;
    Mpeg4Gov gov;
    gov.timeCodeSeconds = (*hours * 60 + *minutes) * 60 + *seconds;
    gov.closed = *closed;
    gov.brokenLink = *brokenLink;
    return gov;
}

std::optional<Mpeg4Vop> ParseMpeg4Vop(std::span<const uint8_t> body, const Mpeg4Vol& vol) {
    BitReader reader(body);
    std::optional<uint32_t> codingType = reader.Bits(2);
    if (!codingType)
        return std::nullopt;
    Mpeg4Vop vop;
    vop.codingType = static_cast<VopCodingType>(*codingType);
    for (;;) {
        std::optional<bool> second = reader.Flag(); // modulo_time_base: a 1 for each whole second
        if (!second)
            return std::nullopt;
        if (!*second)
            break;
        ++vop.moduloTimeBase;
    }
    if (!Marker(reader))
        return std::nullopt;
    std::optional<uint32_t> increment = reader.Bits(vol.timeIncrementBits);
    if (!increment || *increment >= vol.timeIncrementResolution || !Marker(reader))
        return std::nullopt;
    vop.timeIncrement = *increment;
    return vop;
}

std::optional<Mpeg4Vol> FindMpeg4Vol(std::span<const uint8_t> bytes) {
    for (auto unit = NextStartCodeUnit(bytes, 0); unit; unit = NextStartCodeUnit(bytes, unit->End())) {
        if (IsMpeg4Vol(unit->code))
            if (std::optional<Mpeg4Vol> vol = ParseMpeg4Vol(unit->body))
                return vol;
    }
    return std::nullopt;
}

} // namespace clipwright::codec
