// clipwright-cli --check: what it says of a recording is what a repair through the tool then does
// with it, and the look leaves the recording and its folder as they were.
#include "Recordings.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <regex>
#include <set>
#include <sstream>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

using Fields = std::map<std::string, std::string>;

// Each JSON line's values by dotted key, read back by Python's own parser: objects as "{}", arrays
// as "[]" with their members' keys under "key[]" (the members' values joined by commas), null as
// "null", booleans as "true"/"false".
std::vector<Fields> ParseJsonLines(const std::string& text) {
    static const std::string kFlatten = R"(
import json, sys
def walk(key, value):
    if isinstance(value, dict):
        if key and not key.endswith('[]'):
            print(key + '\t{}')
        for name, member in value.items():
            walk(key + '.' + name if key else name, member)
    elif isinstance(value, list):
        print(key + '\t[]')
        for member in value:
            walk(key + '[]', member)
    else:
        print(key + '\t' + ('null' if value is None else json.dumps(value) if isinstance(value, bool) else str(value)))
for line in open(sys.argv[1], encoding='utf-8'):
    walk('', json.loads(line))
    print('\t')
)";
    ScratchDir dir;
    WriteBytes(dir / "lines.json", Bytes(text.begin(), text.end()));
    CommandResult parsed = RunCommand("PYTHONIOENCODING=utf-8 python3 -c " + ShellQuote(kFlatten) + " " +
                                      ShellQuote(dir / "lines.json"));
    EXPECT_EQ(parsed.exitStatus, 0) << parsed.err << text;
    std::vector<Fields> lines(1);
    std::istringstream out(parsed.out);
    for (std::string line; std::getline(out, line);) {
        const size_t tab = line.find('\t');
        if (tab == 0)
            lines.emplace_back();
        else if (auto [field, added] = lines.back().emplace(line.substr(0, tab), line.substr(tab + 1));
                 !added)
            field->second += "," + line.substr(tab + 1);
    }
    lines.pop_back();
    return lines;
}

CommandResult Cli(const std::string& arguments, bool unprivileged) {
    const std::string command = ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + arguments;
    return RunCommand(unprivileged ? AsUnprivileged(command) : command);
}

Fields Check(const fs::path& file, bool unprivileged, int* exitStatus = nullptr) {
    CommandResult result = Cli("--check --json " + ShellQuote(file), unprivileged);
    std::vector<Fields> lines = ParseJsonLines(result.out);
    EXPECT_EQ(lines.size(), 1u) << result.out << result.err;
    if (exitStatus != nullptr)
        *exitStatus = result.exitStatus;
    return lines.empty() ? Fields{} : lines.front();
}

