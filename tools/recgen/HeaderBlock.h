// The bytes a recording holds before its first chunk, and where its patchable fields stand.
#pragma once

#include "RecordingOptions.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace clipwright::recgen {

struct RecordingGeometry {
    uint64_t firstChunk = 0; // position of the first chunk
    uint64_t moviBase = 0;   // idx1 offsets count from here: the list type word before the first chunk
    bool hasHeaderBlock = false;
    uint64_t listSizeField = 0;    // size field of the list that holds the chunks (with a header block)
    uint64_t audioLengthField = 0; // audio strh dwLength (with a header block)
};

RecordingGeometry GeometryOf(const HeaderOptions& options);

// Exactly GeometryOf(options).firstChunk bytes: the camera's fixed-shape AVI header block followed by the
// opening of the chunk list, or the filler of a lost header. Counts and sizes are 0, as the camera
// writes them when it starts recording.
std::vector<uint8_t> BuildHeaderBlock(const HeaderOptions& options);

} // namespace clipwright::recgen
