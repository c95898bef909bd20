// The engine's host during a desktop repair. The engine calls it on the job's thread; each call is
// handed to the GUI thread, where the job emits it as a signal to the main dialog, and waits for the
// dialog's reply. A call made once the job has been told to stop, or one the dialog can no longer
// answer, returns at once as if the user had cancelled: no message, no image settings.
#pragma once

#include "repair/FixerHost.h"

#include <stop_token>

namespace clipwright::ui {

class RepairJob;

class JobHost : public FixerHost {
public:
    explicit JobHost(RepairJob& job) : job_(job) {}

    // Called on the job's thread before the engine runs.
    void BeginJob(std::stop_token stop) { stop_ = std::move(stop); }

    // Put in the program's words here, on the job's thread: the dialog shows text only.
    void Report(const EngineEvent& event) override;
    // A failure of the desktop program's own, shown as the engine's problems are.
    void ShowProblem(const std::string& text, const std::string& filePath);
    std::optional<ImageSettings> AskImageSettings(const std::optional<ImageSettings>& readFromVideo) override;
    std::string ReferenceChosenInPrompt() override { return chosenReference_; }
    void ShowProgress(bool visible) override;
    // Handed over without waiting: the job goes on while the window catches up.
    void Progress(const ProgressReport& report) override;
    // The user pressed Cancel, or the dialog is stopping the job.
    bool StopRequested() override;

private:
    void Show(const std::string& text, const std::string& filePath, bool finding, bool folderRefused = false);

    RepairJob& job_;
    std::stop_token stop_;
    std::string chosenReference_; // by the last prompt, on the job's thread
};

} // namespace clipwright::ui
