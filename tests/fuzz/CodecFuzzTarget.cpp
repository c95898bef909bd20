// Fuzz target: any bytes through the codec header readers and the camera settings detector, in
// memory. Besides not crashing, whatever they give must be a value the formats allow.
#include "avi/AviStructure.h"
#include "codec/CameraSettingsDetector.h"
#include "codec/H264Headers.h"
#include "codec/MjpegHeaders.h"
#include "codec/Mpeg4Headers.h"
#include "codec/StreamDetection.h"
#include "codec/VopRateMeter.h"
#include "repair/RebuildStreams.h"

#include <algorithm>

#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

using namespace clipwright;
using namespace clipwright::codec;

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void CheckRate(std::optional<double> rate) {
    Require(!rate || (*rate > 0 && *rate < 1e12));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);

    if (std::optional<Mpeg4Vol> vol = FindMpeg4Vol(bytes)) {
        Require(vol->timeIncrementResolution >= 1 && vol->timeIncrementResolution <= 0xFFFF);
        Require(!vol->width || (*vol->width > 0 && *vol->height > 0));
        CheckRate(vol->FixedRate());
        if (std::optional<Mpeg4Vop> vop = ParseMpeg4Vop(bytes, *vol))
            Require(vop->timeIncrement < vol->timeIncrementResolution);
    }
    ParseMpeg4Vol(bytes);
    ParseMpeg4Gov(bytes);
    VopRateMeter meter;
    meter.Feed(bytes);
    CheckRate(meter.Rate());

    if (std::optional<MjpegSize> jpeg = ParseMjpegSize(bytes)) {
        Require(jpeg->width > 0 && jpeg->codedHeight > 0);
        Require(jpeg->height == (jpeg->fields == JpegFields::Whole ? 1u : 2u) * jpeg->codedHeight);
    }

    if (std::optional<H264Sps> sps = FindH264Sps(bytes))
        Require(sps->width > 0 && sps->height > 0 && sps->width <= 65536 && sps->height <= 2 * 65536);
    if (std::optional<H264Sps> sps = ParseH264Sps(bytes))
        CheckRate(sps->FrameRate());
    SeiRecoveryFrameCount(bytes);
    StartsRandomAccess(bytes);

    MemorySource source(bytes);
    const DetectedSettings detected = DetectCameraSettings(source, 0, size);
    Require(detected.framesPerSecond.has_value() ==
            (detected.rateSource != DetectedSettings::RateSource::None));
    Require(!detected.framesPerSecond ||
            (*detected.framesPerSecond >= 1 && *detected.framesPerSecond <= 120));
    Require(!detected.resolution || (detected.width && detected.height));
    Require(SuggestedImageSettings(detected).has_value() ==
            (detected.resolution.has_value() && detected.framesPerSecond.has_value()));

    // The stream detectors, fed the input as chunks of both kinds: each piece's first byte says
    // which, and how long it is.
    StreamReading streams;
    for (size_t at = 0; at < size;) {
        const size_t length = std::min<size_t>(size - at, 1 + size_t{data[at]} * 8);
        const std::span<const uint8_t> chunk = bytes.subspan(at, length);
        if ((data[at] & 1) != 0)
            streams.FeedSound(chunk, static_cast<uint32_t>(length + (data[at] & 2)));
        else
            streams.FeedVideo(chunk);
        at += length;
    }
    const VideoFacts video = streams.Video();
    Require((video.width == 0) == (video.height == 0));
    Require(video.rate == 0 || (video.scale != 0 && video.rate >= video.scale));
    const SoundFacts sound = streams.Sound();
    switch (sound.kind) {
    case SoundKind::MsAdpcm:
    case SoundKind::ImaAdpcm:
        Require(sound.channels >= 1 && sound.channels <= 2 && sound.blockAlign >= 32 &&
                sound.samplesPerBlock > 0);
        break;
    case SoundKind::Mpeg:
    case SoundKind::Ac3:
        Require(sound.channels >= 1 && sound.channels <= 6 && sound.sampleRate >= 8000 && sound.bitrate > 0);
        break;
    case SoundKind::Pcm:
        Require((sound.bitsPerSample == 8 || sound.bitsPerSample == 16) && sound.channels >= 1);
        break;
    case SoundKind::None:
    case SoundKind::Unknown:
        break;
    }
    // Whatever they found, the header written from it is whole.
    DetectedSettings found;
    found.videoFacts = video;
    found.soundFacts = sound;
    found.videoChunks = size;
    const BitstreamStreams planned = StreamsFromBitstream(found, 25);
    if (planned.gap == StreamGap::None && sound.kind != SoundKind::None) {
        const AudioStreamFormat format = AudioFormatOf(planned);
        Require(format.waveFormat.size() >= 16 && format.waveFormat.size() <= 50);
        Require(format.rate != 0 && format.scale != 0);
    }
    return 0;
}
