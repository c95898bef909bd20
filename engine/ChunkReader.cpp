#include "ChunkReader.h"

#include "LittleEndian.h"

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

std::optional<uint64_t> MediaChunkBehind(ByteSource& file, const ChunkHeader& stop, uint64_t fileSize,
                                         bool (*isMedia)(const FourCC&)) {
    // A few filler chunks in a row are plausible; a long run of them is not worth following.
    constexpr int kMostStopChunks = 16;
    ChunkHeader header = stop;
    for (int hop = 0; hop < kMostStopChunks; ++hop) {
        if (!header.SizeWhole() || JudgeChunk(header, fileSize) != ChunkFit::Whole)
            return std::nullopt;
        ChunkHeader next = ReadChunkHeader(file, header.End(), 0);
        if (!next.SizeWhole())
            return std::nullopt;
        if (isMedia(next.id))
            return next.position;
        if (!(next.id == fourcc::kIdx1 || next.id == fourcc::kJunk))
            return std::nullopt;
        header = next;
    }
    return std::nullopt;
}

ChunkFit JudgeChunk(const ChunkHeader& header, uint64_t fileSize) {
    if (header.size > kLargestChunkSize)
        return ChunkFit::Implausible;
    if (header.End() <= fileSize)
        return ChunkFit::Whole;
    return header.End() - fileSize <= kCutOffAllowance ? ChunkFit::CutOff : ChunkFit::Implausible;
}

} // namespace clipwright
