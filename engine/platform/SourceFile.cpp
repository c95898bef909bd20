#include "platform/SourceFile.h"

#include "platform/FaultPoints.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace clipwright {

namespace {

// A write lease is granted only while no other descriptor of the file is open anywhere, which is
// how "another program holds it open" is seen. The lease is given back at once: held, it would
// make every other opener wait and would signal this process, and the default action of SIGIO
// ends it. The signal is moved to SIGURG, which is ignored unless a handler was set for it, so
// that not even the moment between taking and giving back can end the process. Where leases are
// not offered (other file systems, files of other owners), the file counts as free.
// False when the lease of `type` was refused because of another open, true when it was granted or
// leases are not offered here.
bool LeaseGranted(int descriptor, int type) {
    struct sigaction current {};
    if (::sigaction(SIGURG, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
        (current.sa_flags & SA_SIGINFO) != 0)
        return true;
    if (::fcntl(descriptor, F_SETSIG, SIGURG) != 0)
        return true;
    if (::fcntl(descriptor, F_SETLEASE, type) != 0)
        return !(errno == EAGAIN || errno == EBUSY);
    ::fcntl(descriptor, F_SETLEASE, F_UNLCK);
    return true;
}

bool NobodyElseHasOpen(int descriptor) {
    return LeaseGranted(descriptor, F_WRLCK);
}

} // namespace

// A read lease is refused while any descriptor of the file is open for writing.
bool HeldOpenForWriting(int readOnlyDescriptor) {
    return !LeaseGranted(readOnlyDescriptor, F_RDLCK);
}

SourceFile::~SourceFile() {
    Abandon();
}

bool SourceFile::Open(const std::string& path, ShareMode share, FileError& error) {
    Abandon();
    if (int injected = faults::Check(faults::Operation::Open, {path})) {
        error = FileError::FromErrno(injected, path);
        return false;
    }
    // Non-blocking so that a FIFO standing under a recording's name cannot hang the open.
    int descriptor = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        error = FileError::FromErrno(errno, path);
        return false;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        int reason = S_ISREG(status.st_mode) ? errno : EACCES;
        ::close(descriptor);
        error = FileError::FromErrno(reason, path);
        return false;
    }
    // A file without any write permission is read-only to everyone, as its owner meant, even to
    // an administrator whom the system would let write it.
    if ((status.st_mode & 0222) == 0) {
        ::close(descriptor);
        error = FileError::FromErrno(EACCES, path);
        return false;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    if (share == ShareMode::Exclusive && !NobodyElseHasOpen(descriptor)) {
        ::close(descriptor);
        error = FileError(filecause::kSharingViolation, EBUSY, path);
        return false;
    }
    descriptor_ = descriptor;
    position_ = 0;
    path_ = path;
    return true;
}

size_t SourceFile::Read(void* buffer, size_t count) {
    size_t got = ReadAt(position_, buffer, count);
    position_ += got;
    return got;
}

size_t SourceFile::ReadAt(uint64_t position, void* buffer, size_t count) {
    if (descriptor_ < 0)
        Raise(EBADF);
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t total = 0;
    while (total < count) {
        if (int injected = faults::Check(faults::Operation::Read))
            Raise(injected);
        ssize_t got =
            ::pread(descriptor_, bytes + total, count - total, static_cast<off_t>(position + total));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            Raise(errno);
        }
        if (got == 0)
            break;
        total += static_cast<size_t>(got);
    }
    return total;
}

uint64_t SourceFile::Seek(int64_t distance, SeekFrom from) {
    if (descriptor_ < 0)
        Raise(EBADF);
    int64_t base = 0;
    if (from == SeekFrom::Current)
        base = static_cast<int64_t>(position_);
    else if (from == SeekFrom::End)
        base = static_cast<int64_t>(Length());
    int64_t target = base + distance;
    if (target < 0)
        Raise(EINVAL);
    position_ = static_cast<uint64_t>(target);
    return position_;
}

void SourceFile::Write(const void* data, size_t count) {
    if (descriptor_ < 0)
        Raise(EBADF);
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t total = 0;
    while (total < count) {
        if (int injected =
                faults::Check(faults::Operation::Write, {path_, {}, position_ + total, count - total}))
            Raise(injected);
        ssize_t written =
            ::pwrite(descriptor_, bytes + total, count - total, static_cast<off_t>(position_ + total));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            Raise(errno);
        }
        // A write that makes no progress is a full disk, whatever the system says about it.
        if (written == 0)
            throw FileError(filecause::kDiskFull, ENOSPC, path_);
        total += static_cast<size_t>(written);
    }
    position_ += total;
}

void SourceFile::Close() {
    if (descriptor_ < 0)
        return;
    int descriptor = descriptor_;
    descriptor_ = -1;
    int injected = faults::Check(faults::Operation::Close);
    if (::close(descriptor) != 0 && errno != EINTR)
        Raise(errno);
    if (injected != 0)
        Raise(injected);
}

void SourceFile::Abandon() noexcept {
    if (descriptor_ < 0)
        return;
    ::close(descriptor_);
    descriptor_ = -1;
}

void SourceFile::Sync() {
    if (descriptor_ < 0)
        Raise(EBADF);
    if (int injected = faults::Check(faults::Operation::Sync, {path_}))
        Raise(injected);
    if (::fdatasync(descriptor_) != 0)
        Raise(errno);
}

uint64_t SourceFile::Length() {
    if (descriptor_ < 0)
        Raise(EBADF);
    struct stat status {};
    if (::fstat(descriptor_, &status) != 0)
        Raise(errno);
    return static_cast<uint64_t>(status.st_size);
}

void SourceFile::Raise(int systemError) const {
    throw FileError::FromErrno(systemError, path_);
}

} // namespace clipwright
