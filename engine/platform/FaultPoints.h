// Points before every file-system operation of the engine, where tests make a run fail or end.
// Unarmed (always, outside tests) each point costs one relaxed atomic load.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace clipwright::faults {

enum class Operation { Open, Create, Read, Write, Close, Rename, Remove, Truncate, Sync, SyncDirectory };

// What an operation touches, for tests that replay a run against a model of the file system.
// Rename names its target in `otherPath`; Write gives the range it writes.
struct Access {
    Access() = default;
    Access(std::string_view onPath, std::string_view target = {}, uint64_t from = 0,
           uint64_t count = 0) // NOLINT
        : path(onPath), otherPath(target), offset(from), length(count) {}

    std::string_view path;
    std::string_view otherPath;
    uint64_t offset = 0;
    uint64_t length = 0;
};

// Called before an operation: 0 to go on, or the errno the operation must fail with.
int Check(Operation operation, const Access& access = {});

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
    // Sees every point that matches, before the action is taken.
    std::function<void(Operation, const Access&)> observe;
};

void Arm(Plan plan);
void Disarm();
// Points passed since the last Arm (of the kind the plan matches).
uint64_t PointsPassed();

} // namespace clipwright::faults
