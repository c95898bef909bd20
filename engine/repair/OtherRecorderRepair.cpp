// Repairs an AVI that another recorder was cut off writing: walks its movi list, indexes every
// complete chunk with key flags read from the video itself, and sets the header's counts and sizes.
// Footage is never moved or written over: the index goes behind the last byte that may hold any.
// A chunk cut off by the end of the file keeps its bytes but becomes JUNK: players that read the
// movi list chunk by chunk would otherwise decode half a frame.
#include "repair/RepairEngine.h"

#include "platform/FileOperations.h"
#include "repair/IndexWriting.h"
#include "repair/Messages.h"
#include "repair/OpenDmlIndexing.h"
#include "repair/OtherRecorderScan.h"
#include "repair/OutputNaming.h"

#include <algorithm>
#include <new>

namespace clipwright {

namespace {

// Writes the index behind the data, covers whatever stood behind it with JUNK, and sets the header.
void WriteRepair(SourceFile& file, uint64_t fileSize, const AviStructure& structure,
                 const OtherRecorderScan& scan, const IndexEntryList& entries) {
    // The index behind a cut chunk fills out the file to the chunk's end, and the chunk would then
    // read as whole: it must say JUNK first, on the disk too, or a later repair indexes it.
    if (scan.cutChunk) {
        WriteFourCCAt(file, *scan.cutChunk, fourcc::kJunk);
        file.Sync();
    }
    const uint64_t indexEnd = WriteIdx1(file, scan.dataEnd, entries);
    // An old, longer index: its remains become filler.
    const uint64_t end = CoverRest(file, indexEnd, fileSize);

    WriteU32At(file, structure.moviListPosition + 4,
               static_cast<uint32_t>(scan.dataEnd - structure.MoviTypePosition()));
    // An index to use if wanted, never one a player must use: then it plays the file interleaved.
    WriteU32At(file, structure.mainHeaderPosition + kMainFlagsOffset,
               (structure.mainFlags | kMainFlagHasIndex) & ~kMainFlagMustUseIndex);
    uint32_t totalFrames = structure.totalFrames;
    if (auto video = FirstStreamOf(structure, StreamKind::Video))
        totalFrames = scan.tallies[*video].chunks;
    WriteU32At(file, structure.mainHeaderPosition + kMainTotalFramesOffset, totalFrames);
    if (structure.extendedTotalFramesPosition)
        WriteU32At(file, *structure.extendedTotalFramesPosition, totalFrames);
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        const StreamInfo& stream = structure.streams[number];
        WriteU32At(file, stream.lengthPosition, StreamLength(stream, scan.tallies[number]));
        // An empty super index makes readers ignore idx1 and see an empty stream.
        if (stream.superIndex && stream.superIndex->entriesInUse == 0)
            WriteFourCCAt(file, stream.superIndex->position, fourcc::kJunk);
    }
    WriteU32At(file, kRiffSizePosition, static_cast<uint32_t>(end - 8));
}

} // namespace

void RepairEngine::RepairOtherRecorder(const FixRequest& request, const AviStructure& structure) {
    workingPath = request.path;
    IndexEntryList ownEntries;
    IndexEntryList& entries = request.entries != nullptr ? *request.entries : ownEntries;
    const OutputNames names = MakeOutputNames(request.path, request.fileName);
    const bool newFile = request.mode == OutputMode::NewFile;
    outcome.outputPath = newFile ? names.fixName : request.path;
    outcome.status = FixStatus::Failed;

    bool companionCopied = false;
    // A copy that was not made whole must not pass for a repair.
    auto dropCopy = [&] {
        if (!newFile)
            return;
        DeleteFileQuietly(names.fixName);
        if (companionCopied)
            DeleteFileQuietly(names.companionCopy);
    };
    if (newFile) {
        companionCopied = CopyCompanionFile(request.path, request.fileName);
        if (const int copyError = CopyFileReplacing(request.path, names.fixName); copyError != 0) {
            if (companionCopied)
                DeleteFileQuietly(names.companionCopy);
            ShowProblem(messages::CopyToFixNameFailed(names.fixName, copyError), names.fixName);
            return;
        }
    }
    FileError openError;
    if (!sourceFile.Open(outcome.outputPath, ShareMode::DenyNone, openError)) {
        ReportFileError(openError);
        dropCopy();
        return;
    }
    try {
        const uint64_t fileSize = sourceFile.Length();
        const OtherRecorderScan scan = ScanOtherRecorder(sourceFile, fileSize, structure, entries);
        outcome.walk = scan.walk;
        outcome.otherRecorder = FindingsOf(structure, scan);
        for (size_t number = 0; number < structure.streams.size(); ++number) {
            if (structure.streams[number].kind == StreamKind::Video)
                outcome.videoChunks += scan.tallies[number].chunks;
            else if (structure.streams[number].kind == StreamKind::Audio)
                outcome.audioChunks += scan.tallies[number].chunks;
        }
        const std::vector<uint64_t> parts = FurtherParts(structure, scan.walk);
        std::string problem;
        if (!PartsRepairable(structure, parts))
            problem = messages::MoreThanOneRiffPart();
        else if (entries.empty())
            problem = messages::NoRecordingData();
        if (!problem.empty()) {
            sourceFile.Abandon();
            dropCopy();
            ShowProblem(problem, request.path);
            entries.clear();
            return;
        }
        const bool healthy = IsFinalised(sourceFile, fileSize, structure, scan, entries, parts);
        if (!newFile && healthy) {
            sourceFile.Close();
            outcome.otherRecorder->neededNoRepair = true;
            outcome.status = FixStatus::Repaired;
            ShowProblem(messages::NoRepairNeeded(), request.path);
            entries.clear();
            return;
        }
        if (parts.empty())
            WriteRepair(sourceFile, fileSize, structure, scan, entries);
        else if (!healthy)
            WriteLastPartIndexes(sourceFile, fileSize, structure, scan, entries, parts);
        sourceFile.Sync();
        sourceFile.Close();
        if (!scan.walk.Complete()) {
            outcome.status = FixStatus::Partial;
            ShowProblem(messages::InPlaceStopped(scan.walk.endOffset, static_cast<uint32_t>(entries.size())),
                        request.path);
        } else {
            outcome.status = FixStatus::Repaired;
            if (std::string notice = messages::SkippedNotice(scan.walk, true); !notice.empty())
                ShowProblem(notice, request.path);
            const OtherRecorderFindings& found = *outcome.otherRecorder;
            if (host != nullptr)
                host->ShowFindings(
                    messages::OtherRecorderRepaired(found.streams, found.videoFrames, found.audioSeconds),
                    outcome.outputPath);
        }
    } catch (const FileError& error) {
        ReportFileError(error);
        sourceFile.Abandon();
        dropCopy();
    } catch (const std::bad_alloc&) {
        ShowProblem(messages::OutOfMemory(), request.path);
        sourceFile.Abandon();
        dropCopy();
    }
    entries.clear();
}

} // namespace clipwright
