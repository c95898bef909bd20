// The command-line tool's side of the engine: messages go to standard error, and the image
// settings prompt is answered from --resolution and --fps, or else from what the recording's own
// video says.
#pragma once

#include "avi/CameraLayout.h"
#include "repair/FixerHost.h"

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>

namespace clipwright::cli {

// What every line on standard error begins with, as command-line tools name themselves.
inline constexpr const char* kProgramName = "clipwright-cli";

class CliHost : public FixerHost {
public:
    CliHost(std::ostream& errors, std::optional<ImageSettings> answer);

    // Problems go to standard error; findings are left to the summary line.
    void Report(const EngineEvent& event) override;
    std::optional<ImageSettings> AskImageSettings(const std::optional<ImageSettings>& readFromVideo) override;
    void SettingsReadWhileCopying(const std::optional<ImageSettings>& readFromVideo,
                                  const ImageSettings& used) override;
    void ShowProgress(bool visible) override;
    // One line, rewritten in place, when standard error is a terminal and progress is wanted.
    void Progress(const ProgressReport& report) override;
    void ShowProgressLine(bool shown) { progressShown_ = shown; }
    // Clears the progress line, if one stands, so that what follows starts on a clean line.
    void EndProgress();

    // True when the last job needed the prompt and no answer was given on the command line.
    bool SettingsWereMissing() const { return settingsMissing_; }
    void StartJob(const std::string& path) {
        settingsMissing_ = false;
        path_ = path;
    }

    // "clipwright-cli: FILE: text" on standard error.
    void Print(const std::string& text, const std::string& filePath);
    // The options win over the video: a difference is pointed out.
    void WarnIfVideoDiffers(const std::optional<ImageSettings>& readFromVideo, const ImageSettings& used);

private:
    std::ostream& errors_;
    std::optional<ImageSettings> answer_;
    bool settingsMissing_ = false;
    std::string path_;
    bool progressShown_ = false;
    bool lineStands_ = false;
    std::optional<ProgressPhase> phase_;
    std::chrono::steady_clock::time_point phaseStart_;
    std::chrono::steady_clock::time_point lastLine_;
};

} // namespace clipwright::cli
