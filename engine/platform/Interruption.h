// What a repair undoes when the process is asked to end (SIGINT, SIGTERM, SIGHUP) in the middle of
// it: the recording goes back under its own name and the unfinished new file is removed, before
// the process ends by the same signal. SIGKILL and power cuts cannot be caught; for those the
// order of renames and syncs keeps the recording under its name or its temporary name.
#pragma once

#include <csignal>
#include <string>

namespace clipwright::interruption {

// Hosts call this once at start, before any job runs.
void InstallHandlers();

// Keeps the signals the handler takes from this thread while it lives: a thread started meanwhile
// inherits that, so the handler only ever runs on the job's thread.
class SignalsHeldBack {
public:
    SignalsHeldBack();
    ~SignalsHeldBack();
    SignalsHeldBack(const SignalsHeldBack&) = delete;
    SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;

private:
    sigset_t previous_;
};

// Armed by a repair for as long as it has something to undo. Armings nest, one job inside another
// on the same thread, and end in the reverse order.
class UndoOnSignal {
public:
    // `partialPath`: the new file while it is being written, removed on a signal.
    UndoOnSignal(std::string partialPath, std::string temporaryPath, std::string recordingPath);
    ~UndoOnSignal();
    UndoOnSignal(const UndoOnSignal&) = delete;
    UndoOnSignal& operator=(const UndoOnSignal&) = delete;

    // Another file being written meanwhile (a companion's copy), removed on a signal too; an empty
    // path: none any more.
    void AlsoRemove(std::string path);

    // Runs `step` (a rename) so that no handler acts between it and the new state it leads to.
    // States: the recording is under its name; moved to the temporary name; the new file is in
    // place and on disk, so the temporary name only remains to be removed.
    enum class State { RecordingInPlace, RecordingMoved, NewFilePlaced };
    template <typename Step> auto Change(Step step, State onSuccess) {
        Enter();
        auto result = step();
        if (result == 0)
            Set(onSuccess);
        Leave();
        return result;
    }

private:
    void Enter();
    void Leave();
    void Set(State state);

    std::string partialPath_;
    std::string temporaryPath_;
    std::string recordingPath_;
    std::string extraPath_;
    int level_ = 0;
};

} // namespace clipwright::interruption
