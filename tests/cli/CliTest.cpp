// The command-line contract scripts rely on: arguments, messages, summary lines and exit status.
#include "AviReader.h"
#include "Recordings.h"
#include "TestFiles.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

CommandResult Cli(const std::string& arguments) {
    return RunCommand(ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + arguments);
}

fs::path CutOffRecording(const ScratchDir& dir, const char* name,
                         recgen::HeaderLayout layout = recgen::HeaderLayout::Standard) {
    CameraRecordingPlan plan;
    plan.header.layout = layout;
    plan.sequence.videoFrameCount = 20;
    WriteCameraRecording(dir / name, plan);
    return dir / name;
}

TEST(CommandLine, UsageErrorsExitWithTwoAndTouchNothing) {
    ScratchDir dir;
    const fs::path clip = CutOffRecording(dir, "clip.avi");
    const Bytes before = ReadBytes(clip);
    const std::string file = " " + ShellQuote(clip);
    for (const std::string& arguments :
         {std::string(""), "--resolution vga" + file, "--resolution vga --fps 0" + file,
          "--resolution vga --fps 121" + file, "--resolution vga --fps 7.5" + file,
          "--resolution vga --fps abc" + file, "--resolution xga --fps 15" + file, "--bogus" + file,
          "--json" + file, "--check --replace" + file, "--check --resolution vga --fps 15" + file,
          "--no-clobber --replace" + file, "--check -n" + file}) {
        CommandResult result = Cli(arguments);
        EXPECT_EQ(result.exitStatus, 2) << arguments;
        EXPECT_FALSE(result.err.empty()) << arguments;
    }
    EXPECT_EQ(ReadBytes(clip), before);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"});
}

TEST(CommandLine, HelpExplainsModesSettingsExamplesAndExitStatus) {
    CommandResult result = Cli("--help");
    EXPECT_EQ(result.exitStatus, 0);
    for (const char* word : {"--replace", "--resolution", "--fps", "--version", "vga", "qqvga", "fix_",
                             "Examples:\n  clipwright-cli ", "Exit status:\n  0  every file was repaired\n",
                             "  1  any file was not repaired\n", "  2  usage error"})
        EXPECT_NE(result.out.find(word), std::string::npos) << word;
}

TEST(CommandLine, VersionIsTheProjectVersion) {
    for (const char* option : {"--version", "-V"}) {
        CommandResult result = Cli(option);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out, std::string("clipwright-cli ") + CLIPWRIGHT_PROJECT_VERSION + "\n");
    }
    EXPECT_EQ(std::string(CLIPWRIGHT_PROJECT_VERSION), "1.01") << "the version people read everywhere";
}

// As command-line tools do: --quiet leaves only the problems, --no-clobber keeps an earlier repair,
// and the JSON gives a problem as a stable code and the sentence without decoration.
TEST(CommandLine, QuietNoClobberAndPlainProblemsAsToolsHaveThem) {
    ScratchDir dir;
    const fs::path clip = CutOffRecording(dir, "clip.avi");
    const fs::path missing = dir / "missing.avi";
    const std::string problem = "clipwright-cli: " + missing.string() + ": The file could not be located.\n";

    CommandResult quiet = Cli("-q " + ShellQuote(missing) + " " + ShellQuote(clip));
    EXPECT_EQ(quiet.exitStatus, 1);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, problem);
    ASSERT_TRUE(fs::exists(dir / "fix_clip.avi"));

    WriteBytes(dir / "fix_clip.avi", {'k', 'e', 'p', 't'});
    CommandResult kept = Cli("--no-clobber " + ShellQuote(clip));
    EXPECT_EQ(kept.exitStatus, 1);
    EXPECT_NE(kept.err.find("clipwright-cli: " + clip.string() + ": " + (dir / "fix_clip.avi").string() +
                            " already exists and --no-clobber keeps it; not repaired"),
              std::string::npos)
        << kept.err;
    EXPECT_EQ(ReadBytes(dir / "fix_clip.avi"), (Bytes{'k', 'e', 'p', 't'}));
    EXPECT_EQ(Cli(ShellQuote(clip)).exitStatus, 0) << "without it an earlier repair is replaced";
    EXPECT_GT(fs::file_size(dir / "fix_clip.avi"), 4u);

    CommandResult json = Cli("--check --json " + ShellQuote(missing));
    EXPECT_NE(json.out.find(R"("problem":"The file could not be located.","problem_code":"file_error")"),
              std::string::npos)
        << json.out;
}

