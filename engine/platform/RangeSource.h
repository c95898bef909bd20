// A stretch of a larger file read as if it were a file of its own: a recording found inside a disk
// image is looked at where it stands, without a copy.
#pragma once

#include "platform/SourceFile.h"

#include <algorithm>
#include <cstdint>

namespace clipwright {

class RangeSource : public ByteSource {
public:
    RangeSource(ByteSource& file, uint64_t start, uint64_t length)
        : file_(file), start_(start), length_(length) {}

    size_t ReadAt(uint64_t position, void* buffer, size_t count) override {
        if (position >= length_)
            return 0;
        const uint64_t left = length_ - position;
        return file_.ReadAt(start_ + position, buffer, static_cast<size_t>(std::min<uint64_t>(count, left)));
    }
    bool ReadsInBlocks() const override { return file_.ReadsInBlocks(); }
    uint64_t Length() const { return length_; }

private:
    ByteSource& file_;
    uint64_t start_;
    uint64_t length_;
};

} // namespace clipwright
