// Rebuilds a recording whose header block cannot be patched: the raw chunks are copied in file
// order into a brand-new AVI file through the AVI muxer.
#include "repair/Executors.h"

#include "avi/AviMuxer.h"
#include "avi/CameraLayout.h"
#include "avi/ChunkWalk.h"
#include "avi/LittleEndian.h"
#include "codec/CameraSettingsDetector.h"
#include "codec/KeyFrames.h"
#include "platform/Interruption.h"
#include "platform/ReadAhead.h"
#include "platform/ReadOnlyFile.h"
#include "repair/OutputNaming.h"
#include "repair/RebuildStreams.h"

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

// Nobody else reads footage while it is written; the recording's own mode is given at the end.
constexpr mode_t kPrivateFileMode = 0600;
constexpr size_t kRepeatPrefixBytes = 100;

enum class CopyEnd {
    EndOfData,    // the walk found the end of the recording's data: the copy is whole
    Damaged,      // the walk could not get past damaged data
    OutOfMemory,  // a payload buffer could not be had
    WriterFailed, // the new file could not be written
    FileError,    // the recording could not be read; already reported
    Stopped,      // the user stopped the job
};

CopyStop StopOf(CopyEnd end) {
    switch (end) {
    case CopyEnd::Damaged:
        return CopyStop::Damaged;
    case CopyEnd::OutOfMemory:
        return CopyStop::NoMemoryForChunk;
    case CopyEnd::WriterFailed:
        return CopyStop::NotWritten;
    case CopyEnd::FileError:
        return CopyStop::RecordingNotRead;
    case CopyEnd::EndOfData:
    case CopyEnd::Stopped:
        break;
    }
    return CopyStop::EndOfRecording;
}

EngineEvent Stopped(CopyEnd end, const AviMuxer& muxer, uint64_t offset, bool recordingRestored,
                    const std::string& path) {
    const CopyStop stop = StopOf(end);
    return {.code = EventCode::CopyStopped,
            .path = path,
            .systemError = stop == CopyStop::NotWritten ? muxer.SystemError() : 0,
            .offset = offset,
            .copyStop = stop,
            .recordingRestored = recordingRestored};
}

} // namespace

