#include "RecgenTestFiles.h"

#include "avi/LittleEndian.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace recgen_test {

std::filesystem::path ScratchFile(const std::string& name) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string folder = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : folder) {
        if (c == '/')
            c = '_';
    }
    const std::filesystem::path directory = std::filesystem::path(RECGEN_TEST_SCRATCH) / folder;
    std::filesystem::create_directories(directory);
    const std::filesystem::path path = directory / name;
    std::filesystem::remove_all(path);
    return path;
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t U32At(const std::vector<uint8_t>& bytes, uint64_t offset) {
    if (offset + 4 > bytes.size())
        throw std::out_of_range("32-bit field beyond the end of the file");
    return clipwright::le::ReadU32(bytes.data() + offset);
}

uint16_t U16At(const std::vector<uint8_t>& bytes, uint64_t offset) {
    if (offset + 2 > bytes.size())
        throw std::out_of_range("16-bit field beyond the end of the file");
    return clipwright::le::ReadU16(bytes.data() + offset);
}

clipwright::FourCC CodeAt(const std::vector<uint8_t>& bytes, uint64_t offset) {
    if (offset + 4 > bytes.size())
        throw std::out_of_range("four-character code beyond the end of the file");
    return clipwright::FourCC::FromBytes(bytes.data() + offset);
}

int64_t FirstVideoTagRun(const std::vector<uint8_t>& bytes, size_t limit) {
    for (size_t at = 0; at + 3 <= std::min(limit, bytes.size()); ++at) {
        if (bytes[at] == '0' && bytes[at + 1] == '0' && bytes[at + 2] == 'd')
            return static_cast<int64_t>(at);
    }
    return -1;
}

CommandResult Run(const std::string& commandLine) {
    CommandResult result;
    std::FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot run " + commandLine);
    std::array<char, 4096> piece{};
    size_t got = 0;
    while ((got = std::fread(piece.data(), 1, piece.size(), pipe)) > 0)
        result.output.append(piece.data(), got);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

std::vector<ProbedStream> Probe(const std::filesystem::path& path) {
    const CommandResult result =
        Run("ffprobe -v error -count_packets -show_entries "
            "stream=codec_type,codec_tag_string,width,height,sample_rate,channels,nb_read_packets "
            "-of compact=p=0 " +
            Quoted(path));
    if (result.exitCode != 0)
        throw std::runtime_error("ffprobe failed: " + result.output);

    std::vector<ProbedStream> streams;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        ProbedStream stream;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '|')) {
            const size_t equals = field.find('=');
            if (equals == std::string::npos)
                throw std::runtime_error("unexpected ffprobe output: " + line);
            const std::string key = field.substr(0, equals);
            const std::string value = field.substr(equals + 1);
            if (key == "codec_type")
                stream.codecType = value;
            else if (key == "codec_tag_string")
                stream.codecTag = value;
            else if (key == "width")
                stream.width = std::stoi(value);
            else if (key == "height")
                stream.height = std::stoi(value);
            else if (key == "sample_rate")
                stream.sampleRate = std::stoi(value);
            else if (key == "channels")
                stream.channels = std::stoi(value);
            else if (key == "nb_read_packets")
                stream.packets = std::stoull(value);
        }
        streams.push_back(stream);
    }
    return streams;
}

std::string DecodeErrors(const std::filesystem::path& path) {
    const CommandResult result = Run("ffmpeg -nostdin -v error -i " + Quoted(path) + " -f null -");
    if (result.exitCode != 0)
        return "ffmpeg exit code " + std::to_string(result.exitCode) + ": " + result.output;
    return result.output;
}

} // namespace recgen_test
