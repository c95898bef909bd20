// A small AVI file library: writes standard AVI 1.0 files through file and stream handles.
// Only writing is supported.
//
// Layout of a file it writes:
//   RIFF 'AVI '
//     LIST 'hdrl'  avih, one LIST 'strl' (strh, strf) per stream in creation order
//     JUNK         up to offset 2048: the header region is fixed and rewritten when the file is released
//                  (streams may be created after the other stream's samples)
//     LIST 'movi'  at offset 2048: one chunk per sample in call order, named by stream number and
//                  kind ('00dc' video, '01wb' audio...), a pad byte after each odd payload
//     idx1         one entry per chunk: offsets count from the 'movi' word, sizes are payload sizes
//
// avih: dwMicroSecPerFrame from the first video stream's scale and rate (0 for a rate of 0),
// dwMaxBytesPerSec the streams' largest samples (or sample sizes) times their samples per second,
// flags has-index and interleaved, dwTotalFrames the video samples, dwWidth and dwHeight from the
// video stream's rcFrame.
//
// Decisions:
// - The description handed to CreateStream is kept as given (ReadStreamDescription returns it), but
//   its dwLength and dwFlags do not reach the file: a stream's length is counted as samples arrive
//   (variable-size streams in samples, fixed-size streams in bytes / dwSampleSize), and strh
//   dwFlags is written as 0, since a caller's 16 there is the per-sample key-frame flag.
//   dwSuggestedBufferSize becomes the stream's largest sample.
// - Variable-size (video) streams take one sample per write. A write past the stream's end first
//   fills the gap with zero-length chunks, flags 0, each with its index entry, so positions and
//   timestamps stay true; a first write at position 1 is preceded by one such empty chunk.
//   Writing before the end is refused.
// - Fixed-size (audio) streams take writes only at their end, counted in the caller's own sample
//   numbering (start + sample count of the previous write); the file itself counts them in blocks.
// - A stream, or a format, that would not fit the header region is refused with kBadSize. Two
//   streams with the writer's formats take about 350 of its 2048 bytes.
// - A file, with the index it gets at release, stays below 2 GiB: a write that would make it reach
//   that size is refused with kFileWrite and nothing of it is written.
// - Until release the header region carries RIFF and movi sizes of 0 (unfinished); ReleaseFile writes
//   the index and the headers and reports a failure to do so.
#pragma once

#include <array>
#include <cstdint>

#include "FourCC.h"

namespace clipwright {

using AviResult = uint32_t;

namespace avierr {
inline constexpr AviResult kOk = 0;
inline constexpr AviResult kBadParameter = 0x80044066; // null pointer, bad position or count
inline constexpr AviResult kMemory = 0x80044067;       // the index could not grow
inline constexpr AviResult kBadSize = 0x8004406A;      // a stream or format would not fit the headers
inline constexpr AviResult kBadHandle = 0x8004406C;    // null or released handle
inline constexpr AviResult kFileOpen = 0x80044074;     // the file could not be created
inline constexpr AviResult kFileWrite = 0x8004407D;    // the system refused a write, or 2 GiB reached
inline constexpr AviResult kError = 0x800440C7;        // anything else (library not started...)
} // namespace avierr

// Stream description record, as the writer fills it in.
struct AviRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct AviStreamInfo {
    FourCC fccType;
    FourCC fccHandler;
    uint32_t dwFlags = 0;
    uint32_t dwCaps = 0;
    uint16_t wPriority = 0;
    uint16_t wLanguage = 0;
    uint32_t dwScale = 0;
    uint32_t dwRate = 0;
    uint32_t dwStart = 0;
    uint32_t dwLength = 0;
    uint32_t dwInitialFrames = 0;
    uint32_t dwSuggestedBufferSize = 0;
    uint32_t dwQuality = 0;
    uint32_t dwSampleSize = 0;
    AviRect rcFrame;
    uint32_t dwEditCount = 0;
    uint32_t dwFormatChangeCount = 0;
    std::array<char, 64> szName{};
};

// BITMAPINFOHEADER, the video stream format.
struct BitmapInfoHeader {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    FourCC biCompression;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
inline constexpr uint32_t kBitmapInfoHeaderSize = 40;

struct AdpcmCoefficientPair {
    int16_t iCoef1 = 0;
    int16_t iCoef2 = 0;
};

// WAVEFORMATEX followed by the MS-ADPCM extension, the audio stream format.
struct AdpcmWaveFormat {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
    uint16_t wSamplesPerBlock = 0;
    uint16_t wNumCoef = 0;
    std::array<AdpcmCoefficientPair, 7> aCoef{};
};
inline constexpr uint32_t kAdpcmWaveFormatSize = 50;

// The records as they stand in a strf chunk.
std::array<uint8_t, kBitmapInfoHeaderSize> EncodeBitmapInfoHeader(const BitmapInfoHeader& format);
std::array<uint8_t, kAdpcmWaveFormatSize> EncodeAdpcmWaveFormat(const AdpcmWaveFormat& format);

namespace avilib {

inline constexpr uint32_t kSampleKeyFrame = 0x10; // per-sample flag, kept in idx1

// Largest file the library writes, plus one: AVI 1.0 sizes are read as signed 32-bit.
inline constexpr uint64_t kFileSizeLimit = uint64_t{1} << 31;

struct OutputFile; // an open output, from OpenForWriting until ReleaseFile
struct Stream;     // a stream of an output, owned by it, from CreateStream until ReleaseFile

// Counted: each Startup needs one Shutdown. Files can only be opened while started.
AviResult Startup();
void Shutdown();
int StartCount();

// Creates the file, or empties an existing one, for writing.
AviResult OpenForWriting(const char* path, OutputFile** file);
AviResult CreateStream(OutputFile* file, const AviStreamInfo& description, Stream** stream);
// Size of the stream's format; with a buffer, also copies up to *formatSize bytes of it.
AviResult ReadFormat(Stream* stream, int32_t position, uint8_t* buffer, uint32_t* formatSize);
AviResult SetFormat(Stream* stream, int32_t position, const uint8_t* format, uint32_t formatSize);
// byteCount 0 with no buffer writes an empty sample.
AviResult WriteSamples(Stream* stream, int32_t start, int32_t sampleCount, const uint8_t* data,
                       uint32_t byteCount, uint32_t flags);
// The files carry no 'rec ' lists, so a record has nothing to close; checks the handle only.
AviResult EndRecord(OutputFile* file);
// The stream takes no more writes; its headers are written with the file's.
AviResult ReleaseStream(Stream* stream);
// Writes index and headers, closes the file and frees the handle and its streams.
AviResult ReleaseFile(OutputFile* file);

// The description exactly as CreateStream received it.
AviResult ReadStreamDescription(const Stream* stream, AviStreamInfo* description);

// Lowers the size below which this file must stay (at most kFileSizeLimit), so that tests can
// reach the limit without writing gigabytes.
AviResult SetFileSizeLimit(OutputFile* file, uint64_t limit);

} // namespace avilib
} // namespace clipwright
