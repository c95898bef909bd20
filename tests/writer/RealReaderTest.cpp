// Files written by the muxer with the stored MPEG-4 frames and MS-ADPCM blocks, read back by
// ffprobe and ffmpeg and, sample by sample, by our own reader; OpenDML files by GStreamer and
// MPlayer too.
#include <gtest/gtest.h>

#include "AviReader.h"
#include "MediaPayloads.h"
#include "ReaderOracles.h"
#include "TruthWalk.h"
#include "WriterTestSupport.h"
#include "avi/AviMuxer.h"

namespace clipwright {
namespace {

using avitest::AviReader;
using namespace test;

struct Recording {
    std::string path;
    std::vector<std::vector<uint8_t>> videoPayloads; // as the file must hold them, empties included
    std::vector<std::vector<uint8_t>> audioPayloads;
    uint64_t videoPackets = 0; // samples with data
    uint64_t videoBytes = 0;
    std::vector<bool> videoKeys; // of the samples with data
};

enum class Content { VideoAndAudio, AudioFirst, VideoOnly, AudioOnly };

constexpr size_t kFramesWritten = 12;
// The stored frames are encoded at 15 fps, and readers take the rate from the frames' own headers.
constexpr uint32_t kPayloadRate = 15;

// Video at the given size, the stored frames over again when more are asked for; every 4th frame
// repeats as an empty sample; an audio block after every other frame.
Recording WriteRecording(const std::string& path, ResolutionCode code, uint32_t width, uint32_t height,
                         Content content, size_t frameCount = kFramesWritten) {
    const recgen::MediaPayloads payloads = recgen::LoadPayloads(width, height);
    const auto& frames = payloads.videoFrames;
    const auto& blocks = payloads.audioBlocks;
    const bool withVideo = content != Content::AudioOnly;
    const bool withAudio = content != Content::VideoOnly;

    Recording recording{path, {}, {}, 0, 0, {}};
    AviMuxer muxer;
    muxer.SetImageFormat(code, kPayloadRate);
    EXPECT_TRUE(muxer.Open(recording.path));
    auto writeAudio = [&](size_t i) {
        const auto& block = blocks[i % blocks.size()];
        EXPECT_TRUE(muxer.WriteAudioBlock(block.data(), 256));
        recording.audioPayloads.push_back(block);
    };
    if (content == Content::AudioFirst)
        writeAudio(0);
    if (withVideo)
        recording.videoPayloads.emplace_back(); // the empty frame before the first one
    for (size_t i = 0; i < frameCount; ++i) {
        if (withVideo) {
            const recgen::VideoFrame& stored = frames[i % frames.size()];
            const auto& frame = stored.bytes;
            const FrameKind kind = stored.isKey ? FrameKind::Key : FrameKind::Delta;
            EXPECT_TRUE(muxer.WriteVideoFrame(frame.data(), static_cast<uint32_t>(frame.size()), kind));
            recording.videoPayloads.push_back(EvenBuffer(frame));
            ++recording.videoPackets;
            recording.videoBytes += recording.videoPayloads.back().size();
            recording.videoKeys.push_back(stored.isKey);
            if (i % 4 == 3) {
                EXPECT_TRUE(muxer.WriteRepeatFrame(kind));
                recording.videoPayloads.emplace_back();
            }
        }
        if (withAudio && i % 2 == 1)
            writeAudio(i);
    }
    EXPECT_TRUE(muxer.Finish());
    return recording;
}

void ExpectSameSamples(const AviReader& avi, int streamNumber,
                       const std::vector<std::vector<uint8_t>>& expected) {
    const auto chunks = avi.StreamChunks(streamNumber);
    ASSERT_EQ(chunks.size(), expected.size()) << "stream " << streamNumber;
    for (size_t i = 0; i < chunks.size(); ++i)
        EXPECT_EQ(avi.ReadPayload(chunks[i]), expected[i]) << "stream " << streamNumber << " sample " << i;
}

void ExpectVideoStream(const ProbedStream& stream, uint32_t width, uint32_t height, uint64_t packets) {
    EXPECT_EQ(stream.codecType, "video");
    EXPECT_EQ(stream.codecTag, "DX50");
    EXPECT_EQ(stream.width, width);
    EXPECT_EQ(stream.height, height);
    EXPECT_EQ(stream.frameRate, std::to_string(kPayloadRate) + "/1");
    EXPECT_EQ(stream.packets, packets);
}

void ExpectAudioStream(const ProbedStream& stream, uint64_t packets) {
    EXPECT_EQ(stream.codecType, "audio");
    EXPECT_EQ(stream.sampleRate, 8000u);
    EXPECT_EQ(stream.channels, 1u);
    EXPECT_EQ(stream.packets, packets);
}

TEST(RealReaderTest, InterleavedRecordingsPlayAtTheirSizeAndRate) {
    ScratchDir dir;
    struct Case {
        ResolutionCode code;
        uint32_t width, height;
    };
    for (const Case& c : {Case{kResolutionQqvga, 160, 112}, Case{kResolutionQvga, 320, 240},
                          Case{kResolutionVga, 640, 480}}) {
        SCOPED_TRACE(c.width);
        const Recording recording = WriteRecording(dir / ("real-" + std::to_string(c.width) + ".avi"), c.code,
                                                   c.width, c.height, Content::VideoAndAudio);
        const AviReader avi(recording.path);
        ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
        EXPECT_EQ(avi.Streams()[0].header.rate, kPayloadRate * 1000);
        EXPECT_EQ(avi.Streams()[0].header.scale, 1000u);
        ExpectSameSamples(avi, 0, recording.videoPayloads);
        ExpectSameSamples(avi, 1, recording.audioPayloads);

        const auto streams = ProbeStreams(recording.path);
        ASSERT_EQ(streams.size(), 2u);
        ExpectVideoStream(streams[0], c.width, c.height, recording.videoPackets);
        ExpectAudioStream(streams[1], recording.audioPayloads.size());
        EXPECT_EQ(DecodeErrors(recording.path), "");
    }
}

TEST(RealReaderTest, AudioFirstAndSingleStreamRecordingsPlay) {
    ScratchDir dir;
    const Recording audioFirst =
        WriteRecording(dir / "real-audio-first.avi", kResolutionQqvga, 160, 112, Content::AudioFirst);
    const AviReader avi(audioFirst.path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    ExpectSameSamples(avi, 0, audioFirst.audioPayloads);
    ExpectSameSamples(avi, 1, audioFirst.videoPayloads);
    auto streams = ProbeStreams(audioFirst.path);
    ASSERT_EQ(streams.size(), 2u);
    ExpectAudioStream(streams[0], audioFirst.audioPayloads.size());
    ExpectVideoStream(streams[1], 160, 112, audioFirst.videoPackets);
    EXPECT_EQ(DecodeErrors(audioFirst.path), "");

    const Recording videoOnly =
        WriteRecording(dir / "real-video-only.avi", kResolutionQvga, 320, 240, Content::VideoOnly);
    streams = ProbeStreams(videoOnly.path);
    ASSERT_EQ(streams.size(), 1u);
    ExpectVideoStream(streams[0], 320, 240, videoOnly.videoPackets);
    EXPECT_EQ(DecodeErrors(videoOnly.path), "");

    const Recording audioOnly =
        WriteRecording(dir / "real-audio-only.avi", kResolutionQvga, 320, 240, Content::AudioOnly);
    streams = ProbeStreams(audioOnly.path);
    ASSERT_EQ(streams.size(), 1u);
    ExpectAudioStream(streams[0], audioOnly.audioPayloads.size());
    EXPECT_EQ(DecodeErrors(audioOnly.path), "");
}

TEST(RealReaderTest, OpenDmlRecordingsAreReadInFullByEveryReader) {
    ScratchDir dir;
    AviMuxer::SetPartSizeForTests(64 * 1024);
    const Recording recording =
        WriteRecording(dir / "real-opendml.avi", kResolutionVga, 640, 480, Content::VideoAndAudio, 150);
    const Recording again =
        WriteRecording(dir / "real-opendml-again.avi", kResolutionVga, 640, 480, Content::VideoAndAudio, 150);
    AviMuxer::SetPartSizeForTests(0);
    EXPECT_GE(TruthWalk(recording.path).parts, 3u);
    EXPECT_TRUE(ReadBytes(recording.path) == ReadBytes(again.path)) << "the same writes, the same bytes";
    const double seconds = static_cast<double>(recording.videoPayloads.size()) / kPayloadRate;

    const std::map<int, StreamPackets> packets = ProbePackets(recording.path);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets.at(0).count, recording.videoPackets);
    EXPECT_EQ(packets.at(0).bytes, recording.videoBytes);
    EXPECT_EQ(packets.at(0).keys, recording.videoKeys);
    EXPECT_EQ(packets.at(1).count, recording.audioPayloads.size());
    EXPECT_EQ(packets.at(1).bytes, 256 * recording.audioPayloads.size());
    EXPECT_EQ(DecodeErrors(recording.path), "");

    const std::optional<double> gstreamer = GStreamerSeconds(recording.path);
    ASSERT_TRUE(gstreamer.has_value()) << "GStreamer reports no duration";
    EXPECT_NEAR(*gstreamer, seconds, 1.0);
    EXPECT_EQ(GStreamerWarnings(recording.path), std::vector<std::string>{});
    const std::optional<double> mplayer = MPlayerSeconds(recording.path);
    ASSERT_TRUE(mplayer.has_value()) << "MPlayer reports no length";
    EXPECT_NEAR(*mplayer, seconds, 1.0);
}

} // namespace
} // namespace clipwright
