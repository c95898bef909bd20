#include "repair/RecordingScan.h"

#include "avi/AviStructure.h"
#include "avi/ChunkReader.h"
#include "avi/ChunkWalk.h"
#include "avi/LittleEndian.h"
#include "platform/FileOperations.h"
#include "platform/Interruption.h"
#include "platform/RangeSource.h"
#include "platform/ReadOnlyFile.h"
#include "repair/LayoutProbe.h"
#include "repair/RecordingFacts.h"
#include "repair/RepairEngine.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

namespace clipwright {

namespace {

// The search reads this much at a time: memchr and memmem over a block, never a call per byte.
constexpr size_t kSearchBlockBytes = size_t{1} << 20;
// A chunk of a run larger than this is taken for chance bytes: the largest frames recorders write
// (raw or MJPEG pictures of a large size) stay below it.
constexpr uint32_t kLargestRunChunk = kLargeFrameCutOffAllowance;
constexpr int kMostNameSuffixes = 99;

bool IsDigit(uint8_t byte) {
    return byte >= '0' && byte <= '9';
}

// '##dc', '##db', '##wb', '##pc': the chunks a run of footage is made of.
bool IsRunMediaId(const uint8_t* bytes) {
    if (!IsDigit(bytes[0]) || !IsDigit(bytes[1]))
        return false;
    const uint8_t a = bytes[2];
    const uint8_t b = bytes[3];
    return (a == 'd' && (b == 'c' || b == 'b')) || (a == 'w' && b == 'b') || (a == 'p' && b == 'c');
}

bool IsFillerId(const FourCC& id) {
    const auto& bytes = id.Bytes();
    return id == fourcc::kIdx1 || id == fourcc::kJunk ||
           (bytes[0] == 'i' && bytes[1] == 'x' && IsDigit(bytes[2]) && IsDigit(bytes[3]));
}

// Tells the meter how far into the file each read went, offset by where the scan's phase stands.
class MeteredSource : public ByteSource {
public:
    MeteredSource(ByteSource& file, ProgressMeter* meter) : file_(file), meter_(meter) {}
    size_t ReadAt(uint64_t position, void* buffer, size_t count) override {
        const size_t got = file_.ReadAt(position, buffer, count);
        if (meter_ != nullptr)
            meter_->Reached(position + got);
        return got;
    }
    bool ReadsInBlocks() const override { return file_.ReadsInBlocks(); }

private:
    ByteSource& file_;
    ProgressMeter* meter_;
};

class Finder {
public:
    Finder(ByteSource& file, uint64_t size) : file_(file), size_(size) {}

    // In file order: the runs before each form are searched before the form is walked, up to the
    // next form, which is looked for first, so that reading moves through the file once ahead.
    std::vector<FoundRecording> Run() {
        uint64_t searchedTo = 0;
        std::optional<uint64_t> form = NextFormStart(0);
        while (form) {
            const std::optional<uint64_t> next = NextFormStart(*form + 1);
            FindRuns(searchedTo, *form);
            if (std::optional<FoundRecording> found = WalkForm(*form, next.value_or(size_))) {
                searchedTo = found->end;
                found_.push_back(std::move(*found));
                endsAtForeignBytes_.push_back(formEndsAtForeignBytes_);
            } else {
                searchedTo = std::max(searchedTo, *form);
            }
            form = next;
        }
        FindRuns(searchedTo, size_);
        NoteFragments();
        return std::move(found_);
    }

private:
    // Reads up to `count` bytes at `position` into `block`; returns how many.
    size_t Fill(std::vector<uint8_t>& block, uint64_t position, size_t count) {
        block.resize(count);
        const size_t got = file_.ReadAt(position, block.data(), count);
        block.resize(got);
        return got;
    }

