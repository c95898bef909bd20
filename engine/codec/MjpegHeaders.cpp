#include "MjpegHeaders.h"

#include <algorithm>
#include <array>

namespace clipwright::codec {

namespace {

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kApp0 = 0xE0;
constexpr uint8_t kTemporary = 0x01;
constexpr uint8_t kRestartFirst = 0xD0;
constexpr uint8_t kRestartLast = 0xD7;
constexpr std::array<uint8_t, 4> kAvi1 = {'A', 'V', 'I', '1'};

bool IsBaselineOrProgressiveFrame(uint8_t marker) {
    return marker == 0xC0 || marker == 0xC1 || marker == 0xC2; // SOF0, SOF1, SOF2
}

// The other start-of-frame markers: lossless, hierarchical and arithmetic-coded frames.
bool IsOtherFrame(uint8_t marker) {
    return marker >= 0xC3 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

uint16_t ReadBigEndian16(const uint8_t* data) {
    return static_cast<uint16_t>((data[0] << 8) | data[1]);
}

} // namespace

std::optional<MjpegSize> ParseMjpegSize(std::span<const uint8_t> frame) {
    if (frame.size() < 2 || frame[0] != kMarkerPrefix || frame[1] != kStartOfImage)
        return std::nullopt;
    JpegFields fields = JpegFields::Whole;
    size_t position = 2;
    for (;;) {
        if (position >= frame.size() || frame[position] != kMarkerPrefix)
            return std::nullopt;
        // Any number of 0xFF bytes may stand before a marker.
        while (position < frame.size() && frame[position] == kMarkerPrefix)
            ++position;
        if (position >= frame.size())
            return std::nullopt;
        const uint8_t marker = frame[position++];
        if (marker == kTemporary || (marker >= kRestartFirst && marker <= kRestartLast))
            continue; // markers without a segment
        if (marker == kEndOfImage || marker == kStartOfScan || marker == 0 || IsOtherFrame(marker))
            return std::nullopt; // no size before the picture data, or not one we read
        if (position + 2 > frame.size())
            return std::nullopt;
        const uint16_t length = ReadBigEndian16(frame.data() + position); // counts itself
        if (length < 2 || position + length > frame.size())
            return std::nullopt;
        const std::span<const uint8_t> segment = frame.subspan(position + 2, length - 2u);
        position += length;

        if (marker == kApp0 && segment.size() >= kAvi1.size() &&
            std::equal(kAvi1.begin(), kAvi1.end(), segment.begin())) {
            if (segment.size() < kAvi1.size() + 1)
                return std::nullopt;
            switch (segment[kAvi1.size()]) { // polarity
            case 0:
                fields = JpegFields::Whole;
                break;
            case 1:
                fields = JpegFields::OddFieldFirst;
                break;
            case 2:
                fields = JpegFields::EvenFieldFirst;
                break;
            default:
                return std::nullopt;
            }
        }
        if (IsBaselineOrProgressiveFrame(marker)) {
            // sample precision (8 bits), number of lines (16), samples per line (16), components
            if (segment.size() < 6)
                return std::nullopt;
            MjpegSize size;
            size.codedHeight = ReadBigEndian16(segment.data() + 1);
            size.width = ReadBigEndian16(segment.data() + 3);
            size.fields = fields;
            // A height of 0 is given later by a DNL segment, after the picture data.
            if (size.width == 0 || size.codedHeight == 0)
                return std::nullopt;
            size.height = fields == JpegFields::Whole ? size.codedHeight : 2 * size.codedHeight;
            return size;
        }
    }
}

} // namespace clipwright::codec
