// Recordings found inside a larger file: camera recordings from the generator laid among junk,
// zeros and each other in memory, and what the search makes of them.
#include "repair/RecordingScan.h"
#include "Recordings.h"
#include "SignalledRuns.h"
#include "TestFiles.h"
#include "avi/AviStructure.h"
#include "platform/FaultPoints.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <map>
#include <random>
#include <set>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> ScratchDirNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

enum class Piece {
    CutForm,    // a camera recording cut off inside its last chunk
    WholeForm,  // one that ends with a whole chunk, never finalised
    Finalised,  // with its idx1
    Headerless, // a header-lost recording's chunks, without the zeros before them
    Zeros,
    Junk,     // random bytes
    LoneRiff, // 'RIFF' alone, and a RIFF 'AVI ' word with nothing of a recording behind it
};

struct Made {
    Bytes bytes;
    uint32_t chunks = 0;
};

// Each recording is written once and laid out as often as the cases want.
const Made& Recording(Piece piece) {
    static std::map<Piece, Made> made;
    if (auto found = made.find(piece); found != made.end())
        return found->second;
    ScratchDir dir;
    CameraRecordingPlan plan;
    plan.sequence.videoFrameCount = 12;
    if (piece == Piece::CutForm)
        plan.finish.cutBytes = 101; // inside the last chunk, which the walk counts
    if (piece == Piece::Finalised)
        plan.finish = recgen::FinishOptions::Finalised();
    if (piece == Piece::Headerless)
        plan.header.layout = recgen::HeaderLayout::HeaderLost;
    const auto summary = WriteCameraRecording(dir / "clip.avi", plan);
    Made recording{ReadBytes(dir / "clip.avi"), static_cast<uint32_t>(summary.chunkCount)};
    if (piece == Piece::Headerless)
        recording.bytes.erase(recording.bytes.begin(),
                              recording.bytes.begin() + plan.header.lostHeaderDataStart);
    return made[piece] = std::move(recording);
}

Bytes Filler(Piece piece, size_t count) {
    static std::mt19937 random(7);
    Bytes bytes(count, 0);
    if (piece == Piece::Junk)
        for (uint8_t& byte : bytes)
            byte = static_cast<uint8_t>(random());
    if (piece == Piece::LoneRiff) {
        const std::string words = "RIFF....RIFF\x20\0\0\0AVI LIST";
        std::copy(words.begin(), words.end(), bytes.begin());
    }
    return bytes;
}

struct Part {
    Piece piece;
    size_t bytes = 0; // of the fillers
};

struct Expected {
    size_t part; // the recording found is this part, whole
    FoundKind kind;
    std::optional<size_t> continuesAtPart = std::nullopt;
};

struct ScanCase {
    const char* name;
    std::vector<Part> parts;
    std::vector<Expected> found;
};

void PrintTo(const ScanCase& c, std::ostream* out) {
    *out << c.name;
}

class FindRecordingsTest : public testing::TestWithParam<ScanCase> {};

