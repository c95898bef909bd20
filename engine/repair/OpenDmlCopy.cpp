#include "repair/OpenDmlCopy.h"

#include "avi/AviConstants.h"
#include "avi/LittleEndian.h"
#include "platform/FileError.h"
#include "platform/ReadAhead.h"
#include "repair/OpenDmlIndexing.h"

#include <algorithm>
#include <array>
#include <memory>

namespace clipwright {

namespace {

constexpr uint64_t kChunkHeaderBytes = 8;
constexpr uint64_t kListHeaderBytes = 12;
constexpr uint64_t kStandardIndexBytes = 32; // an empty one, its chunk header included
constexpr uint64_t kStandardIndexEntryBytes = 8;
constexpr uint64_t kIdx1EntryBytes = 16;
constexpr uint32_t kSuperIndexHeaderBytes = 24;
constexpr uint32_t kSuperIndexEntryBytes = 16;
constexpr uint32_t kExtendedHeaderBytes = 248; // dmlh
constexpr size_t kMainHeaderBytes = 40;        // up to dwHeight, as the structure reads it
constexpr size_t kStreamLengthOffset = 32;
// RIFF sizes are read as signed 32-bit numbers.
constexpr uint64_t kLargestPart = uint64_t{1} << 31;
// Gathered and written in blocks of this size.
constexpr size_t kWriteBlock = size_t{4} << 20;

uint64_t Even(uint64_t value) {
    return value + (value & 1);
}

bool Indexed(const IndexEntry& entry) {
    return (entry.flags & avi::kIndexNoTime) == 0;
}

// Bytes built in memory, chunk by chunk.
class ChunkBuilder {
public:
    std::vector<uint8_t> bytes;

