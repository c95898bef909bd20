// Little-endian fields of RIFF files, read from and written to byte buffers.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace clipwright::le {

inline uint16_t ReadU16(const uint8_t* data) {
    return static_cast<uint16_t>(data[0] | (data[1] << 8));
}

inline uint32_t ReadU32(const uint8_t* data) {
    return static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
           (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

inline void WriteU16(uint8_t* data, uint16_t value) {
    data[0] = static_cast<uint8_t>(value);
    data[1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteU32(uint8_t* data, uint32_t value) {
    data[0] = static_cast<uint8_t>(value);
    data[1] = static_cast<uint8_t>(value >> 8);
    data[2] = static_cast<uint8_t>(value >> 16);
    data[3] = static_cast<uint8_t>(value >> 24);
}

inline void WriteI32(uint8_t* data, int32_t value) {
    WriteU32(data, static_cast<uint32_t>(value));
}
inline void WriteI16(uint8_t* data, int16_t value) {
    WriteU16(data, static_cast<uint16_t>(value));
}

// A field that the bytes at hand do not hold whole: reading it is an error, never a zero.
class ShortRead : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// The `width` bytes at `offset`, or ShortRead.
inline const uint8_t* FieldAt(std::span<const uint8_t> bytes, size_t offset, size_t width) {
    if (offset > bytes.size() || bytes.size() - offset < width)
        throw ShortRead(std::to_string(width) + "-byte field at " + std::to_string(offset) + " of " +
                        std::to_string(bytes.size()) + " bytes");
    return bytes.data() + offset;
}

inline uint16_t ReadU16(std::span<const uint8_t> bytes, size_t offset) {
    return ReadU16(FieldAt(bytes, offset, 2));
}
inline uint32_t ReadU32(std::span<const uint8_t> bytes, size_t offset) {
    return ReadU32(FieldAt(bytes, offset, 4));
}
inline int16_t ReadI16(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<int16_t>(ReadU16(bytes, offset));
}
inline int32_t ReadI32(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<int32_t>(ReadU32(bytes, offset));
}

} // namespace clipwright::le
