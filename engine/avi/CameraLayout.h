// What the engine knows of the QC-7 camera's recordings, in one place: the fixed offsets of its
// header block (the camera always writes the same shape, so these fields are read and patched by
// position), its frame sizes and rates, its chunk ids and its key-frame rule.
#pragma once

#include "avi/AviConstants.h"
#include "avi/FourCC.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace clipwright {

class MediaIds;

namespace layout {

inline constexpr uint32_t kRiffSize = 4;             // RIFF chunk size
inline constexpr uint32_t kMainFlags = 44;           // avih dwFlags
inline constexpr uint32_t kMainTotalFrames = 48;     // avih dwTotalFrames
inline constexpr uint32_t kMainWidth = 64;           // avih dwWidth
inline constexpr uint32_t kMainHeight = 68;          // avih dwHeight
inline constexpr uint32_t kVideoScale = 128;         // first strh dwScale
inline constexpr uint32_t kVideoRate = 132;          // first strh dwRate
inline constexpr uint32_t kVideoLength = 140;        // first strh dwLength
inline constexpr uint32_t kSecondStreamType = 488;   // second strh fccType
inline constexpr uint32_t kAudioLength = 520;        // audio strh dwLength when 'auds' stands at 488
inline constexpr uint32_t kAudioLengthShifted = 528; // audio strh dwLength otherwise
inline constexpr uint32_t kShiftedMoviList = 2036;   // 'LIST' of the movi list in a shifted recording
inline constexpr uint32_t kMoviList = 2048;          // 'LIST' of the movi list; first chunk when shifted
inline constexpr uint32_t kMoviSize = 2052;          // movi list size
inline constexpr uint32_t kMoviBase = 2056;          // 'movi' list type; idx1 offsets count from here
inline constexpr uint32_t kFirstChunk = 2060;        // first chunk of the movi list

inline constexpr uint32_t kMainFlagsIndexed = avi::kMainFlagHasIndex | avi::kMainFlagIsInterleaved;
inline constexpr uint32_t kIndexKeyFrame = avi::kIndexKeyFrame;
inline constexpr uint32_t kAudioLengthPerChunk = 1024;
inline constexpr uint32_t kPadUnit = 2048; // a repaired file ends on a multiple of this

// Positions and sizes are 32-bit and the camera's files stay below 2 GiB.
inline constexpr uint64_t kMaxRecordingSize = 0x80000000ULL;

// Fields of the header block read to tell the camera's own header from another writer's.
inline constexpr uint32_t kVideoStreamType = 108;     // video strh fccType
inline constexpr uint32_t kVideoHandler = 112;        // video strh fccHandler
inline constexpr uint32_t kVideoCompression = 188;    // video strf biCompression
inline constexpr uint32_t kAudioListShift = 8;        // the audio stream list may begin 8 bytes later
inline constexpr uint32_t kStrhTypeToFormatTag = 64;  // audio strh fccType to strf wFormatTag
inline constexpr uint32_t kStrhTypeToSampleRate = 68; // audio strh fccType to strf nSamplesPerSec
inline constexpr uint16_t kAudioFormatMsAdpcm = 2;

// Above this no camera records, and the writer's rate would overflow.
inline constexpr uint32_t kHighestFrameRate = 120;
// The rates the camera offers.
inline constexpr std::array<uint32_t, 5> kCameraFrameRates = {5, 7, 10, 15, 30};

} // namespace layout

// 0 = 640 by 480, 1 = 320 by 240, 2 = 160 by 112, 3 = not recognised (written like 2).
using ResolutionCode = uint8_t;
inline constexpr ResolutionCode kResolutionVga = 0;
inline constexpr ResolutionCode kResolutionQvga = 1;
inline constexpr ResolutionCode kResolutionQqvga = 2;
inline constexpr ResolutionCode kResolutionUnknown = 3;

// The camera's frame size as its code: 640x480, 320x240, 160x112; any other size, or none, unknown.
inline ResolutionCode ResolutionFromSize(std::optional<uint32_t> width, std::optional<uint32_t> height) {
    if (width == 640u && height == 480u)
        return kResolutionVga;
    if (width == 320u && height == 240u)
        return kResolutionQvga;
    if (width == 160u && height == 112u)
        return kResolutionQqvga;
    return kResolutionUnknown;
}

// Capture settings a rebuilt file is written with, as the old header gives them or as the user
// answers the "Image Setting Needed" prompt.
struct ImageSettings {
    ResolutionCode resolution = kResolutionVga;
    uint32_t framesPerSecond = 0;
};

// Whole frames a second from a stream header's rate and scale, as the camera's rebuild takes them
// (15000/1001 is 14); 0 when either is 0 or missing.
inline uint32_t WholeFramesPerSecond(std::optional<uint32_t> rate, std::optional<uint32_t> scale) {
    return scale.value_or(0) != 0 && rate.value_or(0) != 0 ? *rate / *scale : 0;
}

// Settings a rebuild can write with, asking nobody: a size the camera records and a rate it can have.
inline bool UsableSettings(ResolutionCode resolution, uint32_t framesPerSecond) {
    return framesPerSecond != 0 && framesPerSecond <= layout::kHighestFrameRate &&
           resolution != kResolutionUnknown;
}

// The ids each camera repair takes for footage.
const MediaIds& CameraIndexedIds();   // the in-place scan: 00db 00dc 01db 01dc 00wb 01wb
const MediaIds& CameraCopiedIds();    // the rebuild: 00db 00dc 01wb
bool IsCameraVideo(const FourCC& id); // of the in-place scan's ids

// An MPEG-4 video object start code opens every key frame the camera writes.
inline bool StartsCameraKeyFrame(std::span<const uint8_t> firstBytes) {
    static constexpr std::array<uint8_t, 4> kVideoObjectStart = {0x00, 0x00, 0x01, 0x00};
    return firstBytes.size() >= 4 &&
           std::equal(kVideoObjectStart.begin(), kVideoObjectStart.end(), firstBytes.begin());
}

} // namespace clipwright
