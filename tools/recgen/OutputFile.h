// A file written front to back through a large buffer, with the few in-place patches a recording needs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace clipwright::recgen {

// Failures raise std::system_error carrying errno and the file's path.
class OutputFile {
public:
    explicit OutputFile(std::filesystem::path path); // creates or empties the file
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Closes without flushing: a file that was not closed through Close() is abandoned as it stands.
    ~OutputFile();

    void Append(std::span<const uint8_t> bytes);
    void AppendZeros(uint64_t count);
    // Overwrites bytes already appended.
    void WriteAt(uint64_t position, std::span<const uint8_t> bytes);
    void WriteU32At(uint64_t position, uint32_t value);
    void Truncate(uint64_t size);
    void Close();

    uint64_t Size() const { return flushedSize_ + buffer_.size(); }
    const std::filesystem::path& Path() const { return path_; }

private:
    void Flush();
    void WriteFully(uint64_t position, std::span<const uint8_t> bytes);
    [[noreturn]] void Fail(const char* operation) const;

    static constexpr size_t kBufferSize = size_t{4} << 20;

    std::filesystem::path path_;
    int descriptor_ = -1;
    uint64_t flushedSize_ = 0;
    std::vector<uint8_t> buffer_;
};

} // namespace clipwright::recgen
