#include "repair/OtherRecorderScan.h"

#include "avi/LittleEndian.h"
#include "codec/KeyFrames.h"
#include "repair/OpenDmlIndexing.h"
#include "repair/WriterKeyFlags.h"

#include <algorithm>
#include <array>

namespace clipwright {

namespace {

uint64_t Even(uint64_t value) {
    return value + (value & 1);
}

uint32_t StreamNumber(const FourCC& id) {
    return static_cast<uint32_t>((id.Bytes()[0] - '0') * 10 + (id.Bytes()[1] - '0'));
}

bool IsPaletteChange(const FourCC& id) {
    return id.Bytes()[2] == 'p' && id.Bytes()[3] == 'c';
}

// The first index (idx1, or the standard indexes of a last OpenDML part) in the filler the data
// ends with: an old index, replaced. The JUNK before it may be a cut chunk an earlier repair
// kept, and is kept again; so are the standard indexes the super indexes keep pointing at.
uint64_t OldIndexPosition(ByteSource& file, uint64_t fillerStart, uint64_t fileSize,
                          const std::vector<std::pair<uint64_t, uint64_t>>& kept) {
    uint64_t position = fillerStart;
    while (true) {
        const ChunkHeader header = ReadChunkHeader(file, position, 0);
        const bool keptHere =
            std::any_of(kept.begin(), kept.end(), [&](const auto& index) { return index.first == position; });
        if (!header.SizeWhole() ||
            (!keptHere &&
             (header.id == fourcc::kIdx1 || (header.id.Bytes()[0] == 'i' && header.id.Bytes()[1] == 'x'))))
            break;
        if (header.End() >= fileSize) {
            position = Even(header.End());
            break;
        }
        position = Even(header.End());
    }
    // A kept one behind an old index stays too: the new index goes behind it.
    for (const auto& [begin, end] : kept)
        if (begin >= fillerStart)
            position = std::max(position, Even(end));
    return position;
}

constexpr uint64_t kIdx1EntryBytes = 16;
constexpr uint64_t kPartHeaderBytes = 24; // 'RIFF' size 'AVIX' 'LIST' size 'movi'

// True for a header the walk found inside an idx1 that the end of the file cuts off, on one of
// its entries, and ending where the file does: an entry's id and flags read as a chunk header,
// which the walk's search behind the idx1's size took for the last chunk.
bool IsIdx1Entry(ByteSource& file, uint64_t fileSize, const WalkSummary& walk, const ChunkHeader& header) {
    if (walk.damaged.empty() || header.End() != fileSize)
        return false;
    const ChunkHeader index = ReadChunkHeader(file, walk.damaged.back().offset, 0);
    return index.SizeWhole() && index.id == fourcc::kIdx1 && index.End() > fileSize &&
           header.position > index.position &&
           (header.position - index.PayloadStart()) % kIdx1EntryBytes == 0;
}

// The frame's first bytes, a few hundred where they settle it. A chunk of no bytes is a dropped
// frame: it keeps the time, and nothing starts there.
bool IsKeyFrameAt(ByteSource& file, const ChunkHeader& header, codec::VideoCoding coding,
                  std::vector<uint8_t>& probe) {
    constexpr size_t kFirstLook = 256;
    const size_t wanted = std::min<size_t>(header.size, probe.size());
    if (wanted == 0)
        return false;
    size_t got = file.ReadAt(header.PayloadStart(), probe.data(), std::min(wanted, kFirstLook));
    if (got < wanted) {
        if (const std::optional<bool> settled =
                codec::KeyFrameSettledBy(coding, std::span(probe.data(), got)))
            return *settled;
        got = file.ReadAt(header.PayloadStart(), probe.data(), wanted);
    }
    return got > 0 && codec::IsKeyFrame(coding, std::span(probe.data(), got));
}

bool IsUnreadVideo(const StreamInfo& stream, codec::VideoCoding coding) {
    return stream.kind == StreamKind::Video && coding == codec::VideoCoding::Unread;
}

// The video of codecs whose frames are not read: the flags its writer's indexes gave, where they
// list a chunk; past them, the first frame is taken for a key frame and no other is, since a player
// that seeks to a delta frame shows garbage, and one that seeks to the first frame only waits.
void FlagUnreadVideo(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                     const std::vector<codec::VideoCoding>& codings, OtherRecorderScan& scan,
                     IndexEntryList& entries) {
    std::vector<bool> unread(structure.streams.size());
    for (size_t stream = 0; stream < unread.size(); ++stream)
        unread[stream] = IsUnreadVideo(structure.streams[stream], codings[stream]);
    if (std::find(unread.begin(), unread.end(), true) == unread.end())
        return;
    const WriterKeyFlags writer(file, fileSize, structure, scan.walk.indexes, unread);
    std::vector<bool> keySeen(unread.size());
    ChunkPositions positions(structure.MoviTypePosition());
    for (IndexEntry& entry : entries) {
        const uint64_t position = positions.Next(entry);
        const uint32_t stream = StreamNumber(entry.chunkId);
        if (!unread[stream] || IsPaletteChange(entry.chunkId))
            continue;
        StreamTally& tally = scan.tallies[stream];
        bool key = false;
        if (const std::optional<bool> flagged = writer.KeyAt(position)) {
            key = *flagged;
            ++tally.writerKeyFlags;
        } else if (entry.size > 0) {
            key = !keySeen[stream];
            tally.unknownKeyFlags += key ? 0 : 1;
        }
        keySeen[stream] = keySeen[stream] || key;
        entry.flags = key ? avi::kIndexKeyFrame : 0;
    }
}

} // namespace

OtherRecorderScan ScanOtherRecorder(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                                    IndexEntryList& entries) {
    const auto streamCount = static_cast<uint32_t>(structure.streams.size());
    const MediaIds ids = MediaIds::ForStreams(streamCount);
    std::vector<codec::VideoCoding> codings;
    for (const StreamInfo& stream : structure.streams)
        codings.push_back(codec::VideoCodingOf(stream.compression, stream.handler));

    OtherRecorderScan scan;
    scan.tallies.resize(streamCount);
    ChunkWalk walk(file, structure.MoviBody(), fileSize, ids, PadBytes::Expected, kLargeFrameCutOffAllowance);
    std::vector<uint8_t> probe(codec::kKeyFrameProbeBytes);
    uint64_t cutChunkEnd = 0;
    std::optional<uint64_t> cutIdx1;
    while (auto header = walk.Next()) {
        if (IsIdx1Entry(file, fileSize, walk.Summary(), *header)) {
            cutIdx1 = walk.Summary().damaged.back().offset;
            continue;
        }
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
        entry.flags = avi::kIndexKeyFrame;
        if (IsPaletteChange(header->id)) {
            entry.flags = avi::kIndexNoTime;
        } else {
            // Unread video is flagged once the walk has passed its writer's indexes.
            if (structure.streams[stream].kind == StreamKind::Video &&
                (codings[stream] == codec::VideoCoding::Unread ||
                 !IsKeyFrameAt(file, *header, codings[stream], probe)))
                entry.flags = 0;
            ++scan.tallies[stream].chunks;
            scan.tallies[stream].bytes += header->size;
        }
        entries.push_back(entry);
    }
    scan.walk = walk.Summary();
    // The data ends in that idx1, as when nothing was found in it.
    if (cutIdx1) {
        if (!scan.walk.damaged.empty() && scan.walk.damaged.back().offset == *cutIdx1)
            scan.walk.damaged.pop_back();
        scan.walk.end = WalkEnd::Filler;
        scan.walk.endOffset = *cutIdx1;
    }
    FlagUnreadVideo(file, fileSize, structure, codings, scan, entries);
    // A further part whose movi list the file cuts holds nothing yet: its headers go, as a cut
    // header does.
    std::vector<uint64_t>& parts = scan.walk.extraParts;
    const bool emptyLastPart =
        !parts.empty() && parts.back() + kPartHeaderBytes > fileSize && scan.walk.end == WalkEnd::EndOfFile;
    switch (scan.walk.end) {
    case WalkEnd::Filler:
        scan.dataEnd =
            OldIndexPosition(file, scan.walk.endOffset, fileSize,
                             KeptStandardIndexes(structure, entries, FurtherParts(structure, scan.walk)));
        break;
    case WalkEnd::CutChunk:
        scan.dataEnd = Even(cutChunkEnd); // the missing bytes read as zeros
        break;
    case WalkEnd::EndOfFile:
        // The file ends inside a header: nothing of what it begins was written, and the index
        // takes its place, or readers would take its bytes for a chunk.
        if (emptyLastPart) {
            scan.dataEnd = parts.back();
            scan.walk.endOffset = parts.back();
            parts.pop_back();
        } else {
            scan.dataEnd = Even(scan.walk.endOffset);
        }
        break;
    case WalkEnd::NoChunkBehind:
    case WalkEnd::GaveUp:
        scan.dataEnd = Even(std::max(fileSize, scan.walk.endOffset));
        break;
    }
    scan.dataEnd = std::max(scan.dataEnd, structure.MoviBody());
    return scan;
}

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

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatMsAdpcm = 2;
constexpr uint16_t kFormatALaw = 6;
constexpr uint16_t kFormatMuLaw = 7;
constexpr uint16_t kFormatImaAdpcm = 0x11;

} // namespace

