// Writes another recorder's AVI anew in OpenDML form when it cannot be indexed where it stands (see
// OpenDmlCopy.h), by the rebuild's rules: the copy is written under a hidden name and takes its own
// only once it is whole and on the disk. "Replace original file" first moves the recording to
// tmp_NAME, and removes it only once the copy stands under the recording's name on the disk.
#include "repair/Executors.h"

#include "avi/AviMuxer.h"
#include "platform/FileOperations.h"
#include "platform/Interruption.h"
#include "platform/ReadOnlyFile.h"
#include "repair/OpenDmlCopy.h"

#include <cerrno>
#include <new>
#include <unistd.h>

namespace clipwright {

namespace {

constexpr uint64_t kListHeaderBytes = 12;

// The recorder's header list body, after its type.
std::vector<uint8_t> ReadHeaderList(ByteSource& recording, const AviStructure& structure) {
    std::vector<uint8_t> body(structure.headerListSize - 4);
    if (recording.ReadAt(structure.headerListPosition + kListHeaderBytes, body.data(), body.size()) <
        body.size())
        throw FileError(filecause::kEndOfFile, 0, "");
    return body;
}

} // namespace

void CopyOtherRecorder(const Inspection& inspection, const RepairPlan& plan, const JobContext& job) {
    const OtherRecorderInspection& other = *inspection.other;
    FixOutcome& outcome = job.outcome;
    outcome.status = FixStatus::Failed;
    outcome.outputPath = plan.outputPath;
    outcome.walk = other.scan.walk;
    OtherRecorderFindings findings = FindingsOf(other.structure, other.scan);
    findings.copiedBecause = plan.copyReason;
    findings.replacedOriginal = plan.mode == OutputMode::ReplaceOriginal;
    outcome.otherRecorder = findings;

    const std::string& path = inspection.path;
    const OutputNames& names = inspection.names;
    const bool replacing = plan.mode == OutputMode::ReplaceOriginal;
    const std::string& partialPath = plan.partialPath;
    const std::string readPath = replacing ? names.temporaryName : path;
    // Another program may have gone on writing since the look.
    if (!StillAsInspected(inspection)) {
        job.Report({.code = EventCode::ChangedWhileRead, .path = path});
        return;
    }
    interruption::UndoOnSignal undo(partialPath, names.temporaryName, path);
    using UndoState = interruption::UndoOnSignal::State;
    if (replacing) {
        // Without the move the copy would be created over the recording.
        const int moveError = undo.Change([&] { return MoveFileNoReplace(path, names.temporaryName); },
                                          UndoState::RecordingMoved);
        if (moveError != 0) {
            job.Report({.code = EventCode::TemporaryNameBlocked,
                        .path = path,
                        .temporaryName = names.temporaryName,
                        .systemError = moveError});
            return;
        }
    }
    bool companionCopied = false;
    // Whatever stops the copy leaves the recording as it was and no partial file.
    auto undoCopy = [&] {
        DeleteFileQuietly(partialPath);
        if (companionCopied)
            DeleteFileQuietly(names.companionCopy);
        if (replacing)
            undo.Change([&] { return MoveFileNoReplace(names.temporaryName, path); },
                        UndoState::RecordingInPlace);
    };

    // Only read: "Make new file" works on a write-protected card.
    ReadOnlyFile recording;
    FileError openError;
    if (!recording.Open(readPath, openError)) {
        undoCopy();
        openError.fileName = path; // the user knows the recording by its own name
        job.ReportFileError(openError);
        return;
    }
    undo.AlsoRemove(PartialName(names.companionCopy));
    companionCopied = !replacing && CopyCompanionFile(names);
    // Without the copy its companion's copy would stand alone.
    if (companionCopied)
        undo.AlsoRemove(names.companionCopy);

    SourceFile output;
    job.BeginPhase(ProgressPhase::Copying, inspection.size);
    recording.ReportProgressTo(job.progress);
    try {
        const std::vector<uint8_t> headerList = ReadHeaderList(recording, other.structure);
        const std::optional<OpenDmlCopyLayout> layout =
            LayOutOpenDmlCopy(other.structure, other.scan, other.entries, headerList, AviMuxer::PartSize());
        if (!layout) {
            // A single chunk of 2 GiB or more: no RIFF part can hold it.
            recording.Close();
            undoCopy();
            job.Report({.code = EventCode::CopyStopped,
                        .path = path,
                        .systemError = EFBIG,
                        .copyStop = CopyStop::NotWritten,
                        .recordingRestored = true});
            return;
        }
        DeleteFileQuietly(partialPath);
        const int created = CreatePrivateFile(partialPath);
        if (created < 0) {
            recording.Close();
            undoCopy();
            job.Report({.code = EventCode::OutputNotCreated,
                        .path = plan.outputPath,
                        .outputPath = plan.outputPath});
            return;
        }
        ::close(created);
        FileError outputError;
        if (!output.Open(partialPath, ShareMode::DenyNone, outputError))
            throw outputError;
        WriteOpenDmlCopy(recording, output, other.structure, other.entries, *layout);
        output.Sync();
        output.Close();
    } catch (const FileError& error) {
        output.Abandon();
        recording.Close();
        undoCopy();
        // The user knows the copy and the recording by the names they will have.
        job.ReportFileError(FileError(error.cause, error.systemError,
                                      error.fileName == partialPath ? plan.outputPath : path));
        return;
    } catch (const std::bad_alloc&) {
        output.Abandon();
        recording.Close();
        undoCopy();
        job.Report({.code = EventCode::OutOfMemory, .path = path});
        return;
    } catch (const JobStopped&) {
        output.Abandon();
        recording.Close();
        undoCopy();
        outcome.status = FixStatus::Cancelled;
        return;
    }
    recording.Close();
    // The copy holds what the inspection read only if the recording did not change meanwhile; once
    // moved to tmp_NAME nobody else writes to it under its name.
    if (!replacing && !StillAsInspected(inspection)) {
        undoCopy();
        job.Report({.code = EventCode::ChangedWhileRead, .path = path});
        return;
    }
    // On disk, with the recording's owner and mode, before its name makes it the repair.
    int placeError = FinishNewFile(partialPath, inspection.status);
    if (placeError == 0)
        placeError = replacing ? undo.Change([&] { return MoveFileNoReplace(partialPath, plan.outputPath); },
                                             UndoState::NewFilePlaced)
                               : RenameReplacing(partialPath, plan.outputPath);
    if (placeError != 0) {
        undoCopy();
        job.Report(
            {.code = EventCode::OutputNotCreated, .path = plan.outputPath, .outputPath = plan.outputPath});
        return;
    }
    undo.AlsoRemove({});
    if (const int syncError = SyncDirectoryOf(plan.outputPath)) {
        // Until the new name is on disk the recording must stay: under its temporary name.
        job.Report({.code = EventCode::NewNameNotOnDisk,
                    .path = plan.outputPath,
                    .outputPath = plan.outputPath,
                    .temporaryName = replacing ? names.temporaryName : "",
                    .systemError = syncError});
        return;
    }
    if (replacing) {
        DeleteFileQuietly(names.temporaryName);
        SyncDirectoryOf(names.temporaryName);
    }
    for (size_t number = 0; number < other.structure.streams.size(); ++number) {
        if (other.structure.streams[number].kind == StreamKind::Video)
            outcome.videoChunks += other.scan.tallies[number].chunks;
        else if (other.structure.streams[number].kind == StreamKind::Audio)
            outcome.audioChunks += other.scan.tallies[number].chunks;
    }
    if (!other.scan.walk.Complete()) {
        outcome.status = FixStatus::Partial;
        job.Report({.code = EventCode::CopyStopped,
                    .path = path,
                    .offset = other.scan.walk.endOffset,
                    .copyStop = CopyStop::Damaged});
        return;
    }
    outcome.status = FixStatus::Repaired;
    job.ReportSkipped(other.scan.walk, false, path);
    job.Report({.code = EventCode::OtherRecorderRepaired,
                .path = path,
                .outputPath = plan.outputPath,
                .findings = findings});
}

} // namespace clipwright
