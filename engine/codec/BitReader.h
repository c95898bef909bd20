// Bits of a coded stream's headers, read most significant bit first. A read that runs past the end
// gives nothing and leaves the reader failed, so that a truncated header can never pass for one
// whose fields happen to be zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace clipwright::codec {

class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    // `count` from 0 to 32 bits as an unsigned number.
    std::optional<uint32_t> Bits(unsigned count);
    std::optional<bool> Flag();
    bool Skip(size_t count);
    // Exp-Golomb codes as H.264 writes them: ue(v) and se(v). Codes longer than 32 bits fail.
    std::optional<uint32_t> UnsignedExpGolomb();
    std::optional<int32_t> SignedExpGolomb();

    // Sticky: once a read has failed, every later read fails too.
    bool Failed() const { return failed_; }
    size_t BitsLeft() const { return failed_ ? 0 : bytes_.size() * 8 - position_; }
    size_t BitPosition() const { return position_; }

private:
    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
    bool failed_ = false;
};

} // namespace clipwright::codec
