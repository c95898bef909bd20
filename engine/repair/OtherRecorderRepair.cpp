// Repairs an AVI that another recorder was cut off writing: indexes every complete chunk of its
// movi list with key flags read from the video itself, and sets the header's counts and sizes.
// Footage is never moved or written over: the index goes behind the last byte that may hold any.
// A chunk cut off by the end of the file keeps its bytes but becomes JUNK: players that read the
// movi list chunk by chunk would otherwise decode half a frame. The index reaches the disk before
// the header says there is one, and the RIFF size is written last.
#include "repair/Executors.h"

#include "platform/FileOperations.h"
#include "repair/InPlaceTarget.h"
#include "repair/IndexWriting.h"
#include "repair/OpenDmlIndexing.h"
#include "repair/OtherRecorderScan.h"

#include <algorithm>
#include <new>

namespace clipwright {

namespace {

// Writes the index behind the data, covers whatever stood behind it with JUNK, and sets the header.
void WriteRepair(SourceFile& file, uint64_t fileSize, const AviStructure& structure,
                 const OtherRecorderScan& scan, const IndexEntryList& entries) {
    // The index behind a cut chunk fills out the file to the chunk's end, and the chunk would then
    // read as whole: it must say JUNK first, on the disk too, or a later repair indexes it.
    if (scan.cutChunk) {
        WriteFourCCAt(file, *scan.cutChunk, fourcc::kJunk);
        file.Sync();
    }
    const uint64_t indexEnd = WriteIdx1(file, scan.dataEnd, entries);
    // An old, longer index: its remains become filler.
    const uint64_t end = CoverRest(file, indexEnd, fileSize);
    file.Sync();

    WriteU32At(file, structure.moviListPosition + 4,
               static_cast<uint32_t>(scan.dataEnd - structure.MoviTypePosition()));
    // An index to use if wanted, never one a player must use: then it plays the file interleaved.
    WriteU32At(file, structure.mainHeaderPosition + avi::kMainFlagsOffset,
               (structure.mainFlags | avi::kMainFlagHasIndex) & ~avi::kMainFlagMustUseIndex);
    uint32_t totalFrames = structure.totalFrames;
    if (auto video = FirstStreamOf(structure, StreamKind::Video))
        totalFrames = scan.tallies[*video].chunks;
    WriteU32At(file, structure.mainHeaderPosition + avi::kMainTotalFramesOffset, totalFrames);
    if (structure.extendedTotalFramesPosition)
        WriteU32At(file, *structure.extendedTotalFramesPosition, totalFrames);
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        const StreamInfo& stream = structure.streams[number];
        WriteU32At(file, stream.lengthPosition, StreamLength(stream, scan.tallies[number]));
        // An empty super index makes readers ignore idx1 and see an empty stream.
        if (stream.superIndex && stream.superIndex->entriesInUse == 0)
            WriteFourCCAt(file, stream.superIndex->position, fourcc::kJunk);
        // Entries past the trusted ones point at what is no standard index of this stream:
        // readers would follow them.
        else if (stream.superIndex && stream.superIndex->declaredEntries != stream.superIndex->entriesInUse)
            WriteU32At(file, stream.superIndex->position + 8 + 4, stream.superIndex->entriesInUse);
    }
    WriteU32At(file, avi::kRiffSizePosition, static_cast<uint32_t>(end - 8));
}

} // namespace

void RepairOtherRecorder(const Inspection& inspection, const RepairPlan& plan, const JobContext& job) {
    const OtherRecorderInspection& other = *inspection.other;
    FixOutcome& outcome = job.outcome;
    outcome.outputPath = plan.outputPath;
    outcome.status = FixStatus::Failed;
    outcome.walk = other.scan.walk;
    outcome.otherRecorder = FindingsOf(other.structure, other.scan);
    outcome.otherRecorder->replacedOriginal = plan.mode == OutputMode::ReplaceOriginal;
    for (size_t number = 0; number < other.structure.streams.size(); ++number) {
        if (other.structure.streams[number].kind == StreamKind::Video)
            outcome.videoChunks += other.scan.tallies[number].chunks;
        else if (other.structure.streams[number].kind == StreamKind::Audio)
            outcome.audioChunks += other.scan.tallies[number].chunks;
    }

    InPlaceTarget target(inspection, plan, job);
    const bool written = target.Run([&](SourceFile& file) {
        CoverDamage(file, other.scan.walk);
        if (other.furtherParts.empty())
            WriteRepair(file, inspection.size, other.structure, other.scan, other.entries);
        else
            WritePartIndexes(file, inspection.size, other.structure, other.scan, other.entries,
                             other.furtherParts);
        file.Sync();
    });
    if (!written)
        return;
    if (!other.scan.walk.Complete()) {
        outcome.status = FixStatus::Partial;
        job.Report({.code = EventCode::InPlaceStopped,
                    .path = inspection.path,
                    .offset = other.scan.walk.endOffset,
                    .chunks = static_cast<uint32_t>(other.entries.size())});
        return;
    }
    outcome.status = FixStatus::Repaired;
    job.ReportSkipped(other.scan.walk, true, inspection.path);
    job.Report({.code = EventCode::OtherRecorderRepaired,
                .path = outcome.outputPath,
                .outputPath = outcome.outputPath,
                .findings = *outcome.otherRecorder});
}

} // namespace clipwright
