#include "platform/Interruption.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace clipwright::interruption {

namespace {

using State = UndoOnSignal::State;

// Read by the handler, so plain pointers to strings that outlive the arming.
struct Plan {
    const char* partialPath = nullptr;
    const char* temporaryPath = nullptr;
    const char* recordingPath = nullptr;
    std::atomic<const char*> extraPath{nullptr};
    std::atomic<int> state{static_cast<int>(State::RecordingInPlace)};
};

Plan plan;
std::atomic<bool> armed{false};
// Set while the job's thread is inside a rename and the state that follows it; the handler, on
// another thread, waits it out. The job's thread blocks the signals meanwhile, so the handler never
// interrupts the step it would wait for.
std::atomic<bool> stepping{false};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
thread_local sigset_t maskBeforeStep;

void SignalSet(sigset_t& set) {
    sigemptyset(&set);
    for (int signal : kSignals)
        sigaddset(&set, signal);
}

// Only async-signal-safe calls from here on.
void MoveBack(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return;
    if (::link(from, to) == 0)
        ::unlink(from);
}

void Undo() {
    while (stepping.load())
        ;
    if (!armed.load())
        return;
    if (const char* extra = plan.extraPath.load())
        ::unlink(extra);
    switch (static_cast<State>(plan.state.load())) {
    case State::RecordingInPlace:
        ::unlink(plan.partialPath);
        break;
    case State::RecordingMoved:
        ::unlink(plan.partialPath);
        MoveBack(plan.temporaryPath, plan.recordingPath);
        break;
    case State::NewFilePlaced:
        // The repair is whole and on disk: finishing it is what the job was about to do.
        ::unlink(plan.temporaryPath);
        break;
    }
}

void Handle(int signal) {
    Undo();
    std::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

void InstallHandlers() {
    struct sigaction action {};
    action.sa_handler = Handle;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        sigaddset(&action.sa_mask, signal);
    for (int signal : kSignals) {
        struct sigaction previous {};
        // A signal its parent told it to ignore (nohup) stays ignored.
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

UndoOnSignal::UndoOnSignal(std::string partialPath, std::string temporaryPath, std::string recordingPath)
    : partialPath_(std::move(partialPath)), temporaryPath_(std::move(temporaryPath)),
      recordingPath_(std::move(recordingPath)) {
    Enter();
    plan.partialPath = partialPath_.c_str();
    plan.temporaryPath = temporaryPath_.c_str();
    plan.recordingPath = recordingPath_.c_str();
    plan.state.store(static_cast<int>(State::RecordingInPlace));
    plan.extraPath.store(nullptr);
    armed.store(true);
    Leave();
}

UndoOnSignal::~UndoOnSignal() {
    Enter();
    armed.store(false);
    Leave();
}

void UndoOnSignal::AlsoRemove(std::string path) {
    Enter();
    plan.extraPath.store(nullptr);
    extraPath_ = std::move(path);
    plan.extraPath.store(extraPath_.c_str());
    Leave();
}

void UndoOnSignal::Enter() {
    sigset_t set;
    SignalSet(set);
    ::pthread_sigmask(SIG_BLOCK, &set, &maskBeforeStep);
    stepping.store(true);
}

void UndoOnSignal::Leave() {
    stepping.store(false);
    ::pthread_sigmask(SIG_SETMASK, &maskBeforeStep, nullptr);
}

void UndoOnSignal::Set(State state) {
    plan.state.store(static_cast<int>(state));
}

} // namespace clipwright::interruption
