#include "avi/AviMuxer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "avi/AviConstants.h"
#include "avi/LittleEndian.h"
#include "platform/FaultPoints.h"

namespace clipwright {

namespace {

constexpr uint64_t kMoviListOffset = 2048; // the header region ends where the movi list starts
constexpr uint64_t kMoviWordOffset = kMoviListOffset + 8;
constexpr uint32_t kChunkHeaderSize = 8;
constexpr uint32_t kIndexEntrySize = 16;
constexpr size_t kWriteBlockSize = size_t{1} << 20;

constexpr uint32_t kVideoScale = 1000; // rate = frames per second x 1000
constexpr uint32_t kQuality = 2000;
constexpr uint32_t kImageSizeField = 129600; // the same for every resolution

constexpr uint16_t kWaveFormatAdpcm = 2;
constexpr uint16_t kAudioChannels = 1;
constexpr uint32_t kAudioSampleRate = 8000;
constexpr uint16_t kAudioBlockSize = 256;
constexpr uint16_t kAudioSamplesPerBlock = 500;
constexpr uint32_t kAudioBytesPerSecond = 4096; // 8000 / 500 blocks of 256 bytes
constexpr uint16_t kAudioBitsPerSample = 4;
constexpr uint16_t kAdpcmExtensionSize = 32; // wSamplesPerBlock, wNumCoef, 7 coefficient pairs

struct CoefficientPair {
    int16_t first;
    int16_t second;
};
// The standard MS-ADPCM predictor pairs, in their standard order.
constexpr std::array<CoefficientPair, 7> kAdpcmCoefficients{
    {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}}};

uint64_t PaddedSize(uint64_t size) {
    return size + (size & 1);
}

uint32_t ClampToU32(uint64_t value) {
    return static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
}

int16_t ClampToI16(int32_t value) {
    return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

// '00dc', '01wb'...: the stream's number in two digits, then its kind.
FourCC StreamChunkId(uint32_t number, char kind0, char kind1) {
    const std::array<uint8_t, 4> id{static_cast<uint8_t>('0' + number / 10),
                                    static_cast<uint8_t>('0' + number % 10), static_cast<uint8_t>(kind0),
                                    static_cast<uint8_t>(kind1)};
    return FourCC::FromBytes(id.data());
}

} // namespace

AviMuxer::AviMuxer() = default;

AviMuxer::~AviMuxer() {
    CloseUnfinished();
}

void AviMuxer::SetImageFormat(ResolutionCode code, uint32_t framesPerSecond) {
    videoSettings_.rate = framesPerSecond * kVideoScale;
    switch (code) {
    case kResolutionVga:
        videoSettings_.width = 640;
        videoSettings_.height = 480;
        break;
    case kResolutionQvga:
        videoSettings_.width = 320;
        videoSettings_.height = 240;
        break;
    default: // 2, and 3 (not recognised)
        videoSettings_.width = 160;
        videoSettings_.height = 112;
        break;
    }
}

bool AviMuxer::Open(const std::string& path, mode_t mode) {
    CloseUnfinished();
    pending_.clear();
    pendingAt_ = 0;
    sizeLimit_ = kSizeLimit;
    video_ = Stream{};
    audio_ = Stream{};
    streamCount_ = 0;
    index_.clear();
    failure_ = MuxerFailure::None;
    systemError_ = 0;
    dataLost_ = false;
    complete_ = false;

    try {
        pending_.reserve(kWriteBlockSize);
    } catch (const std::bad_alloc&) {
        Fail(MuxerFailure::System, ENOMEM);
        return false;
    }
    if (!CreateFile(path, mode))
        return false;
    PutHeaderRegion(0);
    if (!Flush()) {
        CloseUnfinished();
        return false;
    }
    dataEnd_ = End();
    return true;
}

bool AviMuxer::CreateFile(const std::string& path, mode_t mode) {
    path_ = path;
    if (int injected = faults::Check(faults::Operation::Create, {path_})) {
        Fail(MuxerFailure::System, injected);
        return false;
    }
    // Never through a link: the output would land wherever the link points.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd_ < 0) {
        Fail(MuxerFailure::System, errno);
        return false;
    }
    return true;
}