    void Put(std::span<const uint8_t> data) { bytes.insert(bytes.end(), data.begin(), data.end()); }
    void PutFourCC(const FourCC& code) { Put(code.Bytes()); }
    void PutU32(uint32_t value) {
        uint8_t field[4];
        le::WriteU32(field, value);
        Put(field);
    }
    void PutZeros(size_t count) { bytes.insert(bytes.end(), count, 0); }
    // Returns where its size field stands, for End.
    size_t Begin(const FourCC& id) {
        PutFourCC(id);
        PutU32(0);
        return bytes.size() - 4;
    }
    size_t BeginList(const FourCC& type) {
        const size_t sizeField = Begin(fourcc::kList);
        PutFourCC(type);
        return sizeField;
    }
    void End(size_t sizeField) {
        le::WriteU32(bytes.data() + sizeField, static_cast<uint32_t>(bytes.size() - sizeField - 4));
        if (bytes.size() & 1)
            bytes.push_back(0);
    }
    void Chunk(const FourCC& id, std::span<const uint8_t> payload) {
        const size_t sizeField = Begin(id);
        Put(payload);
        End(sizeField);
    }
};

// Where one stream's standard index of one part stands in the copy.
struct IndexPlace {
    uint64_t offset = 0;
    uint32_t bytes = 0;
    uint32_t duration = 0;
};

std::optional<FourCC> ListTypeOf(const ListPiece& piece) {
    if (piece.id != fourcc::kList || piece.payload.size() < 4)
        return std::nullopt;
    return FourCC::FromBytes(piece.payload.data());
}

// The header list of the copy; `places` ([stream][part]) may be empty while only its size is needed,
// which depends on `slots` alone.
std::optional<std::vector<uint8_t>> BuildHeaderList(const AviStructure& structure,
                                                    const OtherRecorderScan& scan,
                                                    std::span<const uint8_t> recorderList, uint32_t slots,
                                                    const std::vector<std::vector<IndexPlace>>& places,
                                                    const std::vector<FourCC>& chunkIds,
                                                    uint32_t firstPartFrames) {
    const auto video = FirstStreamOf(structure, StreamKind::Video);
    ChunkBuilder list;
    const size_t listSize = list.BeginList(fourcc::kHdrl);
    size_t stream = 0;
    bool mainHeader = false;
    for (const ListPiece& piece : PiecesOf(recorderList)) {
        const std::optional<FourCC> type = ListTypeOf(piece);
        if (piece.id == fourcc::kAvih && !mainHeader && piece.payload.size() >= kMainHeaderBytes) {
            std::vector<uint8_t> header(piece.payload.begin(), piece.payload.end());
            le::WriteU32(header.data() + avi::kMainFlagsOffset,
                         (structure.mainFlags | avi::kMainFlagHasIndex) & ~avi::kMainFlagMustUseIndex);
            le::WriteU32(header.data() + avi::kMainTotalFramesOffset,
                         video ? firstPartFrames : structure.totalFrames);
            list.Chunk(fourcc::kAvih, header);
            mainHeader = true;
        } else if (type == fourcc::kStrl) {
            if (stream >= structure.streams.size())
                return std::nullopt;
            const size_t streamList = list.BeginList(fourcc::kStrl);
            bool streamHeader = false;
            for (const ListPiece& inner : PiecesOf(piece.payload.subspan(4))) {
                if (inner.id == fourcc::kIndx || inner.id == fourcc::kJunk)
                    continue;
                if (inner.id == fourcc::kStrh && !streamHeader &&
                    inner.payload.size() >= kStreamLengthOffset + 4) {
                    std::vector<uint8_t> header(inner.payload.begin(), inner.payload.end());
                    le::WriteU32(header.data() + kStreamLengthOffset,
                                 StreamLength(structure.streams[stream], scan.tallies[stream]));
                    list.Chunk(fourcc::kStrh, header);
                    streamHeader = true;
                } else {
                    list.Chunk(inner.id, inner.payload);
                }
            }
            // The super index: every part's standard index of this stream.
            const size_t superIndex = list.Begin(fourcc::kIndx);
            list.PutU32(4); // four longs an entry, an index of indexes
            const uint32_t inUse = places.empty() ? 0 : static_cast<uint32_t>(places[stream].size());
            list.PutU32(inUse);
            list.PutFourCC(chunkIds[stream]);
            list.PutZeros(12);
            for (uint32_t slot = 0; slot < slots; ++slot) {
                if (slot < inUse) {
                    const IndexPlace& place = places[stream][slot];
                    list.PutU32(static_cast<uint32_t>(place.offset));
                    list.PutU32(static_cast<uint32_t>(place.offset >> 32));
                    list.PutU32(place.bytes);
                    list.PutU32(place.duration);
                } else {
                    list.PutZeros(kSuperIndexEntryBytes);
                }
            }
            list.End(superIndex);
            list.End(streamList);
            ++stream;
        } else if (type != fourcc::kOdml && piece.id != fourcc::kJunk) {
            list.Chunk(piece.id, piece.payload);
        }
    }
    if (!mainHeader || stream != structure.streams.size())
        return std::nullopt;
    const size_t extended = list.BeginList(fourcc::kOdml);
    const size_t extendedHeader = list.Begin(fourcc::kDmlh);
    list.PutU32(video ? scan.tallies[*video].chunks : structure.totalFrames);
    list.PutZeros(kExtendedHeaderBytes - 4);
    list.End(extendedHeader);
    list.End(extended);
    list.End(listSize);
    return list.bytes;
}

uint64_t PartPrefix(size_t part, size_t headerListBytes) {
    return part == 0 ? kListHeaderBytes + headerListBytes + kListHeaderBytes : 2 * kListHeaderBytes;
}

uint64_t IndexBytes(const CopyPart& part, bool first) {
    uint64_t bytes = 0;
    for (const StreamTally& tally : part.streams)
        bytes += kStandardIndexBytes + kStandardIndexEntryBytes * tally.chunks;
    if (first)
        bytes += kChunkHeaderBytes + kIdx1EntryBytes * (part.endEntry - part.firstEntry);
    return bytes;
}

// The parts, each as large as `partSize` allows with its indexes; nothing when a chunk makes even a
// part of its own too large.
std::optional<std::vector<CopyPart>> SplitIntoParts(const IndexEntryList& entries, size_t streams,
                                                    size_t headerListBytes, uint64_t partSize) {
    std::vector<CopyPart> parts;
    CopyPart part;
    part.streams.assign(streams, {});
    auto size = [&](const CopyPart& candidate, size_t number) {
        return PartPrefix(number, headerListBytes) + candidate.chunkBytes +
               IndexBytes(candidate, number == 0);
    };
    for (size_t index = 0; index < entries.size(); ++index) {
        const IndexEntry& entry = entries[index];
        const size_t stream = StreamNumberOf(entry.chunkId);
        const uint64_t chunkBytes = kChunkHeaderBytes + Even(entry.size);
        const uint64_t grows = chunkBytes + (Indexed(entry) ? kStandardIndexEntryBytes : 0) +
                               (parts.empty() ? kIdx1EntryBytes : 0);
        if (part.endEntry > part.firstEntry && size(part, parts.size()) + grows >= partSize) {
            part.size = size(part, parts.size());
            const uint64_t next = part.offset + part.size;
            parts.push_back(std::move(part));
            part = CopyPart{};
            part.offset = next;
            part.firstEntry = part.endEntry = index;
            part.streams.assign(streams, {});
        }
        part.chunkBytes += chunkBytes;
        part.endEntry = index + 1;
        if (Indexed(entry)) {
            ++part.streams[stream].chunks;
            part.streams[stream].bytes += entry.size;
        }
        if (size(part, parts.size()) >= kLargestPart)
            return std::nullopt;
    }
    part.size = size(part, parts.size());
    parts.push_back(std::move(part));
    return parts;
}

// Writes in large blocks: one system call per chunk would cost more than copying the bytes. The
// block is left uninitialised: payloads are read straight into it.
class BlockWriter {
public:
    explicit BlockWriter(SourceFile& file) : file_(file), block_(new uint8_t[kWriteBlock]) {}
    void Put(std::span<const uint8_t> data) {
        if (used_ + data.size() > kWriteBlock)
            Flush();
        if (data.size() >= kWriteBlock) {
            file_.Write(data.data(), data.size());
            return;
        }
        std::copy(data.begin(), data.end(), block_.get() + used_);
        used_ += data.size();
    }
    void PutU32(uint32_t value) {
        uint8_t field[4];
        le::WriteU32(field, value);
        Put(field);
    }
    void PutFourCC(const FourCC& code) { Put(code.Bytes()); }
    // Room for `count` bytes (at most a block) at the end of the block, to be read into.
    uint8_t* Reserve(size_t count) {
        if (used_ + count > kWriteBlock)
            Flush();
        uint8_t* room = block_.get() + used_;
        used_ += count;
        return room;
    }
    void Flush() {
        if (used_ > 0)
            file_.Write(block_.get(), used_);
        used_ = 0;
    }

private:
    SourceFile& file_;
    std::unique_ptr<uint8_t[]> block_;
    size_t used_ = 0;
};

// Payloads this large are read straight into the output's block; smaller ones through a read-ahead
// block, so that a run of short chunks costs one read.
constexpr size_t kDirectRead = size_t{64} << 10;

void ReadWhole(ByteSource& recording, uint64_t position, uint8_t* buffer, size_t count) {
    // The inspection saw these bytes: a recording that no longer holds them was changed.
    if (recording.ReadAt(position, buffer, count) < count)
        throw FileError(filecause::kEndOfFile, 0, "");
}

// Copies one chunk: a header of its own, the payload, a zero pad byte after an odd one.
void CopyChunk(ByteSource& recording, ReadAhead& shortReads, BlockWriter& out, const IndexEntry& entry,
               uint64_t position) {
    out.PutFourCC(entry.chunkId);
    out.PutU32(entry.size);
    ByteSource& source = entry.size >= kDirectRead ? recording : static_cast<ByteSource&>(shortReads);
    uint64_t copied = 0;
    while (copied < entry.size) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(entry.size - copied, kWriteBlock));
        ReadWhole(source, position + kChunkHeaderBytes + copied, out.Reserve(piece), piece);
        copied += piece;
    }
    if (entry.size & 1)
        out.Put(std::span<const uint8_t>(std::array<uint8_t, 1>{0}));
}

} // namespace

