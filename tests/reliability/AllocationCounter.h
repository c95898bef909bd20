// Counts the heap bytes this test program holds, so that memory bounds are checked by counting.
#pragma once

#include <cstddef>

namespace clipwright::test {

size_t HeapBytesInUse();
size_t PeakHeapBytes();
void ResetPeakHeapBytes();

} // namespace clipwright::test
