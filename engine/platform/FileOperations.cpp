#include "platform/FileOperations.h"

#include "platform/FaultPoints.h"
#include "platform/Progress.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace clipwright {

namespace {

std::string DirectoryPrefix(const std::string& path) {
    size_t separator = path.rfind('/');
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string BaseName(const std::string& path) {
    size_t separator = path.rfind('/');
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// Copies every byte of `source` into `target`, both open; returns 0 or an errno.
// Steps of the kernel's copy: small enough for the progress to move and a stop to be heard soon.
constexpr size_t kCopyStepBytes = size_t{64} << 20;

// `range`: only `length` bytes from `start` on, rather than the whole source from its position.
struct CopyRange {
    uint64_t start = 0;
    uint64_t length = 0;
};

int CopyContents(int source, int target, const std::string& targetPath, ProgressMeter* progress,
                 std::optional<CopyRange> range = std::nullopt) {
    const faults::Access writing{targetPath};
    uint64_t copiedSoFar = 0;
    auto reached = [&](ssize_t bytes) {
        copiedSoFar += static_cast<uint64_t>(bytes);
        if (progress != nullptr)
            progress->Reached(copiedSoFar);
    };
    for (;;) {
        if (int injected = faults::Check(faults::Operation::Write, writing))
            return injected;
        loff_t from = range ? static_cast<loff_t>(range->start + copiedSoFar) : 0;
        const size_t step =
            range ? static_cast<size_t>(std::min<uint64_t>(kCopyStepBytes, range->length - copiedSoFar))
                  : kCopyStepBytes;
        if (step == 0)
            return 0;
        ssize_t copied = ::copy_file_range(source, range ? &from : nullptr, target, nullptr, step, 0);
        if (copied == 0)
            return range ? EIO : 0; // the source ended before the range did
        if (copied > 0) {
            reached(copied);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
            return errno;
        break; // not offered between these files: copy through a buffer
    }
    std::array<char, 1 << 16> buffer{};
    for (;;) {
        if (int injected = faults::Check(faults::Operation::Read))
            return injected;
        const size_t want =
            range ? static_cast<size_t>(std::min<uint64_t>(buffer.size(), range->length - copiedSoFar))
                  : buffer.size();
        if (want == 0)
            return 0;
        ssize_t got =
            range ? ::pread(source, buffer.data(), want, static_cast<off_t>(range->start + copiedSoFar))
                  : ::read(source, buffer.data(), want);
        if (got == 0)
            return range ? EIO : 0;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        size_t done = 0;
        while (done < static_cast<size_t>(got)) {
            if (int injected = faults::Check(faults::Operation::Write, writing))
                return injected;
            ssize_t written = ::write(target, buffer.data() + done, static_cast<size_t>(got) - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return written == 0 ? ENOSPC : errno;
            done += static_cast<size_t>(written);
        }
        reached(got);
    }
}

// The copy's bytes, then the file on disk and both descriptors closed; on any failure or stop the
// partial file goes.
int CopyAndClose(int source, int target, const std::string& partial, ProgressMeter* progress,
                 std::optional<CopyRange> range = std::nullopt) {
    int reason = 0;
    try {
        reason = CopyContents(source, target, partial, progress, range);
    } catch (const JobStopped&) {
        ::close(source);
        ::close(target);
        DeleteFileQuietly(partial);
        throw;
    }
    ::close(source);
    if (reason == 0)
        reason = SyncFile(target, partial);
    if (int injected = faults::Check(faults::Operation::Close); injected != 0 && reason == 0)
        reason = injected;
    if (::close(target) != 0 && reason == 0)
        reason = errno;
    if (reason != 0)
        DeleteFileQuietly(partial);
    return reason;
}

} // namespace

std::string PartialName(const std::string& target) {
    return DirectoryPrefix(target) + "." + BaseName(target) + ".partial";
}

int OpenCopy(const std::string& from, const std::string& partial, bool keepWritable, CopyEnds& ends) {
    if (int injected = faults::Check(faults::Operation::Open, {from}))
        return injected;
    int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (source < 0)
        return errno;
    struct stat status {};
    if (::fstat(source, &status) != 0 || !S_ISREG(status.st_mode)) {
        int reason = S_ISREG(status.st_mode) ? errno : EINVAL;
        ::close(source);
        return reason;
    }
    // A partial file left by an interrupted run is ours to remove; a link there is removed, not followed.
    DeleteFileQuietly(partial);
    int target = CreatePrivateFile(partial);
    if (target < 0) {
        int reason = errno;
        ::close(source);
        return reason;
    }
    TakeOwnerAndMode(target, status);
    if (keepWritable && (status.st_mode & S_IWUSR) == 0)
        (void)::fchmod(target, (status.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID)) | S_IWUSR);
    ends = {source, target};
    return 0;
}

int CopyBetween(CopyEnds ends, const std::string& partial, ProgressMeter* progress) {
    return CopyAndClose(ends.source, ends.target, partial, progress);
}

int CopyToNewFile(const std::string& from, const std::string& partial, bool keepWritable,
                  ProgressMeter* progress) {
    CopyEnds ends;
    if (int reason = OpenCopy(from, partial, keepWritable, ends))
        return reason;
    return CopyBetween(ends, partial, progress);
}

int CopyRangeToNewFile(const std::string& from, uint64_t start, uint64_t length, const std::string& partial,
                       ProgressMeter* progress) {
    if (int injected = faults::Check(faults::Operation::Open, {from}))
        return injected;
    int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (source < 0)
        return errno;
    struct stat status {};
    if (::fstat(source, &status) != 0) {
        int reason = errno;
        ::close(source);
        return reason;
    }
    int target = CreatePrivateFile(partial);
    if (target < 0) {
        int reason = errno;
        ::close(source);
        return reason;
    }
    // Writable by its owner whatever the source's mode: it is repaired in place next.
    (void)::fchmod(target, (status.st_mode & 0666) | S_IWUSR);
    return CopyAndClose(source, target, partial, progress, CopyRange{start, length});
}

int PlaceNewFile(const std::string& partial, const std::string& to) {
    int reason = SyncDirectoryOf(partial);
    if (reason == 0)
        reason = RenameReplacing(partial, to);
    if (reason == 0)
        reason = SyncDirectoryOf(to);
    if (reason != 0)
        DeleteFileQuietly(partial);
    return reason;
}

int CopyFileReplacing(const std::string& from, const std::string& to) {
    const std::string partial = PartialName(to);
    int reason = CopyToNewFile(from, partial);
    return reason != 0 ? reason : PlaceNewFile(partial, to);
}

int CreatePrivateFile(const std::string& path) {
    if (int injected = faults::Check(faults::Operation::Create, {path})) {
        errno = injected;
        return -1;
    }
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

void TakeOwnerAndMode(int descriptor, const struct stat& recording) {
    // Only root may give a file away; anyone may keep the group when a member of it. A file that
    // cannot take the owner keeps the one who repairs it, and still gets the recording's mode.
    if (::fchown(descriptor, recording.st_uid, recording.st_gid) != 0)
        (void)::fchown(descriptor, static_cast<uid_t>(-1), recording.st_gid);
    (void)::fchmod(descriptor, recording.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID));
}

int SyncFile(int descriptor, const std::string& path) {
    if (int injected = faults::Check(faults::Operation::Sync, {path}))
        return injected;
    return ::fsync(descriptor) == 0 ? 0 : errno;
}

int SyncDirectoryOf(const std::string& path) {
    std::string directory = DirectoryPrefix(path);
    if (directory.empty())
        directory = ".";
    if (int injected = faults::Check(faults::Operation::SyncDirectory, {directory}))
        return injected;
    int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return errno;
    int reason = ::fsync(descriptor) == 0 ? 0 : errno;
    ::close(descriptor);
    // Some file systems cannot sync a folder; their renames are as durable as they will get.
    return reason == EINVAL || reason == EROFS ? 0 : reason;
}

int FinishNewFile(const std::string& path, const struct stat& recording) {
    if (int injected = faults::Check(faults::Operation::Open, {path}))
        return injected;
    int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return errno;
    TakeOwnerAndMode(descriptor, recording);
    int reason = SyncFile(descriptor, path);
    ::close(descriptor);
    return reason != 0 ? reason : SyncDirectoryOf(path);
}

int SetModeOf(const std::string& path, const struct stat& recording) {
    return ::chmod(path.c_str(), recording.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID)) == 0
               ? 0
               : errno;
}

int RenameReplacing(const std::string& from, const std::string& to) {
    if (int injected = faults::Check(faults::Operation::Rename, {from, to}))
        return injected;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int MoveFileNoReplace(const std::string& from, const std::string& to) {
    if (int injected = faults::Check(faults::Operation::Rename, {from, to}))
        return injected;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // File systems without the no-replace rename: a hard link fails when the name is taken.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (::unlink(from.c_str()) != 0) {
        int reason = errno;
        ::unlink(to.c_str());
        return reason;
    }
    return 0;
}

void DeleteFileQuietly(const std::string& path) {
    if (faults::Check(faults::Operation::Remove, {path}) == 0)
        ::unlink(path.c_str());
}

bool IsSymbolicLink(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

} // namespace clipwright