void RebuildCameraRecording(const Inspection& inspection, const RepairPlan& plan, const JobContext& job) {
    FixOutcome& outcome = job.outcome;
    outcome.status = FixStatus::Failed;
    const std::string& path = inspection.path;
    const OutputNames& names = inspection.names;
    // The camera's streams at its settings, or another recorder's as its chunks say.
    const bool cameraStreams = !plan.streams && !plan.reference;
    const ImageSettings settings = plan.settings.value_or(ImageSettings{});
    const codec::VideoCoding coding = plan.reference ? plan.reference->coding
                                      : plan.streams ? CodingOf(*plan.streams)
                                                     : codec::VideoCoding::Unread;
    const uint64_t start = plan.dataStart;
    const struct stat& recording = inspection.status;
    // Only read: "Make new file" works on a write-protected card.
    ReadOnlyFile sourceFile;
    AviMuxer muxer;
    FileError openError;

    // Naming: which file is read and where the new file goes. The new file is written under a
    // hidden name and renamed into place once it is whole and on disk, so a failed or interrupted
    // rebuild never leaves a broken file under the output's name.
    const bool replacing = plan.mode == OutputMode::ReplaceOriginal;
    const std::string& outputPath = plan.outputPath;
    const std::string readPath = replacing ? names.temporaryName : path;
    const std::string& partialPath = plan.partialPath;
    outcome.outputPath = outputPath;
    outcome.streams = plan.streams;
    if (plan.reference)
        outcome.reference = inspection.reference->path;
    // Another program may have gone on writing since the look.
    if (!StillAsInspected(inspection)) {
        job.Report({.code = EventCode::ChangedWhileRead, .path = path});
        return;
    }
    interruption::UndoOnSignal undo(partialPath, names.temporaryName, path);
    using UndoState = interruption::UndoOnSignal::State;
    if (replacing) {
        // Without the move the new file would be created over the recording.
        int moveError = undo.Change([&] { return MoveFileNoReplace(path, names.temporaryName); },
                                    UndoState::RecordingMoved);
        if (moveError != 0) {
            job.Report({.code = EventCode::TemporaryNameBlocked,
                        .path = path,
                        .temporaryName = names.temporaryName,
                        .systemError = moveError});
            return;
        }
    }
    auto restoreRecording = [&] {
        if (replacing)
            undo.Change([&] { return MoveFileNoReplace(names.temporaryName, path); },
                        UndoState::RecordingInPlace);
    };
    if (!sourceFile.Open(readPath, openError)) {
        restoreRecording();
        openError.fileName = path; // the user knows the recording by its own name
        job.ReportFileError(openError);
        return;
    }
    undo.AlsoRemove(PartialName(names.companionCopy));
    const bool companionCopied = !replacing && CopyCompanionFile(names);
    // Without the new file its companion's copy would stand alone.
    if (companionCopied)
        undo.AlsoRemove(names.companionCopy);

    DeleteFileQuietly(partialPath);
    if (plan.reference) {
        muxer.SetVideoFormat(plan.reference->video);
        if (plan.reference->audio)
            muxer.SetAudioFormat(*plan.reference->audio);
    } else if (cameraStreams) {
        muxer.SetImageFormat(settings.resolution, settings.framesPerSecond);
    } else {
        muxer.SetVideoFormat(VideoFormatOf(*plan.streams));
        muxer.SetAudioFormat(AudioFormatOf(*plan.streams));
    }
    muxer.SetExpectedSize(inspection.size);
    if (!muxer.Open(partialPath, kPrivateFileMode)) {
        sourceFile.Close();
        restoreRecording();
        job.Report({.code = EventCode::OutputNotCreated, .path = outputPath, .outputPath = outputPath});
        return;
    }

    CopyEnd end = CopyEnd::EndOfData;
    std::optional<FileError> readError;
    uint64_t position = start;
    uint32_t videoCopied = 0;
    uint32_t audioCopied = 0;
    WalkSummary walkSummary;
    // The video is read as the inspection would have read it: the same walk, the same first bytes.
    CameraSettingsReading reading;
    bool videoRead = false;
    job.BeginPhase(ProgressPhase::Copying, inspection.size);
    sourceFile.ReportProgressTo(job.progress);
    try {
        const uint64_t fileSize = sourceFile.Length();
        ReadAhead source(sourceFile);
        ChunkWalk walk(source, start, fileSize, CameraCopiedIds());
        uint32_t previousVideoSize = 0;
        std::array<uint8_t, kRepeatPrefixBytes> savedPrefix{};
        std::vector<uint8_t> payload;
        std::vector<uint8_t> head;
        auto read = [&](const ChunkHeader& chunk, const uint8_t* data) {
            if (!plan.readsVideoWhileCopying)
                return;
            size_t got = 0;
            if (reading.WantsHead(chunk)) {
                // Only the bytes the file holds: a cut-off payload's zeros are the copy's own.
                const uint64_t held = fileSize - std::min(fileSize, chunk.PayloadStart());
                got = static_cast<size_t>(std::min<uint64_t>({chunk.size, held, kFrameHeadBytes}));
                if (data == nullptr) {
                    head.resize(kFrameHeadBytes);
                    got = source.ReadAt(chunk.PayloadStart(), head.data(), got);
                    data = head.data();
                }
            }
            reading.Feed(chunk, std::span<const uint8_t>(data, got));
        };
        while (auto header = walk.Next()) {
            position = header->position;
            const FourCC tag = header->id;
            if (header->size == 0) {
                read(*header, nullptr);
                // Another recorder's empty video chunk is a frame's time: kept, or the sound drifts.
                if (!cameraStreams && header->id != fourcc::kAudio01wb) {
                    muxer.WriteRepeatFrame(FrameKind::Delta);
                    ++videoCopied;
                    if (muxer.Failed()) {
                        end = CopyEnd::WriterFailed;
                        break;
                    }
                }
                continue;
            }
            const bool audio = tag == fourcc::kAudio01wb;
            // Another recorder's chunk cut off by the end of the file would only feed its decoder
            // zeros: every whole chunk is copied, and that one is left out.
            if (!cameraStreams && header->End() > fileSize) {
                read(*header, nullptr);
                continue;
            }
            // Payloads are handed over where they lie in the read block; a payload cut off by the
            // end of the file is completed with zeros.
            const uint8_t* data = source.View(header->PayloadStart(), header->size);
            if (data == nullptr) {
                try {
                    payload.resize(header->size);
                } catch (const std::bad_alloc&) {
                    end = CopyEnd::OutOfMemory;
                    read(*header, nullptr);
                    break;
                }
                size_t got = source.ReadAt(header->PayloadStart(), payload.data(), header->size);
                std::fill(payload.begin() + static_cast<ptrdiff_t>(got), payload.end(), uint8_t{0});
                data = payload.data();
            }
            read(*header, data);
            const size_t prefixBytes = std::min<size_t>(header->size, kRepeatPrefixBytes);

            if (audio) {
                muxer.WriteAudioBlock(data, header->size);
                ++audioCopied;
            } else if (!cameraStreams) {
                // Key frames as the frame's own bitstream says: every frame is copied as it is.
                const auto held = std::min<uint64_t>({header->size, codec::kKeyFrameProbeBytes,
                                                      fileSize - std::min(fileSize, header->PayloadStart())});
                // A codec whose frames say nothing: the first frame is a key frame, as it must be.
                const bool key = coding == codec::VideoCoding::Unread
                                     ? videoCopied == 0
                                     : codec::IsKeyFrame(
                                           coding, std::span<const uint8_t>(data, static_cast<size_t>(held)));
                muxer.WriteVideoFrame(data, header->size, key ? FrameKind::Key : FrameKind::Delta);
                ++videoCopied;
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
        // A copy that stopped early still owes the host the whole walk's reading.
        if (end != CopyEnd::EndOfData && plan.readsVideoWhileCopying) {
            while (auto header = walk.Next())
                read(*header, nullptr);
        }
        videoRead = true;
        walkSummary = walk.Summary();
        if (end == CopyEnd::EndOfData && !walkSummary.Complete()) {
            end = CopyEnd::Damaged;
            position = walkSummary.endOffset;
        }
    } catch (const FileError& error) {
        readError = error;
        readError->fileName = path; // the user knows the recording by its own name
        end = CopyEnd::FileError;
    } catch (const JobStopped&) {
        end = CopyEnd::Stopped;
    }
    sourceFile.ReportProgressTo(nullptr);
    if (end == CopyEnd::Stopped) {
        // As an interrupted rebuild ends: no partial file, the recording under its own name.
        sourceFile.Close();
        muxer.Abandon();
        DeleteFileQuietly(partialPath);
        restoreRecording();
        if (companionCopied)
            DeleteFileQuietly(names.companionCopy);
        outcome.status = FixStatus::Cancelled;
        return;
    }

    // What the video says comes before anything said of the copy, as it would after a prompt. A
    // recording that could not be read through says nothing: the inspection would have stopped.
    if (plan.readsVideoWhileCopying && videoRead && job.host != nullptr)
        job.host->SettingsReadWhileCopying(SuggestedImageSettings(reading.Result()), settings);
    muxer.Finish();
    sourceFile.Close();
    if (end == CopyEnd::EndOfData && !muxer.Complete())
        end = CopyEnd::WriterFailed;
    outcome.videoChunks = videoCopied;
    outcome.audioChunks = audioCopied;
    outcome.walk = walkSummary;

    const bool copiedAnything = videoCopied + audioCopied != 0;
    const bool keepPartial =
        end != CopyEnd::EndOfData && KeepsPartialCopy(plan, copiedAnything) && muxer.Complete();
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
            job.Report({.code = EventCode::OutputNotCreated, .path = outputPath, .outputPath = outputPath});
            return;
        }
        undo.AlsoRemove({});
        if (int syncError = SyncDirectoryOf(outputPath)) {
            // Until the new name is on disk the recording must stay: under its temporary name.
            job.Report({.code = EventCode::NewNameNotOnDisk,
                        .path = outputPath,
                        .outputPath = outputPath,
                        .temporaryName = replacing ? names.temporaryName : "",
                        .systemError = syncError});
            return;
        }
        if (keepPartial) {
            outcome.status = FixStatus::Partial;
            if (readError)
                job.ReportFileError(*readError);
            job.Report(Stopped(end, muxer, position, false, path));
            return;
        }
        if (replacing) {
            DeleteFileQuietly(names.temporaryName);
            SyncDirectoryOf(names.temporaryName);
        }
        outcome.status = FixStatus::Repaired;
        job.ReportSkipped(walkSummary, false, path);
        return;
    }

    // The copy did not reach the end of the data: the recording stays, under its own name.
    DeleteFileQuietly(partialPath);
    restoreRecording();
    if (companionCopied && !copiedAnything)
        DeleteFileQuietly(names.companionCopy);
    if (readError)
        job.ReportFileError(*readError);
    if (!copiedAnything && end == CopyEnd::EndOfData)
        job.Report({.code = EventCode::NothingFound, .path = path});
    else
        job.Report(Stopped(end, muxer, position, true, path));
}

} // namespace clipwright