// Progress is for a person at a terminal: a line rewritten in place on one, nothing in a pipe or a
// file, and nothing with --quiet.
TEST(CommandLine, ProgressShowsOnATerminalOnly) {
    ScratchDir dir;
    const fs::path clip = CutOffRecording(dir, "clip.avi");
    // `script` gives the tool a pseudo-terminal and copies what it shows to its own output.
    auto onTerminal = [&](const std::string& options) {
        return RunCommand("script -qec " +
                          ShellQuote(ShellQuote(CLIPWRIGHT_CLI_PATH) + options + " " + ShellQuote(clip)) +
                          " /dev/null");
    };
    const CommandResult shown = onTerminal("");
    EXPECT_EQ(shown.exitStatus, 0) << shown.err;
    const std::string line = "\rclipwright-cli: " + clip.string() + ": reading ";
    EXPECT_NE(shown.out.find(line), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("100%"), std::string::npos) << shown.out;
    // The line is cleared before the summary, which starts a clean line.
    EXPECT_NE(shown.out.find("\r\x1b[K" + clip.string()), std::string::npos) << shown.out;

    const CommandResult quiet = onTerminal(" -q");
    EXPECT_EQ(quiet.out.find("reading"), std::string::npos) << quiet.out;
    const CommandResult piped = Cli(ShellQuote(clip));
    EXPECT_EQ(piped.err.find("reading"), std::string::npos) << piped.err;
    EXPECT_EQ(piped.err.find('\r'), std::string::npos) << piped.err;
}

std::set<std::string> LongOptions(std::string text) {
    // The manual page writes an option's dashes as roff minus signs.
    for (size_t at; (at = text.find("\\-")) != std::string::npos;)
        text.erase(at, 1);
    static const std::regex option("--[a-z][a-z-]*");
    std::set<std::string> options;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    return options;
}

TEST(CommandLine, ManualPageAndHelpNameTheSameOptions) {
    const Bytes page = ReadBytes(CLIPWRIGHT_CLI_MANPAGE);
    const std::set<std::string> inPage = LongOptions(std::string(page.begin(), page.end()));
    EXPECT_EQ(inPage, LongOptions(Cli("--help").out));
    EXPECT_TRUE(inPage.contains("--resolution")) << "the page is read as the manual writes options";
}

// Runs the completion as bash does on Tab, with the words typed so far, from inside `folder`.
std::set<std::string> Completions(const fs::path& folder, const std::string& words) {
    const std::string script = "source " + ShellQuote(CLIPWRIGHT_CLI_COMPLETION) +
                               " && complete -p clipwright-cli >/dev/null && COMP_WORDS=(" + words +
                               ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _clipwright_cli && "
                               "for word in \"${COMPREPLY[@]}\"; do echo \"$word\"; done";
    CommandResult result = RunCommand("cd " + ShellQuote(folder) + " && bash -c " + ShellQuote(script));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    std::set<std::string> offered;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);)
        offered.insert(line);
    return offered;
}

TEST(CommandLine, BashCompletesOptionsResolutionsAndRecordings) {
    ScratchDir dir;
    fs::create_directory(dir / "older clips");
    for (const char* name : {"cam 01.avi", "CAM02.AVI", "notes.txt", "cam03.avi.sub"})
        WriteBytes(dir / name, {});
    using Set = std::set<std::string>;
    EXPECT_EQ(Completions(dir.Path(), "clipwright-cli --resolution ''"), (Set{"vga", "qvga", "qqvga"}));
    EXPECT_EQ(Completions(dir.Path(), "clipwright-cli --resolution q"), (Set{"qvga", "qqvga"}));
    EXPECT_EQ(Completions(dir.Path(), "clipwright-cli --resolution vga --fps ''"), Set{});
    EXPECT_EQ(Completions(dir.Path(), "clipwright-cli --"), LongOptions(Cli("--help").out));
    EXPECT_EQ(Completions(dir.Path(), "clipwright-cli --replace ''"),
              (Set{"older clips", "cam 01.avi", "CAM02.AVI"}));
}

TEST(CommandLine, RepairsEachFileAndSaysWhatWasDone) {
    ScratchDir dir;
    const fs::path standard = CutOffRecording(dir, "a.avi");
    const fs::path shifted = CutOffRecording(dir, "b.avi", recgen::HeaderLayout::Shifted);

    CommandResult result = Cli(ShellQuote(standard) + " " + ShellQuote(shifted));

    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.err, "");
    std::istringstream lines(result.out);
    std::string first;
    std::string second;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_EQ(first.rfind(standard.string() + ": standard layout, repaired (new file) -> " +
                              (dir / "fix_a.avi").string() + " (20 video and ",
                          0),
              0u)
        << first;
    EXPECT_NE(first.find("audio chunks indexed)"), std::string::npos) << first;
    EXPECT_EQ(second.rfind(shifted.string() + ": shifted layout, rebuilt (new file) -> " +
                               (dir / "fix_b.avi").string() + " (20 video and ",
                           0),
              0u)
        << second;
    EXPECT_NE(second.find("audio chunks copied)"), std::string::npos) << second;
    std::string total;
    std::getline(lines, total);
    EXPECT_EQ(total, "2 repaired, 0 not repaired");
    EXPECT_EQ(DecodeErrors(dir / "fix_a.avi"), "");
    EXPECT_EQ(DecodeErrors(dir / "fix_b.avi"), "");
}

