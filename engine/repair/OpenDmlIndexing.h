// The OpenDML side of another recorder's AVI past 1 GiB: a first RIFF form closed with its
// indexes, then 'AVIX' parts. The recorder indexes each part as it closes it, so a cut-off file
// lacks the last part's standard indexes ('ix##') and their entries in the super indexes, or holds
// them for some streams only. The repair writes the last part's ix## for every stream, one without
// a chunk there too, so each part has an entry in every super index.
#pragma once

#include "avi/AviStructure.h"
#include "platform/SourceFile.h"
#include "repair/OtherRecorderScan.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace clipwright {

// Where each part after the first begins, in file order; empty for a file of one RIFF form.
std::vector<uint64_t> FurtherParts(const AviStructure& structure, const WalkSummary& walk);

// True when every part but the last is in each stream's super index, trusted, and there is room
// for the last one's entry: what completing the indexes needs.
bool CanIndexLastPart(const AviStructure& structure, size_t furtherParts);
// True when every part, the last included, is in each stream's super index, trusted, and the
// super indexes hold no other entries.
bool EveryPartIndexed(const AviStructure& structure, size_t furtherParts);

// Whether the repair can index the file: always for one RIFF form; past it, as above.
bool PartsRepairable(const AviStructure& structure, const std::vector<uint64_t>& furtherParts);
// The standard indexes a repair leaves where they stand, so a new index goes behind them: those
// of the parts before the last, or in a file of one RIFF form every trusted one (its idx1 joins
// them). As [begin, end) of each chunk.
std::vector<std::pair<uint64_t, uint64_t>> KeptStandardIndexes(const AviStructure& structure,
                                                               size_t furtherParts);
// A file that needs no repair, of one RIFF form or more. Past one, the last part's standard
// indexes list what it holds and its RIFF size says where the file ends.
bool IsFinalised(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                 const OtherRecorderScan& scan, const IndexEntryList& entries,
                 const std::vector<uint64_t>& furtherParts);

// Writes the last part's standard indexes behind its data, one for every stream, enters them in
// the super indexes in the slot after the parts before, and sets the counts; the last part's sizes
// go last, so a repair cut off before them is done again by the next. Returns where the file ends.
uint64_t WriteLastPartIndexes(SourceFile& file, uint64_t fileSize, const AviStructure& structure,
                              const OtherRecorderScan& scan, const IndexEntryList& entries,
                              const std::vector<uint64_t>& parts);

} // namespace clipwright