// Every entry of a folder, with what a write would change: bytes (of files small enough to hold),
// size, modification and change times.
struct EntryState {
    std::string bytes;
    off_t size;
    timespec modified;
    timespec changed;
    bool operator==(const EntryState& other) const {
        auto same = [](const timespec& a, const timespec& b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return bytes == other.bytes && size == other.size && same(modified, other.modified) &&
               same(changed, other.changed);
    }
};

std::map<std::string, EntryState> FolderState(const fs::path& folder) {
    std::map<std::string, EntryState> state;
    for (const auto& entry : fs::directory_iterator(folder)) {
        struct stat status {};
        EXPECT_EQ(::lstat(entry.path().c_str(), &status), 0);
        EntryState& saved = state[entry.path().filename().string()];
        saved = {{}, status.st_size, status.st_mtim, status.st_ctim};
        if (S_ISREG(status.st_mode) && status.st_size < (off_t{16} << 20)) {
            const Bytes bytes = ReadBytes(entry.path());
            saved.bytes.assign(bytes.begin(), bytes.end());
        }
    }
    return state;
}

// The summary line a repair prints, taken apart.
struct RepairRun {
    int exitStatus = -1;
    std::string layout; // empty when the job ended before the probe
    std::string status; // "repaired in place", "repaired (new file)", "rebuilt (new file)", ...
    std::string output;
    std::string videoChunks, audioChunks;
    bool settingsMissing = false;
    std::string err;
};

RepairRun Repair(const fs::path& clip, const std::string& options, bool unprivileged) {
    CommandResult result = Cli(options + ShellQuote(clip), unprivileged);
    static const std::regex summary(
        "(?:(standard|shifted|header lost|other) layout, )?(repaired in place|repaired \\(new "
        "file\\)|rebuilt "
        "\\((?:new file|replaced)\\)|stopped early|not repaired)(?: -> (.*) \\(([0-9]+) video and ([0-9]+) "
        "audio chunks (?:indexed|copied)(?:; [^)]*)?\\))?"
        "(: the image settings were not given)?\n");
    RepairRun run{result.exitStatus, {}, {}, {}, {}, {}, false, result.err};
    std::smatch match;
    const std::string prefix = clip.string() + ": ";
    const std::string rest = result.out.starts_with(prefix) ? result.out.substr(prefix.size()) : "";
    EXPECT_TRUE(std::regex_match(rest, match, summary)) << result.out;
    if (!match.empty())
        run = {result.exitStatus, match[1], match[2],         match[3],
               match[4],          match[5], match[6].matched, result.err};
    return run;
}

using Make = std::function<void(const fs::path& folder)>;

struct CheckCase {
    const char* name;
    Make make; // writes clip.avi (or not) into the folder
    const char* layout;
    const char* verdict;
    const char* dataEnd = nullptr;
    bool damaged = false;
    const char* settings = nullptr; // "WIDTHxHEIGHT@FPS" a rebuild would be written with
    bool unprivileged = false;
};

void PrintTo(const CheckCase& c, std::ostream* out) {
    *out << c.name;
}

using Change = std::function<void(CameraRecordingPlan&)>;
using Damage = std::function<void(Bytes&, const recgen::RecordingSummary&)>;

Make Camera(recgen::HeaderLayout layout, const Change& change = {}, const Damage& damage = {}) {
    return [=](const fs::path& folder) {
        CameraRecordingPlan plan;
        plan.header.layout = layout;
        if (change)
            change(plan);
        const recgen::RecordingSummary summary = WriteCameraRecording(folder / "clip.avi", plan);
        if (damage) {
            Bytes bytes = ReadBytes(folder / "clip.avi");
            damage(bytes, summary);
            WriteBytes(folder / "clip.avi", bytes);
        }
    };
}

Damage ZeroSectorAt(size_t chunk, size_t length) {
    return [=](Bytes& bytes, const recgen::RecordingSummary& summary) {
        // The sector that holds the chunk's header.
        const size_t sector = summary.chunks[chunk].position / 512 * 512;
        std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(sector), length, 0);
    };
}

Damage LyingSize(size_t chunk, uint32_t size) {
    return [=](Bytes& bytes, const recgen::RecordingSummary& summary) {
        PutU32(bytes, summary.chunks[chunk].position + 4, size);
    };
}

Damage TrailingGarbage() {
    return [](Bytes& bytes, const recgen::RecordingSummary&) { bytes.insert(bytes.end(), 3000, 0xA7); };
}

// Camera chunks whose video payloads `video` chooses.
Make Frames(recgen::HeaderLayout layout,
            std::function<std::span<const uint8_t>(const recgen::CameraChunk&)> video) {
    return [=](const fs::path& folder) {
        recgen::HeaderOptions header;
        header.layout = layout;
        recgen::RecordingWriter writer(folder / "clip.avi", header);
        recgen::CameraSequence sequence(PayloadsFor(640, 480), {});
        while (std::optional<recgen::CameraChunk> chunk = sequence.Next())
            writer.AppendChunk(chunk->id,
                               chunk->kind == recgen::ChunkKind::Video ? video(*chunk) : chunk->payload);
        writer.Finish();
    };
}

// Frames that hold no MPEG-4 header: nothing tells their size.
std::span<const uint8_t> Noise(const recgen::CameraChunk&) {
    static const Bytes noise(1500, 0x5A);
    return noise;
}

// The camera's other way of repeating a picture: an empty chunk.
std::span<const uint8_t> EmptyEveryThird(const recgen::CameraChunk& chunk) {
    return chunk.videoNumber % 3 == 2 ? std::span<const uint8_t>() : chunk.payload;
}

template <typename Member, typename Value> Change Set(Member member, Value value) {
    return [=](CameraRecordingPlan& plan) { plan.*member = value; };
}

