// The one way the engine reaches whoever runs it: the desktop program, the command-line tool or a
// test. Calls come from the job's thread and return only when the host has done what was asked,
// so an implementation that owns windows on another thread must hand the call over and wait.
#pragma once

#include "avi/CameraLayout.h"
#include "platform/Progress.h"
#include "repair/EngineEvent.h"

#include <optional>
#include <string>

namespace clipwright {

class FixerHost {
public:
    virtual ~FixerHost() = default;

    // Tells the user what happened and returns once it has been acknowledged, or, for a finding
    // (IsFinding), seen. The host puts the event in its own words; hosts that print a summary of
    // their own may pass over findings.
    virtual void Report(const EngineEvent& event) = 0;

    // Asks for the capture settings of a recording whose header lost them: the answer after
    // "Next", nothing after "Cancel". `readFromVideo` holds the frame size and rate the recording's
    // own video and sound give, when both could be read; a prompt starts with them chosen.
    virtual std::optional<ImageSettings>
    AskImageSettings(const std::optional<ImageSettings>& readFromVideo) = 0;
    // Asked when AskImageSettings gave nothing: a healthy recording of the same device that the
    // user chose in the prompt instead, whose stream headers then stand in for the lost header;
    // empty when the prompt was cancelled.
    virtual std::string ReferenceChosenInPrompt() { return {}; }

    // What the recording's own video and sound gave, when a rebuild ran with `used`, settings
    // given before the job, and read them as it copied; called before anything else is reported
    // of the copy. A host that answers the prompt from such settings may point out a difference.
    virtual void SettingsReadWhileCopying(const std::optional<ImageSettings>& /*readFromVideo*/,
                                          const ImageSettings& /*used*/) {}

    // Hides or shows the progress window.
    virtual void ShowProgress(bool visible) = 0;

    // How far the job has come in its phase; a few hundred calls a phase at most.
    virtual void Progress(const ProgressReport& /*report*/) {}
    // Asked at each safe point: true stops the job there, as an interrupted job stops, and its
    // outcome is Cancelled.
    virtual bool StopRequested() { return false; }
};

} // namespace clipwright
