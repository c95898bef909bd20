// The read-only half of the repair of another recorder's AVI: the walk of its movi list with key
// flags read from the video, the counts the header should give, and whether it needs a repair at
// all. The repair and the read-only check share it, so they always agree.
#pragma once

#include "avi/AviStructure.h"
#include "avi/ChunkWalk.h"
#include "repair/FixOutcome.h"
#include "repair/IndexEntry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace clipwright {

struct StreamTally {
    uint32_t chunks = 0; // palette changes not counted
    uint64_t bytes = 0;
    // Video whose frames do not say which are key frames: the frames its writer's index flagged,
    // and the frames past those, marked delta frames (the first frame, taken for a key frame, and
    // empty ones not counted).
    uint32_t writerKeyFlags = 0;
    uint32_t unknownKeyFlags = 0;
};

struct OtherRecorderScan {
    std::vector<StreamTally> tallies;
    WalkSummary walk;
    uint64_t dataEnd = 0; // where the index goes
    std::optional<uint64_t> cutChunk;
};

// Walks the movi list and fills `entries` with an idx1 entry for every complete chunk.
OtherRecorderScan ScanOtherRecorder(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                                    IndexEntryList& entries);
// The length a stream header gives, in the stream's own units.
uint32_t StreamLength(const StreamInfo& stream, const StreamTally& tally);
// The time the chunks found take: sound whose blocks hold a fixed number of samples by its own
// samples (recorders and remuxers get the header's rate and scale wrong for ADPCM), the rest by the
// stream header's rate and scale.
std::optional<double> StreamSeconds(const StreamInfo& stream, const StreamTally& tally);
std::optional<size_t> FirstStreamOf(const AviStructure& structure, StreamKind kind);
OtherRecorderFindings FindingsOf(const AviStructure& structure, const OtherRecorderScan& scan);
// True when the idx1 at `position` lists exactly the chunks walked, offsets counted from the movi
// list or from the start of the file.
bool IndexMatches(ByteSource& file, uint64_t position, uint64_t moviType, const IndexEntryList& entries);
// A finalised file: its data ends in an index that lists every chunk, and its header says so.
bool NeedsNoRepair(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                   const OtherRecorderScan& scan, const IndexEntryList& entries);

} // namespace clipwright
