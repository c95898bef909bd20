#include "RecgenTestFiles.h"

#include <algorithm>

namespace clipwright::test {

int64_t FirstVideoTagRun(const Bytes& bytes, size_t limit) {
    for (size_t at = 0; at + 3 <= std::min(limit, bytes.size()); ++at) {
        if (bytes[at] == '0' && bytes[at + 1] == '0' && bytes[at + 2] == 'd')
            return static_cast<int64_t>(at);
    }
    return -1;
}

} // namespace clipwright::test
