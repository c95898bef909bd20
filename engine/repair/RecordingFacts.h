// One read-only look at a recording, its inspection: everything a plan needs to decide which
// repair to run, what it writes where, or why none can run. The repair and `--check` both start
// here, so they see the same file the same way; nothing here writes a byte.
#pragma once

#include "avi/AviStructure.h"
#include "avi/CameraLayout.h"
#include "avi/ChunkWalk.h"
#include "codec/CameraSettingsDetector.h"
#include "platform/Progress.h"
#include "repair/IndexEntry.h"
#include "repair/LayoutProbe.h"
#include "repair/OtherRecorderScan.h"
#include "repair/OutputNaming.h"
#include "repair/ReferenceRecording.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace clipwright {

// What the look is for. A repair holds the recording against a second repair for as long as the
// inspection lives, and reads the video for settings only when the header lost them; one whose
// settings the user gave beforehand leaves that to its copy, which reads every chunk anyway. A
// check reads everything it can report, and holds nothing.
enum class InspectionPurpose { Repair, RepairWithSettings, Check };

// What a file that holds no AVI recording is, where its first bytes say it plainly.
enum class ForeignKind { Unknown, Jpeg, Png, Gif, Mp4, Matroska, Wave, Pdf, Zip, Text };

// How far the look got.
enum class Access {
    Read,               // the file was read; the rest of the inspection holds
    Missing,            // not there; `openCause` says why
    UnderTemporaryName, // not there, and tmp_NAME stands beside it: an interrupted replace
    OpenFailed,         // could not be opened or read; `openCause` says why
    Empty,              // 0 bytes
    NotAvi,             // neither an AVI form nor any chunk of the camera's; `foreign` says what
};

// The camera's header fields, read where and as the rebuild reads them. In a recording whose
// header is lost they hold whatever bytes stand there.
struct HeaderSettings {
    std::optional<FourCC> videoHandler;     // video strh fccHandler
    std::optional<FourCC> videoCompression; // video strf biCompression
    std::optional<uint32_t> width, height;  // avih dwWidth, dwHeight
    std::optional<uint32_t> scale, rate;    // video strh dwScale, dwRate
    uint32_t framesPerSecond = 0;           // rate / scale in whole frames; 0 when either is 0 or missing
    ResolutionCode resolution = kResolutionUnknown;
    bool usable = false; // a size the camera records and a rate from 1 to 120: the rebuild asks nothing

    bool audioStream = false;                // 'auds' at the audio stream header's place
    std::optional<uint16_t> audioFormat;     // audio strf wFormatTag
    std::optional<uint32_t> audioSampleRate; // audio strf nSamplesPerSec
    // The video and audio stream headers stand where the camera puts them, with its MPEG-4 video
    // and MS-ADPCM sound: the fixed offsets may be patched.
    bool camerasOwn = false;
};

// The camera's standard layout, walked as the in-place repair indexes it.
struct CameraIndexScan {
    IndexEntryList entries;
    uint32_t videoChunks = 0;
    uint32_t audioChunks = 0;
    uint64_t dataEnd = 0; // where the new index goes
    // An idx1 stands where the data ends, lists exactly the chunks walked, and the header's sizes
    // and flags say so: the recording is finalised.
    bool indexWhole = false;
    std::optional<uint64_t> indexOffset; // of an 'idx1' id standing where the data ended on filler
};

// Another recorder's AVI, walked as its repair indexes it.
struct OtherRecorderInspection {
    AviStructure structure;
    OtherRecorderScan scan;
    IndexEntryList entries;
    std::vector<uint64_t> furtherParts; // RIFF 'AVIX' parts, in file order
    bool partsRepairable = true;
    bool finalised = false; // an index lists every chunk and the header says so
    std::optional<uint64_t> indexOffset;
};

struct Inspection {
    std::string path;
    std::string fileName;
    OutputNames names;

    Access access = Access::OpenFailed;
    int openCause = 0; // a file-error cause, with Missing and OpenFailed
    ForeignKind foreign = ForeignKind::Unknown;

