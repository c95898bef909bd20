#include "platform/ReadAhead.h"

#include <algorithm>
#include <cstring>

namespace clipwright {

ReadAhead::ReadAhead(ByteSource& file, size_t blockSize, size_t keptBehind)
    : file_(file), block_(blockSize), keptBehind_(keptBehind) {}

bool ReadAhead::Holds(uint64_t position, size_t count) const {
    return position >= blockStart_ && position + count <= blockStart_ + blockBytes_;
}

void ReadAhead::Fill(uint64_t position, size_t count) {
    uint64_t start = position;
    if (position > blockStart_) {
        // Never back past the old block, and never so far that the bytes asked for do not fit.
        start -= std::min<uint64_t>({keptBehind_, position - blockStart_, block_.size() - count});
    }
    blockBytes_ = 0; // a failed read leaves nothing stale behind
    blockStart_ = start;
    blockBytes_ = file_.ReadAt(start, block_.data(), block_.size());
}

size_t ReadAhead::ReadAt(uint64_t position, void* buffer, size_t count) {
    if (!Holds(position, count)) {
        if (count >= block_.size())
            return file_.ReadAt(position, buffer, count);
        Fill(position, count);
    }
    size_t available = position - blockStart_ < blockBytes_ ? blockBytes_ - (position - blockStart_) : 0;
    size_t copied = count < available ? count : available;
    if (copied > 0) // an empty read may come with no buffer at all
        std::memcpy(buffer, block_.data() + (position - blockStart_), copied);
    return copied;
}

const uint8_t* ReadAhead::View(uint64_t position, size_t count) {
    if (count > block_.size())
        return nullptr;
    if (!Holds(position, count))
        Fill(position, count);
    return Holds(position, count) ? block_.data() + (position - blockStart_) : nullptr;
}

} // namespace clipwright
