// Flags and field offsets every AVI file shares, whoever wrote it.
#pragma once

#include <cstdint>

namespace clipwright::avi {

inline constexpr uint64_t kRiffSizePosition = 4;
// In the avih payload.
inline constexpr uint64_t kMainFlagsOffset = 12;
inline constexpr uint64_t kMainTotalFramesOffset = 16;

// avih dwFlags
inline constexpr uint32_t kMainFlagHasIndex = 0x10;       // AVIF_HASINDEX
inline constexpr uint32_t kMainFlagMustUseIndex = 0x20;   // AVIF_MUSTUSEINDEX
inline constexpr uint32_t kMainFlagIsInterleaved = 0x100; // AVIF_ISINTERLEAVED

// idx1 entry dwFlags
inline constexpr uint32_t kIndexKeyFrame = 0x10; // AVIIF_KEYFRAME
inline constexpr uint32_t kIndexNoTime = 0x100;  // AVIIF_NO_TIME: a palette change takes no time

// In an OpenDML standard index entry's size: the frame is not a key frame.
inline constexpr uint32_t kStandardIndexDeltaFrame = 0x80000000u;

} // namespace clipwright::avi
