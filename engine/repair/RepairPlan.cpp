#include "repair/RepairPlan.h"

#include "platform/FileOperations.h"

#include <cerrno>

namespace clipwright {

namespace {

RepairPlan Refuse(RepairKind kind, Refusal refusal, PlannedResult result = PlannedResult::Refused) {
    RepairPlan plan;
    plan.beforeLayout = kind == RepairKind::None && result == PlannedResult::Refused;
    plan.kind = kind;
    plan.result = result;
    plan.refusal = refusal;
    return plan;
}

RepairKind KindOf(const Inspection& inspection) {
    if (inspection.other)
        return RepairKind::OtherRecorder;
    return inspection.layout == LayoutStandard && !inspection.inPlacePastLimit ? RepairKind::CameraInPlace
                                                                               : RepairKind::CameraRebuild;
}

// Readers take the sizes of an AVI of one RIFF form for signed 32-bit numbers.
constexpr uint64_t kLargestRiffForm = uint64_t{1} << 31;

// Where a file of one RIFF form would end with its idx1.
uint64_t RepairedSize(const OtherRecorderInspection& other) {
    return other.scan.dataEnd + 8 + 16 * uint64_t{other.entries.size()};
}

uint32_t ChunksIndexed(const Inspection& inspection) {
    if (inspection.other)
        return static_cast<uint32_t>(inspection.other->entries.size());
    return inspection.inPlace ? static_cast<uint32_t>(inspection.inPlace->entries.size()) : 0;
}

// Why another recorder's AVI cannot be indexed where it stands, if it cannot.
CopyReason CopyReasonOf(const OtherRecorderInspection& other) {
    if (other.finalised)
        return CopyReason::None;
    if (!other.partsRepairable)
        return CopyReason::PartsNotListable;
    if (other.furtherParts.empty() && RepairedSize(other) >= kLargestRiffForm)
        return CopyReason::FormTooLarge;
    return CopyReason::None;
}

// Where a new file goes and where the recording waits meanwhile, by the rebuild's rules: "Replace
// original file" moves the recording to tmp_NAME and writes the new file under its name.
void PlaceNewFile(const Inspection& inspection, bool replacing, RepairPlan& plan) {
    const OutputNames& names = inspection.names;
    if (replacing && FileExists(names.temporaryName)) {
        plan.result = PlannedResult::Refused;
        plan.refusal = Refusal::TemporaryNameBlocked;
        plan.systemError = EEXIST;
        return;
    }
    if (const int folderError = replacing ? inspection.folderError : inspection.outputFolderError) {
        plan.result = PlannedResult::Refused;
        plan.refusal = replacing ? Refusal::TemporaryNameBlocked : Refusal::OutputNotCreatable;
        plan.systemError = folderError;
        return;
    }
    plan.outputPath = replacing ? inspection.path : names.fixName;
    plan.partialPath = PartialName(plan.outputPath);
    plan.keptAs = replacing ? names.temporaryName : "";
    plan.result = PlannedResult::Complete;
}

void ClearOutput(RepairPlan& plan) {
    plan.outputPath.clear();
    plan.partialPath.clear();
    plan.keptAs.clear();
}

// A copy whose walk stops at damaged data: a new file keeps what lies before it, a replace writes
// nothing.
void StopAtDamage(RepairPlan& plan, bool copiesAnything) {
    if (KeepsPartialCopy(plan, copiesAnything)) {
        plan.result = PlannedResult::Partial;
        return;
    }
    plan.result = PlannedResult::Stops;
    plan.refusal = Refusal::WalkStops;
    ClearOutput(plan);
}

RepairPlan PlanCopy(const Inspection& inspection, OutputMode mode, CopyReason reason) {
    RepairPlan plan;
    plan.kind = RepairKind::OtherRecorderCopy;
    plan.mode = mode;
    plan.copyReason = reason;
    PlaceNewFile(inspection, mode == OutputMode::ReplaceOriginal, plan);
    if (plan.result != PlannedResult::Refused && !inspection.other->scan.walk.Complete())
        StopAtDamage(plan, true);
    return plan;
}

// The camera's standard layout and another recorder's AVI are both indexed where they stand: in a
// copy made first, or in the recording itself.
RepairPlan PlanInPlace(const Inspection& inspection, OutputMode mode, RepairKind kind) {
    const bool replacing = mode == OutputMode::ReplaceOriginal;
    if (inspection.other && ChunksIndexed(inspection) != 0)
        if (const CopyReason reason = CopyReasonOf(*inspection.other); reason != CopyReason::None)
            return PlanCopy(inspection, mode, reason);
    if (!replacing && inspection.outputFolderError != 0) {
        RepairPlan plan = Refuse(kind, Refusal::CopyNotMade);
        plan.systemError = inspection.outputFolderError;
        return plan;
    }
    if (ChunksIndexed(inspection) == 0)
        return Refuse(kind, Refusal::NothingFound, PlannedResult::NothingFound);
    // Another recorder's finalised file is the same in both modes: a copy would only be the same file.
    if (inspection.other && inspection.other->finalised)
        return Refuse(RepairKind::None, Refusal::NoRepairNeeded, PlannedResult::NoRepairNeeded);
    RepairPlan plan;
    plan.kind = kind;
    plan.mode = mode;
    plan.result = inspection.walk.Complete() ? PlannedResult::Complete : PlannedResult::Partial;
    plan.outputPath = replacing ? inspection.path : inspection.names.fixName;
    if (!replacing)
        plan.partialPath = PartialName(inspection.names.fixName);
    return plan;
}

// What a check knows ahead of the copy: whether it copies anything, and whether it stops early.
void JudgeRebuildWalk(const Inspection& inspection, RepairPlan& plan) {
    // Only a check walks ahead of the copy; a repair learns this as it copies, by the same rule.
    if (!inspection.rebuildVideoChunks)
        return;
    const bool copiesAnything = *inspection.rebuildVideoChunks + *inspection.rebuildAudioChunks != 0;
    if (inspection.walk.Complete()) {
        if (!copiesAnything) {
            plan.result = PlannedResult::NothingFound;
            plan.refusal = Refusal::NothingFound;
            ClearOutput(plan);
        }
        return;
    }
    StopAtDamage(plan, copiesAnything);
}

// Another recorder's recording whose header was lost: its streams as the chunks say, always
// written as a new file, since nothing of the old header stands behind them.
void PlanBitstreamRebuild(const Inspection& inspection, const std::optional<ImageSettings>& answer,
                          RepairPlan& plan) {
    std::optional<uint32_t> userRate;
    if (answer)
        userRate = answer->framesPerSecond;
    plan.streams = StreamsFromBitstream(*inspection.video, userRate);
    plan.settingsSource = SettingsSource::Bitstream;
    switch (plan.streams->gap) {
    case StreamGap::None:
        break;
    case StreamGap::FrameRate:
        plan.settingsSource = SettingsSource::Missing;
        plan.result = PlannedResult::NeedsSettings;
        return;
    case StreamGap::VideoFormat:
    case StreamGap::SoundFormat:
    case StreamGap::SampleRate:
        plan.result = PlannedResult::Refused;
        plan.refusal = Refusal::StreamsUnknown;
        return;
    }
    plan.mode = OutputMode::NewFile;
    PlaceNewFile(inspection, false, plan);
    if (plan.result != PlannedResult::Refused)
        JudgeRebuildWalk(inspection, plan);
}

// A header-lost recording with a healthy one of the same device to stand in for its header.
void PlanReferenceRebuild(const Inspection& inspection, RepairPlan& plan) {
    plan.settingsSource = SettingsSource::Reference;
    plan.referenceMisfit = JudgeReference(*inspection.reference, *inspection.video);
    if (plan.referenceMisfit != ReferenceMisfit::None) {
        plan.result = PlannedResult::Refused;
        plan.refusal = Refusal::ReferenceUnfit;
        plan.fileCause = inspection.reference->fileCause;
        return;
    }
    plan.reference = StreamsOfReference(*inspection.reference);
    plan.mode = OutputMode::NewFile;
    PlaceNewFile(inspection, false, plan);
    if (plan.result != PlannedResult::Refused)
        JudgeRebuildWalk(inspection, plan);
}

RepairPlan PlanRebuild(const Inspection& inspection, OutputMode mode,
                       const std::optional<ImageSettings>& answer) {
    RepairPlan plan;
    plan.kind = RepairKind::CameraRebuild;
    plan.dataStart = inspection.chunkStart;
    if (inspection.header.usable) {
        plan.settingsSource = SettingsSource::Header;
        plan.settings = ImageSettings{inspection.header.resolution, inspection.header.framesPerSecond};
    }
    // Nothing to copy: said before anyone is asked for settings.
    if (!inspection.anyCameraChunk) {
        plan.result = PlannedResult::NothingFound;
        plan.refusal = Refusal::NothingFound;
        return plan;
    }
    if (!inspection.header.usable && inspection.video && inspection.reference) {
        PlanReferenceRebuild(inspection, plan);
        return plan;
    }
    if (!inspection.header.usable && inspection.video && !FitsCameraStreams(*inspection.video)) {
        PlanBitstreamRebuild(inspection, answer, plan);
        return plan;
    }
    // A rate given alone takes the frame size the video gives.
    std::optional<ImageSettings> given = answer;
    if (given && given->resolution == kResolutionUnknown) {
        const ResolutionCode fromVideo =
            inspection.video ? inspection.video->resolution.value_or(kResolutionUnknown) : kResolutionUnknown;
        if (fromVideo == kResolutionUnknown)
            given.reset();
        else
            given->resolution = fromVideo;
    }
    if (!inspection.header.usable && given) {
        plan.settingsSource = SettingsSource::User;
        plan.settings = given;
        plan.readsVideoWhileCopying = !inspection.video || inspection.video->streamsLookedAtOnly;
    } else if (!inspection.header.usable) {
        plan.settingsSource =
            SettingsReadFromVideo(inspection) ? SettingsSource::Video : SettingsSource::Missing;
        plan.result = PlannedResult::NeedsSettings;
        return plan;
    }
    // Settings that did not come from the header always make a new file: the prompt says so.
    const bool replacing =
        mode == OutputMode::ReplaceOriginal && plan.settingsSource == SettingsSource::Header;
    plan.mode = replacing ? OutputMode::ReplaceOriginal : OutputMode::NewFile;
    PlaceNewFile(inspection, replacing, plan);
    if (plan.result != PlannedResult::Refused)
        JudgeRebuildWalk(inspection, plan);
    return plan;
}

} // namespace

std::optional<ImageSettings> SettingsReadFromVideo(const Inspection& inspection) {
    // The camera's settings only: another recorder's streams take their size from the chunks.
    if (!inspection.video || !FitsCameraStreams(*inspection.video))
        return std::nullopt;
    return SuggestedImageSettings(*inspection.video);
}

bool KeepsPartialCopy(const RepairPlan& plan, bool copiedAnything) {
    return plan.mode == OutputMode::NewFile && copiedAnything;
}

RepairPlan MakePlan(const Inspection& inspection, OutputMode mode,
                    const std::optional<ImageSettings>& answer) {
    const bool replacing = mode == OutputMode::ReplaceOriginal;
    // In the order the user can do something about them: what the file is, then what stops a write.
    switch (inspection.access) {
    case Access::UnderTemporaryName:
        return Refuse(RepairKind::None, Refusal::UnderTemporaryName);
    case Access::Missing:
    case Access::OpenFailed: {
        if (replacing && inspection.symbolicLink)
            return Refuse(RepairKind::None, Refusal::ReplacingThroughLink);
        RepairPlan plan = Refuse(RepairKind::None, Refusal::Unreadable);
        plan.fileCause = inspection.openCause;
        return plan;
    }
    case Access::Empty:
        return Refuse(RepairKind::None, Refusal::Empty);
    case Access::NotAvi: {
        RepairPlan plan = Refuse(RepairKind::None, Refusal::NotAvi);
        plan.foreign = inspection.foreign;
        return plan;
    }
    case Access::Read:
        break;
    }
    const RepairKind kind = KindOf(inspection);
    // Refusals of the file as a whole, before its layout has any say.
    auto refuseFile = [&](Refusal refusal) {
        RepairPlan plan = Refuse(kind, refusal);
        plan.beforeLayout = true;
        return plan;
    };
    if (replacing && inspection.symbolicLink)
        return refuseFile(Refusal::ReplacingThroughLink);
    if (inspection.repairRunning)
        return refuseFile(Refusal::RepairRunning);
    if (inspection.openForWriting)
        return refuseFile(Refusal::OpenForWriting);
    if (inspection.changedWhileRead)
        return refuseFile(Refusal::ChangedWhileRead);
    // "Make new file" only reads the recording: a write-protected card or file is no obstacle.
    if (replacing && inspection.unwritableCause != 0) {
        RepairPlan plan = refuseFile(Refusal::Unwritable);
        plan.fileCause = inspection.unwritableCause;
        return plan;
    }
    return kind == RepairKind::CameraRebuild ? PlanRebuild(inspection, mode, answer)
                                             : PlanInPlace(inspection, mode, kind);
}

std::optional<EngineEvent> PlanEnd(const Inspection& inspection, const RepairPlan& plan) {
    EngineEvent event{.path = inspection.path};
    switch (plan.refusal) {
    case Refusal::UnderTemporaryName:
        event.code = EventCode::UnderTemporaryName;
        event.temporaryName = inspection.names.temporaryName;
        return event;
    case Refusal::Unreadable:
    case Refusal::Unwritable:
        event.code = EventCode::FileError;
        event.fileCause = plan.fileCause;
        return event;
    case Refusal::Empty:
        event.code = EventCode::Empty;
        return event;
    case Refusal::NotAvi:
        event.code = EventCode::NotAvi;
        event.foreign = plan.foreign;
        return event;
    case Refusal::ReplacingThroughLink:
        event.code = EventCode::ReplacingThroughLink;
        return event;
    case Refusal::OpenForWriting:
        event.code = EventCode::OpenForWriting;
        return event;
    case Refusal::ChangedWhileRead:
        event.code = EventCode::ChangedWhileRead;
        return event;
    case Refusal::RepairRunning:
        event.code = EventCode::RepairRunning;
        return event;
    case Refusal::CopyNotMade:
        event.code = EventCode::CopyNotMade;
        event.outputPath = inspection.names.fixName;
        event.systemError = plan.systemError;
        event.folderRefused = true;
        return event;
    case Refusal::TemporaryNameBlocked:
        event.code = EventCode::TemporaryNameBlocked;
        event.temporaryName = inspection.names.temporaryName;
        event.systemError = plan.systemError;
        return event;
    case Refusal::OutputNotCreatable:
        event.code = EventCode::OutputNotCreated;
        event.outputPath = inspection.names.fixName;
        event.systemError = plan.systemError;
        event.folderRefused = true;
        return event;
    case Refusal::NothingFound:
        event.code = EventCode::NothingFound;
        return event;
    case Refusal::NoRepairNeeded:
        event.code = EventCode::NoRepairNeeded;
        return event;
    case Refusal::StreamsUnknown:
        event.code = EventCode::StreamsUnknown;
        event.streamGap = plan.streams ? plan.streams->gap : StreamGap::VideoFormat;
        return event;
    case Refusal::ReferenceUnfit:
        event.code = EventCode::ReferenceUnfit;
        event.outputPath = inspection.reference ? inspection.reference->path : "";
        event.fileCause = plan.fileCause;
        event.referenceMisfit = plan.referenceMisfit;
        return event;
    case Refusal::WalkStops:
        event.code = EventCode::CopyStopped;
        event.offset = inspection.walk.endOffset;
        event.copyStop = CopyStop::Damaged;
        event.recordingRestored = true;
        return event;
    case Refusal::None:
        break;
    }
    if (plan.result != PlannedResult::Partial)
        return std::nullopt;
    event.offset = inspection.walk.endOffset;
    if (plan.kind == RepairKind::CameraRebuild || plan.kind == RepairKind::OtherRecorderCopy) {
        event.code = EventCode::CopyStopped;
        event.copyStop = CopyStop::Damaged;
    } else {
        event.code = EventCode::InPlaceStopped;
        event.chunks = ChunksIndexed(inspection);
    }
    return event;
}

const char* PlannedResultName(PlannedResult result) {
    switch (result) {
    case PlannedResult::Complete:
        return "complete";
    case PlannedResult::Partial:
        return "partial";
    case PlannedResult::Stops:
        return "stops";
    case PlannedResult::NeedsSettings:
        return "needs settings";
    case PlannedResult::NothingFound:
        return "nothing found";
    case PlannedResult::NoRepairNeeded:
        return "no repair needed";
    case PlannedResult::Refused:
        break;
    }
    return "refused";
}

} // namespace clipwright
