// The OpenDML side of another recorder's AVI past 1 GiB: a first RIFF form closed with its
// indexes, then 'AVIX' parts. The recorder indexes each part as it closes it, so a cut-off file
// lacks only the last part's standard indexes ('ix##') and their entries in the super indexes.
#pragma once

#include "avi/AviStructure.h"
#include "platform/SourceFile.h"
#include "repair/OtherRecorderScan.h"

#include <cstdint>
#include <vector>

namespace clipwright {

// Where each part after the first begins, in file order; empty for a file of one RIFF form.
std::vector<uint64_t> FurtherParts(const AviStructure& structure, const WalkSummary& walk);

// True when every part but the last is in each stream's super index and there is room for one
// more entry: what completing the indexes needs.
bool CanIndexLastPart(const AviStructure& structure, size_t furtherParts);
// True when every part, the last included, is in each stream's super index already.
bool EveryPartIndexed(const AviStructure& structure, size_t furtherParts);

// Whether the repair can index the file: always for one RIFF form; past it, as above.
bool PartsRepairable(const AviStructure& structure, const std::vector<uint64_t>& furtherParts);
// A file that needs no repair, of one RIFF form or more.
bool IsFinalised(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                 const OtherRecorderScan& scan, const IndexEntryList& entries,
                 const std::vector<uint64_t>& furtherParts);

// Writes the last part's standard indexes behind its data, adds them to the super indexes and sets
// the sizes and counts; returns where the file now ends.
uint64_t WriteLastPartIndexes(SourceFile& file, uint64_t fileSize, const AviStructure& structure,
                              const OtherRecorderScan& scan, const IndexEntryList& entries,
                              const std::vector<uint64_t>& parts);

} // namespace clipwright
