// Repairs a recording whose header block survived: appends a fresh idx1 index behind the data,
// padded to a multiple of 2048 bytes, then patches the header counts and sizes. The index goes to
// the disk before the header says there is one, so that a stop between the two leaves a file that
// still reads as unfinished, and a second repair completes it.
#include "repair/Executors.h"

#include "avi/LittleEndian.h"
#include "repair/InPlaceTarget.h"
#include "repair/IndexWriting.h"

#include <algorithm>
#include <array>
#include <new>

namespace clipwright {

namespace {

void PatchHeader(SourceFile& file, const CameraIndexScan& scan) {
    WriteU32At(file, layout::kMoviSize, static_cast<uint32_t>(scan.dataEnd - layout::kMoviBase));
    WriteU32At(file, layout::kMainFlags, layout::kMainFlagsIndexed);
    WriteU32At(file, layout::kMainTotalFrames, static_cast<uint32_t>(scan.entries.size()));
    WriteU32At(file, layout::kVideoLength, scan.videoChunks);
    uint8_t streamType[4] = {};
    const bool audioHeaderInPlace =
        file.ReadAt(layout::kSecondStreamType, streamType, sizeof streamType) == sizeof streamType &&
        FourCC::FromBytes(streamType) == fourcc::kAuds;
    WriteU32At(file, audioHeaderInPlace ? layout::kAudioLength : layout::kAudioLengthShifted,
               scan.audioChunks * layout::kAudioLengthPerChunk);
}

// Length of the JUNK chunk that makes the file end on a multiple of 2048. When less than its own
// 8-byte header would remain, it reaches the multiple after the next.
uint32_t FillerLength(uint64_t indexEnd) {
    uint32_t filler = layout::kPadUnit - static_cast<uint32_t>(indexEnd % layout::kPadUnit);
    return filler < 8 ? filler + layout::kPadUnit : filler;
}

// Writes idx1 and the JUNK filler at `dataEnd`; returns the idx1 end.
uint64_t WriteIndex(SourceFile& file, uint64_t dataEnd, const IndexEntryList& entries) {
    const uint64_t indexEnd = WriteIdx1(file, dataEnd, entries);
    const uint32_t filler = FillerLength(indexEnd);
    uint8_t header[8];
    std::copy(fourcc::kJunk.Bytes().begin(), fourcc::kJunk.Bytes().end(), header);
    le::WriteU32(header + 4, filler - 8);
    file.Write(header, sizeof header);
    static const std::array<uint8_t, layout::kPadUnit> kZeros{};
    file.Write(kZeros.data(), filler - 8);
    return indexEnd;
}

} // namespace

void RepairCameraInPlace(const Inspection& inspection, const RepairPlan& plan, const JobContext& job) {
    const CameraIndexScan& scan = *inspection.inPlace;
    FixOutcome& outcome = job.outcome;
    outcome.outputPath = plan.outputPath;
    outcome.status = FixStatus::Failed;
    outcome.videoChunks = scan.videoChunks;
    outcome.audioChunks = scan.audioChunks;
    outcome.walk = inspection.walk;
    outcome.indexedInPlace = true;

    InPlaceTarget target(inspection, plan, job);
    const bool written = target.Run([&](SourceFile& file) {
        CoverDamage(file, inspection.walk);
        const uint64_t indexEnd = WriteIndex(file, scan.dataEnd, scan.entries);
        file.Sync();
        PatchHeader(file, scan);
        WriteU32At(file, layout::kRiffSize, static_cast<uint32_t>(indexEnd - 8));
        file.Sync();
    });
    if (!written)
        return;
    if (!inspection.walk.Complete()) {
        outcome.status = FixStatus::Partial;
        job.Report({.code = EventCode::InPlaceStopped,
                    .path = inspection.path,
                    .offset = inspection.walk.endOffset,
                    .chunks = static_cast<uint32_t>(scan.entries.size())});
        return;
    }
    outcome.status = FixStatus::Repaired;
    job.ReportSkipped(inspection.walk, true, inspection.path);
}

} // namespace clipwright
