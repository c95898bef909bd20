// Byte searches of the recording generator's tests, beside the files and commands all suites share.
#pragma once

#include "FilesAndCommands.h"

#include <cstddef>
#include <cstdint>

namespace clipwright::test {

// Position of the first '0','0','d' run, or -1.
int64_t FirstVideoTagRun(const Bytes& bytes, size_t limit);

} // namespace clipwright::test
