// Shared pieces of the writer tests: the scratch folder, and ffprobe/ffmpeg as independent readers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace clipwright::writertest {

std::filesystem::path ScratchDir();
// A fresh path in the scratch folder, with any earlier file of that name removed.
std::string ScratchFile(const std::string& name);

// The frame followed by a zero byte when its size is odd, as the muxer stores it.
std::vector<uint8_t> EvenBuffer(const std::vector<uint8_t>& frame);

struct CommandResult {
    int exitCode = -1;
    std::string output; // stdout and stderr together
};
CommandResult RunCommand(const std::string& command);

// ffprobe's per-stream fields, in stream order, as text.
std::vector<std::map<std::string, std::string>> ProbeStreams(const std::string& path);
// What `ffmpeg -v error -i FILE -f null -` prints; empty for a clean decode.
std::string DecodeErrors(const std::string& path);

} // namespace clipwright::writertest