void Permissions(const fs::path& path, fs::perms perms) {
    fs::permissions(path, perms);
}

constexpr auto kReadOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
constexpr auto kReadWrite =
    kReadOnly | fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
constexpr auto kFolderOthersRead = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec;

const std::vector<CheckCase>& Cases() {
    using Layout = recgen::HeaderLayout;
    static const std::vector<CheckCase> cases = {
        {"StandardCutOff", Camera(Layout::Standard), "standard", "repairable", "end of file"},
        {"Shifted", Camera(Layout::Shifted), "shifted", "repairable", "end of file", false, "640x480@15"},
        {"OtherList", Camera(Layout::OtherList), "other", "repairable", "end of file", false, "640x480@15"},
        {"Finalised",
         Camera(Layout::Standard, Set(&CameraRecordingPlan::finish, recgen::FinishOptions::Finalised())),
         "standard", "healthy", "filler"},
        {"CutInAChunk", Camera(Layout::Shifted, [](auto& plan) { plan.finish.cutBytes = 300; }), "shifted",
         "repairable", "cut chunk", false, "640x480@15"},
        {"HeaderLostSettingsFromTheVideo",
         Camera(Layout::HeaderLost, [](auto& plan) { plan.header.width = 320, plan.header.height = 240; }),
         "header lost", "repairable", "end of file", false, "320x240@15"},
        {"HeaderLostWithoutSettings", Frames(Layout::HeaderLost, Noise), "header lost", "needs settings",
         "end of file"},
        {"FalseHeaderSettingsFromTheVideo",
         Camera(Layout::Shifted, [](auto& plan) { plan.header.height = 0; }), "shifted", "repairable",
         "end of file", false, "640x480@15"},
        {"EmptyFramesShifted", Frames(Layout::Shifted, EmptyEveryThird), "shifted", "repairable",
         "end of file", false, "640x480@15"},
        {"ZeroedSectorStandard", Camera(Layout::Standard, {}, ZeroSectorAt(20, 4096)), "standard",
         "repairable", "end of file", true},
        {"ZeroedSectorShifted", Camera(Layout::Shifted, {}, ZeroSectorAt(38, 512)), "shifted", "repairable",
         "end of file", true, "640x480@15"},
        {"SizeOf2GiBStandard", Camera(Layout::Standard, {}, LyingSize(10, 0x80000000u)), "standard",
         "repairable", "end of file", true},
        {"SizeRunningPastTheEndShifted", Camera(Layout::Shifted, {}, LyingSize(60, 100000)), "shifted",
         "repairable", "end of file", true, "640x480@15"},
        {"TrailingGarbage", Camera(Layout::Standard, {}, TrailingGarbage()), "standard", "repairable",
         "no chunk behind"},
        {"NoChunks", Camera(Layout::Shifted, [](auto& plan) { plan.sequence.videoFrameCount = 0; }),
         "shifted", "nothing to repair", "end of file", false, "640x480@15"},
        {"Missing", [](const fs::path&) {}, nullptr, "unreadable"},
        {"Directory", [](const fs::path& folder) { fs::create_directory(folder / "clip.avi"); }, nullptr,
         "unreadable"},
        {"LeftUnderTemporaryName",
         [](const fs::path& folder) {
             Camera(Layout::Shifted)(folder);
             fs::rename(folder / "clip.avi", folder / "tmp_clip.avi");
         },
         nullptr, "refused"},
        // Indexed where it stands it would pass 2 GiB: rebuilt, in both modes.
        {"TwoGigabytes",
         [](const fs::path& folder) {
             Camera(Layout::Standard)(folder);
             fs::resize_file(folder / "clip.avi", uintmax_t{2} << 30);
         },
         "standard", "repairable", "no chunk behind", false, "640x480@15"},
        {"LinkToTheRecording",
         [](const fs::path& folder) {
             Camera(Layout::Standard)(folder);
             fs::rename(folder / "clip.avi", folder / "real.avi");
             fs::create_symlink("real.avi", folder / "clip.avi");
         },
         "standard", "repairable", "end of file"},
        {"ReadOnlyFileAsNobody",
         [](const fs::path& folder) {
             Camera(Layout::Standard)(folder);
             Permissions(folder / "clip.avi", kReadOnly);
         },
         "standard", "refused", "end of file", false, nullptr, true},
        {"ReadOnlyFolderAsNobody",
         [](const fs::path& folder) {
             Camera(Layout::Standard)(folder);
             Permissions(folder / "clip.avi", kReadWrite);
             Permissions(folder, kFolderOthersRead);
         },
         "standard", "refused", "end of file", false, nullptr, true},
    };
    return cases;
}

