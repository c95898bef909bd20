// Which repair a recording gets, decided by the words at 2036, 2048 and 2056.
#include "Recordings.h"
#include "TestFiles.h"
#include "repair/RepairEngine.h"

#include <gtest/gtest.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

// The probe's answer is what the job dispatched on; the image settings prompt is cancelled so
// that nothing but the probe's reading matters.
LayoutCode LayoutOfJob(const fs::path& path, RecordingHost& host) {
    RepairEngine fixer;
    fixer.SetHost(&host);
    fixer.RunFixJob(FixRequest{path.string(), path.filename().string(), OutputMode::NewFile});
    return fixer.LastOutcome().layout;
}

struct GeneratedLayoutCase {
    recgen::HeaderLayout header;
    LayoutCode expected;
};

class ProbeOfGeneratedRecording : public ::testing::TestWithParam<GeneratedLayoutCase> {};

TEST_P(ProbeOfGeneratedRecording, FindsTheLayoutTheCameraLeft) {
    ScratchDir dir;
    CameraRecordingPlan plan;
    plan.header.layout = GetParam().header;
    plan.sequence.videoFrameCount = 12;
    WriteCameraRecording(dir / "clip.avi", plan);
    RecordingHost host;
    EXPECT_EQ(LayoutOfJob(dir / "clip.avi", host), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ProbeOfGeneratedRecording,
    ::testing::Values(GeneratedLayoutCase{recgen::HeaderLayout::Standard, LayoutStandard},
                      GeneratedLayoutCase{recgen::HeaderLayout::Shifted, LayoutShifted},
                      GeneratedLayoutCase{recgen::HeaderLayout::HeaderLost, LayoutHeaderLost},
                      GeneratedLayoutCase{recgen::HeaderLayout::OtherList, LayoutOther}));

struct HandmadeCase {
    const char* name;
    size_t fileSize;
    const char* at2036; // nullptr: zero bytes there
    const char* at2048;
    const char* at2056;
    LayoutCode expected;
};

class ProbeOfHandmadeFile : public ::testing::TestWithParam<HandmadeCase> {};

TEST_P(ProbeOfHandmadeFile, ReadsOnlyTheFixedWords) {
    const HandmadeCase& c = GetParam();
    ScratchDir dir;
    Bytes bytes(c.fileSize, 0);
    auto put = [&](size_t position, const char* word) {
        for (size_t i = 0; word != nullptr && i < 4 && position + i < bytes.size(); ++i)
            bytes[position + i] = static_cast<uint8_t>(word[i]);
    };
    put(2036, c.at2036);
    put(2048, c.at2048);
    put(2056, c.at2056);
    WriteBytes(dir / "clip.avi", bytes);
    RecordingHost host;
    EXPECT_EQ(LayoutOfJob(dir / "clip.avi", host), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, ProbeOfHandmadeFile,
    ::testing::Values(HandmadeCase{"ListAndMovi", 4096, nullptr, "LIST", "movi", LayoutStandard},
                      HandmadeCase{"ListOfOtherType", 4096, nullptr, "LIST", "rec ", LayoutOther},
                      HandmadeCase{"BothListsWithMovi", 4096, "LIST", "LIST", "movi", LayoutStandard},
                      HandmadeCase{"BothListsOtherType", 4096, "LIST", "LIST", "xxxx", LayoutOther},
                      HandmadeCase{"ShiftedOnly", 4096, "LIST", "00dc", nullptr, LayoutShifted},
                      HandmadeCase{"ShortFileWithShiftedList", 2040, "LIST", nullptr, nullptr, LayoutShifted},
                      HandmadeCase{"ShortFileWithoutList", 2051, nullptr, "LIS", nullptr, LayoutHeaderLost},
                      HandmadeCase{"MoviWordCutOff", 2058, nullptr, "LIST", "mo", LayoutOther},
                      // Refused as empty before any word is read.
                      HandmadeCase{"EmptyFile", 0, nullptr, nullptr, nullptr, LayoutOther}),
    [](const ::testing::TestParamInfo<HandmadeCase>& param) { return std::string(param.param.name); });

// The probe's failure ends the job: the user is told once, and no repair runs on a guessed layout.
TEST(ProbeLayout, FileThatCannotBeOpenedIsReportedOnceAndEndsTheJob) {
    ScratchDir dir;
    RecordingHost host;
    EXPECT_EQ(LayoutOfJob(dir / "missing.avi", host), LayoutOther);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "ERROR: The file could not be located.");
    EXPECT_EQ(host.messages[0].filePath, (dir / "missing.avi").string());
    EXPECT_TRUE(dir.Names().empty());
}

} // namespace
} // namespace clipwright::test
