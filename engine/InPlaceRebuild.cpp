// Repairs a recording whose header block survived: walks the movi chunks, patches the header
// counts and sizes, and appends a fresh idx1 index padded to a multiple of 2048 bytes.
#include "CAviFixer.h"

#include "ChunkReader.h"
#include "LittleEndian.h"
#include "Messages.h"
#include "OutputNaming.h"
#include "RecordingLayout.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

namespace clipwright {

namespace {

enum class ChunkKind { Stop, Video, Audio, Unknown };

ChunkKind KindOf(const FourCC& id) {
    using namespace fourcc;
    if (id == kIdx1 || id == kJunk)
        return ChunkKind::Stop;
    if (id == kVideo00db || id == kVideo00dc || id == kVideo01db || id == kVideo01dc)
        return ChunkKind::Video;
    if (id == kAudio00wb || id == kAudio01wb)
        return ChunkKind::Audio;
    return ChunkKind::Unknown;
}

bool IsIndexedChunk(const FourCC& id) {
    ChunkKind kind = KindOf(id);
    return kind == ChunkKind::Video || kind == ChunkKind::Audio;
}

// An MPEG-4 video object start code opens every key frame the camera writes.
bool StartsKeyFrame(const ChunkHeader& header) {
    static constexpr std::array<uint8_t, 4> kVideoObjectStart = {0x00, 0x00, 0x01, 0x00};
    return header.prefixBytes == 4 && header.prefix == kVideoObjectStart;
}

struct ScanResult {
    uint64_t dataEnd = 0;
    uint32_t allChunks = 0;
    uint32_t videoChunks = 0;
    uint32_t audioChunks = 0;
};

// Steps over data that is no known chunk, four bytes at a time, through a window so that a long
// stretch costs one read per window rather than one per word. Returns the position of the next
// known id, or of the file's last incomplete word.
uint64_t SkipUnknownWords(SourceFile& file, uint64_t position) {
    std::vector<uint8_t> window(64 * 1024);
    for (;;) {
        size_t got = file.ReadAt(position, window.data(), window.size());
        size_t offset = 0;
        for (; offset + 4 <= got; offset += 4) {
            // Every known id begins '0', 'i' or 'J': most words are passed over on one byte.
            const uint8_t first = window[offset];
            if (first != '0' && first != 'i' && first != 'J')
                continue;
            if (KindOf(FourCC::FromBytes(window.data() + offset)) != ChunkKind::Unknown)
                return position + offset;
        }
        if (got < window.size())
            return position + offset;
        position += offset;
    }
}

ScanResult ScanChunks(SourceFile& file, IndexEntryList& entries) {
    const uint64_t fileSize = file.Length();
    ScanResult scan;
    uint64_t position = layout::kFirstChunk;
    for (;;) {
        ChunkHeader header = ReadChunkHeader(file, position, 4);
        if (!header.IdWhole()) {
            scan.dataEnd = position + header.headerBytes;
            break;
        }
        ChunkKind kind = KindOf(header.id);
        if (kind == ChunkKind::Stop) {
            if (auto media = MediaChunkBehind(file, header, fileSize, IsIndexedChunk)) {
                position = *media;
                continue;
            }
            scan.dataEnd = position; // the new index takes the old one's place
            break;
        }
        if (kind == ChunkKind::Unknown) {
            position = SkipUnknownWords(file, position + 4);
            continue;
        }
        // A header the file cuts short, or a size no camera writes: nothing behind it can be
        // trusted, so the index goes behind everything and overwrites nothing.
        if (!header.SizeWhole() || JudgeChunk(header, fileSize) == ChunkFit::Implausible) {
            scan.dataEnd = fileSize;
            break;
        }
        IndexEntry entry;
        entry.chunkId = header.id;
        entry.offset = static_cast<uint32_t>(position - layout::kMoviBase);
        entry.size = header.size;
        ++scan.allChunks;
        if (kind == ChunkKind::Audio) {
            ++scan.audioChunks;
            entry.flags = layout::kIndexKeyFrame;
        } else {
            ++scan.videoChunks;
            entry.flags = StartsKeyFrame(header) ? layout::kIndexKeyFrame : 0;
        }
        entries.push_back(entry);
        // A cut-off last chunk ends beyond the file; the index is then written there.
        position = header.End();
    }
    return scan;
}

void WriteU32At(SourceFile& file, uint32_t position, uint32_t value) {
    uint8_t bytes[4];
    le::WriteU32(bytes, value);
    file.Seek(position, SeekFrom::Begin);
    file.Write(bytes, sizeof bytes);
}

void PatchHeader(SourceFile& file, const ScanResult& scan) {
    WriteU32At(file, layout::kMoviSize, static_cast<uint32_t>(scan.dataEnd - layout::kMoviBase));
    WriteU32At(file, layout::kMainFlags, layout::kMainFlagsIndexed);
    WriteU32At(file, layout::kMainTotalFrames, scan.allChunks);
    WriteU32At(file, layout::kVideoLength, scan.videoChunks);
    uint8_t streamType[4] = {};
    file.Seek(layout::kSecondStreamType, SeekFrom::Begin);
    bool audioHeaderInPlace = file.Read(streamType, sizeof streamType) == sizeof streamType &&
                              FourCC::FromBytes(streamType) == fourcc::kAuds;
    WriteU32At(file, audioHeaderInPlace ? layout::kAudioLength : layout::kAudioLengthShifted,
               scan.audioChunks * layout::kAudioLengthPerChunk);
}

// Length of the JUNK chunk that makes the file end on a multiple of 2048. When less than its own
// 8-byte header would remain, it reaches the multiple after the next.
uint32_t FillerLength(uint64_t indexEnd) {
    uint32_t filler = layout::kPadUnit - static_cast<uint32_t>(indexEnd % layout::kPadUnit);
    return filler < 8 ? filler + layout::kPadUnit : filler;
}

// Writes idx1 and the JUNK filler at `dataEnd` through a fixed buffer; returns the idx1 end.
uint64_t WriteIndex(SourceFile& file, uint64_t dataEnd, const IndexEntryList& entries) {
    std::array<uint8_t, 64 * 1024> buffer{};
    size_t used = 0;
    auto flush = [&] {
        file.Write(buffer.data(), used);
        used = 0;
    };
    auto put = [&](const FourCC& id, uint32_t value) {
        if (used + 8 > buffer.size())
            flush();
        std::copy(id.Bytes().begin(), id.Bytes().end(), buffer.begin() + static_cast<ptrdiff_t>(used));
        le::WriteU32(buffer.data() + used + 4, value);
        used += 8;
    };

    file.Seek(static_cast<int64_t>(dataEnd), SeekFrom::Begin);
    put(fourcc::kIdx1, static_cast<uint32_t>(entries.size() * 16));
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
    const uint64_t indexEnd = dataEnd + 8 + entries.size() * 16;
    const uint32_t filler = FillerLength(indexEnd);
    put(fourcc::kJunk, filler - 8);
    flush();
    static const std::array<uint8_t, layout::kPadUnit> kZeros{};
    file.Write(kZeros.data(), filler - 8);
    return indexEnd;
}

} // namespace

void CAviFixer::RebuildIndexInPlace(std::string path, std::string fileName, int32_t replaceOriginal,
                                    IndexEntryList* entries) {
    workingPath = path;
    IndexEntryList ownEntries;
    IndexEntryList& list = entries != nullptr ? *entries : ownEntries;
    const OutputNames names = MakeOutputNames(path, fileName);
    outcome.outputPath = replaceOriginal != 0 ? path : names.fixName;
    outcome.status = FixStatus::Failed;

    FileError openError;
    if (!sourceFile.Open(path, ShareMode::DenyNone, openError)) {
        ReportFileError(openError);
        return;
    }
    try {
        if (replaceOriginal == 0) {
            CopyCompanionFile(path, fileName);
            int copyError = CopyFileReplacing(path, names.fixName);
            sourceFile.Close();
            // Patching whatever the fix name held before would pass off an old file as the repair.
            if (copyError != 0) {
                ShowProblem(messages::CopyToFixNameFailed(names.fixName, copyError), names.fixName);
                return;
            }
            if (!sourceFile.Open(names.fixName, ShareMode::DenyNone, openError)) {
                ReportFileError(openError);
                return;
            }
        }
        ScanResult scan = ScanChunks(sourceFile, list);
        PatchHeader(sourceFile, scan);
        if (!list.empty()) {
            uint64_t indexEnd = WriteIndex(sourceFile, scan.dataEnd, list);
            WriteU32At(sourceFile, layout::kRiffSize, static_cast<uint32_t>(indexEnd - 8));
        }
        sourceFile.Close();
        outcome.videoChunks = scan.videoChunks;
        outcome.audioChunks = scan.audioChunks;
        if (list.empty()) {
            // Header fields alone are no repair: say so, and leave no copy that would pass for one.
            if (replaceOriginal == 0)
                DeleteFileQuietly(names.fixName);
            ShowProblem(messages::NoRecordingDataInPlace(), path);
        } else {
            outcome.status = FixStatus::Repaired;
        }
    } catch (const FileError& error) {
        ReportFileError(error);
        sourceFile.Abandon();
    } catch (const std::bad_alloc&) {
        ShowProblem(messages::OutOfMemory(), path);
        sourceFile.Abandon();
    }
    list.clear();
}

} // namespace clipwright
