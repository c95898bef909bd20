// `clipwright-cli --scan` on the image of a FAT file system made at test time: recordings from
// ffmpeg and from the camera's generator copied in among other files, some deleted and the root
// directory wiped, as a card looks after a camera or a user lost its files. The image is made with
// mkfs.vfat and mtools, never mounted. The judges are the plain truth walk of each recording as it
// went in, ffprobe's packets, and the image's bytes before and after.
#include "ReaderOracles.h"
#include "RealWriters.h"
#include "Recordings.h"
#include "TestFiles.h"
#include "TruthWalk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

CommandResult Cli(const std::string& arguments) {
    return RunCommand(ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + arguments);
}

void RunTool(const std::string& commandLine) {
    const CommandResult result = RunCommand(commandLine);
    ASSERT_EQ(result.exitStatus, 0) << commandLine << "\n" << result.err;
}

// A recording as it went onto the card, and what a reader should find of it there.
struct OnCard {
    fs::path source;
    bool headerless = false; // the camera's header-lost recording: no truth walk, the generator's counts
    uint64_t videoChunks = 0, audioChunks = 0;
};

// Made once for the suite: the image and the recordings in it, in the order they lie there.
class ScanCard : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new ScratchDir();
        const fs::path& dir = dir_->Path();
        const std::vector<RealRecording> real =
            RealRecordings(fs::path(CLIPWRIGHT_TEST_SCRATCH) / "real-recordings");
        auto pick = [&](Condition condition, const std::string& ending) {
            for (const RealRecording& recording : real)
                if (recording.writer == Writer::Ffmpeg && recording.condition == condition &&
                    recording.name.ends_with(ending) && !recording.audioCodec.empty())
                    return recording.path;
            return fs::path();
        };
        const fs::path killed = pick(Condition::Killed, "-killed");
        const fs::path cut = pick(Condition::Cut, "-cut-in-chunk");
        ASSERT_FALSE(killed.empty() || cut.empty());
        fs::copy_file(killed, dir / "CLIP0001.AVI");
        fs::copy_file(cut, dir / "CLIP0003.AVI");
        CameraRecordingPlan plan;
        plan.header.layout = recgen::HeaderLayout::HeaderLost;
        plan.sequence.videoFrameCount = 60;
        const auto lost = WriteCameraRecording(dir / "CLIP0002.AVI", plan);

        std::mt19937 random(11);
        Bytes noise(70001);
        for (uint8_t& byte : noise)
            byte = static_cast<uint8_t>(random());
        WriteBytes(dir / "PHOTO.JPG", noise);
        const std::string text = "camera log: recording started\n";
        WriteBytes(dir / "LOG.TXT", Bytes(text.begin(), text.end()));

        image_ = dir / "card.img";
        RunTool("mkfs.vfat -C -F 16 -s 4 -n CARD " + ShellQuote(image_.string()) + " 32768 >/dev/null");
        for (const char* name : {"LOG.TXT", "CLIP0001.AVI", "PHOTO.JPG", "CLIP0002.AVI", "CLIP0003.AVI"})
            RunTool("mcopy -i " + ShellQuote(image_.string()) + " " + ShellQuote((dir / name).string()) +
                    " ::/");
        RunTool("mdel -i " + ShellQuote(image_.string()) + " ::/CLIP0001.AVI ::/CLIP0002.AVI");
        WipeRootDirectory(image_);

        for (const fs::path& clip : {dir / "CLIP0001.AVI", dir / "CLIP0003.AVI"}) {
            const Truth truth = TruthWalk(clip);
            recordings_.push_back(
                {clip, false, truth.streams[0].nonEmptyChunks, truth.streams[1].nonEmptyChunks});
        }
        recordings_.insert(recordings_.begin() + 1,
                           OnCard{dir / "CLIP0002.AVI", true, lost.videoCount, lost.audioCount});
    }
    static void TearDownTestSuite() {
        delete dir_;
        recordings_.clear();
    }

    // What the file system knew of its files, gone: the sectors of FAT16's root directory zeroed.
    static void WipeRootDirectory(const fs::path& image) {
        Bytes bytes = ReadBytes(image);
        const uint32_t sector = U16At(bytes, 11);
        const uint32_t reserved = U16At(bytes, 14);
        const uint32_t tables = bytes.at(16);
        const uint32_t rootEntries = U16At(bytes, 17);
        const uint32_t tableSectors = U16At(bytes, 22);
        const size_t root = (reserved + tables * tableSectors) * size_t{sector};
        std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(root), rootEntries * 32, uint8_t{0});
        WriteBytes(image, bytes);
    }

    static std::string Checksum(const fs::path& file) {
        return RunCommand("sha256sum " + ShellQuote(file.string())).out.substr(0, 64);
    }

    static inline ScratchDir* dir_ = nullptr;
    static inline fs::path image_;
    static inline std::vector<OnCard> recordings_;
};

