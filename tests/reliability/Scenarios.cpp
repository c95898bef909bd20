#include "Scenarios.h"

#include "OpenDmlRepack.h"
#include "ReaderOracles.h"
#include "avi/AviMuxer.h"
#include "avi/FourCC.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <set>
#include <unistd.h>

namespace clipwright::test {

namespace fs = std::filesystem;

const std::vector<Scenario>& AllScenarios() {
    static const std::vector<Scenario> scenarios = {
        {"StandardNewFile", recgen::HeaderLayout::Standard, false},
        {"StandardReplace", recgen::HeaderLayout::Standard, true},
        {"ShiftedNewFile", recgen::HeaderLayout::Shifted, false},
        {"ShiftedReplace", recgen::HeaderLayout::Shifted, true},
        {"HeaderLostReplace", recgen::HeaderLayout::HeaderLost, true},
        {"HeaderLostGivenSettings", recgen::HeaderLayout::HeaderLost, true, Source::Camera, true},
        {"OtherCutNewFile", recgen::HeaderLayout::Standard, false, Source::OtherRecorderCut},
        {"OtherCutReplace", recgen::HeaderLayout::Standard, true, Source::OtherRecorderCut},
        {"OtherFinalisedNewFile", recgen::HeaderLayout::Standard, false, Source::OtherRecorderFinalised},
        {"OtherFinalisedReplace", recgen::HeaderLayout::Standard, true, Source::OtherRecorderFinalised},
        {"OtherPartsNewFile", recgen::HeaderLayout::Standard, false, Source::OtherRecorderParts},
        {"OtherPartsReplace", recgen::HeaderLayout::Standard, true, Source::OtherRecorderParts},
        {"OtherUnlistedNewFile", recgen::HeaderLayout::Standard, false, Source::OtherRecorderUnlisted},
        {"OtherUnlistedReplace", recgen::HeaderLayout::Standard, true, Source::OtherRecorderUnlisted},
    };
    return scenarios;
}

std::vector<Scenario> CameraScenarios() {
    std::vector<Scenario> camera;
    for (const Scenario& scenario : AllScenarios())
        if (scenario.source == Source::Camera)
            camera.push_back(scenario);
    return camera;
}

std::vector<uint64_t> FootageSpan::Settable() const {
    std::vector<uint64_t> fields;
    if (cutChunk)
        fields.push_back(*cutChunk);
    if (lastPart) {
        fields.push_back(*lastPart + 4);  // RIFF size
        fields.push_back(*lastPart + 16); // movi size
    }
    return fields;
}

bool FootageSpan::Spares(uint64_t offset, uint64_t length) const {
    const std::vector<uint64_t> fields = Settable();
    const bool settable = length == 4 && std::find(fields.begin(), fields.end(), offset) != fields.end();
    return settable || offset + length <= begin || offset >= end;
}

namespace {

// The truth about another recorder's file, from a walk of our own: where the footage is, which
// chunk the end of the file cuts off, where further parts begin, and how many complete chunks each
// kind of stream has.
struct MoviWalk {
    FootageSpan footage;
    std::vector<uint64_t> videoChunks; // positions
    std::vector<uint64_t> parts;       // of each further part's 'RIFF'
    std::map<std::string, uint64_t> packets;
    std::vector<std::vector<uint64_t>> chunks; // complete ones' positions, by stream
};

bool IsMedia(const FourCC& id) {
    const auto& bytes = id.Bytes();
    const bool digits = std::isdigit(bytes[0]) != 0 && std::isdigit(bytes[1]) != 0;
    return digits && ((bytes[2] == 'd' && (bytes[3] == 'c' || bytes[3] == 'b')) ||
                      (bytes[2] == 'w' && bytes[3] == 'b'));
}

MoviWalk WalkMovi(const Bytes& file) {
    MoviWalk walk;
    uint64_t position = 12;
    while (FourCCAt(file, position) != fourcc::kList || FourCCAt(file, position + 8) != fourcc::kMovi) {
        const uint32_t size = U32At(file, position + 4);
        position += 8 + uint64_t{size} + (size & 1);
        if (position + 12 > file.size())
            throw std::runtime_error("no movi list in the file ffmpeg wrote");
    }
    walk.footage.begin = position + 12;
    walk.footage.end = walk.footage.begin;
    // Lists and parts are entered whatever their sizes say: written to a pipe or cut off, they are
    // placeholders. Indexes between the parts are stepped over.
    for (uint64_t at = walk.footage.begin; at + 8 <= file.size();) {
        const FourCC id = FourCCAt(file, at);
        const uint32_t size = U32At(file, at + 4);
        if (id == fourcc::kRiff || id == fourcc::kList) {
            if (id == fourcc::kRiff)
                walk.parts.push_back(at);
            at += 12;
            continue;
        }
        if (at + 8 + size > file.size()) {
            if (IsMedia(id))
                walk.footage.cutChunk = at;
            break;
        }
        if (IsMedia(id)) {
            const bool audio = id.Bytes()[2] == 'w';
            if (!audio)
                walk.videoChunks.push_back(at);
            ++walk.packets[audio ? "audio" : "video"];
            const size_t stream = static_cast<size_t>((id.Bytes()[0] - '0') * 10 + (id.Bytes()[1] - '0'));
            walk.chunks.resize(std::max(walk.chunks.size(), stream + 1));
            walk.chunks[stream].push_back(at);
            walk.footage.end = at + 8 + size;
        }
        at += 8 + uint64_t{size} + (size & 1);
    }
    if (!walk.parts.empty())
        walk.footage.lastPart = walk.parts.back();
    return walk;
}

// Runs ffmpeg once for all tests, keeping its file in the scratch folder; the name follows the
// command, so a changed command writes a new file.
fs::path WrittenByFfmpeg(bool finalised) {
    const std::string command =
        "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=160x120:rate=15 -f lavfi "
        "-i sine=sample_rate=8000 -t 4 -c:v mpeg4 -g 12 -bf 0 -c:a adpcm_ms -f avi ";
    const std::string output = finalised ? "" : "pipe:1 > ";
    const fs::path cached = fs::path(CLIPWRIGHT_TEST_SCRATCH) /
                            ("ffmpeg-" + std::to_string(std::hash<std::string>{}(command + output)) + ".avi");
    if (fs::exists(cached))
        return cached;
    // Test processes run side by side: each writes its own file and renames it into place whole.
    const fs::path partial = cached.string() + "." + std::to_string(::getpid());
    const CommandResult result = RunCommand("{ " + command + output + ShellQuote(partial.string()) + "; }");
    if (result.exitStatus != 0 || !fs::exists(partial) || fs::file_size(partial) == 0)
        throw std::runtime_error("ffmpeg failed: " + result.err);
    fs::rename(partial, cached);
    return cached;
}

const Bytes& OtherRecorderBytes(Source source) {
    if (source == Source::OtherRecorderFinalised) {
        static const Bytes finalised = ReadBytes(WrittenByFfmpeg(true));
        return finalised;
    }
    if (source == Source::OtherRecorderUnlisted) {
        static const Bytes unlisted = [] {
            Bytes bytes = OtherRecorderBytes(Source::OtherRecorderParts);
            const MoviWalk walk = WalkMovi(bytes);
            for (uint64_t at = 12; at + 4 <= walk.footage.begin; ++at)
                if (FourCCAt(bytes, at) == fourcc::kIndx)
                    std::copy_n(fourcc::kJunk.Bytes().begin(), 4, bytes.begin() + static_cast<ptrdiff_t>(at));
            return bytes;
        }();
        return unlisted;
    }
    if (source == Source::OtherRecorderParts) {
        static const Bytes parts = [] {
            const Bytes oneForm = ReadBytes(WrittenByFfmpeg(false));
            // Two parts of two fifths each, and a last one.
            Bytes bytes = RepackAsOpenDml(oneForm, oneForm.size() * 2 / 5);
            const MoviWalk walk = WalkMovi(bytes);
            std::vector<uint64_t> lastPartFrames;
            for (uint64_t frame : walk.videoChunks)
                if (walk.parts.size() == 2 && frame > walk.parts.back())
                    lastPartFrames.push_back(frame);
            if (lastPartFrames.empty())
                throw std::runtime_error("the repacked file is not of three parts");
            // Inside a video frame halfway through the last part.
            const uint64_t frame = lastPartFrames[lastPartFrames.size() / 2];
            bytes.resize(frame + 8 + U32At(bytes, frame + 4) / 2);
            return bytes;
        }();
        return parts;
    }
    static const Bytes cut = [] {
        Bytes bytes = ReadBytes(WrittenByFfmpeg(false));
        // Inside a video frame three fifths of the way through.
        const MoviWalk walk = WalkMovi(bytes);
        const uint64_t frame = walk.videoChunks.at(walk.videoChunks.size() * 3 / 5);
        bytes.resize(frame + 8 + U32At(bytes, frame + 4) / 2);
        return bytes;
    }();
    return cut;
}

} // namespace

ScenarioFolder::ScenarioFolder(const Scenario& scenario, uint64_t frames, const fs::path& root)
    : scenario_(scenario), dir_(root) {
    companion_ = Bytes{'s', 'u', 'b'};
    if (scenario.source != Source::Camera) {
        original_ = OtherRecorderBytes(scenario.source);
        const MoviWalk walk = WalkMovi(original_);
        footage_ = walk.footage;
        // A cut chunk keeps its bytes too.
        if (footage_.cutChunk)
            footage_.end = original_.size();
        packets_ = walk.packets;
        if (!walk.parts.empty()) {
            parts_ = static_cast<uint32_t>(walk.parts.size() + 1);
            partChunks_ = walk.chunks;
        }
        if (scenario.source == Source::OtherRecorderUnlisted)
            copyPartSize_ = original_.size() * 2 / 5;
        Reset();
        return;
    }
    CameraRecordingPlan plan;
    plan.header.layout = scenario.layout;
    plan.header.width = 160;
    plan.header.height = 112;
    plan.sequence.videoFrameCount = frames;
    plan.sequence.repeatEvery = 4;
    WriteCameraRecording(Recording(), plan);
    original_ = ReadBytes(Recording());
    footage_ = {2060, original_.size(), std::nullopt, std::nullopt};
    Reset();
}

void ScenarioFolder::Reset() const {
    for (const auto& entry : fs::directory_iterator(dir_.Path()))
        fs::remove_all(entry.path());
    WriteBytes(Recording(), original_);
    WriteBytes(dir_ / "clip.sub", companion_);
}

namespace {

class AnsweringHost : public RecordingHost {
public:
    AnsweringHost() { answer = {{kResolutionQqvga, 15}}; }
    void Progress(const ProgressReport& /*report*/) override { ++reports; }
    bool StopRequested() override { return stopAt && reports >= *stopAt; }

