#include "repair/RepairEngine.h"

#include "repair/CopyAhead.h"
#include "repair/Executors.h"

#include <optional>

namespace clipwright {

void RepairEngine::RunFixJob(const FixRequest& request) {
    outcome = FixOutcome{};
    ProgressMeter progress;
    if (host != nullptr)
        progress = ProgressMeter([this](const ProgressReport& report) { host->Progress(report); },
                                 [this] { return host->StopRequested(); });
    try {
        RunJob(request, progress);
    } catch (const JobStopped&) {
        // Whatever stopped had undone its writes on the way out: the recording stands as it was.
        outcome.status = FixStatus::Cancelled;
    }
}

void RepairEngine::RunJob(const FixRequest& request, ProgressMeter& progress) {
    // Held until the job ends: a second repair of the same recording is refused meanwhile, so
    // neither touches the other's files.
    RecordingClaim claim;
    const bool claimed = claim.Take(request.path);
    // A large recording's copy for "Make new file" starts as soon as the look knows the repair
    // will want it; the plan takes it or it goes. Never beside another repair of the same file,
    // whose hidden copy has the same name.
    std::optional<CopyAhead> ahead;
    auto walkStarting = [&](const Inspection& look) {
        if (ahead || !claimed || request.mode != OutputMode::NewFile || look.openForWriting ||
            look.size < request.copyAheadFrom)
            return;
        ahead.emplace(request.path, PartialName(look.names.fixName));
    };
    auto inspect = [&](InspectionPurpose purpose) {
        Inspection inspection =
            Inspect(request.path, request.fileName, purpose, request.outputFolder, &progress, walkStarting);
        inspection.repairRunning = !claimed;
        if (!request.referencePath.empty())
            inspection.reference = ReadReference(request.referencePath);
        return inspection;
    };
    Inspection inspection =
        inspect(request.settings ? InspectionPurpose::RepairWithSettings : InspectionPurpose::Repair);
    RepairPlan plan = MakePlan(inspection, request.mode);
    if (plan.result == PlannedResult::NeedsSettings && request.settings) {
        // Settings given beforehand answer the prompt. A copy that runs reads the video as it goes;
        // for a plan that copies nothing the video is read now, and the prompt answered as ever.
        outcome.askedForImageSettings = true;
        const RepairPlan answered = MakePlan(inspection, request.mode, request.settings);
        if (answered.Runs()) {
            plan = answered;
        } else {
            inspection = inspect(InspectionPurpose::Repair);
            plan = MakePlan(inspection, request.mode);
        }
    }
    outcome.layout = inspection.layout;
    outcome.layoutProbed = inspection.Read();
    auto dropUnwantedCopy = [&] {
        if (ahead && !(plan.CopiesWhole() && plan.partialPath == ahead->PartialPath()))
            ahead.reset();
    };
    dropUnwantedCopy();

    if (plan.result == PlannedResult::NeedsSettings) {
        outcome.askedForImageSettings = true;
        outcome.streams = plan.streams;
        if (host != nullptr)
            host->ShowProgress(false);
        const std::optional<ImageSettings> answer =
            host != nullptr ? host->AskImageSettings(SettingsReadFromVideo(inspection)) : std::nullopt;
        const std::string reference = !answer && host != nullptr ? host->ReferenceChosenInPrompt() : "";
        if (!answer && reference.empty()) {
            outcome.status = FixStatus::Cancelled;
            return;
        }
        host->ShowProgress(true);
        if (!reference.empty())
            inspection.reference = ReadReference(reference);
        plan = MakePlan(inspection, request.mode, answer);
        dropUnwantedCopy();
    }
    const JobContext job{host, outcome, &progress, ahead ? &*ahead : nullptr};
    if (!plan.Runs()) {
        outcome.layoutProbed = outcome.layoutProbed && !plan.beforeLayout;
        ReportPlanEnd(inspection, plan);
        return;
    }
    switch (plan.kind) {
    case RepairKind::CameraInPlace:
        RepairCameraInPlace(inspection, plan, job);
        return;
    case RepairKind::CameraRebuild:
        RebuildCameraRecording(inspection, plan, job);
        return;
    case RepairKind::OtherRecorder:
        RepairOtherRecorder(inspection, plan, job);
        return;
    case RepairKind::OtherRecorderCopy:
        CopyOtherRecorder(inspection, plan, job);
        return;
    case RepairKind::None:
        break;
    }
}

void RepairEngine::ReportPlanEnd(const Inspection& inspection, const RepairPlan& plan) {
    outcome.status = FixStatus::Failed;
    if (inspection.other) {
        outcome.otherRecorder = FindingsOf(inspection.other->structure, inspection.other->scan);
        outcome.walk = inspection.other->scan.walk;
    }
    if (plan.result == PlannedResult::NoRepairNeeded) {
        outcome.status = FixStatus::Repaired;
        outcome.otherRecorder->neededNoRepair = true;
    }
    if (const std::optional<EngineEvent> end = PlanEnd(inspection, plan))
        JobContext{host, outcome}.Report(*end);
}

} // namespace clipwright
