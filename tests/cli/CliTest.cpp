// The command-line contract scripts rely on: arguments, messages, summary lines and exit status.
#include "Recordings.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

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
         {std::string(""), "--fps 15" + file, "--resolution vga" + file, "--resolution vga --fps 0" + file,
          "--resolution vga --fps 121" + file, "--resolution vga --fps 7.5" + file,
          "--resolution vga --fps abc" + file, "--resolution xga --fps 15" + file, "--bogus" + file}) {
        CommandResult result = Cli(arguments);
        EXPECT_EQ(result.exitStatus, 2) << arguments;
        EXPECT_FALSE(result.err.empty()) << arguments;
    }
    EXPECT_EQ(ReadBytes(clip), before);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"});
}

TEST(CommandLine, HelpExplainsModesSettingsAndExitStatus) {
    CommandResult result = Cli("--help");
    EXPECT_EQ(result.exitStatus, 0);
    for (const char* word : {"--replace", "--resolution", "--fps", "vga", "qqvga", "Exit status", "fix_"})
        EXPECT_NE(result.out.find(word), std::string::npos) << word;
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
    EXPECT_EQ(first.rfind(standard.string() + ": standard layout, repaired in place -> " +
                              (dir / "fix_a.avi").string() + " (20 video and ",
                          0),
              0u)
        << first;
    EXPECT_NE(first.find("audio chunks indexed)"), std::string::npos) << first;
    EXPECT_EQ(second.rfind(shifted.string() + ": shifted layout, rebuilt -> " + (dir / "fix_b.avi").string() +
                               " (20 video and ",
                           0),
              0u)
        << second;
    EXPECT_NE(second.find("audio chunks copied)"), std::string::npos) << second;
    EXPECT_EQ(DecodeErrors(dir / "fix_a.avi"), "");
    EXPECT_EQ(DecodeErrors(dir / "fix_b.avi"), "");
}

TEST(CommandLine, FileErrorsGoToStandardErrorWithThePathAndTheExitStatusIsOne) {
    ScratchDir dir;
    const fs::path good = CutOffRecording(dir, "good.avi");
    const fs::path missing = dir / "missing.avi";

    CommandResult result = Cli("--replace " + ShellQuote(missing) + " " + ShellQuote(good));

    EXPECT_EQ(result.exitStatus, 1);
    const std::string line = missing.string() + ": ERROR: The file could not be located.\n";
    EXPECT_EQ(result.err, line);
    EXPECT_NE(result.out.find(missing.string() + ": not repaired\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find(good.string() + ": standard layout, repaired in place -> " + good.string()),
              std::string::npos)
        << result.out;
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

TEST(CommandLine, LostSettingsWithoutAnswersWriteNothingAndSayWhatToPass) {
    ScratchDir dir;
    const fs::path clip = CutOffRecording(dir, "lost.avi", recgen::HeaderLayout::HeaderLost);
    const Bytes before = ReadBytes(clip);

    CommandResult result = Cli("--replace " + ShellQuote(clip));

    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("--resolution"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("--fps"), std::string::npos) << result.err;
    EXPECT_EQ(ReadBytes(clip), before);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"lost.avi"});
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
    EXPECT_NE(result.out.find("header lost layout, rebuilt -> " + (dir / "fix_lost.avi").string()),
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

} // namespace
} // namespace clipwright::test