std::optional<OpenDmlCopyLayout> LayOutOpenDmlCopy(const AviStructure& structure,
                                                   const OtherRecorderScan& scan,
                                                   const IndexEntryList& entries,
                                                   std::span<const uint8_t> headerList, uint64_t partSize) {
    const size_t streams = structure.streams.size();
    std::vector<FourCC> chunkIds;
    for (size_t number = 0; number < streams; ++number)
        chunkIds.push_back(ChunkIdOf(structure.streams[number], number, entries));

    // The header's size follows from the number of parts and the parts from its size: more slots
    // only ever need as many parts or more, so this settles in a few rounds.
    uint32_t slots = 1;
    size_t headerBytes = 0;
    std::vector<CopyPart> parts;
    for (;;) {
        const auto sized = BuildHeaderList(structure, scan, headerList, slots, {}, chunkIds, 0);
        if (!sized)
            return std::nullopt;
        headerBytes = sized->size();
        auto split = SplitIntoParts(entries, streams, headerBytes, partSize);
        if (!split)
            return std::nullopt;
        parts = std::move(*split);
        if (parts.size() <= slots)
            break;
        slots = static_cast<uint32_t>(parts.size());
    }

    OpenDmlCopyLayout layout;
    if (const auto video = FirstStreamOf(structure, StreamKind::Video))
        layout.firstPartFrames = parts.front().streams[*video].chunks;
    std::vector<std::vector<IndexPlace>> places(streams);
    for (size_t number = 0; number < parts.size(); ++number) {
        const CopyPart& part = parts[number];
        uint64_t at = part.offset + PartPrefix(number, headerBytes) + part.chunkBytes;
        for (size_t stream = 0; stream < streams; ++stream) {
            const uint64_t bytes =
                kStandardIndexBytes + kStandardIndexEntryBytes * part.streams[stream].chunks;
            places[stream].push_back({at, static_cast<uint32_t>(bytes),
                                      StreamLength(structure.streams[stream], part.streams[stream])});
            at += bytes;
        }
    }
    // The same number of slots: the same size as the one the parts were laid out with.
    auto built =
        BuildHeaderList(structure, scan, headerList, slots, places, chunkIds, layout.firstPartFrames);
    layout.headerList = std::move(*built);
    layout.fileSize = parts.back().offset + parts.back().size;
    layout.parts = std::move(parts);
    return layout;
}

