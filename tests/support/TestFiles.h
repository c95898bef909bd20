// Helpers the engine's tests share beyond the files and commands every suite has: a host that
// remembers, a job on an engine of its own.
#pragma once

#include "FilesAndCommands.h"
#include "avi/CameraLayout.h"
#include "repair/FixerHost.h"
#include "repair/RepairEngine.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace clipwright::test {

// A host that remembers what the engine asked of it.
class RecordingHost : public FixerHost {
public:
    struct Message {
        std::string text;
        std::string filePath;
        EventCode code = EventCode::FileError;
    };

    // Problems, in the program's words; findings pass, as in the command-line tool.
    void Report(const EngineEvent& event) override;
    std::optional<ImageSettings> AskImageSettings(const std::optional<ImageSettings>& readFromVideo) override;
    void ShowProgress(bool visible) override;
    void SettingsReadWhileCopying(const std::optional<ImageSettings>& readFromVideo,
                                  const ImageSettings& used) override;

    // The answer to the next prompts; nothing means "Cancel".
    std::optional<std::pair<ResolutionCode, uint32_t>> answer;
    std::vector<Message> messages;
    std::vector<bool> progressCalls;
    int prompts = 0;
    std::optional<ImageSettings> offered; // what the last prompt was offered from the video
    // What a copy with settings given beforehand read from the video, once it told.
    std::optional<std::optional<ImageSettings>> readWhileCopying;
};

// One job on an engine of its own, as a host would run it.
struct EngineJob {
    RecordingHost host;
    RepairEngine fixer;

    EngineJob() { fixer.SetHost(&host); }
    void Run(const std::filesystem::path& path, bool replace,
             const std::optional<ImageSettings>& settings = std::nullopt) {
        fixer.RunFixJob(FixRequest{path.string(), path.filename().string(),
                                   replace ? OutputMode::ReplaceOriginal : OutputMode::NewFile, settings});
    }
    // Every message shown, one a line.
    std::string Messages() const {
        std::string text;
        for (const auto& message : host.messages)
            text += message.text + "\n";
        return text;
    }
};

// Runs `program` with `arguments` as the unprivileged user nobody.
std::string AsUnprivileged(const std::string& commandLine);

} // namespace clipwright::test
