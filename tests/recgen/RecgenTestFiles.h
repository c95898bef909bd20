// Files, external readers and byte access for the recording generator's tests.
#pragma once

#include "avi/FourCC.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace recgen_test {

// A fresh path in the scratch folder, named after the running test.
std::filesystem::path ScratchFile(const std::string& name);

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
uint32_t U32At(const std::vector<uint8_t>& bytes, uint64_t offset);
uint16_t U16At(const std::vector<uint8_t>& bytes, uint64_t offset);
clipwright::FourCC CodeAt(const std::vector<uint8_t>& bytes, uint64_t offset);
// Position of the first '0','0','d' run, or -1.
int64_t FirstVideoTagRun(const std::vector<uint8_t>& bytes, size_t limit);

struct CommandResult {
    int exitCode = -1;
    std::string output; // stdout and stderr together
};
CommandResult Run(const std::string& commandLine);
std::string Quoted(const std::filesystem::path& path);

struct ProbedStream {
    std::string codecType;
    std::string codecTag;
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
    uint64_t packets = 0;
};
// ffprobe's view of the streams, with packets counted by reading the whole file.
std::vector<ProbedStream> Probe(const std::filesystem::path& path);
// What `ffmpeg -v error` prints while decoding the whole file: empty for a clean decode.
std::string DecodeErrors(const std::filesystem::path& path);

} // namespace recgen_test
