#include "avi/AviStructure.h"

#include "avi/LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace clipwright {

namespace {

constexpr size_t kChunkHeaderBytes = 8;
constexpr size_t kListHeaderBytes = 12;
constexpr size_t kMainHeaderBytes = 40;   // up to dwHeight
constexpr size_t kStreamHeaderBytes = 48; // up to dwSampleSize
constexpr size_t kStreamLengthOffset = 32;
// Recorders put a few chunks between the header list and the movi list (JUNK, LIST INFO, an
// OpenDML placeholder); a walk that finds none within this many is not in an AVI header.
constexpr int kMostChunksBeforeMovi = 64;
constexpr size_t kSuperIndexHeaderBytes = 24;
constexpr size_t kSuperIndexEntryBytes = 16;
constexpr size_t kStandardIndexHeaderBytes = 32; // its chunk header included
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
constexpr uint32_t kEntrySizeMask = 0x7FFFFFFF; // the top bit marks a delta frame

uint64_t Padded(uint64_t size) {
    return size + (size & 1);
}

std::optional<FourCC> ListType(const ListPiece& piece) {
    if (piece.id != fourcc::kList || piece.payload.size() < 4)
        return std::nullopt;
    return FourCC::FromBytes(piece.payload.data());
}

StreamKind KindOf(const FourCC& type) {
    if (type == fourcc::kVids)
        return StreamKind::Video;
    if (type == fourcc::kAuds)
        return StreamKind::Audio;
    if (type == fourcc::kTxts)
        return StreamKind::Text;
    return StreamKind::Other;
}

// The entries an index of indexes holds, as far as its chunk holds them; none are trusted yet.
SuperIndexInfo ReadSuperIndex(std::span<const uint8_t> payload, uint64_t position) {
    SuperIndexInfo index;
    index.position = position;
    index.size = static_cast<uint32_t>(payload.size());
    index.declaredEntries = le::ReadU32(payload, 4);
    if (payload.size() < kSuperIndexHeaderBytes || le::ReadU16(payload, 0) != 4 ||
        payload[3] != kIndexOfIndexes)
        return index;
    const size_t held = (payload.size() - kSuperIndexHeaderBytes) / kSuperIndexEntryBytes;
    for (size_t slot = 0; slot < std::min<size_t>(index.declaredEntries, held); ++slot) {
        const size_t at = kSuperIndexHeaderBytes + slot * kSuperIndexEntryBytes;
        SuperIndexEntry entry;
        entry.offset = le::ReadU32(payload, at) | uint64_t{le::ReadU32(payload, at + 4)} << 32;
        index.entries.push_back(entry);
    }
    return index;
}

bool OfStream(const uint8_t* digits, size_t number) {
    return digits[0] == '0' + number / 10 && digits[1] == '0' + number % 10;
}

// True when `entry` points at an ix## of stream `number` that lies whole inside the file, and the
// first and last chunks it lists are chunks of that stream inside the file; fills in what it read.
bool ReadStandardIndex(ByteSource& file, uint64_t fileSize, size_t number, SuperIndexEntry& entry) {
    uint8_t header[kStandardIndexHeaderBytes];
    if (fileSize < sizeof header || entry.offset > fileSize - sizeof header ||
        file.ReadAt(entry.offset, header, sizeof header) < sizeof header)
        return false;
    const uint32_t size = le::ReadU32(header + 4);
    const uint32_t chunks = le::ReadU32(header + 12);
    const uint64_t base = le::ReadU32(header + 20) | uint64_t{le::ReadU32(header + 24)} << 32;
    const uint64_t bodyBytes = kStandardIndexHeaderBytes - kChunkHeaderBytes;
    if (header[0] != 'i' || header[1] != 'x' || !OfStream(header + 2, number) ||
        le::ReadU16(header + 8) != 2 || header[11] != kIndexOfChunks || !OfStream(header + 16, number) ||
        size > fileSize - entry.offset - kChunkHeaderBytes || size < bodyBytes ||
        uint64_t{chunks} * 8 > size - bodyBytes || base >= fileSize)
        return false;
    const uint64_t slots[] = {0, chunks - uint64_t{1}};
    for (size_t i = 0; chunks > 0 && i < 2; ++i) {
        uint8_t pair[8];
        uint8_t chunk[kChunkHeaderBytes];
        if (file.ReadAt(entry.offset + kStandardIndexHeaderBytes + slots[i] * 8, pair, sizeof pair) <
            sizeof pair)
            return false;
        const uint64_t payload = base + le::ReadU32(pair);
        const uint32_t bytes = le::ReadU32(pair + 4) & kEntrySizeMask;
        if (payload < kChunkHeaderBytes || payload > fileSize || bytes > fileSize - payload ||
            file.ReadAt(payload - kChunkHeaderBytes, chunk, sizeof chunk) < sizeof chunk ||
            !OfStream(chunk, number) || le::ReadU32(chunk + 4) != bytes)
            return false;
    }
    entry.chunkEnd = entry.offset + kChunkHeaderBytes + size;
    entry.chunkId = FourCC::FromBytes(header + 16);
    entry.chunks = chunks;
    return true;
}

// Keeps the entries every stream's super index has and that each point at a standard index of
// their own stream. A stream without a super index beside ones with leaves none trusted.
void TrustSuperIndexes(ByteSource& file, uint64_t fileSize, AviStructure& structure) {
    size_t trusted = std::numeric_limits<size_t>::max();
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        std::optional<SuperIndexInfo>& index = structure.streams[number].superIndex;
        size_t leading = 0;
        while (index && leading < std::min(trusted, index->entries.size()) &&
               ReadStandardIndex(file, fileSize, number, index->entries[leading]))
            ++leading;
        trusted = std::min(trusted, leading);
    }
    for (StreamInfo& stream : structure.streams)
        if (stream.superIndex) {
            stream.superIndex->entries.resize(std::min(trusted, stream.superIndex->entries.size()));
            stream.superIndex->entriesInUse = static_cast<uint32_t>(stream.superIndex->entries.size());
        }
}