    // The first 'RIFF' at or behind `from` with 'AVI ' 8 bytes behind it.
    std::optional<uint64_t> NextFormStart(uint64_t from) {
        static constexpr std::array<uint8_t, 4> kRiffWord = {'R', 'I', 'F', 'F'};
        constexpr size_t kOverlap = 11; // a form's first 12 bytes may straddle two blocks
        for (uint64_t position = from; position + 12 <= size_;) {
            const size_t got = Fill(searchBlock_, position, kSearchBlockBytes);
            if (got < 12)
                return std::nullopt;
            const uint8_t* begin = searchBlock_.data();
            const uint8_t* end = begin + got;
            for (const uint8_t* at = begin; at + 12 <= end;) {
                const auto* word = static_cast<const uint8_t*>(
                    ::memmem(at, static_cast<size_t>(end - at), kRiffWord.data(), kRiffWord.size()));
                if (word == nullptr || word + 12 > end)
                    break;
                if (FourCC::FromBytes(word + 8) == fourcc::kAvi)
                    return position + static_cast<uint64_t>(word - begin);
                at = word + 1;
            }
            position += got - kOverlap;
        }
        return std::nullopt;
    }

    // The form at `start`, walked no further than `limit`; nothing when it holds no media chunk.
    std::optional<FoundRecording> WalkForm(uint64_t start, uint64_t limit) {
        RangeSource view(file_, start, limit - start);
        const uint64_t length = view.Length();
        uint64_t walkStart = 12;
        MediaIds ids = MediaIds::ForStreams(kMostStreams);
        PadBytes pad = PadBytes::Expected;
        uint32_t allowance = kLargeFrameCutOffAllowance;
        if (std::optional<AviStructure> structure = ReadAviStructure(view, length)) {
            walkStart = structure->MoviBody();
            ids = MediaIds::ForStreams(static_cast<uint32_t>(structure->streams.size()));
        } else if (const LayoutCode layout = ProbeLayoutOf(view); layout != LayoutHeaderLost) {
            // The camera's own header block: its chunks stand where its layout puts them.
            walkStart = layout == LayoutStandard ? layout::kFirstChunk : layout::kMoviList;
            pad = PadBytes::Rare;
        }
        ChunkWalk walk(view, walkStart, length, ids, pad, allowance);
        FoundRecording form;
        form.kind = FoundKind::AviForm;
        form.start = start;
        std::set<FourCC, bool (*)(const FourCC&, const FourCC&)> met(
            [](const FourCC& a, const FourCC& b) { return a.SortKey() < b.SortKey(); });
        std::optional<uint64_t> firstChunk;
        std::optional<uint64_t> cutAt;
        while (std::optional<ChunkHeader> chunk = walk.Next()) {
            const WalkSummary& summary = walk.Summary();
            if (firstChunk && !summary.damaged.empty()) {
                const auto behind =
                    std::find_if(summary.damaged.begin(), summary.damaged.end(),
                                 [&](const DamagedStretch& s) { return s.offset > *firstChunk; });
                if (behind != summary.damaged.end()) {
                    cutAt = behind->offset;
                    break;
                }
            }
            if (!firstChunk)
                firstChunk = chunk->position;
            ++form.chunks;
            met.insert(chunk->id);
        }
        if (form.chunks == 0)
            return std::nullopt;
        form.ids.assign(met.begin(), met.end());
        const WalkSummary& summary = walk.Summary();
        const bool lastForm = limit == size_;
        uint64_t end = summary.endOffset;
        formEndsAtForeignBytes_ = false;
        if (cutAt) {
            end = *cutAt;
            formEndsAtForeignBytes_ = true;
        } else {
            switch (summary.end) {
            case WalkEnd::EndOfFile:
            case WalkEnd::CutChunk:
                // A chunk cut off by the end of the file keeps its bytes: its repair marks it. One
                // that runs into the next form is no chunk of this one.
                end = lastForm ? length : summary.endOffset;
                formEndsAtForeignBytes_ = !lastForm && summary.end == WalkEnd::CutChunk;
                break;
            case WalkEnd::Filler:
                end = AfterFiller(view, summary.endOffset, length);
                break;
            case WalkEnd::NoChunkBehind:
            case WalkEnd::GaveUp:
                formEndsAtForeignBytes_ = true;
                break;
            }
        }
        form.end = start + end;
        return form;
    }

