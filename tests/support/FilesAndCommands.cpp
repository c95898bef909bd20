#include "FilesAndCommands.h"

#include "avi/LittleEndian.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace clipwright::test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir(const fs::path& root) {
    static std::atomic<int> counter{0};
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
    for (char& c : name)
        if (c == '/')
            c = '_';
    fs::path base = root.empty() ? fs::path(CLIPWRIGHT_TEST_SCRATCH) : root;
    path_ = base / (name + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<std::string> ScratchDir::Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

uint16_t U16At(const Bytes& bytes, size_t position) {
    return le::ReadU16(bytes, position);
}

uint32_t U32At(const Bytes& bytes, size_t position) {
    return le::ReadU32(bytes, position);
}

FourCC FourCCAt(const Bytes& bytes, size_t position) {
    return FourCC::FromBytes(le::FieldAt(bytes, position, 4));
}

void PutU32(Bytes& bytes, size_t position, uint32_t value) {
    if (bytes.size() < position + 4)
        bytes.resize(position + 4);
    le::WriteU32(bytes.data() + position, value);
}

void PutFourCC(Bytes& bytes, size_t position, const char (&text)[5]) {
    if (bytes.size() < position + 4)
        bytes.resize(position + 4);
    std::copy(text, text + 4, bytes.begin() + static_cast<ptrdiff_t>(position));
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

namespace {

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

CommandResult RunCommand(const std::string& commandLine) {
    ScratchDir outputs;
    fs::path out = outputs / "stdout";
    fs::path err = outputs / "stderr";
    std::string full =
        commandLine + " >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string()) + " </dev/null";
    int status = std::system(full.c_str());
    CommandResult result;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadWhole(out);
    result.err = ReadWhole(err);
    return result;
}

std::vector<std::map<std::string, std::string>> ProbeLines(const std::string& arguments,
                                                           const fs::path& file) {
    const CommandResult result =
        RunCommand("ffprobe -v error " + arguments + " -of compact=p=0 " + ShellQuote(file.string()));
    if (result.exitStatus != 0)
        throw std::runtime_error("ffprobe failed on " + file.string() + ": " + result.err);
    std::vector<std::map<std::string, std::string>> lines;
    std::istringstream text(result.out);
    for (std::string line; std::getline(text, line);) {
        if (line.empty())
            continue;
        // key=value|key=value...
        std::map<std::string, std::string>& fields = lines.emplace_back();
        std::istringstream pairs(line);
        for (std::string pair; std::getline(pairs, pair, '|');)
            if (const size_t equals = pair.find('='); equals != std::string::npos)
                fields[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
    return lines;
}

std::vector<ProbedStream> ProbeStreams(const fs::path& file) {
    std::vector<ProbedStream> streams;
    for (const auto& fields : ProbeLines("-count_packets -show_entries stream=codec_type,codec_name,"
                                         "codec_tag_string,width,height,r_frame_rate,sample_rate,channels,"
                                         "nb_read_packets",
                                         file)) {
        const auto text = [&fields](const char* key) {
            const auto found = fields.find(key);
            return found == fields.end() ? std::string() : found->second;
        };
        const auto number = [&text](const char* key) -> uint64_t {
            const std::string value = text(key);
            return value.empty() || value == "N/A" ? 0 : std::stoull(value);
        };
        streams.push_back({text("codec_type"), text("codec_tag_string"), text("codec_name"),
                           static_cast<uint32_t>(number("width")), static_cast<uint32_t>(number("height")),
                           text("r_frame_rate"), static_cast<uint32_t>(number("sample_rate")),
                           static_cast<uint32_t>(number("channels")), number("nb_read_packets")});
    }
    return streams;
}

std::map<std::string, ProbedStream> Probe(const fs::path& file) {
    std::map<std::string, ProbedStream> byType;
    for (const ProbedStream& stream : ProbeStreams(file))
        byType[stream.codecType] = stream;
    return byType;
}

std::string DecodeErrors(const fs::path& file) {
    CommandResult result =
        RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(file.string()) + " -f null -");
    return result.err + (result.exitStatus == 0 ? "" : "exit status " + std::to_string(result.exitStatus));
}

} // namespace clipwright::test
