// What every test suite shares, the engine's own tests or not: scratch folders on the real file
// system, files as bytes, running programs, and the real readers (ffprobe, ffmpeg) as oracles.
#pragma once

#include "avi/FourCC.h"

#include <cstdint>
#include <filesystem>
#include <map>
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
// Little-endian fields; a field past the end throws, so that a short file fails the test.
uint16_t U16At(const Bytes& bytes, size_t position);
uint32_t U32At(const Bytes& bytes, size_t position);
FourCC FourCCAt(const Bytes& bytes, size_t position);
void PutU32(Bytes& bytes, size_t position, uint32_t value);
void PutFourCC(Bytes& bytes, size_t position, const char (&text)[5]);

struct CommandResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line without input, capturing both output streams.
CommandResult RunCommand(const std::string& commandLine);
std::string ShellQuote(const std::string& text);

// The fields of each line ffprobe prints with `arguments` (e.g. "-show_entries packet=size"), in
// its order; throws when ffprobe fails.
std::vector<std::map<std::string, std::string>> ProbeLines(const std::string& arguments,
                                                           const std::filesystem::path& file);

// What ffprobe reports of a stream, its packets counted by reading the whole file.
struct ProbedStream {
    std::string codecType; // "video", "audio"
    std::string codecTag;
    std::string codecName;
    uint32_t width = 0;
    uint32_t height = 0;
    std::string frameRate;
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint64_t packets = 0;
};
// In stream order.
std::vector<ProbedStream> ProbeStreams(const std::filesystem::path& file);
// By codec type.
std::map<std::string, ProbedStream> Probe(const std::filesystem::path& file);

// What `ffmpeg -v error -i FILE -f null -` prints, and its exit status unless 0; empty for a clean
// decode.
std::string DecodeErrors(const std::filesystem::path& file);

} // namespace clipwright::test
