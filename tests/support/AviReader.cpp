#include "AviReader.h"

#include <algorithm>
#include <unordered_map>

#include "avi/LittleEndian.h"

namespace clipwright::avitest {

namespace {

constexpr uint32_t kMainHeaderBytes = 56;
constexpr uint32_t kShortStreamHeaderBytes = 48; // strh without rcFrame, as some writers leave it
constexpr uint32_t kStreamHeaderBytes = 56;
constexpr uint32_t kBitmapInfoHeaderBytes = 40;
constexpr uint32_t kWaveFormatBytes = 16;
constexpr uint32_t kWaveFormatExBytes = 18;
constexpr uint32_t kIndexEntryBytes = 16;
constexpr uint32_t kMainFlagHasIndex = 0x10;
constexpr uint16_t kWaveFormatAdpcm = 2;
constexpr size_t kMostIndexErrors = 20;

std::string At(uint64_t offset) {
    return " at " + std::to_string(offset);
}

using Bytes = std::span<const uint8_t>;

FourCC FourCCAt(Bytes bytes, size_t offset) {
    return FourCC::FromBytes(le::FieldAt(bytes, offset, 4));
}

VideoFormat DecodeVideoFormat(Bytes data) {
    VideoFormat format;
    format.headerSize = le::ReadU32(data, 0);
    format.width = le::ReadI32(data, 4);
    format.height = le::ReadI32(data, 8);
    format.planes = le::ReadU16(data, 12);
    format.bitCount = le::ReadU16(data, 14);
    format.compression = FourCCAt(data, 16);
    format.imageSize = le::ReadU32(data, 20);
    format.xPelsPerMeter = le::ReadI32(data, 24);
    format.yPelsPerMeter = le::ReadI32(data, 28);
    format.colorsUsed = le::ReadU32(data, 32);
    format.colorsImportant = le::ReadU32(data, 36);
    return format;
}

AudioFormat DecodeAudioFormat(Bytes data) {
    AudioFormat format;
    format.formatTag = le::ReadU16(data, 0);
    format.channels = le::ReadU16(data, 2);
    format.samplesPerSec = le::ReadU32(data, 4);
    format.avgBytesPerSec = le::ReadU32(data, 8);
    format.blockAlign = le::ReadU16(data, 12);
    format.bitsPerSample = le::ReadU16(data, 14);
    if (data.size() >= kWaveFormatExBytes)
        format.extraSize = le::ReadU16(data, 16);
    // MS-ADPCM extension: samples per block, coefficient count, then the pairs.
    if (format.formatTag == kWaveFormatAdpcm && data.size() >= kWaveFormatExBytes + 4) {
        format.samplesPerBlock = le::ReadU16(data, 18);
        const size_t count = le::ReadU16(data, 20);
        for (size_t i = 0; i < count; ++i)
            format.coefficients.emplace_back(le::ReadI16(data, 22 + 4 * i), le::ReadI16(data, 24 + 4 * i));
    }
    return format;
}

} // namespace

int Chunk::StreamNumber() const {
    const auto& bytes = id.Bytes();
    if (bytes[0] < '0' || bytes[0] > '9' || bytes[1] < '0' || bytes[1] > '9')
        return -1;
    return (bytes[0] - '0') * 10 + (bytes[1] - '0');
}

AviReader::AviReader(const std::string& path) : file_(path, std::ios::binary) {
    if (!file_) {
        Error("cannot open " + path);
        return;
    }
    file_.seekg(0, std::ios::end);
    fileSize_ = static_cast<uint64_t>(file_.tellg());
    ParseRiff();
}

std::string AviReader::ErrorText() const {
    std::string text;
    for (const std::string& error : errors_)
        text += error + "\n";
    return text;
}

std::vector<Chunk> AviReader::StreamChunks(int streamNumber) const {
    std::vector<Chunk> chunks;
    std::copy_if(moviChunks_.begin(), moviChunks_.end(), std::back_inserter(chunks),
                 [streamNumber](const Chunk& chunk) { return chunk.StreamNumber() == streamNumber; });
    return chunks;
}

std::vector<uint8_t> AviReader::ReadPayload(const Chunk& chunk) const {
    std::vector<uint8_t> payload(chunk.size);
    if (!ReadAt(chunk.PayloadOffset(), payload.data(), payload.size()))
        throw le::ShortRead("payload of " + chunk.id.Quoted() + At(chunk.offset) +
                            " past the end of the file");
    return payload;
}

std::optional<uint8_t> AviReader::PadByteAfter(const Chunk& chunk) const {
    uint8_t pad = 0;
    if (chunk.size % 2 == 0)
        return std::nullopt;
    if (!ReadAt(chunk.PayloadOffset() + chunk.size, &pad, 1))
        throw le::ShortRead("pad byte of " + chunk.id.Quoted() + At(chunk.offset) +
                            " past the end of the file");
    return pad;
}

bool AviReader::ReadAt(uint64_t offset, uint8_t* buffer, size_t size) const {
    if (offset + size > fileSize_)
        return false;
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
    return file_.gcount() == static_cast<std::streamsize>(size);
}

std::optional<AviReader::ChunkHeader> AviReader::HeaderAt(uint64_t offset, uint64_t containerEnd,
                                                          const char* where) {
    uint8_t bytes[8];
    if (offset + 8 > containerEnd || !ReadAt(offset, bytes, 8)) {
        Error(std::string("truncated chunk header in ") + where + At(offset));
        return std::nullopt;
    }
    ChunkHeader header{FourCCAt(bytes, 0), le::ReadU32(bytes, 4)};
    if (offset + 8 + header.size > containerEnd) {
        Error("chunk " + header.id.Quoted() + At(offset) + " of size " + std::to_string(header.size) +
              " runs past the end of " + where + " (" + std::to_string(containerEnd) + ")");
        return std::nullopt;
    }
    return header;
}

void AviReader::ParseRiff() {
    uint8_t bytes[12];
    if (!ReadAt(0, bytes, 12)) {
        Error("file of " + std::to_string(fileSize_) + " bytes holds no RIFF header");
        return;
    }
    if (FourCCAt(bytes, 0) != fourcc::kRiff || FourCCAt(bytes, 8) != fourcc::kAvi) {
        Error("not a RIFF 'AVI ' file");
        return;
    }
    riffSize_ = le::ReadU32(bytes, 4);
    uint64_t riffEnd = uint64_t{riffSize_} + 8;
    if (riffEnd > fileSize_) {
        Error("RIFF size " + std::to_string(riffSize_) + " runs past the end of the file (" +
              std::to_string(fileSize_) + ")");
        riffEnd = fileSize_;
    }

    bool hasHeaderList = false;
    for (uint64_t position = 12; position < riffEnd;) {
        const auto header = HeaderAt(position, riffEnd, "RIFF 'AVI '");
        if (!header)
            break;
        Chunk chunk{header->id, position, header->size, FourCC()};
        const uint64_t dataBegin = position + 8;
        const uint64_t dataEnd = dataBegin + header->size;
        if (header->id == fourcc::kList) {
            uint8_t type[4];
            if (header->size < 4 || !ReadAt(dataBegin, type, 4)) {
                Error("LIST without a list type" + At(position));
                break;
            }
            chunk.listType = FourCCAt(type, 0);
            if (chunk.listType == fourcc::kHdrl) {
                hasHeaderList = true;
                ParseHeaderList(dataBegin + 4, dataEnd);
            } else if (chunk.listType == fourcc::kMovi) {
                hasMovi_ = true;
                moviListOffset_ = position;
                moviListSize_ = header->size;
                ParseMovi(dataBegin + 4, dataEnd);
            }
        } else if (header->id == fourcc::kIdx1) {
            ParseIndex(dataBegin, header->size);
        }
        topLevel_.push_back(chunk);
        position = dataEnd + (header->size & 1);
        if (position > riffEnd)
            Error("no pad byte after odd chunk " + header->id.Quoted() + At(chunk.offset));
    }

    ParseFurtherParts(riffEnd);

    if (!hasHeaderList)
        Error("no LIST 'hdrl'");
    if (!hasMainHeader_)
        Error("no avih");
    if (!hasMovi_)
        Error("no LIST 'movi'");
    if (hasMainHeader_ && (main_.flags & kMainFlagHasIndex) != 0 && !hasIndex_)
        Error("avih announces an index, but there is no idx1");
    if (hasMainHeader_ && main_.streams != streams_.size())
        Error("avih counts " + std::to_string(main_.streams) + " streams, hdrl holds " +
              std::to_string(streams_.size()));
    if (hasIndex_ && hasMovi_)
        CheckIndexAgainstChunks();
}

void AviReader::ParseFurtherParts(uint64_t position) {
    static constexpr FourCC kFurtherPart("AVIX");
    while (position < fileSize_) {
        uint8_t bytes[12];
        if (!ReadAt(position, bytes, 12) || FourCCAt(bytes, 0) != fourcc::kRiff ||
            FourCCAt(bytes, 8) != kFurtherPart) {
            Error(std::to_string(fileSize_ - position) + " bytes follow the RIFF chunk");
            return;
        }
        const uint64_t end = position + 8 + le::ReadU32(bytes, 4);
        if (end > fileSize_) {
            Error("RIFF 'AVIX'" + At(position) + " runs past the end of the file");
            return;
        }
        furtherParts_.push_back(position);
        for (uint64_t at = position + 12; at < end;) {
            const auto header = HeaderAt(at, end, "RIFF 'AVIX'");
            if (!header)
                return;
            uint8_t type[4];
            if (header->id == fourcc::kList && header->size >= 4 && ReadAt(at + 8, type, 4) &&
                FourCCAt(type, 0) == fourcc::kMovi)
                ParseMovi(at + 12, at + 8 + header->size);
            at += 8 + header->size + (header->size & 1);
        }
        position = end;
    }
}

void AviReader::ParseHeaderList(uint64_t begin, uint64_t end) {
    for (uint64_t position = begin; position < end;) {
        const auto header = HeaderAt(position, end, "LIST 'hdrl'");
        if (!header)
            return;
        Chunk chunk{header->id, position, header->size, FourCC()};
        const uint64_t dataBegin = position + 8;
        if (header->id == fourcc::kAvih) {
            uint8_t data[kMainHeaderBytes];
            if (header->size < kMainHeaderBytes || !ReadAt(dataBegin, data, kMainHeaderBytes)) {
                Error("avih of " + std::to_string(header->size) + " bytes is too short");
            } else {
                hasMainHeader_ = true;
                uint32_t* fields[] = {&main_.microSecPerFrame,
                                      &main_.maxBytesPerSec,
                                      &main_.paddingGranularity,
                                      &main_.flags,
                                      &main_.totalFrames,
                                      &main_.initialFrames,
                                      &main_.streams,
                                      &main_.suggestedBufferSize,
                                      &main_.width,
                                      &main_.height};
                for (size_t i = 0; i < std::size(fields); ++i)
                    *fields[i] = le::ReadU32(data, 4 * i);
            }
        } else if (header->id == fourcc::kList) {
            uint8_t type[4];
            if (header->size >= 4 && ReadAt(dataBegin, type, 4)) {
                chunk.listType = FourCCAt(type, 0);
                uint8_t dmlh[16];
                if (chunk.listType == fourcc::kStrl)
                    ParseStreamList(dataBegin + 4, dataBegin + header->size);
                else if (chunk.listType == fourcc::kOdml && header->size >= 16 &&
                         ReadAt(dataBegin, dmlh, 16) && FourCCAt(dmlh, 4) == fourcc::kDmlh)
                    extendedTotalFrames_ = le::ReadU32(dmlh, 12);
            }
        }
        hdrlList_.push_back(chunk);
        position = dataBegin + header->size + (header->size & 1);
    }
}

void AviReader::ParseStreamList(uint64_t begin, uint64_t end) {
    StreamDescription stream;
    bool hasHeader = false;
    bool hasFormat = false;
    for (uint64_t position = begin; position < end;) {
        const auto header = HeaderAt(position, end, "LIST 'strl'");
        if (!header)
            break;
        const uint64_t dataBegin = position + 8;
        if (header->id == fourcc::kStrh) {
            uint8_t data[kStreamHeaderBytes];
            const uint32_t size = std::min(header->size, kStreamHeaderBytes);
            if (size < kShortStreamHeaderBytes || !ReadAt(dataBegin, data, size)) {
                Error("strh of " + std::to_string(header->size) + " bytes is too short");
            } else {
                hasHeader = true;
                const Bytes bytes(data, size);
                StreamHeader& h = stream.header;
                h.type = FourCCAt(bytes, 0);
                h.handler = FourCCAt(bytes, 4);
                h.flags = le::ReadU32(bytes, 8);
                h.priority = le::ReadU16(bytes, 12);
                h.language = le::ReadU16(bytes, 14);
                h.initialFrames = le::ReadU32(bytes, 16);
                h.scale = le::ReadU32(bytes, 20);
                h.rate = le::ReadU32(bytes, 24);
                h.start = le::ReadU32(bytes, 28);
                h.length = le::ReadU32(bytes, 32);
                h.suggestedBufferSize = le::ReadU32(bytes, 36);
                h.quality = le::ReadU32(bytes, 40);
                h.sampleSize = le::ReadU32(bytes, 44);
                h.hasFrame = size >= kStreamHeaderBytes;
                if (h.hasFrame) {
                    h.frameLeft = le::ReadI16(bytes, 48);
                    h.frameTop = le::ReadI16(bytes, 50);
                    h.frameRight = le::ReadI16(bytes, 52);
                    h.frameBottom = le::ReadI16(bytes, 54);
                }
            }
        } else if (header->id == fourcc::kStrf) {
            hasFormat = true;
            stream.formatBytes.resize(header->size);
            if (!ReadAt(dataBegin, stream.formatBytes.data(), header->size)) {
                Error("strf" + At(position) + " cannot be read");
                stream.formatBytes.clear();
            }
        }
        position = dataBegin + header->size + (header->size & 1);
    }
    const std::string name = "strl #" + std::to_string(streams_.size());
    if (!hasHeader)
        Error(name + " has no strh");
    if (!hasFormat)
        Error(name + " has no strf");
    try {
        if (stream.header.type == fourcc::kVids && stream.formatBytes.size() >= kBitmapInfoHeaderBytes)
            stream.video = DecodeVideoFormat(stream.formatBytes);
        if (stream.header.type == fourcc::kAuds && stream.formatBytes.size() >= kWaveFormatBytes)
            stream.audio = DecodeAudioFormat(stream.formatBytes);
    } catch (const le::ShortRead& shortRead) {
        Error(name + ": strf too short: " + shortRead.what());
    }
    streams_.push_back(std::move(stream));
}

void AviReader::ParseMovi(uint64_t begin, uint64_t end) {
    static constexpr FourCC kRecord("rec ");
    for (uint64_t position = begin; position < end;) {
        const auto header = HeaderAt(position, end, "LIST 'movi'");
        if (!header)
            return;
        const uint64_t chunkOffset = position;
        const uint64_t dataBegin = position + 8;
        uint8_t type[4];
        if (header->id == fourcc::kList && header->size >= 4 && ReadAt(dataBegin, type, 4) &&
            FourCCAt(type, 0) == kRecord) {
            ParseMovi(dataBegin + 4, dataBegin + header->size);
        } else {
            moviChunks_.push_back({header->id, position, header->size, FourCC()});
        }
        position = dataBegin + header->size + (header->size & 1);
        if (position > end)
            Error("no pad byte after odd chunk " + header->id.Quoted() + At(chunkOffset));
    }
}

void AviReader::ParseIndex(uint64_t begin, uint32_t size) {
    hasIndex_ = true;
    if (size % kIndexEntryBytes != 0)
        Error("idx1 size " + std::to_string(size) + " is not a multiple of 16");
    std::vector<uint8_t> bytes(size - size % kIndexEntryBytes);
    if (!ReadAt(begin, bytes.data(), bytes.size())) {
        Error("idx1 cannot be read");
        return;
    }
    for (size_t at = 0; at < bytes.size(); at += kIndexEntryBytes)
        index_.push_back({FourCCAt(bytes, at), le::ReadU32(bytes, at + 4), le::ReadU32(bytes, at + 8),
                          le::ReadU32(bytes, at + 12)});
}

void AviReader::CheckIndexAgainstChunks() {
    std::unordered_map<uint64_t, const Chunk*> chunkAt;
    for (const Chunk& chunk : moviChunks_)
        chunkAt[chunk.offset] = &chunk;
    // Offsets may count from the 'movi' word or from the file start; the first entry tells which.
    const uint64_t moviWord = moviListOffset_ + 8;
    indexRelativeToMovi_ = index_.empty() || chunkAt.count(moviWord + index_.front().offset) != 0;
    const uint64_t base = indexRelativeToMovi_ ? moviWord : 0;

    size_t errorCount = 0;
    for (size_t i = 0; i < index_.size(); ++i) {
        const IndexEntry& entry = index_[i];
        const auto found = chunkAt.find(base + entry.offset);
        std::string problem;
        if (found == chunkAt.end())
            problem = "points where no movi chunk starts";
        else if (found->second->id != entry.id || found->second->size != entry.size)
            problem = "does not match the chunk " + found->second->id.Quoted() + " of size " +
                      std::to_string(found->second->size);
        if (problem.empty())
            continue;
        if (++errorCount <= kMostIndexErrors)
            Error("idx1 entry " + std::to_string(i) + " (" + entry.id.Quoted() + ", offset " +
                  std::to_string(entry.offset) + ", size " + std::to_string(entry.size) + ") " + problem);
    }
    if (errorCount > kMostIndexErrors)
        Error(std::to_string(errorCount - kMostIndexErrors) + " more idx1 entries are wrong");
}

} // namespace clipwright::avitest
