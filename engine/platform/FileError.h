// The error raised by file operations on a recording, carrying one of fifteen cause codes.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace clipwright {

namespace filecause {
inline constexpr int32_t kNone = 0;
inline constexpr int32_t kGeneric = 1;
inline constexpr int32_t kFileNotFound = 2;
inline constexpr int32_t kBadPath = 3;
inline constexpr int32_t kTooManyOpenFiles = 4;
inline constexpr int32_t kAccessDenied = 5;
inline constexpr int32_t kInvalidFile = 6;
inline constexpr int32_t kRemoveCurrentDir = 7;
inline constexpr int32_t kDirectoryFull = 8;
inline constexpr int32_t kBadSeek = 9;
inline constexpr int32_t kHardIO = 10;
inline constexpr int32_t kSharingViolation = 11;
inline constexpr int32_t kLockViolation = 12;
inline constexpr int32_t kDiskFull = 13;
inline constexpr int32_t kEndOfFile = 14;
} // namespace filecause

class FileError : public std::exception {
public:
    FileError() = default;
    FileError(int32_t cause, int systemError, std::string fileName);

    // Built from a failed system call's errno.
    static FileError FromErrno(int systemError, const std::string& fileName);

    int32_t cause = filecause::kNone;
    int systemError = 0; // errno, 0 when the failure was not the system's
    std::string fileName;

    const char* what() const noexcept override;

private:
    std::string description_;
};

// Maps a POSIX errno to a cause. The table is documented beside the function.
int32_t CauseFromErrno(int systemError);

// The fixed sentence shown for a cause, or nullptr for 0 and for codes outside 1 to 14.
const char* FileErrorMessage(int32_t cause);

} // namespace clipwright
