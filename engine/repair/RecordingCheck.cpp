// The check reads what the job and the repairs read, at the same places and with the same walk, so
// that what it says of a recording is what a repair then does with it.
#include "repair/RecordingCheck.h"

#include "avi/AviStructure.h"
#include "avi/LittleEndian.h"
#include "platform/FileOperations.h"
#include "platform/ReadOnlyFile.h"
#include "repair/Messages.h"
#include "repair/OpenDmlIndexing.h"
#include "repair/OutputNaming.h"
#include "repair/RecordingLayout.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace clipwright {

namespace {

// Fields of the camera's header block that only the check reads.
constexpr uint32_t kVideoHandler = 112;        // video strh fccHandler
constexpr uint32_t kVideoCompression = 188;    // video strf biCompression
constexpr uint32_t kAudioListShift = 8;        // the audio stream list may begin 8 bytes later
constexpr uint32_t kStrhTypeToFormatTag = 64;  // audio strh fccType to strf wFormatTag
constexpr uint32_t kStrhTypeToSampleRate = 68; // audio strh fccType to strf nSamplesPerSec
constexpr uint32_t kHighestFrameRate = 120;    // above it the rebuild asks for settings

template <size_t N> bool ReadWhole(ByteSource& file, uint64_t position, std::array<uint8_t, N>& bytes) {
    return file.ReadAt(position, bytes.data(), N) == N;
}

// A field the file ends before is no value at all, never a 0.
std::optional<uint32_t> U32At(ByteSource& file, uint64_t position) {
    std::array<uint8_t, 4> bytes{};
    return ReadWhole(file, position, bytes) ? std::optional(le::ReadU32(bytes.data())) : std::nullopt;
}

std::optional<uint16_t> U16At(ByteSource& file, uint64_t position) {
    std::array<uint8_t, 2> bytes{};
    return ReadWhole(file, position, bytes) ? std::optional(le::ReadU16(bytes.data())) : std::nullopt;
}

std::optional<FourCC> WordAt(ByteSource& file, uint64_t position) {
    std::array<uint8_t, 4> bytes{};
    return ReadWhole(file, position, bytes) ? std::optional(FourCC::FromBytes(bytes.data())) : std::nullopt;
}

HeaderSettings ReadHeaderSettings(ByteSource& file) {
    HeaderSettings header;
    header.videoHandler = WordAt(file, kVideoHandler);
    header.videoCompression = WordAt(file, kVideoCompression);
    header.width = U32At(file, layout::kMainWidth);
    header.height = U32At(file, layout::kMainHeight);
    header.scale = U32At(file, layout::kVideoScale);
    header.rate = U32At(file, layout::kVideoRate);
    // Whole frames, as the rebuild computes them: 15000/1001 is 14.
    if (header.scale.value_or(0) != 0 && header.rate.value_or(0) != 0)
        header.framesPerSecond = *header.rate / *header.scale;
    header.resolution = ResolutionFromSize(header.width, header.height);
    header.usable = header.framesPerSecond != 0 && header.framesPerSecond <= kHighestFrameRate &&
                    header.resolution != kResolutionUnknown;

    for (uint32_t type : {layout::kSecondStreamType, layout::kSecondStreamType + kAudioListShift}) {
        if (WordAt(file, type) != fourcc::kAuds)
            continue;
        header.audioStream = true;
        header.audioFormat = U16At(file, type + kStrhTypeToFormatTag);
        header.audioSampleRate = U32At(file, type + kStrhTypeToSampleRate);
        break;
    }
    return header;
}

bool IsInPlaceAudio(const FourCC& id) {
    return id == fourcc::kAudio00wb || id == fourcc::kAudio01wb;
}

// The chunks as the repair's own walk finds and counts them.
void CountChunks(ByteSource& file, CheckReport& report) {
    const bool inPlace = report.ids == CheckedIds::InPlace;
    ChunkWalk walk(file, report.chunkStart, report.size, inPlace ? CameraIndexedIds() : CameraCopiedIds());
    while (std::optional<ChunkHeader> chunk = walk.Next()) {
        // The rebuild passes over empty chunks; the in-place index lists them.
        if (!inPlace && chunk->size == 0)
            continue;
        const bool audio = inPlace ? IsInPlaceAudio(chunk->id) : chunk->id == fourcc::kAudio01wb;
        ++(audio ? report.audioChunks : report.videoChunks);
    }
    report.walk = walk.Summary();
    // The simplest honest test: an 'idx1' id where the data ended on filler.
    if (report.walk.end == WalkEnd::Filler && WordAt(file, report.walk.endOffset) == fourcc::kIdx1)
        report.indexOffset = report.walk.endOffset;
}

bool IsSymbolicLink(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

// What stops the repair opening the recording for writing, as its own open would: a file with no
// write permission at all is read-only even to an administrator.
std::string WhyNotWritable(const std::string& path, const struct stat& status) {
    if ((status.st_mode & 0222) == 0)
        return FileErrorMessage(filecause::kAccessDenied);
    if (::access(path.c_str(), W_OK) != 0) {
        const char* message = FileErrorMessage(CauseFromErrno(errno));
        return message != nullptr ? message : FileErrorMessage(filecause::kGeneric);
    }
    return {};
}

// 0 when new names can be made in the recording's folder, otherwise the errno that says why not.
int FolderError(const OutputNames& names) {
    const std::string folder = names.directoryPrefix.empty() ? "." : names.directoryPrefix;
    return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

struct Obstacles {
    std::string unwritable; // the sentence for a recording the repair cannot open for writing
    int folderError = 0;
    bool symbolicLink = false;
};

ModePlan Plan(RepairAction action, PlannedResult result, std::string outputPath, std::string reason = {},
              std::string keptAs = {}) {
    ModePlan plan;
    plan.action = action;
    plan.result = result;
    plan.outputPath = std::move(outputPath);
    plan.reason = std::move(reason);
    plan.keptAs = std::move(keptAs);
    return plan;
}

ModePlan Ends(RepairAction action, PlannedResult result, std::string reason) {
    return Plan(action, result, {}, std::move(reason));
}

ModePlan Refused(RepairAction action, std::string reason) {
    return Ends(action, PlannedResult::Refused, std::move(reason));
}

uint32_t IndexedChunks(const CheckReport& report) {
    return report.videoChunks + report.audioChunks + report.otherChunks;
}

// The camera's standard layout and another recorder's AVI are both indexed where they stand: in a
// copy made first, or in the recording itself.
ModePlan PlanInPlace(const CheckReport& report, OutputMode mode, const OutputNames& names,
                     const Obstacles& obstacles) {
    const RepairAction action = RepairAction::IndexInPlace;
    const bool replacing = mode == OutputMode::ReplaceOriginal;
    if (!replacing && obstacles.folderError != 0)
        return Refused(action, messages::CopyToFixNameFailed(names.fixName, obstacles.folderError));
    const OtherRecorderCheck* other = report.otherRecorder ? &*report.otherRecorder : nullptr;
    if (other != nullptr && !other->partsRepairable)
        return Refused(action, messages::MoreThanOneRiffPart());
    const uint32_t chunks = IndexedChunks(report);
    if (chunks == 0)
        return Ends(action, PlannedResult::NothingFound, messages::NoRecordingData());
    // A new file is indexed all the same: the copy is the user's to keep either way.
    if (replacing && other != nullptr && other->needsNoRepair)
        return Plan(RepairAction::None, PlannedResult::NoRepairNeeded, {}, messages::NoRepairNeeded());
    ModePlan plan = Plan(action, PlannedResult::Complete, replacing ? report.path : names.fixName);
    if (!report.walk.Complete()) {
        plan.result = PlannedResult::Partial;
        plan.reason = messages::InPlaceStopped(report.walk.endOffset, chunks);
    }
    return plan;
}

ModePlan PlanRebuild(const CheckReport& report, OutputMode mode, const OutputNames& names,
                     const Obstacles& obstacles) {
    const RepairAction action = RepairAction::Rebuild;
    if (report.settingsSource == SettingsSource::Missing)
        return Plan(action, PlannedResult::NeedsSettings, {});
    // Settings that did not come from the header always make a new file.
    const bool replacing =
        mode == OutputMode::ReplaceOriginal && report.settingsSource == SettingsSource::Header;
    if (replacing && FileExists(names.temporaryName))
        return Refused(action, messages::MoveToTemporaryNameFailed(names.temporaryName, EEXIST));
    if (obstacles.folderError != 0)
        return Refused(action, replacing ? messages::MoveToTemporaryNameFailed(names.temporaryName,
                                                                               obstacles.folderError)
                                         : messages::OutputNotCreated(names.fixName));
    const bool copiesAnything = report.videoChunks + report.audioChunks != 0;
    const std::string outputPath = replacing ? report.path : names.fixName;
    if (report.walk.Complete()) {
        if (!copiesAnything)
            return Ends(action, PlannedResult::NothingFound, messages::NoRecordingData());
        return Plan(action, PlannedResult::Complete, outputPath, {}, replacing ? names.temporaryName : "");
    }
    const std::string reason = messages::WalkGaveUpReason();
    // A new file keeps what was copied before the damage; a replace puts the recording back.
    if (!replacing && copiesAnything)
        return Plan(action, PlannedResult::Partial, outputPath,
                    messages::CopyStopped(reason, report.walk.endOffset, false));
    return Ends(action, PlannedResult::Stops, messages::CopyStopped(reason, report.walk.endOffset, true));
}

// As the job decides, in its order: the size, a link replaced through, the open for writing, then
// the repair itself.
ModePlan PlanMode(const CheckReport& report, OutputMode mode, const OutputNames& names,
                  const Obstacles& obstacles) {
    const RepairAction action = report.layout == LayoutStandard || report.otherRecorder
                                    ? RepairAction::IndexInPlace
                                    : RepairAction::Rebuild;
    if (mode == OutputMode::ReplaceOriginal && obstacles.symbolicLink)
        return Refused(action, messages::ReplacingThroughLink());
    if (!obstacles.unwritable.empty())
        return Refused(action, obstacles.unwritable);
    return action == RepairAction::IndexInPlace ? PlanInPlace(report, mode, names, obstacles)
                                                : PlanRebuild(report, mode, names, obstacles);
}

CheckVerdict VerdictOf(const CheckReport& report) {
    switch (report.newFile.result) {
    case PlannedResult::Complete:
    case PlannedResult::NoRepairNeeded:
        return report.healthy ? CheckVerdict::Healthy : CheckVerdict::Repairable;
    case PlannedResult::Partial:
    case PlannedResult::Stops:
        return CheckVerdict::Incomplete;
    case PlannedResult::NeedsSettings:
        return CheckVerdict::NeedsSettings;
    case PlannedResult::NothingFound:
        return CheckVerdict::NothingToRepair;
    case PlannedResult::Refused:
        break;
    }
    return CheckVerdict::Refused;
}

std::string BaseName(const std::string& path) {
    const size_t separator = path.rfind('/');
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// What the repair of another recorder's file reads: its stream lists, and a walk of its movi list.
void AnalyseOtherRecorder(ReadOnlyFile& file, const AviStructure& structure, CheckReport& report) {
    report.ids = CheckedIds::Streams;
    report.chunkStart = structure.MoviBody();
    IndexEntryList entries;
    const OtherRecorderScan scan = ScanOtherRecorder(file, report.size, structure, entries);
    report.walk = scan.walk;

    OtherRecorderCheck other;
    other.findings = FindingsOf(structure, scan);
    const std::vector<uint64_t> parts = FurtherParts(structure, scan.walk);
    other.riffParts = static_cast<uint32_t>(1 + parts.size());
    other.partsRepairable = PartsRepairable(structure, parts);
    for (size_t number = 0; number < structure.streams.size(); ++number) {
        const StreamInfo& stream = structure.streams[number];
        const StreamTally& found = scan.tallies[number];
        other.streams.push_back({stream, found, StreamSeconds(stream, found)});
        if (stream.kind == StreamKind::Video)
            report.videoChunks += found.chunks;
        else if (stream.kind == StreamKind::Audio)
            report.audioChunks += found.chunks;
    }
    // Text and other streams, and palette changes, are indexed too.
    report.otherChunks = static_cast<uint32_t>(entries.size()) - report.videoChunks - report.audioChunks;
    if (scan.walk.end == WalkEnd::Filler && WordAt(file, scan.dataEnd) == fourcc::kIdx1)
        report.indexOffset = scan.dataEnd;
    other.needsNoRepair = IsFinalised(file, report.size, structure, scan, entries, parts);
    report.healthy = other.needsNoRepair;
    report.otherRecorder = std::move(other);
}

void Analyse(ReadOnlyFile& file, CheckReport& report) {
    report.size = file.Length();
    report.layout = ProbeLayoutOf(file);
    // As the job decides: neither of the camera's own layouts, and a header a reader can follow.
    if (report.layout != LayoutStandard && report.layout != LayoutShifted) {
        if (const std::optional<AviStructure> structure = ReadAviStructure(file, report.size)) {
            AnalyseOtherRecorder(file, *structure, report);
            return;
        }
    }
    report.header = ReadHeaderSettings(file);

    report.chunkStart =
        report.layout == LayoutStandard ? layout::kFirstChunk : RebuildDataStart(file, report.layout);
    report.ids = report.layout == LayoutStandard ? CheckedIds::InPlace : CheckedIds::Rebuild;
    report.video = DetectCameraSettings(file, report.chunkStart, report.size);
    CountChunks(file, report);

    if (report.layout == LayoutStandard) {
        const std::optional<uint32_t> moviSize = U32At(file, layout::kMoviSize);
        report.healthy = report.indexOffset && report.walk.damaged.empty() &&
                         moviSize == *report.indexOffset - layout::kMoviBase;
        return;
    }
    if (report.header.usable) {
        report.settingsSource = SettingsSource::Header;
        report.settings = ImageSettings{report.header.resolution, report.header.framesPerSecond};
    } else if ((report.settings = SuggestedImageSettings(report.video))) {
        report.settingsSource = SettingsSource::Video;
    } else {
        report.settingsSource = SettingsSource::Missing;
    }
}

} // namespace

const char* PlannedResultName(PlannedResult result) {
    switch (result) {
    case PlannedResult::Complete:
        return "complete";
    case PlannedResult::Partial:
        return "partial";
    case PlannedResult::Stops:
        return "stops";
    case PlannedResult::NeedsSettings:
        return "needs settings";
    case PlannedResult::NothingFound:
        return "nothing found";
    case PlannedResult::NoRepairNeeded:
        return "no repair needed";
    case PlannedResult::Refused:
        break;
    }
    return "refused";
}

const char* VerdictName(CheckVerdict verdict) {
    switch (verdict) {
    case CheckVerdict::Healthy:
        return "healthy";
    case CheckVerdict::Repairable:
        return "repairable";
    case CheckVerdict::Incomplete:
        return "incomplete";
    case CheckVerdict::NeedsSettings:
        return "needs settings";
    case CheckVerdict::NothingToRepair:
        return "nothing to repair";
    case CheckVerdict::Refused:
        return "refused";
    case CheckVerdict::Unreadable:
        break;
    }
    return "unreadable";
}

CheckReport CheckRecording(const std::string& path) {
    CheckReport report;
    report.path = path;
    const OutputNames names = MakeOutputNames(path, BaseName(path));
    auto refuse = [&](CheckVerdict verdict, const std::string& problem) {
        CheckReport ended;
        ended.path = path;
        ended.verdict = verdict;
        ended.problem = problem;
        ended.newFile = ended.replace = Refused(RepairAction::None, problem);
        return ended;
    };
    // An interrupted replace left the recording under its temporary name.
    if (!FileExists(path) && FileExists(names.temporaryName)) {
        CheckReport moved =
            refuse(CheckVerdict::Refused, messages::RecordingUnderTemporaryName(names.temporaryName, path));
        moved.temporaryName = names.temporaryName;
        return moved;
    }
    try {
        ReadOnlyFile file;
        FileError openError;
        if (!file.Open(path, openError))
            return refuse(CheckVerdict::Unreadable, FileErrorMessage(openError.cause));
        // Refused before the repair reads a byte; walking gigabytes would tell the user nothing.
        if (file.Length() >= layout::kMaxRecordingSize) {
            CheckReport tooLarge = refuse(CheckVerdict::Refused, messages::RecordingTooLarge());
            tooLarge.size = file.Length();
            tooLarge.tooLarge = true;
            return tooLarge;
        }
        Analyse(file, report);
        report.read = true;

        Obstacles obstacles;
        obstacles.unwritable = WhyNotWritable(path, file.Status());
        obstacles.folderError = FolderError(names);
        obstacles.symbolicLink = IsSymbolicLink(path);
        report.newFile = PlanMode(report, OutputMode::NewFile, names, obstacles);
        report.replace = PlanMode(report, OutputMode::ReplaceOriginal, names, obstacles);
        report.verdict = VerdictOf(report);
        if (report.verdict == CheckVerdict::Refused)
            report.problem = report.newFile.reason;
        return report;
    } catch (const FileError& error) {
        const char* message = FileErrorMessage(error.cause);
        return refuse(CheckVerdict::Unreadable, message != nullptr ? message : FileErrorMessage(1));
    } catch (const std::bad_alloc&) {
        return refuse(CheckVerdict::Unreadable, "There was not enough memory to check this recording.");
    }
}

} // namespace clipwright
