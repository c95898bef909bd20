#include "repair/OpenDmlIndexing.h"

#include "avi/LittleEndian.h"
#include "repair/IndexWriting.h"

#include <algorithm>
#include <limits>

namespace clipwright {

namespace {

constexpr uint32_t kSuperIndexHeaderBytes = 24; // after the chunk header
constexpr uint32_t kSuperIndexEntryBytes = 16;
constexpr uint32_t kStandardIndexHeaderBytes = 24;
constexpr uint8_t kIndexOfChunks = 1;
constexpr uint64_t kMoviListOffsetInPart = 12; // 'RIFF' size 'AVIX', then 'LIST' size 'movi'
// A standard index gives each chunk as 32 bits from its base, and a RIFF size has 32 bits too.
constexpr uint64_t kLargestPart = uint64_t{1} << 32;

uint32_t Capacity(const SuperIndexInfo& index) {
    return index.size < kSuperIndexHeaderBytes
               ? 0
               : (index.size - kSuperIndexHeaderBytes) / kSuperIndexEntryBytes;
}

uint64_t Even(uint64_t value) {
    return value + (value & 1);
}

// Calls `visit(entry, position)` for every chunk but palette changes (standard indexes leave them
// out), with where its header stands.
template <class Visit>
void ForEachChunk(const AviStructure& structure, const IndexEntryList& entries, Visit visit) {
    ChunkPositions positions(structure.MoviTypePosition());
    for (const IndexEntry& entry : entries) {
        const uint64_t position = positions.Next(entry);
        if ((entry.flags & avi::kIndexNoTime) == 0)
            visit(entry, position);
    }
}

size_t PartOf(uint64_t position, const std::vector<uint64_t>& furtherParts) {
    return static_cast<size_t>(std::upper_bound(furtherParts.begin(), furtherParts.end(), position) -
                               furtherParts.begin());
}

// Where a part's chunk offsets count from: its movi list, or its RIFF header.
uint64_t PartBase(const AviStructure& structure, const std::vector<uint64_t>& furtherParts, size_t part) {
    return part == 0 ? structure.moviListPosition : furtherParts[part - 1];
}

// How many chunks of each stream each part holds, and the first part's video frames.
struct PartCounts {
    std::vector<std::vector<uint32_t>> chunks; // [part][stream]
    uint32_t firstPartFrames = 0;              // of the first video stream
};

PartCounts CountChunks(const AviStructure& structure, const IndexEntryList& entries,
                       const std::vector<uint64_t>& furtherParts) {
    PartCounts counts;
    counts.chunks.assign(furtherParts.size() + 1, std::vector<uint32_t>(structure.streams.size(), 0));
    const auto video = FirstStreamOf(structure, StreamKind::Video);
    ForEachChunk(structure, entries, [&](const IndexEntry& entry, uint64_t position) {
        const size_t part = PartOf(position, furtherParts);
        const size_t number = StreamNumberOf(entry.chunkId);
        ++counts.chunks[part][number];
        if (part == 0 && video && number == *video)
            ++counts.firstPartFrames;
    });
    return counts;
}

// The leading parts, never the last, whose standard indexes every stream's super index lists
// trusted and which list as many chunks as the walk found there.
size_t KeptParts(const AviStructure& structure, const PartCounts& counts) {
    size_t kept = counts.chunks.size() - 1;
    for (const StreamInfo& stream : structure.streams)
        kept = std::min<size_t>(kept, stream.superIndex ? stream.superIndex->entriesInUse : 0);
    for (size_t part = 0; part < kept; ++part)
        for (size_t number = 0; number < structure.streams.size(); ++number)
            if (structure.streams[number].superIndex->entries[part].chunks != counts.chunks[part][number])
                return part;
    return kept;
}

} // namespace

size_t StreamNumberOf(const FourCC& id) {
    return static_cast<size_t>((id.Bytes()[0] - '0') * 10 + (id.Bytes()[1] - '0'));
}

uint64_t ChunkPositions::Next(const IndexEntry& entry) {
    uint64_t position = moviType_ + entry.offset + wraps_;
    if (position < previous_) {
        wraps_ += uint64_t{1} << 32;
        position += uint64_t{1} << 32;
    }
    previous_ = position;
    return position;
}

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
        const bool key = (chunk.entry->flags & avi::kIndexKeyFrame) != 0;
        le::WriteU32(at + slot, static_cast<uint32_t>(chunk.position + 8 - base));
        le::WriteU32(at + slot + 4, chunk.entry->size | (key ? 0 : avi::kStandardIndexDeltaFrame));
        slot += 8;
        ++tally.chunks;
        tally.bytes += chunk.entry->size;
    }
    index.duration = StreamLength(stream, tally);
    return index;
}