    struct stat status {};
    uint64_t size = 0;
    bool symbolicLink = false;
    // Another program holds the recording open for writing, or it changed while it was read: it
    // may still be being written.
    bool openForWriting = false;
    bool changedWhileRead = false;
    // Another repair of this recording runs now (only a repair's inspection looks).
    bool repairRunning = false;
    // What stops a repair writing: a cause for a recording that cannot be opened for writing (only
    // "Replace original file" writes to it or its folder), the errno for the recording's folder
    // where no new name can be made, and for the folder new files go to; 0 when nothing does.
    int unwritableCause = 0;
    int folderError = 0;
    int outputFolderError = 0;

    LayoutCode layout = LayoutOther;
    // Set when neither of the camera's own layouts holds and the file is a RIFF AVI with a header a
    // reader can follow: the general repair indexes what its movi list holds.
    std::optional<OtherRecorderInspection> other;

    HeaderSettings header;
    uint64_t chunkStart = 0;                // where the camera's walk starts
    std::optional<CameraIndexScan> inPlace; // the standard layout
    // The standard layout indexed where it stands would reach 2 GiB, more than an AVI of one RIFF
    // form holds: it is rebuilt, in parts.
    bool inPlacePastLimit = false;
    // The rebuild's chunks as its walk finds them (a check only; a repair's copy is its walk).
    std::optional<uint32_t> rebuildVideoChunks, rebuildAudioChunks;
    // The rebuild's layouts: whether the walk from `chunkStart` finds any chunk of the camera's.
    bool anyCameraChunk = true;
    bool indexAtWalkEnd = false; // an 'idx1' id where the rebuild's walk ended on filler
    WalkSummary walk;
    // The frame size and rate the video and sound give: read by a check always, by a repair only
    // when the header lost them and the user gave none.
    std::optional<DetectedSettings> video;
    // A healthy recording the user named to stand in for a lost header, as it was read.
    std::optional<ReferenceRecording> reference;

    bool Read() const { return access == Access::Read; }
};

// Called when the look knows a recording is one its repair indexes where it stands, before it walks
// the chunks: what is known of the file by then (its size, status and names) is set.
using WalkStarting = std::function<void(const Inspection&)>;

// Never writes. File errors end up in `access` and `openCause`.
// `outputFolder`: where new files go; empty: beside the recording. `progress` hears how far the
// look has read, in its Reading phase, and may stop it (JobStopped passes through).
Inspection Inspect(const std::string& path, const std::string& fileName, InspectionPurpose purpose,
                   const std::string& outputFolder = {}, ProgressMeter* progress = nullptr,
                   const WalkStarting& walkStarting = {});

// The same look at the `length` bytes of `path` from `start` on, as a repair would see them once
// copied to `copyPath` (a file nobody writes but that repair, in a folder that must take new files):
// what a repair of a recording found inside a larger file would do, without the copy. Never writes.
Inspection InspectRange(const std::string& path, uint64_t start, uint64_t length, const std::string& copyPath,
                        InspectionPurpose purpose);

// What a file is when its first bytes plainly name another kind (a picture, an MP4, a document):
// a glance for a front end that takes files by name, before any repair. Unknown for an AVI form,
// for anything else, and when the file cannot be read; only the inspection says that a file is no
// recording, since a recording whose header was lost may begin with any bytes.
ForeignKind ForeignKindAtStart(const std::string& path);

// The same file, unchanged: its device, inode, size and time of last change.
bool SameFile(const struct stat& before, const struct stat& now);
// Whether the recording still stands as the inspection saw it: same file, same length, same time
// of its last change. A repair looks again before its first write.
bool StillAsInspected(const Inspection& inspection);

// Holds a repair's claim on the recording: a second repair of the same file is refused meanwhile.
// Released when the job ends (or the process does).
class RecordingClaim {
public:
    RecordingClaim() = default;
    ~RecordingClaim();
    RecordingClaim(const RecordingClaim&) = delete;
    RecordingClaim& operator=(const RecordingClaim&) = delete;
    // False when another repair holds it.
    bool Take(const std::string& path);
    void Release();

private:
    int descriptor_ = -1;
};

} // namespace clipwright