    // Behind the index and padding chunks that stand at `position`, whole ones only.
    static uint64_t AfterFiller(ByteSource& view, uint64_t position, uint64_t length) {
        for (;;) {
            const ChunkHeader header = ReadChunkHeader(view, position, 0);
            if (!header.SizeWhole() || !IsFillerId(header.id) || header.End() > length)
                return position;
            position = header.End() + (header.size % 2);
            if (position > length)
                return length;
        }
    }

    // Whether a media chunk of a run stands at `position`, whole before `limit`, or cut off by the
    // end of the file.
    std::optional<ChunkHeader> RunChunkAt(uint64_t position, uint64_t limit) {
        if (position + 8 > limit)
            return std::nullopt;
        const ChunkHeader header = ReadChunkHeader(file_, position, 0);
        if (!header.SizeWhole() || !IsRunMediaId(header.id.Bytes().data()) || header.size > kLargestRunChunk)
            return std::nullopt;
        if (header.End() > limit && limit != size_)
            return std::nullopt;
        return header;
    }

    // Where the chunk behind one ending at `end` stands: behind its pad byte when a chunk stands
    // there, as RIFF asks, else right behind it, as the camera writes.
    uint64_t Successor(uint64_t end, uint32_t size, uint64_t limit) {
        if (size % 2 == 1 && RunChunkAt(end + 1, limit))
            return end + 1;
        return end;
    }

    // The run of media chunks from `position`, when at least kLeastChunksInARun stand in a row.
    std::optional<FoundRecording> RunAt(uint64_t position, uint64_t limit) {
        FoundRecording run;
        run.kind = FoundKind::Headerless;
        run.start = position;
        std::vector<FourCC> met;
        uint64_t at = position;
        uint64_t end = position;
        while (std::optional<ChunkHeader> chunk = RunChunkAt(at, limit)) {
            ++run.chunks;
            if (std::find(met.begin(), met.end(), chunk->id) == met.end())
                met.push_back(chunk->id);
            if (chunk->End() >= limit) {
                end = limit; // cut off by the end of the file
                break;
            }
            end = chunk->End();
            at = Successor(end, chunk->size, limit);
            // Padding between chunks belongs to the run when footage follows it.
            while (at + 8 <= limit) {
                const ChunkHeader filler = ReadChunkHeader(file_, at, 0);
                if (filler.id != fourcc::kJunk || filler.End() > limit)
                    break;
                const uint64_t behind = Successor(filler.End(), filler.size, limit);
                if (!RunChunkAt(behind, limit))
                    break;
                at = behind;
            }
            if (run.chunks < kLeastChunksInARun && !RunChunkAt(at, limit))
                return std::nullopt;
        }
        if (run.chunks < kLeastChunksInARun)
            return std::nullopt;
        std::sort(met.begin(), met.end(),
                  [](const FourCC& a, const FourCC& b) { return a.SortKey() < b.SortKey(); });
        run.ids = std::move(met);
        run.end = end;
        return run;
    }

    // Runs of media chunks in [from, to): every '0' that begins a media id with a size that fits
    // is followed as a run. Stream numbers from 00 to 09: recorders write a few streams only.
    void FindRuns(uint64_t from, uint64_t to) {
        std::vector<uint8_t> block;
        for (uint64_t position = from; position + 8 <= to;) {
            const size_t got = Fill(
                block, position, static_cast<size_t>(std::min<uint64_t>(kSearchBlockBytes, to - position)));
            if (got < 8)
                return;
            const uint8_t* begin = block.data();
            const uint8_t* end = begin + got;
            uint64_t resume = position + got - 7; // the next block starts where an id may still begin
            for (const uint8_t* at = begin; at + 8 <= end;) {
                const auto* hit =
                    static_cast<const uint8_t*>(std::memchr(at, '0', static_cast<size_t>(end - at)));
                if (hit == nullptr || hit + 8 > end)
                    break;
                at = hit + 1;
                if (!IsRunMediaId(hit) || le::ReadU32(hit + 4) > kLargestRunChunk)
                    continue;
                const uint64_t offset = position + static_cast<uint64_t>(hit - begin);
                if (std::optional<FoundRecording> run = RunAt(offset, to)) {
                    resume = run->end;
                    found_.push_back(std::move(*run));
                    endsAtForeignBytes_.push_back(resume < size_);
                    break;
                }
            }
            if (got < 8 || resume <= position)
                return;
            position = resume;
        }
    }

