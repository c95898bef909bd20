// Writes one camera recording front to back, chunk by chunk, in memory independent of its size.
#pragma once

#include "HeaderBlock.h"
#include "OutputFile.h"
#include "RecordingOptions.h"
#include "avi/FourCC.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace clipwright::recgen {

enum class OddSizePad {
    None,    // as the camera writes: the next chunk follows the last payload byte
    PadByte, // as RIFF asks: one zero byte after an odd payload
};

struct ChunkOptions {
    OddSizePad pad = OddSizePad::None;
    // A size field that differs from the payload (0x80000000, larger than the payload...);
    // the payload is written whole either way.
    std::optional<uint32_t> sizeField;
};

enum class ChunkKind { Video, Audio, Other };

struct ChunkRecord {
    FourCC id;
    uint64_t position = 0;    // of the chunk id
    uint32_t sizeField = 0;   // as written
    uint32_t payloadSize = 0; // payload bytes written behind the header, pad byte not counted
    bool padded = false;
    ChunkKind kind = ChunkKind::Other;
    bool isKey = false; // flagged 0x10 in idx1: audio, and video beginning 00 00 01 00
};

// Keeping every record costs memory in proportion to the file; huge recordings only count.
enum class ChunkLog { Keep, CountOnly };

struct RecordingSummary {
    std::vector<ChunkRecord> chunks; // empty with ChunkLog::CountOnly
    uint64_t chunkCount = 0;
    uint64_t videoCount = 0;
    uint64_t audioCount = 0;
    RecordingGeometry geometry;
    uint64_t dataEnd = 0;                  // behind the last chunk or raw bytes: where idx1 starts
    std::optional<uint64_t> indexPosition; // of the 'idx1' id, when written
    uint64_t fileSize = 0;                 // after the cut
};

ChunkKind KindOf(FourCC id);

class RecordingWriter {
public:
    // Creates the file and writes the header block; chunks follow from Geometry().firstChunk.
    RecordingWriter(std::filesystem::path path, const HeaderOptions& header, ChunkLog log = ChunkLog::Keep);
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;
    // A writer dropped before Finish() leaves the file as far as it was flushed, header unpatched.
    ~RecordingWriter();

    ChunkRecord AppendChunk(FourCC id, std::span<const uint8_t> payload, const ChunkOptions& options = {});
    // Bytes that are no chunk of ours: garbage, a LIST header, a stale idx1...
    void AppendRaw(std::span<const uint8_t> bytes);

    // Patches the header, writes idx1 and cuts the file as asked, then closes it.
    RecordingSummary Finish(const FinishOptions& options = FinishOptions::CutOff());

    uint64_t Position() const { return file_.Size(); }
    const RecordingGeometry& Geometry() const { return geometry_; }
    const std::vector<ChunkRecord>& Chunks() const { return summary_.chunks; }
    const std::filesystem::path& Path() const { return file_.Path(); }

private:
    void AppendIndexEntry(const ChunkRecord& record);
    void WriteIndex();
    void PatchHeader(const FinishOptions& options, uint64_t riffEnd);

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    OutputFile file_;
    RecordingGeometry geometry_;
    ChunkLog log_;
    RecordingSummary summary_;
    // idx1 entries wait in a temporary file so that memory stays flat however long the recording gets.
    std::unique_ptr<std::FILE, FileCloser> pendingIndex_;
    bool finished_ = false;
};

} // namespace clipwright::recgen
