// The sentences the program shows for what the engine reports, other than the fixed file-error
// sentences of platform/FileError.h.
#pragma once

#include "avi/ChunkWalk.h"
#include "repair/FixOutcome.h"
#include "repair/ReferenceRecording.h"

#include <cstdint>
#include <optional>
#include <string>

namespace clipwright::messages {

std::string EmptyFile();
std::string NotAnAviFile(const std::string& whatItIs);
std::string OpenForWriting();
std::string ChangedWhileRead();
std::string RepairAlreadyRunning();

std::string CopyToFixNameFailed(const std::string& fixName, int systemError);
std::string MoveToTemporaryNameFailed(const std::string& temporaryName, int systemError);
std::string OutputNotCreated(const std::string& outputPath);
// The folder `outputPath` would go into takes no new file.
std::string FolderRefusesNewFile(const std::string& outputPath, int systemError);
std::string NoRecordingData();
// Why a new file could not be written, from the system's errno: "the new file could not be
// written (No space left on device)".
std::string NewFileNotWritten(int systemError);
// The new file stands under its name, but the folder could not be synced; `keptAs` names the
// temporary name the recording stays under, or is empty.
std::string NewNameNotOnDisk(const std::string& outputPath, const std::string& keptAs, int systemError);
std::string CopyStopped(const std::string& reason, uint64_t offset, bool recordingRestored);
std::string OutOfMemory();
// A check that ran out of memory.
std::string NoMemoryToCheck();
std::string ReplacingThroughLink();
// Another recorder's AVI made of more than one RIFF part (past 1 GiB), which needs OpenDML
// indexes that are not written yet.
// A finalised AVI from another recorder, left as it was in place.
std::string NoRepairNeeded();
// What a header-lost recording's chunks say of its streams, and where each rate came from:
// "H.264 320x240 at 25 fps from the video, PCM 16-bit mono 22050 Hz from the video's clock".
std::string StreamsFound(const BitstreamStreams& streams);
std::string StreamsUnknown(StreamGap gap);
// `fileCause` when the reference could not be read.
std::string ReferenceUnfit(const std::string& referencePath, ReferenceMisfit misfit, int fileCause);
// What a repair of another recorder's AVI found: "AVI from another recorder: 2 streams, 1,234
// video frames, 95 s of audio".
std::string OtherRecorderFindings(uint32_t streams, uint32_t videoFrames, std::optional<double> audioSeconds);
// "key frames after the first are unknown for this codec (DIV3)", for a summary.
std::string KeyFramesUnknown(const UnknownKeyFrames& unknown);
// The same, for a repair that wrote its index: "AVI from another recorder: ..., index rebuilt in
// the new file "fix_x.avi"." (or the original file, when replaced), why the file was written anew in OpenDML
// form and `outputPath` where it went, and the key frames that are unknown.
std::string OtherRecorderRepaired(const clipwright::OtherRecorderFindings& findings,
                                  const std::string& outputPath = {});
// A scan of a larger file that found no recording in it.
std::string NoRecordingFound(const std::string& path);
// A recording found by a scan whose chunks stopped at other bytes, with a run of the same streams'
// chunks beginning at `offset`.
std::string MayBeFragmented(uint64_t offset);
std::string RecordingUnderTemporaryName(const std::string& temporaryName, const std::string& path);

// What a walk of the recording skipped, for a summary: "512 bytes of damaged data skipped at
// offset 72192"; empty when it skipped nothing.
std::string SkippedSummary(const WalkSummary& walk);
// The same as a sentence for the user, saying that the footage around it was kept; empty when
// nothing was skipped and nothing was left behind the data.
std::string SkippedNotice(const WalkSummary& walk, bool inPlace);
// An in-place repair whose walk could not get past damaged data.
std::string InPlaceStopped(uint64_t offset, uint32_t chunksIndexed);
// Why a copy stopped, for CopyStopped.
std::string WalkGaveUpReason();
std::string NoMemoryForAChunkReason();
std::string RecordingNotReadReason();
std::string EndOfRecordingReason();

} // namespace clipwright::messages
