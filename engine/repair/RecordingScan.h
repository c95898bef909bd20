// Recordings inside a larger file: a disk check's FILE0000.CHK, a memory card's image, a carved
// file whose first bytes are not the recording's. The scan finds each recording as a stretch of
// bytes (a RIFF 'AVI ' form, or a run of media chunks whose header was lost), copies it into a file
// of its own and runs the normal repair on that copy. The file searched is only ever read.
#pragma once

#include "avi/CameraLayout.h"
#include "avi/FourCC.h"
#include "platform/Progress.h"
#include "platform/SourceFile.h"
#include "repair/EngineEvent.h"
#include "repair/FixOutcome.h"
#include "repair/FixerHost.h"
#include "repair/RepairPlan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace clipwright {

enum class FoundKind {
    AviForm,    // 'RIFF' size 'AVI ' and what follows it
    Headerless, // media chunks in a row with no RIFF form before them: a recording whose header was lost
};

struct FoundRecording {
    FoundKind kind = FoundKind::AviForm;
    uint64_t start = 0;      // in the file searched
    uint64_t end = 0;        // behind its last byte
    uint32_t chunks = 0;     // media chunks walked, a cut-off last one included
    std::vector<FourCC> ids; // the media chunk ids met, sorted
    // Its chunks stopped at bytes of something else, and the next recording found is a run of the
    // same streams' chunks beginning here: the file may be fragmented.
    std::optional<uint64_t> continuesAt;

    uint64_t Length() const { return end - start; }
};

// A run of media chunks needs this many in a row to count: a chunk header or two happen by chance.
inline constexpr uint32_t kLeastChunksInARun = 3;

// Every recording in the `size` bytes of `file`, in file order, not overlapping. A form's walk
// stops at the next form, and at the first damaged stretch behind its first chunk: contiguous
// recordings are what is found whole, and the chunks behind damage are found as a run of their own.
// `progress` hears a Reading phase over the file. Raises FileError when reading fails; JobStopped
// passes through.
std::vector<FoundRecording> FindRecordings(ByteSource& file, uint64_t size,
                                           ProgressMeter* progress = nullptr);

// Where a recording found at `start` in `path` is written in `folder`: FOLDER/BASE-at-NNNNNNNNNN.avi,
// BASE being the file's name less its extension; the first of that name, then "-2", "-3"... up to
// "-99", that does not exist yet. Empty when all of them do.
std::string ScanOutputName(const std::string& path, const std::string& folder, uint64_t start);
// The first of those names, whether it stands or not.
std::string ScanFirstName(const std::string& path, const std::string& folder, uint64_t start);

// What a repair of a recording found would do, as the check says it.
struct ScanCheckItem {
    FoundRecording found;
    std::string outputPath;         // the name it would be written under; empty when every name is taken
    RepairPlan plan;                // of its copy, as the repair of that copy would make it
    std::optional<EngineEvent> end; // what that repair would report, when it would not complete
};

struct ScanCheck {
    std::string path;
    // Why the file could not be searched; nothing when it was.
    std::optional<EngineEvent> problem;
    uint64_t size = 0;
    std::vector<ScanCheckItem> items;
};

// Never writes. `outputFolder`: where the recordings would go; empty: beside the file. `settings`:
// given beforehand for recordings whose header lost them, as the repair takes them.
ScanCheck CheckScan(const std::string& path, const std::string& outputFolder,
                    const std::optional<ImageSettings>& settings = std::nullopt);

struct ScanRequest {
    std::string path;         // the file searched; only read
    std::string outputFolder; // where each recording is written; empty: beside the file
    std::optional<ImageSettings> settings = std::nullopt;
};

enum class ScanItemStatus {
    Written,       // its repair is complete, under `outputPath`
    Partial,       // its repair stopped at damaged data; `outputPath` holds what lies before it
    NeedsSettings, // its frame size and rate are known neither from its video nor from the request
    NotWritten,    // the host was told why
    Stopped,       // the user stopped the scan during this one
};

struct ScanItemOutcome {
    FoundRecording found;
    ScanItemStatus status = ScanItemStatus::NotWritten;
    std::string outputPath; // where it was written, or would have been
    std::string takenName;  // the first name, when a file stood under it and the next free one was used
    FixOutcome repair;      // what the repair of its copy did, with the output's final name
};

struct ScanOutcome {
    bool read = false; // the file could be opened and searched; otherwise the host was told why
    uint64_t size = 0;
    std::vector<ScanItemOutcome> items;
    bool stopped = false;

    // Every recording found was written whole, and there was one.
    bool AllWritten() const;
};

// Searches the file, then writes each recording found: its bytes copied to a hidden file in the
// output folder (synced), that copy repaired (in place for a form, by the header-lost rebuild for
// a run), and the result renamed to its name, never over a file that stands. Whatever fails, no file
// is left under a final name but a finished one, and nothing else of it is left. The host hears
// events with `path` the file searched and offsets counted in it, the prompt for settings, and
// the progress of each phase.
ScanOutcome RunScanJob(const ScanRequest& request, FixerHost* host);

const char* FoundKindName(FoundKind kind);

} // namespace clipwright
