#include "repair/IndexWriting.h"

#include "avi/LittleEndian.h"

#include <algorithm>
#include <array>

namespace clipwright {

void WriteU32At(SourceFile& file, uint64_t position, uint32_t value) {
    uint8_t bytes[4];
    le::WriteU32(bytes, value);
    file.Seek(static_cast<int64_t>(position), SeekFrom::Begin);
    file.Write(bytes, sizeof bytes);
}

void WriteFourCCAt(SourceFile& file, uint64_t position, const FourCC& code) {
    file.Seek(static_cast<int64_t>(position), SeekFrom::Begin);
    file.Write(code.Bytes().data(), code.Bytes().size());
}

uint64_t CoverRest(SourceFile& file, uint64_t position, uint64_t fileSize) {
    if (fileSize <= position)
        return position;
    const uint64_t rest = fileSize - position;
    const auto filler = static_cast<uint32_t>(rest >= 8 ? rest - 8 : 0);
    WriteFourCCAt(file, position, fourcc::kJunk);
    WriteU32At(file, position + 4, filler);
    uint64_t end = position + 8 + filler;
    if (filler % 2 == 1) {
        const uint8_t pad = 0;
        file.Seek(static_cast<int64_t>(end), SeekFrom::Begin);
        file.Write(&pad, 1);
        end += 1;
    }
    return end;
}

void CoverDamage(SourceFile& file, const WalkSummary& walk) {
    for (const DamagedStretch& stretch : walk.damaged) {
        if (stretch.bytes < 8)
            continue;
        WriteFourCCAt(file, stretch.offset, fourcc::kJunk);
        WriteU32At(file, stretch.offset + 4,
                   static_cast<uint32_t>(std::min<uint64_t>(stretch.bytes - 8, 0x7FFFFFFFu)));
    }
}

uint64_t WriteIdx1(SourceFile& file, uint64_t position, const std::deque<IndexEntry>& entries) {
    std::array<uint8_t, 64 * 1024> buffer{};
    size_t used = 0;
    auto flush = [&] {
        file.Write(buffer.data(), used);
        used = 0;
    };
    file.Seek(static_cast<int64_t>(position), SeekFrom::Begin);
    std::copy(fourcc::kIdx1.Bytes().begin(), fourcc::kIdx1.Bytes().end(), buffer.begin());
    le::WriteU32(buffer.data() + 4, static_cast<uint32_t>(entries.size() * 16));
    used = 8;
    for (const IndexEntry& entry : entries) {
        if (used + 16 > buffer.size())
            flush();
        uint8_t* slot = buffer.data() + used;
        std::copy(entry.chunkId.Bytes().begin(), entry.chunkId.Bytes().end(), slot);
        le::WriteU32(slot + 4, entry.flags);
        le::WriteU32(slot + 8, entry.offset);
        le::WriteU32(slot + 12, entry.size);
        used += 16;
    }
    flush();
    return position + 8 + entries.size() * 16;
}

} // namespace clipwright