FourCC ChunkIdOf(const StreamInfo& stream, size_t number, const IndexEntryList& entries) {
    for (const IndexEntry& entry : entries)
        if (StreamNumberOf(entry.chunkId) == number && (entry.flags & avi::kIndexNoTime) == 0)
            return entry.chunkId;
    if (stream.superIndex && !stream.superIndex->entries.empty())
        return stream.superIndex->entries.front().chunkId;
    const char* kind = stream.kind == StreamKind::Audio  ? "wb"
                       : stream.kind == StreamKind::Text ? "tx"
                                                         : "dc";
    const uint8_t bytes[4] = {static_cast<uint8_t>('0' + number / 10),
                              static_cast<uint8_t>('0' + number % 10), static_cast<uint8_t>(kind[0]),
                              static_cast<uint8_t>(kind[1])};
    return FourCC::FromBytes(bytes);
}

std::vector<uint64_t> FurtherParts(const AviStructure& structure, const WalkSummary& walk) {
    std::vector<uint64_t> parts = walk.extraParts;
    // A part the file cuts in its headers holds nothing, and the walk ends where it begins.
    if (structure.secondPart && (walk.end != WalkEnd::EndOfFile || *structure.secondPart < walk.endOffset))
        parts.push_back(*structure.secondPart);
    std::sort(parts.begin(), parts.end());
    parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
    return parts;
}

bool PartsRepairable(const AviStructure& structure, const std::vector<uint64_t>& furtherParts,
                     uint64_t dataEnd) {
    if (furtherParts.empty())
        return true;
    const size_t parts = furtherParts.size() + 1;
    for (const StreamInfo& stream : structure.streams)
        if (!stream.superIndex || Capacity(*stream.superIndex) < parts)
            return false;
    for (size_t part = 0; part < parts; ++part) {
        const uint64_t end = part + 1 < parts ? furtherParts[part] : dataEnd;
        if (end - std::min(end, PartBase(structure, furtherParts, part)) >= kLargestPart)
            return false;
    }
    return true;
}

std::vector<std::pair<uint64_t, uint64_t>> KeptStandardIndexes(const AviStructure& structure,
                                                               const IndexEntryList& entries,
                                                               const std::vector<uint64_t>& furtherParts) {
    const size_t keep = furtherParts.empty()
                            ? std::numeric_limits<size_t>::max()
                            : KeptParts(structure, CountChunks(structure, entries, furtherParts));
    std::vector<std::pair<uint64_t, uint64_t>> kept;
    for (const StreamInfo& stream : structure.streams) {
        if (!stream.superIndex)
            continue;
        const std::vector<SuperIndexEntry>& trusted = stream.superIndex->entries;
        for (size_t slot = 0; slot < std::min(trusted.size(), keep); ++slot)
            kept.emplace_back(trusted[slot].offset, trusted[slot].chunkEnd);
    }
    return kept;
}

bool IsFinalised(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                 const OtherRecorderScan& scan, const IndexEntryList& entries,
                 const std::vector<uint64_t>& furtherParts) {
    if (furtherParts.empty())
        return NeedsNoRepair(file, fileSize, structure, scan, entries);
    const size_t parts = furtherParts.size() + 1;
    if (scan.walk.end != WalkEnd::Filler || scan.cutChunk || !scan.walk.damaged.empty())
        return false;
    for (const StreamInfo& stream : structure.streams)
        if (!stream.superIndex || stream.superIndex->entriesInUse != parts ||
            stream.superIndex->declaredEntries != parts)
            return false;
    const PartCounts counts = CountChunks(structure, entries, furtherParts);
    if (KeptParts(structure, counts) != parts - 1)
        return false;
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        const StreamInfo& stream = structure.streams[number];
        if (stream.superIndex->entries.back().chunks != counts.chunks.back()[number] ||
            (scan.tallies[number].chunks > 0 && stream.length == 0) ||
            (stream.kind == StreamKind::Video && stream.length != scan.tallies[number].chunks))
            return false;
    }
    const auto video = FirstStreamOf(structure, StreamKind::Video);
    if (video && structure.extendedTotalFramesPosition &&
        structure.extendedTotalFrames != scan.tallies[*video].chunks)
        return false;
    uint8_t size[4];
    const uint64_t lastPart = furtherParts.back();
    return file.ReadAt(lastPart + 4, size, sizeof size) == sizeof size &&
           Even(lastPart + 8 + le::ReadU32(size)) == Even(fileSize);
}

