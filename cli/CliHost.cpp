#include "CliHost.h"

#include "text/EventText.h"

#include <ostream>

namespace clipwright::cli {

CliHost::CliHost(std::ostream& errors, std::optional<ImageSettings> answer)
    : errors_(errors), answer_(answer) {}

void CliHost::Report(const EngineEvent& event) {
    if (!IsFinding(event.code))
        Print(PlainEventText(event), event.path);
}

void CliHost::Print(const std::string& text, const std::string& filePath) {
    errors_ << kProgramName << ": ";
    if (!filePath.empty())
        errors_ << filePath << ": ";
    errors_ << text << '\n';
    errors_.flush();
}

namespace {

std::string Describe(const ImageSettings& settings) {
    const char* size = settings.resolution == kResolutionQvga    ? "320x240"
                       : settings.resolution == kResolutionQqvga ? "160x112"
                                                                 : "640x480";
    return std::string(size) + ", " + std::to_string(settings.framesPerSecond) + " fps";
}

} // namespace

std::optional<ImageSettings> CliHost::AskImageSettings(const std::optional<ImageSettings>& readFromVideo) {
    if (answer_) {
        WarnIfVideoDiffers(readFromVideo, *answer_);
        return answer_;
    }
    if (readFromVideo) {
        Print("frame size and rate read from the video: " + Describe(*readFromVideo), path_);
        return readFromVideo;
    }
    settingsMissing_ = true;
    return std::nullopt;
}

void CliHost::SettingsReadWhileCopying(const std::optional<ImageSettings>& readFromVideo,
                                       const ImageSettings& used) {
    WarnIfVideoDiffers(readFromVideo, used);
}

void CliHost::WarnIfVideoDiffers(const std::optional<ImageSettings>& readFromVideo,
                                 const ImageSettings& used) {
    if (readFromVideo && (readFromVideo->resolution != used.resolution ||
                          readFromVideo->framesPerSecond != used.framesPerSecond))
        Print("warning: the video says " + Describe(*readFromVideo) + ", but the repair uses " +
                  Describe(used) + " as given",
              path_);
}

void CliHost::ShowProgress(bool /*visible*/) {}

} // namespace clipwright::cli
