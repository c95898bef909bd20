// Generated recordings checked by an independent reader: ffprobe and ffmpeg from Debian.
#include "CameraSequence.h"
#include "RecgenTestFiles.h"

#include <gtest/gtest.h>

using namespace clipwright;
using namespace clipwright::recgen;
using namespace clipwright::test;

namespace {

struct AcceptanceCase {
    std::string name;
    uint32_t width;
    uint32_t height;
    HeaderLayout layout;
    AudioHeaderPlace audioHeader;
    uint64_t frames;
    uint64_t repeatEvery;
};

void PrintTo(const AcceptanceCase& acceptanceCase, std::ostream* out) {
    *out << acceptanceCase.name;
}

class FinalisedRecording : public testing::TestWithParam<AcceptanceCase> {};

TEST_P(FinalisedRecording, IsReadWholeAndDecodesCleanly) {
    const AcceptanceCase& c = GetParam();
    const MediaPayloads payloads = LoadPayloads(c.width, c.height);
    HeaderOptions header;
    header.layout = c.layout;
    header.width = c.width;
    header.height = c.height;
    header.audioHeader = c.audioHeader;
    CameraSequenceOptions options;
    options.videoFrameCount = c.frames;
    options.repeatEvery = c.repeatEvery;
    CameraSequence sequence(payloads, options);

    ScratchDir dir;
    const std::filesystem::path path = dir / (c.name + ".avi");
    RecordingWriter writer(path, header);
    AppendCameraChunks(writer, sequence);
    const RecordingSummary summary = writer.Finish(FinishOptions::Finalised());
    ASSERT_EQ(summary.videoCount, c.frames);
    ASSERT_EQ(summary.audioCount, sequence.AudioBlocksAfter(c.frames));

    const std::vector<ProbedStream> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].codecType, "video");
    EXPECT_EQ(streams[0].codecTag, "DX50");
    EXPECT_EQ(streams[0].width, c.width);
    EXPECT_EQ(streams[0].height, c.height);
    EXPECT_EQ(streams[0].packets, c.frames);
    EXPECT_EQ(streams[1].codecType, "audio");
    EXPECT_EQ(streams[1].sampleRate, 8000u);
    EXPECT_EQ(streams[1].channels, 1u);
    EXPECT_EQ(streams[1].packets, summary.audioCount);
    EXPECT_EQ(DecodeErrors(path), "");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FinalisedRecording,
    testing::Values(
        AcceptanceCase{"Standard640", 640, 480, HeaderLayout::Standard, AudioHeaderPlace::At488, 40, 0},
        AcceptanceCase{"Standard320Cycled", 320, 240, HeaderLayout::Standard, AudioHeaderPlace::At488, 95, 0},
        AcceptanceCase{"Standard160Repeats", 160, 112, HeaderLayout::Standard, AudioHeaderPlace::At488, 70,
                       4},
        AcceptanceCase{"Shifted", 320, 240, HeaderLayout::Shifted, AudioHeaderPlace::At488, 40, 0},
        AcceptanceCase{"AudioShifted", 160, 112, HeaderLayout::Standard, AudioHeaderPlace::ShiftedBy8, 40,
                       5}),
    [](const testing::TestParamInfo<AcceptanceCase>& param) { return param.param.name; });

// Without idx1, with RIFF and movi sizes of 0, the reader has to walk the chunks one after another, odd-sized
// ones without a pad byte among them, as it does for a real cut-off recording.
TEST(CutOffRecording, ChunksAreFoundByWalkingTheMoviList) {
    const MediaPayloads payloads = LoadPayloads(320, 240);
    CameraSequence sequence(payloads, CameraSequenceOptions{});
    ScratchDir dir;
    const std::filesystem::path path = dir / "cutoff.avi";
    RecordingWriter writer(path, HeaderOptions{.width = 320, .height = 240});
    AppendCameraChunks(writer, sequence);
    const RecordingSummary summary = writer.Finish(FinishOptions::CutOff());
    ASSERT_GT(std::count_if(summary.chunks.begin(), summary.chunks.end(),
                            [](const ChunkRecord& record) { return record.payloadSize % 2 != 0; }),
              0);

    const std::vector<ProbedStream> streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].packets, summary.videoCount);
    EXPECT_EQ(streams[1].packets, summary.audioCount);
}

} // namespace
