#include "avi/ChunkReader.h"

#include "avi/LittleEndian.h"

#include <algorithm>

namespace clipwright {

ChunkHeader ReadChunkHeader(ByteSource& file, uint64_t position, size_t prefixWanted) {
    std::array<uint8_t, 12> bytes{};
    size_t wanted = 8 + std::min<size_t>(prefixWanted, 4);
    size_t got = file.ReadAt(position, bytes.data(), wanted);

    ChunkHeader header;
    header.position = position;
    header.headerBytes = std::min<size_t>(got, 8);
    if (header.IdWhole())
        header.id = FourCC::FromBytes(bytes.data());
    if (header.SizeWhole())
        header.size = le::ReadU32(bytes.data() + 4);
    if (got > 8) {
        header.prefixBytes = got - 8;
        std::copy_n(bytes.begin() + 8, header.prefixBytes, header.prefix.begin());
    }
    return header;
}

ChunkFit JudgeChunk(const ChunkHeader& header, uint64_t fileSize, uint32_t allowance) {
    if (header.size > kLargestChunkSize)
        return ChunkFit::Implausible;
    if (header.End() <= fileSize)
        return ChunkFit::Whole;
    return header.End() - fileSize <= allowance ? ChunkFit::CutOff : ChunkFit::Implausible;
}

} // namespace clipwright