std::string ResolutionName(const std::string& width) {
    return width == "640" ? "vga" : width == "320" ? "qvga" : "qqvga";
}

class CheckAgreesWithTheRepair : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckAgreesWithTheRepair, AndChangesNothing) {
    const CheckCase& c = GetParam();
    ScratchDir dir(c.unprivileged ? fs::path("/tmp") : fs::path());
    Permissions(dir.Path(), fs::perms::all);
    auto folderFor = [&](const char* name) {
        const fs::path folder = dir / name;
        fs::create_directory(folder);
        c.make(folder);
        return folder;
    };
    const fs::path checked = folderFor("checked");
    const auto before = FolderState(checked);

    int exitStatus = -1;
    Fields check = Check(checked / "clip.avi", c.unprivileged, &exitStatus);

    EXPECT_TRUE(FolderState(checked) == before) << "a byte, a time or a name in the folder changed";
    EXPECT_EQ(check["verdict"], c.verdict);
    EXPECT_EQ(exitStatus, check["verdict"] == "healthy" || check["verdict"] == "repairable" ? 0 : 1);
    EXPECT_EQ(check["layout"], c.layout ? c.layout : "null");
    if (c.dataEnd) {
        EXPECT_EQ(check["data_end.reason"], c.dataEnd);
    }
    EXPECT_EQ(check["damage_summary"] != "null", c.damaged) << check["damage_summary"];
    const std::string settings =
        check["settings.width"] + "x" + check["settings.height"] + "@" + check["settings.fps"];
    const bool settingsKnown = check["settings.from"] == "header" || check["settings.from"] == "video";
    EXPECT_EQ(settingsKnown ? settings : "", c.settings ? c.settings : "");

