#include "platform/Progress.h"

#include <algorithm>

namespace clipwright {

ProgressMeter::ProgressMeter(Listener listener, StopQuery stopQuery)
    : listener_(std::move(listener)), stopQuery_(std::move(stopQuery)) {}

void ProgressMeter::Begin(ProgressPhase phase, uint64_t total) {
    report_ = {.phase = phase, .done = 0, .total = total};
    step_ = std::max<uint64_t>(1, total / kReportsPerPhase);
    nextReport_ = step_;
    Tell(false);
}

void ProgressMeter::Reached(uint64_t done) {
    done = std::min(done, report_.total);
    if (done < nextReport_ && done != report_.total)
        return;
    if (done <= report_.done && report_.done != 0)
        return;
    report_.done = done;
    nextReport_ = done + step_;
    Tell(true);
}

void ProgressMeter::Tell(bool safePoint) {
    if (listener_)
        listener_(report_);
    if (safePoint && stopQuery_ && stopQuery_())
        throw JobStopped{};
}

} // namespace clipwright
