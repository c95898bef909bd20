// Rebuilds a recording whose header block cannot be patched: the raw chunks are copied in file
// order into a brand-new AVI file through the AVI muxer.
#include "repair/RepairEngine.h"

#include "avi/ChunkWalk.h"
#include "avi/LittleEndian.h"
#include "codec/CameraSettingsDetector.h"
#include "platform/Interruption.h"
#include "platform/ReadAhead.h"
#include "repair/Messages.h"
#include "repair/OutputNaming.h"
#include "repair/RecordingLayout.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace clipwright {

namespace {

constexpr uint32_t kHighestFrameRate = 120;
// Nobody else reads footage while it is written; the recording's own mode is given at the end.
constexpr mode_t kPrivateFileMode = 0600;
constexpr size_t kRepeatPrefixBytes = 100;

// A field the file ends before is no value at all, never a 0.
std::optional<uint32_t> ReadU32At(SourceFile& file, uint32_t position) {
    uint8_t bytes[4] = {};
    if (file.ReadAt(position, bytes, sizeof bytes) < sizeof bytes)
        return std::nullopt;
    return le::ReadU32(bytes);
}

enum class CopyEnd {
    EndOfData,    // the walk found the end of the recording's data: the copy is whole
    Damaged,      // the walk could not get past damaged data
    OutOfMemory,  // a payload buffer could not be had
    WriterFailed, // the new file could not be written
    FileError,    // the recording could not be read; already reported
};

std::string DescribeEnd(CopyEnd end, const AviMuxer& muxer) {
    switch (end) {
    case CopyEnd::Damaged:
        return messages::WalkGaveUpReason();
    case CopyEnd::OutOfMemory:
        return messages::NoMemoryForAChunkReason();
    case CopyEnd::WriterFailed:
        if (muxer.Failure() == MuxerFailure::SizeLimit)
            return messages::SizeLimitReason();
        return messages::NewFileNotWritten(muxer.SystemError());
    case CopyEnd::FileError:
        return messages::RecordingNotReadReason();
    case CopyEnd::EndOfData:
        break;
    }
    return messages::EndOfRecordingReason();
}

} // namespace

