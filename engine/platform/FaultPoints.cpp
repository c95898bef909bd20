#include "platform/FaultPoints.h"

#include <atomic>
#include <csignal>
#include <mutex>

namespace clipwright::faults {

namespace {

std::atomic<bool> armed{false};
std::mutex planGuard;
Plan activePlan;
uint64_t passed = 0;

} // namespace

int Check(Operation operation, const Access& access) {
    if (!armed.load(std::memory_order_relaxed))
        return 0;
    std::function<void()> callback;
    {
        std::lock_guard lock(planGuard);
        if (activePlan.onlyOneKind && operation != activePlan.only)
            return 0;
        const uint64_t point = ++passed;
        if (activePlan.observe)
            activePlan.observe(operation, access);
        switch (activePlan.action) {
        case Plan::Action::Count:
            return 0;
        case Plan::Action::Kill:
            if (point == activePlan.at)
                std::raise(SIGKILL);
            return 0;
        case Plan::Action::Fail:
            if (point == activePlan.at || (activePlan.sticky && point > activePlan.at))
                return activePlan.errorNumber;
            return 0;
        case Plan::Action::Callback:
            if (point != activePlan.at)
                return 0;
            callback = activePlan.callback;
            break;
        }
    }
    if (callback)
        callback();
    return 0;
}

void Arm(Plan plan) {
    std::lock_guard lock(planGuard);
    activePlan = std::move(plan);
    passed = 0;
    armed.store(true);
}

void Disarm() {
    std::lock_guard lock(planGuard);
    armed.store(false);
    activePlan = Plan{};
}

uint64_t PointsPassed() {
    std::lock_guard lock(planGuard);
    return passed;
}

} // namespace clipwright::faults
