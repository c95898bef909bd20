// What a cut-off AVI really holds, read for the tests by the plainest walk there is: the top level
// up to 'LIST movi', then chunk after chunk to the end of the file, trusting no size a writer left
// in RIFF or movi. Independent of the repair engine, so it can judge the repair's output.
#pragma once

#include "avi/FourCC.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <vector>

namespace clipwright::test {

struct TruthStream {
    FourCC type; // strh fccType: 'vids', 'auds'
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t sampleSize = 0;
    uint32_t avgBytesPerSec = 0; // audio strf, 0 for video
    uint64_t chunks = 0;         // complete chunks, empty ones included
    uint64_t nonEmptyChunks = 0;
    uint64_t payloadBytes = 0;

    // How long the complete chunks play, from the stream's own rate and scale.
    double Seconds() const;
};

struct TruthChunk {
    int stream = 0;
    uint64_t offset = 0; // of the chunk header
    uint32_t size = 0;
};

enum class WalkEnd {
    EndOfFile,    // the last chunk ends where the file does
    CutChunk,     // the file ends inside a chunk or its header
    UnknownChunk, // something that is no chunk of this file: the walk stops there
};

struct Truth {
    uint32_t riffSizeField = 0; // as the writer left them
    uint32_t moviSizeField = 0;
    uint32_t mainFlags = 0;
    uint64_t moviBody = 0;    // first byte after the 'movi' word
    uint64_t completeEnd = 0; // end of the last complete stream chunk, its pad byte included
    WalkEnd end = WalkEnd::EndOfFile;
    uint64_t endOffset = 0;           // where the walk stopped
    uint32_t parts = 1;               // RIFF forms: 'AVI ', then each 'AVIX' walked into
    std::vector<TruthStream> streams; // by stream number
    std::vector<TruthChunk> chunks;   // complete stream chunks in file order

    uint64_t VideoChunks() const; // all 'vids' streams together
};

// Throws std::runtime_error when the file has no RIFF 'AVI ' form with hdrl and movi.
Truth TruthWalk(const std::filesystem::path& file);

} // namespace clipwright::test
