// The check is the inspection and the plans of both modes, as the repair makes them: what it says
// of a recording is what a repair then does with it.
#include "repair/RecordingCheck.h"

#include <new>

namespace clipwright {

namespace {

std::string BaseName(const std::string& path) {
    const size_t separator = path.rfind('/');
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

RepairAction ActionOf(RepairKind kind) {
    switch (kind) {
    case RepairKind::CameraInPlace:
    case RepairKind::OtherRecorder:
        return RepairAction::IndexInPlace;
    case RepairKind::CameraRebuild:
        return RepairAction::Rebuild;
    case RepairKind::OtherRecorderCopy:
        return RepairAction::CopyOpenDml;
    case RepairKind::None:
        break;
    }
    return RepairAction::None;
}

ModePlan Describe(const Inspection& inspection, const RepairPlan& plan) {
    ModePlan described;
    described.action = ActionOf(plan.kind);
    described.result = plan.result;
    described.outputPath = plan.outputPath;
    described.end = PlanEnd(inspection, plan);
    described.keptAs = plan.keptAs;
    described.copyReason = plan.copyReason;
    return described;
}

CheckVerdict VerdictOf(const Inspection& inspection, const CheckReport& report) {
    switch (inspection.access) {
    case Access::Missing:
    case Access::OpenFailed:
    case Access::Empty:
    case Access::NotAvi:
        return CheckVerdict::Unreadable;
    case Access::UnderTemporaryName:
        return CheckVerdict::Refused;
    case Access::Read:
        break;
    }
    switch (report.newFile.result) {
    case PlannedResult::Complete:
    case PlannedResult::NoRepairNeeded:
        return report.healthy ? CheckVerdict::Healthy : CheckVerdict::Repairable;
    case PlannedResult::Partial:
    case PlannedResult::Stops:
        return CheckVerdict::Incomplete;
    case PlannedResult::NeedsSettings:
        return CheckVerdict::NeedsSettings;
    case PlannedResult::NothingFound:
        return CheckVerdict::NothingToRepair;
    case PlannedResult::Refused:
        break;
    }
    return CheckVerdict::Refused;
}

void DescribeOtherRecorder(const OtherRecorderInspection& other, CheckReport& report) {
    report.ids = CheckedIds::Streams;
    OtherRecorderCheck check;
    check.findings = FindingsOf(other.structure, other.scan);
    check.riffParts = static_cast<uint32_t>(1 + other.furtherParts.size());
    check.partsRepairable = other.partsRepairable;
    check.needsNoRepair = other.finalised;
    for (size_t number = 0; number < other.structure.streams.size(); ++number) {
        const StreamInfo& stream = other.structure.streams[number];
        const StreamTally& found = other.scan.tallies[number];
        check.streams.push_back({stream, found, StreamSeconds(stream, found)});
        if (stream.kind == StreamKind::Video)
            report.videoChunks += found.chunks;
        else if (stream.kind == StreamKind::Audio)
            report.audioChunks += found.chunks;
    }
    // Text and other streams, and palette changes, are indexed too.
    report.otherChunks =
        static_cast<uint32_t>(other.entries.size()) - report.videoChunks - report.audioChunks;
    report.indexOffset = other.indexOffset;
    report.healthy = other.finalised;
    report.otherRecorder = std::move(check);
}

void DescribeCamera(const Inspection& inspection, CheckReport& report) {
    report.header = inspection.header;
    if (inspection.video)
        report.video = *inspection.video;
    if (const auto& scan = inspection.inPlace) {
        report.ids = CheckedIds::InPlace;
        report.videoChunks = scan->videoChunks;
        report.audioChunks = scan->audioChunks;
        report.indexOffset = scan->indexOffset;
        report.healthy = scan->indexWhole;
        return;
    }
    report.ids = CheckedIds::Rebuild;
    report.videoChunks = inspection.rebuildVideoChunks.value_or(0);
    report.audioChunks = inspection.rebuildAudioChunks.value_or(0);
    // The simplest honest test: an 'idx1' id where the data ended on filler.
    if (inspection.walk.end == WalkEnd::Filler && inspection.indexAtWalkEnd)
        report.indexOffset = inspection.walk.endOffset;
}

} // namespace

const char* VerdictName(CheckVerdict verdict) {
    switch (verdict) {
    case CheckVerdict::Healthy:
        return "healthy";
    case CheckVerdict::Repairable:
        return "repairable";
    case CheckVerdict::Incomplete:
        return "incomplete";
    case CheckVerdict::NeedsSettings:
        return "needs settings";
    case CheckVerdict::NothingToRepair:
        return "nothing to repair";
    case CheckVerdict::Refused:
        return "refused";
    case CheckVerdict::Unreadable:
        break;
    }
    return "unreadable";
}

CheckReport CheckRecording(const std::string& path, const std::string& outputFolder) {
    CheckReport report;
    report.path = path;
    try {
        const Inspection inspection = Inspect(path, BaseName(path), InspectionPurpose::Check, outputFolder);
        report.read = inspection.Read();
        report.size = inspection.size;
        if (inspection.access == Access::UnderTemporaryName)
            report.temporaryName = inspection.names.temporaryName;
        if (report.read) {
            report.layout = inspection.layout;
            report.chunkStart = inspection.chunkStart;
            report.walk = inspection.walk;
            if (inspection.other)
                DescribeOtherRecorder(*inspection.other, report);
            else
                DescribeCamera(inspection, report);
        }
        // The frame size and rate the command-line repair takes when the header lost them.
        const std::optional<ImageSettings> fromVideo = SettingsReadFromVideo(inspection);
        const RepairPlan newFile = MakePlan(inspection, OutputMode::NewFile, fromVideo);
        const RepairPlan replace = MakePlan(inspection, OutputMode::ReplaceOriginal, fromVideo);
        report.newFile = Describe(inspection, newFile);
        report.replace = Describe(inspection, replace);
        report.settingsSource =
            newFile.settingsSource == SettingsSource::User ? SettingsSource::Video : newFile.settingsSource;
        report.settings = newFile.settings;
        report.streams = newFile.streams;
        report.verdict = VerdictOf(inspection, report);
        if (report.verdict == CheckVerdict::Refused || report.verdict == CheckVerdict::Unreadable)
            report.problem = report.newFile.end;
        return report;
    } catch (const std::bad_alloc&) {
        CheckReport ended;
        ended.path = path;
        ended.problem = EngineEvent{.code = EventCode::CheckOutOfMemory, .path = path};
        ended.newFile.end = ended.replace.end = ended.problem;
        return ended;
    }
}

} // namespace clipwright
