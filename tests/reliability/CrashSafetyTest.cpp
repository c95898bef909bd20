// A repair killed at any point, or failing at any file-system operation, never costs the recording.
#include "Scenarios.h"
#include "SignalledRuns.h"
#include "platform/FaultPoints.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> ScratchNames(const ScenarioFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.Folder()))
        names.push_back(entry.path().filename().string() + ":" + std::to_string(fs::file_size(entry.path())));
    return names;
}

uint64_t CountPoints(const ScenarioFolder& folder, std::optional<faults::Operation> kind = std::nullopt) {
    folder.Reset();
    faults::Plan plan;
    if (kind) {
        plan.onlyOneKind = true;
        plan.only = *kind;
    }
    faults::Arm(plan);
    folder.Run();
    uint64_t points = faults::PointsPassed();
    faults::Disarm();
    return points;
}

// The bytes a clean run leaves in the folder, file by file.
std::map<std::string, Bytes> CleanResult(const ScenarioFolder& folder) {
    folder.Reset();
    folder.Run();
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::directory_iterator(folder.Folder()))
        files[entry.path().filename().string()] = ReadBytes(entry.path());
    return files;
}

std::map<std::string, Bytes> FolderBytes(const ScenarioFolder& folder) {
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::directory_iterator(folder.Folder()))
        if (entry.path().filename().string() != "tmp_clip.avi")
            files[entry.path().filename().string()] = ReadBytes(entry.path());
    return files;
}

// Points to try: all of them for a small recording, an even sample of `most` otherwise.
std::vector<uint64_t> PointsToTry(uint64_t points, uint64_t most) {
    std::vector<uint64_t> chosen;
    uint64_t step = points <= most ? 1 : (points + most - 1) / most;
    for (uint64_t point = 1; point <= points; point += step)
        chosen.push_back(point);
    if (!chosen.empty() && chosen.back() != points)
        chosen.push_back(points);
    return chosen;
}

// The kinds of the points a clean run passes, in order.
std::vector<faults::Operation> PointKinds(const ScenarioFolder& folder) {
    std::vector<faults::Operation> kinds;
    faults::Plan plan;
    plan.observe = [&](faults::Operation operation, const faults::Access&) { kinds.push_back(operation); };
    folder.Reset();
    faults::Arm(plan);
    folder.Run();
    faults::Disarm();
    return kinds;
}

bool IsRead(const std::vector<faults::Operation>& kinds, size_t index) {
    return index < kinds.size() && kinds[index] == faults::Operation::Read;
}

// Kills that leave different folders: a read changes nothing, so a kill at any read of a run of
// reads leaves what a kill at the first one does.
std::vector<uint64_t> DistinctKillPoints(const std::vector<faults::Operation>& kinds) {
    std::vector<uint64_t> points;
    for (size_t index = 0; index < kinds.size(); ++index)
        if (!IsRead(kinds, index) || index == 0 || !IsRead(kinds, index - 1))
            points.push_back(index + 1);
    return points;
}

// Reads to fail or act at, counted among the reads: all of them in a camera recording; another
// recorder's file is read frame by frame, so there the first and last of each run of reads between
// other operations (each a step of the job), and an even sample of the rest.
std::vector<uint64_t> ReadsToTry(const Scenario& scenario, const std::vector<faults::Operation>& kinds) {
    std::set<uint64_t> chosen;
    uint64_t reads = 0;
    for (size_t index = 0; index < kinds.size(); ++index) {
        if (!IsRead(kinds, index))
            continue;
        ++reads;
        const bool stepEdge = index == 0 || !IsRead(kinds, index - 1) || !IsRead(kinds, index + 1);
        if (scenario.source == Source::Camera || stepEdge)
            chosen.insert(reads);
    }
    for (uint64_t read : PointsToTry(reads, 16))
        chosen.insert(read);
    return {chosen.begin(), chosen.end()};
}

class CrashSafety : public ::testing::TestWithParam<Scenario> {};

// An interrupted repair in place is completed by running it again: to the clean result, or, for
// another recorder's file, to one that ffprobe reads in full.
::testing::AssertionResult ASecondRunCompletes(const Scenario& scenario, const ScenarioFolder& folder,
                                               const std::map<std::string, Bytes>& clean) {
    folder.Run();
    if (FolderBytes(folder) == clean)
        return ::testing::AssertionSuccess();
    if (scenario.source == Source::Camera)
        return ::testing::AssertionFailure() << "a second run differs from a clean one";
    return folder.ReadsInFull(folder.Recording());
}

