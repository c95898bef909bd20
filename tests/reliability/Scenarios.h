// Recordings of every layout, repaired in both modes, and the checks that a recording survived.
#pragma once

#include "Recordings.h"
#include "TestFiles.h"
#include "repair/RepairEngine.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace clipwright::test {

struct Scenario {
    const char* name;
    recgen::HeaderLayout layout;
    bool replace;
};

// Standard and shifted in both modes; a lost header (answered prompt: always a new file).
const std::vector<Scenario>& AllScenarios();

// A scenario's recording, with a companion, written into a folder of its own.
class ScenarioFolder {
public:
    ScenarioFolder(const Scenario& scenario, uint64_t frames, const std::filesystem::path& root = {});

    const std::filesystem::path& Folder() const { return dir_.Path(); }
    std::filesystem::path Recording() const { return dir_ / "clip.avi"; }
    const Bytes& Original() const { return original_; }

    // Writes the recording and companion afresh and removes everything else.
    void Reset() const;
    // Runs the job as the desktop program would, answering the settings prompt.
    FixOutcome Run(std::vector<std::string>* messages = nullptr) const;

    // The footage is still in the folder: for an in-place repair in replace mode, every byte from
    // the first chunk to the old end is still in the recording (header fields may be half patched);
    // otherwise the recording's bytes are whole under its own name or the temporary name.
    ::testing::AssertionResult FootageSurvives() const;
    // Nothing but the documented outputs is in the folder.
    ::testing::AssertionResult OnlyDocumentedFiles() const;

private:
    Scenario scenario_;
    ScratchDir dir_;
    Bytes original_;
    Bytes companion_;
};

} // namespace clipwright::test
