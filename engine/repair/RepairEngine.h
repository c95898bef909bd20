// The repair job: one inspection of the recording, one plan made from it, and the executor of that
// plan. The engine holds no repair of its own; it runs one job at a time for its host.
#pragma once

#include "repair/FixOutcome.h"
#include "repair/FixerHost.h"
#include "repair/IndexEntry.h"
#include "repair/RecordingFacts.h"
#include "repair/RepairPlan.h"

namespace clipwright {

class RepairEngine {
public:
    RepairEngine() = default;
    RepairEngine(const RepairEngine&) = delete;
    RepairEngine& operator=(const RepairEngine&) = delete;

    void RunFixJob(const FixRequest& request);

    void SetHost(FixerHost* window) { host = window; }
    FixerHost* Host() const { return host; }

    const FixOutcome& LastOutcome() const { return outcome; }

private:
    void RunJob(const FixRequest& request, ProgressMeter& progress);
    // Tells the user why the plan runs no repair; the outcome says what that means.
    void ReportPlanEnd(const Inspection& inspection, const RepairPlan& plan);

    FixerHost* host = nullptr;
    FixOutcome outcome;
};

} // namespace clipwright
