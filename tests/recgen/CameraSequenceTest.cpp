#include "CameraSequence.h"
#include "RecgenTestFiles.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace clipwright;
using namespace clipwright::recgen;
using namespace clipwright::test;

namespace {

struct CollectedChunks {
    std::vector<CameraChunk> video;
    std::vector<uint64_t> audioAfterVideo; // audio blocks written by the time each video chunk starts
    uint64_t audio = 0;
};

CollectedChunks Collect(CameraSequence& sequence) {
    CollectedChunks collected;
    while (const std::optional<CameraChunk> chunk = sequence.Next()) {
        if (chunk->kind == ChunkKind::Video) {
            EXPECT_EQ(chunk->id, FourCC("00dc"));
            collected.audioAfterVideo.push_back(collected.audio);
            collected.video.push_back(*chunk);
        } else {
            EXPECT_EQ(chunk->id, FourCC("01wb"));
            EXPECT_EQ(chunk->payload.size(), 256u);
            ++collected.audio;
        }
    }
    return collected;
}

std::vector<uint8_t> Bytes(std::span<const uint8_t> span) {
    return {span.begin(), span.end()};
}

TEST(CameraSequence, InterleavesSixteenAudioBlocksPerSecondOfVideo) {
    const MediaPayloads payloads = LoadPayloads(160, 112);
    CameraSequenceOptions options;
    options.videoFrameCount = 45;
    options.frameScale = 1000;
    options.frameRate = 7500; // 7.5 frames per second
    CameraSequence sequence(payloads, options);
    const CollectedChunks collected = Collect(sequence);

    ASSERT_EQ(collected.video.size(), 45u);
    EXPECT_EQ(collected.audio, 96u); // 6 seconds
    for (size_t frame = 1; frame < collected.video.size(); ++frame)
        EXPECT_EQ(collected.audioAfterVideo[frame], frame * 16 * 2 / 15) << "before frame " << frame;
}

TEST(CameraSequence, RepeatsCopyThePreviousFrameAndCyclingRestartsAtAKeyFrame) {
    const MediaPayloads payloads = LoadPayloads(160, 112);
    CameraSequenceOptions options;
    options.videoFrameCount = 100;
    options.repeatAt = {0, 3, 50};
    options.repeatEvery = 10;
    CameraSequence sequence(payloads, options);
    const CollectedChunks collected = Collect(sequence);
    ASSERT_EQ(collected.video.size(), 100u);

    size_t storedFrame = 0;
    for (size_t i = 0; i < collected.video.size(); ++i) {
        const CameraChunk& chunk = collected.video[i];
        const bool expectRepeat = i == 3 || i == 50 || (i + 1) % 10 == 0;
        SCOPED_TRACE("video chunk " + std::to_string(i));
        ASSERT_EQ(chunk.isRepeat, expectRepeat);
        if (expectRepeat) {
            EXPECT_EQ(Bytes(chunk.payload), Bytes(collected.video[i - 1].payload));
            continue;
        }
        // New frames walk the stored stream in order and start over at its first frame, a key frame.
        EXPECT_EQ(Bytes(chunk.payload), payloads.videoFrames[storedFrame].bytes);
        EXPECT_EQ(chunk.isKey, storedFrame % 10 == 0);
        storedFrame = (storedFrame + 1) % payloads.videoFrames.size();
    }
    EXPECT_EQ(storedFrame, (100 - 12) % 40u); // 12 repeats: 3, 9, 19, ..., 99 and 50
}

TEST(CameraSequence, StopsAtTheFirstChunkBoundaryPastATargetSize) {
    const MediaPayloads payloads = LoadPayloads(320, 240);
    CameraSequenceOptions options;
    options.videoFrameCount = UINT64_MAX;
    CameraSequence sequence(payloads, options);
    ScratchDir dir;
    RecordingWriter writer(dir / "sized.avi", HeaderOptions{}, ChunkLog::Keep);
    const uint64_t target = 3 << 20;
    AppendCameraChunks(writer, sequence, target);
    const ChunkRecord last = writer.Chunks().back();
    EXPECT_LT(last.position, target);
    EXPECT_GE(writer.Position(), target);
    EXPECT_EQ(writer.Finish().fileSize, last.position + 8 + last.payloadSize);
}

TEST(CameraSequence, RefusesWhatCannotMakeACameraStream) {
    const MediaPayloads payloads = LoadPayloads(160, 112);
    CameraSequenceOptions stopped;
    stopped.frameRate = 0;
    EXPECT_THROW(CameraSequence(payloads, stopped), std::invalid_argument);

    MediaPayloads noKey = payloads;
    noKey.videoFrames.erase(noKey.videoFrames.begin());
    EXPECT_THROW(CameraSequence(noKey, CameraSequenceOptions{}), std::invalid_argument);
}

} // namespace
