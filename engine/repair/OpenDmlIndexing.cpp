#include "repair/OpenDmlIndexing.h"

#include "avi/LittleEndian.h"
#include "repair/IndexWriting.h"

#include <algorithm>

namespace clipwright {

namespace {

constexpr uint32_t kSuperIndexHeaderBytes = 24; // after the chunk header
constexpr uint32_t kSuperIndexEntryBytes = 16;
constexpr uint32_t kStandardIndexHeaderBytes = 24;
constexpr uint8_t kIndexOfChunks = 1;
constexpr uint64_t kMoviListOffsetInPart = 12; // 'RIFF' size 'AVIX', then 'LIST' size 'movi'

uint32_t Capacity(const SuperIndexInfo& index) {
    return index.size < kSuperIndexHeaderBytes
               ? 0
               : (index.size - kSuperIndexHeaderBytes) / kSuperIndexEntryBytes;
}

uint64_t Even(uint64_t value) {
    return value + (value & 1);
}

size_t StreamNumberOf(const FourCC& id) {
    return static_cast<size_t>((id.Bytes()[0] - '0') * 10 + (id.Bytes()[1] - '0'));
}

struct PartChunk {
    const IndexEntry* entry = nullptr;
    uint64_t position = 0; // of its header
};

// The chunks the walk found, by stream, with where each stands. An idx1 offset keeps 32 bits, so
// past 4 GiB it wraps; the entries follow the file, so each is the first position past the one
// before with its low bits. Palette changes are left out, as standard indexes leave them.
struct ChunksByPart {
    std::vector<std::vector<PartChunk>> lastPart; // by stream
    uint32_t firstPartFrames = 0;                 // of the first video stream
};

ChunksByPart SortChunks(const AviStructure& structure, const IndexEntryList& entries,
                        const std::vector<uint64_t>& parts) {
    ChunksByPart sorted;
    sorted.lastPart.resize(structure.streams.size());
    const auto video = FirstStreamOf(structure, StreamKind::Video);
    const uint64_t moviType = structure.MoviTypePosition();
    uint64_t wraps = 0;
    uint64_t previous = 0;
    for (const IndexEntry& entry : entries) {
        uint64_t position = moviType + entry.offset + wraps;
        if (position < previous) {
            wraps += uint64_t{1} << 32;
            position += uint64_t{1} << 32;
        }
        previous = position;
        if ((entry.flags & avi::kIndexNoTime) != 0)
            continue;
        const size_t number = StreamNumberOf(entry.chunkId);
        if (position > parts.back())
            sorted.lastPart[number].push_back({&entry, position});
        if (video && number == *video && position < parts.front())
            ++sorted.firstPartFrames;
    }
    return sorted;
}

// One stream's chunks in the last part, as a standard index chunk.
struct StandardIndex {
    std::vector<uint8_t> bytes; // the whole chunk
    uint32_t duration = 0;      // in the stream's own units
};

StandardIndex BuildStandardIndex(const StreamInfo& stream, size_t number, const FourCC& chunkId,
                                 const std::vector<PartChunk>& chunks, uint64_t base) {
    StandardIndex index;
    const size_t payload = kStandardIndexHeaderBytes + 8 * chunks.size();
    index.bytes.assign(8 + payload, 0);
    uint8_t* at = index.bytes.data();
    const uint8_t id[4] = {'i', 'x', static_cast<uint8_t>('0' + number / 10),
                           static_cast<uint8_t>('0' + number % 10)};
    std::copy(id, id + 4, at);
    le::WriteU32(at + 4, static_cast<uint32_t>(payload));
    le::WriteU16(at + 8, 2); // longs per entry
    at[11] = kIndexOfChunks;
    le::WriteU32(at + 12, static_cast<uint32_t>(chunks.size()));
    std::copy(chunkId.Bytes().begin(), chunkId.Bytes().end(), at + 16);
    le::WriteU32(at + 20, static_cast<uint32_t>(base));
    le::WriteU32(at + 24, static_cast<uint32_t>(base >> 32));
    StreamTally tally;
    size_t slot = 8 + kStandardIndexHeaderBytes;
    for (const PartChunk& chunk : chunks) {
        le::WriteU32(at + slot, static_cast<uint32_t>(chunk.position + 8 - base));
        le::WriteU32(at + slot + 4, chunk.entry->size | ((chunk.entry->flags & avi::kIndexKeyFrame) != 0
                                                             ? 0
                                                             : avi::kStandardIndexDeltaFrame));
        slot += 8;
        ++tally.chunks;
        tally.bytes += chunk.entry->size;
    }
    index.duration = StreamLength(stream, tally);
    return index;
}

// The id a stream's chunks have in the last part; a stream with none there keeps the one its
// recorder gave its first standard index.
FourCC ChunkIdOf(const StreamInfo& stream, const std::vector<PartChunk>& chunks) {
    return chunks.empty() ? stream.superIndex->entries.front().chunkId : chunks.front().entry->chunkId;
}

} // namespace

std::vector<uint64_t> FurtherParts(const AviStructure& structure, const WalkSummary& walk) {
    std::vector<uint64_t> parts = walk.extraParts;
    if (structure.secondPart)
        parts.push_back(*structure.secondPart);
    std::sort(parts.begin(), parts.end());
    parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
    return parts;
}

bool CanIndexLastPart(const AviStructure& structure, size_t furtherParts) {
    return std::all_of(structure.streams.begin(), structure.streams.end(), [&](const StreamInfo& stream) {
        return stream.superIndex && stream.superIndex->entriesInUse >= furtherParts &&
               Capacity(*stream.superIndex) > furtherParts;
    });
}

bool EveryPartIndexed(const AviStructure& structure, size_t furtherParts) {
    return std::all_of(structure.streams.begin(), structure.streams.end(), [&](const StreamInfo& stream) {
        return stream.superIndex && stream.superIndex->entriesInUse == furtherParts + 1 &&
               stream.superIndex->declaredEntries == furtherParts + 1;
    });
}

bool PartsRepairable(const AviStructure& structure, const std::vector<uint64_t>& furtherParts) {
    return furtherParts.empty() || CanIndexLastPart(structure, furtherParts.size());
}

std::vector<std::pair<uint64_t, uint64_t>> KeptStandardIndexes(const AviStructure& structure,
                                                               size_t furtherParts) {
    std::vector<std::pair<uint64_t, uint64_t>> kept;
    for (const StreamInfo& stream : structure.streams) {
        if (!stream.superIndex)
            continue;
        const std::vector<SuperIndexEntry>& entries = stream.superIndex->entries;
        const size_t keep = furtherParts == 0 ? entries.size() : std::min(entries.size(), furtherParts);
        for (size_t slot = 0; slot < keep; ++slot)
            kept.emplace_back(entries[slot].offset, entries[slot].chunkEnd);
    }
    return kept;
}

bool IsFinalised(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                 const OtherRecorderScan& scan, const IndexEntryList& entries,
                 const std::vector<uint64_t>& furtherParts) {
    if (furtherParts.empty())
        return NeedsNoRepair(file, fileSize, structure, scan, entries);
    if (!EveryPartIndexed(structure, furtherParts.size()) || scan.walk.end != WalkEnd::Filler ||
        scan.cutChunk || !scan.walk.damaged.empty())
        return false;
    const uint64_t lastPart = furtherParts.back();
    const ChunksByPart chunks = SortChunks(structure, entries, furtherParts);
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        const SuperIndexEntry& last = structure.streams[number].superIndex->entries.back();
        if (last.offset < lastPart || last.chunks != chunks.lastPart[number].size())
            return false;
    }
    uint8_t size[4];
    return file.ReadAt(lastPart + 4, size, sizeof size) == sizeof size &&
           Even(lastPart + 8 + le::ReadU32(size)) == Even(fileSize);
}

