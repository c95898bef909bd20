#include "avi/AviMuxer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
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

// OpenDML: 'RIFF' size 'AVIX' 'LIST' size 'movi' before a further part's chunks; an index's chunk
// header and the fields before its entries; an entry of each.
constexpr uint64_t kPartHeaderSize = 24;
constexpr uint32_t kIndexHeaderSize = 8 + 24;
constexpr uint32_t kSuperIndexEntrySize = 16;
constexpr uint32_t kStandardIndexEntrySize = 8;
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
constexpr uint32_t kExtendedHeaderSize = 248; // dmlh: dwTotalFrames, then 61 reserved words

// The room the header region gives the super indexes: what is left of its 2048 bytes beside the
// headers of both streams, the odml list and the JUNK chunk's header.
constexpr uint64_t kHeaderListSize = 12 + (8 + 56)                 // LIST 'hdrl', avih
                                     + (12 + (8 + 56) + (8 + 40))  // video strl: strh, strf
                                     + (12 + (8 + 56) + (8 + 50)); // audio strl: strh, strf
constexpr uint64_t kOdmlListSize = 12 + 8 + kExtendedHeaderSize;
static_assert(12 + kHeaderListSize + kOdmlListSize + 8 +
                  2 * (kIndexHeaderSize + uint64_t{AviMuxer::kSuperIndexSlots} * kSuperIndexEntrySize) <=
              kMoviListOffset);
static_assert(12 + kHeaderListSize + kOdmlListSize + 8 +
                  2 * (kIndexHeaderSize + uint64_t{AviMuxer::kSuperIndexSlots + 1} * kSuperIndexEntrySize) >
              kMoviListOffset);

// The part size of outputs opened from now on; 0: AviMuxer::kPartSize.
std::atomic<uint64_t> testPartSize{0};

constexpr uint32_t kVideoScale = 1000; // the camera's rate = frames per second x 1000
constexpr uint32_t kQuality = 2000;

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

// 'ix00', 'ix01'...
FourCC StandardIndexId(uint32_t number) {
    const std::array<uint8_t, 4> id{'i', 'x', static_cast<uint8_t>('0' + number / 10),
                                    static_cast<uint8_t>('0' + number % 10)};
    return FourCC::FromBytes(id.data());
}

} // namespace

AviMuxer::AviMuxer() = default;

void AviMuxer::SetPartSizeForTests(uint64_t size) {
    testPartSize = size;
}

uint64_t AviMuxer::PartSize() {
    const uint64_t testSize = testPartSize;
    return testSize != 0 ? testSize : kPartSize;
}

AviMuxer::~AviMuxer() {
    CloseUnfinished();
}

void AviMuxer::SetImageFormat(ResolutionCode code, uint32_t framesPerSecond) {
    videoFormat_ = VideoStreamFormat{};
    videoFormat_.rate = framesPerSecond * kVideoScale;
    videoFormat_.scale = kVideoScale;
    switch (code) {
    case kResolutionVga:
        videoFormat_.width = 640;
        videoFormat_.height = 480;
        break;
    case kResolutionQvga:
        videoFormat_.width = 320;
        videoFormat_.height = 240;
        break;
    default: // 2, and 3 (not recognised)
        videoFormat_.width = 160;
        videoFormat_.height = 112;
        break;
    }
}

bool AviMuxer::Open(const std::string& path, mode_t mode) {
    CloseUnfinished();
    pendingBytes_ = 0;
    pendingAt_ = 0;
    // Twice the expected size fits the super index: parts are never quite full.
    const uint64_t partsNeed = (2 * expectedSize_ + kSuperIndexSlots - 1) / kSuperIndexSlots;
    partLimit_ = std::min(std::max(PartSize(), partsNeed), kLargestPart);
    partStart_ = 0;
    moviWord_ = kMoviWordOffset;
    closedParts_ = 0;
    firstPartEnd_ = 0;
    firstMoviEnd_ = 0;
    firstPartVideoChunks_ = 0;
    video_ = Stream{};
    audio_ = Stream{};
    streamCount_ = 0;
    index_.clear();
    failure_ = MuxerFailure::None;
    systemError_ = 0;
    dataLost_ = false;
    complete_ = false;

    try {
        pending_.resize(kWriteBlockSize);
    } catch (const std::bad_alloc&) {
        Fail(MuxerFailure::System, ENOMEM);
        return false;
    }
    if (!CreateFile(path, mode))
        return false;
    PutHeaderRegion(false);
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
        videoStreamFormat_ = videoFormat_;
    } else {
        stream.chunkId = StreamChunkId(stream.number, 'w', 'b');
        audioStreamFormat_ = audioFormat_;
    }
}

