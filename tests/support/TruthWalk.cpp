#include "TruthWalk.h"

#include "TestFiles.h"
#include "avi/LittleEndian.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace clipwright::test {

namespace {

constexpr FourCC kRecord("rec ");
constexpr FourCC kRiffExtension("AVIX");

// The file read a block at a time: a recording past 1 GiB is not read into memory.
class FileBytes {
public:
    explicit FileBytes(const std::filesystem::path& file)
        : in_(file, std::ios::binary), size_(std::filesystem::file_size(file)) {
        if (!in_)
            throw std::runtime_error("cannot read " + file.string());
    }

    uint64_t size() const { return size_; }
    // The four bytes at `position`, which the file holds.
    const uint8_t* data(uint64_t position) {
        if (position < blockStart_ || position + 4 > blockStart_ + block_.size()) {
            blockStart_ = position;
            block_.resize(static_cast<size_t>(std::min<uint64_t>(kBlockBytes, size_ - position)));
            in_.seekg(static_cast<std::streamoff>(position));
            if (!in_.read(reinterpret_cast<char*>(block_.data()),
                          static_cast<std::streamsize>(block_.size())))
                throw std::runtime_error("cannot read at " + std::to_string(position));
        }
        return block_.data() + (position - blockStart_);
    }

private:
    static constexpr uint64_t kBlockBytes = 64 * 1024;
    std::ifstream in_;
    uint64_t size_;
    uint64_t blockStart_ = 0;
    Bytes block_;
};

class Walker {
public:
    explicit Walker(const std::filesystem::path& file) : bytes_(file) {}

    Truth Walk() {
        if (bytes_.size() < 12 || IdAt(0) != fourcc::kRiff || IdAt(8) != fourcc::kAvi)
            throw std::runtime_error("no RIFF 'AVI ' form");
        truth_.riffSizeField = U32(4);
        FindMovi();
        WalkMovi();
        return truth_;
    }

private:
    bool Has(uint64_t position, uint64_t count) const { return position + count <= bytes_.size(); }
    FourCC IdAt(uint64_t position) const { return FourCC::FromBytes(bytes_.data(position)); }
    uint32_t U32(uint64_t position) const { return le::ReadU32(bytes_.data(position)); }
    static uint64_t Padded(uint64_t size) { return size + (size & 1); }

    // The top level keeps honest sizes up to movi in every writer's file: hdrl is written whole first.
    void FindMovi() {
        for (uint64_t position = 12; Has(position, 12);) {
            const FourCC id = IdAt(position);
            const uint32_t size = U32(position + 4);
            if (id == fourcc::kList && IdAt(position + 8) == fourcc::kHdrl)
                ReadHeaderList(position + 12, position + 8 + size);
            if (id == fourcc::kList && IdAt(position + 8) == fourcc::kMovi) {
                truth_.moviSizeField = size;
                truth_.moviBody = position + 12;
                return;
            }
            position += 8 + Padded(size);
        }
        throw std::runtime_error("no LIST 'movi'");
    }

    void ReadHeaderList(uint64_t begin, uint64_t end) {
        for (uint64_t position = begin; position + 8 <= end && Has(position, 8);) {
            const FourCC id = IdAt(position);
            const uint32_t size = U32(position + 4);
            if (!Has(position + 8, size))
                throw std::runtime_error("hdrl runs past the end of the file");
            if (id == fourcc::kAvih && size >= 16)
                truth_.mainFlags = U32(position + 8 + 12); // dwFlags
            if (id == fourcc::kList && IdAt(position + 8) == fourcc::kStrl)
                truth_.streams.push_back(ReadStreamList(position + 12, position + 8 + size));
            position += 8 + Padded(size);
        }
        if (truth_.streams.empty())
            throw std::runtime_error("hdrl holds no strl");
    }

    TruthStream ReadStreamList(uint64_t begin, uint64_t end) const {
        TruthStream stream;
        for (uint64_t position = begin; position + 8 <= end;) {
            const FourCC id = IdAt(position);
            const uint32_t size = U32(position + 4);
            const uint64_t data = position + 8;
            if (data + size > end)
                break;
            if (id == fourcc::kStrh && size >= 48) {
                stream.type = IdAt(data);
                stream.scale = U32(data + 20);      // dwScale
                stream.rate = U32(data + 24);       // dwRate
                stream.sampleSize = U32(data + 44); // dwSampleSize
            }
            if (id == fourcc::kStrf && size >= 12 && stream.type == fourcc::kAuds)
                stream.avgBytesPerSec = U32(data + 8); // nAvgBytesPerSec
            position = data + Padded(size);
        }
        return stream;
    }

