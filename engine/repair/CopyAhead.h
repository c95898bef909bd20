// "Make new file" repairs a copy of the whole recording. For a large recording that copy is made on
// a thread of its own while the inspection walks the recording, under the hidden name the plan will
// give it; the plan then takes it, or it is stopped and removed. The walk and the copy share the
// time the copy alone would take.
#pragma once

#include "platform/FileOperations.h"
#include "platform/Interruption.h"
#include "platform/Progress.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace clipwright {

class CopyAhead {
public:
    // Creates `partialPath` and starts copying `recording` into it. The file exists before this
    // returns, so that a signal from then on finds it to remove.
    CopyAhead(const std::string& recording, std::string partialPath);
    // Stops the copy and removes it, unless it was taken.
    ~CopyAhead();
    CopyAhead(const CopyAhead&) = delete;
    CopyAhead& operator=(const CopyAhead&) = delete;

    const std::string& PartialPath() const { return partialPath_; }

    // Waits for the copy to end, telling `progress` how far it has come; the user's stop meanwhile
    // removes the copy and passes JobStopped on. 0 when the copy is whole (and then the caller's to
    // name or remove), else the errno it failed with, and nothing is left.
    int Take(ProgressMeter* progress);
    // The recording was as `status` says before the copy read a byte of it.
    bool StartedOn(const struct stat& status) const;

private:
    void Copy(CopyEnds ends, uint64_t size);
    void Stop();

    std::string partialPath_;
    interruption::UndoOnSignal undo_;
    struct stat before_ {};
    bool statted_ = false;

    std::atomic<bool> stopAsked_{false};
    std::atomic<uint64_t> copied_{0};
    std::mutex guard_;
    std::condition_variable ended_;
    bool done_ = false;
    int error_ = 0;
    bool stopped_ = false;
    bool taken_ = false;
    std::thread thread_;
};

} // namespace clipwright