void RepairEngine::RebuildFile(std::string path, std::string fileName, OutputMode mode, LayoutCode layout) {
    workingPath = path;
    outcome.status = FixStatus::Failed;
    const OutputNames names = MakeOutputNames(path, fileName);

    FileError openError;
    if (!sourceFile.Open(workingPath, ShareMode::DenyNone, openError)) {
        ReportFileError(openError);
        return;
    }

    // The capture settings the old header still holds, the user's answer when it does not, and
    // where the chunks begin.
    ResolutionCode resolution = kResolutionUnknown;
    uint32_t framesPerSecond = 0;
    uint64_t start = layout::kMoviList;
    struct stat recording {};
    try {
        std::optional<uint32_t> scale = ReadU32At(sourceFile, layout::kVideoScale);
        std::optional<uint32_t> rate = ReadU32At(sourceFile, layout::kVideoRate);
        framesPerSecond = (scale.value_or(0) != 0 && rate.value_or(0) != 0) ? *rate / *scale : 0;
        resolution = ResolutionFromSize(ReadU32At(sourceFile, layout::kMainWidth),
                                        ReadU32At(sourceFile, layout::kMainHeight));

        start = RebuildDataStart(sourceFile, layout);

        // Above 120 frames per second is no camera setting, and would overflow the writer's rate.
        if (framesPerSecond == 0 || framesPerSecond > kHighestFrameRate || resolution == kResolutionUnknown) {
            outcome.askedForImageSettings = true;
            if (host != nullptr)
                host->ShowProgress(false);
            // The recording's own video and sound usually still say what its header lost.
            ReadAhead source(sourceFile);
            const std::optional<ImageSettings> readFromVideo =
                SuggestedImageSettings(DetectCameraSettings(source, start, sourceFile.Length()));
            const std::optional<ImageSettings> answer =
                host != nullptr ? host->AskImageSettings(readFromVideo) : std::nullopt;
            if (!answer) {
                sourceFile.Close();
                outcome.status = FixStatus::Cancelled;
                return;
            }
            host->ShowProgress(true);
            resolution = answer->resolution;
            framesPerSecond = answer->framesPerSecond;
            mode = OutputMode::NewFile; // the prompt says so: such a repair is always a new file
        }
        if (::fstat(sourceFile.Descriptor(), &recording) != 0)
            throw FileError::FromErrno(errno, path);
        sourceFile.Close();
    } catch (const FileError& error) {
        ReportFileError(error);
        sourceFile.Abandon();
        return;
    }

    // Naming: which file is read and where the new file goes. The new file is written under a
    // hidden name and renamed into place once it is whole and on disk, so a failed or interrupted
    // rebuild never leaves a broken file under the output's name.
    const bool replacing = mode == OutputMode::ReplaceOriginal;
    const std::string outputPath = replacing ? path : names.fixName;
    const std::string readPath = replacing ? names.temporaryName : path;
    const std::string partialPath = PartialName(outputPath);
    outcome.outputPath = outputPath;
    interruption::UndoOnSignal undo(partialPath, names.temporaryName, path);
    using UndoState = interruption::UndoOnSignal::State;
    if (replacing) {
        // Without the move the new file would be created over the recording.
        int moveError = undo.Change([&] { return MoveFileNoReplace(path, names.temporaryName); },
                                    UndoState::RecordingMoved);
        if (moveError != 0) {
            ShowProblem(messages::MoveToTemporaryNameFailed(names.temporaryName, moveError), path);
            return;
        }
    }
    auto restoreRecording = [&] {
        if (replacing)
            undo.Change([&] { return MoveFileNoReplace(names.temporaryName, path); },
                        UndoState::RecordingInPlace);
    };
    if (!sourceFile.Open(readPath, ShareMode::DenyNone, openError)) {
        restoreRecording();
        openError.fileName = path; // the user knows the recording by its own name
        ReportFileError(openError);
        return;
    }
    undo.AlsoRemove(PartialName(names.companionCopy));
    const bool companionCopied = !replacing && CopyCompanionFile(path, fileName);

    DeleteFileQuietly(partialPath);
    muxer.SetImageFormat(resolution, framesPerSecond);
    if (!muxer.Open(partialPath, kPrivateFileMode)) {
        sourceFile.Abandon();
        restoreRecording();
        ShowProblem(messages::OutputNotCreated(outputPath), outputPath);
        return;
    }

    CopyEnd end = CopyEnd::EndOfData;
    std::optional<FileError> readError;
    uint64_t position = start;
    uint32_t videoCopied = 0;
    uint32_t audioCopied = 0;
    WalkSummary walkSummary;
    try {
        const uint64_t fileSize = sourceFile.Length();
        ReadAhead source(sourceFile);
        ChunkWalk walk(source, start, fileSize, CameraCopiedIds());
        uint32_t previousVideoSize = 0;
        std::array<uint8_t, kRepeatPrefixBytes> savedPrefix{};
        std::vector<uint8_t> payload;
        while (auto header = walk.Next()) {
            position = header->position;
            const FourCC tag = header->id;
            if (header->size == 0)
                continue;
            const bool audio = tag == fourcc::kAudio01wb;
            // Payloads are handed over where they lie in the read block; a payload cut off by the
            // end of the file is completed with zeros.
            const uint8_t* data = source.View(header->PayloadStart(), header->size);
            if (data == nullptr) {
                try {
                    payload.resize(header->size);
                } catch (const std::bad_alloc&) {
                    end = CopyEnd::OutOfMemory;
                    break;
                }
                size_t got = source.ReadAt(header->PayloadStart(), payload.data(), header->size);
                std::fill(payload.begin() + static_cast<ptrdiff_t>(got), payload.end(), uint8_t{0});
                data = payload.data();
            }
            const size_t prefixBytes = std::min<size_t>(header->size, kRepeatPrefixBytes);

            if (audio) {
                muxer.WriteAudioBlock(data, header->size);
                ++audioCopied;
            } else if (tag == fourcc::kVideo00db) {
                muxer.WriteVideoFrame(data, header->size, FrameKind::Key);
                ++videoCopied;
            } else {
                bool repeats = previousVideoSize != 0 && previousVideoSize == header->size &&
                               std::memcmp(data, savedPrefix.data(), prefixBytes) == 0;
                if (repeats) {
                    // The camera wrote the same picture again: an empty frame that shows the last one.
                    muxer.WriteRepeatFrame(FrameKind::Key);
                } else {
                    // A frame of the same size with other content is a new picture, never dropped.
                    muxer.WriteVideoFrame(data, header->size, FrameKind::Delta);
                    std::copy_n(data, prefixBytes, savedPrefix.begin());
                }
                previousVideoSize = header->size;
                ++videoCopied;
            }
            if (muxer.Failed()) {
                end = CopyEnd::WriterFailed;
                break;
            }
        }
        walkSummary = walk.Summary();
        if (end == CopyEnd::EndOfData && !walkSummary.Complete()) {
            end = CopyEnd::Damaged;
            position = walkSummary.endOffset;
        }
    } catch (const FileError& error) {
        readError = error;
        readError->fileName = path; // the user knows the recording by its own name
        end = CopyEnd::FileError;
    }

    muxer.Finish();
    sourceFile.Abandon(); // only read from: closing it cannot lose anything
    if (end == CopyEnd::EndOfData && !muxer.Complete())
        end = CopyEnd::WriterFailed;
    outcome.videoChunks = videoCopied;
    outcome.audioChunks = audioCopied;
    outcome.walk = walkSummary;

    const bool copiedAnything = videoCopied + audioCopied != 0;
    // A file the size limit stopped is still finished: what it holds plays.
    const bool outputPlays = muxer.Complete() || muxer.Failure() == MuxerFailure::SizeLimit;
    const bool keepPartial = end != CopyEnd::EndOfData && !replacing && copiedAnything && outputPlays;
    if ((end == CopyEnd::EndOfData && copiedAnything) || keepPartial) {
        // On disk, with the recording's owner and mode, before its name makes it the repair.
        int placeError = FinishNewFile(partialPath, recording);
        if (placeError == 0)
            placeError = replacing ? undo.Change([&] { return MoveFileNoReplace(partialPath, outputPath); },
                                                 UndoState::NewFilePlaced)
                                   : RenameReplacing(partialPath, outputPath);
        if (placeError != 0) {
            DeleteFileQuietly(partialPath);
            restoreRecording();
            ShowProblem(messages::OutputNotCreated(outputPath), outputPath);
            return;
        }
        if (int syncError = SyncDirectoryOf(outputPath)) {
            // Until the new name is on disk the recording must stay: under its temporary name.
            ShowProblem(
                messages::NewNameNotOnDisk(outputPath, replacing ? names.temporaryName : "", syncError),
                outputPath);
            return;
        }
        if (keepPartial) {
            outcome.status = FixStatus::Partial;
            if (readError)
                ReportFileError(*readError);
            ShowProblem(messages::CopyStopped(DescribeEnd(end, muxer), position, false), path);
            return;
        }
        if (replacing) {
            DeleteFileQuietly(names.temporaryName);
            SyncDirectoryOf(names.temporaryName);
        }
        outcome.status = FixStatus::Repaired;
        std::string notice = messages::SkippedNotice(walkSummary, false);
        if (!notice.empty())
            ShowProblem(notice, path);
        return;
    }

    // The copy did not reach the end of the data: the recording stays, under its own name.
    DeleteFileQuietly(partialPath);
    restoreRecording();
    if (companionCopied && !copiedAnything)
        DeleteFileQuietly(names.companionCopy);
    if (readError)
        ReportFileError(*readError);
    if (!copiedAnything && end == CopyEnd::EndOfData)
        ShowProblem(messages::NoRecordingData(), path);
    else
        ShowProblem(messages::CopyStopped(DescribeEnd(end, muxer), position, true), path);
}

} // namespace clipwright
