// How far a job has come, told as data to whoever runs it, and the points where the user may stop
// it. A long step calls Reached() where stopping leaves nothing it cannot undo: a read-only look
// anywhere, a copy before its new file takes a name. Writes to the recording itself have no such
// point, so a job asked to stop during them finishes them first.
#pragma once

#include <cstdint>
#include <functional>

namespace clipwright {

enum class ProgressPhase {
    Reading, // the inspection walks the recording
    Copying, // a new file is written from it
};

struct ProgressReport {
    ProgressPhase phase = ProgressPhase::Reading;
    uint64_t done = 0;  // bytes of the recording behind
    uint64_t total = 0; // bytes the phase goes through
};

// Thrown by Reached() once the user has asked the job to stop. Read-only steps let it pass; a step
// that writes catches it where it catches a failure, undoes what it wrote, and rethrows or ends the
// job as stopped.
struct JobStopped {};

class ProgressMeter {
public:
    using Listener = std::function<void(const ProgressReport&)>;
    using StopQuery = std::function<bool()>;

    // A meter that tells nobody and never stops.
    ProgressMeter() = default;
    ProgressMeter(Listener listener, StopQuery stopQuery);

    // A new phase starts at 0 of `total` bytes. Only tells: a phase may begin where its step has
    // not yet made ready to undo what it did, so the stop waits for the first Reached().
    void Begin(ProgressPhase phase, uint64_t total);
    // A safe point `done` bytes into the phase: tells the listener when it has moved on far enough
    // to show, and throws JobStopped when asked to stop. Reads may go back; what is told never does.
    void Reached(uint64_t done);
    // The phase went through all its bytes.
    void Complete() { Reached(report_.total); }

    // Steps between two reports: often enough for a smooth bar, seldom enough to cost nothing.
    static constexpr uint64_t kReportsPerPhase = 400;

private:
    void Tell(bool safePoint);

    Listener listener_;
    StopQuery stopQuery_;
    ProgressReport report_;
    uint64_t nextReport_ = 0;
    uint64_t step_ = 1;
};

} // namespace clipwright
