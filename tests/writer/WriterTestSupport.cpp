#include "WriterTestSupport.h"

namespace clipwright::test {

std::vector<uint8_t> EvenBuffer(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> buffer = frame;
    if (buffer.size() % 2 != 0)
        buffer.push_back(0);
    return buffer;
}

} // namespace clipwright::test
