// Fixed offsets of a QC-7 camera recording's header block. The camera always writes the same
// header shape, so the engine reads and patches these fields by position, never by parsing.
#pragma once

#include <cstdint>

namespace clipwright::layout {

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

inline constexpr uint32_t kMainFlagsIndexed = 0x110; // AVIF_HASINDEX | AVIF_ISINTERLEAVED
inline constexpr uint32_t kIndexKeyFrame = 0x10;     // AVIIF_KEYFRAME
inline constexpr uint32_t kAudioLengthPerChunk = 1024;
inline constexpr uint32_t kPadUnit = 2048; // a repaired file ends on a multiple of this

// Positions and sizes are 32-bit and the camera's files stay below 2 GiB.
inline constexpr uint64_t kMaxRecordingSize = 0x80000000ULL;

} // namespace clipwright::layout
