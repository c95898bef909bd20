#include "repair/CopyAhead.h"

#include "platform/FileOperations.h"
#include "repair/RecordingFacts.h"

#include <chrono>

namespace clipwright {

CopyAhead::CopyAhead(const std::string& recording, std::string partialPath)
    : partialPath_(std::move(partialPath)), undo_(partialPath_, {}, {}) {
    CopyEnds ends;
    // A read-only recording gives a read-only copy, which the repair must still write.
    error_ = OpenCopy(recording, partialPath_, true, ends);
    if (error_ != 0) {
        done_ = true;
        return;
    }
    statted_ = ::fstat(ends.source, &before_) == 0;
    // The job's thread takes the signals, so that the handler's wait for a rename is never on the
    // thread that makes it.
    const interruption::SignalsHeldBack heldBack;
    thread_ = std::thread([this, ends] { Copy(ends, static_cast<uint64_t>(before_.st_size)); });
}

CopyAhead::~CopyAhead() {
    Stop();
    if (!taken_ && error_ == 0 && !stopped_)
        DeleteFileQuietly(partialPath_);
}

void CopyAhead::Copy(CopyEnds ends, uint64_t size) {
    ProgressMeter meter([this](const ProgressReport& report) { copied_.store(report.done); },
                        [this] { return stopAsked_.load(); });
    meter.Begin(ProgressPhase::Copying, size);
    int error = 0;
    bool stopped = false;
    try {
        error = CopyBetween(ends, partialPath_, &meter);
    } catch (const JobStopped&) {
        stopped = true; // the copy took its partial file with it
    }
    const std::lock_guard lock(guard_);
    error_ = error;
    stopped_ = stopped;
    done_ = true;
    ended_.notify_all();
}

void CopyAhead::Stop() {
    stopAsked_.store(true);
    if (thread_.joinable())
        thread_.join();
}

int CopyAhead::Take(ProgressMeter* progress) {
    for (;;) {
        {
            std::unique_lock lock(guard_);
            if (ended_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; }))
                break;
        }
        if (progress == nullptr)
            continue;
        try {
            progress->Reached(copied_.load());
        } catch (const JobStopped&) {
            Stop();
            throw;
        }
    }
    if (thread_.joinable())
        thread_.join();
    taken_ = error_ == 0;
    // A stop here is the caller's to undo: the copy is its own now.
    if (taken_ && progress != nullptr)
        progress->Reached(copied_.load());
    return error_;
}

bool CopyAhead::StartedOn(const struct stat& status) const {
    return statted_ && SameFile(before_, status);
}

} // namespace clipwright
