// Fuzz target: any bytes through the structure reader for other recorders' AVIs and, when it finds a
// structure, through the walk of its movi list, all in memory. Every position the reader gives must
// hold what it names, inside the header list, and the walk must give footage in file order.
#include "avi/AviStructure.h"
#include "avi/ChunkWalk.h"
#include "avi/LittleEndian.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace {

using namespace clipwright;

void Require(bool condition) {
    if (!condition)
        __builtin_trap();
}

// A stretch [begin, end) of the input.
struct Stretch {
    uint64_t begin = 0;
    uint64_t end = 0;

    bool Holds(uint64_t position, uint64_t bytes) const {
        return position >= begin && position <= end && end - position >= bytes;
    }
};

class Input {
public:
    explicit Input(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint64_t Size() const { return bytes_.size(); }
    FourCC IdAt(uint64_t position) const { return FourCC::FromBytes(le::FieldAt(bytes_, position, 4)); }
    uint32_t U32At(uint64_t position) const { return le::ReadU32(bytes_, position); }

    // The whole chunks of a list body, one after another, each padded to even size; one that runs
    // past the body ends them.
    std::vector<Stretch> ChunksIn(Stretch body) const {
        std::vector<Stretch> chunks;
        uint64_t position = body.begin;
        while (body.Holds(position, 8)) {
            const uint64_t end = position + 8 + U32At(position + 4);
            if (end > body.end)
                break;
            chunks.push_back({position, end});
            position = end + (end - position) % 2;
        }
        return chunks;
    }

    bool IsList(const Stretch& chunk, const FourCC& type) const {
        return chunk.end - chunk.begin >= 12 && IdAt(chunk.begin) == fourcc::kList &&
               IdAt(chunk.begin + 8) == type;
    }

    // The body of the first 'hdrl' list among the chunks behind the RIFF header.
    std::optional<Stretch> HeaderListBody() const {
        for (const Stretch& chunk : ChunksIn({12, Size()}))
            if (IsList(chunk, fourcc::kHdrl))
                return Stretch{chunk.begin + 12, chunk.end};
        return std::nullopt;
    }

private:
    std::span<const uint8_t> bytes_;
};

void CheckStructure(const Input& input, const AviStructure& structure) {
    const std::optional<Stretch> header = input.HeaderListBody();
    Require(header.has_value());
    Require(header->end <= structure.moviListPosition);
    Require(input.Size() >= structure.MoviBody());
    Require(input.IdAt(structure.moviListPosition) == fourcc::kList);
    Require(input.IdAt(structure.MoviTypePosition()) == fourcc::kMovi);
    Require(structure.riffSize == input.U32At(4));
    Require(structure.moviListSize == input.U32At(structure.moviListPosition + 4));

    Require(header->Holds(structure.mainHeaderPosition, 40));
    Require(input.IdAt(structure.mainHeaderPosition - 8) == fourcc::kAvih);
    Require(structure.mainFlags == input.U32At(structure.mainHeaderPosition + avi::kMainFlagsOffset));
    Require(structure.totalFrames == input.U32At(structure.mainHeaderPosition + avi::kMainTotalFramesOffset));
    Require(structure.streams.size() >= 1 && structure.streams.size() <= kMostStreams);
    Require(input.U32At(structure.mainHeaderPosition + 24) == structure.streams.size());

    if (structure.extendedTotalFramesPosition) {
        Require(header->Holds(*structure.extendedTotalFramesPosition, 4));
        Require(input.IdAt(*structure.extendedTotalFramesPosition - 8) == fourcc::kDmlh);
    }

    // One stream per stream list, in order; each has its stream header and, behind it, a format.
    std::vector<Stretch> streamLists;
    for (const Stretch& chunk : input.ChunksIn(*header))
        if (input.IsList(chunk, fourcc::kStrl))
            streamLists.push_back({chunk.begin + 12, chunk.end});
    Require(streamLists.size() == structure.streams.size());
    for (size_t i = 0; i < streamLists.size(); ++i) {
        const StreamInfo& stream = structure.streams[i];
        const Stretch& list = streamLists[i];
        const uint64_t streamHeader = stream.lengthPosition - 40;
        Require(list.Holds(streamHeader, 8 + 48));
        Require(stream.length == input.U32At(stream.lengthPosition));
        Require(stream.type == input.IdAt(streamHeader + 8));
        bool headerSeen = false;
        bool formatSeen = false;
        for (const Stretch& chunk : input.ChunksIn(list)) {
            headerSeen =
                headerSeen || (chunk.begin == streamHeader && input.IdAt(chunk.begin) == fourcc::kStrh);
            formatSeen = formatSeen || (headerSeen && input.IdAt(chunk.begin) == fourcc::kStrf);
        }
        Require(headerSeen && formatSeen);
        if (stream.superIndex) {
            const SuperIndexInfo& index = *stream.superIndex;
            Require(list.Holds(index.position, 8 + uint64_t{index.size}));
            Require(input.IdAt(index.position) == fourcc::kIndx);
            Require(input.U32At(index.position + 4) == index.size);
            Require(index.size >= 8 && index.declaredEntries == input.U32At(index.position + 12));
            // Trusted entries lead to an ix## of the stream inside the file, as many for every stream.
            Require(index.entriesInUse <= index.declaredEntries &&
                    index.entries.size() == index.entriesInUse);
            for (const SuperIndexEntry& entry : index.entries) {
                Require(entry.chunkEnd <= input.Size() && entry.offset + 32 <= entry.chunkEnd);
                Require(input.IdAt(entry.offset).Bytes()[0] == 'i' &&
                        input.IdAt(entry.offset).Bytes()[1] == 'x');
            }
            for (const StreamInfo& other : structure.streams)
                Require(!other.superIndex || other.superIndex->entriesInUse == index.entriesInUse);
        }
    }
}

void CheckWalk(const Input& input, ByteSource& source, const AviStructure& structure) {
    const MediaIds ids = MediaIds::ForStreams(static_cast<uint32_t>(structure.streams.size()));
    ChunkWalk walk(source, structure.MoviBody(), input.Size(), ids, PadBytes::Expected);
    std::vector<Stretch> chunks;
    bool cut = false;
    while (std::optional<ChunkHeader> chunk = walk.Next()) {
        Require(!cut); // a cut chunk is the last one
        Require(chunk->SizeWhole() && ids.Contains(chunk->id));
        Require(chunk->position >= (chunks.empty() ? structure.MoviBody() : chunks.back().end));
        Require(chunk->End() <= input.Size() || chunk->End() - input.Size() <= kCutOffAllowance);
        cut = chunk->End() > input.Size();
        chunks.push_back({chunk->position, chunk->End()});
    }
    const WalkSummary& summary = walk.Summary();
    Require(cut == (summary.end == WalkEnd::CutChunk));
    Require(!cut || summary.endOffset == chunks.back().begin);
    // A repair writes its index at the data's end: past the end of the file it would leave a gap.
    Require(summary.endOffset <= input.Size());

    // Damage lies between the chunks given, in order, never over one of them.
    uint64_t damageEnd = structure.MoviBody();
    size_t nextChunk = 0;
    for (const DamagedStretch& stretch : summary.damaged) {
        Require(stretch.bytes > 0 && stretch.offset >= damageEnd);
        Require(stretch.offset <= input.Size() && input.Size() - stretch.offset >= stretch.bytes);
        damageEnd = stretch.offset + stretch.bytes;
        while (nextChunk < chunks.size() && chunks[nextChunk].end <= stretch.offset)
            ++nextChunk;
        Require(nextChunk == chunks.size() || chunks[nextChunk].begin >= damageEnd);
    }

    uint64_t partsFrom = structure.MoviBody();
    for (uint64_t part : summary.extraParts) {
        Require(part >= partsFrom && input.Size() >= part + 12);
        Require(input.IdAt(part) == fourcc::kRiff && input.IdAt(part + 8) == fourcc::kAvix);
        partsFrom = part + 12;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const Input input(bytes);
    MemorySource source(bytes);
    const std::optional<AviStructure> structure = ReadAviStructure(source, size);
    if (!structure)
        return 0;
    CheckStructure(input, *structure);
    CheckWalk(input, source, *structure);
    return 0;
}