    // A recording whose chunks stopped at something else, followed by a run of the same streams'
    // chunks: the run may be the rest of it, where the file system put it elsewhere.
    void NoteFragments() {
        for (size_t i = 0; i + 1 < found_.size(); ++i) {
            const FoundRecording& next = found_[i + 1];
            const std::vector<FourCC>& ids = found_[i].ids;
            const bool sameStreams = std::all_of(next.ids.begin(), next.ids.end(), [&](const FourCC& id) {
                return std::find(ids.begin(), ids.end(), id) != ids.end();
            });
            if (endsAtForeignBytes_[i] && next.kind == FoundKind::Headerless && sameStreams)
                found_[i].continuesAt = next.start;
        }
    }

    ByteSource& file_;
    const uint64_t size_;
    std::vector<FoundRecording> found_; // in file order
    std::vector<bool> endsAtForeignBytes_;
    std::vector<uint8_t> searchBlock_;
    bool formEndsAtForeignBytes_ = false;
};

std::string BaseWithoutExtension(const std::string& path) {
    const size_t separator = path.rfind('/');
    std::string base = separator == std::string::npos ? path : path.substr(separator + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0)
        base.erase(dot);
    return base;
}

std::string FolderPrefix(const std::string& path, const std::string& folder) {
    if (!folder.empty())
        return folder.ends_with('/') ? folder : folder + "/";
    const size_t separator = path.rfind('/');
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string NameWithSuffix(const std::string& path, const std::string& folder, uint64_t start, int suffix) {
    char offset[32];
    std::snprintf(offset, sizeof offset, "%010llu", static_cast<unsigned long long>(start));
    std::string name = FolderPrefix(path, folder) + BaseWithoutExtension(path) + "-at-" + offset;
    if (suffix > 1)
        name += "-" + std::to_string(suffix);
    return name + ".avi";
}

// The host of the repair of one copy: everything goes on to the scan's host, with the copy's names
// and offsets turned into the file searched and the recording's final name.
class CopyHost : public FixerHost {
public:
    CopyHost(FixerHost* host, const std::string& searched, const std::string& copyPath,
             const std::string& repairedPath, const std::string& finalName, uint64_t start)
        : host_(host), searched_(searched), copyPath_(copyPath), repairedPath_(repairedPath),
          finalName_(finalName), start_(start) {}

    void Report(const EngineEvent& event) override {
        // The summary says that a form needed no repair; it was still written under its own name.
        if (host_ == nullptr || event.code == EventCode::NoRepairNeeded)
            return;
        EngineEvent told = event;
        if (told.path == copyPath_ || told.path.empty())
            told.path = searched_;
        if (told.outputPath == copyPath_ || told.outputPath == repairedPath_)
            told.outputPath = finalName_;
        told.temporaryName.clear(); // the copy's, removed with it
        if (told.code == EventCode::CopyStopped || told.code == EventCode::InPlaceStopped)
            told.offset += start_;
        if (told.code == EventCode::SkippedData)
            Shift(told.walk);
        host_->Report(told);
    }
    std::optional<ImageSettings>
    AskImageSettings(const std::optional<ImageSettings>& readFromVideo) override {
        return host_ != nullptr ? host_->AskImageSettings(readFromVideo) : std::nullopt;
    }
    void SettingsReadWhileCopying(const std::optional<ImageSettings>& readFromVideo,
                                  const ImageSettings& used) override {
        if (host_ != nullptr)
            host_->SettingsReadWhileCopying(readFromVideo, used);
    }
    void ShowProgress(bool visible) override {
        if (host_ != nullptr)
            host_->ShowProgress(visible);
    }
    void Progress(const ProgressReport& report) override {
        if (host_ != nullptr)
            host_->Progress(report);
    }
    bool StopRequested() override {
        stopAsked_ = stopAsked_ || (host_ != nullptr && host_->StopRequested());
        return stopAsked_;
    }
    bool StopAsked() const { return stopAsked_; }

    void Shift(WalkSummary& walk) const {
        walk.endOffset += start_;
        for (DamagedStretch& stretch : walk.damaged)
            stretch.offset += start_;
        for (uint64_t& part : walk.extraParts)
            part += start_;
        for (uint64_t& index : walk.indexes)
            index += start_;
    }

private:
    FixerHost* host_;
    std::string searched_, copyPath_, repairedPath_, finalName_;
    uint64_t start_;
    bool stopAsked_ = false;
};

// The names the repair of a copy may leave behind it, each removed unless it is the result.
void RemoveLeftovers(const std::string& copyPath, const std::string& keep) {
    const size_t separator = copyPath.rfind('/');
    const std::string copyName = separator == std::string::npos ? copyPath : copyPath.substr(separator + 1);
    const OutputNames names = MakeOutputNames(copyPath, copyName);
    for (const std::string& path : {copyPath, PartialName(copyPath), names.fixName,
                                    PartialName(names.fixName), names.temporaryName, names.companionCopy})
        if (path != keep && FileExists(path))
            DeleteFileQuietly(path);
}

bool FolderRefusal(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ENOSPC || error == EDQUOT ||
           error == ENOENT || error == ENOTDIR;
}

class ScanJob {
public:
    ScanJob(const ScanRequest& request, FixerHost* host) : request_(request), host_(host) {
        if (host_ != nullptr)
            meter_ = ProgressMeter([this](const ProgressReport& report) { host_->Progress(report); },
                                   [this] { return host_->StopRequested(); });
    }

    ScanOutcome Run() {
        try {
            Search();
            if (!outcome_.read)
                return outcome_;
            for (const FoundRecording& found : found_) {
                outcome_.items.push_back(Write(found));
                if (outcome_.items.back().status == ScanItemStatus::Stopped) {
                    outcome_.stopped = true;
                    break;
                }
            }
        } catch (const JobStopped&) {
            outcome_.stopped = true;
        }
        return outcome_;
    }

private:
    void Tell(const EngineEvent& event) {
        if (host_ != nullptr)
            host_->Report(event);
    }

    void Search() {
        ReadOnlyFile file;
        FileError error;
        if (!file.Open(request_.path, error, true)) {
            Tell({.code = EventCode::FileError, .path = request_.path, .fileCause = error.cause});
            return;
        }
        outcome_.size = file.Length();
        meter_.Begin(ProgressPhase::Reading, outcome_.size);
        MeteredSource metered(file, &meter_);
        try {
            found_ = FindRecordings(metered, outcome_.size);
        } catch (const FileError& failure) {
            Tell({.code = EventCode::FileError, .path = request_.path, .fileCause = failure.cause});
            return;
        }
        outcome_.read = true;
    }

    ScanItemOutcome Write(const FoundRecording& found) {
        ScanItemOutcome item;
        item.found = found;
        const std::string& folder = request_.outputFolder;
        item.outputPath = ScanOutputName(request_.path, folder, found.start);
        const std::string firstName = ScanFirstName(request_.path, folder, found.start);
        if (item.outputPath != firstName)
            item.takenName = firstName;
        if (item.outputPath.empty()) {
            item.outputPath = firstName;
            Tell({.code = EventCode::OutputNotCreated,
                  .path = request_.path,
                  .outputPath = item.outputPath,
                  .systemError = EEXIST,
                  .folderRefused = true});
            return item;
        }
        const std::string copyPath = PartialName(item.outputPath);
        // A copy left by a scan that was cut short is ours to remove.
        RemoveLeftovers(copyPath, {});
        meter_.Begin(ProgressPhase::Copying, found.Length());
        int error = 0;
        try {
            // Ctrl-C during the copy takes the copy with it.
            const interruption::UndoOnSignal undo(copyPath, {}, {});
            error = CopyRangeToNewFile(request_.path, found.start, found.Length(), copyPath, &meter_);
        } catch (const JobStopped&) {
            item.status = ScanItemStatus::Stopped;
            return item;
        }
        if (error != 0) {
            Tell({.code = EventCode::OutputNotCreated,
                  .path = request_.path,
                  .outputPath = item.outputPath,
                  .systemError = error,
                  .folderRefused = FolderRefusal(error)});
            return item;
        }
        return RepairCopy(found, copyPath, std::move(item));
    }

    ScanItemOutcome RepairCopy(const FoundRecording& found, const std::string& copyPath,
                               ScanItemOutcome item) {
        const size_t separator = copyPath.rfind('/');
        FixRequest repair;
        repair.path = copyPath;
        repair.fileName = separator == std::string::npos ? copyPath : copyPath.substr(separator + 1);
        // A form is repaired where it stands, in its copy; a run has no header to patch and is rebuilt.
        repair.mode = found.kind == FoundKind::AviForm ? OutputMode::ReplaceOriginal : OutputMode::NewFile;
        repair.settings = request_.settings;
        repair.outputFolder =
            separator == std::string::npos ? std::string() : copyPath.substr(0, separator + 1);
        const std::string rebuiltPath =
            MakeOutputNames(copyPath, repair.fileName, repair.outputFolder).fixName;
        CopyHost copyHost(host_, request_.path, copyPath, rebuiltPath, item.outputPath, found.start);
        RepairEngine engine;
        engine.SetHost(&copyHost);
        // Ctrl-C before the result has its final name takes the copy and a rebuilt file with it; a
        // rebuild undoes its own unfinished file first.
        interruption::UndoOnSignal undo(copyPath, {}, {});
        undo.AlsoRemove(rebuiltPath);
        engine.RunFixJob(repair);
        item.repair = engine.LastOutcome();
        copyHost.Shift(item.repair.walk);

        // A finalised form needs no repair: its copy is written as it stands.
        if (item.repair.status == FixStatus::Repaired && item.repair.otherRecorder &&
            item.repair.otherRecorder->neededNoRepair)
            item.repair.outputPath = copyPath;
        const FixStatus status = item.repair.status;
        const bool kept = status == FixStatus::Repaired || status == FixStatus::Partial;
        if (!kept || item.repair.outputPath.empty() || !FileExists(item.repair.outputPath)) {
            RemoveLeftovers(copyPath, {});
            if (status == FixStatus::Cancelled)
                item.status = copyHost.StopAsked() ? ScanItemStatus::Stopped : ScanItemStatus::NeedsSettings;
            item.repair.outputPath.clear();
            return item;
        }
        const std::string result = item.repair.outputPath;
        int error = MoveFileNoReplace(result, item.outputPath);
        if (error == EEXIST) {
            // Another program took the name meanwhile: the next free one, still never over a file.
            item.takenName = ScanFirstName(request_.path, request_.outputFolder, found.start);
            item.outputPath = ScanOutputName(request_.path, request_.outputFolder, found.start);
            if (item.outputPath.empty())
                item.outputPath = item.takenName;
            else
                error = MoveFileNoReplace(result, item.outputPath);
        }
        if (error == 0)
            error = SyncDirectoryOf(item.outputPath);
        if (error != 0) {
            if (FileExists(item.outputPath) && !FileExists(result))
                DeleteFileQuietly(item.outputPath);
            RemoveLeftovers(copyPath, {});
            Tell({.code = EventCode::OutputNotCreated,
                  .path = request_.path,
                  .outputPath = item.outputPath,
                  .systemError = error,
                  .folderRefused = true});
            item.repair.outputPath.clear();
            return item;
        }
        RemoveLeftovers(copyPath, item.outputPath);
        item.repair.outputPath = item.outputPath;
        if (item.repair.otherRecorder)
            item.repair.otherRecorder->replacedOriginal = false;
        item.status = status == FixStatus::Repaired ? ScanItemStatus::Written : ScanItemStatus::Partial;
        return item;
    }

    const ScanRequest& request_;
    FixerHost* host_;
    ProgressMeter meter_;
    std::vector<FoundRecording> found_;
    ScanOutcome outcome_;
};

} // namespace

std::vector<FoundRecording> FindRecordings(ByteSource& file, uint64_t size, ProgressMeter* progress) {
    if (progress == nullptr)
        return Finder(file, size).Run();
    progress->Begin(ProgressPhase::Reading, size);
    MeteredSource metered(file, progress);
    return Finder(metered, size).Run();
}

std::string ScanFirstName(const std::string& path, const std::string& folder, uint64_t start) {
    return NameWithSuffix(path, folder, start, 1);
}

std::string ScanOutputName(const std::string& path, const std::string& folder, uint64_t start) {
    for (int suffix = 1; suffix <= kMostNameSuffixes; ++suffix) {
        std::string name = NameWithSuffix(path, folder, start, suffix);
        if (!FileExists(name))
            return name;
    }
    return {};
}

ScanCheck CheckScan(const std::string& path, const std::string& outputFolder,
                    const std::optional<ImageSettings>& settings) {
    ScanCheck check;
    check.path = path;
    std::vector<FoundRecording> found;
    {
        ReadOnlyFile file;
        FileError error;
        if (!file.Open(path, error, true)) {
            check.problem = EngineEvent{.code = EventCode::FileError, .path = path, .fileCause = error.cause};
            return check;
        }
        check.size = file.Length();
        try {
            found = FindRecordings(file, check.size);
        } catch (const FileError& failure) {
            check.problem =
                EngineEvent{.code = EventCode::FileError, .path = path, .fileCause = failure.cause};
            return check;
        }
    }
    for (const FoundRecording& recording : found) {
        ScanCheckItem item;
        item.found = recording;
        item.outputPath = ScanOutputName(path, outputFolder, recording.start);
        const std::string copyPath = PartialName(
            item.outputPath.empty() ? ScanFirstName(path, outputFolder, recording.start) : item.outputPath);
        const Inspection inspection =
            InspectRange(path, recording.start, recording.Length(), copyPath, InspectionPurpose::Check);
        const OutputMode mode =
            recording.kind == FoundKind::AviForm ? OutputMode::ReplaceOriginal : OutputMode::NewFile;
        item.plan = MakePlan(inspection, mode);
        if (item.plan.result == PlannedResult::NeedsSettings) {
            // As the repair's host answers the prompt: the settings given, or what the video says.
            const std::optional<ImageSettings> answer =
                settings ? settings : SettingsReadFromVideo(inspection);
            if (answer) {
                const SettingsSource source = settings ? SettingsSource::User : SettingsSource::Video;
                item.plan = MakePlan(inspection, mode, answer);
                item.plan.settingsSource = source;
            }
        }
        item.end = PlanEnd(inspection, item.plan);
        if (item.end) {
            item.end->path = path;
            if (!item.end->outputPath.empty())
                item.end->outputPath = item.outputPath;
        }
        check.items.push_back(std::move(item));
    }
    return check;
}

bool ScanOutcome::AllWritten() const {
    return read && !stopped && !items.empty() &&
           std::all_of(items.begin(), items.end(),
                       [](const ScanItemOutcome& item) { return item.status == ScanItemStatus::Written; });
}

ScanOutcome RunScanJob(const ScanRequest& request, FixerHost* host) {
    return ScanJob(request, host).Run();
}

const char* FoundKindName(FoundKind kind) {
    return kind == FoundKind::AviForm ? "AVI form" : "chunks without a header";
}

} // namespace clipwright
