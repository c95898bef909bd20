#include "TestFiles.h"

#include "avi/LittleEndian.h"
#include "text/EventText.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
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

uint32_t U32At(const Bytes& bytes, size_t position) {
    return le::ReadU32(bytes.data() + position);
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

std::map<std::string, ProbedStream> Probe(const fs::path& file) {
    CommandResult result = RunCommand(
        "ffprobe -v error -count_packets -show_entries "
        "stream=codec_type,codec_name,codec_tag_string,width,height,r_frame_rate,sample_rate,channels,"
        "nb_read_packets -of flat " +
        ShellQuote(file.string()));
    std::map<std::string, std::map<std::string, std::string>> byIndex;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        // streams.stream.0.codec_type="video"
        const std::string prefix = "streams.stream.";
        if (line.rfind(prefix, 0) != 0)
            continue;
        size_t dot = line.find('.', prefix.size());
        size_t equals = line.find('=', dot);
        if (dot == std::string::npos || equals == std::string::npos)
            continue;
        std::string index = line.substr(prefix.size(), dot - prefix.size());
        std::string key = line.substr(dot + 1, equals - dot - 1);
        std::string value = line.substr(equals + 1);
        if (value.size() >= 2 && value.front() == '"')
            value = value.substr(1, value.size() - 2);
        byIndex[index][key] = value;
    }
    auto number = [](const std::map<std::string, std::string>& fields, const char* key) -> uint64_t {
        auto found = fields.find(key);
        if (found == fields.end() || found->second.empty() || found->second == "N/A")
            return 0;
        return std::stoull(found->second);
    };
    std::map<std::string, ProbedStream> streams;
    for (const auto& [index, fields] : byIndex) {
        ProbedStream stream;
        auto text = [&](const char* key) {
            auto found = fields.find(key);
            return found == fields.end() ? std::string() : found->second;
        };
        stream.codecTag = text("codec_tag_string");
        stream.codecName = text("codec_name");
        stream.frameRate = text("r_frame_rate");
        stream.width = static_cast<uint32_t>(number(fields, "width"));
        stream.height = static_cast<uint32_t>(number(fields, "height"));
        stream.sampleRate = static_cast<uint32_t>(number(fields, "sample_rate"));
        stream.channels = static_cast<uint32_t>(number(fields, "channels"));
        stream.packets = number(fields, "nb_read_packets");
        streams[text("codec_type")] = stream;
    }
    return streams;
}

std::string DecodeErrors(const fs::path& file) {
    CommandResult result =
        RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(file.string()) + " -f null -");
    return result.err + (result.exitStatus == 0 ? "" : "exit status " + std::to_string(result.exitStatus));
}

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

std::string AsUnprivileged(const std::string& commandLine) {
    return "setpriv --reuid=nobody --regid=nogroup --clear-groups " + commandLine;
}

} // namespace clipwright::test
