#include "HeaderBlock.h"

#include "RiffBuilder.h"
#include "avi/CameraLayout.h"
#include "avi/LittleEndian.h"

#include <array>
#include <stdexcept>
#include <string>

namespace clipwright::recgen {

namespace {

// Where the camera's header block puts the audio stream list: its strh fccType lands on the fixed
// offset, or 8 bytes behind it.
constexpr uint32_t kAudioListShift = 8;
constexpr uint32_t kStrlToStrhType = 20; // 'LIST' size 'strl' 'strh' size, then fccType
constexpr uint32_t kStrhTypeToLength = 32;

constexpr uint32_t kAudioSampleRate = 8000;
constexpr uint32_t kAudioBlockAlign = 256;
constexpr uint32_t kAudioAvgBytesPerSecond = 4096;
constexpr uint16_t kAudioSamplesPerBlock = 500;
constexpr uint16_t kWaveFormatMsAdpcm = 2;

struct AdpcmCoefficients {
    int16_t first;
    int16_t second;
};
constexpr std::array<AdpcmCoefficients, 7> kAdpcmCoefficients{
    {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}}};

uint32_t AudioStrhType(const HeaderOptions& options) {
    return layout::kSecondStreamType +
           (options.audioHeader == AudioHeaderPlace::ShiftedBy8 ? kAudioListShift : 0);
}

uint32_t ChunkListPosition(const HeaderOptions& options) {
    return options.layout == HeaderLayout::Shifted ? layout::kShiftedMoviList : layout::kMoviList;
}

void PutMainHeader(RiffBuilder& riff, const HeaderOptions& options) {
    const size_t avih = riff.BeginChunk(fourcc::kAvih);
    const uint64_t microSecondsPerFrame =
        options.videoRate == 0 ? 0 : uint64_t{1000000} * options.videoScale / options.videoRate;
    riff.PutU32(static_cast<uint32_t>(microSecondsPerFrame)); // dwMicroSecPerFrame
    riff.PutU32(0);                                           // dwMaxBytesPerSec
    riff.PutU32(0);                                           // dwPaddingGranularity
    riff.PutU32(0);                                           // dwFlags: no index yet
    riff.PutU32(0);                                           // dwTotalFrames
    riff.PutU32(0);                                           // dwInitialFrames
    riff.PutU32(2);                                           // dwStreams
    riff.PutU32(0);                                           // dwSuggestedBufferSize
    riff.PutU32(options.width);                               // dwWidth
    riff.PutU32(options.height);                              // dwHeight
    riff.PutZeros(16);                                        // dwReserved[4]
    riff.EndChunk(avih);
}

void PutVideoStreamList(RiffBuilder& riff, const HeaderOptions& options) {
    const size_t strl = riff.BeginList(fourcc::kList, fourcc::kStrl);

    const size_t strh = riff.BeginChunk(fourcc::kStrh);
    riff.PutFourCC(fourcc::kVids);                      // fccType
    riff.PutFourCC(fourcc::kDivx);                      // fccHandler
    riff.PutU32(0);                                     // dwFlags
    riff.PutU16(0);                                     // wPriority
    riff.PutU16(0);                                     // wLanguage
    riff.PutU32(0);                                     // dwInitialFrames
    riff.PutU32(options.videoScale);                    // dwScale
    riff.PutU32(options.videoRate);                     // dwRate
    riff.PutU32(0);                                     // dwStart
    riff.PutU32(0);                                     // dwLength
    riff.PutU32(0);                                     // dwSuggestedBufferSize
    riff.PutU32(0);                                     // dwQuality
    riff.PutU32(0);                                     // dwSampleSize
    riff.PutI16(0);                                     // rcFrame.left
    riff.PutI16(0);                                     // rcFrame.top
    riff.PutU16(static_cast<uint16_t>(options.width));  // rcFrame.right
    riff.PutU16(static_cast<uint16_t>(options.height)); // rcFrame.bottom
    riff.EndChunk(strh);

    const size_t strf = riff.BeginChunk(fourcc::kStrf);
    riff.PutU32(40);                                 // biSize
    riff.PutU32(options.width);                      // biWidth
    riff.PutU32(options.height);                     // biHeight
    riff.PutU16(1);                                  // biPlanes
    riff.PutU16(24);                                 // biBitCount
    riff.PutFourCC(fourcc::kDx50);                   // biCompression
    riff.PutU32(options.width * options.height * 3); // biSizeImage
    riff.PutU32(0);                                  // biXPelsPerMeter
    riff.PutU32(0);                                  // biYPelsPerMeter
    riff.PutU32(0);                                  // biClrUsed
    riff.PutU32(0);                                  // biClrImportant
    riff.EndChunk(strf);

    // The camera pads its video stream list so that the audio stream list starts at a fixed place.
    const size_t junk = riff.BeginChunk(fourcc::kJunk);
    const uint32_t audioList = AudioStrhType(options) - kStrlToStrhType;
    riff.PutZeros(audioList - riff.Size());
    riff.EndChunk(junk);

    riff.EndChunk(strl);
}

void PutAudioStreamList(RiffBuilder& riff) {
    const size_t strl = riff.BeginList(fourcc::kList, fourcc::kStrl);

    const size_t strh = riff.BeginChunk(fourcc::kStrh);
    riff.PutFourCC(fourcc::kAuds);        // fccType
    riff.PutU32(0);                       // fccHandler
    riff.PutU32(0);                       // dwFlags
    riff.PutU16(0);                       // wPriority
    riff.PutU16(0);                       // wLanguage
    riff.PutU32(0);                       // dwInitialFrames
    riff.PutU32(kAudioBlockAlign);        // dwScale
    riff.PutU32(kAudioAvgBytesPerSecond); // dwRate
    riff.PutU32(0);                       // dwStart
    riff.PutU32(0);                       // dwLength
    riff.PutU32(kAudioBlockAlign);        // dwSuggestedBufferSize
    riff.PutU32(0);                       // dwQuality
    riff.PutU32(kAudioBlockAlign);        // dwSampleSize
    riff.PutZeros(8);                     // rcFrame
    riff.EndChunk(strh);

    const size_t strf = riff.BeginChunk(fourcc::kStrf);
    riff.PutU16(kWaveFormatMsAdpcm);        // wFormatTag
    riff.PutU16(1);                         // nChannels
    riff.PutU32(kAudioSampleRate);          // nSamplesPerSec
    riff.PutU32(kAudioAvgBytesPerSecond);   // nAvgBytesPerSec
    riff.PutU16(kAudioBlockAlign);          // nBlockAlign
    riff.PutU16(4);                         // wBitsPerSample
    riff.PutU16(32);                        // cbSize
    riff.PutU16(kAudioSamplesPerBlock);     // wSamplesPerBlock
    riff.PutU16(kAdpcmCoefficients.size()); // wNumCoef
    for (const AdpcmCoefficients& pair : kAdpcmCoefficients) {
        riff.PutI16(pair.first);  // iCoef1
        riff.PutI16(pair.second); // iCoef2
    }
    riff.EndChunk(strf);

    riff.EndChunk(strl);
}

std::vector<uint8_t> BuildCameraHeader(const HeaderOptions& options) {
    RiffBuilder riff;
    riff.BeginList(fourcc::kRiff, fourcc::kAvi); // size stays 0 until the recording is finished
    const size_t hdrl = riff.BeginList(fourcc::kList, fourcc::kHdrl);
    PutMainHeader(riff, options);
    PutVideoStreamList(riff, options);
    PutAudioStreamList(riff);
    riff.EndChunk(hdrl);

    const uint32_t chunkList = ChunkListPosition(options);
    const size_t junk = riff.BeginChunk(fourcc::kJunk);
    riff.PutZeros(chunkList - riff.Size());
    riff.EndChunk(junk);

    riff.PutFourCC(fourcc::kList);
    riff.PutU32(0); // list size: unknown while recording
    riff.PutFourCC(options.layout == HeaderLayout::OtherList ? options.otherListType : fourcc::kMovi);
    return riff.Take();
}

// Deterministic filler standing where a lost header was: no '0' byte at all, so no '0','0','d' run.
std::vector<uint8_t> BuildLostHeaderFiller(const HeaderOptions& options) {
    std::vector<uint8_t> filler(options.lostHeaderDataStart, 0);
    if (options.lostHeaderFill == LostHeaderFill::Zeros)
        return filler;
    uint32_t state = 0x2545F491;
    for (uint8_t& byte : filler) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
        if (byte == '0')
            byte = static_cast<uint8_t>(byte ^ 0x80);
    }
    if (filler.size() >= 4 && FourCC::FromBytes(filler.data()) == fourcc::kRiff)
        filler[0] = 0;
    return filler;
}

} // namespace

RecordingGeometry GeometryOf(const HeaderOptions& options) {
    RecordingGeometry geometry;
    if (options.layout == HeaderLayout::HeaderLost) {
        geometry.firstChunk = options.lostHeaderDataStart;
        geometry.moviBase = options.lostHeaderDataStart >= 4 ? options.lostHeaderDataStart - 4 : 0;
        return geometry;
    }
    const uint32_t chunkList = ChunkListPosition(options);
    geometry.hasHeaderBlock = true;
    geometry.listSizeField = chunkList + 4;
    geometry.moviBase = chunkList + 8;
    geometry.firstChunk = chunkList + 12;
    geometry.audioLengthField = AudioStrhType(options) + kStrhTypeToLength;
    return geometry;
}

std::vector<uint8_t> BuildHeaderBlock(const HeaderOptions& options) {
    std::vector<uint8_t> block = options.layout == HeaderLayout::HeaderLost ? BuildLostHeaderFiller(options)
                                                                            : BuildCameraHeader(options);
    if (block.size() != GeometryOf(options).firstChunk)
        throw std::logic_error("header block of " + std::to_string(block.size()) +
                               " bytes does not end at the first chunk");
    return block;
}

} // namespace clipwright::recgen
