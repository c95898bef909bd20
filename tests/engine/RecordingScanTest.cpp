// Recordings found inside a larger file: camera recordings from the generator laid among junk,
// zeros and each other in memory, and what the search makes of them.
#include "repair/RecordingScan.h"
#include "Recordings.h"
#include "TestFiles.h"
#include "avi/AviStructure.h"

#include <gtest/gtest.h>

#include <random>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

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
