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

// One stream's chunks in the last part, as a standard index chunk.
struct StandardIndex {
    std::vector<uint8_t> bytes; // the whole chunk
    uint32_t duration = 0;      // in the stream's own units
};

StandardIndex BuildStandardIndex(const StreamInfo& stream, uint32_t number,
                                 const std::vector<const IndexEntry*>& chunks, uint64_t moviType,
                                 uint64_t base) {
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
    const auto& chunkId = chunks.front()->chunkId.Bytes();
    std::copy(chunkId.begin(), chunkId.end(), at + 16);
    le::WriteU32(at + 20, static_cast<uint32_t>(base));
    le::WriteU32(at + 24, static_cast<uint32_t>(base >> 32));
    uint64_t bytes = 0;
    size_t slot = 8 + kStandardIndexHeaderBytes;
    for (const IndexEntry* chunk : chunks) {
        const uint64_t payloadStart = moviType + chunk->offset + 8;
        le::WriteU32(at + slot, static_cast<uint32_t>(payloadStart - base));
        le::WriteU32(at + slot + 4,
                     chunk->size | ((chunk->flags & avi::kIndexKeyFrame) != 0 ? 0 : avi::kStandardIndexDeltaFrame));
        slot += 8;
        bytes += chunk->size;
    }
    const StreamTally tally{static_cast<uint32_t>(chunks.size()), bytes};
    index.duration = StreamLength(stream, tally);
    return index;
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
        return stream.superIndex && stream.superIndex->entriesInUse == furtherParts &&
               Capacity(*stream.superIndex) > furtherParts;
    });
}

bool EveryPartIndexed(const AviStructure& structure, size_t furtherParts) {
    return std::all_of(structure.streams.begin(), structure.streams.end(), [&](const StreamInfo& stream) {
        return stream.superIndex && stream.superIndex->entriesInUse == furtherParts + 1;
    });
}

bool PartsRepairable(const AviStructure& structure, const std::vector<uint64_t>& furtherParts) {
    return furtherParts.empty() || CanIndexLastPart(structure, furtherParts.size()) ||
           EveryPartIndexed(structure, furtherParts.size());
}

bool IsFinalised(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                 const OtherRecorderScan& scan, const IndexEntryList& entries,
                 const std::vector<uint64_t>& furtherParts) {
    if (furtherParts.empty())
        return NeedsNoRepair(file, fileSize, structure, scan, entries);
    return EveryPartIndexed(structure, furtherParts.size()) && scan.walk.end == WalkEnd::Filler &&
           !scan.cutChunk && scan.walk.damaged.empty();
}

uint64_t WriteLastPartIndexes(SourceFile& file, uint64_t fileSize, const AviStructure& structure,
                              const OtherRecorderScan& scan, const IndexEntryList& entries,
                              const std::vector<uint64_t>& parts) {
    const uint64_t lastPart = parts.back();
    const uint64_t moviType = structure.MoviTypePosition();
    std::vector<std::vector<const IndexEntry*>> byStream(structure.streams.size());
    uint32_t firstPartFrames = 0;
    const auto video = FirstStreamOf(structure, StreamKind::Video);
    for (const IndexEntry& entry : entries) {
        const uint64_t position = moviType + entry.offset;
        const auto number =
            static_cast<size_t>((entry.chunkId.Bytes()[0] - '0') * 10 + (entry.chunkId.Bytes()[1] - '0'));
        if (position > lastPart && (entry.flags & avi::kIndexNoTime) == 0)
            byStream[number].push_back(&entry);
        if (video && number == *video && position < parts.front() && (entry.flags & avi::kIndexNoTime) == 0)
            ++firstPartFrames;
    }

    // The cut chunk is JUNK on the disk before anything lengthens the file: with the index behind
    // it, its missing bytes would read as zeros and a chunk of that id would look whole.
    if (scan.cutChunk) {
        WriteFourCCAt(file, *scan.cutChunk, fourcc::kJunk);
        file.Sync();
    }
    // The standard indexes, one after another behind the last part's data.
    uint64_t end = scan.dataEnd;
    for (size_t number = 0; number < byStream.size(); ++number) {
        if (byStream[number].empty())
            continue;
        const StreamInfo& stream = structure.streams[number];
        const StandardIndex index =
            BuildStandardIndex(stream, static_cast<uint32_t>(number), byStream[number], moviType, lastPart);
        file.Seek(static_cast<int64_t>(end), SeekFrom::Begin);
        file.Write(index.bytes.data(), index.bytes.size());
        const SuperIndexInfo& super = *stream.superIndex;
        const uint64_t slot = super.position + 8 + kSuperIndexHeaderBytes +
                              uint64_t{super.entriesInUse} * kSuperIndexEntryBytes;
        WriteU32At(file, slot, static_cast<uint32_t>(end));
        WriteU32At(file, slot + 4, static_cast<uint32_t>(end >> 32));
        WriteU32At(file, slot + 8, static_cast<uint32_t>(index.bytes.size()));
        WriteU32At(file, slot + 12, index.duration);
        WriteU32At(file, super.position + 8 + 4, super.entriesInUse + 1);
        end += index.bytes.size();
    }
    end = CoverRest(file, end, fileSize);

    WriteU32At(file, lastPart + 4, static_cast<uint32_t>(end - lastPart - 8));
    WriteU32At(file, lastPart + kMoviListOffsetInPart + 4,
               static_cast<uint32_t>(end - lastPart - kMoviListOffsetInPart - 8));
    WriteU32At(file, structure.mainHeaderPosition + avi::kMainFlagsOffset,
               (structure.mainFlags | avi::kMainFlagHasIndex) & ~avi::kMainFlagMustUseIndex);
    if (video) {
        WriteU32At(file, structure.mainHeaderPosition + avi::kMainTotalFramesOffset, firstPartFrames);
        if (structure.extendedTotalFramesPosition)
            WriteU32At(file, *structure.extendedTotalFramesPosition, scan.tallies[*video].chunks);
    }
    for (size_t number = 0; number < structure.streams.size(); ++number)
        WriteU32At(file, structure.streams[number].lengthPosition,
                   StreamLength(structure.streams[number], scan.tallies[number]));
    return end;
}

} // namespace clipwright
