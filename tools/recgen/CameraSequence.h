// The chunk sequence a QC-7 camera writes: MPEG-4 frames as '00dc' with MS-ADPCM blocks as '01wb'
// interleaved at 16 blocks per second of video.
#pragma once

#include "MediaPayloads.h"
#include "RecordingWriter.h"
#include "avi/FourCC.h"

#include <cstdint>
#include <optional>
#include <set>
#include <span>

namespace clipwright::recgen {

struct CameraSequenceOptions {
    uint64_t videoFrameCount = 40; // video chunks, repeats included; may exceed the stored frames
    uint32_t frameScale = 1000;    // frames per second = frameRate / frameScale
    uint32_t frameRate = 15000;
    uint32_t audioBlocksPerSecond = 16;
    std::set<uint64_t> repeatAt; // video chunk numbers (from 0) that repeat the previous frame's bytes
    uint64_t repeatEvery = 0;    // when >= 2, every repeatEvery-th video chunk is a repeat
};

struct CameraChunk {
    FourCC id;
    std::span<const uint8_t> payload; // points into the MediaPayloads
    ChunkKind kind = ChunkKind::Other;
    bool isKey = false;
    bool isRepeat = false;
    uint64_t videoNumber = 0; // of the video chunk, or of the frame the audio block follows
};

// Hands out the camera's chunks one at a time. The payloads must outlive the sequence.
class CameraSequence {
public:
    CameraSequence(const MediaPayloads& payloads, CameraSequenceOptions options);

    // Each video frame is followed by the audio blocks that fall due during it; nothing after the last.
    std::optional<CameraChunk> Next();

    bool IsRepeat(uint64_t videoNumber) const;
    // Audio blocks written after the first `videoFrames` frames.
    uint64_t AudioBlocksAfter(uint64_t videoFrames) const;

private:
    const MediaPayloads& payloads_;
    CameraSequenceOptions options_;
    uint64_t videoWritten_ = 0;
    uint64_t audioWritten_ = 0;
    size_t nextFrame_ = 0; // stored frame the next new video chunk takes
    size_t lastFrame_ = 0; // stored frame the last video chunk carried
    size_t nextAudio_ = 0; // stored audio block the next audio chunk takes
};

// Appends chunks from the sequence until it runs out, or, when a size is given, until the file has
// reached that many bytes. Returns the number of chunks appended.
uint64_t AppendCameraChunks(RecordingWriter& writer, CameraSequence& sequence,
                            std::optional<uint64_t> stopAtFileSize = std::nullopt,
                            const ChunkOptions& chunkOptions = {});

} // namespace clipwright::recgen