TEST_P(FindRecordingsTest, FindsEachRecordingWhole) {
    const ScanCase& c = GetParam();
    Bytes file;
    std::vector<uint64_t> starts;
    std::vector<uint32_t> chunks;
    for (const Part& part : c.parts) {
        starts.push_back(file.size());
        const bool filler =
            part.piece == Piece::Zeros || part.piece == Piece::Junk || part.piece == Piece::LoneRiff;
        const Bytes bytes = filler ? Filler(part.piece, part.bytes) : Recording(part.piece).bytes;
        chunks.push_back(filler ? 0 : Recording(part.piece).chunks);
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    starts.push_back(file.size());

    MemorySource source(file);
    const std::vector<FoundRecording> found = FindRecordings(source, file.size());
    ASSERT_EQ(found.size(), c.found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        const Expected& expected = c.found[i];
        SCOPED_TRACE("recording " + std::to_string(i));
        EXPECT_EQ(found[i].kind, expected.kind);
        EXPECT_EQ(found[i].start, starts[expected.part]);
        EXPECT_EQ(found[i].end, starts[expected.part + 1]);
        EXPECT_EQ(found[i].chunks, chunks[expected.part]);
        EXPECT_EQ(found[i].ids, (std::vector<FourCC>{FourCC("00dc"), FourCC("01wb")}));
        EXPECT_EQ(found[i].continuesAt, expected.continuesAtPart
                                            ? std::optional<uint64_t>(starts[*expected.continuesAtPart])
                                            : std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FindRecordingsTest,
    testing::Values(ScanCase{"FormAtAnOddOffsetAfterJunk",
                             {{Piece::Junk, 1001}, {Piece::CutForm}},
                             {{1, FoundKind::AviForm}}},
                    ScanCase{"FormAcrossTheSearchBlocks",
                             {{Piece::Zeros, (size_t{1} << 20) - 6}, {Piece::CutForm}},
                             {{1, FoundKind::AviForm}}},
                    ScanCase{"TwoFormsBackToBack",
                             {{Piece::Finalised}, {Piece::WholeForm}, {Piece::Zeros, 4096}},
                             {{0, FoundKind::AviForm}, {1, FoundKind::AviForm}}},
                    ScanCase{"ChunksWithoutAHeaderAfterZeros",
                             {{Piece::Zeros, 5000}, {Piece::Headerless}, {Piece::Zeros, 3000}},
                             {{1, FoundKind::Headerless}}},
                    ScanCase{"FormWhoseChunksGoOnFurther",
                             {{Piece::WholeForm}, {Piece::Junk, 3000}, {Piece::Headerless}},
                             {{0, FoundKind::AviForm, 2}, {2, FoundKind::Headerless}}},
                    ScanCase{"NothingInRandomBytesOrALoneRiffWord",
                             {{Piece::Junk, 300000}, {Piece::LoneRiff, 64}, {Piece::Junk, 1000}},
                             {}}),
    [](const testing::TestParamInfo<ScanCase>& param) { return std::string(param.param.name); });

// Whatever file operation fails, the file searched stays as it was, and the output folder holds
// only recordings written whole (or stopped early, as said) under their final names: no copy, no
// partial file. A failed removal is the one failure that may leave a file behind.
// A disk check's file holding a camera recording repaired in its copy and a header-lost one rebuilt.
struct CardScan {
    CardScan() {
        file = Filler(Piece::Junk, 777);
        for (const Bytes& part : {Recording(Piece::CutForm).bytes, Filler(Piece::Zeros, 3000),
                                  Recording(Piece::Headerless).bytes})
            file.insert(file.end(), part.begin(), part.end());
        WriteBytes(dir / "FILE0000.CHK", file);
    }
    ScanOutcome Run(RecordingHost& host) {
        fs::remove_all(out);
        fs::create_directory(out);
        host.answer = std::pair{kResolutionVga, 15u};
        return RunScanJob({.path = (dir / "FILE0000.CHK").string(), .outputFolder = out.string()}, &host);
    }
    ScratchDir dir;
    Bytes file;
    fs::path out = dir / "out";
};

TEST(ScanJob, EveryFailedOperationLeavesOnlyFinishedFiles) {
    CardScan card;
    const Bytes& file = card.file;
    const fs::path& dir = card.dir.Path();
    const fs::path& out = card.out;
    auto scan = [&](RecordingHost& host) { return card.Run(host); };
    std::vector<faults::Operation> kinds;
    faults::Plan count;
    count.observe = [&](faults::Operation operation, const faults::Access&) { kinds.push_back(operation); };
    faults::Arm(count);
    RecordingHost clean;
    const ScanOutcome whole = scan(clean);
    faults::Disarm();
    ASSERT_TRUE(whole.AllWritten());
    ASSERT_EQ(whole.items.size(), 2u);

    for (size_t point = 1; point <= kinds.size(); ++point) {
        if (kinds[point - 1] == faults::Operation::Remove)
            continue;
        SCOPED_TRACE("failing point " + std::to_string(point));
        faults::Plan plan;
        plan.action = faults::Plan::Action::Fail;
        plan.at = point;
        plan.errorNumber = EIO;
        faults::Arm(plan);
        RecordingHost host;
        const ScanOutcome outcome = scan(host);
        faults::Disarm();
        std::set<std::string> finished;
        for (const ScanItemOutcome& item : outcome.items)
            if (item.status == ScanItemStatus::Written || item.status == ScanItemStatus::Partial)
                finished.insert(fs::path(item.outputPath).filename().string());
        const std::vector<std::string> names = ScratchDirNames(out);
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), finished);
        for (const std::string& name : finished)
            EXPECT_EQ(FourCCAt(ReadBytes(out / name), 8), FourCC("AVI ")) << name;
        if (!outcome.AllWritten()) {
            EXPECT_FALSE(host.messages.empty()) << "a recording not written is explained";
        }
        EXPECT_EQ(ReadBytes(dir / "FILE0000.CHK"), file);
    }
}

// Ctrl-C (or SIGTERM, SIGHUP) at any file operation of a scan: the output folder holds each
// recording whole under its final name or not at all.
TEST(ScanJob, ASignalAtAnyPointLeavesOnlyFinishedFiles) {
    CardScan card;
    RecordingHost clean;
    faults::Arm({});
    ASSERT_TRUE(card.Run(clean).AllWritten());
    const uint64_t points = faults::PointsPassed();
    faults::Disarm();
    std::map<std::string, Bytes> finished;
    for (const std::string& name : ScratchDirNames(card.out))
        finished[name] = ReadBytes(card.out / name);
    ASSERT_EQ(finished.size(), 2u);

    constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    for (uint64_t point = 1; point <= points; ++point) {
        SCOPED_TRACE("signal at point " + std::to_string(point));
        const int signal = kSignals[point % 3];
        ASSERT_TRUE(EndedBySignalAt(point, signal, std::nullopt, [&] {
            RecordingHost host;
            card.Run(host);
        }));
        for (const std::string& name : ScratchDirNames(card.out)) {
            ASSERT_TRUE(finished.contains(name)) << name << " left behind";
            EXPECT_EQ(ReadBytes(card.out / name), finished[name]) << name;
        }
        EXPECT_EQ(ReadBytes(card.dir / "FILE0000.CHK"), card.file);
    }
}

TEST(ScanOutputName, NamesByOffsetAndNeverAStandingFile) {
    ScratchDir dir;
    const std::string folder = dir.Path().string();
    const std::string first = folder + "/FILE0000-at-0000123456.avi";
    EXPECT_EQ(ScanOutputName("/media/card/FILE0000.CHK", folder, 123456), first);
    WriteBytes(first, {});
    EXPECT_EQ(ScanOutputName("/media/card/FILE0000.CHK", folder, 123456),
              folder + "/FILE0000-at-0000123456-2.avi");
}

} // namespace
} // namespace clipwright::test
