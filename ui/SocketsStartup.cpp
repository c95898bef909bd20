#include "SocketsStartup.h"

namespace clipwright::ui {

bool StartPlatformSockets() {
    // POSIX sockets are ready as soon as the process runs.
    return true;
}

} // namespace clipwright::ui
