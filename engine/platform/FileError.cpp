#include "platform/FileError.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace clipwright {

FileError::FileError(int32_t errorCause, int errorNumber, std::string name)
    : cause(errorCause), systemError(errorNumber), fileName(std::move(name)) {
    const char* message = FileErrorMessage(cause);
    description_ = message ? message : "no error";
    if (!fileName.empty())
        description_ += " (" + fileName + ")";
}

FileError FileError::FromErrno(int errorNumber, const std::string& name) {
    return FileError(CauseFromErrno(errorNumber), errorNumber, name);
}

const char* FileError::what() const noexcept {
    return description_.c_str();
}

// errno                                   cause
// ENOENT                                  2  the file does not exist
// ENOTDIR ENAMETOOLONG ELOOP EFAULT       3  all or part of the path is invalid
// EMFILE ENFILE                           4  too many open files
// EACCES EPERM EROFS EISDIR ETXTBSY       5  access denied
// EBADF                                   6  invalid file handle
// ESPIPE EOVERFLOW EINVAL                 9  the file position could not be set
// EIO ENXIO ENODEV                        10 hardware error
// EAGAIN/EWOULDBLOCK EBUSY                11 sharing violation (another program holds the file)
// ENOLCK EDEADLK                          12 lock violation
// ENOSPC EDQUOT EFBIG                     13 disk full
// anything else                           1  unspecified
// Causes 7, 8 and 14 have no POSIX counterpart; a read at the end of a file is never an error.
int32_t CauseFromErrno(int systemError) {
    switch (systemError) {
    case 0:
        return filecause::kNone;
    case ENOENT:
        return filecause::kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EFAULT:
        return filecause::kBadPath;
    case EMFILE:
    case ENFILE:
        return filecause::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return filecause::kAccessDenied;
    case EBADF:
        return filecause::kInvalidFile;
    case ESPIPE:
    case EOVERFLOW:
    case EINVAL:
        return filecause::kBadSeek;
    case EIO:
    case ENXIO:
    case ENODEV:
        return filecause::kHardIO;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EBUSY:
        return filecause::kSharingViolation;
    case ENOLCK:
    case EDEADLK:
        return filecause::kLockViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return filecause::kDiskFull;
    default:
        return filecause::kGeneric;
    }
}

const char* FileErrorMessage(int32_t cause) {
    static constexpr std::array<const char*, 15> kMessages = {
        nullptr,
        "ERROR: An unspecified error occurred.",
        "ERROR: The file could not be located.",
        "ERROR: All or part of the path is invalid.",
        "ERROR: The permitted number of open files was exceeded.",
        "ERROR: The file could not be accessed.",
        "ERROR: There was an attempt to use an invalid file handle.",
        "ERROR: The current working directory cannot be removed.",
        "ERROR: There are no more directory entries.",
        "ERROR: There was an error trying to set the file pointer.",
        "ERROR: There was a hardware error.",
        "ERROR: SHARE.EXE was not loaded, or a shared region was locked.",
        "ERROR: There was an attempt to lock a region that was already locked.",
        "ERROR: disk full !",
        "ERROR: The end of file was reached.",
    };
    if (cause < 0 || cause >= static_cast<int32_t>(kMessages.size()))
        return nullptr;
    return kMessages[static_cast<size_t>(cause)];
}

} // namespace clipwright