    // '##dc', '##db', '##wb', '##pc', '##tx' for a stream the header has; -1 otherwise.
    int StreamOf(FourCC id) const {
        const auto& c = id.Bytes();
        if (c[0] < '0' || c[0] > '9' || c[1] < '0' || c[1] > '9')
            return -1;
        const int number = (c[0] - '0') * 10 + (c[1] - '0');
        const std::string kind{static_cast<char>(c[2]), static_cast<char>(c[3])};
        const bool known = kind == "dc" || kind == "db" || kind == "wb" || kind == "pc" || kind == "tx";
        return known && number < static_cast<int>(truth_.streams.size()) ? number : -1;
    }

    static bool IsStandardIndex(FourCC id) {
        const auto& c = id.Bytes();
        return c[0] == 'i' && c[1] == 'x' && c[2] >= '0' && c[2] <= '9' && c[3] >= '0' && c[3] <= '9';
    }

    bool ChunkStartsAt(uint64_t position) const {
        if (!Has(position, 4))
            return false;
        const FourCC id = IdAt(position);
        return StreamOf(id) >= 0 || id == fourcc::kList || id == fourcc::kRiff || id == fourcc::kJunk ||
               id == fourcc::kIdx1 || IsStandardIndex(id);
    }

    void Stop(WalkEnd end, uint64_t position) {
        truth_.end = end;
        truth_.endOffset = position;
    }

    void WalkMovi() {
        uint64_t position = truth_.moviBody;
        truth_.completeEnd = position;
        while (true) {
            if (position == bytes_.size())
                return Stop(WalkEnd::EndOfFile, position);
            if (!Has(position, 8))
                return Stop(WalkEnd::CutChunk, position);
            const FourCC id = IdAt(position);
            const uint32_t size = U32(position + 4);
            if (id == fourcc::kList || id == fourcc::kRiff) {
                if (!Has(position, 12))
                    return Stop(WalkEnd::CutChunk, position);
                const FourCC type = IdAt(position + 8);
                if (type == kRecord || type == fourcc::kMovi ||
                    (id == fourcc::kRiff && type == kRiffExtension)) {
                    if (id == fourcc::kRiff)
                        ++truth_.parts;
                    position += 12;
                    continue;
                }
                if (id == fourcc::kRiff)
                    return Stop(WalkEnd::UnknownChunk, position);
            } else if (id != fourcc::kJunk && id != fourcc::kIdx1 && !IsStandardIndex(id) &&
                       StreamOf(id) < 0) {
                return Stop(WalkEnd::UnknownChunk, position);
            }
            const uint64_t dataEnd = position + 8 + size;
            if (dataEnd > bytes_.size())
                return Stop(WalkEnd::CutChunk, position);
            const int stream = StreamOf(id);
            if (stream >= 0) {
                TruthStream& counts = truth_.streams[static_cast<size_t>(stream)];
                ++counts.chunks;
                counts.nonEmptyChunks += size > 0 ? 1 : 0;
                counts.payloadBytes += size;
                truth_.chunks.push_back({stream, position, size});
            }
            position = NextAfter(dataEnd, size);
            if (stream >= 0)
                truth_.completeEnd = position;
        }
    }

    // RIFF pads odd chunks to even; some writers leave the pad byte out.
    uint64_t NextAfter(uint64_t dataEnd, uint32_t size) const {
        if (size % 2 == 0 || dataEnd == bytes_.size())
            return dataEnd;
        if (dataEnd + 1 == bytes_.size() || ChunkStartsAt(dataEnd + 1) || !ChunkStartsAt(dataEnd))
            return dataEnd + 1;
        return dataEnd;
    }

    mutable FileBytes bytes_;
    Truth truth_;
};

} // namespace

double TruthStream::Seconds() const {
    if (rate == 0)
        return 0;
    const double unit = static_cast<double>(scale) / rate;
    if (type == fourcc::kVids)
        return static_cast<double>(chunks) * unit;
    if (sampleSize > 0)
        return static_cast<double>(payloadBytes / sampleSize) * unit;
    return static_cast<double>(nonEmptyChunks) * unit;
}

uint64_t Truth::VideoChunks() const {
    uint64_t count = 0;
    for (const TruthStream& stream : streams)
        count += stream.type == fourcc::kVids ? stream.chunks : 0;
    return count;
}

Truth TruthWalk(const std::filesystem::path& file) {
    return Walker(file).Walk();
}

} // namespace clipwright::test
