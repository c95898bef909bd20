#include "platform/Interruption.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <stdexcept>
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

// A job may run inside another (a recording found in a card image is copied out, then repaired):
// each undoes its own files, the inner first.
constexpr int kMostNested = 4;
Plan plans[kMostNested];
std::atomic<int> depth{0};
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

void UndoOne(Plan& plan) {
    if (const char* extra = plan.extraPath.load(); extra != nullptr && *extra != '\0')
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

void Undo() {
    while (stepping.load())
        ;
    for (int level = depth.load() - 1; level >= 0; --level)
        UndoOne(plans[level]);
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

SignalsHeldBack::SignalsHeldBack() {
    sigset_t set;
    SignalSet(set);
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

SignalsHeldBack::~SignalsHeldBack() {
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

UndoOnSignal::UndoOnSignal(std::string partialPath, std::string temporaryPath, std::string recordingPath)
    : partialPath_(std::move(partialPath)), temporaryPath_(std::move(temporaryPath)),
      recordingPath_(std::move(recordingPath)) {
    Enter();
    level_ = depth.load();
    if (level_ >= kMostNested) {
        Leave();
        throw std::logic_error("repairs nested too deep to be undone on a signal");
    }
    Plan& plan = plans[level_];
    plan.partialPath = partialPath_.c_str();
    plan.temporaryPath = temporaryPath_.c_str();
    plan.recordingPath = recordingPath_.c_str();
    plan.state.store(static_cast<int>(State::RecordingInPlace));
    plan.extraPath.store(nullptr);
    depth.store(level_ + 1);
    Leave();
}

UndoOnSignal::~UndoOnSignal() {
    Enter();
    depth.store(level_);
    Leave();
}

void UndoOnSignal::AlsoRemove(std::string path) {
    Enter();
    plans[level_].extraPath.store(nullptr);
    extraPath_ = std::move(path);
    plans[level_].extraPath.store(extraPath_.c_str());
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
    plans[level_].state.store(static_cast<int>(state));
}

} // namespace clipwright::interruption
