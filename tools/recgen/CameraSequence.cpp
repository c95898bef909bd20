#include "CameraSequence.h"

#include <stdexcept>
#include <utility>

namespace clipwright::recgen {

namespace {
__extension__ typedef unsigned __int128 WideCount;
} // namespace

CameraSequence::CameraSequence(const MediaPayloads& payloads, CameraSequenceOptions options)
    : payloads_(payloads), options_(std::move(options)) {
    if (payloads_.videoFrames.empty() || !payloads_.videoFrames.front().isKey)
        throw std::invalid_argument("camera sequence needs payloads that begin with a key frame");
    if (payloads_.audioBlocks.empty())
        throw std::invalid_argument("camera sequence needs audio blocks");
    if (options_.frameScale == 0 || options_.frameRate == 0)
        throw std::invalid_argument("camera sequence needs a frame rate");
}

bool CameraSequence::IsRepeat(uint64_t videoNumber) const {
    if (videoNumber == 0)
        return false; // nothing to repeat yet
    if (options_.repeatEvery >= 2 && (videoNumber + 1) % options_.repeatEvery == 0)
        return true;
    return options_.repeatAt.contains(videoNumber);
}

uint64_t CameraSequence::AudioBlocksAfter(uint64_t videoFrames) const {
    // blocks per second * seconds of video, counted in whole blocks
    const WideCount numerator =
        static_cast<WideCount>(videoFrames) * options_.audioBlocksPerSecond * options_.frameScale;
    return static_cast<uint64_t>(numerator / options_.frameRate);
}

std::optional<CameraChunk> CameraSequence::Next() {
    if (videoWritten_ > 0 && audioWritten_ < AudioBlocksAfter(videoWritten_)) {
        CameraChunk audio;
        audio.id = fourcc::kAudio01wb;
        audio.payload = payloads_.audioBlocks[nextAudio_];
        audio.kind = ChunkKind::Audio;
        audio.isKey = true;
        audio.videoNumber = videoWritten_ - 1;
        nextAudio_ = (nextAudio_ + 1) % payloads_.audioBlocks.size();
        ++audioWritten_;
        return audio;
    }
    if (videoWritten_ >= options_.videoFrameCount)
        return std::nullopt;

    CameraChunk video;
    video.id = fourcc::kVideo00dc;
    video.kind = ChunkKind::Video;
    video.videoNumber = videoWritten_;
    video.isRepeat = IsRepeat(videoWritten_);
    if (!video.isRepeat) {
        // Past the last stored frame the stream starts over at its first frame, a key frame, so it
        // still decodes.
        lastFrame_ = nextFrame_;
        nextFrame_ = (nextFrame_ + 1) % payloads_.videoFrames.size();
    }
    const VideoFrame& frame = payloads_.videoFrames[lastFrame_];
    video.payload = frame.bytes;
    video.isKey = frame.isKey;
    ++videoWritten_;
    return video;
}

uint64_t AppendCameraChunks(RecordingWriter& writer, CameraSequence& sequence,
                            std::optional<uint64_t> stopAtFileSize, const ChunkOptions& chunkOptions) {
    uint64_t appended = 0;
    while (!stopAtFileSize || writer.Position() < *stopAtFileSize) {
        const std::optional<CameraChunk> chunk = sequence.Next();
        if (!chunk)
            break;
        writer.AppendChunk(chunk->id, chunk->payload, chunkOptions);
        ++appended;
    }
    return appended;
}

} // namespace clipwright::recgen