// A stream list: its header and format are required, a super index is noted.
std::optional<StreamInfo> ReadStreamList(std::span<const uint8_t> body, uint64_t bodyPosition) {
    StreamInfo stream;
    bool haveHeader = false;
    bool haveFormat = false;
    for (const ListPiece& piece : PiecesOf(body)) {
        const uint64_t payloadPosition = bodyPosition + piece.offset;
        if (piece.id == fourcc::kStrh && piece.payload.size() >= kStreamHeaderBytes && !haveHeader) {
            stream.type = FourCC::FromBytes(piece.payload.data());
            stream.handler = FourCC::FromBytes(piece.payload.data() + 4);
            stream.scale = le::ReadU32(piece.payload, 20);
            stream.rate = le::ReadU32(piece.payload, 24);
            stream.length = le::ReadU32(piece.payload, kStreamLengthOffset);
            stream.sampleSize = le::ReadU32(piece.payload, 44);
            stream.lengthPosition = payloadPosition + kStreamLengthOffset;
            stream.kind = KindOf(stream.type);
            haveHeader = true;
        } else if (piece.id == fourcc::kStrf && haveHeader && !haveFormat) {
            stream.format.assign(piece.payload.begin(),
                                 piece.payload.begin() + static_cast<ptrdiff_t>(std::min(piece.payload.size(),
                                                                                         kKeptFormatBytes)));
            if (stream.kind == StreamKind::Video && piece.payload.size() >= 20) {
                stream.compression = FourCC::FromBytes(piece.payload.data() + 16);
                stream.width = le::ReadU32(piece.payload, 4);
                // A negative height only says the rows are stored top down.
                const int64_t height = le::ReadI32(piece.payload, 8);
                stream.height = static_cast<uint32_t>(height < 0 ? -height : height);
            } else if (stream.kind == StreamKind::Audio && piece.payload.size() >= 2) {
                stream.formatTag = le::ReadU16(piece.payload, 0);
                if (piece.payload.size() >= 8) {
                    stream.channels = le::ReadU16(piece.payload, 2);
                    stream.sampleRate = le::ReadU32(piece.payload, 4);
                }
                if (piece.payload.size() >= 14)
                    stream.blockAlign = le::ReadU16(piece.payload, 12);
                if (piece.payload.size() >= 20)
                    stream.samplesPerBlock = le::ReadU16(piece.payload, 18);
            }
            haveFormat = true;
        } else if (piece.id == fourcc::kIndx && piece.payload.size() >= 8) {
            stream.superIndex = ReadSuperIndex(piece.payload, payloadPosition - kChunkHeaderBytes);
        }
    }
    if (!haveHeader || !haveFormat)
        return std::nullopt;
    return stream;
}