// The recording's complete chunks are in the file written from it: the same bytes where the copy
// keeps them (a form is repaired where it stands), and as many packets as ffprobe reads, one more
// at most where the recording was cut off inside a chunk that the card's next bytes now fill.
void ExpectEveryCompleteChunk(const OnCard& recording, const fs::path& written) {
    SCOPED_TRACE(recording.source.filename().string() + " -> " + written.filename().string());
    const std::map<int, StreamPackets> packets = ProbePackets(written);
    auto count = [&](int stream) { return packets.count(stream) ? packets.at(stream).count : 0; };
    EXPECT_EQ(DecodeErrors(written).find("Invalid data found"), std::string::npos);
    if (recording.headerless) {
        EXPECT_EQ(count(0), recording.videoChunks);
        EXPECT_EQ(count(1), recording.audioChunks);
        return;
    }
    EXPECT_GE(count(0), recording.videoChunks);
    EXPECT_GE(count(1), recording.audioChunks);
    EXPECT_LE(count(0) + count(1), recording.videoChunks + recording.audioChunks + 1);
    const Bytes was = ReadBytes(recording.source);
    const Bytes is = ReadBytes(written);
    for (const TruthChunk& chunk : TruthWalk(recording.source).chunks) {
        const auto from = static_cast<ptrdiff_t>(chunk.offset);
        const auto to = from + 8 + static_cast<ptrdiff_t>(chunk.size);
        ASSERT_LE(static_cast<size_t>(to), is.size());
        ASSERT_TRUE(std::equal(was.begin() + from, was.begin() + to, is.begin() + from))
            << "chunk at " << from;
    }
}

TEST_F(ScanCard, WritesEachRecordingRepairedAndLeavesTheImageAsItWas) {
    const std::string before = Checksum(image_);
    ScratchDir out;
    const CommandResult scan =
        Cli("--scan " + ShellQuote(image_.string()) + " -o " + ShellQuote(out.Path().string()));
    EXPECT_EQ(scan.exitStatus, 0) << scan.out << scan.err;
    const std::vector<std::string> names = out.Names();
    ASSERT_EQ(names.size(), recordings_.size()) << scan.out << scan.err;
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_TRUE(names[i].starts_with("card-at-") && names[i].ends_with(".avi")) << names[i];
        ExpectEveryCompleteChunk(recordings_[i], out / names[i]);
    }
    EXPECT_NE(scan.out.find("3 recordings found, 3 written whole"), std::string::npos) << scan.out;
    EXPECT_EQ(Checksum(image_), before);

    // A second scan into the same folder leaves the first one's files as they are.
    const CommandResult again =
        Cli("--scan -q " + ShellQuote(image_.string()) + " -o " + ShellQuote(out.Path().string()));
    EXPECT_EQ(again.exitStatus, 0) << again.err;
    EXPECT_EQ(out.Names().size(), 2 * names.size());
    ExpectEveryCompleteChunk(recordings_[0], out / names[0]);
}

// The keys of the scan's table in docs/check-json.md.
std::set<std::string> DocumentedScanKeys() {
    const Bytes page = ReadBytes(CLIPWRIGHT_CHECK_JSON_DOC);
    std::istringstream lines(std::string(page.begin(), page.end()));
    static const std::regex key("`([a-z_.]+)`");
    std::set<std::string> keys;
    bool inScan = false;
    for (std::string line; std::getline(lines, line);) {
        inScan = inScan || line.starts_with("# `clipwright-cli --check --scan");
        if (!inScan || !line.starts_with("| `"))
            continue;
        const std::string firstColumn = line.substr(0, line.find(" |", 2));
        for (auto it = std::sregex_iterator(firstColumn.begin(), firstColumn.end(), key);
             it != std::sregex_iterator(); ++it)
            keys.insert((*it)[1]);
    }
    return keys;
}

