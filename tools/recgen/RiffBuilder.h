// Builds RIFF structures in memory: chunk sizes are filled in when a chunk ends.
#pragma once

#include "avi/FourCC.h"
#include "avi/LittleEndian.h"

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace clipwright::recgen {

class RiffBuilder {
public:
    size_t Size() const { return bytes_.size(); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

    // Writes the chunk id and a size field to be filled by EndChunk; returns the size field's offset.
    size_t BeginChunk(FourCC id) {
        PutFourCC(id);
        const size_t sizeOffset = bytes_.size();
        PutU32(0);
        return sizeOffset;
    }
    size_t BeginList(FourCC listId, FourCC listType) {
        const size_t sizeOffset = BeginChunk(listId);
        PutFourCC(listType);
        return sizeOffset;
    }
    // Pads an odd payload to even and fills in the size counted from behind the size field.
    void EndChunk(size_t sizeOffset) {
        const size_t payloadSize = bytes_.size() - sizeOffset - 4;
        if (payloadSize % 2 != 0)
            bytes_.push_back(0);
        le::WriteU32(bytes_.data() + sizeOffset, static_cast<uint32_t>(payloadSize));
    }

    void PutFourCC(FourCC code) { bytes_.insert(bytes_.end(), code.Bytes().begin(), code.Bytes().end()); }
    void PutU32(uint32_t value) {
        uint8_t field[4];
        le::WriteU32(field, value);
        bytes_.insert(bytes_.end(), field, field + 4);
    }
    void PutU16(uint16_t value) {
        uint8_t field[2];
        le::WriteU16(field, value);
        bytes_.insert(bytes_.end(), field, field + 2);
    }
    void PutI16(int16_t value) { PutU16(static_cast<uint16_t>(value)); }
    void PutZeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void PutBytes(std::span<const uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }

private:
    std::vector<uint8_t> bytes_;
};

} // namespace clipwright::recgen