void AviMuxer::CloseUnfinished() {
    if (fd_ < 0)
        return;
    faults::Check(faults::Operation::Close);
    ::close(fd_);
    fd_ = -1;
}

bool AviMuxer::WriteVideoFrame(const uint8_t* data, uint32_t size, FrameKind kind) {
    return WriteChunk(video_, data, size, PaddedSize(size), kind == FrameKind::Key ? avi::kIndexKeyFrame : 0);
}

bool AviMuxer::WriteRepeatFrame(FrameKind kind) {
    return WriteChunk(video_, nullptr, 0, 0, kind == FrameKind::Key ? avi::kIndexKeyFrame : 0);
}

bool AviMuxer::WriteAudioBlock(const uint8_t* data, uint32_t size) {
    return WriteChunk(audio_, data, size, size, 0);
}

void AviMuxer::CreateStream(Stream& stream) {
    stream.created = true;
    stream.number = streamCount_++;
    if (&stream == &video_) {
        stream.chunkId = StreamChunkId(stream.number, 'd', 'c');
        videoStreamSettings_ = videoSettings_;
    } else {
        stream.chunkId = StreamChunkId(stream.number, 'w', 'b');
    }
}

bool AviMuxer::WriteChunk(Stream& stream, const uint8_t* data, uint32_t size, uint64_t storedSize,
                          uint32_t flags) {
    if (!IsOpen() || Failed())
        return false;
    if (!stream.created)
        CreateStream(stream);

    // The file's video starts with an empty frame before the first one written.
    const uint64_t emptyChunks = &stream == &video_ && stream.chunks == 0 ? 1 : 0;
    const uint64_t chunkAt = dataEnd_ + emptyChunks * kChunkHeaderSize;
    const uint64_t moviEnd = chunkAt + kChunkHeaderSize + PaddedSize(storedSize);
    if (FinalSize(moviEnd, index_.size() + emptyChunks + 1) >= sizeLimit_) {
        Fail(MuxerFailure::SizeLimit, 0);
        return false;
    }
    // Below the limit every offset and size fits 32 bits.
    const auto stored = static_cast<uint32_t>(storedSize);

    // The index grows first: bytes once handed on cannot be taken back.
    const size_t entriesBefore = index_.size();
    try {
        if (emptyChunks != 0)
            index_.push_back({stream.chunkId, 0, static_cast<uint32_t>(dataEnd_ - kMoviWordOffset), 0});
        index_.push_back({stream.chunkId, flags, static_cast<uint32_t>(chunkAt - kMoviWordOffset), stored});
    } catch (const std::bad_alloc&) {
        index_.resize(entriesBefore);
        Fail(MuxerFailure::System, ENOMEM);
        return false;
    }

    if (emptyChunks != 0)
        EndChunk(BeginChunk(stream.chunkId));
    const uint64_t sizeField = BeginChunk(stream.chunkId);
    Put(data, size);
    PutZeros(stored - size); // an odd video frame's zero byte, counted in its size
    EndChunk(sizeField);
    if (dataLost_)
        return false;

    dataEnd_ = moviEnd;
    stream.chunks += static_cast<uint32_t>(emptyChunks) + 1;
    stream.bytes += stored;
    stream.largestChunk = std::max(stream.largestChunk, stored);
    return true;
}

bool AviMuxer::Finish() {
    if (!IsOpen())
        return false;
    FinishFile();
    if (int injected = faults::Check(faults::Operation::Close))
        Fail(MuxerFailure::System, injected);
    if (::close(fd_) != 0)
        Fail(MuxerFailure::System, errno);
    fd_ = -1;
    complete_ = !Failed();
    return complete_;
}