void WriteOpenDmlCopy(ByteSource& recording, SourceFile& output, const AviStructure& structure,
                      const IndexEntryList& entries, const OpenDmlCopyLayout& layout) {
    const size_t streams = structure.streams.size();
    std::vector<FourCC> chunkIds;
    for (size_t number = 0; number < streams; ++number)
        chunkIds.push_back(ChunkIdOf(structure.streams[number], number, entries));
    BlockWriter out(output);
    ReadAhead shortReads(recording);
    ChunkPositions positions(structure.MoviTypePosition());
    IndexEntryList firstPartIndex;
    for (size_t number = 0; number < layout.parts.size(); ++number) {
        const CopyPart& part = layout.parts[number];
        const bool first = number == 0;
        out.PutFourCC(fourcc::kRiff);
        out.PutU32(static_cast<uint32_t>(part.size - kChunkHeaderBytes));
        out.PutFourCC(first ? fourcc::kAvi : fourcc::kAvix);
        if (first)
            out.Put(layout.headerList);
        const uint64_t moviList =
            part.offset + PartPrefix(number, layout.headerList.size()) - kListHeaderBytes;
        out.PutFourCC(fourcc::kList);
        out.PutU32(static_cast<uint32_t>(4 + part.chunkBytes + IndexBytes(part, false)));
        out.PutFourCC(fourcc::kMovi);

        std::vector<std::vector<PartChunk>> own(streams);
        uint64_t at = moviList + kListHeaderBytes;
        for (size_t index = part.firstEntry; index < part.endEntry; ++index) {
            const IndexEntry& entry = entries[index];
            CopyChunk(recording, shortReads, out, entry, positions.Next(entry));
            if (Indexed(entry))
                own[StreamNumberOf(entry.chunkId)].push_back({&entry, at});
            if (first)
                firstPartIndex.push_back({entry.chunkId, entry.flags,
                                          static_cast<uint32_t>(at - moviList - kChunkHeaderBytes),
                                          entry.size});
            at += kChunkHeaderBytes + Even(entry.size);
        }
        for (size_t stream = 0; stream < streams; ++stream)
            out.Put(BuildStandardIndex(structure.streams[stream], stream, chunkIds[stream], own[stream],
                                       part.offset)
                        .bytes);
        if (first) {
            out.PutFourCC(fourcc::kIdx1);
            out.PutU32(static_cast<uint32_t>(kIdx1EntryBytes * firstPartIndex.size()));
            for (const IndexEntry& entry : firstPartIndex) {
                out.PutFourCC(entry.chunkId);
                out.PutU32(entry.flags);
                out.PutU32(entry.offset);
                out.PutU32(entry.size);
            }
            firstPartIndex.clear();
        }
    }
    out.Flush();
}

} // namespace clipwright
