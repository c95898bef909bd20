// Repairs a recording whose header block survived: walks the movi chunks, patches the header
// counts and sizes, and appends a fresh idx1 index padded to a multiple of 2048 bytes.
#include "repair/RepairEngine.h"

#include "avi/ChunkWalk.h"
#include "avi/LittleEndian.h"
#include "repair/IndexWriting.h"
#include "repair/Messages.h"
#include "repair/OutputNaming.h"
#include "repair/RecordingLayout.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

namespace clipwright {

namespace {

bool IsVideo(const FourCC& id) {
    using namespace fourcc;
    return id == kVideo00db || id == kVideo00dc || id == kVideo01db || id == kVideo01dc;
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
    WalkSummary walk;
};

// Where the new index goes: behind the last footage, and behind every byte the walk could not
// read either, so that nothing that may hold footage is written over. Only an old index or filler
// at the end is replaced, which makes a second repair give the same file.
uint64_t DataEnd(const WalkSummary& walk, uint64_t lastChunkEnd, uint64_t fileSize) {
    switch (walk.end) {
    case WalkEnd::Filler:
        return walk.endOffset;
    case WalkEnd::CutChunk:
        return lastChunkEnd; // behind the end of the file: the missing bytes read as zeros
    case WalkEnd::EndOfFile:
    case WalkEnd::NoChunkBehind:
    case WalkEnd::GaveUp:
        break;
    }
    return std::max({fileSize, walk.endOffset, uint64_t{layout::kFirstChunk}});
}

ScanResult ScanChunks(SourceFile& file, IndexEntryList& entries) {
    const uint64_t fileSize = file.Length();
    ScanResult scan;
    ChunkWalk walk(file, layout::kFirstChunk, fileSize, CameraIndexedIds());
    uint64_t lastChunkEnd = layout::kFirstChunk;
    while (auto header = walk.Next()) {
        IndexEntry entry;
        entry.chunkId = header->id;
        entry.offset = static_cast<uint32_t>(header->position - layout::kMoviBase);
        entry.size = header->size;
        ++scan.allChunks;
        if (IsVideo(header->id)) {
            ++scan.videoChunks;
            entry.flags = StartsKeyFrame(*header) ? layout::kIndexKeyFrame : 0;
        } else {
            ++scan.audioChunks;
            entry.flags = layout::kIndexKeyFrame;
        }
        entries.push_back(entry);
        lastChunkEnd = header->End();
    }
    scan.walk = walk.Summary();
    scan.dataEnd = DataEnd(scan.walk, lastChunkEnd, fileSize);
    return scan;
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

// Writes idx1 and the JUNK filler at `dataEnd`; returns the idx1 end.
uint64_t WriteIndex(SourceFile& file, uint64_t dataEnd, const IndexEntryList& entries) {
    const uint64_t indexEnd = WriteIdx1(file, dataEnd, entries);
    const uint32_t filler = FillerLength(indexEnd);
    uint8_t header[8];
    std::copy(fourcc::kJunk.Bytes().begin(), fourcc::kJunk.Bytes().end(), header);
    le::WriteU32(header + 4, filler - 8);
    file.Write(header, sizeof header);
    static const std::array<uint8_t, layout::kPadUnit> kZeros{};
    file.Write(kZeros.data(), filler - 8);
    return indexEnd;
}

} // namespace

void RepairEngine::RebuildIndexInPlace(std::string path, std::string fileName, OutputMode mode,
                                       IndexEntryList* entries) {
    workingPath = path;
    IndexEntryList ownEntries;
    IndexEntryList& list = entries != nullptr ? *entries : ownEntries;
    const OutputNames names = MakeOutputNames(path, fileName);
    outcome.outputPath = mode == OutputMode::ReplaceOriginal ? path : names.fixName;
    outcome.status = FixStatus::Failed;

    FileError openError;
    if (!sourceFile.Open(path, ShareMode::DenyNone, openError)) {
        ReportFileError(openError);
        return;
    }
    bool companionCopied = false;
    try {
        if (mode == OutputMode::NewFile) {
            companionCopied = CopyCompanionFile(path, fileName);
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
        outcome.videoChunks = scan.videoChunks;
        outcome.audioChunks = scan.audioChunks;
        outcome.walk = scan.walk;
        if (list.empty()) {
            // Header fields alone are no repair: the file stays as it was, and no copy is left that
            // would pass for one.
            sourceFile.Abandon();
            if (mode == OutputMode::NewFile) {
                DeleteFileQuietly(names.fixName);
                if (companionCopied)
                    DeleteFileQuietly(names.companionCopy);
            }
            ShowProblem(messages::NoRecordingData(), path);
            list.clear();
            return;
        }
        PatchHeader(sourceFile, scan);
        uint64_t indexEnd = WriteIndex(sourceFile, scan.dataEnd, list);
        WriteU32At(sourceFile, layout::kRiffSize, static_cast<uint32_t>(indexEnd - 8));
        sourceFile.Sync();
        sourceFile.Close();
        if (!scan.walk.Complete()) {
            outcome.status = FixStatus::Partial;
            ShowProblem(messages::InPlaceStopped(scan.walk.endOffset, scan.allChunks), path);
        } else {
            outcome.status = FixStatus::Repaired;
            std::string notice = messages::SkippedNotice(scan.walk, true);
            if (!notice.empty())
                ShowProblem(notice, path);
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
