#include "TestFiles.h"

#include "text/EventText.h"

namespace clipwright::test {

void RecordingHost::Report(const EngineEvent& event) {
    if (!IsFinding(event.code))
        messages.push_back({EventText(event), event.path, event.code});
}

std::optional<ImageSettings>
RecordingHost::AskImageSettings(const std::optional<ImageSettings>& readFromVideo) {
    ++prompts;
    offered = readFromVideo;
    if (!answer)
        return std::nullopt;
    return ImageSettings{answer->first, answer->second};
}

void RecordingHost::ShowProgress(bool visible) {
    progressCalls.push_back(visible);
}

void RecordingHost::SettingsReadWhileCopying(const std::optional<ImageSettings>& readFromVideo,
                                             const ImageSettings& /*used*/) {
    readWhileCopying = readFromVideo;
}

std::string AsUnprivileged(const std::string& commandLine) {
    return "setpriv --reuid=nobody --regid=nogroup --clear-groups " + commandLine;
}

} // namespace clipwright::test