// Every key of the JSON lines, nested ones named with dots, one a line.
constexpr const char* kKeysOfLines = R"(
import json, sys
keys = set()
def walk(value, prefix):
    for key, inner in value.items():
        keys.add(prefix + key)
        if isinstance(inner, dict):
            walk(inner, prefix + key + '.')
for line in open(sys.argv[1]):
    walk(json.loads(line), '')
print('\n'.join(sorted(keys)))
)";

TEST_F(ScanCard, CheckListsWhatWouldBeWrittenAndWritesNothing) {
    const std::string before = Checksum(image_);
    ScratchDir out;
    const CommandResult check = Cli("--check --json --scan " + ShellQuote(image_.string()) + " -o " +
                                    ShellQuote(out.Path().string()));
    EXPECT_EQ(check.exitStatus, 0) << check.out << check.err;
    EXPECT_TRUE(out.Names().empty());
    EXPECT_EQ(Checksum(image_), before);
    ScratchDir work;
    WriteBytes(work / "lines.json", Bytes(check.out.begin(), check.out.end()));
    auto python = [&](const std::string& code) {
        return RunCommand("python3 -c " + ShellQuote(code) + " " + ShellQuote((work / "lines.json").string()))
            .out;
    };
    EXPECT_EQ(python("import json,sys\nfor o in map(json.loads, open(sys.argv[1])): "
                     "print(o['kind'], o['repair'], o['written_whole'])"),
              "avi_form index_in_place True\nheaderless rebuild True\navi_form index_in_place True\n")
        << check.out;
    std::istringstream lines(python(kKeysOfLines));
    std::set<std::string> carried;
    for (std::string line; std::getline(lines, line);)
        carried.insert(line);
    EXPECT_EQ(carried, DocumentedScanKeys());
}

TEST_F(ScanCard, AFolderThatRefusesWritesKeepsNothingAndSaysWhy) {
    ScratchDir shared("/tmp");
    ::chmod(shared.Path().c_str(), 0755);
    const fs::path image = shared / "card.img";
    fs::copy_file(image_, image);
    ::chmod(image.c_str(), 0644);
    const fs::path out = shared / "out";
    fs::create_directory(out);
    ::chmod(out.c_str(), 0755); // root's: nobody may not write there
    const std::string before = Checksum(image);
    const CommandResult scan =
        RunCommand(AsUnprivileged(ShellQuote(CLIPWRIGHT_CLI_PATH) + " --scan " + ShellQuote(image.string()) +
                                  " -o " + ShellQuote(out.string())));
    EXPECT_EQ(scan.exitStatus, 1);
    EXPECT_NE(scan.err.find("Permission denied"), std::string::npos) << scan.err;
    EXPECT_NE(scan.out.find("not written"), std::string::npos) << scan.out;
    EXPECT_TRUE(fs::is_empty(out));
    EXPECT_EQ(Checksum(image), before);
}

TEST(Scan, UsageAndNothingFound) {
    ScratchDir dir;
    Bytes noise(200000);
    std::mt19937 random(3);
    for (uint8_t& byte : noise)
        byte = static_cast<uint8_t>(random());
    WriteBytes(dir / "noise.bin", noise);
    const std::string file = ShellQuote((dir / "noise.bin").string());
    const std::string out = ShellQuote(dir.Path().string());
    struct Case {
        std::string arguments;
        int exitStatus;
        std::string said;
    };
    for (const Case& c :
         std::vector<Case>{{"--scan " + file, 2, "--output-dir"},
                           {"--scan " + file + " " + file + " -o " + out, 2, "exactly one FILE"},
                           {"--scan --replace " + file, 2, "excludes"},
                           {"--scan " + file + " -o " + out, 1, "no recording found in"},
                           {"--check --scan " + file, 1, "no recording found in"}}) {
        const CommandResult result = Cli(c.arguments);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.arguments;
        EXPECT_NE((result.out + result.err).find(c.said), std::string::npos)
            << c.arguments << result.out << result.err;
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"noise.bin"});
}

} // namespace
} // namespace clipwright::test
