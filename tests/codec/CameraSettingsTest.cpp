// Frame size and rate read back from generated camera recordings whose header is lost: the
// expected values are the plan's, never the detector's.
#include "Recordings.h"
#include "TestFiles.h"
#include "codec/CameraSettingsDetector.h"

#include <gtest/gtest.h>

#include <cmath>

namespace clipwright::test {
namespace {

using Source = DetectedSettings::RateSource;

// tools/make-payloads.sh encodes the stored frames at 15 frames per second, so their VOP times
// say 15 whatever rate a recording plays them at.
constexpr uint32_t kPayloadVopRate = 15;
constexpr uint64_t kSeconds = 12;

DetectedSettings Detect(const std::filesystem::path& path, uint64_t start) {
    SourceFile file;
    FileError error;
    EXPECT_TRUE(file.Open(path.string(), ShareMode::DenyNone, error));
    return DetectCameraSettings(file, start, file.Length());
}

ResolutionCode CodeOf(uint32_t width) {
    return width == 640 ? kResolutionVga : width == 320 ? kResolutionQvga : kResolutionQqvga;
}

struct DetectionCase {
    uint32_t width, height, rate;
    bool audio = true;
    uint64_t repeatEvery = 0;
    recgen::HeaderLayout layout = recgen::HeaderLayout::HeaderLost;
    uint64_t cutBytes = 0;
};

std::string NameOf(const DetectionCase& c) {
    std::string name =
        std::to_string(c.width) + "x" + std::to_string(c.height) + "At" + std::to_string(c.rate);
    name += c.audio ? "" : "Silent";
    name += c.repeatEvery ? "Repeats" : "";
    name += c.layout == recgen::HeaderLayout::Shifted ? "Shifted" : "";
    name += c.cutBytes ? "Cut" : "";
    return name;
}
void PrintTo(const DetectionCase& c, std::ostream* out) {
    *out << NameOf(c);
}

class GeneratedRecording : public testing::TestWithParam<DetectionCase> {};

TEST_P(GeneratedRecording, GivesThePlansSizeAndRate) {
    const DetectionCase& c = GetParam();
    ScratchDir dir;
    CameraRecordingPlan plan;
    plan.header.layout = c.layout;
    plan.header.width = c.width;
    plan.header.height = c.height;
    plan.header.videoScale = 1;
    plan.header.videoRate = c.rate;
    plan.sequence.videoFrameCount = c.rate * kSeconds;
    plan.sequence.repeatEvery = c.repeatEvery;
    plan.sequence.audioBlocksPerSecond = c.audio ? 16 : 0;
    plan.finish.cutBytes = c.cutBytes;
    const recgen::RecordingSummary summary = WriteCameraRecording(dir / "clip.avi", plan);

    const DetectedSettings detected = Detect(dir / "clip.avi", summary.geometry.firstChunk);
    EXPECT_EQ(detected.width, c.width);
    EXPECT_EQ(detected.height, c.height);
    EXPECT_EQ(detected.resolution, CodeOf(c.width));
    // Every chunk whose header the file still holds counts, the one the cut ends in too.
    uint64_t videoChunks = 0, audioBlocks = 0;
    for (const recgen::ChunkRecord& chunk : summary.chunks) {
        if (chunk.position + 8 <= summary.fileSize)
            (chunk.kind == recgen::ChunkKind::Video ? videoChunks : audioBlocks) += 1;
    }
    EXPECT_EQ(detected.videoChunks, videoChunks);
    EXPECT_EQ(detected.audioBlocks, audioBlocks);
    // Silent, only the video's own times are left; with sound, its clock decides where they differ.
    const uint32_t expectedRate = c.audio ? c.rate : kPayloadVopRate;
    EXPECT_EQ(detected.framesPerSecond, expectedRate);
    EXPECT_EQ(detected.rateSource,
              expectedRate == kPayloadVopRate ? Source::VopTimeIncrements : Source::AudioClock);
    const std::optional<CameraImageSettings> suggested = SuggestedImageSettings(detected);
    ASSERT_TRUE(suggested);
    EXPECT_EQ(suggested->resolution, CodeOf(c.width));
    EXPECT_EQ(suggested->framesPerSecond, expectedRate);
}

std::vector<DetectionCase> DetectionCases() {
    std::vector<DetectionCase> cases;
    for (auto [width, height] : {std::pair{640u, 480u}, std::pair{320u, 240u}, std::pair{160u, 112u}}) {
        for (uint32_t rate : {5u, 7u, 10u, 15u, 30u})
            cases.push_back({width, height, rate});
        cases.push_back({width, height, kPayloadVopRate, false});
    }
    cases.push_back({320, 240, 10, true, 3});
    cases.push_back({160, 112, 30, true, 4});
    cases.push_back({160, 112, 15, false, 2});
    cases.push_back({640, 480, 7, true, 0, recgen::HeaderLayout::Shifted});
    cases.push_back({320, 240, 30, true, 5, recgen::HeaderLayout::HeaderLost, 1000});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Plans, GeneratedRecording, testing::ValuesIn(DetectionCases()),
                         [](const testing::TestParamInfo<DetectionCase>& param) {
                             return NameOf(param.param);
                         });

// Writes a recording chunk by chunk at `rate` frames per second; `videoPayload` gives each video
// chunk's bytes from the camera's own, or other bytes.
template <typename VideoPayload>
recgen::RecordingSummary
WriteRecording(const std::filesystem::path& path, uint32_t rate, uint64_t frames, VideoPayload videoPayload,
               recgen::HeaderOptions header = {.layout = recgen::HeaderLayout::HeaderLost}) {
    const recgen::MediaPayloads& payloads = PayloadsFor(320, 240);
    recgen::RecordingWriter writer(path, header);
    recgen::CameraSequenceOptions options;
    options.videoFrameCount = frames;
    options.frameScale = 1;
    options.frameRate = rate;
    recgen::CameraSequence sequence(payloads, options);
    while (std::optional<recgen::CameraChunk> chunk = sequence.Next()) {
        if (chunk->kind == recgen::ChunkKind::Video)
            writer.AppendChunk(chunk->id, videoPayload(*chunk));
        else
            writer.AppendChunk(chunk->id, chunk->payload);
    }
    return writer.Finish();
}

TEST(CameraSettings, EmptyVideoChunksCountAsFrames) {
    // Every third frame an empty chunk: without it the sound's clock would give two thirds of 30.
    ScratchDir dir;
    const auto summary =
        WriteRecording(dir / "clip.avi", 30, 30 * kSeconds, [](const recgen::CameraChunk& chunk) {
            return chunk.videoNumber % 3 == 2 ? std::span<const uint8_t>() : chunk.payload;
        });
    const DetectedSettings detected = Detect(dir / "clip.avi", summary.geometry.firstChunk);
    EXPECT_EQ(detected.videoChunks, 30 * kSeconds);
    EXPECT_EQ(detected.framesPerSecond, 30u);
    EXPECT_EQ(detected.rateSource, Source::AudioClock);
}

TEST(CameraSettings, HeaderWithFalseValuesIsNotBelieved) {
    ScratchDir dir;
    recgen::HeaderOptions header;
    header.width = 640;
    header.height = 0;
    header.videoScale = 1000;
    header.videoRate = 30000;
    const auto summary = WriteRecording(
        dir / "clip.avi", 10, 10 * kSeconds, [](const recgen::CameraChunk& chunk) { return chunk.payload; },
        header);
    const DetectedSettings detected = Detect(dir / "clip.avi", summary.geometry.firstChunk);
    EXPECT_EQ(detected.width, 320u);
    EXPECT_EQ(detected.height, 240u);
    EXPECT_EQ(detected.framesPerSecond, 10u);
}

TEST(CameraSettings, VideoWithoutHeadersLeavesTheSizeUnknownAndTakesTheRateFromTheSound) {
    ScratchDir dir;
    const Bytes noise(1500, 0x5A); // no start code anywhere
    const auto summary = WriteRecording(dir / "clip.avi", 10, 10 * kSeconds,
                                        [&](const recgen::CameraChunk&) { return std::span(noise); });
    const DetectedSettings detected = Detect(dir / "clip.avi", summary.geometry.firstChunk);
    EXPECT_EQ(detected.width, std::nullopt);
    EXPECT_EQ(detected.resolution, std::nullopt);
    EXPECT_EQ(detected.framesPerSecond, 10u);
    EXPECT_EQ(detected.rateSource, Source::AudioClock);
    EXPECT_EQ(SuggestedImageSettings(detected), std::nullopt);
}

TEST(CameraSettings, ClocksThatDisagreeWithoutAClearAnswerGiveNoRate) {
    // A second and a half at 5 frames per second: the sound cannot tell 4 from 6, but it rules out
    // the 15 the video's times claim.
    ScratchDir dir;
    CameraRecordingPlan plan;
    plan.header.layout = recgen::HeaderLayout::HeaderLost;
    plan.header.width = 320;
    plan.header.height = 240;
    plan.header.videoScale = 1;
    plan.header.videoRate = 5;
    plan.sequence.videoFrameCount = 8;
    const auto summary = WriteCameraRecording(dir / "clip.avi", plan);
    const DetectedSettings detected = Detect(dir / "clip.avi", summary.geometry.firstChunk);
    EXPECT_EQ(detected.width, 320u);
    EXPECT_NEAR(detected.vopRate.value_or(0), kPayloadVopRate, 1e-9);
    EXPECT_EQ(detected.framesPerSecond, std::nullopt);
    EXPECT_EQ(detected.rateSource, Source::None);
}

TEST(CameraSettings, RatesSnapToTheCameraListWithinTwoPercentElseToWholeNumbers) {
    struct Case {
        double measured;
        std::optional<uint32_t> setting;
    };
    for (const Case& c :
         {Case{4.91, 5}, Case{5.11, 5}, Case{6.87, 7}, Case{7.2, 7}, Case{29.41, 30}, Case{29.39, 29},
          Case{30.59, 30}, Case{30.61, 31}, Case{12.4, 12}, Case{0.4, std::nullopt}, Case{0.6, 1},
          Case{120.4, 120}, Case{120.6, std::nullopt}, Case{NAN, std::nullopt}, Case{INFINITY, std::nullopt}})
        EXPECT_EQ(SnapFrameRate(c.measured), c.setting) << c.measured;
}

} // namespace
} // namespace clipwright::test
