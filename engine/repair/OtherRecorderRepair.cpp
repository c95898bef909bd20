// Repairs an AVI that another recorder was cut off writing: walks its movi list, indexes every
// complete chunk with key flags read from the video itself, and sets the header's counts and sizes.
// Footage is never moved or written over: the index goes behind the last byte that may hold any.
// A chunk cut off by the end of the file keeps its bytes but becomes JUNK: players that read the
// movi list chunk by chunk would otherwise decode half a frame.
#include "repair/RepairEngine.h"

#include "avi/ChunkWalk.h"
#include "avi/LittleEndian.h"
#include "codec/KeyFrames.h"
#include "platform/FileOperations.h"
#include "repair/IndexWriting.h"
#include "repair/Messages.h"
#include "repair/OutputNaming.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

namespace clipwright {

namespace {

constexpr uint32_t kIndexKeyFrame = 0x10;
constexpr uint32_t kIndexNoTime = 0x100; // a palette change takes no time

struct StreamTally {
    uint32_t chunks = 0; // palette changes not counted
    uint64_t bytes = 0;
};

struct GeneralScan {
    std::vector<StreamTally> tallies;
    WalkSummary walk;
    uint64_t dataEnd = 0; // where the index goes
    std::optional<uint64_t> cutChunk;
};

uint64_t Even(uint64_t value) {
    return value + (value & 1);
}

uint32_t StreamNumber(const FourCC& id) {
    return static_cast<uint32_t>((id.Bytes()[0] - '0') * 10 + (id.Bytes()[1] - '0'));
}

bool IsPaletteChange(const FourCC& id) {
    return id.Bytes()[2] == 'p' && id.Bytes()[3] == 'c';
}

// The first idx1 in the filler the data ends with: an old index, replaced. The JUNK before it may
// be a cut chunk an earlier repair kept, and is kept again.
uint64_t OldIndexPosition(ByteSource& file, uint64_t fillerStart, uint64_t fileSize) {
    uint64_t position = fillerStart;
    while (true) {
        const ChunkHeader header = ReadChunkHeader(file, position, 0);
        if (!header.SizeWhole() || header.id == fourcc::kIdx1)
            return position;
        if (header.End() >= fileSize)
            return Even(header.End());
        position = Even(header.End());
    }
}

GeneralScan Scan(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                 IndexEntryList& entries) {
    const auto streamCount = static_cast<uint32_t>(structure.streams.size());
    const MediaIds ids = MediaIds::ForStreams(streamCount);
    std::vector<codec::VideoCoding> codings;
    for (const StreamInfo& stream : structure.streams)
        codings.push_back(codec::VideoCodingOf(stream.compression, stream.handler));

    GeneralScan scan;
    scan.tallies.resize(streamCount);
    ChunkWalk walk(file, structure.MoviBody(), fileSize, ids, PadBytes::Expected);
    std::vector<uint8_t> probe(codec::kKeyFrameProbeBytes);
    uint64_t cutChunkEnd = 0;
    while (auto header = walk.Next()) {
        if (header->End() > fileSize) {
            scan.cutChunk = header->position;
            cutChunkEnd = header->End();
            continue;
        }
        const uint32_t stream = StreamNumber(header->id);
        IndexEntry entry;
        entry.chunkId = header->id;
        entry.offset = static_cast<uint32_t>(header->position - structure.MoviTypePosition());
        entry.size = header->size;
        entry.flags = kIndexKeyFrame;
        if (IsPaletteChange(header->id)) {
            entry.flags = kIndexNoTime;
        } else {
            if (structure.streams[stream].kind == StreamKind::Video) {
                const size_t wanted = std::min<size_t>(header->size, probe.size());
                const size_t got =
                    wanted == 0 ? 0 : file.ReadAt(header->PayloadStart(), probe.data(), wanted);
                // A chunk of no bytes is a dropped frame: it keeps the time, and nothing starts there.
                if (got == 0 || !codec::IsKeyFrame(codings[stream], std::span(probe.data(), got)))
                    entry.flags = 0;
            }
            ++scan.tallies[stream].chunks;
            scan.tallies[stream].bytes += header->size;
        }
        entries.push_back(entry);
    }
    scan.walk = walk.Summary();
    switch (scan.walk.end) {
    case WalkEnd::Filler:
        scan.dataEnd = OldIndexPosition(file, scan.walk.endOffset, fileSize);
        break;
    case WalkEnd::CutChunk:
        scan.dataEnd = Even(cutChunkEnd); // the missing bytes read as zeros
        break;
    case WalkEnd::EndOfFile:
    case WalkEnd::NoChunkBehind:
    case WalkEnd::GaveUp:
        scan.dataEnd = Even(std::max(fileSize, scan.walk.endOffset));
        break;
    }
    scan.dataEnd = std::max(scan.dataEnd, structure.MoviBody());
    return scan;
}

// The length a stream header gives, in the stream's own units.
uint32_t StreamLength(const StreamInfo& stream, const StreamTally& tally) {
    if (stream.kind == StreamKind::Audio && stream.sampleSize > 0)
        return static_cast<uint32_t>(tally.bytes / stream.sampleSize);
    return tally.chunks;
}

std::optional<size_t> FirstStreamOf(const AviStructure& structure, StreamKind kind) {
    for (size_t stream = 0; stream < structure.streams.size(); ++stream)
        if (structure.streams[stream].kind == kind)
            return stream;
    return std::nullopt;
}

OtherRecorderFindings FindingsOf(const AviStructure& structure, const GeneralScan& scan) {
    OtherRecorderFindings findings;
    findings.streams = static_cast<uint32_t>(structure.streams.size());
    if (auto video = FirstStreamOf(structure, StreamKind::Video))
        findings.videoFrames = scan.tallies[*video].chunks;
    if (auto audio = FirstStreamOf(structure, StreamKind::Audio)) {
        const StreamInfo& stream = structure.streams[*audio];
        if (stream.rate > 0)
            findings.audioSeconds =
                static_cast<double>(StreamLength(stream, scan.tallies[*audio])) * stream.scale / stream.rate;
    }
    return findings;
}

// True when the idx1 at `position` lists exactly the chunks walked, offsets counted from the movi
// list or from the start of the file.
bool IndexMatches(ByteSource& file, uint64_t position, uint64_t moviType, const IndexEntryList& entries) {
    uint8_t header[8];
    if (file.ReadAt(position, header, sizeof header) < sizeof header ||
        FourCC::FromBytes(header) != fourcc::kIdx1 || le::ReadU32(header + 4) != entries.size() * 16)
        return false;
    std::array<uint8_t, 16 * 4096> block{};
    uint64_t base = 0;
    size_t index = 0;
    for (uint64_t at = position + 8; index < entries.size();) {
        const size_t wanted = std::min(block.size(), (entries.size() - index) * 16);
        if (file.ReadAt(at, block.data(), wanted) < wanted)
            return false;
        for (size_t slot = 0; slot < wanted; slot += 16, ++index) {
            const IndexEntry& entry = entries[index];
            const uint32_t offset = le::ReadU32(block.data() + slot + 8);
            if (index == 0)
                base = offset == entry.offset ? 0 : moviType;
            if (FourCC::FromBytes(block.data() + slot) != entry.chunkId || offset != entry.offset + base ||
                le::ReadU32(block.data() + slot + 12) != entry.size)
                return false;
        }
        at += wanted;
    }
    return true;
}

// A finalised file: its data ends in an index that lists every chunk, and its header says so.
bool NeedsNoRepair(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                   const GeneralScan& scan, const IndexEntryList& entries) {
    if (scan.walk.end != WalkEnd::Filler || scan.cutChunk || !scan.walk.damaged.empty() ||
        (structure.mainFlags & kMainFlagHasIndex) == 0 ||
        structure.moviListSize != scan.dataEnd - structure.MoviTypePosition())
        return false;
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        const StreamInfo& stream = structure.streams[number];
        const StreamTally& tally = scan.tallies[number];
        if (stream.superIndex && stream.superIndex->entriesInUse == 0)
            return false;
        if ((stream.kind == StreamKind::Video && stream.length != tally.chunks) ||
            (tally.chunks > 0 && stream.length == 0))
            return false;
    }
    const uint64_t indexEnd = scan.dataEnd + 8 + entries.size() * 16;
    return uint64_t{structure.riffSize} + 8 >= indexEnd && uint64_t{structure.riffSize} + 8 <= fileSize &&
           IndexMatches(file, scan.dataEnd, structure.MoviTypePosition(), entries);
}

// Writes the index behind the data, covers whatever stood behind it with JUNK, and sets the header.
void WriteRepair(SourceFile& file, uint64_t fileSize, const AviStructure& structure, const GeneralScan& scan,
                 const IndexEntryList& entries) {
    // The index behind a cut chunk fills out the file to the chunk's end, and the chunk would then
    // read as whole: it must say JUNK first, on the disk too, or a later repair indexes it.
    if (scan.cutChunk) {
        WriteFourCCAt(file, *scan.cutChunk, fourcc::kJunk);
        file.Sync();
    }
    const uint64_t indexEnd = WriteIdx1(file, scan.dataEnd, entries);
    uint64_t end = indexEnd;
    if (fileSize > indexEnd) {
        // An old, longer index: its remains become filler.
        const uint64_t rest = fileSize - indexEnd;
        const uint32_t filler = static_cast<uint32_t>(rest >= 8 ? rest - 8 : 0);
        WriteFourCCAt(file, indexEnd, fourcc::kJunk);
        WriteU32At(file, indexEnd + 4, filler);
        end = indexEnd + 8 + filler;
        if (filler % 2 == 1) {
            const uint8_t pad = 0;
            file.Seek(static_cast<int64_t>(end), SeekFrom::Begin);
            file.Write(&pad, 1);
            end += 1;
        }
    }

    WriteU32At(file, structure.moviListPosition + 4,
               static_cast<uint32_t>(scan.dataEnd - structure.MoviTypePosition()));
    // An index to use if wanted, never one a player must use: then it plays the file interleaved.
    WriteU32At(file, structure.mainHeaderPosition + kMainFlagsOffset,
               (structure.mainFlags | kMainFlagHasIndex) & ~kMainFlagMustUseIndex);
    uint32_t totalFrames = structure.totalFrames;
    if (auto video = FirstStreamOf(structure, StreamKind::Video))
        totalFrames = scan.tallies[*video].chunks;
    WriteU32At(file, structure.mainHeaderPosition + kMainTotalFramesOffset, totalFrames);
    if (structure.extendedTotalFramesPosition)
        WriteU32At(file, *structure.extendedTotalFramesPosition, totalFrames);
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        const StreamInfo& stream = structure.streams[number];
        WriteU32At(file, stream.lengthPosition, StreamLength(stream, scan.tallies[number]));
        // An empty super index makes readers ignore idx1 and see an empty stream.
        if (stream.superIndex && stream.superIndex->entriesInUse == 0)
            WriteFourCCAt(file, stream.superIndex->position, fourcc::kJunk);
    }
    WriteU32At(file, kRiffSizePosition, static_cast<uint32_t>(end - 8));
}

} // namespace

