// The plan: a pure function of the inspection, the mode and the settings. It says which repair runs,
// what it reads and writes where, and what it is expected to give, or why nothing runs. The repair
// carries it out; `--check` prints it. Nothing else decides.
#pragma once

#include "avi/CameraLayout.h"
#include "repair/EngineEvent.h"
#include "repair/FixOutcome.h"
#include "repair/RebuildStreams.h"
#include "repair/RecordingFacts.h"

#include <optional>
#include <string>

namespace clipwright {

enum class RepairKind {
    None,              // nothing runs: refused, or nothing to do
    CameraInPlace,     // the camera's standard layout: index written where the data ends
    CameraRebuild,     // the camera's other layouts: chunks copied into a new file
    OtherRecorder,     // another recorder's AVI: indexed where it stands
    OtherRecorderCopy, // another recorder's AVI that cannot be indexed where it stands: copied anew
                       // in OpenDML form; `copyReason` says why
};

enum class PlannedResult {
    Complete,       // the repair would write its output whole
    Partial,        // it would stop at damaged data; `outputPath` would hold what lies before it
    Stops,          // it would stop at damaged data and leave everything as it was
    NeedsSettings,  // it would write nothing without the frame size and rate from the user
    NothingFound,   // it would find no chunk and write nothing
    NoRepairNeeded, // the file is finalised and indexed, and is left as it is
    Refused,        // it would not start, or could not write; `refusal` says why
};

// Why nothing runs, as data; the values it needs stand beside it in the plan.
enum class Refusal {
    None,
    UnderTemporaryName,
    Unreadable, // `fileCause`
    Empty,
    NotAvi, // `foreign`
    ReplacingThroughLink,
    OpenForWriting,       // another program holds it open for writing
    ChangedWhileRead,     // it grew or changed while it was read
    RepairRunning,        // another repair of it runs now
    Unwritable,           // `fileCause`
    CopyNotMade,          // "Make new file" in place: `systemError` of the folder
    TemporaryNameBlocked, // a rebuild in place: `systemError`
    OutputNotCreatable,   // a rebuild's new file: the folder takes no new name
    NothingFound,
    NoRepairNeeded,
    WalkStops,      // damaged data the walk cannot pass, and nothing would be kept
    StreamsUnknown, // a header-lost recording whose chunks do not say what they are: `streams->gap`
    ReferenceUnfit, // the reference recording does not fit the chunks: `referenceMisfit`
};

// Where a rebuild's frame size and rate come from.
enum class SettingsSource {
    NotNeeded, // the repair keeps the header as it is
    Header,
    Video,     // the header's are unusable; the video and sound give both
    User,      // the user's answer to the prompt
    Missing,   // none yet: the repair needs them from the user
    Bitstream, // not the camera's streams: each is declared as its chunks say (`streams`)
    Reference, // the stream headers of a reference recording (`reference`)
};

struct RepairPlan {
    RepairKind kind = RepairKind::None;
    OutputMode mode =
        OutputMode::NewFile; // as carried out: a rebuild with settings from elsewhere makes a new file
    PlannedResult result = PlannedResult::Refused;

    Refusal refusal = Refusal::None;
    bool beforeLayout = false; // refused for what the file is or where it stands, whatever its layout
    int fileCause = 0;
    int systemError = 0;
    ForeignKind foreign = ForeignKind::Unknown;

    std::string outputPath;  // the file written or changed; empty when nothing would be
    std::string partialPath; // where a new file is written before it takes its name
    std::string keptAs; // a rebuild or copy in place: where the recording waits until the new file stands

    CopyReason copyReason = CopyReason::None; // OtherRecorderCopy

    // A rebuild's settings and where its copy starts.
    SettingsSource settingsSource = SettingsSource::NotNeeded;
    std::optional<ImageSettings> settings;
    uint64_t dataStart = 0;
    // The user's settings, with the video not read yet: the copy reads what it says on the way,
    // for the host to compare.
    bool readsVideoWhileCopying = false;
    // A header-lost recording of another recorder: what its chunks say of its streams. With a
    // `gap` of FrameRate the plan needs the rate from the user.
    std::optional<BitstreamStreams> streams;
    // A header-lost recording rebuilt with a reference recording's stream headers.
    std::optional<ReferenceStreams> reference;
    ReferenceMisfit referenceMisfit = ReferenceMisfit::None;

    bool Runs() const {
        return kind != RepairKind::None && result != PlannedResult::Refused &&
               result != PlannedResult::NeedsSettings && result != PlannedResult::NothingFound &&
               result != PlannedResult::NoRepairNeeded && result != PlannedResult::Stops;
    }
    // "Make new file" by a whole copy of the recording that is then repaired where it stands.
    bool CopiesWhole() const {
        return Runs() && mode == OutputMode::NewFile &&
               (kind == RepairKind::CameraInPlace || kind == RepairKind::OtherRecorder);
    }
};

// `answer`: the user's frame size and rate, once asked.
RepairPlan MakePlan(const Inspection& inspection, OutputMode mode,
                    const std::optional<ImageSettings>& answer = std::nullopt);

// What the recording's own video and sound give, when they give both.
std::optional<ImageSettings> SettingsReadFromVideo(const Inspection& inspection);

// How a rebuild's copy ends when the walk stopped before the end of the data: a new file keeps
// what was copied before the damage; a replace puts the recording back.
bool KeepsPartialCopy(const RepairPlan& plan, bool copiedAnything);

// What the repair reports of a plan that runs no repair, or that stops early; nothing for a plan
// that completes or needs settings first.
std::optional<EngineEvent> PlanEnd(const Inspection& inspection, const RepairPlan& plan);

const char* PlannedResultName(PlannedResult result);

} // namespace clipwright
