// The one place that reads a chunk header and judges how the chunk lies in the file. The in-place
// scan and the rebuild's copy loop both move from chunk to chunk through it.
#pragma once

#include "avi/FourCC.h"
#include "platform/SourceFile.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace clipwright {

// A cut-off recording misses part of its last frame only, and the camera's frames are far below
// 1 MiB; a chunk that claims to run further past the end of the file than this is damage.
inline constexpr uint32_t kCutOffAllowance = 1u << 20;
// Other recorders write frames of any size: a raw or MJPEG frame of a large picture runs to megabytes.
inline constexpr uint32_t kLargeFrameCutOffAllowance = 64u << 20;
// Sizes are moved over with signed 32-bit distances, so a size from 2^31 up cannot be real.
inline constexpr uint32_t kLargestChunkSize = 0x7FFFFFFFu;

struct ChunkHeader {
    uint64_t position = 0;
    FourCC id;
    uint32_t size = 0;
    size_t headerBytes = 0;          // 0 to 8: how much of the header the file still holds
    std::array<uint8_t, 4> prefix{}; // first payload bytes, when asked for
    size_t prefixBytes = 0;

    bool IdWhole() const { return headerBytes >= 4; }
    bool SizeWhole() const { return headerBytes >= 8; }
    uint64_t PayloadStart() const { return position + 8; }
    uint64_t End() const { return position + 8 + size; }
};

enum class ChunkFit {
    Whole,       // the payload lies inside the file
    CutOff,      // the file ends inside the payload, by no more than kCutOffAllowance
    Implausible, // a size of 2^31 or more, or one running far past the end of the file
};

// Reads the 8-byte header at `position` and, when `prefixWanted` is non-zero, up to four payload
// bytes with it, in one read.
ChunkHeader ReadChunkHeader(ByteSource& file, uint64_t position, size_t prefixWanted);

// `allowance`: how far past the end of the file a cut-off chunk may claim to run.
ChunkFit JudgeChunk(const ChunkHeader& header, uint64_t fileSize, uint32_t allowance = kCutOffAllowance);

} // namespace clipwright