void RepairEngine::RepairOtherRecorder(const FixRequest& request, const AviStructure& structure) {
    workingPath = request.path;
    IndexEntryList ownEntries;
    IndexEntryList& entries = request.entries != nullptr ? *request.entries : ownEntries;
    const OutputNames names = MakeOutputNames(request.path, request.fileName);
    const bool newFile = request.mode == OutputMode::NewFile;
    outcome.outputPath = newFile ? names.fixName : request.path;
    outcome.status = FixStatus::Failed;

    bool companionCopied = false;
    // A copy that was not made whole must not pass for a repair.
    auto dropCopy = [&] {
        if (!newFile)
            return;
        DeleteFileQuietly(names.fixName);
        if (companionCopied)
            DeleteFileQuietly(names.companionCopy);
    };
    if (newFile) {
        companionCopied = CopyCompanionFile(request.path, request.fileName);
        if (const int copyError = CopyFileReplacing(request.path, names.fixName); copyError != 0) {
            if (companionCopied)
                DeleteFileQuietly(names.companionCopy);
            ShowProblem(messages::CopyToFixNameFailed(names.fixName, copyError), names.fixName);
            return;
        }
    }
    FileError openError;
    if (!sourceFile.Open(outcome.outputPath, ShareMode::DenyNone, openError)) {
        ReportFileError(openError);
        dropCopy();
        return;
    }
    try {
        const uint64_t fileSize = sourceFile.Length();
        const GeneralScan scan = Scan(sourceFile, fileSize, structure, entries);
        outcome.walk = scan.walk;
        outcome.otherRecorder = FindingsOf(structure, scan);
        for (size_t number = 0; number < structure.streams.size(); ++number) {
            if (structure.streams[number].kind == StreamKind::Video)
                outcome.videoChunks += scan.tallies[number].chunks;
            else if (structure.streams[number].kind == StreamKind::Audio)
                outcome.audioChunks += scan.tallies[number].chunks;
        }
        std::string problem;
        if (!scan.walk.extraParts.empty())
            problem = messages::MoreThanOneRiffPart();
        else if (entries.empty())
            problem = messages::NoRecordingData();
        if (!problem.empty()) {
            sourceFile.Abandon();
            dropCopy();
            ShowProblem(problem, request.path);
            entries.clear();
            return;
        }
        if (!newFile && NeedsNoRepair(sourceFile, fileSize, structure, scan, entries)) {
            sourceFile.Close();
            outcome.otherRecorder->neededNoRepair = true;
            outcome.status = FixStatus::Repaired;
            ShowProblem(messages::NoRepairNeeded(), request.path);
            entries.clear();
            return;
        }
        WriteRepair(sourceFile, fileSize, structure, scan, entries);
        sourceFile.Sync();
        sourceFile.Close();
        if (!scan.walk.Complete()) {
            outcome.status = FixStatus::Partial;
            ShowProblem(messages::InPlaceStopped(scan.walk.endOffset, static_cast<uint32_t>(entries.size())),
                        request.path);
        } else {
            outcome.status = FixStatus::Repaired;
            if (std::string notice = messages::SkippedNotice(scan.walk, true); !notice.empty())
                ShowProblem(notice, request.path);
        }
    } catch (const FileError& error) {
        ReportFileError(error);
        sourceFile.Abandon();
        dropCopy();
    } catch (const std::bad_alloc&) {
        ShowProblem(messages::OutOfMemory(), request.path);
        sourceFile.Abandon();
        dropCopy();
    }
    entries.clear();
}

} // namespace clipwright
