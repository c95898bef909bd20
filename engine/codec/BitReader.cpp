#include "BitReader.h"

namespace clipwright::codec {

std::optional<uint32_t> BitReader::Bits(unsigned count) {
    if (count > 32 || count > BitsLeft()) {
        failed_ = true;
        return std::nullopt;
    }
    uint64_t value = 0;
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t byte = bytes_[position_ / 8];
        const unsigned bit = (byte >> (7 - position_ % 8)) & 1u;
        value = (value << 1) | bit;
        ++position_;
    }
    return static_cast<uint32_t>(value);
}

std::optional<bool> BitReader::Flag() {
    std::optional<uint32_t> bit = Bits(1);
    if (!bit)
        return std::nullopt;
    return *bit == 1;
}

bool BitReader::Skip(size_t count) {
    if (count > BitsLeft()) {
        failed_ = true;
        return false;
    }
    position_ += count;
    return true;
}

std::optional<uint32_t> BitReader::UnsignedExpGolomb() {
    unsigned leadingZeros = 0;
    for (;;) {
        std::optional<bool> bit = Flag();
        if (!bit)
            return std::nullopt;
        if (*bit)
            break;
        // 2^32 - 1 is the largest value a 32-bit field may hold: 31 zeros at most.
        if (++leadingZeros > 31) {
            failed_ = true;
            return std::nullopt;
        }
    }
    std::optional<uint32_t> suffix = Bits(leadingZeros);
    if (!suffix)
        return std::nullopt;
    return static_cast<uint32_t>((uint64_t{1} << leadingZeros) - 1 + *suffix);
}

std::optional<int32_t> BitReader::SignedExpGolomb() {
    std::optional<uint32_t> code = UnsignedExpGolomb();
    if (!code)
        return std::nullopt;
    // 1, 2, 3, 4... stand for 1, -1, 2, -2...
    const int64_t magnitude = (int64_t{*code} + 1) / 2;
    return static_cast<int32_t>(*code % 2 == 1 ? magnitude : -magnitude);
}

} // namespace clipwright::codec
