// The frame size and frame rate a camera recording was made with, read from its own video and
// sound, for a recording whose header lost them.
#pragma once

#include "avi/CameraLayout.h"
#include "avi/ChunkReader.h"
#include "codec/Mpeg4Headers.h"
#include "codec/StreamDetection.h"
#include "codec/VopRateMeter.h"
#include "platform/SourceFile.h"

#include <cstdint>
#include <optional>
#include <span>

namespace clipwright {

struct DetectedSettings {
    enum class RateSource { None, VolFixedRate, VopTimeIncrements, AudioClock };

    std::optional<uint32_t> width, height;    // from the first VOL found
    std::optional<ResolutionCode> resolution; // when the size is one the camera records
    std::optional<uint32_t> framesPerSecond;  // 1 to 120, on the camera's list when close to it
    RateSource rateSource = RateSource::None;

    // What was measured, for a report.
    uint64_t videoChunks = 0; // repeats and empty chunks included: each is one frame's time
    uint64_t audioBlocks = 0;
    std::optional<double> measuredRate;   // of the source the rate came from
    std::optional<double> volFixedRate;   // as the VOL declares it
    std::optional<double> vopRate;        // from the steps between VOP times
    std::optional<double> audioClockRate; // video chunks per second of sound

    // What the chunks hold, whatever recorder wrote them.
    codec::VideoFacts videoFacts;
    codec::SoundFacts soundFacts;
    // Only the streams' kinds count: the walk may have stopped once they were known, and the
    // settings are read again by the camera's copy.
    bool streamsLookedAtOnly = false;
};

inline constexpr uint64_t kVopFramesRead = 300;
// VOL, GOV and VOP headers stand at the start of a frame, behind user data at most.
inline constexpr size_t kFrameHeadBytes = 4096;

// The reading fed one chunk at a time, in walk order: by a walk of its own, or by a rebuild's copy,
// which has every payload in hand already.
class CameraSettingsReading {
public:
    // Whether the chunk's first bytes (up to kFrameHeadBytes) are wanted by Feed.
    bool WantsHead(const ChunkHeader& chunk) const;
    // `head`: the payload's first bytes that the file holds, up to kFrameHeadBytes, when WantsHead
    // said so; ignored otherwise.
    void Feed(const ChunkHeader& chunk, std::span<const uint8_t> head);
    DetectedSettings Result() const;
    // The first frames and sound chunks have been looked at: the kinds of stream are known.
    bool KindsKnown() const;

private:
    codec::VopRateMeter meter_;
    codec::StreamReading streams_;
    std::optional<codec::Mpeg4Vol> firstVol_;
    uint64_t framesRead_ = 0;
    uint64_t videoChunks_ = 0;
    uint64_t audioBlocks_ = 0;
};

enum class DetectionExtent {
    Whole,          // every chunk counts for the clocks
    UntilKindsKnown // the walk stops once the streams' kinds are known: no clock, no counts
};

// Walks the recording's chunks from `start` (where the rebuild starts copying) to the end. Every
// chunk counts for the sound's clock; VOP headers are read from the first kVopFramesRead frames
// only. Raises FileError when the recording cannot be read.
DetectedSettings DetectCameraSettings(ByteSource& file, uint64_t start, uint64_t fileSize,
                                      DetectionExtent extent = DetectionExtent::Whole);

// Both settings, when both were found; a size the camera does not record is no setting.
std::optional<ImageSettings> SuggestedImageSettings(const DetectedSettings& detected);

// A measured rate as a setting: the camera's own rate (5, 7, 10, 15, 30) when within 2% of it,
// otherwise the nearest whole number from 1 to 120; nothing outside that.
std::optional<uint32_t> SnapFrameRate(double measured);

} // namespace clipwright
