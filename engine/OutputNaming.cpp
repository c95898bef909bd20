#include "OutputNaming.h"

#include "FaultPoints.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace clipwright {

namespace {

constexpr const char* kFixPrefix = "fix_";
constexpr const char* kTemporaryPrefix = "tmp_";
constexpr const char* kCompanionExtension = ".sub";

std::string DirectoryPrefix(const std::string& path) {
    size_t separator = path.rfind('/');
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string BaseName(const std::string& path) {
    size_t separator = path.rfind('/');
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// Copies every byte of `source` into `target`, both open; returns 0 or an errno.
int CopyContents(int source, int target) {
    for (;;) {
        if (int injected = faults::Check(faults::Operation::Write))
            return injected;
        ssize_t copied = ::copy_file_range(source, nullptr, target, nullptr, size_t{1} << 30, 0);
        if (copied == 0)
            return 0;
        if (copied > 0)
            continue;
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
        ssize_t got = ::read(source, buffer.data(), buffer.size());
        if (got == 0)
            return 0;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        size_t done = 0;
        while (done < static_cast<size_t>(got)) {
            if (int injected = faults::Check(faults::Operation::Write))
                return injected;
            ssize_t written = ::write(target, buffer.data() + done, static_cast<size_t>(got) - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return written == 0 ? ENOSPC : errno;
            done += static_cast<size_t>(written);
        }
    }
}

} // namespace

OutputNames MakeOutputNames(const std::string& path, const std::string& fileName) {
    OutputNames names;
    names.directoryPrefix = DirectoryPrefix(path);
    names.fixName = names.directoryPrefix + kFixPrefix + fileName;
    names.temporaryName = names.directoryPrefix + kTemporaryPrefix + fileName;
    std::string companion = CompanionName(fileName);
    names.companionPath = names.directoryPrefix + companion;
    names.companionCopy = names.directoryPrefix + kFixPrefix + companion;
    return names;
}

std::string CompanionName(const std::string& fileName) {
    std::string stem = fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
    return stem + kCompanionExtension;
}

std::string PartialName(const std::string& target) {
    return DirectoryPrefix(target) + "." + BaseName(target) + ".partial";
}

int CopyFileReplacing(const std::string& from, const std::string& to) {
    if (int injected = faults::Check(faults::Operation::Open))
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
    std::string partial = PartialName(to);
    // A partial file left by an interrupted run is ours to remove; a link there is removed, not followed.
    DeleteFileQuietly(partial);
    int target = -1;
    if (int injected = faults::Check(faults::Operation::Open))
        errno = injected;
    else
        target = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        status.st_mode & 0777);
    if (target < 0) {
        int reason = errno;
        ::close(source);
        return reason;
    }
    int reason = CopyContents(source, target);
    ::close(source);
    if (int injected = faults::Check(faults::Operation::Close); injected != 0 && reason == 0)
        reason = injected;
    if (::close(target) != 0 && reason == 0)
        reason = errno;
    if (reason == 0)
        reason = RenameReplacing(partial, to);
    if (reason != 0)
        DeleteFileQuietly(partial);
    return reason;
}

int RenameReplacing(const std::string& from, const std::string& to) {
    if (int injected = faults::Check(faults::Operation::Rename))
        return injected;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int MoveFileNoReplace(const std::string& from, const std::string& to) {
    if (int injected = faults::Check(faults::Operation::Rename))
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
    if (faults::Check(faults::Operation::Remove) == 0)
        ::unlink(path.c_str());
}

} // namespace clipwright