TEST(CommandLine, FileErrorsGoToStandardErrorWithThePathAndTheExitStatusIsOne) {
    ScratchDir dir;
    const fs::path good = CutOffRecording(dir, "good.avi");
    const fs::path missing = dir / "missing.avi";

    CommandResult result = Cli("--replace " + ShellQuote(missing) + " " + ShellQuote(good));

    EXPECT_EQ(result.exitStatus, 1);
    const std::string line = "clipwright-cli: " + missing.string() + ": The file could not be located.\n";
    EXPECT_EQ(result.err, line);
    EXPECT_NE(result.out.find(missing.string() + ": not repaired\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(good.string() + ": standard layout, repaired in place -> " + good.string()),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("1 repaired, 1 not repaired\n"), std::string::npos) << result.out;
}

// A recording on a write-protected card: the file and its folder read-only to the user. "Make new
// file" only reads it, so a repair into another folder works for every kind of recording; without
// one the message names the folder and why.
TEST(CommandLine, AReadOnlyRecordingIsRepairedIntoAnotherFolder) {
    ScratchDir dir;
    const fs::path card = dir / "card";
    const fs::path out = dir / "out";
    fs::create_directories(card);
    fs::create_directories(out);
    CutOffRecording(dir, "card/standard.avi");
    CutOffRecording(dir, "card/shifted.avi", recgen::HeaderLayout::Shifted);
    ASSERT_EQ(
        RunCommand("{ ffmpeg -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=15 -t 2 -c:v mpeg4 "
                   "-f avi pipe:1 | head -c 30000 > " +
                   ShellQuote(card / "other.avi") + "; }")
            .exitStatus,
        0);
    std::map<std::string, Bytes> before;
    for (const char* name : {"standard.avi", "shifted.avi", "other.avi"}) {
        fs::permissions(card / name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        before[name] = ReadBytes(card / name);
    }
    fs::permissions(card, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(out, fs::perms::all);

    for (const char* name : {"standard.avi", "shifted.avi", "other.avi"}) {
        SCOPED_TRACE(name);
        const CommandResult result = RunCommand(AsUnprivileged(
            ShellQuote(CLIPWRIGHT_CLI_PATH) + " -o " + ShellQuote(out) + " " + ShellQuote(card / name)));
        EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
        EXPECT_NE(result.out.find("(new file) -> " + (out / ("fix_" + std::string(name))).string()),
                  std::string::npos)
            << result.out;
        EXPECT_EQ(ReadBytes(card / name), before[name]);
        EXPECT_GT(Probe(out / ("fix_" + std::string(name)))["video"].packets, 0u);

        const CommandResult refused =
            RunCommand(AsUnprivileged(ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + ShellQuote(card / name)));
        EXPECT_EQ(refused.exitStatus, 1);
        EXPECT_NE(refused.err.find("cannot be written in the folder \"" + card.string() +
                                   "/\" (Permission denied). The recording was left as it was."),
                  std::string::npos)
            << refused.err;
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"card", "out"}));
}

TEST(CommandLine, ARecordingRefusedBeforeTheProbeIsReportedWithoutALayout) {
    ScratchDir dir;
    const fs::path target = CutOffRecording(dir, "real.avi");
    fs::create_symlink(target, dir / "link.avi");
    CommandResult result = Cli("--replace " + ShellQuote(dir / "link.avi"));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, (dir / "link.avi").string() + ": not repaired\n");
    EXPECT_NE(result.err.find("symbolic link"), std::string::npos) << result.err;
}

// A header that lost the settings: the video says them, options override them (with a warning when
// they differ), and only a video that says nothing leaves the tool asking for the options.
TEST(CommandLine, LostSettingsComeFromTheVideoUnlessGivenOrUnreadable) {
    struct Case {
        const char* name;
        const char* options;
        bool hideVolHeaders; // no MPEG-4 VOL left in the video: nothing to read the size from
        int exitStatus;
        const char* stderrHas;
        int width; // of the repaired file's header, 0 when none is written
    };
    const Case cases[] = {
        {"read from the video", "", false, 0, "frame size and rate read from the video: 640x480, 15 fps",
         640},
        {"options differ", "--resolution qvga --fps 15", false, 0,
         "warning: the video says 640x480, 15 fps, but the repair uses 320x240, 15 fps as given", 320},
        {"nothing to read", "", true, 1, "--resolution", 0},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const fs::path clip = CutOffRecording(dir, "lost.avi", recgen::HeaderLayout::HeaderLost);
        if (c.hideVolHeaders) {
            Bytes bytes = ReadBytes(clip);
            for (size_t i = 0; i + 3 < bytes.size(); ++i)
                if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && (bytes[i + 3] & 0xF0) == 0x20)
                    bytes[i + 2] = 2;
            WriteBytes(clip, bytes);
        }
        const Bytes before = ReadBytes(clip);

        CommandResult result = Cli(std::string("--replace ") + c.options + " " + ShellQuote(clip));

        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.name << ": " << result.err;
        EXPECT_NE(result.err.find(c.stderrHas), std::string::npos) << c.name << ": " << result.err;
        EXPECT_EQ(ReadBytes(clip), before) << c.name;
        if (c.width == 0) {
            EXPECT_EQ(dir.Names(), std::vector<std::string>{"lost.avi"}) << c.name;
            continue;
        }
        // The header the repair wrote, as an independent reader sees it.
        avitest::AviReader reader((dir / "fix_lost.avi").string());
        ASSERT_FALSE(reader.Streams().empty()) << c.name;
        const auto& video = reader.Streams()[0];
        ASSERT_TRUE(video.video.has_value()) << c.name;
        EXPECT_EQ(video.video->width, c.width) << c.name;
        EXPECT_EQ(video.header.rate, 15000u) << c.name;
        EXPECT_EQ(video.header.scale, 1000u) << c.name;
    }
}