// Index first, headers last: a file whose index could not be written keeps its unfinished header.
void AviMuxer::FinishFile() {
    if (dataLost_)
        return;
    const uint64_t finalSize = FinalSize(dataEnd_, index_.size());
    PutIndex();
    if (!Flush())
        return;
    if (int injected = faults::Check(faults::Operation::Truncate)) {
        Fail(MuxerFailure::System, injected);
        return;
    }
    if (::ftruncate(fd_, static_cast<off_t>(finalSize)) != 0) {
        Fail(MuxerFailure::System, errno);
        return;
    }
    pending_.clear();
    pendingAt_ = 0;
    PutHeaderRegion(finalSize);
    if (!Flush())
        return;
    // The caller renames the file into place next: its bytes must be on the disk first.
    if (int injected = faults::Check(faults::Operation::Sync, {path_})) {
        Fail(MuxerFailure::System, injected);
        return;
    }
    if (::fsync(fd_) != 0)
        Fail(MuxerFailure::System, errno);
}

bool AviMuxer::LowerSizeLimit(uint64_t limit) {
    if (!IsOpen() || limit > kSizeLimit || limit <= FinalSize(dataEnd_, index_.size()))
        return false;
    sizeLimit_ = limit;
    return true;
}

uint64_t AviMuxer::FinalSize(uint64_t moviEnd, uint64_t indexEntries) const {
    return moviEnd + kChunkHeaderSize + indexEntries * kIndexEntrySize;
}

void AviMuxer::Fail(MuxerFailure failure, int systemError) {
    // The first failure is the one that stopped the output; later ones follow from it.
    if (failure_ != MuxerFailure::None)
        return;
    failure_ = failure;
    systemError_ = failure == MuxerFailure::System ? systemError : 0;
}

void AviMuxer::Put(const uint8_t* data, size_t size) {
    if (pending_.size() + size > kWriteBlockSize) {
        Flush();
        // A payload as large as a block goes straight to the file.
        if (size >= kWriteBlockSize) {
            if (!dataLost_)
                WriteAt(pendingAt_, data, size);
            pendingAt_ += size;
            return;
        }
    }
    pending_.insert(pending_.end(), data, data + size);
}

void AviMuxer::PutU16(uint16_t value) {
    std::array<uint8_t, 2> bytes{};
    le::WriteU16(bytes.data(), value);
    Put(bytes.data(), bytes.size());
}

void AviMuxer::PutU32(uint32_t value) {
    std::array<uint8_t, 4> bytes{};
    le::WriteU32(bytes.data(), value);
    Put(bytes.data(), bytes.size());
}

void AviMuxer::PutI16(int16_t value) {
    PutU16(static_cast<uint16_t>(value));
}

void AviMuxer::PutI32(int32_t value) {
    PutU32(static_cast<uint32_t>(value));
}

void AviMuxer::PutFourCC(FourCC code) {
    Put(code.Bytes().data(), code.Bytes().size());
}

void AviMuxer::PutZeros(size_t count) {
    static constexpr std::array<uint8_t, 64> kZeros{};
    while (count > 0) {
        const size_t part = std::min(count, kZeros.size());
        Put(kZeros.data(), part);
        count -= part;
    }
}

uint64_t AviMuxer::BeginChunk(FourCC id) {
    PutFourCC(id);
    const uint64_t sizeField = End();
    PutU32(0);
    return sizeField;
}

uint64_t AviMuxer::BeginList(FourCC listType) {
    const uint64_t sizeField = BeginChunk(fourcc::kList);
    PutFourCC(listType);
    return sizeField;
}

void AviMuxer::EndChunk(uint64_t sizeField) {
    const uint64_t size = End() - sizeField - 4;
    if (size % 2 != 0)
        PutZeros(1);
    std::array<uint8_t, 4> bytes{};
    le::WriteU32(bytes.data(), static_cast<uint32_t>(size));
    if (sizeField >= pendingAt_)
        std::copy(bytes.begin(), bytes.end(),
                  pending_.begin() + static_cast<ptrdiff_t>(sizeField - pendingAt_));
    else if (!dataLost_)
        WriteAt(sizeField, bytes.data(), bytes.size()); // a large chunk: its header is on its way
}

