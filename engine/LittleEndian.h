// Little-endian fields of RIFF files, read from and written to byte buffers.
#pragma once

#include <cstdint>

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

} // namespace clipwright::le
