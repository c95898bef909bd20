// Another recorder's AVI written anew in OpenDML form, for a file that cannot be indexed where it
// stands: one that continues in further RIFF parts but whose header has no room to list them all,
// or one whose single RIFF form would reach 2 GiB with its index. Every chunk the walk found is
// copied in file order into parts below the part size, each with a standard index per stream that
// the stream's super index lists; the first part keeps an idx1 for readers of AVI 1.0.
//
// Layout:
//   RIFF 'AVI '
//     LIST 'hdrl'  the recorder's avih (flags and frames set), its stream lists as they stand with
//                  each strh's length set and an 'indx' in place of any of their own, its other
//                  header chunks, then LIST 'odml' with dmlh (all video frames)
//     LIST 'movi'  the first part's chunks, then one 'ix##' per stream
//     idx1         the first part's chunks, offsets from the 'movi' word
//   RIFF 'AVIX'    LIST 'movi': the chunks that follow, then one 'ix##' per stream; as many parts
//                  as the data needs
// Chunks keep their ids and payloads; headers are written anew, with a zero pad byte after an odd
// payload (the recorder's own may be missing). A stream without a chunk in a part gets an empty
// ix## there, so every super index lists every part. Nothing of the recording is changed.
#pragma once

#include "avi/AviStructure.h"
#include "platform/SourceFile.h"
#include "repair/IndexEntry.h"
#include "repair/OtherRecorderScan.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace clipwright {

struct CopyPart {
    uint64_t offset = 0; // of its 'RIFF'
    size_t firstEntry = 0;
    size_t endEntry = 0;
    uint64_t chunkBytes = 0;          // its chunks: headers, payloads and pad bytes
    std::vector<StreamTally> streams; // what each stream's standard index lists here
    uint64_t size = 0;                // its whole RIFF form, indexes included
};

struct OpenDmlCopyLayout {
    std::vector<uint8_t> headerList; // LIST 'hdrl', as written
    std::vector<CopyPart> parts;
    uint32_t firstPartFrames = 0; // of the first video stream
    uint64_t fileSize = 0;
};

// The copy of `entries` (every chunk the walk found, in file order) in parts that stay below
// `partSize` with their indexes; a chunk too large for that gets a part of its own. `headerList`
// holds the recorder's hdrl list body (after its type). Nothing when a chunk would make even a part
// of its own reach 2 GiB, or the header list does not hold the streams the structure names.
std::optional<OpenDmlCopyLayout> LayOutOpenDmlCopy(const AviStructure& structure,
                                                   const OtherRecorderScan& scan,
                                                   const IndexEntryList& entries,
                                                   std::span<const uint8_t> headerList, uint64_t partSize);

// Writes the copy laid out into `output` (a new, empty file) from `recording`, front to back.
// File errors are raised as FileError: a recording that ends before a chunk it had is one.
void WriteOpenDmlCopy(ByteSource& recording, SourceFile& output, const AviStructure& structure,
                      const IndexEntryList& entries, const OpenDmlCopyLayout& layout);

} // namespace clipwright
