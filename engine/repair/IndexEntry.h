// One idx1 entry as the repairs build their index, and the list of them.
#pragma once

#include "avi/FourCC.h"

#include <cstdint>
#include <deque>

namespace clipwright {

// Written to disk as four little-endian words in this order.
struct IndexEntry {
    FourCC chunkId;
    uint32_t flags = 0;  // 0x10 marks a key frame
    uint32_t offset = 0; // from the 'movi' list type word
    uint32_t size = 0;   // payload bytes, as the chunk's size field says
};

// A deque, not a vector: it grows by blocks, so a long recording's index costs its 16 bytes per
// entry and never twice that while a vector would double.
using IndexEntryList = std::deque<IndexEntry>;

} // namespace clipwright
