// What the engine tells its host, as data: a code and the values the front ends need to put it in
// their own words. The engine builds no sentences; the same event can be shown, printed or tested.
#pragma once

#include "avi/ChunkWalk.h"
#include "repair/FixOutcome.h"
#include "repair/RebuildStreams.h"
#include "repair/RecordingFacts.h"
#include "repair/ReferenceRecording.h"

#include <cstdint>
#include <string>

namespace clipwright {

enum class EventCode {
    // Problems: the job failed or stopped, or it left something the user must know of.
    FileError,            // `fileCause`; `path` names the file it concerns
    UnderTemporaryName,   // `temporaryName` stands beside the missing recording
    Empty,                // 0 bytes
    NotAvi,               // `foreign`
    ReplacingThroughLink, // "Replace original file" on a symbolic link
    OpenForWriting,       // another program holds the recording open for writing
    ChangedWhileRead,     // it changed since it was read
    RepairRunning,        // another repair of it runs now
    CopyNotMade,          // the copy to `outputPath` failed: `systemError`
    TemporaryNameBlocked, // the move to `temporaryName` failed: `systemError`
    OutputNotCreated,     // `outputPath` could not be created
    NothingFound,         // no recording data
    NoRepairNeeded,       // finalised and indexed: left as it was
    StreamsUnknown,       // the header was lost and the chunks do not say `streamGap`
    ReferenceUnfit,       // the reference recording `outputPath` does not fit: `referenceMisfit`,
                          // `fileCause` when it could not be read
    OutOfMemory,          // during a repair
    CheckOutOfMemory,     // during a check
    NewNameNotOnDisk,     // `outputPath` stands, its folder was not synced: `systemError`, and
                          // `temporaryName` where the recording was kept, or empty
    CopyStopped,          // a rebuild stopped at `offset` for `copyStop`; `recordingRestored`
    InPlaceStopped,       // an in-place repair stopped at `offset`, `chunks` indexed before it
    SkippedData,          // a repair that completed passed over damage or left bytes behind the
                          // data: `walk`, `inPlace`
    // Findings: what a repair that succeeded found and did.
    OtherRecorderRepaired, // `findings`, and `outputPath` of a copy
};
// The number of codes; OtherRecorderRepaired stays the last.
inline constexpr int kEventCodeCount = static_cast<int>(EventCode::OtherRecorderRepaired) + 1;

// Findings are told as information, everything else as a problem.
constexpr bool IsFinding(EventCode code) {
    return code == EventCode::OtherRecorderRepaired;
}

// Why a rebuild's copy stopped.
enum class CopyStop {
    EndOfRecording,
    Damaged,          // damaged data with no chunk in the resync search's reach behind it
    NoMemoryForChunk, // a payload buffer could not be had
    NotWritten,       // the new file could not be written: `systemError`
    RecordingNotRead, // a file error, reported on its own before
};

// Only the values its code names are set; the rest keep their defaults.
struct EngineEvent {
    EventCode code = EventCode::FileError;
    std::string path{};          // the file concerned, as the host names it; may be empty
    std::string outputPath{};    // the file a repair writes or would have written
    std::string temporaryName{}; // tmp_NAME, where a recording waits during a rebuild in place
    int fileCause = 0;           // a cause from platform/FileError.h
    int systemError = 0;         // errno
    ForeignKind foreign = ForeignKind::Unknown;
    uint64_t offset = 0;
    uint32_t chunks = 0;
    CopyStop copyStop = CopyStop::EndOfRecording;
    bool recordingRestored = false; // a stopped rebuild left the recording as it was, and kept nothing
    bool inPlace = false;           // the chunks were indexed where they stand, not copied
    // CopyNotMade, OutputNotCreated: the folder `outputPath` goes into takes no new file, for
    // `systemError`; the folder is what the user must change.
    bool folderRefused = false;
    StreamGap streamGap = StreamGap::None;
    ReferenceMisfit referenceMisfit = ReferenceMisfit::None;
    WalkSummary walk{};
    OtherRecorderFindings findings{};
};

} // namespace clipwright
