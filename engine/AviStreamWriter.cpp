#include "AviStreamWriter.h"

namespace clipwright {

namespace {

constexpr uint32_t kVideoScale = 1000; // rate = frames per second x 1000
constexpr uint32_t kQuality = 2000;
constexpr uint32_t kImageSizeField = 129600; // biSizeImage, the same for every resolution

constexpr uint16_t kWaveFormatAdpcm = 2;
constexpr uint16_t kAudioChannels = 1;
constexpr uint32_t kAudioSampleRate = 8000;
constexpr uint16_t kAudioBlockSize = 256;
constexpr uint16_t kAudioSamplesPerBlock = 500;
constexpr uint32_t kAudioBytesPerSecond = 4096; // 8000 / 500 blocks of 256 bytes
constexpr uint16_t kAudioBitsPerSample = 4;
constexpr uint16_t kAdpcmExtensionSize = 32; // wSamplesPerBlock, wNumCoef, 7 coefficient pairs

// The standard MS-ADPCM predictor pairs, in their standard order.
constexpr std::array<AdpcmCoefficientPair, 7> kAdpcmCoefficients{
    {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}}};

struct FrameSize {
    int32_t width;
    int32_t height;
};

FrameSize FrameSizeOf(ResolutionCode code) {
    switch (code) {
    case kResolutionVga:
        return {640, 480};
    case kResolutionQvga:
        return {320, 240};
    default: // 2, and 3 (not recognised)
        return {160, 112};
    }
}

} // namespace

AviStreamWriter::AviStreamWriter() {
    videoInfo.fccType = fourcc::kVids;
    videoInfo.fccHandler = fourcc::kDivx;
    videoInfo.dwScale = kVideoScale;
    videoInfo.dwInitialFrames = 1;
    videoInfo.dwQuality = kQuality;

    videoFormat.biSize = kBitmapInfoHeaderSize;
    videoFormat.biPlanes = 1;
    videoFormat.biBitCount = 24;
    videoFormat.biCompression = fourcc::kDx50;
    videoFormat.biSizeImage = kImageSizeField;
}

void AviStreamWriter::SetImageFormat(ResolutionCode code, uint32_t framesPerSecond) {
    videoInfo.dwRate = framesPerSecond * kVideoScale;
    const FrameSize size = FrameSizeOf(code);
    videoFormat.biWidth = size.width;
    videoFormat.biHeight = size.height;
    videoInfo.rcFrame = {0, 0, size.width, size.height};
}

int AviStreamWriter::OpenOutput(const char* path) {
    if (path == nullptr)
        return 0;
    avilib::Startup();
    avilib::OutputFile* opened = nullptr;
    if (avilib::OpenForWriting(path, &opened) != avierr::kOk) {
        avilib::Shutdown();
        return 0;
    }
    outputFile = opened;

    audioFormat = AdpcmWaveFormat{};
    audioFormat.wFormatTag = kWaveFormatAdpcm;
    audioFormat.nChannels = kAudioChannels;
    audioFormat.nSamplesPerSec = kAudioSampleRate;
    audioFormat.nAvgBytesPerSec = kAudioBytesPerSecond;
    audioFormat.nBlockAlign = kAudioBlockSize;
    audioFormat.wBitsPerSample = kAudioBitsPerSample;
    audioFormat.cbSize = kAdpcmExtensionSize;
    audioFormat.wSamplesPerBlock = kAudioSamplesPerBlock;
    audioFormat.wNumCoef = static_cast<uint16_t>(kAdpcmCoefficients.size());
    audioFormat.aCoef = kAdpcmCoefficients;

    audioStream = nullptr;
    videoStream = nullptr;
    videoPosition = 1;
    audioPosition = 0;
    writeFailed = false;
    anyWriteRefused = false;
    outputComplete = false;
    return 1;
}

void AviStreamWriter::SetFrameInfo(uint32_t size, uint8_t notKeyFrame) {
    videoInfo.dwLength = size;
    videoInfo.dwFlags = notKeyFrame == 0 ? avilib::kSampleKeyFrame : 0;
}

