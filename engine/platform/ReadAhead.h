// Reading a recording front to back in blocks: a rebuild copies every byte, and one system call
// per chunk would cost more than the copying itself. A walk reads its chunk headers through a
// small block, which holds the next header too when a chunk is short.
#pragma once

#include "platform/SourceFile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace clipwright {

class ReadAhead : public ByteSource {
public:
    // A block that moves forward keeps up to `keptBehind` bytes in front of the position read: a
    // walk judges the header behind a chunk before the chunk's payload is read, and that payload
    // should not have to be read again.
    explicit ReadAhead(ByteSource& file, size_t blockSize = size_t{1} << 20,
                       size_t keptBehind = size_t{64} << 10);

    // As SourceFile::ReadAt: fewer bytes, or none, at the end of the file.
    size_t ReadAt(uint64_t position, void* buffer, size_t count) override;
    bool ReadsInBlocks() const override { return true; }

    // The bytes from `position` on, in place in the block, when the file holds all `count` of them
    // and they fit one block; nullptr otherwise. Valid until the next call.
    const uint8_t* View(uint64_t position, size_t count);

private:
    bool Holds(uint64_t position, size_t count) const;
    // Reads the block that holds `count` bytes from `position` on, or as many as the file has.
    void Fill(uint64_t position, size_t count);

    ByteSource& file_;
    std::vector<uint8_t> block_;
    size_t keptBehind_;
    uint64_t blockStart_ = 0;
    size_t blockBytes_ = 0;
};

} // namespace clipwright
