#include "OutputFile.h"

#include "avi/LittleEndian.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace clipwright::recgen {

OutputFile::OutputFile(std::filesystem::path path) : path_(std::move(path)) {
    descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor_ < 0)
        Fail("cannot create");
    buffer_.reserve(kBufferSize);
}

OutputFile::~OutputFile() {
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

void OutputFile::Append(std::span<const uint8_t> bytes) {
    if (buffer_.size() + bytes.size() > kBufferSize)
        Flush();
    if (bytes.size() >= kBufferSize) {
        WriteFully(flushedSize_, bytes);
        flushedSize_ += bytes.size();
        return;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void OutputFile::AppendZeros(uint64_t count) {
    while (count > 0) {
        if (buffer_.size() == kBufferSize)
            Flush();
        const uint64_t room = kBufferSize - buffer_.size();
        const size_t piece = static_cast<size_t>(count < room ? count : room);
        buffer_.insert(buffer_.end(), piece, 0);
        count -= piece;
    }
}

void OutputFile::WriteAt(uint64_t position, std::span<const uint8_t> bytes) {
    Flush();
    WriteFully(position, bytes);
    if (position + bytes.size() > flushedSize_)
        flushedSize_ = position + bytes.size();
}

void OutputFile::WriteU32At(uint64_t position, uint32_t value) {
    uint8_t field[4];
    le::WriteU32(field, value);
    WriteAt(position, field);
}

void OutputFile::Truncate(uint64_t size) {
    Flush();
    if (::ftruncate(descriptor_, static_cast<off_t>(size)) != 0)
        Fail("cannot truncate");
    flushedSize_ = size;
}

void OutputFile::Close() {
    Flush();
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (::close(descriptor) != 0)
        Fail("cannot close");
}

void OutputFile::Flush() {
    WriteFully(flushedSize_, buffer_);
    flushedSize_ += buffer_.size();
    buffer_.clear();
}

void OutputFile::WriteFully(uint64_t position, std::span<const uint8_t> bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t result = ::pwrite(descriptor_, bytes.data() + written, bytes.size() - written,
                                        static_cast<off_t>(position + written));
        if (result < 0) {
            if (errno == EINTR)
                continue;
            Fail("cannot write");
        }
        written += static_cast<size_t>(result);
    }
}

void OutputFile::Fail(const char* operation) const {
    throw std::system_error(errno, std::generic_category(), std::string(operation) + " " + path_.string());
}

} // namespace clipwright::recgen