AviResult AviStreamWriter::CreateVideoStream() {
    // The description still carries the pending frame's size and flags; the library keeps neither.
    AviResult result = avilib::CreateStream(outputFile, videoInfo, &videoStream);
    if (result != avierr::kOk) {
        writeFailed = true;
        return result;
    }
    uint32_t formatSize = 0;
    if (avilib::ReadFormat(videoStream, 0, nullptr, &formatSize) != avierr::kOk)
        return avierr::kError; // the stream stays, without a format; later writes go into it
    const auto format = EncodeBitmapInfoHeader(videoFormat);
    result = avilib::SetFormat(videoStream, 0, format.data(), kBitmapInfoHeaderSize);
    if (result != avierr::kOk)
        writeFailed = true;
    return result;
}

AviResult AviStreamWriter::CreateAudioStream() {
    AviStreamInfo audioInfo;
    audioInfo.fccType = fourcc::kAuds;
    audioInfo.dwScale = audioFormat.nBlockAlign;
    audioInfo.dwRate = audioFormat.nAvgBytesPerSec;
    audioInfo.dwQuality = kQuality;
    audioInfo.dwSampleSize = audioFormat.nBlockAlign;
    AviResult result = avilib::CreateStream(outputFile, audioInfo, &audioStream);
    if (result != avierr::kOk) {
        writeFailed = true;
        return result;
    }
    const auto format = EncodeAdpcmWaveFormat(audioFormat);
    result = avilib::SetFormat(audioStream, 0, format.data(), kAdpcmWaveFormatSize);
    if (result != avierr::kOk)
        writeFailed = true;
    return result;
}

uint32_t AviStreamWriter::WriteVideoFrame(const uint8_t* data, int32_t withData) {
    if (outputFile == nullptr)
        return avierr::kBadHandle;
    if (writeFailed)
        return avierr::kError;
    if (videoStream == nullptr) {
        const AviResult created = CreateVideoStream();
        if (created != avierr::kOk) {
            anyWriteRefused = true;
            return created;
        }
    }
    if (videoInfo.dwLength % 2 != 0)
        ++videoInfo.dwLength;

    const AviResult result =
        withData != 0
            ? avilib::WriteSamples(videoStream, videoPosition, 1, data, videoInfo.dwLength, videoInfo.dwFlags)
            : avilib::WriteSamples(videoStream, videoPosition, 1, nullptr, 0, videoInfo.dwFlags);
    if (result != avierr::kOk) {
        writeFailed = true;
        anyWriteRefused = true;
        return result;
    }
    ++videoPosition;
    return avierr::kOk;
}

uint32_t AviStreamWriter::WriteAudioBlock(const uint8_t* data, uint32_t byteCount) {
    if (outputFile == nullptr)
        return avierr::kBadHandle;
    if (writeFailed)
        return avierr::kError;
    if (audioStream == nullptr) {
        const AviResult created = CreateAudioStream();
        if (created != avierr::kOk) {
            anyWriteRefused = true;
            return created;
        }
    }
    // Two 4-bit samples per byte: a 256-byte block counts as 512, whatever the file counts.
    const uint32_t samples = (byteCount * 8) / audioFormat.wBitsPerSample;
    const AviResult result =
        avilib::WriteSamples(audioStream, audioPosition, static_cast<int32_t>(samples), data, byteCount, 0);
    if (result != avierr::kOk) {
        writeFailed = true;
        anyWriteRefused = true;
        return result;
    }
    audioPosition += static_cast<int32_t>(samples);
    return avierr::kOk;
}

void AviStreamWriter::CloseOutput() {
    if (outputFile == nullptr)
        return;
    avilib::EndRecord(outputFile);
    if (audioStream != nullptr) {
        avilib::ReleaseStream(audioStream);
        audioStream = nullptr;
    }
    if (videoStream != nullptr) {
        avilib::ReleaseStream(videoStream);
        videoStream = nullptr;
    }
    const AviResult closed = avilib::ReleaseFile(outputFile);
    outputFile = nullptr;
    avilib::Shutdown();
    outputComplete = closed == avierr::kOk && !anyWriteRefused;
}

} // namespace clipwright
