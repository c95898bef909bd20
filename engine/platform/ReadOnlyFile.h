// A recording opened for reading only, for a look that must not disturb it: a plain read-only
// open, no lease, no lock, nothing written, so a camera still writing the file never notices.
#pragma once

#include "platform/FileError.h"
#include "platform/SourceFile.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace clipwright {

class ProgressMeter;

class ReadOnlyFile : public ByteSource {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile() override;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens an existing regular file; anything else fails as access denied, as the repair's open does.
    // With `blockDevices`, a block device too (a whole card or partition, for a scan): its length is
    // the device's.
    bool Open(const std::string& path, FileError& error, bool blockDevices = false);

    // Through a block of `kBlockBytes`, so that a walk from chunk to chunk costs one read per block.
    // Fewer bytes, or none, at the end of the file; raises FileError on failure.
    size_t ReadAt(uint64_t position, void* buffer, size_t count) override;
    bool ReadsInBlocks() const override { return true; }

    // Each read from the disk tells `meter` how far into the file it went, and may stop the job
    // there (see Progress.h). Nothing is told when null.
    void ReportProgressTo(ProgressMeter* meter) { progress_ = meter; }

    // Only read from: closing it cannot lose anything.
    void Close() noexcept;

    // As it stood when opened: a file still being written is looked at up to there.
    const struct stat& Status() const { return status_; }
    uint64_t Length() const { return static_cast<uint64_t>(status_.st_size); }
    int Descriptor() const { return descriptor_; }

    static constexpr size_t kBlockBytes = size_t{1} << 20;
    // When reads stand further apart than this on average, each reads what it asks for (at least
    // kSmallReadBytes) rather than a block: a walk over long chunks then copies a few kilobytes per
    // header rather than every byte of the file. A page costs hardly more than a few bytes to read,
    // and behind a short chunk (a sound block between long frames) it holds the next header too,
    // which a system call of its own would cost more than the copy.
    static constexpr uint64_t kFarApart = uint64_t{8} << 10;
    static constexpr size_t kSmallReadBytes = size_t{4} << 10;
    static constexpr size_t kPreviousBytes = size_t{4} << 10;

private:
    size_t ReadDirect(uint64_t position, void* buffer, size_t count);

    int descriptor_ = -1;
    std::string path_;
    ProgressMeter* progress_ = nullptr;
    struct stat status_ {};
    std::vector<uint8_t> block_;
    uint64_t blockStart_ = 0;
    size_t blockBytes_ = 0;
    // The small read before the last: a walk reads the header behind a chunk before the chunk's
    // first payload bytes, which its own header's read already holds.
    std::vector<uint8_t> previous_;
    uint64_t previousStart_ = 0;
    size_t previousBytes_ = 0;
    uint64_t lastPosition_ = 0;
    uint64_t averageStride_ = 0; // between successive reads, forward ones weighing most lately
};

} // namespace clipwright
