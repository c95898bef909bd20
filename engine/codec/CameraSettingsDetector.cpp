#include "CameraSettingsDetector.h"

#include "avi/CameraLayout.h"
#include "avi/ChunkWalk.h"

#include <array>
#include <cmath>
#include <vector>

namespace clipwright {

namespace {

constexpr auto kCameraRates = layout::kCameraFrameRates;
constexpr double kCameraRateTolerance = 0.02;
constexpr uint32_t kHighestRate = layout::kHighestFrameRate;

// The camera's sound: MS-ADPCM, mono, 256-byte blocks of 500 samples at 8000 Hz. The header that
// says so may be gone, and its byte rate is no measure of time for a block-coded format.
constexpr uint32_t kAudioBlockBytes = 256;
constexpr double kSecondsPerBlock = 500.0 / 8000.0;
// How far the counts may be off: the frame a cut ends in, and blocks written around the frame
// they fall due in, at the start and at the end.
constexpr double kFrameSlack = 1;
constexpr double kBlockSlack = 2;

// The rate the sound's clock gives, and the rates its counts allow.
struct AudioClock {
    std::optional<double> rate;
    double lowest = 0;
    double highest = 0;
    // The setting, when every rate the counts allow gives the same one: a short recording's
    // clock may not tell 30 from 31.
    std::optional<uint32_t> setting;

