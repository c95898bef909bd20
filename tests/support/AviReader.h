// An AVI 1.0 parser for tests, written from the file format alone: walks RIFF and LIST chunks,
// decodes avih, each stream's strh and strf, lists the movi chunks and the idx1 entries, and
// collects structural errors (sizes past their container, missing chunks, index entries that
// point nowhere) instead of failing on them. Of OpenDML it reads the further RIFF 'AVIX' parts'
// movi chunks and dmlh's frame count; the OpenDML indexes are ReadOpenDmlIndex's.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "avi/FourCC.h"

namespace clipwright::avitest {

struct MainHeader {
    uint32_t microSecPerFrame = 0;
    uint32_t maxBytesPerSec = 0;
    uint32_t paddingGranularity = 0;
    uint32_t flags = 0;
    uint32_t totalFrames = 0;
    uint32_t initialFrames = 0;
    uint32_t streams = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t width = 0;
    uint32_t height = 0;

    bool operator==(const MainHeader&) const = default;
};

struct StreamHeader {
    FourCC type;
    FourCC handler;
    uint32_t flags = 0;
    uint16_t priority = 0;
    uint16_t language = 0;
    uint32_t initialFrames = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t quality = 0;
    uint32_t sampleSize = 0;
    bool hasFrame = false; // rcFrame is there: strh holds 56 bytes, not 48
    int16_t frameLeft = 0;
    int16_t frameTop = 0;
    int16_t frameRight = 0;
    int16_t frameBottom = 0;

    bool operator==(const StreamHeader&) const = default;
};

// BITMAPINFOHEADER
struct VideoFormat {
    uint32_t headerSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    FourCC compression;
    uint32_t imageSize = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t colorsUsed = 0;
    uint32_t colorsImportant = 0;

    bool operator==(const VideoFormat&) const = default;
};

// WAVEFORMATEX, with the MS-ADPCM extension decoded when the format tag is 2.
struct AudioFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
    uint16_t samplesPerBlock = 0;
    std::vector<std::pair<int16_t, int16_t>> coefficients;

    bool operator==(const AudioFormat&) const = default;
};

struct StreamDescription {
    StreamHeader header;
    std::vector<uint8_t> formatBytes;
    std::optional<VideoFormat> video; // for 'vids' with a format of at least 40 bytes
    std::optional<AudioFormat> audio; // for 'auds' with a format of at least 16 bytes
};

struct Chunk {
    FourCC id;
    uint64_t offset = 0; // of the chunk header in the file
    uint32_t size = 0;   // payload bytes, without the pad byte
    FourCC listType;     // for 'LIST' chunks

    uint64_t PayloadOffset() const { return offset + 8; }
    // The stream number in '##xx' ids, or -1.
    int StreamNumber() const;
};

struct IndexEntry {
    FourCC id;
    uint32_t flags = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
};

class AviReader {
public:
    explicit AviReader(const std::string& path);

    bool Valid() const { return errors_.empty(); }
    const std::vector<std::string>& Errors() const { return errors_; }
    std::string ErrorText() const; // all errors, one a line

    uint64_t FileSize() const { return fileSize_; }
    uint32_t RiffSize() const { return riffSize_; }
    const std::vector<Chunk>& TopLevel() const { return topLevel_; }   // children of RIFF 'AVI '
    const std::vector<Chunk>& HeaderList() const { return hdrlList_; } // children of LIST 'hdrl'
    const MainHeader& Main() const { return main_; }
    const std::vector<StreamDescription>& Streams() const { return streams_; }

    uint64_t MoviListOffset() const { return moviListOffset_; } // of its 'LIST'
    uint32_t MoviListSize() const { return moviListSize_; }
    // Of every part's movi list, standard indexes ('ix##') included, in file order.
    const std::vector<Chunk>& MoviChunks() const { return moviChunks_; }
    // Where each RIFF 'AVIX' part behind the first RIFF starts.
    const std::vector<uint64_t>& FurtherParts() const { return furtherParts_; }
    // dmlh dwTotalFrames, when hdrl holds a LIST 'odml'.
    std::optional<uint32_t> ExtendedTotalFrames() const { return extendedTotalFrames_; }
    std::vector<Chunk> StreamChunks(int streamNumber) const;

    bool HasIndex() const { return hasIndex_; }
    const std::vector<IndexEntry>& Index() const { return index_; }
    // Whether idx1 offsets count from the 'movi' word (true) or from the file start.
    bool IndexRelativeToMovi() const { return indexRelativeToMovi_; }

    // Both throw le::ShortRead when the file ends before the bytes do.
    std::vector<uint8_t> ReadPayload(const Chunk& chunk) const;
    std::optional<uint8_t> PadByteAfter(const Chunk& chunk) const; // nothing for an even chunk

private:
    struct ChunkHeader {
        FourCC id;
        uint32_t size = 0;
    };

    bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size) const;
    std::optional<ChunkHeader> HeaderAt(uint64_t offset, uint64_t containerEnd, const char* where);
    void ParseRiff();
    void ParseFurtherParts(uint64_t position);
    void ParseHeaderList(uint64_t begin, uint64_t end);
    void ParseStreamList(uint64_t begin, uint64_t end);
    void ParseMovi(uint64_t begin, uint64_t end);
    void ParseIndex(uint64_t begin, uint32_t size);
    void CheckIndexAgainstChunks();
    void Error(std::string text) { errors_.push_back(std::move(text)); }

    mutable std::ifstream file_;
    uint64_t fileSize_ = 0;
    uint32_t riffSize_ = 0;
    std::vector<Chunk> topLevel_;
    std::vector<Chunk> hdrlList_;
    bool hasMainHeader_ = false;
    MainHeader main_;
    std::vector<StreamDescription> streams_;
    uint64_t moviListOffset_ = 0;
    uint32_t moviListSize_ = 0;
    bool hasMovi_ = false;
    std::vector<Chunk> moviChunks_;
    std::vector<uint64_t> furtherParts_;
    std::optional<uint32_t> extendedTotalFrames_;
    bool hasIndex_ = false;
    bool indexRelativeToMovi_ = true;
    std::vector<IndexEntry> index_;
    std::vector<std::string> errors_;
};

} // namespace clipwright::avitest
