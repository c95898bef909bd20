// What a written file declares of its streams: the video's coding, size and rate, and the sound's
// WAVEFORMATEX with the stream header's clock. The camera's own formats are the defaults, so a
// rebuild of the camera's recording writes what it always has.
#pragma once

#include "avi/FourCC.h"

#include <cstdint>
#include <vector>

namespace clipwright {

struct VideoStreamFormat {
    FourCC handler = fourcc::kDivx;     // strh fccHandler
    FourCC compression = fourcc::kDx50; // strf biCompression
    int32_t width = 0;
    int32_t height = 0;
    // Frames per second as rate / scale.
    uint32_t rate = 0;
    uint32_t scale = 1000;
    uint16_t bitCount = 24;
    uint32_t imageSize = 129600; // biSizeImage: the camera writes the same for every size
    // The camera's rebuilt recordings start their video one frame late, with an empty frame.
    bool leadingEmptyFrame = true;
};

struct AudioStreamFormat {
    std::vector<uint8_t> waveFormat; // the strf: WAVEFORMATEX and any extension
    // strh: time in units of scale / rate seconds. With a sample size, each unit is that many
    // bytes; without one, each chunk is one unit.
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t sampleSize = 0;
    uint32_t bytesPerSecond = 0; // for avih dwMaxBytesPerSec
};

// The camera's sound: MS-ADPCM, 8000 Hz, mono, 256-byte blocks of 500 samples.
AudioStreamFormat CameraAudioFormat();

// WAVE format tags.
inline constexpr uint16_t kWavePcm = 0x0001;
inline constexpr uint16_t kWaveMsAdpcm = 0x0002;
inline constexpr uint16_t kWaveImaAdpcm = 0x0011;
inline constexpr uint16_t kWaveMpeg = 0x0050;
inline constexpr uint16_t kWaveMpegLayer3 = 0x0055;
inline constexpr uint16_t kWaveAc3 = 0x2000;

AudioStreamFormat PcmFormat(uint16_t channels, uint16_t bitsPerSample, uint32_t sampleRate);
AudioStreamFormat MsAdpcmFormat(uint16_t channels, uint32_t sampleRate, uint16_t blockAlign);
AudioStreamFormat ImaAdpcmFormat(uint16_t channels, uint32_t sampleRate, uint16_t blockAlign);
// MPEG audio layer 1, 2 or 3 and AC-3, timed by their bytes at a constant bitrate (the chunks may
// split frames), or frame by frame (`samplesPerFrame`) when the bitrate varies: then each chunk
// must hold one frame.
AudioStreamFormat MpegAudioFormat(uint8_t layer, uint16_t channels, uint32_t sampleRate, uint32_t bitrate,
                                  bool constantBitrate, uint32_t samplesPerFrame, uint32_t frameBytes);
AudioStreamFormat Ac3Format(uint16_t channels, uint32_t sampleRate, uint32_t bitrate);

} // namespace clipwright