    bool Allows(double videoRate) const {
        return videoRate >= lowest * (1 - kCameraRateTolerance) &&
               videoRate <= highest * (1 + kCameraRateTolerance);
    }
};

AudioClock MeasureAudioClock(uint64_t videoChunks, uint64_t audioBlocks) {
    AudioClock clock;
    if (static_cast<double>(videoChunks) <= kFrameSlack || static_cast<double>(audioBlocks) <= kBlockSlack)
        return clock;
    const double frames = static_cast<double>(videoChunks);
    const double blocks = static_cast<double>(audioBlocks);
    clock.rate = frames / (blocks * kSecondsPerBlock);
    clock.lowest = (frames - kFrameSlack) / ((blocks + kBlockSlack) * kSecondsPerBlock);
    clock.highest = (frames + kFrameSlack) / ((blocks - kBlockSlack) * kSecondsPerBlock);
    // SnapFrameRate never decreases as the rate grows: equal ends mean the same setting between.
    std::optional<uint32_t> low = SnapFrameRate(clock.lowest);
    if (low && low == SnapFrameRate(clock.highest))
        clock.setting = low;
    return clock;
}

} // namespace

std::optional<uint32_t> SnapFrameRate(double measured) {
    if (!std::isfinite(measured))
        return std::nullopt;
    for (uint32_t rate : kCameraRates) {
        if (std::abs(measured - rate) <= rate * kCameraRateTolerance)
            return rate;
    }
    const double whole = std::round(measured);
    if (whole < 1 || whole > kHighestRate)
        return std::nullopt;
    return static_cast<uint32_t>(whole);
}

bool CameraSettingsReading::WantsHead(const ChunkHeader& chunk) const {
    if (chunk.size == 0)
        return false;
    if (chunk.id == fourcc::kAudio01wb)
        return streams_.WantsSoundHead();
    if (streams_.WantsVideoHead(std::span<const uint8_t>(chunk.prefix.data(), chunk.prefixBytes)))
        return true;
    // Past the frames the VOP times are read from, only a frame that can begin with the VOL is
    // looked into, and only while none was found.
    const bool mayHoldVol = chunk.prefixBytes == 4 && chunk.prefix[0] == 0 && chunk.prefix[1] == 0 &&
                            chunk.prefix[2] == 1 && chunk.prefix[3] <= codec::kMpeg4VolLast;
    return framesRead_ < kVopFramesRead || (!firstVol_ && mayHoldVol);
}

void CameraSettingsReading::Feed(const ChunkHeader& chunk, std::span<const uint8_t> head) {
    if (chunk.id == fourcc::kAudio01wb) {
        audioBlocks_ += chunk.size / kAudioBlockBytes;
        streams_.FeedSound(head, chunk.size);
        return;
    }
    // A repeat or an empty chunk is a frame the camera had no new picture for: it still takes a
    // frame's time.
    ++videoChunks_;
    if (!WantsHead(chunk))
        return;
    streams_.FeedVideo(head);
    if (!firstVol_)
        firstVol_ = codec::FindMpeg4Vol(head);
    if (framesRead_ < kVopFramesRead)
        meter_.Feed(head);
    ++framesRead_;
}

bool CameraSettingsReading::KindsKnown() const {
    return streams_.KindsKnown();
}

DetectedSettings DetectCameraSettings(ByteSource& file, uint64_t start, uint64_t fileSize,
                                      DetectionExtent extent) {
    CameraSettingsReading reading;
    std::vector<uint8_t> head(kFrameHeadBytes);
    ChunkWalk walk(file, start, fileSize, CameraCopiedIds());
    while (std::optional<ChunkHeader> chunk = walk.Next()) {
        size_t got = 0;
        if (reading.WantsHead(*chunk))
            got = file.ReadAt(chunk->PayloadStart(), head.data(), std::min<size_t>(chunk->size, head.size()));
        reading.Feed(*chunk, std::span<const uint8_t>(head.data(), got));
        if (extent == DetectionExtent::UntilKindsKnown && reading.KindsKnown()) {
            DetectedSettings detected = reading.Result();
            detected.streamsLookedAtOnly = true;
            return detected;
        }
    }
    return reading.Result();
}

DetectedSettings CameraSettingsReading::Result() const {
    DetectedSettings detected;
    detected.videoFacts = streams_.Video();
    detected.soundFacts = streams_.Sound();
    detected.videoChunks = videoChunks_;
    detected.audioBlocks = audioBlocks_;
    if (firstVol_ && firstVol_->width && firstVol_->height) {
        detected.width = firstVol_->width;
        detected.height = firstVol_->height;
        if (const ResolutionCode code = ResolutionFromSize(firstVol_->width, firstVol_->height);
            code != kResolutionUnknown)
            detected.resolution = code;
        detected.volFixedRate = firstVol_->FixedRate();
    }
    detected.vopRate = meter_.Rate();
    const AudioClock audio = MeasureAudioClock(detected.videoChunks, detected.audioBlocks);
    detected.audioClockRate = audio.rate;

    // The rate the video declares comes first: the VOL's fixed rate is the encoder's own setting,
    // and VOP times are exact where the encoder keeps them. The sound's clock is an average over
    // the recording, only as exact as the recording is long. But the camera paces its frames by
    // that clock, repeating or dropping pictures to keep up with the sound, so when the two
    // disagree the sound is right: a file written at the video's rate would drift from its sound.
    using Source = DetectedSettings::RateSource;
    for (auto [source, rate] : {std::pair{Source::VolFixedRate, detected.volFixedRate},
                                std::pair{Source::VopTimeIncrements, detected.vopRate}}) {
        if (!rate)
            continue;
        std::optional<uint32_t> setting = SnapFrameRate(*rate);
        if (!setting)
            continue;
        // A clock that gives a setting decides; one too short for that can still contradict.
        if (audio.setting ? audio.setting != setting : audio.rate && !audio.Allows(*rate))
            continue;
        detected.framesPerSecond = setting;
        detected.rateSource = source;
        detected.measuredRate = rate;
        return detected;
    }
    if (audio.setting) {
        detected.framesPerSecond = audio.setting;
        detected.rateSource = Source::AudioClock;
        detected.measuredRate = audio.rate;
    }
    return detected;
}

std::optional<ImageSettings> SuggestedImageSettings(const DetectedSettings& detected) {
    if (!detected.resolution || !detected.framesPerSecond)
        return std::nullopt;
    return ImageSettings{*detected.resolution, *detected.framesPerSecond};
}

} // namespace clipwright
