// A look at a recording that writes nothing: its layout, its streams as the header and as the
// video say, the chunks a repair would find, where the data ends, and what a repair would do in
// each mode. Meant for a camera's recording that may still be written: the file is only read.
// Another recorder's AVI is looked at as its own repair reads it: by its header's stream lists.
#pragma once

#include "avi/CameraLayout.h"
#include "avi/ChunkWalk.h"
#include "avi/FourCC.h"
#include "codec/CameraSettingsDetector.h"
#include "repair/EngineEvent.h"
#include "repair/FixOutcome.h"
#include "repair/OtherRecorderScan.h"
#include "repair/RecordingFacts.h"
#include "repair/RepairPlan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace clipwright {

// Which chunk ids the walk took for footage: the in-place repair's, the rebuild's, or those of the
// streams another recorder's header names.
enum class CheckedIds { InPlace, Rebuild, Streams };

enum class RepairAction { None, IndexInPlace, Rebuild, CopyOpenDml };

// What a repair in one mode would do.
struct ModePlan {
    RepairAction action = RepairAction::None;
    PlannedResult result = PlannedResult::Refused;
    std::string outputPath; // the file written or changed; empty when nothing would be
    // Unless Complete or NeedsSettings: what the repair would report, as its host would be told.
    std::optional<EngineEvent> end;
    std::string keptAs; // a rebuild in place: where the recording waits until the new file stands
    CopyReason copyReason = CopyReason::None; // CopyOpenDml
};

enum class CheckVerdict {
    // Finalised: the camera's standard layout with its idx1 where the data ends and no damage, or
    // another recorder's file whose index lists every chunk.
    Healthy,
    Repairable,      // a repair in "Make new file" mode would complete
    Incomplete,      // damaged data the walk could not get past: a repair would stop there
    NeedsSettings,   // the frame size and rate must come from the user
    NothingToRepair, // no chunk found
    Refused,         // moved to tmp_NAME, still being written, or not writable
    Unreadable,      // the file could not be read, is empty or is no AVI; `problem` says which
};

// One stream of another recorder's AVI: what its header says, and what the walk found of it.
struct CheckedStream {
    StreamInfo header;
    StreamTally found;
    std::optional<double> seconds; // of the chunks found, by the stream's own rate and scale
};

// What the check learnt of another recorder's AVI, beyond what it learns of every file.
struct OtherRecorderCheck {
    std::vector<CheckedStream> streams;
    OtherRecorderFindings findings; // as the repair's summary says them
    uint32_t riffParts = 1;
    // Past one RIFF form: the super indexes have room for every part, which the repair indexes
    // where they stand; otherwise the file is copied anew.
    bool partsRepairable = true;
    bool needsNoRepair = false; // finalised: an index lists every chunk and the header says so
};

struct CheckReport {
    std::string path;
    CheckVerdict verdict = CheckVerdict::Unreadable;
    // Why the check or the repair could not go on; nothing otherwise.
    std::optional<EngineEvent> problem;
    std::string temporaryName; // when the recording is missing and tmp_NAME stands beside it

    bool read = false; // false: nothing below was learnt, but for the size of a file too large
    uint64_t size = 0;
    LayoutCode layout = LayoutOther;
    // Set when the probe found neither of the camera's own layouts and the file is a RIFF AVI with
    // a readable header: the repair then indexes what its movi list holds, and `header`, `video` and
    // the settings are not read.
    std::optional<OtherRecorderCheck> otherRecorder;
    HeaderSettings header;

    // Where the repair's walk starts, and the detector with it: the first chunk of the movi list,
    // or the first video id in a recording whose header is lost.
    uint64_t chunkStart = 0;
    DetectedSettings video; // the frame size and rate the video and sound give

    CheckedIds ids = CheckedIds::InPlace;
    uint32_t videoChunks = 0; // as the repair counts them: the rebuild passes over empty chunks
    uint32_t audioChunks = 0;
    uint32_t otherChunks = 0; // another recorder's: text and other streams, palette changes; indexed too
    WalkSummary walk;
    std::optional<uint64_t> indexOffset; // of an 'idx1' standing where the data ended on filler
    bool healthy = false;

    SettingsSource settingsSource = SettingsSource::NotNeeded;
    std::optional<ImageSettings> settings; // what a rebuild would write with
    // A header-lost recording of another recorder: its streams as the chunks say them.
    std::optional<BitstreamStreams> streams;

    ModePlan newFile; // "Make new file"
    ModePlan replace; // "Replace original file"
};

// Never writes, never raises: file errors end up in `problem`.
// `outputFolder`: where new files would go; empty: beside the recording.
CheckReport CheckRecording(const std::string& path, const std::string& outputFolder = {});

const char* VerdictName(CheckVerdict verdict);

} // namespace clipwright