bool AviMuxer::WriteChunk(Stream& stream, const uint8_t* data, uint32_t size, uint64_t storedSize,
                          uint32_t flags) {
    if (!IsOpen() || Failed())
        return false;
    if (!stream.created)
        CreateStream(stream);

    // The camera's video starts with an empty frame before the first one written.
    const uint64_t emptyChunks =
        &stream == &video_ && stream.chunks == 0 && videoStreamFormat_.leadingEmptyFrame ? 1 : 0;
    const uint64_t chunkBytes = emptyChunks * kChunkHeaderSize + kChunkHeaderSize + PaddedSize(storedSize);
    const uint64_t entries = emptyChunks + 1;
    if (!FitsCurrentPart(chunkBytes, entries)) {
        // Refused before anything is written: what the file holds stays whole.
        if (index_.empty() || closedParts_ + 2 > kSuperIndexSlots || !FitsNextPart(chunkBytes, entries)) {
            Fail(MuxerFailure::System, EFBIG);
            return false;
        }
        if (!NextPart())
            return false;
    }
    // Inside a part every offset and size fits 32 bits.
    const auto stored = static_cast<uint32_t>(storedSize);
    const uint64_t chunkAt = dataEnd_ + emptyChunks * kChunkHeaderSize;

    // The index grows first: bytes once handed on cannot be taken back.
    const size_t entriesBefore = index_.size();
    try {
        if (emptyChunks != 0)
            index_.emplace_back(&stream == &audio_, false, dataEnd_ - moviWord_, 0);
        index_.emplace_back(&stream == &audio_, (flags & avi::kIndexKeyFrame) != 0, chunkAt - moviWord_,
                            stored);
    } catch (const std::bad_alloc&) {
        while (index_.size() > entriesBefore)
            index_.pop_back();
        Fail(MuxerFailure::System, ENOMEM);
        return false;
    }

    if (emptyChunks != 0)
        PutChunk(stream.chunkId, nullptr, 0, 0);
    PutChunk(stream.chunkId, data, size, stored);
    if (dataLost_)
        return false;

    dataEnd_ += chunkBytes;
    stream.chunks += static_cast<uint32_t>(entries);
    stream.bytes += stored;
    stream.partChunks += static_cast<uint32_t>(entries);
    stream.partBytes += stored;
    stream.largestChunk = std::max(stream.largestChunk, stored);
    return true;
}

uint64_t AviMuxer::ClosedPartSize(uint64_t moviEnd, uint64_t entries) const {
    uint64_t size = moviEnd - partStart_ + entries * kStandardIndexEntrySize;
    for (const Stream* stream : {&video_, &audio_})
        if (stream->created)
            size += uint64_t{closedParts_ + 1 - stream->parts} * kIndexHeaderSize;
    if (closedParts_ == 0)
        size += kChunkHeaderSize + entries * kIndexEntrySize; // idx1
    return size;
}

bool AviMuxer::FitsCurrentPart(uint64_t chunkBytes, uint64_t entries) const {
    // A part's first chunk is taken whatever the part size: it could go nowhere else.
    const uint64_t limit = index_.empty() ? kLargestPart : partLimit_;
    return ClosedPartSize(dataEnd_ + chunkBytes, index_.size() + entries) < limit;
}

bool AviMuxer::FitsNextPart(uint64_t chunkBytes, uint64_t entries) const {
    const uint64_t indexes = streamCount_ * kIndexHeaderSize + entries * kStandardIndexEntrySize;
    return kPartHeaderSize + chunkBytes + indexes < kLargestPart;
}

bool AviMuxer::NextPart() {
    ClosePart();
    const uint64_t riff = BeginChunk(fourcc::kRiff);
    PutFourCC(fourcc::kAvix);
    const uint64_t movi = BeginList(fourcc::kMovi);
    partStart_ = riff - 4;
    moviWord_ = movi + 4;
    riffSizeField_ = riff;
    moviSizeField_ = movi;
    dataEnd_ = End();
    return !dataLost_;
}

