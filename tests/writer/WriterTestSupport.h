// The writer tests' own piece, beside the files and commands all suites share.
#pragma once

#include "FilesAndCommands.h"

#include <cstdint>
#include <vector>

namespace clipwright::test {

// The frame followed by a zero byte when its size is odd, as the muxer stores it.
std::vector<uint8_t> EvenBuffer(const std::vector<uint8_t>& frame);

} // namespace clipwright::test
