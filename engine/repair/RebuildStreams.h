// What a rebuild of a recording whose header was lost declares of its streams: the camera's own
// formats when the chunks fit them, otherwise what the chunks themselves say, with the rates taken
// from wherever the data gives them.
#pragma once

#include "avi/StreamFormats.h"
#include "codec/CameraSettingsDetector.h"
#include "codec/KeyFrames.h"

#include <cstdint>
#include <optional>

namespace clipwright {

// Where a rate came from.
enum class RateSource {
    None,
    Video,      // the video's own headers: VUI timing, the VOL's fixed rate, VOP times
    SoundClock, // the sound's length, whose bitstream gives its clock
    VideoClock, // the video's length at its rate: samples whose rate nothing else gives
    User,       // the user's answer
};

// What the chunks leave unsaid, so that no header can be written without guessing.
enum class StreamGap {
    None,
    FrameRate,   // the user can give it
    VideoFormat, // the video is no coding the rebuild can name
    SoundFormat, // the sound is neither coded sound nor samples with a shape
    SampleRate,  // the sound's share of the video's time is no common rate
};

struct BitstreamStreams {
    codec::VideoFacts video;
    codec::SoundFacts sound;
    RateSource rateSource = RateSource::None;
    uint32_t rate = 0; // frames a second as rate / scale
    uint32_t scale = 0;
    uint32_t sampleRate = 0;
    RateSource sampleRateSource = RateSource::None;
    StreamGap gap = StreamGap::None;
    std::optional<double> measuredSampleRate; // from the video's clock, before it was rounded
};

// The camera's own recordings hold MPEG-4 without an encoder's name at one of its sizes, and its
// MS-ADPCM sound in 256-byte blocks; chunks that say nothing either way are taken for its own.
bool FitsCameraStreams(const DetectedSettings& detected);

// `userFramesPerSecond`: the user's rate, taken when the data gives none.
BitstreamStreams StreamsFromBitstream(const DetectedSettings& detected,
                                      std::optional<uint32_t> userFramesPerSecond);

VideoStreamFormat VideoFormatOf(const BitstreamStreams& streams);
AudioStreamFormat AudioFormatOf(const BitstreamStreams& streams);
codec::VideoCoding CodingOf(const BitstreamStreams& streams);

} // namespace clipwright
