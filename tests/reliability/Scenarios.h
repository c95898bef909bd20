// Recordings of every layout, repaired in both modes, and the checks that a recording survived.
#pragma once

#include "Recordings.h"
#include "TestFiles.h"
#include "repair/RepairEngine.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace clipwright::test {

enum class Source {
    Camera,                 // our generator, in the scenario's layout
    OtherRecorderCut,       // ffmpeg writing to a pipe, cut off inside a chunk
    OtherRecorderFinalised, // ffmpeg writing to a file it could finish
    OtherRecorderParts,     // ffmpeg's chunks in three OpenDML parts, cut off inside the last
    // The same without super indexes, as writers that reserve none leave it: copied anew, in three
    // parts of the same size.
    OtherRecorderUnlisted,
};

struct Scenario {
    const char* name;
    recgen::HeaderLayout layout; // of a camera recording
    bool replace;
    Source source = Source::Camera;
    // A lost header's settings come with the request, as from the command line, rather than from
    // the prompt: the video is read during the copy.
    bool settingsGiven = false;

    // Repaired where it lies, rather than by a new file put in the recording's place.
    bool InPlace() const {
        return replace && source != Source::OtherRecorderUnlisted &&
               (source != Source::Camera || layout == recgen::HeaderLayout::Standard);
    }
};

// By name: test names then stay the same from one build to the next.
inline void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

// The camera's standard and shifted layouts in both modes, a lost header (answered prompt, or
// settings given: always a new file), then other recorders' files, cut off, finalised and cut off in a third
// part, in both modes.
const std::vector<Scenario>& AllScenarios();
// The camera's scenarios alone, for tests that write their own camera recording.
std::vector<Scenario> CameraScenarios();

// Where the footage of a recording lies: a repair in place may write anywhere but here, except the
// id of a chunk the end of the file cut off, and the sizes of the last part's RIFF and movi headers
// when the footage runs over further parts.
struct FootageSpan {
    uint64_t begin = 0;
    uint64_t end = 0;
    std::optional<uint64_t> cutChunk;
    std::optional<uint64_t> lastPart; // its 'RIFF'

    // The 4-byte fields inside the span a repair may set.
    std::vector<uint64_t> Settable() const;
    bool Spares(uint64_t offset, uint64_t length) const;
};

// A scenario's recording, with a companion, written into a folder of its own. A camera recording
// has `frames` video frames; another recorder's file has the length ffmpeg gave it.
class ScenarioFolder {
public:
    ScenarioFolder(const Scenario& scenario, uint64_t frames, const std::filesystem::path& root = {});

    const std::filesystem::path& Folder() const { return dir_.Path(); }
    std::filesystem::path Recording() const { return dir_ / "clip.avi"; }
    const Bytes& Original() const { return original_; }

    // Writes the recording and companion afresh and removes everything else.
    void Reset() const;
    // Runs the job as the desktop program would, answering the settings prompt; with `cancelAt`, the
    // user presses Cancel when that many progress reports have come. `reports`: how many came.
    FixOutcome Run(std::vector<std::string>* messages = nullptr, std::optional<uint64_t> cancelAt = {},
                   uint64_t* reports = nullptr) const;
    // "Make new file" copies the recording beside its inspection from this size on.
    void CopyAheadFrom(uint64_t bytes) { copyAheadFrom_ = bytes; }

    // The footage is still in the folder: for a repair in place, every byte of the footage span is
    // still in the recording (header fields may be half patched); otherwise the recording's bytes are
    // whole under its own name or the temporary name.
    ::testing::AssertionResult FootageSurvives() const;
    const FootageSpan& Footage() const { return footage_; }
    // For another recorder's file: ffprobe reads every complete chunk of the recording from `file`;
    // past one part, the OpenDML indexes also lead to each, every part listed.
    ::testing::AssertionResult ReadsInFull(const std::filesystem::path& file) const;
    // Nothing but the documented outputs is in the folder.
    ::testing::AssertionResult OnlyDocumentedFiles() const;

private:
    Scenario scenario_;
    ScratchDir dir_;
    Bytes original_;
    Bytes companion_;
    FootageSpan footage_;
    std::map<std::string, uint64_t> packets_; // complete chunks by ffprobe's codec type
    uint32_t parts_ = 1;
    uint64_t copyAheadFrom_ = FixRequest{}.copyAheadFrom;
    uint64_t copyPartSize_ = 0;                     // of a copy made anew
    std::vector<std::vector<uint64_t>> partChunks_; // past one part: complete chunks' positions, by stream
};

} // namespace clipwright::test
