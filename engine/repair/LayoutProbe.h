// Reading which of the camera's header shapes a recording has, and where its chunks begin. The job,
// the rebuild and the read-only check all decide by these, so they always agree.
#pragma once

#include "platform/SourceFile.h"

#include <cstdint>
#include <optional>

namespace clipwright {

enum LayoutCode : int32_t {
    LayoutOther = 0,      // 'LIST' at 2048 of another list type, or the probe failed
    LayoutStandard = 1,   // 'LIST' at 2048 and 'movi' at 2056
    LayoutShifted = 2,    // 'LIST' at 2036: the first chunk stands at 2048
    LayoutHeaderLost = 3, // neither
};

const char* LayoutName(LayoutCode layout);

// From the words at 2048, 2056 and 2036; a word the file ends before matches nothing.
LayoutCode ProbeLayoutOf(ByteSource& file);

// Where a rebuild starts copying: 2048, or for a lost header the first '0','0','d' in the file (the
// first video tag), or 0 when there is none and the walk must find whatever chunks there are.
uint64_t RebuildDataStart(ByteSource& file, LayoutCode layout);

// Where the chunks that lead up to `start` begin: a recorder may write sound before its first
// frame. The earliest chunk whose chain of sizes lands exactly on `start`, within 64 KiB of it;
// `start` when none does.
uint64_t FirstChunkLeadingTo(ByteSource& file, uint64_t start);

} // namespace clipwright
