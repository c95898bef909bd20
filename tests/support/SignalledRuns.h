// A job run in a child process that receives a signal at one of its fault points, as a user's
// Ctrl-C or a shutdown would come, with the program's own signal handlers in place.
#pragma once

#include "platform/FaultPoints.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace clipwright::test {

// Runs `job` in a forked child that sends `signal` to itself (to the process, as from outside) at
// fault point `point`, counted among those of `only` when given. True when the child ended by that
// signal.
bool EndedBySignalAt(uint64_t point, int signal, std::optional<faults::Operation> only,
                     const std::function<void()>& job);

} // namespace clipwright::test