TEST_P(CrashSafety, KillAtEveryFileSystemOperationLosesNoRecording) {
    const Scenario& scenario = GetParam();
    const auto lengths =
        scenario.source == Source::Camera ? std::vector<uint64_t>{12, 200} : std::vector<uint64_t>{0};
    for (uint64_t frames : lengths) {
        ScenarioFolder folder(scenario, frames);
        const auto clean = CleanResult(folder);
        if (scenario.source != Source::Camera) {
            // A finalised file needs no repair in either mode: nothing is written beside it.
            const bool inPlace = scenario.replace || scenario.source == Source::OtherRecorderFinalised;
            EXPECT_TRUE(folder.ReadsInFull(folder.Folder() / (inPlace ? "clip.avi" : "fix_clip.avi")));
        }
        const std::vector<faults::Operation> kinds = PointKinds(folder);
        const uint64_t points = kinds.size();
        ASSERT_GT(points, 3u);
        const std::vector<uint64_t> distinct = DistinctKillPoints(kinds);
        uint64_t tried = 0;
        uint64_t lost = 0;
        for (uint64_t pick : PointsToTry(distinct.size(), frames < 100 ? distinct.size() : 60)) {
            const uint64_t point = distinct[pick - 1];
            folder.Reset();
            pid_t child = ::fork();
            if (child == 0) {
                faults::Plan plan;
                plan.action = faults::Plan::Action::Kill;
                plan.at = point;
                faults::Arm(plan);
                folder.Run();
                ::_exit(0);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            ++tried;
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "point " << point;
            // Killed after the last step that mattered: the repair is complete.
            const bool completed = FolderBytes(folder) == clean;
            bool survived = (folder.FootageSurvives() || completed) && folder.OnlyDocumentedFiles();
            ::testing::AssertionResult completes = ::testing::AssertionSuccess();
            if (survived && scenario.InPlace()) {
                completes = ASecondRunCompletes(scenario, folder, clean);
                survived = completes;
            }
            if (!survived) {
                ++lost;
                ADD_FAILURE() << scenario.name << ": killed at point " << point << " of " << points
                              << (folder.FootageSurvives() ? "" : ": footage lost")
                              << (folder.OnlyDocumentedFiles() ? "" : ": stray files") << ": "
                              << completes.message();
            }
        }
        std::cout << "[figures] kill points " << scenario.name << " frames " << frames << ": tried " << tried
                  << " of " << points << " (" << distinct.size() << " leave different folders)"
                  << ", recordings lost " << lost << "\n";
    }
}

struct FaultKind {
    const char* name;
    faults::Operation operation;
    int errorNumber;
    bool sticky;
};

const FaultKind kFaultKinds[] = {
    {"disk full", faults::Operation::Write, ENOSPC, true},
    {"write error", faults::Operation::Write, EIO, false},
    {"read error", faults::Operation::Read, EIO, false},
    {"open refused", faults::Operation::Open, EACCES, false},
    {"create refused", faults::Operation::Create, EACCES, false},
    {"rename refused", faults::Operation::Rename, EIO, false},
    {"close error", faults::Operation::Close, EIO, false},
    {"truncate error", faults::Operation::Truncate, EIO, false},
    {"sync error", faults::Operation::Sync, EIO, false},
    {"folder sync error", faults::Operation::SyncDirectory, EIO, false},
};

TEST_P(CrashSafety, EveryInjectedFailureEndsWithAMessageAndTheRecordingIntact) {
    const Scenario& scenario = GetParam();
    ScenarioFolder folder(scenario, 40);
    const auto clean = CleanResult(folder);
    const std::vector<faults::Operation> kinds = PointKinds(folder);
    for (const FaultKind& kind : kFaultKinds) {
        const uint64_t points = CountPoints(folder, kind.operation);
        const std::vector<uint64_t> chosen = kind.operation == faults::Operation::Read
                                                 ? ReadsToTry(scenario, kinds)
                                                 : PointsToTry(points, points);
        uint64_t lost = 0;
        for (uint64_t point : chosen) {
            folder.Reset();
            faults::Plan plan;
            plan.action = faults::Plan::Action::Fail;
            plan.at = point;
            plan.onlyOneKind = true;
            plan.only = kind.operation;
            plan.errorNumber = kind.errorNumber;
            plan.sticky = kind.sticky;
            faults::Arm(plan);
            std::vector<std::string> messages;
            FixOutcome outcome = folder.Run(&messages);
            faults::Disarm();
            const std::string where =
                std::string(scenario.name) + ", " + kind.name + " at " + std::to_string(point);
            // A job that still completed (a failed probe is followed by a rebuild that works) has
            // put the repair in the recording's place, as a clean run does.
            const bool completed = outcome.status == FixStatus::Repaired && FolderBytes(folder) == clean;
            bool survived = (folder.FootageSurvives() || completed) && folder.OnlyDocumentedFiles();
            EXPECT_TRUE(folder.FootageSurvives() || completed)
                << where << " in " << ::testing::PrintToString(ScratchNames(folder));
            EXPECT_TRUE(folder.OnlyDocumentedFiles()) << where;
            auto after = FolderBytes(folder);
            after.erase("fix_clip.sub"); // a companion that could not be copied is not reported
            auto expected = clean;
            expected.erase("fix_clip.sub");
            // A failure the job did not report must not have cost it anything; one that cost it the
            // repair is said, and not as a success.
            if (messages.empty()) {
                EXPECT_EQ(outcome.status, FixStatus::Repaired) << where;
                EXPECT_EQ(after, expected) << where;
            }
            if (after != expected) {
                EXPECT_NE(outcome.status, FixStatus::Repaired) << where;
                EXPECT_FALSE(messages.empty()) << where;
            }
            if (scenario.InPlace()) {
                EXPECT_TRUE(ASecondRunCompletes(scenario, folder, clean)) << where;
            }
            lost += survived ? 0 : 1;
        }
        std::cout << "[figures] faults " << scenario.name << " " << kind.name << ": injected "
                  << chosen.size() << " of " << points << ", recordings lost " << lost << "\n";
    }
}

// Every progress report is a point where Cancel may land; wherever it does, the job ends as
// cancelled with the folder exactly as it was: no partial file, no companion copy, no message.
TEST_P(CrashSafety, CancelAtAnyProgressReportLeavesTheFolderAsItWas) {
    const Scenario& scenario = GetParam();
    ScenarioFolder folder(scenario, 40);
    uint64_t reports = 0;
    folder.Run(nullptr, std::nullopt, &reports);
    ASSERT_GE(reports, 2u) << "a job reports at least its start";
    const uint64_t step = std::max<uint64_t>(1, reports / 20);
    for (uint64_t at = 1; at <= reports; at += step) {
        folder.Reset();
        const auto before = FolderBytes(folder);
        std::vector<std::string> messages;
        const FixOutcome outcome = folder.Run(&messages, at);
        const std::string where = std::string(scenario.name) + ", cancel at report " + std::to_string(at);
        EXPECT_EQ(outcome.status, FixStatus::Cancelled) << where;
        EXPECT_EQ(FolderBytes(folder), before) << where;
        EXPECT_TRUE(messages.empty()) << where << ": " << ::testing::PrintToString(messages);
    }
}

TEST_P(CrashSafety, ARecordingThatShrinksWhileItIsReadEndsTheJobCleanly) {
    const Scenario& scenario = GetParam();
    ScenarioFolder folder(scenario, 40);
    const std::vector<uint64_t> points = ReadsToTry(scenario, PointKinds(folder));
    for (uint64_t point : points) {
        folder.Reset();
        faults::Plan plan;
        plan.action = faults::Plan::Action::Callback;
        plan.at = point;
        plan.onlyOneKind = true;
        plan.only = faults::Operation::Read;
        plan.callback = [&] {
            for (const char* name : {"clip.avi", "tmp_clip.avi"})
                if (fs::exists(folder.Folder() / name))
                    fs::resize_file(folder.Folder() / name, folder.Original().size() / 2);
        };
        faults::Arm(plan);
        folder.Run();
        faults::Disarm();
        EXPECT_TRUE(folder.OnlyDocumentedFiles()) << "shrunk at read " << point;
        EXPECT_TRUE(fs::exists(folder.Recording()) || fs::exists(folder.Folder() / "tmp_clip.avi"));
    }
    std::cout << "[figures] shrinking " << scenario.name << ": " << points.size() << " read points\n";
}

TEST_P(CrashSafety, ARealFullDiskAtEveryAmountOfFreeSpaceLosesNoRecording) {
    ScratchDir dir;
    const fs::path disk = dir / "disk";
    fs::create_directories(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    const Scenario& scenario = GetParam();
    ScenarioFolder folder(scenario, 40, disk);
    const fs::path ballast = disk / "ballast";
    const uint64_t needed = 2 * folder.Original().size() + 8192;
    uint64_t tried = 0;
    uint64_t lost = 0;
    // "Make new file" again with the copy made beside the look.
    for (int round = 0; round < (scenario.replace ? 1 : 2); ++round) {
        folder.CopyAheadFrom(round == 0 ? FixRequest{}.copyAheadFrom : 0);
        for (uint64_t freeBytes = 0; freeBytes <= needed; freeBytes += 4096) {
            folder.Reset();
            {
                std::ofstream fill(ballast, std::ios::binary);
                std::vector<char> block(4096, 'b');
                while (fill.write(block.data(), static_cast<std::streamsize>(block.size())))
                    ;
            }
            fs::resize_file(ballast,
                            fs::file_size(ballast) > freeBytes ? fs::file_size(ballast) - freeBytes : 0);
            std::vector<std::string> messages;
            FixOutcome outcome = folder.Run(&messages);
            fs::remove(ballast);
            ++tried;
            const bool survived = (folder.FootageSurvives() || outcome.status == FixStatus::Repaired) &&
                                  folder.OnlyDocumentedFiles();
            EXPECT_TRUE(survived) << scenario.name << " with " << freeBytes << " bytes free";
            if (outcome.status != FixStatus::Repaired) {
                EXPECT_FALSE(messages.empty()) << scenario.name << " with " << freeBytes << " bytes free";
            }
            lost += survived ? 0 : 1;
        }
    }
    std::cout << "[figures] full disk " << scenario.name << ": free space sizes tried " << tried
              << ", recordings lost " << lost << "\n";
}

// A large recording's copy for "Make new file" is made beside the look at it. Whatever the plan
// turns out to be (an index in place, a rebuild, nothing to repair), the folder ends as a copy made
// after the look leaves it, with the same words; a stop at any progress report, or a signal at any
// read of the look, leaves it as it was or as the repair completes it, and no hidden copy.
TEST_P(CrashSafety, ACopyMadeBesideTheLookEndsAsOneMadeAfterIt) {
    const Scenario& scenario = GetParam();
    if (scenario.replace)
        GTEST_SKIP() << "only \"Make new file\" copies the whole recording";
    ScenarioFolder folder(scenario, 40);
    const auto before = FolderBytes(folder);
    std::vector<std::string> wordsAfter;
    const FixOutcome after = folder.Run(&wordsAfter);
    const auto filesAfter = FolderBytes(folder);

    folder.CopyAheadFrom(0);
    folder.Reset();
    std::vector<std::string> wordsBeside;
    uint64_t reports = 0;
    const FixOutcome beside = folder.Run(&wordsBeside, std::nullopt, &reports);
    EXPECT_EQ(beside.status, after.status);
    EXPECT_EQ(wordsBeside, wordsAfter);
    EXPECT_EQ(FolderBytes(folder), filesAfter);

    // How many reports come while the copy is awaited depends on the two threads' pace: a stop
    // late enough may come after the last, and the repair completes.
    uint64_t stopped = 0;
    for (uint64_t at = 1; at <= reports; ++at) {
        folder.Reset();
        std::vector<std::string> words;
        const FixOutcome outcome = folder.Run(&words, at);
        const std::string where = "stop at report " + std::to_string(at);
        if (outcome.status == FixStatus::Cancelled) {
            ++stopped;
            EXPECT_EQ(FolderBytes(folder), before) << where;
            EXPECT_TRUE(words.empty()) << where << ": " << ::testing::PrintToString(words);
        } else {
            EXPECT_EQ(FolderBytes(folder), filesAfter) << where;
        }
    }
    EXPECT_GE(stopped + 1, reports) << "only a stop at the last report may come too late";

    const uint64_t reads = CountPoints(folder, faults::Operation::Read);
    for (uint64_t read = 1; read <= reads; ++read) {
        folder.Reset();
        const std::string where = "signal at read " + std::to_string(read);
        EXPECT_TRUE(EndedBySignalAt(read, SIGINT, faults::Operation::Read, [&] { folder.Run(); })) << where;
        const auto now = FolderBytes(folder);
        EXPECT_TRUE(now == before || now == filesAfter)
            << where << ": " << ::testing::PrintToString(ScratchNames(folder));
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CrashSafety, ::testing::ValuesIn(AllScenarios()),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace clipwright::test
