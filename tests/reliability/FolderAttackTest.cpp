// The folder as an attacker leaves it: links, folders and read-only files under the output names,
// a recording that is itself a link, and names no camera would choose. Nothing is ever written
// through a link to another place, and nothing outside the recording's folder changes.
#include "Scenarios.h"

#include <gtest/gtest.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

// A recording folder inside a parent that also holds a file the attacker wants overwritten.
class AttackedFolder {
public:
    explicit AttackedFolder(recgen::HeaderLayout layout, const std::string& name = "clip.avi") : name_(name) {
        fs::create_directory(parent_ / "recordings");
        WriteBytes(Outside(), Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'});
        CameraRecordingPlan plan;
        plan.header.layout = layout;
        plan.header.width = 160;
        plan.header.height = 112;
        plan.sequence.videoFrameCount = 10;
        WriteCameraRecording(Recording(), plan);
        original_ = ReadBytes(Recording());
    }

    fs::path Folder() const { return parent_ / "recordings"; }
    fs::path Recording() const { return Folder() / name_; }
    fs::path Outside() const { return parent_.Path() / "outside.bin"; }
    const Bytes& Original() const { return original_; }

    std::vector<std::string> Run(bool replace, FixStatus* status = nullptr) {
        RecordingHost host;
        host.answer = {{kResolutionQqvga, 15}};
        RepairEngine fixer;
        fixer.SetHost(&host);
        fixer.RunFixJob(FixRequest{Recording().string(), name_,
                                   replace ? OutputMode::ReplaceOriginal : OutputMode::NewFile});
        if (status != nullptr)
            *status = fixer.LastOutcome().status;
        std::vector<std::string> texts;
        for (const auto& message : host.messages)
            texts.push_back(message.text);
        return texts;
    }

    // Nothing beside the recordings folder was created or changed.
    ::testing::AssertionResult OutsideUntouched() const {
        if (parent_.Names() != std::vector<std::string>{"outside.bin", "recordings"})
            return ::testing::AssertionFailure() << "the parent folder changed";
        if (ReadBytes(Outside()) != Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'})
            return ::testing::AssertionFailure() << "a file outside the folder was written";
        return ::testing::AssertionSuccess();
    }

private:
    ScratchDir parent_;
    std::string name_;
    Bytes original_;
};

struct Trap {
    const char* name;
    const char* target; // the output name the trap stands under
    enum Kind { LinkOutside, LinkToRecording, Folder, ReadOnly } kind;
};

class OutputNameTrap : public ::testing::TestWithParam<std::tuple<Trap, recgen::HeaderLayout, bool>> {};

TEST_P(OutputNameTrap, IsReplacedOrRefusedButNeverWrittenThrough) {
    const auto& [trap, layout, replace] = GetParam();
    AttackedFolder folder(layout);
    WriteBytes(folder.Folder() / "clip.sub", Bytes{'s'});
    const fs::path trapPath = folder.Folder() / trap.target;
    switch (trap.kind) {
    case Trap::LinkOutside:
        fs::create_symlink(folder.Outside(), trapPath);
        break;
    case Trap::LinkToRecording:
        fs::create_symlink(folder.Recording(), trapPath);
        break;
    case Trap::Folder:
        fs::create_directory(trapPath);
        WriteBytes(trapPath / "inside", Bytes{1});
        break;
    case Trap::ReadOnly:
        WriteBytes(trapPath, Bytes{'o', 'l', 'd'});
        fs::permissions(trapPath, fs::perms::owner_read);
        break;
    }

    FixStatus status = FixStatus::NotRun;
    std::vector<std::string> messages = folder.Run(replace, &status);

    EXPECT_TRUE(folder.OutsideUntouched());
    const bool recordingReplaced = replace && status == FixStatus::Repaired;
    if (!recordingReplaced) {
        ASSERT_TRUE(fs::exists(folder.Recording()));
        EXPECT_EQ(ReadBytes(folder.Recording()), folder.Original()) << "the recording is never touched";
    }
    if (status != FixStatus::Repaired) {
        EXPECT_FALSE(messages.empty()) << "a job that did not repair says why";
    }
    if (trap.kind == Trap::Folder) {
        EXPECT_EQ(ReadBytes(trapPath / "inside"), Bytes{1});
    }
}

const Trap kTraps[] = {
    {"FixLinkOutside", "fix_clip.avi", Trap::LinkOutside},
    {"FixLinkToRecording", "fix_clip.avi", Trap::LinkToRecording},
    {"FixFolder", "fix_clip.avi", Trap::Folder},
    {"FixReadOnly", "fix_clip.avi", Trap::ReadOnly},
    {"SubLinkOutside", "fix_clip.sub", Trap::LinkOutside},
    {"SubFolder", "fix_clip.sub", Trap::Folder},
    {"TmpLinkOutside", "tmp_clip.avi", Trap::LinkOutside},
    {"TmpLinkToRecording", "tmp_clip.avi", Trap::LinkToRecording},
    {"TmpFolder", "tmp_clip.avi", Trap::Folder},
    {"TmpReadOnly", "tmp_clip.avi", Trap::ReadOnly},
    {"PartialLinkOutside", ".fix_clip.avi.partial", Trap::LinkOutside},
    {"PartialLinkOutsideForRebuild", ".clip.avi.partial", Trap::LinkOutside},
};

INSTANTIATE_TEST_SUITE_P(
    Traps, OutputNameTrap,
    ::testing::Combine(::testing::ValuesIn(kTraps),
                       ::testing::Values(recgen::HeaderLayout::Standard, recgen::HeaderLayout::Shifted),
                       ::testing::Bool()),
    [](const auto& param) {
        return std::string(std::get<0>(param.param).name) +
               (std::get<1>(param.param) == recgen::HeaderLayout::Standard ? "_InPlace" : "_Rebuild") +
               (std::get<2>(param.param) ? "_Replace" : "_NewFile");
    });

TEST(RecordingThatIsALink, IsRepairedAsANewFileButNeverReplaced) {
    for (auto layout : {recgen::HeaderLayout::Standard, recgen::HeaderLayout::Shifted}) {
        AttackedFolder folder(layout, "real.avi");
        const fs::path link = folder.Folder() / "clip.avi";
        fs::create_symlink(folder.Recording(), link);
        auto run = [&](bool replace) {
            RecordingHost host;
            RepairEngine fixer;
            fixer.SetHost(&host);
            fixer.RunFixJob(FixRequest{link.string(), "clip.avi",
                                       replace ? OutputMode::ReplaceOriginal : OutputMode::NewFile});
            return std::make_pair(fixer.LastOutcome().status, host.messages);
        };

        auto [replaceStatus, replaceMessages] = run(true);
        EXPECT_EQ(replaceStatus, FixStatus::Failed);
        ASSERT_EQ(replaceMessages.size(), 1u);
        EXPECT_NE(replaceMessages[0].text.find("symbolic link"), std::string::npos);
        EXPECT_TRUE(fs::is_symlink(link)) << "the link is never swapped for a plain file";
        EXPECT_EQ(ReadBytes(folder.Recording()), folder.Original());

        auto [newStatus, newMessages] = run(false);
        EXPECT_EQ(newStatus, FixStatus::Repaired);
        EXPECT_TRUE(newMessages.empty());
        EXPECT_TRUE(fs::is_regular_file(folder.Folder() / "fix_clip.avi"));
        EXPECT_EQ(ReadBytes(folder.Recording()), folder.Original());
        EXPECT_TRUE(folder.OutsideUntouched());
    }
}

TEST(UnusualNames, WithSpacesQuotesNewlinesAndNonAsciiCharactersWork) {
    const std::string name = "cam 01 'yard' \"gate\"\nnight \xC3\xA9t\xC3\xA9.avi";
    for (auto layout : {recgen::HeaderLayout::Standard, recgen::HeaderLayout::Shifted}) {
        for (bool replace : {false, true}) {
            AttackedFolder folder(layout, name);
            const std::string companion = name.substr(0, name.size() - 4) + ".sub";
            WriteBytes(folder.Folder() / companion, Bytes{'s'});
            FixStatus status = FixStatus::NotRun;
            EXPECT_TRUE(folder.Run(replace, &status).empty());
            EXPECT_EQ(status, FixStatus::Repaired);
            const fs::path output = replace ? folder.Recording() : folder.Folder() / ("fix_" + name);
            EXPECT_EQ(DecodeErrors(output), "");
            EXPECT_EQ(fs::exists(folder.Folder() / ("fix_" + companion)), !replace);
            EXPECT_TRUE(folder.OutsideUntouched());
        }
    }
}

} // namespace
} // namespace clipwright::test
