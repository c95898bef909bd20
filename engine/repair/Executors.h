// The executors: each carries out a plan of its kind, and only that. What to do was decided by the
// plan; an executor decides nothing but how a write that fails or is stopped ends.
#pragma once

#include "repair/JobContext.h"
#include "repair/RecordingFacts.h"
#include "repair/RepairPlan.h"

namespace clipwright {

// The camera's standard layout: idx1 and filler written behind the data, then the header patched.
void RepairCameraInPlace(const Inspection& inspection, const RepairPlan& plan, const JobContext& job);
// The camera's other layouts: the chunks copied into a new file.
void RebuildCameraRecording(const Inspection& inspection, const RepairPlan& plan, const JobContext& job);
// Another recorder's AVI: indexed where it stands; the footage never moves.
void RepairOtherRecorder(const Inspection& inspection, const RepairPlan& plan, const JobContext& job);
// Another recorder's AVI that cannot be indexed where it stands: copied anew in OpenDML form.
void CopyOtherRecorder(const Inspection& inspection, const RepairPlan& plan, const JobContext& job);

} // namespace clipwright