    uint64_t reports = 0;
    std::optional<uint64_t> stopAt;
};

} // namespace

FixOutcome ScenarioFolder::Run(std::vector<std::string>* messages, std::optional<uint64_t> cancelAt,
                               uint64_t* reports) const {
    AnsweringHost host;
    host.stopAt = cancelAt;
    RepairEngine fixer;
    fixer.SetHost(&host);
    const std::optional<ImageSettings> given =
        scenario_.settingsGiven ? std::optional(ImageSettings{kResolutionQqvga, 15}) : std::nullopt;
    AviMuxer::SetPartSizeForTests(copyPartSize_);
    FixRequest request{Recording().string(), "clip.avi",
                       scenario_.replace ? OutputMode::ReplaceOriginal : OutputMode::NewFile, given};
    request.copyAheadFrom = copyAheadFrom_;
    fixer.RunFixJob(request);
    AviMuxer::SetPartSizeForTests(0);
    if (messages != nullptr)
        for (const auto& message : host.messages)
            messages->push_back(message.text);
    if (reports != nullptr)
        *reports = host.reports;
    return fixer.LastOutcome();
}

::testing::AssertionResult ScenarioFolder::FootageSurvives() const {
    const auto spanKept = [this](Bytes bytes) {
        if (bytes.size() < footage_.end)
            return false;
        for (uint64_t field : footage_.Settable())
            std::copy_n(original_.begin() + static_cast<ptrdiff_t>(field), 4,
                        bytes.begin() + static_cast<ptrdiff_t>(field));
        const auto begin = static_cast<ptrdiff_t>(footage_.begin);
        const auto end = static_cast<ptrdiff_t>(footage_.end);
        return std::equal(original_.begin() + begin, original_.begin() + end, bytes.begin() + begin);
    };
    for (const char* name : {"clip.avi", "tmp_clip.avi"}) {
        const fs::path candidate = dir_ / name;
        if (!fs::is_regular_file(candidate))
            continue;
        const Bytes bytes = ReadBytes(candidate);
        if (scenario_.InPlace() && spanKept(bytes))
            return ::testing::AssertionSuccess();
        if (!scenario_.InPlace() && bytes == original_)
            return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the footage is in neither clip.avi nor tmp_clip.avi";
}

::testing::AssertionResult ScenarioFolder::ReadsInFull(const fs::path& file) const {
    std::map<std::string, uint64_t> read;
    for (const auto& [type, stream] : Probe(file))
        read[type] = stream.packets;
    if (read != packets_)
        return ::testing::AssertionFailure() << "ffprobe reads " << ::testing::PrintToString(read) << " of "
                                             << ::testing::PrintToString(packets_) << " packets";
    if (partChunks_.empty())
        return ::testing::AssertionSuccess();
    // ffprobe reads the parts one after another whatever their indexes say; players that seek go by
    // the indexes, which must lead to every chunk of every part. A copy's chunks stand where it put
    // them, in as many parts as it made.
    std::vector<std::vector<uint64_t>> partChunks = partChunks_;
    uint32_t parts = parts_;
    if (copyPartSize_ != 0) {
        const MoviWalk copy = WalkMovi(ReadBytes(file));
        partChunks = copy.chunks;
        parts = static_cast<uint32_t>(copy.parts.size() + 1);
        if (parts < 3)
            return ::testing::AssertionFailure() << "the copy has " << parts << " parts, not 3 or more";
    }
    const OpenDmlIndex index = ReadOpenDmlIndex(file);
    const std::vector<uint32_t> everyPart(partChunks.size(), parts);
    if (index.faults.empty() && index.superIndexEntries == everyPart && index.chunks == partChunks)
        return ::testing::AssertionSuccess();
    std::vector<size_t> listed;
    for (const auto& chunks : index.chunks)
        listed.push_back(chunks.size());
    return ::testing::AssertionFailure()
           << "the super indexes list " << ::testing::PrintToString(index.superIndexEntries) << " of "
           << parts << " parts, their standard indexes " << ::testing::PrintToString(listed)
           << " chunks by stream" << (index.chunks == partChunks ? "" : ", not every one") << "; "
           << ::testing::PrintToString(index.faults);
}

::testing::AssertionResult ScenarioFolder::OnlyDocumentedFiles() const {
    static const std::set<std::string> documented = {"clip.avi",
                                                     "clip.sub",
                                                     "fix_clip.avi",
                                                     "fix_clip.sub",
                                                     "tmp_clip.avi",
                                                     ".fix_clip.avi.partial",
                                                     ".fix_clip.sub.partial",
                                                     ".clip.avi.partial"};
    for (const std::string& name : dir_.Names())
        if (documented.count(name) == 0)
            return ::testing::AssertionFailure() << "unexpected file " << name;
    return ::testing::AssertionSuccess();
}

} // namespace clipwright::test