bool AviMuxer::Flush() {
    if (!pending_.empty() && !dataLost_)
        WriteAt(pendingAt_, pending_.data(), pending_.size());
    pendingAt_ += pending_.size();
    pending_.clear();
    return !dataLost_;
}

bool AviMuxer::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
    while (size > 0) {
        int error = faults::Check(faults::Operation::Write, {path_, {}, offset, size});
        if (error == 0) {
            const ssize_t written = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
            if (written < 0 && errno == EINTR)
                continue;
            if (written > 0) {
                const auto count = static_cast<size_t>(written);
                data += count;
                size -= count;
                offset += count;
                continue;
            }
            error = written < 0 ? errno : ENOSPC; // no progress at all: nothing more fits
        }
        // A block may hold earlier chunks too, so the file is lost from here on.
        dataLost_ = true;
        Fail(MuxerFailure::System, error);
        return false;
    }
    return true;
}

void AviMuxer::PutHeaderRegion(uint64_t finalSize) {
    PutFourCC(fourcc::kRiff);
    PutU32(finalSize == 0 ? 0 : static_cast<uint32_t>(finalSize - kChunkHeaderSize)); // RIFF size
    PutFourCC(fourcc::kAvi);

    const uint64_t hdrl = BeginList(fourcc::kHdrl);
    PutMainHeader();
    for (uint32_t number = 0; number < streamCount_; ++number) {
        if (video_.created && video_.number == number)
            PutVideoStreamList();
        else
            PutAudioStreamList();
    }
    EndChunk(hdrl);

    const uint64_t junk = BeginChunk(fourcc::kJunk);
    PutZeros(static_cast<size_t>(kMoviListOffset - End()));
    EndChunk(junk);

    PutFourCC(fourcc::kList);
    PutU32(finalSize == 0 ? 0 : static_cast<uint32_t>(dataEnd_ - kMoviWordOffset)); // movi list size
    PutFourCC(fourcc::kMovi);
}

void AviMuxer::PutMainHeader() {
    const VideoSettings& video = videoStreamSettings_;
    uint32_t microSecPerFrame = 0;
    uint64_t bytesPerSecond = 0;
    if (video_.created) {
        if (video.rate != 0)
            microSecPerFrame = ClampToU32((uint64_t{kVideoScale} * 1000000 + video.rate / 2) / video.rate);
        bytesPerSecond += uint64_t{video_.largestChunk} * video.rate / kVideoScale;
    }
    if (audio_.created)
        bytesPerSecond += kAudioBytesPerSecond;

    const uint64_t avih = BeginChunk(fourcc::kAvih);
    PutU32(microSecPerFrame);                                         // dwMicroSecPerFrame
    PutU32(ClampToU32(bytesPerSecond));                               // dwMaxBytesPerSec
    PutU32(0);                                                        // dwPaddingGranularity
    PutU32(avi::kMainFlagHasIndex | avi::kMainFlagIsInterleaved);     // dwFlags
    PutU32(video_.chunks);                                            // dwTotalFrames
    PutU32(0);                                                        // dwInitialFrames
    PutU32(streamCount_);                                             // dwStreams
    PutU32(std::max(video_.largestChunk, audio_.largestChunk));       // dwSuggestedBufferSize
    PutU32(video_.created ? static_cast<uint32_t>(video.width) : 0);  // dwWidth
    PutU32(video_.created ? static_cast<uint32_t>(video.height) : 0); // dwHeight
    PutZeros(16);                                                     // dwReserved[4]
    EndChunk(avih);
}