uint64_t WriteLastPartIndexes(SourceFile& file, uint64_t fileSize, const AviStructure& structure,
                              const OtherRecorderScan& scan, const IndexEntryList& entries,
                              const std::vector<uint64_t>& parts) {
    const uint64_t lastPart = parts.back();
    // The entries before this slot index the parts before the last; one there from an earlier
    // try, or of some streams only, is written again.
    const uint64_t slot = parts.size();
    const ChunksByPart chunks = SortChunks(structure, entries, parts);

    // The cut chunk is JUNK on the disk before anything lengthens the file: with the index behind
    // it, its missing bytes would read as zeros and a chunk of that id would look whole.
    if (scan.cutChunk) {
        WriteFourCCAt(file, *scan.cutChunk, fourcc::kJunk);
        file.Sync();
    }
    // The standard indexes, one after another behind the last part's data; a stream without a
    // chunk there gets an empty one, or readers take the super indexes for unequal.
    uint64_t end = scan.dataEnd;
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        const StreamInfo& stream = structure.streams[number];
        const std::vector<PartChunk>& own = chunks.lastPart[number];
        const StandardIndex index = BuildStandardIndex(stream, number, ChunkIdOf(stream, own), own, lastPart);
        file.Seek(static_cast<int64_t>(end), SeekFrom::Begin);
        file.Write(index.bytes.data(), index.bytes.size());
        const SuperIndexInfo& super = *stream.superIndex;
        const uint64_t at = super.position + 8 + kSuperIndexHeaderBytes + slot * kSuperIndexEntryBytes;
        WriteU32At(file, at, static_cast<uint32_t>(end));
        WriteU32At(file, at + 4, static_cast<uint32_t>(end >> 32));
        WriteU32At(file, at + 8, static_cast<uint32_t>(index.bytes.size()));
        WriteU32At(file, at + 12, index.duration);
        WriteU32At(file, super.position + 8 + 4, static_cast<uint32_t>(slot + 1));
        end += index.bytes.size();
    }
    end = CoverRest(file, end, fileSize);

    WriteU32At(file, structure.mainHeaderPosition + avi::kMainFlagsOffset,
               (structure.mainFlags | avi::kMainFlagHasIndex) & ~avi::kMainFlagMustUseIndex);
    if (const auto video = FirstStreamOf(structure, StreamKind::Video)) {
        WriteU32At(file, structure.mainHeaderPosition + avi::kMainTotalFramesOffset, chunks.firstPartFrames);
        if (structure.extendedTotalFramesPosition)
            WriteU32At(file, *structure.extendedTotalFramesPosition, scan.tallies[*video].chunks);
    }
    for (size_t number = 0; number < structure.streams.size(); ++number)
        WriteU32At(file, structure.streams[number].lengthPosition,
                   StreamLength(structure.streams[number], scan.tallies[number]));
    // Last: a part whose RIFF size says where the file ends is one this repair finished.
    WriteU32At(file, lastPart + kMoviListOffsetInPart + 4,
               static_cast<uint32_t>(end - lastPart - kMoviListOffsetInPart - 8));
    WriteU32At(file, lastPart + 4, static_cast<uint32_t>(end - lastPart - 8));
    return end;
}

} // namespace clipwright
