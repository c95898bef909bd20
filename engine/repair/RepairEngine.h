// The repair engine: probes a camera recording's layout and repairs it, in place or by rebuilding
// it into a new file.
#pragma once

#include "avi/AviMuxer.h"
#include "avi/AviStructure.h"
#include "avi/ChunkWalk.h"
#include "avi/FourCC.h"
#include "platform/FileError.h"
#include "platform/SourceFile.h"
#include "repair/FixerHost.h"
#include "repair/ImageSettings.h"
#include "repair/LayoutProbe.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace clipwright {

// One idx1 entry, written to disk as four little-endian words in this order.
struct IndexEntry {
    FourCC chunkId;
    uint32_t flags = 0;  // 0x10 marks a key frame
    uint32_t offset = 0; // from the 'movi' list type word
    uint32_t size = 0;   // payload bytes, as the chunk's size field says
};

// A deque, not a vector: it grows by blocks, so a long recording's index costs its 16 bytes per
// entry and never twice that while a vector would double.
using IndexEntryList = std::deque<IndexEntry>;

enum class OutputMode {
    NewFile,         // "Make new file": fix_NAME beside the recording, which is never written
    ReplaceOriginal, // "Replace original file"
};

struct FixRequest {
    std::string path;
    std::string fileName;
    OutputMode mode = OutputMode::NewFile;
    IndexEntryList* entries = nullptr;
};

// What the last job did, for hosts that tell the user more than "Fix AVI done".
enum class FixStatus {
    NotRun,
    Repaired,  // the output is complete
    Partial,   // an output was written but the copy stopped before the end of the data
    Failed,    // nothing usable was written; the user has been told why
    Cancelled, // the image settings prompt was cancelled
};

// What the repair of another recorder's AVI found.
struct OtherRecorderFindings {
    uint32_t streams = 0;
    uint32_t videoFrames = 0;           // chunks of the first video stream, dropped frames included
    std::optional<double> audioSeconds; // of the first audio stream, by its own rate
    bool neededNoRepair = false;        // finalised and indexed already
};

struct FixOutcome {
    FixStatus status = FixStatus::NotRun;
    LayoutCode layout = LayoutOther;
    bool layoutProbed = false; // false when the job ended before the probe
    std::string outputPath;
    uint32_t videoChunks = 0; // indexed, or copied into the new file
    uint32_t audioChunks = 0;
    bool askedForImageSettings = false;
    WalkSummary walk; // where the recording's data ended, and the damage skipped on the way
    std::optional<OtherRecorderFindings> otherRecorder;
};

class RepairEngine {
public:
    RepairEngine() = default;
    ~RepairEngine() = default;
    RepairEngine(const RepairEngine&) = delete;
    RepairEngine& operator=(const RepairEngine&) = delete;

    void RunFixJob(FixRequest request);
    LayoutCode ProbeLayout();

    void SetHost(FixerHost* window) { host = window; }
    FixerHost* Host() const { return host; }

    void RebuildIndexInPlace(std::string path, std::string fileName, OutputMode mode,
                             IndexEntryList* entries);
    void RebuildFile(std::string path, std::string fileName, OutputMode mode, LayoutCode layout);
    // Repairs an AVI another recorder wrote, in place or in a copy; the footage is never moved.
    void RepairOtherRecorder(const FixRequest& request, const AviStructure& structure);
    // True when a companion file was copied.
    bool CopyCompanionFile(const std::string& path, const std::string& fileName);
    void ReportFileError(const FileError& error);

    // The writer of the last rebuild's new file, for its failure reason.
    const AviMuxer& Muxer() const { return muxer; }
    const std::string& WorkingPath() const { return workingPath; }
    const FixOutcome& LastOutcome() const { return outcome; }

private:
    // The structure of another recorder's AVI; nothing when the file has none, or could not be read
    // (then the user has been told, and the layout counts as not probed).
    std::optional<AviStructure> ReadStructure();
    // Tells the user of a failure that is not a file error.
    void ShowProblem(const std::string& text, const std::string& filePath);

    FixerHost* host = nullptr;
    AviMuxer muxer;
    SourceFile sourceFile;
    std::string workingPath;
    FixOutcome outcome;
};

} // namespace clipwright
