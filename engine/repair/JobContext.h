// What an executor needs of the job around it: the host to tell, and the outcome to fill in.
#pragma once

#include "platform/FileError.h"
#include "repair/EngineEvent.h"
#include "repair/FixOutcome.h"
#include "repair/FixerHost.h"
#include "repair/OutputNaming.h"

#include <string>

namespace clipwright {

class CopyAhead;

struct JobContext {
    FixerHost* host = nullptr;
    FixOutcome& outcome;
    // How far a copy is; nothing is told when null.
    ProgressMeter* progress = nullptr;
    // The whole copy "Make new file" repairs, already under way beside the inspection; null when
    // the repair makes its own.
    CopyAhead* copyAhead = nullptr;

    void BeginPhase(ProgressPhase phase, uint64_t total) const {
        if (progress != nullptr)
            progress->Begin(phase, total);
    }

    void Report(const EngineEvent& event) const {
        // A cause outside the table names no failure: there is nothing to tell.
        if (event.code == EventCode::FileError &&
            (event.fileCause <= filecause::kNone || event.fileCause > filecause::kEndOfFile))
            return;
        if (host != nullptr)
            host->Report(event);
    }
    // A file error, naming the file it concerns.
    void ReportFileError(const FileError& error) const {
        Report({.code = EventCode::FileError, .path = error.fileName, .fileCause = error.cause});
    }
    // What a repair that completed passed over, if anything: damage, or bytes behind the data that
    // hold no footage.
    void ReportSkipped(const WalkSummary& walk, bool inPlace, const std::string& path) const {
        if (walk.damaged.empty() && (walk.end != WalkEnd::NoChunkBehind || walk.tailIsZeros))
            return;
        Report({.code = EventCode::SkippedData, .path = path, .inPlace = inPlace, .walk = walk});
    }
};

} // namespace clipwright
