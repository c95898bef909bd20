// The structure of an AVI file as other recorders write it: the RIFF 'AVI ' form, its header list
// (the main header and one stream list per stream) and where its movi list starts. Only the header
// block is trusted; the sizes of the RIFF form and the movi list are what a cut-off write left
// behind, so nothing here depends on them.
#pragma once

#include "avi/AviConstants.h"
#include "avi/FourCC.h"
#include "platform/SourceFile.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace clipwright {

// Stream numbers are two digits in chunk ids.
inline constexpr uint32_t kMostStreams = 100;
// A header list larger than this is no recorder's: readers stop at about a megabyte too.
inline constexpr uint32_t kLargestHeaderList = 1u << 20;

enum class StreamKind { Video, Audio, Text, Other };

// An entry of an OpenDML super index: where one of the stream's standard indexes ('ix##') stands.
struct SuperIndexEntry {
    uint64_t offset = 0; // of the ix## chunk
    // Read from the ix## chunk itself.
    uint64_t chunkEnd = 0; // behind its last byte
    FourCC chunkId;        // of the chunks it lists
    uint32_t chunks = 0;   // entries in use
};

// An OpenDML super index ('indx') in a stream list.
struct SuperIndexInfo {
    uint64_t position = 0; // of its chunk header
    uint32_t size = 0;
    uint32_t declaredEntries = 0; // nEntriesInUse, as the file says
    // The entries a repair may build on: the leading ones that point at a standard index of this
    // stream inside the file, and only as many as every stream has. A writer cut off between two
    // streams' entries, or an entry pointing at anything else, leaves the rest untrusted.
    uint32_t entriesInUse = 0;
    std::vector<SuperIndexEntry> entries; // the trusted ones
};

struct StreamInfo {
    StreamKind kind = StreamKind::Other;
    FourCC type;                  // strh fccType
    FourCC handler;               // strh fccHandler
    FourCC compression;           // video: the format's biCompression
    uint32_t width = 0;           // video: the format's biWidth
    uint32_t height = 0;          // video: the format's biHeight, whichever way up the rows are stored
    uint16_t formatTag = 0;       // audio: the format's wFormatTag
    uint16_t channels = 0;        // audio: nChannels
    uint32_t sampleRate = 0;      // audio: nSamplesPerSec
    uint16_t blockAlign = 0;      // audio: nBlockAlign
    uint16_t samplesPerBlock = 0; // MS and IMA ADPCM: wSamplesPerBlock
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t length = 0;
    uint32_t sampleSize = 0;
    uint64_t lengthPosition = 0; // of strh dwLength in the file
    std::optional<SuperIndexInfo> superIndex;
    std::vector<uint8_t> format; // the strf payload, up to kKeptFormatBytes of it
};

inline constexpr size_t kKeptFormatBytes = 256;

struct AviStructure {
    uint32_t riffSize = 0;           // as the file says; not to be trusted
    uint64_t headerListPosition = 0; // of 'LIST' of the header list
    uint32_t headerListSize = 0;     // as its list header says, made even
    uint64_t mainHeaderPosition = 0; // of the avih payload
    uint32_t mainFlags = 0;
    uint32_t totalFrames = 0;
    std::vector<StreamInfo> streams;
    std::optional<uint64_t> extendedTotalFramesPosition; // dmlh dwTotalFrames, when there is one
    uint32_t extendedTotalFrames = 0;
    uint64_t moviListPosition = 0; // of 'LIST' of the movi list
    uint32_t moviListSize = 0;     // as the file says; not to be trusted
    // A 'RIFF' 'AVIX' part where the RIFF form's size says it ends, as recorders begin one past 1 GiB.
    std::optional<uint64_t> secondPart;

    uint64_t MoviTypePosition() const { return moviListPosition + 8; } // idx1 offsets count from here
    uint64_t MoviBody() const { return moviListPosition + 12; }
};

// One chunk inside a list held in memory.
struct ListPiece {
    FourCC id;
    size_t offset = 0; // of its payload within the list body
    std::span<const uint8_t> payload;
};

// The chunks of a list body, each whole; a chunk that runs past the body ends them.
std::vector<ListPiece> PiecesOf(std::span<const uint8_t> body);

// Reads the structure, or nothing when the file has no RIFF 'AVI ' form with a readable header list
// (a main header, as many stream lists as it names streams, each with a stream header and format)
// followed somewhere by a movi list. Super index entries are followed to what they point at.
// Raises FileError only when reading fails.
std::optional<AviStructure> ReadAviStructure(ByteSource& file, uint64_t fileSize);

// A ByteSource over bytes in memory.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    size_t ReadAt(uint64_t position, void* buffer, size_t count) override;

private:
    std::span<const uint8_t> bytes_;
};

} // namespace clipwright
