// The OpenDML side of another recorder's AVI past 1 GiB: a first RIFF form, then 'AVIX' parts, each
// with a standard index ('ix##') per stream that the stream's super index ('indx') lists. A
// recorder indexes each part as it closes it, so a cut-off file lacks the last part's standard
// indexes and their entries, or holds them for some streams only; other writers leave earlier parts
// unlisted too. The repair keeps the leading parts whose standard indexes list what the walk found
// there, and writes the rest behind the data at the end of the file, one per stream and part, a
// stream without a chunk in a part included: no footage byte moves.
#pragma once

#include "avi/AviStructure.h"
#include "platform/SourceFile.h"
#include "repair/OtherRecorderScan.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace clipwright {

// The stream a chunk id names: its first two digits.
size_t StreamNumberOf(const FourCC& id);

// Where the chunk of each idx1 entry stands, given the entries in file order. An idx1 offset keeps
// 32 bits, so past 4 GiB it wraps: each is the first position past the one before with its low bits.
class ChunkPositions {
public:
    explicit ChunkPositions(uint64_t moviType) : moviType_(moviType) {}
    // Of the chunk's header.
    uint64_t Next(const IndexEntry& entry);

private:
    uint64_t moviType_;
    uint64_t wraps_ = 0;
    uint64_t previous_ = 0;
};

struct PartChunk {
    const IndexEntry* entry = nullptr;
    uint64_t position = 0; // of its header
};

// One stream's chunks in one part, as a standard index chunk.
struct StandardIndex {
    std::vector<uint8_t> bytes; // the whole chunk
    uint32_t duration = 0;      // in the stream's own units
};

// The standard index of stream `number`'s `chunks`, whose offsets count from `base`.
StandardIndex BuildStandardIndex(const StreamInfo& stream, size_t number, const FourCC& chunkId,
                                 const std::vector<PartChunk>& chunks, uint64_t base);
// The id a stream's chunks have: that of one found anywhere, else that of its recorder's first
// standard index, else the one its kind is written with.
FourCC ChunkIdOf(const StreamInfo& stream, size_t number, const IndexEntryList& entries);

// Where each part after the first begins, in file order; empty for a file of one RIFF form.
std::vector<uint64_t> FurtherParts(const AviStructure& structure, const WalkSummary& walk);

// Whether the repair can index the file: always for one RIFF form; past it, when every stream has a
// super index with a slot for every part, and no part spans more than a standard index can address.
bool PartsRepairable(const AviStructure& structure, const std::vector<uint64_t>& furtherParts,
                     uint64_t dataEnd);
// The standard indexes a repair leaves where they stand, so a new index goes behind them: those of
// the leading parts (never the last) that list what the walk found there, or in a file of one RIFF
// form every trusted one (its idx1 joins them). As [begin, end) of each chunk.
std::vector<std::pair<uint64_t, uint64_t>> KeptStandardIndexes(const AviStructure& structure,
                                                               const IndexEntryList& entries,
                                                               const std::vector<uint64_t>& furtherParts);
// A file that needs no repair, of one RIFF form or more. Past one, every part's standard indexes list
// what it holds, the counts are the file's, and the last part's RIFF size says where the file ends.
bool IsFinalised(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                 const OtherRecorderScan& scan, const IndexEntryList& entries,
                 const std::vector<uint64_t>& furtherParts);

// Writes the standard indexes of every part not kept behind the data, enters them in the super
// indexes and sets the counts; the last part's sizes go last, so a repair cut off before them is
// done again by the next. Returns where the file ends.
uint64_t WritePartIndexes(SourceFile& file, uint64_t fileSize, const AviStructure& structure,
                          const OtherRecorderScan& scan, const IndexEntryList& entries,
                          const std::vector<uint64_t>& furtherParts);

} // namespace clipwright
