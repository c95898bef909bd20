// The walk from media chunk to media chunk that both repairs share. It follows the chunks as they
// stand and, where the data is damaged (zeros, an unknown id, a size that cannot be true), searches
// forward for the next place where the chunks make sense again, so that no footage behind the
// damage is lost and nothing behind it is taken for the end of the recording.
#pragma once

#include "avi/ChunkReader.h"
#include "avi/FourCC.h"
#include "platform/ReadAhead.h"
#include "platform/SourceFile.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace clipwright {

// A search for the next chunk gives up after this many bytes without one, zeros not counted: past
// that the file is not a recording any more, and a walk must not cost more than a copy of it.
inline constexpr uint64_t kResyncSearchLimit = uint64_t{256} << 20;

// The chunk ids a walk takes for footage.
class MediaIds {
public:
    explicit MediaIds(std::vector<FourCC> ids);
    // Video, audio, palette and text ids ('##dc', '##db', '##wb', '##pc', '##tx') of streams 0 to
    // `streams` - 1.
    static MediaIds ForStreams(uint32_t streams);
    bool Contains(const FourCC& id) const;
    // True when the first `count` bytes (fewer than 4) could begin a media id.
    bool CouldBegin(const uint8_t* bytes, size_t count) const;
    bool MayStartWith(uint8_t byte) const { return firstBytes_[byte]; }

private:
    std::vector<FourCC> ids_; // sorted, for a binary search
    std::array<bool, 256> firstBytes_{};
};

struct DamagedStretch {
    uint64_t offset = 0;
    uint64_t bytes = 0;
};

enum class WalkEnd {
    EndOfFile,     // the file ends behind the last chunk, or inside a chunk or list header
    CutChunk,      // the last chunk is cut off by the end of the file
    Filler,        // idx1 or JUNK chunks, with no footage behind them
    NoChunkBehind, // bytes that hold no chunk, and no footage behind them
    GaveUp,        // damaged data, and no chunk within kResyncSearchLimit bytes behind it
};

struct WalkSummary {
    WalkEnd end = WalkEnd::EndOfFile;
    // Where the walk ended: the end of the file or the header it cuts, the cut chunk, the first
    // filler chunk, or the first byte that could not be read as a chunk. Never past the end of the
    // file, not even behind an odd chunk that lacks its pad byte.
    uint64_t endOffset = 0;
    std::vector<DamagedStretch> damaged; // stretches with footage behind them, in file order
    // With NoChunkBehind: the bytes from endOffset on are all zeros, space nothing was written to.
    bool tailIsZeros = false;
    // Where each further RIFF part ('RIFF' ... 'AVIX') the walk went into begins.
    std::vector<uint64_t> extraParts;
    // Where each index the walk passed over as filler stands ('idx1', 'ix##'), whole or cut off by
    // the end of the file: what its writer flagged may be read there.
    std::vector<uint64_t> indexes;

    uint64_t DamagedBytes() const;
    // False when the walk could not tell whether footage lies behind the point where it ended.
    bool Complete() const { return end != WalkEnd::GaveUp; }
};

// Whether a chunk of odd size is followed by a pad byte. The camera writes none; RIFF asks for one,
// and other recorders write it, mostly. Either way the walk takes the other reading when the first
// does not lead to a chunk.
enum class PadBytes { Rare, Expected };

class ChunkWalk {
public:
    ChunkWalk(ByteSource& file, uint64_t start, uint64_t fileSize, const MediaIds& media,
              PadBytes pad = PadBytes::Rare, uint32_t cutOffAllowance = kCutOffAllowance);

    // The next media chunk, with its first payload bytes; nothing once the walk has ended. A chunk
    // cut off by the end of the file is the last one returned.
    std::optional<ChunkHeader> Next();

    const WalkSummary& Summary() const { return summary_; }

private:
    enum class Successor { Chunk, EndOfData, Damage };

    const ChunkHeader& HeaderAt(uint64_t position);
    // The file ends inside the header: inside the id or size of any chunk, or inside the list type
    // of a list or a further RIFF part, which the walk would step over.
    bool HeaderCut(const ChunkHeader& header) const;
    bool IsStructure(const FourCC& id) const;
    // The position behind a chunk ending at `end` with a payload of `size` bytes, and what stands there.
    std::pair<uint64_t, Successor> After(uint64_t end, uint32_t size);
    Successor JudgeSuccessor(uint64_t position);
    // The first position in [from, limit) where a media chunk that fits is followed by a chunk or
    // by the end of the data. With `lastResort`, when there is none, the first chunk that can only
    // end the footage: one cut off by the end of the file, or a whole one with damage behind it that
    // stands in no index. Gives up after `budget` bytes other than zeros.
    struct Search {
        std::optional<uint64_t> found;
        bool gaveUp = false;
        uint64_t nonZeroBytes = 0;
    };
    Search FindChunk(uint64_t from, uint64_t limit, bool lastResort, uint64_t budget);
    bool StartsChunk(const ChunkHeader& header);
    // Whether a media id stands 16 bytes before or behind `position`, as in the entries of an idx1.
    bool AmongIndexEntries(uint64_t position);
    void NoteDamage(uint64_t from, uint64_t to);
    void Finish(WalkEnd end, uint64_t offset);

    ByteSource& file_;
    ReadAhead headerBlock_;
    ByteSource& headers_; // the header block, or the file when that is read in blocks already
    const MediaIds& media_;
    const uint64_t fileSize_;
    const PadBytes pad_;
    const uint32_t allowance_;
    uint64_t position_;
    std::optional<uint64_t> fillerRunStart_;
    bool finished_ = false;
    ChunkHeader cached_;
    bool cacheValid_ = false;
    std::vector<uint8_t> searchBlock_;
    WalkSummary summary_;
};

} // namespace clipwright
