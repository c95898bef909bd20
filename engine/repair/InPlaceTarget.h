// The file an in-place repair writes: the recording itself, or in "Make new file" mode a copy of it
// made under a hidden name of its own, which takes the name fix_NAME only once it is whole and on
// the disk. A failure, an exception or a signal before that removes the copy, and an earlier
// fix_NAME stays as it was.
#pragma once

#include "platform/Interruption.h"
#include "platform/SourceFile.h"
#include "repair/JobContext.h"
#include "repair/RecordingFacts.h"
#include "repair/RepairPlan.h"

#include <functional>
#include <optional>

namespace clipwright {

class InPlaceTarget {
public:
    InPlaceTarget(const Inspection& inspection, const RepairPlan& plan, const JobContext& job);
    ~InPlaceTarget();
    InPlaceTarget(const InPlaceTarget&) = delete;
    InPlaceTarget& operator=(const InPlaceTarget&) = delete;

    // Opens the file to write, runs `writes` on it (which syncs what it wrote), and gives a copy its name.
    // A file error or a lack of memory in `writes` is told to the user and leaves nothing behind; a
    // stop during the copy leaves nothing behind either, and passes JobStopped on.
    // False when the repair did not complete.
    bool Run(const std::function<void(SourceFile&)>& writes);

private:
    // Opens the file to write, copying the recording first in "Make new file" mode, and makes sure
    // that what is opened is the recording the inspection read. False when the user has been told
    // why not; nothing is left behind then.
    bool Open(SourceFile& file);
    // The writes are synced: closes the file and gives a copy its name. False when the user has been
    // told why not; the copy is gone then.
    bool Finish(SourceFile& file);
    // Something failed and was reported: the copy, and the companion's, are removed.
    void Abandon(SourceFile& file) noexcept;

    const Inspection& inspection_;
    const RepairPlan& plan_;
    const JobContext& job_;
    const bool copying_;
    bool companionCopied_ = false;
    bool placed_ = false;
    std::optional<interruption::UndoOnSignal> undo_;
};

} // namespace clipwright
