// A recording opened for reading and writing, over raw bytes.
//
// Open reports failure through its result and an error object; Read, Seek, Write and Close raise
// FileError. A read at or past the end returns fewer or no bytes and is no error.
//
// Sharing: POSIX has no sharing modes. ShareMode::DenyNone opens as any POSIX open does.
// ShareMode::Exclusive opens only a file that no other descriptor holds open anywhere at that
// moment, and otherwise fails with the sharing-violation cause; it keeps nobody out afterwards,
// which is all its users (a copy made at once) need. Where a file system or ownership does not let
// that be seen, the exclusive open behaves like DenyNone.
#pragma once

#include "platform/FileError.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace clipwright {

enum class ShareMode { DenyNone, Exclusive };

// Bytes read by position, without moving any file position.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fewer bytes than asked, or none, at the end of the file; raises FileError on failure.
    virtual size_t ReadAt(uint64_t position, void* buffer, size_t count) = 0;
    // True when small reads are served from a block read before: a second block on top of it
    // would only copy the bytes once more.
    virtual bool ReadsInBlocks() const { return false; }
};
// True when another descriptor holds the file open for writing, seen through a read lease taken
// and given back at once on `readOnlyDescriptor` (which must be the caller's only one). False
// where leases are not offered: other file systems, files of other owners.
bool HeldOpenForWriting(int readOnlyDescriptor);

enum class SeekFrom { Begin, Current, End };

class SourceFile : public ByteSource {
public:
    SourceFile() = default;
    ~SourceFile() override;
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Opens an existing regular file for reading and writing; never creates one.
    bool Open(const std::string& path, ShareMode share, FileError& error);

    size_t Read(void* buffer, size_t count);
    // Reads at a position without moving the file position; for scans that only look.
    size_t ReadAt(uint64_t position, void* buffer, size_t count) override;
    uint64_t Seek(int64_t distance, SeekFrom from);
    void Write(const void* data, size_t count);
    // Data written so far reaches the disk before this returns.
    void Sync();
    void Close();
    // Closes after a failure that was already reported: a second error would only repeat it.
    void Abandon() noexcept;

    bool IsOpen() const { return descriptor_ >= 0; }
    uint64_t Position() const { return position_; }
    uint64_t Length();
    const std::string& Path() const { return path_; }
    int Descriptor() const { return descriptor_; }

private:
    [[noreturn]] void Raise(int systemError) const;

    int descriptor_ = -1;
    uint64_t position_ = 0;
    std::string path_;
};

} // namespace clipwright
