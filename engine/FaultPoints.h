// Points before every file-system operation of the engine, where tests make a run fail or end.
// Unarmed (always, outside tests) each point costs one relaxed atomic load.
#pragma once

#include <cstdint>
#include <functional>

namespace clipwright::faults {

enum class Operation { Open, Read, Write, Close, Rename, Remove, Truncate, Sync };

// Called before an operation: 0 to go on, or the errno the operation must fail with.
int Check(Operation operation);

struct Plan {
    enum class Action {
        Count,    // only count the points
        Kill,     // SIGKILL the process at point `at`, as a power cut would end it
        Fail,     // fail operation `at` with `errorNumber` (and, when `sticky`, every later one of its kind)
        Callback, // run `callback` at point `at`, then go on
    };
    Action action = Action::Count;
    uint64_t at = 0; // 1-based among the points that match `only`
    bool onlyOneKind = false;
    Operation only = Operation::Write;
    int errorNumber = 0;
    bool sticky = false;
    std::function<void()> callback;
};

void Arm(Plan plan);
void Disarm();
// Points passed since the last Arm (of the kind the plan matches).
uint64_t PointsPassed();

} // namespace clipwright::faults
