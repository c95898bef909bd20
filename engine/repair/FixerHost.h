// The one way the engine reaches whoever runs it: the desktop program, the command-line tool or a
// test. Calls come from the job's thread and return only when the host has done what was asked,
// so an implementation that owns windows on another thread must hand the call over and wait.
#pragma once

#include "avi/CameraLayout.h"

#include <optional>
#include <string>

namespace clipwright {

class FixerHost {
public:
    virtual ~FixerHost() = default;

    // Tells the user of a failure and returns once it has been acknowledged. `text` is one of the
    // program's fixed sentences; `filePath` names the file concerned, or is empty.
    virtual void ShowMessage(const std::string& text, const std::string& filePath) = 0;

    // Tells the user what a repair that succeeded found and did, and returns once it has been seen.
    // Hosts that print a summary of their own have nothing to add and keep this default.
    virtual void ShowFindings(const std::string& text, const std::string& filePath) {
        static_cast<void>(text);
        static_cast<void>(filePath);
    }
    // Asks for the capture settings of a recording whose header lost them: the answer after
    // "Next", nothing after "Cancel". `readFromVideo` holds the frame size and rate the recording's
    // own video and sound give, when both could be read; a prompt starts with them chosen.
    virtual std::optional<ImageSettings>
    AskImageSettings(const std::optional<ImageSettings>& readFromVideo) = 0;

    // Hides or shows the progress window.
    virtual void ShowProgress(bool visible) = 0;
};

} // namespace clipwright
