#include "AviFileLibrary.h"

#include "FaultPoints.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <new>
#include <unistd.h>
#include <vector>

#include "LittleEndian.h"

namespace clipwright {

namespace {

constexpr uint64_t kMoviListOffset = 2048; // the header region ends where the movi list starts
constexpr uint64_t kMoviWordOffset = kMoviListOffset + 8;
constexpr uint64_t kFirstChunkOffset = kMoviListOffset + 12;
constexpr uint32_t kChunkHeaderSize = 8;
constexpr uint32_t kListHeaderSize = 12;
constexpr uint32_t kMainHeaderSize = 56;
constexpr uint32_t kStreamHeaderSize = 56;
constexpr uint32_t kIndexEntrySize = 16;
constexpr uint32_t kMainFlagHasIndex = 0x10;
constexpr uint32_t kMainFlagInterleaved = 0x100;
constexpr size_t kMaxStreams = 100; // chunk ids carry the stream number in two digits

std::atomic<int> startCount{0};

uint64_t PaddedSize(uint64_t size) {
    return size + (size & 1);
}

uint32_t ClampToU32(uint64_t value) {
    return static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
}

int16_t ClampToI16(int32_t value) {
    return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

// Appends RIFF fields to a byte buffer; chunks get their size (and pad byte) when ended.
class RiffBuilder {
public:
    explicit RiffBuilder(std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    void Code(FourCC code) { bytes_.insert(bytes_.end(), code.Bytes().begin(), code.Bytes().end()); }
    void U16(uint16_t value) { le::WriteU16(Grow(2), value); }
    void I16(int16_t value) { le::WriteI16(Grow(2), value); }
    void U32(uint32_t value) { le::WriteU32(Grow(4), value); }
    void I32(int32_t value) { le::WriteI32(Grow(4), value); }
    void Bytes(const std::vector<uint8_t>& data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
    void Zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }

    // Returns where the size field stands, for EndChunk.
    size_t BeginChunk(FourCC id) {
        Code(id);
        const size_t sizeField = bytes_.size();
        U32(0);
        return sizeField;
    }
    size_t BeginList(FourCC listType) {
        const size_t sizeField = BeginChunk(fourcc::kList);
        Code(listType);
        return sizeField;
    }
    void EndChunk(size_t sizeField) {
        const size_t size = bytes_.size() - sizeField - 4;
        le::WriteU32(&bytes_[sizeField], static_cast<uint32_t>(size));
        if (size % 2 != 0)
            bytes_.push_back(0);
    }

    size_t Size() const { return bytes_.size(); }

private:
    uint8_t* Grow(size_t count) {
        bytes_.resize(bytes_.size() + count);
        return &bytes_[bytes_.size() - count];
    }

    std::vector<uint8_t>& bytes_;
};

// One idx1 entry as kept until the file is released: 16 bytes, as on disk.
struct IndexRecord {
    FourCC chunkId;
    uint32_t flags;
    uint32_t moviOffset;
    uint32_t size;
};

bool WriteFully(int fd, uint64_t offset, const uint8_t* data, size_t size) {
    while (size > 0) {
        if (faults::Check(faults::Operation::Write) != 0)
            return false;
        const ssize_t written = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        const auto count = static_cast<size_t>(written);
        data += count;
        size -= count;
        offset += count;
    }
    return true;
}

} // namespace

std::array<uint8_t, kBitmapInfoHeaderSize> EncodeBitmapInfoHeader(const BitmapInfoHeader& format) {
    std::array<uint8_t, kBitmapInfoHeaderSize> bytes{};
    le::WriteU32(&bytes[0], format.biSize);
    le::WriteI32(&bytes[4], format.biWidth);
    le::WriteI32(&bytes[8], format.biHeight);
    le::WriteU16(&bytes[12], format.biPlanes);
    le::WriteU16(&bytes[14], format.biBitCount);
    std::copy(format.biCompression.Bytes().begin(), format.biCompression.Bytes().end(), &bytes[16]);
    le::WriteU32(&bytes[20], format.biSizeImage);
    le::WriteI32(&bytes[24], format.biXPelsPerMeter);
    le::WriteI32(&bytes[28], format.biYPelsPerMeter);
    le::WriteU32(&bytes[32], format.biClrUsed);
    le::WriteU32(&bytes[36], format.biClrImportant);
    return bytes;
}

std::array<uint8_t, kAdpcmWaveFormatSize> EncodeAdpcmWaveFormat(const AdpcmWaveFormat& format) {
    std::array<uint8_t, kAdpcmWaveFormatSize> bytes{};
    le::WriteU16(&bytes[0], format.wFormatTag);
    le::WriteU16(&bytes[2], format.nChannels);
    le::WriteU32(&bytes[4], format.nSamplesPerSec);
    le::WriteU32(&bytes[8], format.nAvgBytesPerSec);
    le::WriteU16(&bytes[12], format.nBlockAlign);
    le::WriteU16(&bytes[14], format.wBitsPerSample);
    le::WriteU16(&bytes[16], format.cbSize);
    le::WriteU16(&bytes[18], format.wSamplesPerBlock);
    le::WriteU16(&bytes[20], format.wNumCoef);
    for (size_t i = 0; i < format.aCoef.size(); ++i) {
        le::WriteI16(&bytes[22 + 4 * i], format.aCoef[i].iCoef1);
        le::WriteI16(&bytes[24 + 4 * i], format.aCoef[i].iCoef2);
    }
    return bytes;
}

namespace avilib {

struct OutputFile;

struct Stream {
    OutputFile* file = nullptr;
    AviStreamInfo description;
    std::vector<uint8_t> format;
    FourCC chunkId;
    int64_t endPosition = 0; // in the caller's numbering: start + count of the last write
    uint32_t chunkCount = 0;
    uint64_t bytesWritten = 0;
    uint32_t largestSample = 0;
    bool released = false;

    // strh dwLength: what a reader counts, not the caller's positions.
    uint32_t LengthOnDisk() const {
        if (description.dwSampleSize > 0)
            return ClampToU32(bytesWritten / description.dwSampleSize);
        return chunkCount;
    }
    uint64_t BytesPerSecond() const {
        if (description.dwScale == 0)
            return 0;
        const uint64_t sampleBytes = description.dwSampleSize > 0 ? description.dwSampleSize : largestSample;
        return sampleBytes * description.dwRate / description.dwScale;
    }
};

struct OutputFile {
    int fd = -1;
    std::vector<std::unique_ptr<Stream>> streams;
    std::deque<IndexRecord> index; // grows without moving what it holds
    uint64_t dataEnd = kFirstChunkOffset;
    uint64_t sizeLimit = kFileSizeLimit;
    // Chunks are gathered and written in large blocks: one system call per chunk would cost more
    // than copying the bytes. `pending` belongs at `pendingAt`; it always ends at dataEnd.
    std::vector<uint8_t> pending;
    uint64_t pendingAt = kFirstChunkOffset;
    bool writeLost = false; // a block could not be written: the file can no longer be finished

    uint64_t FinalSize(uint64_t moviEnd, uint64_t indexEntries) const {
        return moviEnd + kChunkHeaderSize + indexEntries * kIndexEntrySize;
    }
};

namespace {

uint64_t StreamListSize(uint64_t formatSize) {
    return kListHeaderSize + kChunkHeaderSize + kStreamHeaderSize + kChunkHeaderSize + PaddedSize(formatSize);
}

// Bytes of the header region in use, with one stream's format size replaced (or one stream added).
uint64_t HeaderBytes(const OutputFile& file, const Stream* replaced, uint64_t formatSize) {
    uint64_t total = kListHeaderSize + kListHeaderSize + kChunkHeaderSize + kMainHeaderSize;
    for (const auto& stream : file.streams)
        total += StreamListSize(stream.get() == replaced ? formatSize : stream->format.size());
    if (replaced == nullptr)
        total += StreamListSize(formatSize);
    return total;
}

bool FitsHeaderRegion(uint64_t headerBytes) {
    return headerBytes + kChunkHeaderSize <= kMoviListOffset;
}

const Stream* FirstVideoStream(const OutputFile& file) {
    for (const auto& stream : file.streams)
        if (stream->description.fccType == fourcc::kVids)
            return stream.get();
    return nullptr;
}

void AddMainHeader(RiffBuilder& out, const OutputFile& file) {
    const Stream* video = FirstVideoStream(file);
    uint32_t microSecPerFrame = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    if (video != nullptr) {
        const AviStreamInfo& info = video->description;
        if (info.dwRate != 0)
            microSecPerFrame = ClampToU32((uint64_t{info.dwScale} * 1000000 + info.dwRate / 2) / info.dwRate);
        width = static_cast<uint32_t>(std::max(0, info.rcFrame.right - info.rcFrame.left));
        height = static_cast<uint32_t>(std::max(0, info.rcFrame.bottom - info.rcFrame.top));
    }
    uint64_t bytesPerSecond = 0;
    uint32_t largestSample = 0;
    for (const auto& stream : file.streams) {
        bytesPerSecond += stream->BytesPerSecond();
        largestSample = std::max(largestSample, stream->largestSample);
    }

    const size_t avih = out.BeginChunk(fourcc::kAvih);
    out.U32(microSecPerFrame);                           // dwMicroSecPerFrame
    out.U32(ClampToU32(bytesPerSecond));                 // dwMaxBytesPerSec
    out.U32(0);                                          // dwPaddingGranularity
    out.U32(kMainFlagHasIndex | kMainFlagInterleaved);   // dwFlags
    out.U32(video != nullptr ? video->chunkCount : 0);   // dwTotalFrames
    out.U32(0);                                          // dwInitialFrames
    out.U32(static_cast<uint32_t>(file.streams.size())); // dwStreams
    out.U32(largestSample);                              // dwSuggestedBufferSize
    out.U32(width);                                      // dwWidth
    out.U32(height);                                     // dwHeight
    out.Zeros(16);                                       // dwReserved[4]
    out.EndChunk(avih);
}

void AddStreamList(RiffBuilder& out, const Stream& stream) {
    const AviStreamInfo& info = stream.description;
    const size_t strl = out.BeginList(fourcc::kStrl);
    const size_t strh = out.BeginChunk(fourcc::kStrh);
    out.Code(info.fccType);                   // fccType
    out.Code(info.fccHandler);                // fccHandler
    out.U32(0);                               // dwFlags: no stream flags, see the header
    out.U16(info.wPriority);                  // wPriority
    out.U16(info.wLanguage);                  // wLanguage
    out.U32(info.dwInitialFrames);            // dwInitialFrames
    out.U32(info.dwScale);                    // dwScale
    out.U32(info.dwRate);                     // dwRate
    out.U32(info.dwStart);                    // dwStart
    out.U32(stream.LengthOnDisk());           // dwLength
    out.U32(stream.largestSample);            // dwSuggestedBufferSize
    out.U32(info.dwQuality);                  // dwQuality
    out.U32(info.dwSampleSize);               // dwSampleSize
    out.I16(ClampToI16(info.rcFrame.left));   // rcFrame.left
    out.I16(ClampToI16(info.rcFrame.top));    // rcFrame.top
    out.I16(ClampToI16(info.rcFrame.right));  // rcFrame.right
    out.I16(ClampToI16(info.rcFrame.bottom)); // rcFrame.bottom
    out.EndChunk(strh);
    const size_t strf = out.BeginChunk(fourcc::kStrf);
    out.Bytes(stream.format);
    out.EndChunk(strf);
    out.EndChunk(strl);
}

// Everything before the first movi chunk. Unfinished files carry RIFF and movi sizes of 0.
std::vector<uint8_t> BuildHeaderRegion(const OutputFile& file, uint64_t finalSize) {
    std::vector<uint8_t> bytes;
    bytes.reserve(kFirstChunkOffset);
    RiffBuilder out(bytes);
    out.Code(fourcc::kRiff);
    out.U32(finalSize == 0 ? 0 : static_cast<uint32_t>(finalSize - kChunkHeaderSize));
    out.Code(fourcc::kAvi);

    const size_t hdrl = out.BeginList(fourcc::kHdrl);
    AddMainHeader(out, file);
    for (const auto& stream : file.streams)
        AddStreamList(out, *stream);
    out.EndChunk(hdrl);

    const size_t junk = out.BeginChunk(fourcc::kJunk);
    out.Zeros(kMoviListOffset - out.Size());
    out.EndChunk(junk);

    out.Code(fourcc::kList);
    out.U32(finalSize == 0 ? 0 : static_cast<uint32_t>(file.dataEnd - kMoviWordOffset));
    out.Code(fourcc::kMovi);
    return bytes;
}

bool WriteIndex(const OutputFile& file) {
    std::vector<uint8_t> bytes;
    RiffBuilder out(bytes);
    out.Code(fourcc::kIdx1);
    out.U32(static_cast<uint32_t>(file.index.size() * kIndexEntrySize));
    uint64_t offset = file.dataEnd;
    constexpr size_t kEntriesPerWrite = 4096;
    size_t entriesInBuffer = 0;
    for (const IndexRecord& entry : file.index) {
        out.Code(entry.chunkId);
        out.U32(entry.flags);
        out.U32(entry.moviOffset);
        out.U32(entry.size);
        if (++entriesInBuffer == kEntriesPerWrite) {
            if (!WriteFully(file.fd, offset, bytes.data(), bytes.size()))
                return false;
            offset += bytes.size();
            bytes.clear();
            entriesInBuffer = 0;
        }
    }
    return WriteFully(file.fd, offset, bytes.data(), bytes.size());
}

constexpr size_t kWriteBlockSize = size_t{1} << 20;

bool FlushPending(OutputFile& file) {
    if (file.pending.empty())
        return !file.writeLost;
    if (!WriteFully(file.fd, file.pendingAt, file.pending.data(), file.pending.size()))
        file.writeLost = true;
    file.pendingAt += file.pending.size();
    file.pending.clear();
    return !file.writeLost;
}

// Appends bytes behind what is pending; a payload as large as a block goes straight to the file.
bool AppendBytes(OutputFile& file, const uint8_t* data, size_t size) {
    if (file.pending.size() + size > kWriteBlockSize) {
        if (!FlushPending(file))
            return false;
        if (size >= kWriteBlockSize) {
            if (!WriteFully(file.fd, file.pendingAt, data, size))
                file.writeLost = true;
            file.pendingAt += size;
            return !file.writeLost;
        }
    }
    file.pending.insert(file.pending.end(), data, data + size);
    return true;
}

// Index first, headers last: a file whose index could not be written keeps its unfinished header.
AviResult FinishFile(OutputFile& file) {
    const uint64_t finalSize = file.FinalSize(file.dataEnd, file.index.size());
    if (!FlushPending(file) || !WriteIndex(file))
        return avierr::kFileWrite;
    if (faults::Check(faults::Operation::Truncate) != 0 ||
        ftruncate(file.fd, static_cast<off_t>(finalSize)) != 0)
        return avierr::kFileWrite;
    const std::vector<uint8_t> header = BuildHeaderRegion(file, finalSize);
    if (!WriteFully(file.fd, 0, header.data(), header.size()))
        return avierr::kFileWrite;
    return avierr::kOk;
}

FourCC ChunkIdFor(size_t streamNumber, FourCC streamType) {
    const char kind0 = streamType == fourcc::kVids ? 'd' : 'w';
    const char kind1 = streamType == fourcc::kVids ? 'c' : 'b';
    const std::array<uint8_t, 4> id{static_cast<uint8_t>('0' + streamNumber / 10),
                                    static_cast<uint8_t>('0' + streamNumber % 10),
                                    static_cast<uint8_t>(kind0), static_cast<uint8_t>(kind1)};
    return FourCC::FromBytes(id.data());
}

bool AppendEmptyChunks(OutputFile& file, FourCC chunkId, int64_t count) {
    std::array<uint8_t, kChunkHeaderSize> header{};
    std::copy(chunkId.Bytes().begin(), chunkId.Bytes().end(), header.begin());
    for (int64_t i = 0; i < count; ++i) {
        if (!AppendBytes(file, header.data(), header.size()))
            return false;
    }
    return true;
}

} // namespace

AviResult Startup() {
    ++startCount;
    return avierr::kOk;
}

void Shutdown() {
    int count = startCount.load();
    while (count > 0 && !startCount.compare_exchange_weak(count, count - 1)) {
    }
}

int StartCount() {
    return startCount.load();
}

AviResult OpenForWriting(const char* path, OutputFile** file) {
    if (path == nullptr || file == nullptr)
        return avierr::kBadParameter;
    *file = nullptr;
    if (startCount.load() <= 0)
        return avierr::kError;

    std::unique_ptr<OutputFile> output;
    try {
        output = std::make_unique<OutputFile>();
    } catch (const std::bad_alloc&) {
        return avierr::kMemory;
    }
    try {
        output->pending.reserve(kWriteBlockSize);
    } catch (const std::bad_alloc&) {
        return avierr::kMemory;
    }
    if (faults::Check(faults::Operation::Open) != 0)
        return avierr::kFileOpen;
    // Never through a link: the output would land wherever the link points.
    output->fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (output->fd < 0)
        return avierr::kFileOpen;
    const std::vector<uint8_t> header = BuildHeaderRegion(*output, 0);
    if (!WriteFully(output->fd, 0, header.data(), header.size())) {
        close(output->fd);
        return avierr::kFileWrite;
    }
    *file = output.release();
    return avierr::kOk;
}

AviResult CreateStream(OutputFile* file, const AviStreamInfo& description, Stream** stream) {
    if (file == nullptr)
        return avierr::kBadHandle;
    if (stream == nullptr)
        return avierr::kBadParameter;
    *stream = nullptr;
    if (description.fccType != fourcc::kVids && description.fccType != fourcc::kAuds)
        return avierr::kBadParameter;
    if (file->streams.size() >= kMaxStreams || !FitsHeaderRegion(HeaderBytes(*file, nullptr, 0)))
        return avierr::kBadSize;

    try {
        auto created = std::make_unique<Stream>();
        created->file = file;
        created->description = description;
        created->chunkId = ChunkIdFor(file->streams.size(), description.fccType);
        file->streams.push_back(std::move(created));
    } catch (const std::bad_alloc&) {
        return avierr::kMemory;
    }
    *stream = file->streams.back().get();
    return avierr::kOk;
}

AviResult ReadFormat(Stream* stream, int32_t position, uint8_t* buffer, uint32_t* formatSize) {
    if (stream == nullptr || stream->released)
        return avierr::kBadHandle;
    if (formatSize == nullptr || position < 0)
        return avierr::kBadParameter;
    if (buffer != nullptr)
        std::copy_n(stream->format.begin(), std::min<size_t>(*formatSize, stream->format.size()), buffer);
    *formatSize = static_cast<uint32_t>(stream->format.size());
    return avierr::kOk;
}

AviResult SetFormat(Stream* stream, int32_t position, const uint8_t* format, uint32_t formatSize) {
    if (stream == nullptr || stream->released)
        return avierr::kBadHandle;
    // Only the format the stream starts with; the file format has no place for changes.
    if (position != 0 || format == nullptr || formatSize == 0)
        return avierr::kBadParameter;
    if (!FitsHeaderRegion(HeaderBytes(*stream->file, stream, formatSize)))
        return avierr::kBadSize;
    stream->format.assign(format, format + formatSize);
    return avierr::kOk;
}

AviResult WriteSamples(Stream* stream, int32_t start, int32_t sampleCount, const uint8_t* data,
                       uint32_t byteCount, uint32_t flags) {
    if (stream == nullptr || stream->released)
        return avierr::kBadHandle;
    if (start < 0 || sampleCount < 0 || (data == nullptr && byteCount > 0))
        return avierr::kBadParameter;
    const int64_t newEnd = int64_t{start} + sampleCount;
    if (newEnd > INT32_MAX)
        return avierr::kBadParameter;

    int64_t emptyChunks = 0;
    if (stream->description.dwSampleSize > 0) {
        if (start != stream->endPosition)
            return avierr::kBadParameter;
    } else {
        if (sampleCount != 1 || start < stream->endPosition)
            return avierr::kBadParameter;
        emptyChunks = start - stream->endPosition;
    }

    OutputFile& file = *stream->file;
    const uint64_t chunkAt = file.dataEnd + static_cast<uint64_t>(emptyChunks) * kChunkHeaderSize;
    const uint64_t moviEnd = chunkAt + kChunkHeaderSize + PaddedSize(byteCount);
    const uint64_t indexEntries = file.index.size() + static_cast<uint64_t>(emptyChunks) + 1;
    if (file.FinalSize(moviEnd, indexEntries) >= file.sizeLimit)
        return avierr::kFileWrite;

    if (file.writeLost)
        return avierr::kFileWrite;

    // The index grows first: bytes once handed on cannot be taken back.
    const size_t indexSizeBefore = file.index.size();
    try {
        for (int64_t i = 0; i < emptyChunks; ++i) {
            const uint64_t emptyAt = file.dataEnd + static_cast<uint64_t>(i) * kChunkHeaderSize;
            file.index.push_back({stream->chunkId, 0, static_cast<uint32_t>(emptyAt - kMoviWordOffset), 0});
        }
        file.index.push_back(
            {stream->chunkId, flags, static_cast<uint32_t>(chunkAt - kMoviWordOffset), byteCount});
    } catch (const std::bad_alloc&) {
        file.index.resize(indexSizeBefore);
        return avierr::kMemory;
    }

    std::array<uint8_t, kChunkHeaderSize> header{};
    std::copy(stream->chunkId.Bytes().begin(), stream->chunkId.Bytes().end(), header.begin());
    le::WriteU32(&header[4], byteCount);
    static constexpr uint8_t kPadByte = 0;
    // A failed block may hold earlier chunks too, so the file is lost from here on either way.
    if (!AppendEmptyChunks(file, stream->chunkId, emptyChunks) ||
        !AppendBytes(file, header.data(), header.size()) || !AppendBytes(file, data, byteCount) ||
        (byteCount % 2 != 0 && !AppendBytes(file, &kPadByte, 1))) {
        file.index.resize(indexSizeBefore);
        return avierr::kFileWrite;
    }

    file.dataEnd = moviEnd;
    stream->chunkCount += static_cast<uint32_t>(emptyChunks) + 1;
    stream->bytesWritten += byteCount;
    stream->largestSample = std::max(stream->largestSample, byteCount);
    stream->endPosition = newEnd;
    return avierr::kOk;
}

AviResult EndRecord(OutputFile* file) {
    return file == nullptr ? avierr::kBadHandle : avierr::kOk;
}

AviResult ReleaseStream(Stream* stream) {
    if (stream == nullptr || stream->released)
        return avierr::kBadHandle;
    stream->released = true;
    return avierr::kOk;
}

AviResult ReleaseFile(OutputFile* file) {
    if (file == nullptr)
        return avierr::kBadHandle;
    const std::unique_ptr<OutputFile> owned(file);
    AviResult result = FinishFile(*owned);
    if (faults::Check(faults::Operation::Close) != 0)
        result = avierr::kFileWrite;
    if (close(owned->fd) != 0 && result == avierr::kOk)
        result = avierr::kFileWrite;
    return result;
}

AviResult ReadStreamDescription(const Stream* stream, AviStreamInfo* description) {
    if (stream == nullptr)
        return avierr::kBadHandle;
    if (description == nullptr)
        return avierr::kBadParameter;
    *description = stream->description;
    return avierr::kOk;
}

AviResult SetFileSizeLimit(OutputFile* file, uint64_t limit) {
    if (file == nullptr)
        return avierr::kBadHandle;
    if (limit > kFileSizeLimit || limit <= file->FinalSize(file->dataEnd, file->index.size()))
        return avierr::kBadParameter;
    file->sizeLimit = limit;
    return avierr::kOk;
}

} // namespace avilib
} // namespace clipwright
