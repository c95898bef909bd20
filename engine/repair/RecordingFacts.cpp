// The inspection reads what every repair and the check read, at the same places and with the same
// walks, so that what the check says of a recording is what a repair then does with it.
#include "repair/RecordingFacts.h"

#include "repair/RebuildStreams.h"

#include "avi/LittleEndian.h"
#include "platform/FileOperations.h"
#include "platform/RangeSource.h"
#include "platform/ReadOnlyFile.h"
#include "repair/OpenDmlIndexing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <unistd.h>

namespace clipwright {

namespace {

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

bool IsCameraCodec(const std::optional<FourCC>& code) {
    static constexpr std::array<FourCC, 8> kMpeg4 = {"DIVX", "divx", "DX50", "dx50",
                                                     "XVID", "xvid", "FMP4", "MP4V"};
    return code && std::find(kMpeg4.begin(), kMpeg4.end(), *code) != kMpeg4.end();
}

HeaderSettings ReadHeaderSettings(ByteSource& file) {
    HeaderSettings header;
    header.videoHandler = WordAt(file, layout::kVideoHandler);
    header.videoCompression = WordAt(file, layout::kVideoCompression);
    header.width = U32At(file, layout::kMainWidth);
    header.height = U32At(file, layout::kMainHeight);
    header.scale = U32At(file, layout::kVideoScale);
    header.rate = U32At(file, layout::kVideoRate);
    header.framesPerSecond = WholeFramesPerSecond(header.rate, header.scale);
    header.resolution = ResolutionFromSize(header.width, header.height);
    header.usable = UsableSettings(header.resolution, header.framesPerSecond);

    for (uint32_t type : {layout::kSecondStreamType, layout::kSecondStreamType + layout::kAudioListShift}) {
        if (WordAt(file, type) != fourcc::kAuds)
            continue;
        header.audioStream = true;
        header.audioFormat = U16At(file, type + layout::kStrhTypeToFormatTag);
        header.audioSampleRate = U32At(file, type + layout::kStrhTypeToSampleRate);
        break;
    }
    header.camerasOwn = WordAt(file, layout::kVideoStreamType) == fourcc::kVids &&
                        (IsCameraCodec(header.videoHandler) || IsCameraCodec(header.videoCompression)) &&
                        header.audioStream && header.audioFormat == layout::kAudioFormatMsAdpcm;
    return header;
}

bool IsRiffAvi(ByteSource& file) {
    return WordAt(file, 0) == fourcc::kRiff && WordAt(file, 8) == fourcc::kAvi;
}

ForeignKind ForeignKindOf(ByteSource& file) {
    std::array<uint8_t, 512> head{};
    const size_t got = file.ReadAt(0, head.data(), head.size());
    auto starts = [&](std::initializer_list<uint8_t> magic, size_t at = 0) {
        return got >= at + magic.size() && std::equal(magic.begin(), magic.end(), head.begin() + at);
    };
    if (starts({0xFF, 0xD8, 0xFF}))
        return ForeignKind::Jpeg;
    if (starts({0x89, 'P', 'N', 'G'}))
        return ForeignKind::Png;
    if (starts({'G', 'I', 'F', '8'}))
        return ForeignKind::Gif;
    if (starts({'f', 't', 'y', 'p'}, 4))
        return ForeignKind::Mp4;
    if (starts({0x1A, 0x45, 0xDF, 0xA3}))
        return ForeignKind::Matroska;
    if (starts({'R', 'I', 'F', 'F'}) && starts({'W', 'A', 'V', 'E'}, 8))
        return ForeignKind::Wave;
    if (starts({'%', 'P', 'D', 'F'}))
        return ForeignKind::Pdf;
    if (starts({'P', 'K', 3, 4}))
        return ForeignKind::Zip;
    const bool text =
        got > 0 && std::all_of(head.begin(), head.begin() + static_cast<ptrdiff_t>(got), [](uint8_t byte) {
            return byte == '\n' || byte == '\r' || byte == '\t' || (byte >= 0x20 && byte != 0x7F);
        });
    return text ? ForeignKind::Text : ForeignKind::Unknown;
}

bool StartsWithZeros(ByteSource& file) {
    std::array<uint8_t, 4096> head{};
    const size_t got = file.ReadAt(0, head.data(), head.size());
    return std::all_of(head.begin(), head.begin() + static_cast<ptrdiff_t>(got),
                       [](uint8_t byte) { return byte == 0; });
}

bool HasCameraChunk(ByteSource& file, uint64_t start, uint64_t size) {
    ChunkWalk walk(file, start, size, CameraCopiedIds());
    return walk.Next().has_value();
}

// True when the idx1 at `position` lists exactly the chunks walked, offsets counted from the movi
// list or from the start of the file.
bool IndexListsEntries(ByteSource& file, uint64_t position, uint64_t moviType,
                       const IndexEntryList& entries) {
    return IndexMatches(file, position, moviType, entries);
}

// Where the new index goes: behind the last footage, and behind every byte the walk could not
// read either, so that nothing that may hold footage is written over. Only an old index or filler
// at the end is replaced, which makes a second repair give the same file.
uint64_t CameraDataEnd(const WalkSummary& walk, uint64_t lastChunkEnd, uint64_t fileSize) {
    switch (walk.end) {
    case WalkEnd::Filler:
        return walk.endOffset;
    case WalkEnd::CutChunk:
        return lastChunkEnd; // behind the end of the file: the missing bytes read as zeros
    case WalkEnd::EndOfFile:
    case WalkEnd::NoChunkBehind:
    case WalkEnd::GaveUp:
        break;
    }
    return std::max({fileSize, walk.endOffset, uint64_t{layout::kFirstChunk}});
}

CameraIndexScan ScanCameraChunks(ByteSource& file, uint64_t fileSize, WalkSummary& summary) {
    CameraIndexScan scan;
    ChunkWalk walk(file, layout::kFirstChunk, fileSize, CameraIndexedIds());
    uint64_t lastChunkEnd = layout::kFirstChunk;
    while (auto header = walk.Next()) {
        IndexEntry entry;
        entry.chunkId = header->id;
        entry.offset = static_cast<uint32_t>(header->position - layout::kMoviBase);
        entry.size = header->size;
        if (IsCameraVideo(header->id)) {
            ++scan.videoChunks;
            entry.flags = StartsCameraKeyFrame(std::span(header->prefix.data(), header->prefixBytes))
                              ? layout::kIndexKeyFrame
                              : 0;
        } else {
            ++scan.audioChunks;
            entry.flags = layout::kIndexKeyFrame;
        }
        scan.entries.push_back(entry);
        lastChunkEnd = header->End();
    }
    summary = walk.Summary();
    scan.dataEnd = CameraDataEnd(summary, lastChunkEnd, fileSize);
    if (summary.end == WalkEnd::Filler && WordAt(file, summary.endOffset) == fourcc::kIdx1)
        scan.indexOffset = summary.endOffset;
    return scan;
}

// Finalised: the index where the data ends lists every chunk, and the header's sizes and flags
// were written after it, as the repair writes them last.
bool CameraIndexWhole(ByteSource& file, uint64_t fileSize, const CameraIndexScan& scan,
                      const WalkSummary& walk) {
    if (!scan.indexOffset || !walk.damaged.empty() || scan.entries.empty())
        return false;
    const uint64_t indexEnd = *scan.indexOffset + 8 + scan.entries.size() * 16;
    const std::optional<uint32_t> moviSize = U32At(file, layout::kMoviSize);
    const std::optional<uint32_t> riffSize = U32At(file, layout::kRiffSize);
    const std::optional<uint32_t> flags = U32At(file, layout::kMainFlags);
    return moviSize == *scan.indexOffset - layout::kMoviBase && riffSize &&
           uint64_t{*riffSize} + 8 >= indexEnd && uint64_t{*riffSize} + 8 <= fileSize && flags &&
           (*flags & avi::kMainFlagHasIndex) != 0 &&
           IndexListsEntries(file, *scan.indexOffset, layout::kMoviBase, scan.entries);
}

// The rebuild's chunks as its walk counts them: it passes over empty chunks.
void CountRebuildChunks(ByteSource& file, Inspection& inspection) {
    ChunkWalk walk(file, inspection.chunkStart, inspection.size, CameraCopiedIds());
    uint32_t video = 0;
    uint32_t audio = 0;
    while (std::optional<ChunkHeader> chunk = walk.Next()) {
        if (chunk->size == 0)
            continue;
        ++(chunk->id == fourcc::kAudio01wb ? audio : video);
    }
    inspection.walk = walk.Summary();
    inspection.indexAtWalkEnd =
        inspection.walk.end == WalkEnd::Filler && WordAt(file, inspection.walk.endOffset) == fourcc::kIdx1;
    inspection.rebuildVideoChunks = video;
    inspection.rebuildAudioChunks = audio;
}

void InspectOtherRecorder(ByteSource& file, AviStructure structure, Inspection& inspection,
                          const WalkStarting& walkStarting) {
    if (walkStarting)
        walkStarting(inspection);
    OtherRecorderInspection other;
    other.structure = std::move(structure);
    other.scan = ScanOtherRecorder(file, inspection.size, other.structure, other.entries);
    other.furtherParts = FurtherParts(other.structure, other.scan.walk);
    other.partsRepairable = PartsRepairable(other.structure, other.furtherParts, other.scan.dataEnd);
    if (other.scan.walk.end == WalkEnd::Filler && WordAt(file, other.scan.dataEnd) == fourcc::kIdx1)
        other.indexOffset = other.scan.dataEnd;
    other.finalised =
        IsFinalised(file, inspection.size, other.structure, other.scan, other.entries, other.furtherParts);
    inspection.walk = other.scan.walk;
    inspection.chunkStart = other.structure.MoviBody();
    inspection.other = std::move(other);
}

void InspectCamera(ByteSource& file, InspectionPurpose purpose, Inspection& inspection,
                   const WalkStarting& walkStarting) {
    if (inspection.layout == LayoutStandard) {
        if (walkStarting)
            walkStarting(inspection);
        inspection.chunkStart = layout::kFirstChunk;
        inspection.inPlace = ScanCameraChunks(file, inspection.size, inspection.walk);
        inspection.inPlace->indexWhole =
            CameraIndexWhole(file, inspection.size, *inspection.inPlace, inspection.walk);
        const uint64_t indexedEnd =
            inspection.inPlace->dataEnd + 8 + 16 * uint64_t{inspection.inPlace->entries.size()};
        inspection.inPlacePastLimit =
            !inspection.inPlace->indexWhole && indexedEnd >= layout::kMaxRecordingSize;
        if (!inspection.inPlacePastLimit) {
            if (purpose == InspectionPurpose::Check)
                inspection.video = DetectCameraSettings(file, inspection.chunkStart, inspection.size);
            return;
        }
    }
    inspection.chunkStart = RebuildDataStart(file, inspection.layout);
    // The recording's own video and sound usually still say what its header lost.
    if (purpose == InspectionPurpose::Check ||
        (purpose == InspectionPurpose::Repair && !inspection.header.usable))
        inspection.video = DetectCameraSettings(file, inspection.chunkStart, inspection.size);
    // With the user's settings the camera's copy reads the video as it goes; whether the streams
    // are the camera's is known from the first chunks. Another recorder's need the whole walk.
    if (purpose == InspectionPurpose::RepairWithSettings && !inspection.header.usable) {
        inspection.video = DetectCameraSettings(file, inspection.chunkStart, inspection.size,
                                                DetectionExtent::UntilKindsKnown);
        if (!FitsCameraStreams(*inspection.video))
            inspection.video = DetectCameraSettings(file, inspection.chunkStart, inspection.size);
        else // the copy reads the settings, to compare them with the user's
            inspection.video->streamsLookedAtOnly = true;
    }
    // Another recorder's sound before its first frame is footage too; the camera's rebuild starts
    // at its first frame, as it always has.
    if (inspection.layout == LayoutHeaderLost && inspection.video && !FitsCameraStreams(*inspection.video))
        inspection.chunkStart = FirstChunkLeadingTo(file, inspection.chunkStart);
    if (purpose == InspectionPurpose::Check)
        CountRebuildChunks(file, inspection);
}

// What stops the repair opening the recording for writing, as its own open would: a file with no
// write permission at all is read-only even to an administrator.
int UnwritableCause(const std::string& path, const struct stat& status) {
    if ((status.st_mode & 0222) == 0)
        return filecause::kAccessDenied;
    if (::access(path.c_str(), W_OK) != 0) {
        const int32_t cause = CauseFromErrno(errno);
        return FileErrorMessage(cause) != nullptr ? cause : filecause::kGeneric;
    }
    return 0;
}

// 0 when new names can be made in the folder, otherwise the errno that says why not.
int FolderError(const std::string& prefix) {
    const std::string folder = prefix.empty() ? "." : prefix;
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0)
        return errno;
    if (!S_ISDIR(status.st_mode))
        return ENOTDIR;
    return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

// `file` holds `size` bytes; the caller has set what only a whole file has (its status, whether
// another program writes it).
void ReadFile(ByteSource& file, uint64_t size, InspectionPurpose purpose, Inspection& inspection,
              const WalkStarting& walkStarting = {}) {
    inspection.size = size;
    if (inspection.size == 0) {
        inspection.access = Access::Empty;
        return;
    }
    inspection.layout = ProbeLayoutOf(file);
    inspection.header = ReadHeaderSettings(file);
    const bool cameraLayout = inspection.layout == LayoutStandard || inspection.layout == LayoutShifted;
    // A camera layout is taken only where the camera's own header stands; any other AVI whose
    // header a reader can follow is repaired by what its header says.
    if (!cameraLayout || !inspection.header.camerasOwn) {
        if (std::optional<AviStructure> structure = ReadAviStructure(file, inspection.size)) {
            InspectOtherRecorder(file, std::move(*structure), inspection, walkStarting);
            return;
        }
    }
    if (inspection.layout != LayoutStandard) {
        inspection.anyCameraChunk =
            HasCameraChunk(file, RebuildDataStart(file, inspection.layout), inspection.size);
        // No form a recorder writes and no chunk of the camera's: whatever this is, it is no
        // recording. Zeros are what a lost recording's clusters read as, and say nothing.
        if (!inspection.anyCameraChunk && inspection.layout == LayoutHeaderLost && !IsRiffAvi(file)) {
            inspection.foreign = ForeignKindOf(file);
            if (inspection.foreign != ForeignKind::Unknown || !StartsWithZeros(file)) {
                inspection.access = Access::NotAvi;
                return;
            }
        }
    }
    InspectCamera(file, purpose, inspection, walkStarting);
}

} // namespace

Inspection Inspect(const std::string& path, const std::string& fileName, InspectionPurpose purpose,
                   const std::string& outputFolder, ProgressMeter* progress,
                   const WalkStarting& walkStarting) {
    Inspection inspection;
    inspection.path = path;
    inspection.fileName = fileName;
    inspection.names = MakeOutputNames(path, fileName, outputFolder);
    inspection.symbolicLink = IsSymbolicLink(path);
    if (!FileExists(path) && FileExists(inspection.names.temporaryName)) {
        inspection.access = Access::UnderTemporaryName;
        return inspection;
    }
    ReadOnlyFile file;
    FileError openError;
    if (!file.Open(path, openError)) {
        inspection.access =
            openError.cause == filecause::kFileNotFound ? Access::Missing : Access::OpenFailed;
        inspection.openCause = openError.cause;
        return inspection;
    }
    inspection.access = Access::Read;
    if (progress != nullptr) {
        progress->Begin(ProgressPhase::Reading, file.Length());
        file.ReportProgressTo(progress);
    }
    try {
        inspection.status = file.Status();
        if (file.Length() > 0)
            inspection.openForWriting = HeldOpenForWriting(file.Descriptor());
        ReadFile(file, file.Length(), purpose, inspection, walkStarting);
    } catch (const FileError& error) {
        inspection.access = Access::OpenFailed;
        inspection.openCause = error.cause;
        return inspection;
    }
    struct stat now {};
    inspection.changedWhileRead = ::stat(path.c_str(), &now) != 0 || !SameFile(inspection.status, now);
    inspection.unwritableCause = UnwritableCause(path, inspection.status);
    inspection.folderError = FolderError(inspection.names.directoryPrefix);
    inspection.outputFolderError = FolderError(inspection.names.outputPrefix);
    return inspection;
}

Inspection InspectRange(const std::string& path, uint64_t start, uint64_t length, const std::string& copyPath,
                        InspectionPurpose purpose) {
    Inspection inspection;
    const size_t separator = copyPath.rfind('/');
    inspection.path = copyPath;
    inspection.fileName = separator == std::string::npos ? copyPath : copyPath.substr(separator + 1);
    inspection.names = MakeOutputNames(copyPath, inspection.fileName);
    ReadOnlyFile file;
    FileError openError;
    if (!file.Open(path, openError, true)) {
        inspection.access =
            openError.cause == filecause::kFileNotFound ? Access::Missing : Access::OpenFailed;
        inspection.openCause = openError.cause;
        return inspection;
    }
    inspection.access = Access::Read;
    inspection.status = file.Status();
    inspection.status.st_size = static_cast<off_t>(length);
    RangeSource range(file, start, std::min(length, file.Length() - std::min(start, file.Length())));
    try {
        ReadFile(range, range.Length(), purpose, inspection);
    } catch (const FileError& error) {
        inspection.access = Access::OpenFailed;
        inspection.openCause = error.cause;
        return inspection;
    }
    // The copy is made by whoever repairs it, in a folder of their choosing: only that folder may
    // stand in the way.
    inspection.folderError = FolderError(inspection.names.directoryPrefix);
    inspection.outputFolderError = inspection.folderError;
    return inspection;
}

ForeignKind ForeignKindAtStart(const std::string& path) {
    ReadOnlyFile file;
    FileError openError;
    if (!file.Open(path, openError))
        return ForeignKind::Unknown;
    try {
        if (IsRiffAvi(file))
            return ForeignKind::Unknown;
        const ForeignKind kind = ForeignKindOf(file);
        return kind == ForeignKind::Text ? ForeignKind::Unknown : kind;
    } catch (const FileError&) {
        return ForeignKind::Unknown; // the repair's own look will say what is wrong
    }
}

bool SameFile(const struct stat& before, const struct stat& now) {
    return before.st_dev == now.st_dev && before.st_ino == now.st_ino && before.st_size == now.st_size &&
           before.st_mtim.tv_sec == now.st_mtim.tv_sec && before.st_mtim.tv_nsec == now.st_mtim.tv_nsec;
}

bool StillAsInspected(const Inspection& inspection) {
    struct stat now {};
    return ::stat(inspection.path.c_str(), &now) == 0 && SameFile(inspection.status, now);
}

RecordingClaim::~RecordingClaim() {
    Release();
}

bool RecordingClaim::Take(const std::string& path) {
    Release();
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor_ < 0)
        return true; // nothing to hold: the inspection says why
    if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        return true;
    Release();
    return false;
}

void RecordingClaim::Release() {
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
}

} // namespace clipwright
