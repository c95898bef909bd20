#include "ReaderOracles.h"

#include "AviReader.h"
#include "TestFiles.h"

#include <regex>
#include <sstream>
#include <stdexcept>

namespace clipwright::test {

namespace {

constexpr uint32_t kIndexKeyFrame = 0x10; // AVIIF_KEYFRAME

// One line of ffprobe's compact output without section names: key=value|key=value...
std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream pairs(line);
    for (std::string pair; std::getline(pairs, pair, '|');) {
        const size_t equals = pair.find('=');
        if (equals != std::string::npos)
            fields[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
    return fields;
}

std::optional<double> Seconds(const std::map<std::string, std::string>& fields, const char* key) {
    const auto found = fields.find(key);
    if (found == fields.end() || found->second.empty() || found->second == "N/A")
        return std::nullopt;
    return std::stod(found->second);
}

std::vector<std::map<std::string, std::string>> ProbeLines(const std::string& arguments,
                                                           const std::filesystem::path& file) {
    const CommandResult result =
        RunCommand("ffprobe -v error " + arguments + " -of compact=p=0 " + ShellQuote(file.string()));
    if (result.exitStatus != 0)
        throw std::runtime_error("ffprobe failed on " + file.string() + ": " + result.err);
    std::vector<std::map<std::string, std::string>> lines;
    std::istringstream text(result.out);
    for (std::string line; std::getline(text, line);)
        if (!line.empty())
            lines.push_back(Fields(line));
    return lines;
}

} // namespace

std::map<int, StreamPackets> ProbePackets(const std::filesystem::path& file) {
    std::map<int, StreamPackets> streams;
    for (const auto& fields :
         ProbeLines("-show_entries packet=stream_index,size,flags,pts_time,dts_time,duration_time", file)) {
        StreamPackets& stream = streams[std::stoi(fields.at("stream_index"))];
        ++stream.count;
        stream.bytes += std::stoull(fields.at("size"));
        stream.keys.push_back(fields.at("flags").find('K') != std::string::npos);
        const std::optional<double> start =
            Seconds(fields, "pts_time") ? Seconds(fields, "pts_time") : Seconds(fields, "dts_time");
        if (start)
            stream.end = std::max(stream.end, *start + Seconds(fields, "duration_time").value_or(0));
    }
    return streams;
}

std::vector<bool> DecodedKeyPictures(const std::filesystem::path& file) {
    std::vector<bool> keys;
    for (const auto& fields : ProbeLines("-select_streams v:0 -show_entries frame=key_frame", file))
        keys.push_back(fields.at("key_frame") == "1");
    return keys;
}

std::vector<bool> IndexKeyFlags(const std::filesystem::path& file, int stream) {
    const avitest::AviReader reader(file.string());
    std::vector<bool> keys;
    for (const avitest::IndexEntry& entry : reader.Index()) {
        const avitest::Chunk chunk{entry.id, 0, entry.size, {}};
        if (chunk.StreamNumber() == stream && entry.size > 0)
            keys.push_back((entry.flags & kIndexKeyFrame) != 0);
    }
    return keys;
}

std::optional<double> GStreamerSeconds(const std::filesystem::path& file) {
    const CommandResult result = RunCommand("gst-discoverer-1.0 " + ShellQuote(file.string()));
    static const std::regex duration("Duration: ([0-9]+):([0-9]+):([0-9.]+)");
    std::smatch match;
    if (result.exitStatus != 0 || !std::regex_search(result.out, match, duration))
        return std::nullopt;
    return std::stod(match[1]) * 3600 + std::stod(match[2]) * 60 + std::stod(match[3]);
}

} // namespace clipwright::test