    for (const std::string mode : {"new_file", "replace"}) {
        SCOPED_TRACE(mode);
        const fs::path folder = folderFor(mode.c_str());
        std::string options = mode == "replace" ? "--replace " : "";
        if (check["settings.from"] == "video")
            options += "--resolution " + ResolutionName(check["settings.width"]) + " --fps " +
                       check["settings.fps"] + " ";
        const RepairRun run = Repair(folder / "clip.avi", options, c.unprivileged);

        const std::string result = check[mode + ".result"];
        if (!run.layout.empty()) {
            EXPECT_EQ(run.layout, check["layout"]);
        }
        EXPECT_EQ(run.exitStatus, result == "complete" ? 0 : 1) << run.err;
        if (result == "complete" || result == "partial") {
            const bool inPlace = check[mode + ".action"] == "index in place";
            const bool replaced = fs::path(check[mode + ".output"]).filename() == "clip.avi";
            EXPECT_EQ(run.status, result == "partial"   ? "stopped early"
                                  : inPlace && replaced ? "repaired in place"
                                  : inPlace             ? "repaired (new file)"
                                  : replaced            ? "rebuilt (replaced)"
                                                        : "rebuilt (new file)");
            EXPECT_EQ(run.output, (folder / fs::path(check[mode + ".output"]).filename()).string());
            EXPECT_EQ(run.videoChunks, check["chunks.video"]);
            EXPECT_EQ(run.audioChunks, check["chunks.audio"]);
        } else {
            EXPECT_EQ(run.status, "not repaired");
            EXPECT_EQ(run.settingsMissing, result == "needs settings");
            if (result != "needs settings") {
                // The check looked at its own copy of the recording, in a folder of its own name.
                std::string reason = check[mode + ".reason"];
                const std::string checkedFolder = checked.string() + "/";
                if (const size_t at = reason.find(checkedFolder); at != std::string::npos)
                    reason.replace(at, checkedFolder.size(), folder.string() + "/");
                EXPECT_NE(run.err.find(reason), std::string::npos) << run.err << " does not say: " << reason;
            }
        }
        if (result != "complete")
            continue;
        // What a repair wrote checks as a recording that needs none, as other readers see it.
        const fs::path output = run.output;
        Fields again = Check(output, false);
        // Damage the repair covered with JUNK no longer counts: readers step over it.
        const bool cleanSource = check["data_end.reason"] != "no chunk behind";
        const bool rebuilt = check[mode + ".action"] != "index in place";
        EXPECT_EQ(again["verdict"],
                  cleanSource || check["chunks.ids"] == "rebuild" || rebuilt ? "healthy" : "repairable");
        if (c.settings) {
            auto streams = Probe(output);
            EXPECT_EQ(std::to_string(streams["video"].width) + "x" + std::to_string(streams["video"].height) +
                          "@" + streams["video"].frameRate,
                      std::string(c.settings) + "/1");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Recordings, CheckAgreesWithTheRepair, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

using Edit = std::function<void(Bytes&)>;

// Another recorder's AVI, written by ffmpeg at test time: as a write to a pipe that was cut off
// leaves it, or finalised.
Make Ffmpeg(bool cutOff, const Edit& change = {}) {
    return [=](const fs::path& folder) {
        const fs::path clip = folder / "clip.avi";
        const std::string ffmpeg =
            "ffmpeg -nostdin -v quiet -f lavfi -i testsrc=size=160x120:rate=15 -f lavfi -i "
            "sine=sample_rate=8000 -t 4 -c:v mpeg4 -g 10 -c:a adpcm_ms -f avi ";
        // In a subshell: the output of the pipeline is the recording, not what RunCommand captures.
        ASSERT_EQ(RunCommand(cutOff ? "(" + ffmpeg + "pipe:1 | head -c 60000 > " + ShellQuote(clip) + ")"
                                    : ffmpeg + ShellQuote(clip))
                      .exitStatus,
                  0);
        if (change) {
            Bytes bytes = ReadBytes(clip);
            change(bytes);
            WriteBytes(clip, bytes);
        }
    };
}

// A second RIFF part behind the first, as a recorder writes past 1 GiB, holding one video chunk.
void AppendRiffPart(Bytes& bytes) {
    const Bytes part = {'R', 'I', 'F', 'F', 32, 0, 0, 0, 'A', 'V', 'I', 'X',
                        'L', 'I', 'S', 'T', 16, 0, 0, 0, 'm', 'o', 'v', 'i',
                        '0', '0', 'd', 'c', 4,  0, 0, 0, 0,   0,   0,   0};
    bytes.insert(bytes.end(), part.begin(), part.end());
}

// The file ends where the movi list's first chunk would begin.
void CutAtFirstChunk(Bytes& bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    bytes.resize(text.find("movi") + 4);
}

struct OtherCase {
    const char* name;
    Make make;
    const char* verdict;
    const char* dataEnd;
    const char* newFile; // new_file.result
    const char* replace; // replace.result
};

void PrintTo(const OtherCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<OtherCase>& OtherCases() {
    static const std::vector<OtherCase> cases = {
        {"CutOffPipeWrite", Ffmpeg(true), "repairable", "cut chunk", "complete", "complete"},
        {"Finalised", Ffmpeg(false), "healthy", "filler", "no repair needed", "no repair needed"},
        // No super index lists the parts: written anew in both modes.
        {"SecondRiffPart", Ffmpeg(false, AppendRiffPart), "repairable", "end of file", "complete",
         "complete"},
        {"NoChunks", Ffmpeg(false, CutAtFirstChunk), "nothing to repair", "end of file", "nothing found",
         "nothing found"},
    };
    return cases;
}

std::vector<std::string> Split(const std::string& joined) {
    std::vector<std::string> parts;
    std::istringstream in(joined);
    for (std::string part; std::getline(in, part, ',');)
        parts.push_back(part);
    return parts;
}

class CheckOfAnotherRecordersFile : public ::testing::TestWithParam<OtherCase> {};

TEST_P(CheckOfAnotherRecordersFile, AgreesWithItsRepairAndChangesNothing) {
    const OtherCase& c = GetParam();
    ScratchDir dir;
    c.make(dir.Path());
    const Bytes original = ReadBytes(dir / "clip.avi");
    auto folderFor = [&](const std::string& name) {
        fs::create_directory(dir / name);
        fs::copy_file(dir / "clip.avi", dir / name / "clip.avi");
        return dir / name;
    };
    const fs::path checked = folderFor("checked");
    const auto before = FolderState(checked);
    int exitStatus = -1;
    Fields check = Check(checked / "clip.avi", false, &exitStatus);

    EXPECT_TRUE(FolderState(checked) == before) << "a byte, a time or a name in the folder changed";
    EXPECT_EQ(check["layout"], "another recorder");
    EXPECT_EQ(check["verdict"], c.verdict);
    EXPECT_EQ(exitStatus, check["verdict"] == "healthy" || check["verdict"] == "repairable" ? 0 : 1);
    EXPECT_EQ(check["data_end.reason"], c.dataEnd);
    EXPECT_EQ(check["new_file.result"], c.newFile);
    EXPECT_EQ(check["replace.result"], c.replace);
    EXPECT_EQ(check["header"] + check["video"] + check["settings"], "nullnullnull");
    EXPECT_EQ(check["streams[].kind"], "video,audio");
    EXPECT_EQ(check["streams[].codec"], "FMP4,MS-ADPCM");
    EXPECT_EQ(check["streams[].width"] + "x" + check["streams[].height"], "160,nullx120,null");
    EXPECT_EQ(check["streams[].sample_rate"], "null,8000");
    const std::vector<std::string> chunks = Split(check["streams[].chunks"]);
    const std::vector<std::string> seconds = Split(check["streams[].seconds"]);
    ASSERT_EQ(chunks.size(), 2u);
    ASSERT_EQ(seconds.size(), 2u);
    EXPECT_EQ(check["chunks.video"], chunks[0]);
    EXPECT_EQ(check["chunks.audio"], chunks[1]);

    for (const std::string mode : {"new_file", "replace"}) {
        SCOPED_TRACE(mode);
        const fs::path folder = folderFor(mode);
        const fs::path clip = folder / "clip.avi";
        CommandResult run = Cli((mode == "replace" ? "--replace " : "") + ShellQuote(clip), false);
        static const std::regex summary("AVI from another recorder: 2 streams, ([0-9,]+) video frames?, "
                                        "([0-9]+) s of audio, (.*)\n");
        const std::string prefix = clip.string() + ": ";
        std::smatch match;
        const std::string rest = run.out.starts_with(prefix) ? run.out.substr(prefix.size()) : "";
        ASSERT_TRUE(std::regex_match(rest, match, summary)) << run.out << run.err;
        // What the summary says of the first video and audio streams is what the check found.
        EXPECT_EQ(match[1].str(), chunks[0]);
        EXPECT_EQ(match[2].str(), std::to_string(static_cast<uint64_t>(std::stod(seconds[1]) + 0.5)));

        const std::string result = check[mode + ".result"];
        EXPECT_EQ(run.exitStatus, result == "complete" || result == "no repair needed" ? 0 : 1) << run.err;
        if (result != "complete") {
            EXPECT_EQ(match[3].str(), result == "no repair needed" ? "no repair needed" : "not repaired");
            EXPECT_NE(run.err.find(check[mode + ".reason"]), std::string::npos)
                << run.err << " does not say: " << check[mode + ".reason"];
            EXPECT_EQ(ReadBytes(clip), original);
            EXPECT_FALSE(fs::exists(folder / "fix_clip.avi"));
            continue;
        }
        const fs::path output = folder / fs::path(check[mode + ".output"]).filename();
        const bool copied = check[mode + ".action"] == "copy as OpenDML";
        const std::string done =
            copied ? (mode == "replace" ? "written anew as OpenDML (replaced)"
                                        : "written anew as OpenDML (new file)")
                   : (mode == "replace" ? "index rebuilt in place" : "index rebuilt (new file)");
        EXPECT_EQ(match[3].str(), done + " -> " + output.string());
        // Other readers see every chunk the check counted, and the check sees nothing left to repair.
        auto streams = Probe(output);
        EXPECT_EQ(std::to_string(streams["video"].packets), chunks[0]);
        EXPECT_EQ(std::to_string(streams["audio"].packets), chunks[1]);
        Fields again = Check(output, false);
        EXPECT_EQ(again["verdict"], "healthy");
        EXPECT_EQ(again["streams[].chunks"], check["streams[].chunks"]);
    }
}

INSTANTIATE_TEST_SUITE_P(OtherRecorders, CheckOfAnotherRecordersFile, ::testing::ValuesIn(OtherCases()),
                         [](const auto& param) { return std::string(param.param.name); });

// The keys of the table in docs/check-json.md, as the JSON lines name them.
std::set<std::string> DocumentedKeys() {
    const Bytes page = ReadBytes(CLIPWRIGHT_CHECK_JSON_DOC);
    std::istringstream lines(std::string(page.begin(), page.end()));
    static const std::regex key("`([a-z0-9_.\\[\\]]+)`");
    std::set<std::string> keys;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("# `clipwright-cli --check --scan"))
            break; // the scan's lines have fields of their own
        if (!line.starts_with("| `"))
            continue;
        const std::string firstColumn = line.substr(0, line.find(" |", 2));
        for (auto it = std::sregex_iterator(firstColumn.begin(), firstColumn.end(), key);
             it != std::sregex_iterator(); ++it)
            keys.insert((*it)[1]);
    }
    return keys;
}

TEST(CheckOutput, JsonLinesParseAndCarryTheDocumentedFieldsAndTheTextSaysTheSame) {
    ScratchDir dir;
    std::string files;
    auto named = [](const char* name) {
        return std::find_if(Cases().begin(), Cases().end(),
                            [&](const CheckCase& c) { return c.name == std::string(name); })
            ->make;
    };
    const std::vector<std::pair<std::string, Make>> makers = {
        {"StandardCutOff", named("StandardCutOff")},
        {"HeaderLostWithoutSettings", named("HeaderLostWithoutSettings")},
        {"ZeroedSectorShifted", named("ZeroedSectorShifted")},
        {"Missing", named("Missing")},
        {"AnotherRecorder", OtherCases().front().make},
    };
    for (const auto& [name, make] : makers) {
        const fs::path folder = dir / name;
        fs::create_directory(folder);
        make(folder);
        files += " " + ShellQuote(folder / "clip.avi");
    }
    CommandResult json = Cli("--check --json" + files, false);
    CommandResult text = Cli("--check" + files, false);

    const std::vector<Fields> lines = ParseJsonLines(json.out);
    ASSERT_EQ(lines.size(), makers.size()) << json.out;
    EXPECT_EQ(json.exitStatus, 1);
    EXPECT_EQ(text.exitStatus, 1);
    std::set<std::string> keys;
    for (const Fields& line : lines) {
        for (const auto& [key, value] : line)
            keys.insert(key);
        EXPECT_NE(text.out.find(line.at("path") + "\n"), std::string::npos);
        EXPECT_NE(text.out.find("  Make new file: " + line.at("new_file.text") + "\n"), std::string::npos);
        EXPECT_NE(text.out.find("  Replace original file: " + line.at("replace.text") + "\n"),
                  std::string::npos)
            << text.out;
        EXPECT_NE(text.out.find("  verdict: " + line.at("verdict") + "\n"), std::string::npos);
    }
    EXPECT_EQ(keys, DocumentedKeys());
    // The same keys on every line, whatever is known: a missing file's are null.
    for (const Fields& line : lines)
        for (const std::string key :
             {"size", "layout", "header", "video", "chunks", "settings", "new_file.reason"})
            EXPECT_TRUE(line.contains(key)) << key << " missing from " << line.at("path");
}

// Quotes, backslashes, control characters and bytes that are not UTF-8 in a file name still make a
// line that parses; the name comes back as given, a byte that is not UTF-8 as U+FFFD.
TEST(CheckOutput, AnyFileNameGivesALineThatParses) {
    const std::string odd = "odd \"quote\" back\\slash\ttab \x01 \xc3\xa9.avi";
    CommandResult json =
        Cli("--check --json " + ShellQuote(odd) + " " + ShellQuote("latin1 \xff.avi"), false);
    const std::vector<Fields> lines = ParseJsonLines(json.out);
    ASSERT_EQ(lines.size(), 2u) << json.out;
    EXPECT_EQ(lines[0].at("path"), odd);
    EXPECT_EQ(lines[1].at("path"), "latin1 \xef\xbf\xbd.avi");
}

} // namespace
} // namespace clipwright::test