// The header list: the main header, the stream lists it names, and the OpenDML header if any.
bool ReadHeaderList(std::span<const uint8_t> body, uint64_t bodyPosition, AviStructure& structure) {
    std::optional<uint32_t> declaredStreams;
    for (const ListPiece& piece : PiecesOf(body)) {
        const uint64_t payloadPosition = bodyPosition + piece.offset;
        if (piece.id == fourcc::kAvih && piece.payload.size() >= kMainHeaderBytes && !declaredStreams) {
            structure.mainHeaderPosition = payloadPosition;
            structure.mainFlags = le::ReadU32(piece.payload, avi::kMainFlagsOffset);
            structure.totalFrames = le::ReadU32(piece.payload, avi::kMainTotalFramesOffset);
            declaredStreams = le::ReadU32(piece.payload, 24);
            continue;
        }
        const std::optional<FourCC> type = ListType(piece);
        if (type == fourcc::kStrl) {
            if (!declaredStreams || structure.streams.size() >= kMostStreams)
                return false;
            auto stream = ReadStreamList(piece.payload.subspan(4), payloadPosition + 4);
            if (!stream)
                return false;
            structure.streams.push_back(*stream);
        } else if (type == fourcc::kOdml) {
            for (const ListPiece& inner : PiecesOf(piece.payload.subspan(4)))
                if (inner.id == fourcc::kDmlh && inner.payload.size() >= 4) {
                    structure.extendedTotalFramesPosition = payloadPosition + 4 + inner.offset;
                    structure.extendedTotalFrames = le::ReadU32(inner.payload, 0);
                }
        }
    }
    return declaredStreams && *declaredStreams >= 1 && *declaredStreams == structure.streams.size();
}

} // namespace

std::vector<ListPiece> PiecesOf(std::span<const uint8_t> body) {
    std::vector<ListPiece> pieces;
    size_t position = 0;
    while (position + kChunkHeaderBytes <= body.size()) {
        const uint32_t size = le::ReadU32(body, position + 4);
        if (size > body.size() - position - kChunkHeaderBytes)
            break;
        pieces.push_back({FourCC::FromBytes(body.data() + position), position + kChunkHeaderBytes,
                          body.subspan(position + kChunkHeaderBytes, size)});
        position += kChunkHeaderBytes + Padded(size);
    }
    return pieces;
}

size_t MemorySource::ReadAt(uint64_t position, void* buffer, size_t count) {
    // An empty buffer may have no address at all, which memcpy must not be given.
    if (position >= bytes_.size() || count == 0)
        return 0;
    const size_t available = std::min<uint64_t>(count, bytes_.size() - position);
    std::memcpy(buffer, bytes_.data() + position, available);
    return available;
}

std::optional<AviStructure> ReadAviStructure(ByteSource& file, uint64_t fileSize) {
    uint8_t riff[kListHeaderBytes];
    if (file.ReadAt(0, riff, sizeof riff) < sizeof riff || FourCC::FromBytes(riff) != fourcc::kRiff ||
        FourCC::FromBytes(riff + 8) != fourcc::kAvi)
        return std::nullopt;
    AviStructure structure;
    structure.riffSize = le::ReadU32(riff + 4);

    bool haveHeaderList = false;
    uint64_t position = kListHeaderBytes;
    for (int chunks = 0; chunks < kMostChunksBeforeMovi; ++chunks) {
        uint8_t header[kListHeaderBytes];
        const size_t got = file.ReadAt(position, header, sizeof header);
        if (got < kChunkHeaderBytes)
            return std::nullopt;
        const FourCC id = FourCC::FromBytes(header);
        const uint32_t size = le::ReadU32(header + 4);
        const bool isList = id == fourcc::kList && got == kListHeaderBytes;
        if (isList && FourCC::FromBytes(header + 8) == fourcc::kMovi) {
            if (!haveHeaderList)
                return std::nullopt;
            structure.moviListPosition = position;
            structure.moviListSize = size;
            const uint64_t riffEnd = Padded(uint64_t{structure.riffSize} + 8);
            uint8_t part[kListHeaderBytes];
            if (riffEnd > position && file.ReadAt(riffEnd, part, sizeof part) == sizeof part &&
                FourCC::FromBytes(part) == fourcc::kRiff && FourCC::FromBytes(part + 8) == fourcc::kAvix)
                structure.secondPart = riffEnd;
            TrustSuperIndexes(file, fileSize, structure);
            return structure;
        }
        // Everything before the movi list was written whole before any footage.
        if (size > fileSize - position - kChunkHeaderBytes)
            return std::nullopt;
        if (isList && FourCC::FromBytes(header + 8) == fourcc::kHdrl) {
            if (haveHeaderList || size < 4 || size > kLargestHeaderList)
                return std::nullopt;
            // With its pad byte: writers that give the list an odd size count its last chunk's pad
            // byte in that chunk but not in the list.
            std::vector<uint8_t> body(Padded(size) - 4);
            if (file.ReadAt(position + kListHeaderBytes, body.data(), body.size()) < body.size() ||
                !ReadHeaderList(body, position + kListHeaderBytes, structure))
                return std::nullopt;
            structure.headerListPosition = position;
            structure.headerListSize = static_cast<uint32_t>(Padded(size));
            haveHeaderList = true;
        }
        position += kChunkHeaderBytes + Padded(size);
    }
    return std::nullopt;
}

} // namespace clipwright
