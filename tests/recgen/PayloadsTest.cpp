#include "MediaPayloads.h"
#include "RecgenTestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

using namespace clipwright::recgen;
using namespace clipwright::test;

namespace {

struct CameraResolution {
    uint32_t width;
    uint32_t height;
};

void PrintTo(const CameraResolution& resolution, std::ostream* out) {
    *out << resolution.width << "x" << resolution.height;
}

bool HasStartCode(const std::vector<uint8_t>& bytes, uint8_t code) {
    for (size_t at = 0; at + 4 <= bytes.size(); ++at) {
        if (bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1 && bytes[at + 3] == code)
            return true;
    }
    return false;
}

class StoredPayloads : public testing::TestWithParam<CameraResolution> {};

TEST_P(StoredPayloads, FramesAreCameraShapedAndLoseNoByte) {
    const auto [width, height] = GetParam();
    const MediaPayloads payloads = LoadPayloads(width, height);
    ASSERT_EQ(payloads.videoFrames.size(), 40u);

    std::vector<uint8_t> joined;
    for (size_t i = 0; i < payloads.videoFrames.size(); ++i) {
        const VideoFrame& frame = payloads.videoFrames[i];
        ASSERT_GE(frame.bytes.size(), 4u);
        // A key frame every 10 frames, beginning at the video object start code and carrying the VOL
        // so that decoding can begin there; every other frame begins at its VOP start code.
        EXPECT_EQ(frame.isKey, i % 10 == 0) << "frame " << i;
        const std::vector<uint8_t> keyStart{0x00, 0x00, 0x01, 0x00};
        const std::vector<uint8_t> vopStart{0x00, 0x00, 0x01, 0xB6};
        EXPECT_EQ(std::vector<uint8_t>(frame.bytes.begin(), frame.bytes.begin() + 4),
                  frame.isKey ? keyStart : vopStart);
        EXPECT_EQ(HasStartCode(frame.bytes, 0x20), frame.isKey) << "frame " << i;
        EXPECT_FALSE(HasStartCode(frame.bytes, 0xB0) || HasStartCode(frame.bytes, 0xB5)) << "frame " << i;
        joined.insert(joined.end(), frame.bytes.begin(), frame.bytes.end());
    }
    const std::string name = "video-" + std::to_string(width) + "x" + std::to_string(height) + ".m4v";
    EXPECT_EQ(joined, ReadBytes(std::filesystem::path(RECGEN_PAYLOAD_DIR) / name));

    std::vector<uint8_t> audio;
    for (const std::vector<uint8_t>& block : payloads.audioBlocks) {
        ASSERT_EQ(block.size(), 256u);
        audio.insert(audio.end(), block.begin(), block.end());
    }
    EXPECT_EQ(audio, ReadBytes(std::filesystem::path(RECGEN_PAYLOAD_DIR) / "audio-8k-mono.adpcm"));
    EXPECT_GE(payloads.audioBlocks.size(), 32u);
}

INSTANTIATE_TEST_SUITE_P(CameraResolutions, StoredPayloads,
                         testing::Values(CameraResolution{640, 480}, CameraResolution{320, 240},
                                         CameraResolution{160, 112}),
                         [](const testing::TestParamInfo<CameraResolution>& param) {
                             return std::to_string(param.param.width) + "x" +
                                    std::to_string(param.param.height);
                         });

TEST(SplitVideoFrames, CutsAfterEachVopAndFlagsOnlyVideoObjectStarts) {
    const std::vector<uint8_t> stream{0, 0, 1,    0x00, 0,    0, 1, 0x20, 9,    9,    0,
                                      0, 1, 0xB6, 0x10, 0x11,                               // key frame
                                      0, 0, 1,    0xB6, 0x50, 0, 0, 1,    0xB6, 0x51, 0x52, // two P
                                      0, 0, 1,    0xB0, 3,    0, 0, 1,    0xB6, 0x12};      // B0-led
    const std::vector<VideoFrame> frames = SplitVideoFrames(stream);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].bytes.size(), 16u);
    EXPECT_TRUE(frames[0].isKey);
    EXPECT_EQ(frames[1].bytes, (std::vector<uint8_t>{0, 0, 1, 0xB6, 0x50}));
    EXPECT_EQ(frames[2].bytes, (std::vector<uint8_t>{0, 0, 1, 0xB6, 0x51, 0x52}));
    EXPECT_FALSE(frames[1].isKey || frames[2].isKey);
    EXPECT_FALSE(frames[3].isKey) << "a frame led by a sequence header is not camera-shaped";
}

TEST(LoadPayloads, RefusesMissingOrMisshapenFiles) {
    ScratchDir dir;
    const std::filesystem::path& folder = dir.Path();
    EXPECT_THROW(LoadPayloads(640, 480, folder), std::runtime_error);

    // A stream led by a sequence header would give recordings whose first frame is no camera key frame.
    WriteBytes(folder / "video-160x112.m4v", {0, 0, 1, 0xB0, 1, 0, 0, 1, 0x00, 0, 0, 1, 0xB6, 7});
    WriteBytes(folder / "audio-8k-mono.adpcm", std::vector<uint8_t>(512, 1));
    EXPECT_THROW(LoadPayloads(160, 112, folder), std::runtime_error);

    WriteBytes(folder / "video-160x112.m4v", {0, 0, 1, 0x00, 0, 0, 1, 0xB6, 7});
    WriteBytes(folder / "audio-8k-mono.adpcm", std::vector<uint8_t>(300, 1));
    EXPECT_THROW(LoadPayloads(160, 112, folder), std::runtime_error);

    WriteBytes(folder / "audio-8k-mono.adpcm", std::vector<uint8_t>(512, 1));
    ::setenv("CLIPWRIGHT_PAYLOAD_DIR", folder.c_str(), 1);
    const MediaPayloads overridden = LoadPayloads(160, 112);
    ::unsetenv("CLIPWRIGHT_PAYLOAD_DIR");
    EXPECT_EQ(overridden.videoFrames.size(), 1u);
    EXPECT_EQ(overridden.audioBlocks.size(), 2u);
}

} // namespace
