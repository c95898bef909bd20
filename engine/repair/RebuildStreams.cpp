#include "repair/RebuildStreams.h"

#include <array>
#include <cmath>

namespace clipwright {

namespace {

constexpr std::array<uint32_t, 7> kCommonSampleRates = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
// Half the gap between 44100 and 48000: a closer rate is the one meant.
constexpr double kSampleRateTolerance = 0.04;
constexpr uint32_t kCameraBlockAlign = 256;
constexpr uint32_t kWholeRateScale = 1000;

std::optional<uint32_t> SnapSampleRate(double measured) {
    for (uint32_t rate : kCommonSampleRates)
        if (std::abs(measured - rate) <= rate * kSampleRateTolerance)
            return rate;
    return std::nullopt;
}

} // namespace

bool FitsCameraStreams(const DetectedSettings& detected) {
    const codec::VideoFacts& video = detected.videoFacts;
    const codec::SoundFacts& sound = detected.soundFacts;
    const bool cameraVideo =
        video.kind == codec::VideoKind::Unknown ||
        (video.kind == codec::VideoKind::Mpeg4Visual && video.compression == FourCC("DX50") &&
         (video.width == 0 || ResolutionFromSize(video.width, video.height) != kResolutionUnknown));
    const bool cameraSound = sound.kind == codec::SoundKind::None ||
                             sound.kind == codec::SoundKind::Unknown ||
                             (sound.kind == codec::SoundKind::MsAdpcm && sound.channels == 1 &&
                              sound.blockAlign == kCameraBlockAlign);
    return cameraVideo && cameraSound;
}

BitstreamStreams StreamsFromBitstream(const DetectedSettings& detected,
                                      std::optional<uint32_t> userFramesPerSecond) {
    BitstreamStreams streams;
    streams.video = detected.videoFacts;
    streams.sound = detected.soundFacts;
    if (streams.video.kind == codec::VideoKind::Unknown || streams.video.width == 0) {
        streams.gap = StreamGap::VideoFormat;
        return streams;
    }
    if (streams.sound.kind == codec::SoundKind::Unknown) {
        streams.gap = StreamGap::SoundFormat;
        return streams;
    }

    // The video's own rate first; then the sound's clock; then the user's.
    if (streams.video.rate != 0) {
        streams.rate = streams.video.rate;
        streams.scale = streams.video.scale;
        streams.rateSource = RateSource::Video;
    } else if (std::optional<uint32_t> fromVops =
                   detected.vopRate ? SnapFrameRate(*detected.vopRate) : std::nullopt) {
        streams.rate = *fromVops * kWholeRateScale;
        streams.scale = kWholeRateScale;
        streams.rateSource = RateSource::Video;
    } else if (std::optional<double> seconds = streams.sound.Seconds();
               seconds && *seconds > 0 && detected.videoChunks > 1) {
        if (std::optional<uint32_t> fromSound =
                SnapFrameRate(static_cast<double>(detected.videoChunks) / *seconds)) {
            streams.rate = *fromSound * kWholeRateScale;
            streams.scale = kWholeRateScale;
            streams.rateSource = RateSource::SoundClock;
        }
    }
    if (streams.rateSource == RateSource::None && userFramesPerSecond) {
        streams.rate = *userFramesPerSecond * kWholeRateScale;
        streams.scale = kWholeRateScale;
        streams.rateSource = RateSource::User;
    }
    if (streams.rateSource == RateSource::None) {
        streams.gap = StreamGap::FrameRate;
        return streams;
    }

    if (streams.sound.kind == codec::SoundKind::None)
        return streams;
    if (streams.sound.sampleRate != 0) {
        streams.sampleRate = streams.sound.sampleRate;
        streams.sampleRateSource = RateSource::SoundClock;
        return streams;
    }
    // Samples whose rate nothing says: their share of the video's time.
    const std::optional<double> frames = streams.sound.SampleFrames();
    const double videoSeconds = static_cast<double>(detected.videoChunks) * streams.scale / streams.rate;
    if (frames && videoSeconds > 0) {
        streams.measuredSampleRate = *frames / videoSeconds;
        if (std::optional<uint32_t> rate = SnapSampleRate(*streams.measuredSampleRate)) {
            streams.sampleRate = *rate;
            streams.sampleRateSource = RateSource::VideoClock;
            return streams;
        }
    }
    streams.gap = StreamGap::SampleRate;
    return streams;
}

VideoStreamFormat VideoFormatOf(const BitstreamStreams& streams) {
    VideoStreamFormat format;
    format.handler = streams.video.compression;
    format.compression = streams.video.compression;
    format.width = static_cast<int32_t>(streams.video.width);
    format.height = static_cast<int32_t>(streams.video.height);
    format.rate = streams.rate;
    format.scale = streams.scale;
    format.imageSize = streams.video.width * streams.video.height * 3;
    format.leadingEmptyFrame = false;
    return format;
}

AudioStreamFormat AudioFormatOf(const BitstreamStreams& streams) {
    const codec::SoundFacts& sound = streams.sound;
    switch (sound.kind) {
    case codec::SoundKind::MsAdpcm:
        return MsAdpcmFormat(sound.channels, streams.sampleRate, sound.blockAlign);
    case codec::SoundKind::ImaAdpcm:
        return ImaAdpcmFormat(sound.channels, streams.sampleRate, sound.blockAlign);
    case codec::SoundKind::Mpeg:
        return MpegAudioFormat(sound.mpegLayer, sound.channels, streams.sampleRate, sound.bitrate,
                               sound.constantBitrate || !sound.frameAChunk, sound.samplesPerFrame,
                               sound.frameBytes);
    case codec::SoundKind::Ac3:
        return Ac3Format(sound.channels, streams.sampleRate, sound.bitrate);
    case codec::SoundKind::Pcm:
        return PcmFormat(sound.channels, sound.bitsPerSample, streams.sampleRate);
    case codec::SoundKind::None:
    case codec::SoundKind::Unknown:
        break;
    }
    return CameraAudioFormat();
}

codec::VideoCoding CodingOf(const BitstreamStreams& streams) {
    switch (streams.video.kind) {
    case codec::VideoKind::Mpeg4Visual:
        return codec::VideoCoding::Mpeg4Visual;
    case codec::VideoKind::H264:
        return codec::VideoCoding::H264;
    case codec::VideoKind::Mjpeg:
        return codec::VideoCoding::Intra;
    case codec::VideoKind::Unknown:
        break;
    }
    return codec::VideoCoding::Unread;
}

} // namespace clipwright