std::optional<double> StreamSeconds(const StreamInfo& stream, const StreamTally& tally) {
    uint32_t samplesPerBlock = 0;
    switch (stream.formatTag) {
    case kFormatPcm:
    case kFormatALaw:
    case kFormatMuLaw:
        samplesPerBlock = 1;
        break;
    case kFormatMsAdpcm:
    case kFormatImaAdpcm:
        samplesPerBlock = stream.samplesPerBlock;
        break;
    default:
        break;
    }
    if (samplesPerBlock > 0 && stream.blockAlign > 0 && stream.sampleRate > 0)
        return static_cast<double>(tally.bytes / stream.blockAlign) * samplesPerBlock / stream.sampleRate;
    if (stream.rate > 0)
        return static_cast<double>(StreamLength(stream, tally)) * stream.scale / stream.rate;
    return std::nullopt;
}

OtherRecorderFindings FindingsOf(const AviStructure& structure, const OtherRecorderScan& scan) {
    OtherRecorderFindings findings;
    findings.streams = static_cast<uint32_t>(structure.streams.size());
    if (auto video = FirstStreamOf(structure, StreamKind::Video)) {
        const StreamTally& tally = scan.tallies[*video];
        findings.videoFrames = tally.chunks;
        const StreamInfo& stream = structure.streams[*video];
        if (tally.unknownKeyFlags > 0)
            findings.unknownKeyFrames = UnknownKeyFrames{
                stream.compression == FourCC() ? stream.handler : stream.compression, tally.writerKeyFlags};
    }
    if (auto audio = FirstStreamOf(structure, StreamKind::Audio))
        findings.audioSeconds = StreamSeconds(structure.streams[*audio], scan.tallies[*audio]);
    return findings;
}

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

bool NeedsNoRepair(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                   const OtherRecorderScan& scan, const IndexEntryList& entries) {
    if (scan.walk.end != WalkEnd::Filler || scan.cutChunk || !scan.walk.damaged.empty() ||
        (structure.mainFlags & avi::kMainFlagHasIndex) == 0 ||
        structure.moviListSize != scan.dataEnd - structure.MoviTypePosition())
        return false;
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        const StreamInfo& stream = structure.streams[number];
        const StreamTally& tally = scan.tallies[number];
        // An index of indexes readers cannot follow to the end is one to repair.
        if (stream.superIndex && (stream.superIndex->entriesInUse == 0 ||
                                  stream.superIndex->entriesInUse != stream.superIndex->declaredEntries))
            return false;
        if ((stream.kind == StreamKind::Video && stream.length != tally.chunks) ||
            (tally.chunks > 0 && stream.length == 0))
            return false;
    }
    const uint64_t indexEnd = scan.dataEnd + 8 + entries.size() * 16;
    return uint64_t{structure.riffSize} + 8 >= indexEnd && uint64_t{structure.riffSize} + 8 <= fileSize &&
           IndexMatches(file, scan.dataEnd, structure.MoviTypePosition(), entries);
}

} // namespace clipwright
