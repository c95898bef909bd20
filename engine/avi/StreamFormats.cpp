#include "avi/StreamFormats.h"

#include "avi/LittleEndian.h"

#include <array>

namespace clipwright {

namespace {

// A WAVEFORMATEX, its extension appended by the caller; cbSize is the extension's length.
class WaveFormatBuilder {
public:
    WaveFormatBuilder(uint16_t tag, uint16_t channels, uint32_t sampleRate, uint32_t bytesPerSecond,
                      uint16_t blockAlign, uint16_t bitsPerSample) {
        U16(tag);
        U16(channels);
        U32(sampleRate);
        U32(bytesPerSecond);
        U16(blockAlign);
        U16(bitsPerSample);
    }
    WaveFormatBuilder& U16(uint16_t value) {
        std::array<uint8_t, 2> field{};
        le::WriteU16(field.data(), value);
        bytes_.insert(bytes_.end(), field.begin(), field.end());
        return *this;
    }
    WaveFormatBuilder& U32(uint32_t value) {
        std::array<uint8_t, 4> field{};
        le::WriteU32(field.data(), value);
        bytes_.insert(bytes_.end(), field.begin(), field.end());
        return *this;
    }
    // cbSize, then the extension's fields follow.
    WaveFormatBuilder& Extension(uint16_t size) { return U16(size); }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

constexpr uint32_t kMpegLayer3Delay = 1393; // the encoder delay readers expect in MPEGLAYER3WAVEFORMAT

uint32_t MsAdpcmSamplesPerBlock(uint16_t channels, uint16_t blockAlign) {
    return (blockAlign - 7u * channels) * 2u / channels + 2u;
}

uint32_t ImaAdpcmSamplesPerBlock(uint16_t channels, uint16_t blockAlign) {
    return (blockAlign - 4u * channels) * 2u / channels + 1u;
}

// Timed by bytes: one unit a byte, `bytesPerSecond` units a second.
AudioStreamFormat ByBytes(std::vector<uint8_t> waveFormat, uint32_t bytesPerSecond) {
    return {std::move(waveFormat), 1, bytesPerSecond, 1, bytesPerSecond};
}

} // namespace

AudioStreamFormat CameraAudioFormat() {
    constexpr uint16_t kBlockAlign = 256;
    constexpr uint32_t kBytesPerSecond = 4096; // 8000 / 500 blocks of 256 bytes
    AudioStreamFormat format = MsAdpcmFormat(1, 8000, kBlockAlign);
    format.scale = kBlockAlign;
    format.rate = kBytesPerSecond;
    return format;
}

AudioStreamFormat PcmFormat(uint16_t channels, uint16_t bitsPerSample, uint32_t sampleRate) {
    const auto blockAlign = static_cast<uint16_t>(channels * ((bitsPerSample + 7) / 8));
    const uint32_t bytesPerSecond = sampleRate * blockAlign;
    WaveFormatBuilder wave(kWavePcm, channels, sampleRate, bytesPerSecond, blockAlign, bitsPerSample);
    return {wave.Take(), 1, sampleRate, blockAlign, bytesPerSecond};
}

AudioStreamFormat MsAdpcmFormat(uint16_t channels, uint32_t sampleRate, uint16_t blockAlign) {
    // The standard predictor pairs, in their standard order.
    static constexpr std::array<std::array<int16_t, 2>, 7> kCoefficients{
        {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}}};
    const uint32_t samplesPerBlock = MsAdpcmSamplesPerBlock(channels, blockAlign);
    const auto bytesPerSecond = static_cast<uint32_t>(uint64_t{sampleRate} * blockAlign / samplesPerBlock);
    WaveFormatBuilder wave(kWaveMsAdpcm, channels, sampleRate, bytesPerSecond, blockAlign, 4);
    wave.Extension(4 + 4 * kCoefficients.size())
        .U16(static_cast<uint16_t>(samplesPerBlock))
        .U16(static_cast<uint16_t>(kCoefficients.size()));
    for (const auto& pair : kCoefficients)
        wave.U16(static_cast<uint16_t>(pair[0])).U16(static_cast<uint16_t>(pair[1]));
    return {wave.Take(), samplesPerBlock, sampleRate, blockAlign, bytesPerSecond};
}

AudioStreamFormat ImaAdpcmFormat(uint16_t channels, uint32_t sampleRate, uint16_t blockAlign) {
    const uint32_t samplesPerBlock = ImaAdpcmSamplesPerBlock(channels, blockAlign);
    const auto bytesPerSecond = static_cast<uint32_t>(uint64_t{sampleRate} * blockAlign / samplesPerBlock);
    WaveFormatBuilder wave(kWaveImaAdpcm, channels, sampleRate, bytesPerSecond, blockAlign, 4);
    wave.Extension(2).U16(static_cast<uint16_t>(samplesPerBlock));
    return {wave.Take(), samplesPerBlock, sampleRate, blockAlign, bytesPerSecond};
}

AudioStreamFormat MpegAudioFormat(uint8_t layer, uint16_t channels, uint32_t sampleRate, uint32_t bitrate,
                                  bool constantBitrate, uint32_t samplesPerFrame, uint32_t frameBytes) {
    const uint32_t bytesPerSecond = bitrate / 8;
    // Readers time a frame-by-frame stream by its block align: the samples of one frame.
    const auto blockAlign = static_cast<uint16_t>(constantBitrate ? 1 : samplesPerFrame);
    std::vector<uint8_t> waveFormat;
    if (layer == 3) {
        WaveFormatBuilder wave(kWaveMpegLayer3, channels, sampleRate, bytesPerSecond, blockAlign, 0);
        wave.Extension(12)
            .U16(1)                                        // wID: MPEG audio
            .U32(2)                                        // fdwFlags: padding off
            .U16(static_cast<uint16_t>(frameBytes))        // nBlockSize
            .U16(1)                                        // nFramesPerBlock
            .U16(static_cast<uint16_t>(kMpegLayer3Delay)); // nCodecDelay
        waveFormat = wave.Take();
    } else {
        constexpr uint16_t kModeStereo = 1, kModeSingleChannel = 8, kEmphasisNone = 1, kFlagMpeg1 = 0x10;
        WaveFormatBuilder wave(kWaveMpeg, channels, sampleRate, bytesPerSecond, blockAlign, 0);
        wave.Extension(22)
            .U16(static_cast<uint16_t>(layer == 1 ? 1 : 2))        // fwHeadLayer
            .U32(bitrate)                                          // dwHeadBitrate
            .U16(channels == 1 ? kModeSingleChannel : kModeStereo) // fwHeadMode
            .U16(0)                                                // fwHeadModeExt
            .U16(kEmphasisNone)                                    // wHeadEmphasis
            .U16(sampleRate >= 32000 ? kFlagMpeg1 : 0)             // fwHeadFlags
            .U32(0)                                                // dwPTSLow
            .U32(0);                                               // dwPTSHigh
        waveFormat = wave.Take();
    }
    if (constantBitrate)
        return ByBytes(std::move(waveFormat), bytesPerSecond);
    return {std::move(waveFormat), samplesPerFrame, sampleRate, 0, bytesPerSecond};
}

AudioStreamFormat Ac3Format(uint16_t channels, uint32_t sampleRate, uint32_t bitrate) {
    const uint32_t bytesPerSecond = bitrate / 8;
    WaveFormatBuilder wave(kWaveAc3, channels, sampleRate, bytesPerSecond, 1, 0);
    wave.Extension(0);
    return ByBytes(wave.Take(), bytesPerSecond);
}

} // namespace clipwright
