#include "platform/ReadOnlyFile.h"

#include "platform/FaultPoints.h"
#include "platform/Progress.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace clipwright {

ReadOnlyFile::~ReadOnlyFile() {
    Close();
}

void ReadOnlyFile::Close() noexcept {
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
}

bool ReadOnlyFile::Open(const std::string& path, FileError& error, bool blockDevices) {
    if (int injected = faults::Check(faults::Operation::Open, {path})) {
        error = FileError::FromErrno(injected, path);
        return false;
    }
    // Non-blocking so that a FIFO under a recording's name cannot hang the open.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        error = FileError::FromErrno(errno, path);
        return false;
    }
    struct stat status {};
    const bool statted = ::fstat(descriptor, &status) == 0;
    if (statted && blockDevices && S_ISBLK(status.st_mode)) {
        const off_t length = ::lseek(descriptor, 0, SEEK_END);
        status.st_size = length > 0 ? length : 0;
    } else if (!statted || !S_ISREG(status.st_mode)) {
        const int reason = S_ISREG(status.st_mode) ? errno : EACCES;
        ::close(descriptor);
        error = FileError::FromErrno(reason, path);
        return false;
    }
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = descriptor;
    path_ = path;
    status_ = status;
    blockBytes_ = 0;
    return true;
}

size_t ReadOnlyFile::ReadDirect(uint64_t position, void* buffer, size_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t total = 0;
    while (total < count) {
        if (int injected = faults::Check(faults::Operation::Read, {path_}))
            throw FileError::FromErrno(injected, path_);
        const ssize_t got =
            ::pread(descriptor_, bytes + total, count - total, static_cast<off_t>(position + total));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw FileError::FromErrno(errno, path_);
        }
        if (got == 0)
            break;
        total += static_cast<size_t>(got);
    }
    if (progress_ != nullptr)
        progress_->Reached(position + total);
    return total;
}

size_t ReadOnlyFile::ReadAt(uint64_t position, void* buffer, size_t count) {
    if (descriptor_ < 0)
        throw FileError::FromErrno(EBADF, path_);
    if (count >= kBlockBytes)
        return ReadDirect(position, buffer, count);
    const bool held = position >= blockStart_ && position + count <= blockStart_ + blockBytes_;
    averageStride_ = (averageStride_ * 7 + (position - std::min(position, lastPosition_))) / 8;
    lastPosition_ = position;
    const bool farApart = averageStride_ > kFarApart;
    if (!held && farApart && position >= previousStart_ &&
        position + count <= previousStart_ + previousBytes_) {
        if (count > 0)
            std::memcpy(buffer, previous_.data() + (position - previousStart_), count);
        return count;
    }
    if (!held) {
        // Kept by copy, and only a small read: a second block would double what the look holds.
        previousBytes_ = 0;
        // Nothing to keep before the first read: an empty block has no data to copy from.
        if (farApart && blockBytes_ != 0 && blockBytes_ <= kPreviousBytes) {
            previous_.resize(kPreviousBytes);
            std::memcpy(previous_.data(), block_.data(), blockBytes_);
            previousStart_ = blockStart_;
            previousBytes_ = blockBytes_;
        }
        block_.resize(kBlockBytes);
        blockBytes_ = 0; // a failed read leaves nothing stale behind
        blockStart_ = position;
        blockBytes_ =
            ReadDirect(position, block_.data(), farApart ? std::max(count, kSmallReadBytes) : block_.size());
    }
    const uint64_t offset = position - blockStart_;
    const size_t available = offset < blockBytes_ ? blockBytes_ - static_cast<size_t>(offset) : 0;
    const size_t copied = std::min(count, available);
    if (copied > 0) // an empty read may come with no buffer at all
        std::memcpy(buffer, block_.data() + offset, copied);
    return copied;
}

} // namespace clipwright