// The first part's sizes stand in the header region, written when the file is finished.
void AviMuxer::ClosePart() {
    PutStandardIndexes();
    if (closedParts_ == 0) {
        firstMoviEnd_ = End();
        PutIndex();
        firstPartEnd_ = End();
        firstPartVideoChunks_ = video_.chunks;
    } else {
        EndChunk(moviSizeField_);
        EndChunk(riffSizeField_);
    }
    ++closedParts_;
    index_.clear();
    for (Stream* stream : {&video_, &audio_}) {
        stream->partChunks = 0;
        stream->partBytes = 0;
    }
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

// Indexes first, headers last: a file whose indexes could not be written keeps its unfinished header.
void AviMuxer::FinishFile() {
    if (dataLost_)
        return;
    if (closedParts_ == 0) {
        firstMoviEnd_ = dataEnd_;
        PutIndex();
        firstPartEnd_ = End();
        firstPartVideoChunks_ = video_.chunks;
    } else {
        ClosePart();
    }
    if (!Flush())
        return;
    const uint64_t finalSize = pendingAt_;
    if (int injected = faults::Check(faults::Operation::Truncate)) {
        Fail(MuxerFailure::System, injected);
        return;
    }
    if (::ftruncate(fd_, static_cast<off_t>(finalSize)) != 0) {
        Fail(MuxerFailure::System, errno);
        return;
    }
    pendingBytes_ = 0;
    pendingAt_ = 0;
    PutHeaderRegion(true);
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

void AviMuxer::Fail(MuxerFailure failure, int systemError) {
    // The first failure is the one that stopped the output; later ones follow from it.
    if (failure_ != MuxerFailure::None)
        return;
    failure_ = failure;
    systemError_ = failure == MuxerFailure::System ? systemError : 0;
}

void AviMuxer::Put(const uint8_t* data, size_t size) {
    if (pendingBytes_ + size > kWriteBlockSize) {
        Flush();
        // A payload as large as a block goes straight to the file.
        if (size >= kWriteBlockSize) {
            if (!dataLost_)
                WriteAt(pendingAt_, data, size);
            pendingAt_ += size;
            return;
        }
    }
    if (size > 0) // a repeat frame comes with no data at all
        std::memcpy(pending_.data() + pendingBytes_, data, size);
    pendingBytes_ += size;
}

void AviMuxer::PutChunk(FourCC id, const uint8_t* data, uint32_t size, uint32_t storedSize) {
    // Most chunks fit the block whole: put in one go, as the calls below would put them.
    const size_t bytes = kChunkHeaderSize + static_cast<size_t>(PaddedSize(storedSize));
    if (pendingBytes_ + bytes <= kWriteBlockSize) {
        uint8_t* out = pending_.data() + pendingBytes_;
        std::memcpy(out, id.Bytes().data(), 4);
        le::WriteU32(out + 4, storedSize);
        if (size > 0)
            std::memcpy(out + kChunkHeaderSize, data, size);
        for (size_t zero = kChunkHeaderSize + size; zero < bytes; ++zero) // a pad byte at most, mostly
            out[zero] = 0;
        pendingBytes_ += bytes;
        return;
    }
    const uint64_t sizeField = BeginChunk(id);
    Put(data, size);
    PutZeros(storedSize - size); // an odd video frame's zero byte, counted in its size
    EndChunk(sizeField);
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
    if (pendingBytes_ != 0 && !dataLost_)
        WriteAt(pendingAt_, pending_.data(), pendingBytes_);
    pendingAt_ += pendingBytes_;
    pendingBytes_ = 0;
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

void AviMuxer::PutHeaderRegion(bool finished) {
    const bool openDml = closedParts_ > 0;
    PutFourCC(fourcc::kRiff);
    PutU32(finished ? static_cast<uint32_t>(firstPartEnd_ - kChunkHeaderSize) : 0); // RIFF size
    PutFourCC(fourcc::kAvi);

    const uint64_t hdrl = BeginList(fourcc::kHdrl);
    PutMainHeader(openDml);
    for (uint32_t number = 0; number < streamCount_; ++number) {
        if (video_.created && video_.number == number)
            PutVideoStreamList(openDml);
        else
            PutAudioStreamList(openDml);
    }
    if (openDml)
        PutOpenDmlHeader();
    EndChunk(hdrl);

    const uint64_t junk = BeginChunk(fourcc::kJunk);
    PutZeros(static_cast<size_t>(kMoviListOffset - End()));
    EndChunk(junk);

    PutFourCC(fourcc::kList);
    PutU32(finished ? static_cast<uint32_t>(firstMoviEnd_ - kMoviWordOffset) : 0); // movi list size
    PutFourCC(fourcc::kMovi);
}

void AviMuxer::PutMainHeader(bool openDml) {
    const VideoStreamFormat& video = videoStreamFormat_;
    uint32_t microSecPerFrame = 0;
    uint64_t bytesPerSecond = 0;
    if (video_.created && video.rate != 0 && video.scale != 0) {
        microSecPerFrame = ClampToU32((uint64_t{video.scale} * 1000000 + video.rate / 2) / video.rate);
        bytesPerSecond += uint64_t{video_.largestChunk} * video.rate / video.scale;
    }
    if (audio_.created)
        bytesPerSecond += audioStreamFormat_.bytesPerSecond;

    const uint64_t avih = BeginChunk(fourcc::kAvih);
    PutU32(microSecPerFrame);                                         // dwMicroSecPerFrame
    PutU32(ClampToU32(bytesPerSecond));                               // dwMaxBytesPerSec
    PutU32(0);                                                        // dwPaddingGranularity
    PutU32(avi::kMainFlagHasIndex | avi::kMainFlagIsInterleaved);     // dwFlags
    PutU32(openDml ? firstPartVideoChunks_ : video_.chunks);          // dwTotalFrames
    PutU32(0);                                                        // dwInitialFrames
    PutU32(streamCount_);                                             // dwStreams
    PutU32(std::max(video_.largestChunk, audio_.largestChunk));       // dwSuggestedBufferSize
    PutU32(video_.created ? static_cast<uint32_t>(video.width) : 0);  // dwWidth
    PutU32(video_.created ? static_cast<uint32_t>(video.height) : 0); // dwHeight
    PutZeros(16);                                                     // dwReserved[4]
    EndChunk(avih);
}

void AviMuxer::PutVideoStreamList(bool openDml) {
    const VideoStreamFormat& video = videoStreamFormat_;
    const uint64_t strl = BeginList(fourcc::kStrl);
    const uint64_t strh = BeginChunk(fourcc::kStrh);
    PutFourCC(fourcc::kVids);         // fccType
    PutFourCC(video.handler);         // fccHandler
    PutU32(0);                        // dwFlags
    PutU16(0);                        // wPriority
    PutU16(0);                        // wLanguage
    PutU32(1);                        // dwInitialFrames
    PutU32(video.scale);              // dwScale
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
    PutU32(40);                   // biSize
    PutI32(video.width);          // biWidth
    PutI32(video.height);         // biHeight
    PutU16(1);                    // biPlanes
    PutU16(video.bitCount);       // biBitCount
    PutFourCC(video.compression); // biCompression
    PutU32(video.imageSize);      // biSizeImage
    PutI32(0);                    // biXPelsPerMeter
    PutI32(0);                    // biYPelsPerMeter
    PutU32(0);                    // biClrUsed
    PutU32(0);                    // biClrImportant
    EndChunk(strf);
    if (openDml)
        PutSuperIndex(video_);
    EndChunk(strl);
}

void AviMuxer::PutAudioStreamList(bool openDml) {
    const AudioStreamFormat& audio = audioStreamFormat_;
    const uint64_t strl = BeginList(fourcc::kStrl);
    const uint64_t strh = BeginChunk(fourcc::kStrh);
    PutFourCC(fourcc::kAuds);                        // fccType
    PutFourCC(FourCC());                             // fccHandler
    PutU32(0);                                       // dwFlags
    PutU16(0);                                       // wPriority
    PutU16(0);                                       // wLanguage
    PutU32(0);                                       // dwInitialFrames
    PutU32(audio.scale);                             // dwScale
    PutU32(audio.rate);                              // dwRate
    PutU32(0);                                       // dwStart
    PutU32(AudioUnits(audio_.chunks, audio_.bytes)); // dwLength
    PutU32(audio_.largestChunk);                     // dwSuggestedBufferSize
    PutU32(kQuality);                                // dwQuality
    PutU32(audio.sampleSize);                        // dwSampleSize
    PutZeros(8);                                     // rcFrame
    EndChunk(strh);

    const uint64_t strf = BeginChunk(fourcc::kStrf);
    Put(audio.waveFormat.data(), audio.waveFormat.size());
    EndChunk(strf);
    if (openDml)
        PutSuperIndex(audio_);
    EndChunk(strl);
}

uint32_t AviMuxer::AudioUnits(uint64_t chunks, uint64_t bytes) const {
    const uint32_t sampleSize = audioStreamFormat_.sampleSize;
    return ClampToU32(sampleSize != 0 ? bytes / sampleSize : chunks);
}

void AviMuxer::PutIndex() {
    const uint64_t idx1 = BeginChunk(fourcc::kIdx1);
    for (const IndexEntry& entry : index_) {
        std::array<uint8_t, kIndexEntrySize> bytes;
        const FourCC id = entry.Audio() ? audio_.chunkId : video_.chunkId;
        std::memcpy(bytes.data(), id.Bytes().data(), 4);                            // ckid
        le::WriteU32(bytes.data() + 4, entry.KeyFrame() ? avi::kIndexKeyFrame : 0); // dwFlags
        le::WriteU32(bytes.data() + 8, entry.MoviOffset()); // dwChunkOffset: from the 'movi' word
        le::WriteU32(bytes.data() + 12, entry.Size());      // dwChunkLength
        Put(bytes.data(), bytes.size());
    }
    EndChunk(idx1);
}

// Every slot is there, unused ones zero, so that the header region's layout depends on the streams only.
void AviMuxer::PutSuperIndex(const Stream& stream) {
    const uint64_t indx = BeginChunk(fourcc::kIndx);
    PutU16(4); // wLongsPerEntry
    const std::array<uint8_t, 2> type{0, kIndexOfIndexes};
    Put(type.data(), type.size()); // bIndexSubType, bIndexType
    PutU32(stream.parts);          // nEntriesInUse
    PutFourCC(stream.chunkId);     // dwChunkId
    PutZeros(12);                  // dwReserved[3]
    for (const SuperIndexEntry& entry : stream.superIndex) {
        PutU32(static_cast<uint32_t>(entry.offset));       // qwOffset
        PutU32(static_cast<uint32_t>(entry.offset >> 32)); //
        PutU32(entry.size);                                // dwSize
        PutU32(entry.duration);                            // dwDuration
    }
    EndChunk(indx);
}

void AviMuxer::PutOpenDmlHeader() {
    const uint64_t odml = BeginList(fourcc::kOdml);
    const uint64_t dmlh = BeginChunk(fourcc::kDmlh);
    PutU32(video_.chunks); // dwTotalFrames
    PutZeros(kExtendedHeaderSize - 4);
    EndChunk(dmlh);
    EndChunk(odml);
}

void AviMuxer::PutStandardIndexes() {
    for (uint32_t number = 0; number < streamCount_; ++number) {
        Stream& stream = video_.created && video_.number == number ? video_ : audio_;
        while (stream.parts < closedParts_)
            PutStandardIndex(stream, false);
        PutStandardIndex(stream, true);
    }
}

void AviMuxer::PutStandardIndex(Stream& stream, bool withChunks) {
    const uint32_t count = withChunks ? stream.partChunks : 0;
    const uint64_t at = End();
    const uint64_t ix = BeginChunk(StandardIndexId(stream.number));
    PutU16(2); // wLongsPerEntry
    const std::array<uint8_t, 2> type{0, kIndexOfChunks};
    Put(type.data(), type.size());                   // bIndexSubType, bIndexType
    PutU32(count);                                   // nEntriesInUse
    PutFourCC(stream.chunkId);                       // dwChunkId
    PutU32(static_cast<uint32_t>(partStart_));       // qwBaseOffset
    PutU32(static_cast<uint32_t>(partStart_ >> 32)); //
    PutU32(0);                                       // dwReserved
    const bool video = &stream == &video_;
    const uint64_t moviFromBase = moviWord_ - partStart_;
    for (const IndexEntry& entry : index_) {
        if (!withChunks || entry.Audio() == video)
            continue;
        // Audio blocks stand alone: only video chunks can depend on the ones before.
        const bool delta = video && !entry.KeyFrame();
        PutU32(static_cast<uint32_t>(moviFromBase + entry.MoviOffset() + kChunkHeaderSize)); // dwOffset
        PutU32(entry.Size() | (delta ? avi::kStandardIndexDeltaFrame : 0));                  // dwSize
    }
    EndChunk(ix);
    uint32_t duration = 0;
    if (withChunks)
        duration = video ? stream.partChunks : AudioUnits(stream.partChunks, stream.partBytes);
    stream.superIndex[stream.parts++] = {at, static_cast<uint32_t>(End() - at), duration};
}

} // namespace clipwright
