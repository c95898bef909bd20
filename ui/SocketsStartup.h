// The sockets layer the program starts before its first window. POSIX needs no start-up, so the
// platform's step always succeeds here; the step stays replaceable so that its failure path can run.
#pragma once

#include <functional>

namespace clipwright::ui {

using SocketsStartup = std::function<bool()>;

// Starts the platform's sockets layer; true when it can be used.
bool StartPlatformSockets();

} // namespace clipwright::ui
