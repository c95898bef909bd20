#include "WriterTestSupport.h"

#include <cstdio>
#include <regex>
#include <stdexcept>
#include <sys/wait.h>

namespace clipwright::writertest {

namespace {

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

} // namespace

std::filesystem::path ScratchDir() {
    const std::filesystem::path dir = WRITER_TEST_SCRATCH;
    std::filesystem::create_directories(dir);
    return dir;
}

std::string ScratchFile(const std::string& name) {
    const std::filesystem::path path = ScratchDir() / name;
    std::filesystem::remove(path);
    return path.string();
}

std::vector<uint8_t> EvenBuffer(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> buffer = frame;
    if (buffer.size() % 2 != 0)
        buffer.push_back(0);
    return buffer;
}

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, count);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<std::map<std::string, std::string>> ProbeStreams(const std::string& path) {
    const CommandResult result =
        RunCommand("ffprobe -v error -count_packets -show_entries "
                   "stream=codec_type,codec_tag_string,width,height,r_frame_rate,sample_rate,channels,"
                   "nb_read_packets -of json " +
                   Quoted(path));
    if (result.exitCode != 0)
        throw std::runtime_error("ffprobe failed: " + result.output);
    // The streams are flat objects of strings and numbers: one {...} each after "streams".
    std::vector<std::map<std::string, std::string>> streams;
    const std::string& json = result.output;
    const size_t listStart = json.find("\"streams\"");
    const std::regex field("\"(\\w+)\":\\s*(\"([^\"]*)\"|(-?[0-9]+))");
    for (size_t open = json.find('{', listStart); listStart != std::string::npos && open != std::string::npos;
         open = json.find('{', open + 1)) {
        const size_t close = json.find('}', open);
        const std::string object = json.substr(open, close - open);
        std::map<std::string, std::string> stream;
        for (auto it = std::sregex_iterator(object.begin(), object.end(), field);
             it != std::sregex_iterator(); ++it)
            stream[(*it)[1]] = (*it)[3].matched ? (*it)[3].str() : (*it)[4].str();
        streams.push_back(stream);
    }
    return streams;
}

std::string DecodeErrors(const std::string& path) {
    return RunCommand("ffmpeg -nostdin -v error -i " + Quoted(path) + " -f null -").output;
}

} // namespace clipwright::writertest
