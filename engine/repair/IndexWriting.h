// Writing an index and header fields into a recording in place: shared by the camera's in-place
// repair and the repair of other recorders' files.
#pragma once

#include "avi/FourCC.h"
#include "platform/SourceFile.h"

#include <cstdint>
#include <deque>

namespace clipwright {

struct IndexEntry;

void WriteU32At(SourceFile& file, uint64_t position, uint32_t value);
void WriteFourCCAt(SourceFile& file, uint64_t position, const FourCC& code);
// Makes whatever stands between `position` and `fileSize` one JUNK chunk (an old, longer index's
// remains); returns where the file then ends, never before `position`.
uint64_t CoverRest(SourceFile& file, uint64_t position, uint64_t fileSize);
// Writes an idx1 chunk with `entries` at `position` through a fixed buffer; returns its end.
uint64_t WriteIdx1(SourceFile& file, uint64_t position, const std::deque<IndexEntry>& entries);

} // namespace clipwright
