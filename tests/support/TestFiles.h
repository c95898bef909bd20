// Helpers the tests share: scratch folders on the real file system, whole-file reads, running
// programs, and the real readers (ffprobe, ffmpeg) as oracles.
#pragma once

#include "repair/FixerHost.h"
#include "avi/CameraLayout.h"
#include "repair/RepairEngine.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace clipwright::test {

using Bytes = std::vector<uint8_t>;

// A folder of its own for one test, removed when the test ends.
class ScratchDir {
public:
    // Under the build tree, or under `root` (e.g. /tmp for folders an unprivileged user must reach).
    explicit ScratchDir(const std::filesystem::path& root = {});
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> Names() const;

private:
    std::filesystem::path path_;
};

Bytes ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
uint32_t U32At(const Bytes& bytes, size_t position);
void PutU32(Bytes& bytes, size_t position, uint32_t value);
void PutFourCC(Bytes& bytes, size_t position, const char (&text)[5]);

struct CommandResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line, capturing both output streams.
CommandResult RunCommand(const std::string& commandLine);
std::string ShellQuote(const std::string& text);

// What ffprobe reports of each stream, keyed by codec_type ("video", "audio").
struct ProbedStream {
    std::string codecTag;
    std::string codecName;
    uint32_t width = 0;
    uint32_t height = 0;
    std::string frameRate;
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint64_t packets = 0;
};
std::map<std::string, ProbedStream> Probe(const std::filesystem::path& file);

// Everything `ffmpeg -v error -i FILE -f null -` prints; empty for a clean decode.
std::string DecodeErrors(const std::filesystem::path& file);

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

    // The answer to the next prompts; nothing means "Cancel".
    std::optional<std::pair<ResolutionCode, uint32_t>> answer;
    std::vector<Message> messages;
    std::vector<bool> progressCalls;
    int prompts = 0;
    std::optional<ImageSettings> offered; // what the last prompt was offered from the video
};

// One job on an engine of its own, as a host would run it.
struct EngineJob {
    RecordingHost host;
    RepairEngine fixer;

    EngineJob() { fixer.SetHost(&host); }
    void Run(const std::filesystem::path& path, bool replace) {
        fixer.RunFixJob(FixRequest{path.string(), path.filename().string(),
                                   replace ? OutputMode::ReplaceOriginal : OutputMode::NewFile});
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