uint64_t WritePartIndexes(SourceFile& file, uint64_t fileSize, const AviStructure& structure,
                          const OtherRecorderScan& scan, const IndexEntryList& entries,
                          const std::vector<uint64_t>& furtherParts) {
    const size_t parts = furtherParts.size() + 1;
    const PartCounts counts = CountChunks(structure, entries, furtherParts);
    // The entries before this slot list parts whose indexes stay; one from an earlier try, or of
    // some streams only, is written again.
    const size_t firstWritten = KeptParts(structure, counts);

    // The cut chunk is JUNK on the disk before anything lengthens the file: with the indexes behind
    // it, its missing bytes would read as zeros and a chunk of that id would look whole.
    if (scan.cutChunk) {
        WriteFourCCAt(file, *scan.cutChunk, fourcc::kJunk);
        file.Sync();
    }
    std::vector<FourCC> chunkIds;
    for (size_t number = 0; number < structure.streams.size(); ++number)
        chunkIds.push_back(ChunkIdOf(structure.streams[number], number, entries));

    // The standard indexes, one after another behind the data; a stream without a chunk in a part
    // gets an empty one, or readers take the super indexes for unequal.
    struct Written {
        uint64_t offset = 0;
        uint32_t bytes = 0;
        uint32_t duration = 0;
    };
    std::vector<std::vector<Written>> written(parts); // [part][stream]
    uint64_t end = scan.dataEnd;
    for (size_t part = firstWritten; part < parts; ++part) {
        std::vector<std::vector<PartChunk>> own(structure.streams.size());
        ForEachChunk(structure, entries, [&](const IndexEntry& entry, uint64_t position) {
            if (PartOf(position, furtherParts) == part)
                own[StreamNumberOf(entry.chunkId)].push_back({&entry, position});
        });
        const uint64_t base = PartBase(structure, furtherParts, part);
        for (size_t number = 0; number < structure.streams.size(); ++number) {
            const StandardIndex index =
                BuildStandardIndex(structure.streams[number], number, chunkIds[number], own[number], base);
            file.Seek(static_cast<int64_t>(end), SeekFrom::Begin);
            file.Write(index.bytes.data(), index.bytes.size());
            written[part].push_back({end, static_cast<uint32_t>(index.bytes.size()), index.duration});
            end += index.bytes.size();
        }
    }
    end = CoverRest(file, end, fileSize);
    // The super indexes point at nothing that is not on the disk yet.
    file.Sync();
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        const SuperIndexInfo& super = *structure.streams[number].superIndex;
        for (size_t part = firstWritten; part < parts; ++part) {
            const Written& index = written[part][number];
            const uint64_t at = super.position + 8 + kSuperIndexHeaderBytes + part * kSuperIndexEntryBytes;
            WriteU32At(file, at, static_cast<uint32_t>(index.offset));
            WriteU32At(file, at + 4, static_cast<uint32_t>(index.offset >> 32));
            WriteU32At(file, at + 8, index.bytes);
            WriteU32At(file, at + 12, index.duration);
        }
        WriteU32At(file, super.position + 8 + 4, static_cast<uint32_t>(parts));
    }

    WriteU32At(file, structure.mainHeaderPosition + avi::kMainFlagsOffset,
               (structure.mainFlags | avi::kMainFlagHasIndex) & ~avi::kMainFlagMustUseIndex);
    if (const auto video = FirstStreamOf(structure, StreamKind::Video)) {
        WriteU32At(file, structure.mainHeaderPosition + avi::kMainTotalFramesOffset, counts.firstPartFrames);
        if (structure.extendedTotalFramesPosition)
            WriteU32At(file, *structure.extendedTotalFramesPosition, scan.tallies[*video].chunks);
    }
    for (size_t number = 0; number < structure.streams.size(); ++number)
        WriteU32At(file, structure.streams[number].lengthPosition,
                   StreamLength(structure.streams[number], scan.tallies[number]));
    file.Sync();
    // Last: a part whose RIFF size says where the file ends is one this repair finished.
    const uint64_t lastPart = furtherParts.back();
    WriteU32At(file, lastPart + kMoviListOffsetInPart + 4,
               static_cast<uint32_t>(end - lastPart - kMoviListOffsetInPart - 8));
    WriteU32At(file, lastPart + 4, static_cast<uint32_t>(end - lastPart - 8));
    return end;
}

} // namespace clipwright
