// What a replace must never do to a recording, whatever happens around it: be left under a name the
// user never chose after Ctrl-C, show footage to more people than the recording did, or be ended by
// a signal another program provokes.
#include "Scenarios.h"
#include "SignalledRuns.h"
#include "platform/FaultPoints.h"
#include "platform/SourceFile.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

::testing::AssertionResult NoLeftovers(const ScenarioFolder& folder) {
    for (const auto& entry : fs::directory_iterator(folder.Folder())) {
        const std::string name = entry.path().filename().string();
        if (name == "tmp_clip.avi" || name.ends_with(".partial"))
            return ::testing::AssertionFailure() << name << " left behind";
    }
    return ::testing::AssertionSuccess();
}

// A signal at every file-system operation of a replace: the handler puts the recording back under
// its name and removes the unfinished file, or, once the new file is in place, finishes the job.
TEST(Interruption, ASignalAtAnyPointOfAReplaceLeavesTheRecordingOrTheRepairUnderItsName) {
    constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    for (const Scenario& scenario : AllScenarios()) {
        if (!scenario.replace || scenario.InPlace())
            continue;
        ScenarioFolder folder(scenario, 12);
        folder.Reset();
        folder.Run();
        const Bytes repaired = ReadBytes(folder.Recording());
        faults::Arm({});
        folder.Reset();
        folder.Run();
        const uint64_t points = faults::PointsPassed();
        faults::Disarm();

        uint64_t restored = 0;
        uint64_t lost = 0;
        for (uint64_t point = 1; point <= points; ++point) {
            const int signal = kSignals[point % 3];
            folder.Reset();
            const std::string where = std::string(scenario.name) + " at point " + std::to_string(point);
            ASSERT_TRUE(EndedBySignalAt(point, signal, std::nullopt, [&] { folder.Run(); })) << where;
            const Bytes now = ReadBytes(folder.Recording());
            const bool kept = now == folder.Original() || now == repaired;
            EXPECT_TRUE(kept) << where;
            EXPECT_TRUE(NoLeftovers(folder)) << where;
            lost += kept && NoLeftovers(folder) ? 0u : 1u;
            restored += now == folder.Original() ? 1u : 0u;
        }
        EXPECT_GT(restored, 0u) << scenario.name << ": no signal came while the recording was away";
        std::cout << "[figures] signals " << scenario.name << ": tried " << points << ", put back "
                  << restored << ", recordings lost or files left " << lost << "\n";
    }
}

TEST(Interruption, ARecordingLeftUnderItsTemporaryNameIsNamedWithTheWayBack) {
    ScenarioFolder folder(AllScenarios()[3], 12); // shifted, replace
    fs::rename(folder.Recording(), folder.Folder() / "tmp_clip.avi");
    std::vector<std::string> messages;
    FixOutcome outcome = folder.Run(&messages);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "The recording is not at \"clip.avi\", but \"tmp_clip.avi\" stands beside it: an earlier "
              "repair of it was interrupted. Rename \"tmp_clip.avi\" back to \"clip.avi\" and repair it "
              "again. Nothing was changed.");
    EXPECT_FALSE(outcome.layoutProbed);
    EXPECT_EQ(ReadBytes(folder.Folder() / "tmp_clip.avi"), folder.Original());
}

// Outputs keep the recording's permission bits and owner in every mode and layout.
TEST(Outputs, KeepTheRecordingsModeAndOwner) {
    const bool root = ::geteuid() == 0;
    for (const Scenario& scenario : AllScenarios()) {
        ScenarioFolder folder(scenario, 12);
        ::chmod(folder.Recording().c_str(), 0600);
        ::chmod((folder.Folder() / "clip.sub").c_str(), 0640);
        if (root) {
            ASSERT_EQ(::chown(folder.Recording().c_str(), 65534, 65534), 0);
        }
        FixOutcome outcome = folder.Run();
        ASSERT_EQ(outcome.status, FixStatus::Repaired) << scenario.name;
        if (outcome.otherRecorder && outcome.otherRecorder->neededNoRepair)
            continue; // nothing was written
        struct stat output {};
        ASSERT_EQ(::stat(outcome.outputPath.c_str(), &output), 0) << scenario.name;
        EXPECT_EQ(output.st_mode & 07777, 0600u) << scenario.name;
        if (root) {
            EXPECT_EQ(output.st_uid, 65534u) << scenario.name;
        }
        struct stat companion {};
        if (::stat((folder.Folder() / "fix_clip.sub").c_str(), &companion) == 0) {
            EXPECT_EQ(companion.st_mode & 07777, 0640u) << scenario.name;
        }
    }
}

// Another program opening the companion file while it is looked at must not end this process, as
// the lease's signal would by default.
TEST(CompanionFile, AnotherProgramOpeningItNeverEndsTheProcess) {
    ScratchDir dir;
    const fs::path companion = dir / "clip.sub";
    WriteBytes(companion, Bytes{'s', 'u', 'b'});
    SourceFile file;
    FileError error;
    ASSERT_TRUE(file.Open(companion.string(), ShareMode::Exclusive, error));
    CommandResult reader = RunCommand("cat " + ShellQuote(companion.string()));
    EXPECT_EQ(reader.out, "sub");
    file.Close();
}

// A file error while the recording is read under its temporary name names the recording, which is
// back under its own name by the time the user reads it.
TEST(Messages, AReadErrorDuringAReplaceNamesTheRecordingTheUserChose) {
    ScenarioFolder folder(AllScenarios()[3], 40); // shifted, replace
    faults::Plan count;
    count.onlyOneKind = true;
    count.only = faults::Operation::Read;
    faults::Arm(count);
    folder.Run();
    const uint64_t reads = faults::PointsPassed();
    faults::Disarm();
    for (uint64_t point = 1; point <= reads; ++point) {
        folder.Reset();
        faults::Plan plan = count;
        plan.action = faults::Plan::Action::Fail;
        plan.at = point;
        plan.errorNumber = EIO;
        faults::Arm(plan);
        RecordingHost host;
        RepairEngine fixer;
        fixer.SetHost(&host);
        fixer.RunFixJob(FixRequest{folder.Recording().string(), "clip.avi", OutputMode::ReplaceOriginal});
        faults::Disarm();
        for (const auto& message : host.messages)
            EXPECT_EQ(message.filePath.find("tmp_"), std::string::npos)
                << "read " << point << ": " << message.text;
        EXPECT_EQ(ReadBytes(folder.Recording()), folder.Original()) << "read " << point;
    }
}

} // namespace
} // namespace clipwright::test
