#include "repair/WriterKeyFlags.h"

#include "avi/ChunkReader.h"
#include "avi/LittleEndian.h"

#include <algorithm>
#include <array>

namespace clipwright {

namespace {

constexpr uint64_t kIdx1EntryBytes = 16;
constexpr uint64_t kStandardIndexHeaderBytes = 24; // after the chunk header
constexpr uint8_t kIndexOfChunks = 1;
constexpr size_t kEntriesPerRead = 4096;

// The stream a chunk id's two digits name, or nothing for an id without them.
std::optional<size_t> StreamOf(const FourCC& id, const std::vector<bool>& wanted) {
    const auto& bytes = id.Bytes();
    if (bytes[0] < '0' || bytes[0] > '9' || bytes[1] < '0' || bytes[1] > '9')
        return std::nullopt;
    const auto number = static_cast<size_t>((bytes[0] - '0') * 10 + (bytes[1] - '0'));
    if (number >= wanted.size() || !wanted[number])
        return std::nullopt;
    return number;
}

bool ChunkIdAt(ByteSource& file, uint64_t position, const FourCC& id) {
    uint8_t bytes[4];
    return file.ReadAt(position, bytes, sizeof bytes) == sizeof bytes && FourCC::FromBytes(bytes) == id;
}

} // namespace

WriterKeyFlags::WriterKeyFlags(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                               const std::vector<uint64_t>& indexes, const std::vector<bool>& wanted) {
    for (const uint64_t position : indexes) {
        const ChunkHeader header = ReadChunkHeader(file, position, 0);
        if (!header.SizeWhole())
            continue;
        // What the file holds of it: a writer cut off while writing an index leaves its first entries.
        const uint64_t end = std::min(header.End(), fileSize);
        if (header.id == fourcc::kIdx1)
            ReadIdx1(file, header.PayloadStart(), end, structure.MoviTypePosition(), wanted);
        else
            ReadStandardIndex(file, header.PayloadStart(), end, wanted);
    }
    std::sort(flags_.begin(), flags_.end());
}

std::optional<bool> WriterKeyFlags::KeyAt(uint64_t position) const {
    const auto found = std::lower_bound(flags_.begin(), flags_.end(), std::pair(position, false));
    if (found == flags_.end() || found->first != position)
        return std::nullopt;
    return found->second;
}

void WriterKeyFlags::ReadIdx1(ByteSource& file, uint64_t position, uint64_t entriesEnd, uint64_t moviType,
                              const std::vector<bool>& wanted) {
    std::array<uint8_t, kIdx1EntryBytes * kEntriesPerRead> block{};
    std::optional<uint64_t> base;
    for (uint64_t at = position; at + kIdx1EntryBytes <= entriesEnd;) {
        const auto byteCount = static_cast<size_t>(
            std::min<uint64_t>(block.size(), (entriesEnd - at) / kIdx1EntryBytes * kIdx1EntryBytes));
        const size_t got = file.ReadAt(at, block.data(), byteCount) / kIdx1EntryBytes * kIdx1EntryBytes;
        if (got == 0)
            return;
        for (size_t slot = 0; slot < got; slot += kIdx1EntryBytes) {
            const FourCC id = FourCC::FromBytes(block.data() + slot);
            const uint32_t offset = le::ReadU32(block.data() + slot + 8);
            // Offsets count from the movi list's type, or from the start of the file: the first entry
            // says which, as readers take it.
            if (!base) {
                if (ChunkIdAt(file, moviType + offset, id))
                    base = moviType;
                else if (ChunkIdAt(file, offset, id))
                    base = 0;
                else
                    return;
            }
            if (StreamOf(id, wanted))
                flags_.emplace_back(*base + offset,
                                    (le::ReadU32(block.data() + slot + 4) & avi::kIndexKeyFrame) != 0);
        }
        at += got;
    }
}

void WriterKeyFlags::ReadStandardIndex(ByteSource& file, uint64_t position, uint64_t payloadEnd,
                                       const std::vector<bool>& wanted) {
    uint8_t header[kStandardIndexHeaderBytes];
    if (position + sizeof header > payloadEnd || file.ReadAt(position, header, sizeof header) < sizeof header)
        return;
    const uint16_t longsPerEntry = le::ReadU16(header);
    const FourCC chunkId = FourCC::FromBytes(header + 8);
    if (longsPerEntry < 2 || header[3] != kIndexOfChunks || !StreamOf(chunkId, wanted))
        return;
    const uint32_t inUse = le::ReadU32(header + 4);
    const uint64_t base = le::ReadU32(header + 12) | uint64_t{le::ReadU32(header + 16)} << 32;
    const size_t entryBytes = size_t{longsPerEntry} * 4;
    std::vector<uint8_t> block(entryBytes * kEntriesPerRead);
    uint64_t at = position + sizeof header;
    for (uint32_t entry = 0; entry < inUse && at + entryBytes <= payloadEnd;) {
        const auto count = static_cast<size_t>(
            std::min<uint64_t>({kEntriesPerRead, inUse - entry, (payloadEnd - at) / entryBytes}));
        const size_t got = file.ReadAt(at, block.data(), count * entryBytes) / entryBytes;
        if (got == 0)
            return;
        for (size_t slot = 0; slot < got; ++slot) {
            const uint8_t* fields = block.data() + slot * entryBytes;
            // The offset is of the payload; the size's top bit marks a delta frame.
            const uint64_t payload = base + le::ReadU32(fields);
            if (payload >= 8)
                flags_.emplace_back(payload - 8,
                                    (le::ReadU32(fields + 4) & avi::kStandardIndexDeltaFrame) == 0);
        }
        entry += static_cast<uint32_t>(got);
        at += got * entryBytes;
    }
}

} // namespace clipwright