void AviMuxer::PutVideoStreamList() {
    const VideoSettings& video = videoStreamSettings_;
    const uint64_t strl = BeginList(fourcc::kStrl);
    const uint64_t strh = BeginChunk(fourcc::kStrh);
    PutFourCC(fourcc::kVids);         // fccType
    PutFourCC(fourcc::kDivx);         // fccHandler
    PutU32(0);                        // dwFlags
    PutU16(0);                        // wPriority
    PutU16(0);                        // wLanguage
    PutU32(1);                        // dwInitialFrames
    PutU32(kVideoScale);              // dwScale
    PutU32(video.rate);               // dwRate
    PutU32(0);                        // dwStart
    PutU32(video_.chunks);            // dwLength
    PutU32(video_.largestChunk);      // dwSuggestedBufferSize
    PutU32(kQuality);                 // dwQuality
    PutU32(0);                        // dwSampleSize: frames of varying size
    PutI16(0);                        // rcFrame.left
    PutI16(0);                        // rcFrame.top
    PutI16(ClampToI16(video.width));  // rcFrame.right
    PutI16(ClampToI16(video.height)); // rcFrame.bottom
    EndChunk(strh);

    const uint64_t strf = BeginChunk(fourcc::kStrf);
    PutU32(40);               // biSize
    PutI32(video.width);      // biWidth
    PutI32(video.height);     // biHeight
    PutU16(1);                // biPlanes
    PutU16(24);               // biBitCount
    PutFourCC(fourcc::kDx50); // biCompression
    PutU32(kImageSizeField);  // biSizeImage
    PutI32(0);                // biXPelsPerMeter
    PutI32(0);                // biYPelsPerMeter
    PutU32(0);                // biClrUsed
    PutU32(0);                // biClrImportant
    EndChunk(strf);
    EndChunk(strl);
}

void AviMuxer::PutAudioStreamList() {
    const uint64_t strl = BeginList(fourcc::kStrl);
    const uint64_t strh = BeginChunk(fourcc::kStrh);
    PutFourCC(fourcc::kAuds);                           // fccType
    PutFourCC(FourCC());                                // fccHandler
    PutU32(0);                                          // dwFlags
    PutU16(0);                                          // wPriority
    PutU16(0);                                          // wLanguage
    PutU32(0);                                          // dwInitialFrames
    PutU32(kAudioBlockSize);                            // dwScale
    PutU32(kAudioBytesPerSecond);                       // dwRate
    PutU32(0);                                          // dwStart
    PutU32(ClampToU32(audio_.bytes / kAudioBlockSize)); // dwLength: whole blocks
    PutU32(audio_.largestChunk);                        // dwSuggestedBufferSize
    PutU32(kQuality);                                   // dwQuality
    PutU32(kAudioBlockSize);                            // dwSampleSize
    PutZeros(8);                                        // rcFrame
    EndChunk(strh);

    const uint64_t strf = BeginChunk(fourcc::kStrf);
    PutU16(kWaveFormatAdpcm);                                 // wFormatTag
    PutU16(kAudioChannels);                                   // nChannels
    PutU32(kAudioSampleRate);                                 // nSamplesPerSec
    PutU32(kAudioBytesPerSecond);                             // nAvgBytesPerSec
    PutU16(kAudioBlockSize);                                  // nBlockAlign
    PutU16(kAudioBitsPerSample);                              // wBitsPerSample
    PutU16(kAdpcmExtensionSize);                              // cbSize
    PutU16(kAudioSamplesPerBlock);                            // wSamplesPerBlock
    PutU16(static_cast<uint16_t>(kAdpcmCoefficients.size())); // wNumCoef
    for (const CoefficientPair& pair : kAdpcmCoefficients) {
        PutI16(pair.first);  // aCoef[].iCoef1
        PutI16(pair.second); // aCoef[].iCoef2
    }
    EndChunk(strf);
    EndChunk(strl);
}

void AviMuxer::PutIndex() {
    const uint64_t idx1 = BeginChunk(fourcc::kIdx1);
    for (const IndexEntry& entry : index_) {
        PutFourCC(entry.chunkId); // ckid
        PutU32(entry.flags);      // dwFlags
        PutU32(entry.moviOffset); // dwChunkOffset: from the 'movi' word
        PutU32(entry.size);       // dwChunkLength
    }
    EndChunk(idx1);
}

} // namespace clipwright
