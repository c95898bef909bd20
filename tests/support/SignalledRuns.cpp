#include "SignalledRuns.h"

#include "platform/Interruption.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace clipwright::test {

bool EndedBySignalAt(uint64_t point, int signal, std::optional<faults::Operation> only,
                     const std::function<void()>& job) {
    const pid_t child = ::fork();
    if (child == 0) {
        interruption::InstallHandlers();
        faults::Plan plan;
        plan.action = faults::Plan::Action::Callback;
        plan.at = point;
        if (only) {
            plan.onlyOneKind = true;
            plan.only = *only;
        }
        plan.callback = [signal] { ::kill(::getpid(), signal); };
        faults::Arm(plan);
        job();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

} // namespace clipwright::test
