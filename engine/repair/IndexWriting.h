// Writing an index and header fields into a recording in place: shared by the camera's in-place
// repair and the repair of other recorders' files.
#pragma once

#include "avi/ChunkWalk.h"
#include "avi/FourCC.h"
#include "platform/SourceFile.h"
#include "repair/IndexEntry.h"

#include <cstdint>
#include <deque>

namespace clipwright {

void WriteU32At(SourceFile& file, uint64_t position, uint32_t value);
void WriteFourCCAt(SourceFile& file, uint64_t position, const FourCC& code);
// Makes whatever stands between `position` and `fileSize` one JUNK chunk (an old, longer index's
// remains); returns where the file then ends, never before `position`.
uint64_t CoverRest(SourceFile& file, uint64_t position, uint64_t fileSize);
// Writes a JUNK chunk header at the start of each damaged stretch the walk skipped, sized to end
// exactly where the next chunk begins, so that a reader going through the data front to back steps
// over the damage (one that pads an odd size lands a byte into the next header and finds it again,
// as it does behind the camera's own odd chunks). Only bytes inside a stretch change; a stretch too
// short for a header is left as it is.
void CoverDamage(SourceFile& file, const WalkSummary& walk);
// Writes an idx1 chunk with `entries` at `position` through a fixed buffer; returns its end.
uint64_t WriteIdx1(SourceFile& file, uint64_t position, const std::deque<IndexEntry>& entries);

} // namespace clipwright
