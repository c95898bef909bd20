// What a job is asked to do, and what it did, for hosts that tell the user more than "Fix AVI done".
#pragma once

#include "avi/CameraLayout.h"
#include "avi/ChunkWalk.h"
#include "avi/FourCC.h"
#include "repair/LayoutProbe.h"
#include "repair/RebuildStreams.h"

#include <cstdint>
#include <optional>
#include <string>

namespace clipwright {

enum class OutputMode {
    NewFile,         // "Make new file": fix_NAME beside the recording, which is never written
    ReplaceOriginal, // "Replace original file"
};

struct FixRequest {
    std::string path;
    std::string fileName;
    OutputMode mode = OutputMode::NewFile;
    // Frame size and rate given before the job, for a recording whose header lost them (the
    // command line's options): the answer to the prompt, which then reads the video as it copies.
    std::optional<ImageSettings> settings = std::nullopt;
    // Where "Make new file" writes fix_NAME; empty: beside the recording.
    std::string outputFolder = {};
    // A healthy recording of the same device whose stream headers stand in for a lost header.
    std::string referencePath = {};
    // "Make new file" copies a recording of this size or more while it is still being walked.
    uint64_t copyAheadFrom = uint64_t{256} << 20;
};

enum class FixStatus {
    NotRun,
    Repaired,  // the output is complete
    Partial,   // an output was written but the copy stopped before the end of the data
    Failed,    // nothing usable was written; the user has been told why
    Cancelled, // the user cancelled the image settings prompt, or stopped the job: nothing was written
};

// What the repair of another recorder's AVI found.
// Why another recorder's AVI was copied anew rather than indexed where it stands.
enum class CopyReason {
    None,
    PartsNotListable, // it continues in further RIFF parts, and its header has no room to list them
    FormTooLarge,     // its one RIFF form would reach 2 GiB with its index
};

// Video of a codec whose frames do not say which are key frames, and whose writer's index did not
// flag every frame: past the frames it flagged, only the first frame is marked a key frame.
struct UnknownKeyFrames {
    FourCC codec;               // the format's compression code, or the stream header's handler
    uint32_t writerFlagged = 0; // frames the writer's index flagged
};

struct OtherRecorderFindings {
    uint32_t streams = 0;
    uint32_t videoFrames = 0;           // chunks of the first video stream, dropped frames included
    std::optional<double> audioSeconds; // of the first audio stream, by its own rate
    bool neededNoRepair = false;        // finalised and indexed already
    CopyReason copiedBecause = CopyReason::None;
    bool replacedOriginal = false;                    // the repaired file took the recording's own name
    std::optional<UnknownKeyFrames> unknownKeyFrames; // of the first video stream
};

struct FixOutcome {
    FixStatus status = FixStatus::NotRun;
    LayoutCode layout = LayoutOther;
    bool layoutProbed = false; // false when the job ended before the file was read
    std::string outputPath;
    // The camera's chunks were indexed where they stand; false when they were copied into a new file
    // (a standard layout that would pass 2 GiB indexed is rebuilt too).
    bool indexedInPlace = false;
    uint32_t videoChunks = 0; // indexed, or copied into the new file
    uint32_t audioChunks = 0;
    bool askedForImageSettings = false;
    WalkSummary walk; // where the recording's data ended, and the damage skipped on the way
    std::optional<OtherRecorderFindings> otherRecorder;
    // A header-lost recording rebuilt with its streams as its chunks say them.
    std::optional<BitstreamStreams> streams;
    // A header-lost recording rebuilt with the stream headers of this recording.
    std::string reference;
};

} // namespace clipwright