TEST(CommandLine, SettingsAnswerThePromptAndSwitchToANewFile) {
    ScratchDir dir;
    const fs::path clip = CutOffRecording(dir, "lost.avi", recgen::HeaderLayout::HeaderLost);
    const fs::path standard = CutOffRecording(dir, "std.avi");
    const Bytes before = ReadBytes(clip);

    CommandResult result =
        Cli("--replace --resolution vga --fps 15 " + ShellQuote(clip) + " " + ShellQuote(standard));

    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(ReadBytes(clip), before) << "the prompt's answer always makes a new file";
    EXPECT_NE(result.out.find("header lost layout, rebuilt (new file) -> " + (dir / "fix_lost.avi").string()),
              std::string::npos)
        << result.out;
    EXPECT_NE(
        result.out.find(standard.string() + ": standard layout, repaired in place -> " + standard.string()),
        std::string::npos)
        << "settings are used only where the prompt would appear";
    auto streams = Probe(dir / "fix_lost.avi");
    EXPECT_EQ(streams["video"].width, 640u);
    EXPECT_EQ(streams["video"].frameRate, "15/1");
}

// Ctrl-C in the middle of a replace: the recording is back under its name, byte for byte, with no
// temporary name or unfinished file beside it, and the tool ends by the signal.
TEST(CommandLine, InterruptingAReplacePutsTheRecordingBack) {
    ScratchDir dir;
    CameraRecordingPlan plan;
    plan.header.layout = recgen::HeaderLayout::Shifted;
    plan.sequence.videoFrameCount = 60000; // about 200 MB: long enough to be caught in the middle
    WriteCameraRecording(dir / "clip.avi", plan);
    const Bytes before = ReadBytes(dir / "clip.avi");

    pid_t child = ::fork();
    if (child == 0) {
        ::execl(CLIPWRIGHT_CLI_PATH, CLIPWRIGHT_CLI_PATH, "--replace", (dir / "clip.avi").c_str(), nullptr);
        ::_exit(127);
    }
    while (!fs::exists(dir / ".clip.avi.partial") && ::waitpid(child, nullptr, WNOHANG) == 0)
        ::usleep(200);
    ::kill(child, SIGINT);
    int status = 0;
    ::waitpid(child, &status, 0);

    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT)
        << "the repair ended before it was interrupted";
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"});
    EXPECT_TRUE(ReadBytes(dir / "clip.avi") == before);
}

// SIGTERM while "Make new file" copies the recording: the unfinished copy goes with the process,
// and nothing under the fix name is left to pass for a repair.
TEST(CommandLine, StoppingANewFileRepairLeavesNoCopyBehind) {
    ScratchDir dir;
    CameraRecordingPlan plan;
    plan.sequence.videoFrameCount = 60000;
    WriteCameraRecording(dir / "clip.avi", plan);
    const Bytes before = ReadBytes(dir / "clip.avi");

    pid_t child = ::fork();
    if (child == 0) {
        ::execl(CLIPWRIGHT_CLI_PATH, CLIPWRIGHT_CLI_PATH, (dir / "clip.avi").c_str(), nullptr);
        ::_exit(127);
    }
    while (!fs::exists(dir / ".fix_clip.avi.partial") && ::waitpid(child, nullptr, WNOHANG) == 0)
        ::usleep(200);
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);

    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
        << "the repair ended before it was stopped";
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"});
    EXPECT_TRUE(ReadBytes(dir / "clip.avi") == before);
}

} // namespace
} // namespace clipwright::test
