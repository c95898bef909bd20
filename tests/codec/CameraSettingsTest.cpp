// Frame size and rate read back from generated camera recordings whose header is lost or false:
// the expected values are the plan's, never the detector's.
#include "Recordings.h"
#include "TestFiles.h"
#include "codec/CameraSettingsDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace clipwright::test {
namespace {

using Source = DetectedSettings::RateSource;

// tools/make-payloads.sh encodes the stored frames at 15 frames per second, so their VOP times
// say 15 whatever rate a recording plays them at.
constexpr uint32_t kPayloadVopRate = 15;

enum class VideoBytes {
    Camera,
    EmptyEveryThird, // the camera's other way of repeating a picture
    Noise,           // no start code anywhere
};

struct DetectionCase {
    uint32_t width, height, rate; // of the payloads, and frames per second of the sound's clock
    bool audio = true;
    uint64_t repeatEvery = 0;
    VideoBytes video = VideoBytes::Camera;
    recgen::HeaderLayout layout = recgen::HeaderLayout::HeaderLost;
    uint64_t cutBytes = 0;
    uint64_t seconds = 12;
    std::optional<uint32_t> expectedRate;
    Source expectedSource = Source::None;
    std::string name;
};

void PrintTo(const DetectionCase& c, std::ostream* out) {
    *out << c.name;
}

recgen::RecordingSummary WriteRecording(const std::filesystem::path& path, const DetectionCase& c) {
    recgen::HeaderOptions header;
    header.layout = c.layout;
    // A header that survived holds false values: a height of 0 and another rate.
    header.width = 640;
    header.height = 0;
    header.videoScale = 1000;
    header.videoRate = 30000;
    recgen::RecordingWriter writer(path, header);
    recgen::CameraSequenceOptions options;
    options.videoFrameCount = c.rate * c.seconds;
    options.frameScale = 1;
    options.frameRate = c.rate;
    options.repeatEvery = c.repeatEvery;
    options.audioBlocksPerSecond = c.audio ? 16 : 0;
    recgen::CameraSequence sequence(PayloadsFor(c.width, c.height), options);
    const Bytes noise(1500, 0x5A);
    while (std::optional<recgen::CameraChunk> chunk = sequence.Next()) {
        std::span<const uint8_t> payload = chunk->payload;
        if (chunk->kind == recgen::ChunkKind::Video && c.video == VideoBytes::Noise)
            payload = noise;
        if (chunk->kind == recgen::ChunkKind::Video && c.video == VideoBytes::EmptyEveryThird &&
            chunk->videoNumber % 3 == 2)
            payload = {};
        writer.AppendChunk(chunk->id, payload);
    }
    recgen::FinishOptions finish;
    finish.cutBytes = c.cutBytes;
    return writer.Finish(finish);
}

class GeneratedRecording : public testing::TestWithParam<DetectionCase> {};

TEST_P(GeneratedRecording, GivesThePlansSizeAndRate) {
    const DetectionCase& c = GetParam();
    ScratchDir dir;
    const recgen::RecordingSummary summary = WriteRecording(dir / "clip.avi", c);
    SourceFile file;
    FileError error;
    ASSERT_TRUE(file.Open((dir / "clip.avi").string(), ShareMode::DenyNone, error));
    const DetectedSettings detected = DetectCameraSettings(file, summary.geometry.firstChunk, file.Length());

    const bool sized = c.video != VideoBytes::Noise;
    const ResolutionCode code = c.width == 640   ? kResolutionVga
                                : c.width == 320 ? kResolutionQvga
                                                 : kResolutionQqvga;
    EXPECT_EQ(detected.width, sized ? std::optional(c.width) : std::nullopt);
    EXPECT_EQ(detected.height, sized ? std::optional(c.height) : std::nullopt);
    EXPECT_EQ(detected.resolution, sized ? std::optional(code) : std::nullopt);
    EXPECT_EQ(detected.framesPerSecond, c.expectedRate);
    EXPECT_EQ(detected.rateSource, c.expectedSource);
    const std::optional<ImageSettings> suggested = SuggestedImageSettings(detected);
    EXPECT_EQ(suggested.has_value(), sized && c.expectedRate);
    if (suggested) {
        EXPECT_EQ(suggested->resolution, code);
        EXPECT_EQ(suggested->framesPerSecond, c.expectedRate);
    }
    // Every chunk whose header the file still holds counts, empty ones and the one a cut ends in too.
    uint64_t videoChunks = 0, audioBlocks = 0;
    for (const recgen::ChunkRecord& chunk : summary.chunks) {
        if (chunk.position + 8 <= summary.fileSize)
            ++(chunk.kind == recgen::ChunkKind::Video ? videoChunks : audioBlocks);
    }
    EXPECT_EQ(detected.videoChunks, videoChunks);
    EXPECT_EQ(detected.audioBlocks, audioBlocks);
}

std::vector<DetectionCase> DetectionCases() {
    std::vector<DetectionCase> cases;
    // With sound, its clock decides where it and the video's times differ; silent, only the
    // video's times are left.
    auto add = [&](uint32_t width, uint32_t height, uint32_t rate, const std::string& name,
                   const std::function<void(DetectionCase&)>& change) {
        DetectionCase c;
        c.width = width;
        c.height = height;
        c.rate = rate;
        change(c);
        c.expectedRate = c.audio ? c.rate : kPayloadVopRate;
        c.expectedSource = c.expectedRate == kPayloadVopRate ? Source::VopTimeIncrements : Source::AudioClock;
        if (c.seconds < 2) { // the sound cannot tell 4 from 6, but rules out the 15 the video claims
            c.expectedRate = std::nullopt;
            c.expectedSource = Source::None;
        }
        c.name = std::to_string(width) + "x" + std::to_string(height) + "At" + std::to_string(rate) + name;
        cases.push_back(c);
    };
    auto as = [](auto member, auto value) { return [=](DetectionCase& c) { c.*member = value; }; };
    for (auto [width, height] : {std::pair{640u, 480u}, std::pair{320u, 240u}, std::pair{160u, 112u}}) {
        for (uint32_t rate : {5u, 7u, 10u, 15u, 30u})
            add(width, height, rate, "", [](DetectionCase&) {});
        add(width, height, 15, "Silent", as(&DetectionCase::audio, false));
    }
    add(320, 240, 10, "Repeats", as(&DetectionCase::repeatEvery, uint64_t{3}));
    add(160, 112, 30, "Repeats", as(&DetectionCase::repeatEvery, uint64_t{4}));
    add(160, 112, 15, "SilentRepeats", [](DetectionCase& c) { c.audio = false, c.repeatEvery = 2; });
    add(320, 240, 30, "EmptyChunks", as(&DetectionCase::video, VideoBytes::EmptyEveryThird));
    add(320, 240, 10, "NoVideoHeaders", as(&DetectionCase::video, VideoBytes::Noise));
    add(640, 480, 7, "Shifted", as(&DetectionCase::layout, recgen::HeaderLayout::Shifted));
    add(640, 480, 10, "FalseHeader", as(&DetectionCase::layout, recgen::HeaderLayout::Standard));
    add(320, 240, 30, "Cut", [](DetectionCase& c) { c.cutBytes = 1000, c.repeatEvery = 5; });
    add(320, 240, 5, "ClocksDisagree", as(&DetectionCase::seconds, uint64_t{1}));
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Plans, GeneratedRecording, testing::ValuesIn(DetectionCases()),
                         [](const testing::TestParamInfo<DetectionCase>& param) { return param.param.name; });

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
