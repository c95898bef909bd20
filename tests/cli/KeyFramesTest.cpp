// Key flags of another recorder's cut-off AVI, for every video codec ffmpeg writes into one: the
// repaired index against the pictures ffmpeg decodes from the whole file, chunk by chunk.
#include "OpenDmlRepack.h"
#include "ReaderOracles.h"
#include "RealWriters.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

CommandResult Cli(const std::string& arguments) {
    return RunCommand(ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + arguments);
}

// The first `length` bytes of `whole`, as a writer stopped there leaves them.
fs::path CutCopy(const fs::path& whole, uint64_t length) {
    Bytes bytes = ReadBytes(whole);
    bytes.resize(length);
    const fs::path cut = whole.parent_path() / "cut.avi";
    WriteBytes(cut, bytes);
    return cut;
}

class CutOffCodec : public ::testing::TestWithParam<FfmpegVideoCodec> {};

TEST_P(CutOffCodec, TheIndexFlagsThePicturesThatDecodeAsKeyFrames) {
    ScratchDir dir;
    const fs::path whole = dir / "whole.avi";
    WriteFfmpegVideo(GetParam(), whole);
    const std::map<uint64_t, bool> decoded = DecodedKeyPicturesByChunk(whole);
    // Two thirds in lies inside the data: no idx1 is left.
    const fs::path cut = CutCopy(whole, fs::file_size(whole) * 2 / 3);

    const CommandResult result = Cli(ShellQuote(cut.string()));

    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_EQ(result.out.find("key frames"), std::string::npos) << result.out;
    const std::map<uint64_t, bool> indexed = IndexKeyFlagsByChunk(dir / "fix_cut.avi", 0);
    std::map<uint64_t, bool> expected;
    for (const auto& [position, key] : indexed)
        if (decoded.contains(position))
            expected[position] = decoded.at(position);
    EXPECT_EQ(indexed, expected) << "key flags by chunk position, or a chunk no picture came from";
    EXPECT_GT(std::count_if(indexed.begin(), indexed.end(), [](const auto& entry) { return entry.second; }),
              1);
}

INSTANTIATE_TEST_SUITE_P(OtherRecorderKeyFrames, CutOffCodec, ::testing::ValuesIn(FfmpegVideoCodecs()),
                         [](const auto& test) { return test.param.name; });

// Cinepak: delta frames, and nothing in them that says so here.
TEST(OtherRecorderKeyFrames, ACodecNotReadKeepsItsWritersFlagsAndTheSummarySaysTheRestAreUnknown) {
    ScratchDir dir;
    const fs::path whole = dir / "whole.avi";
    WriteFfmpegVideo({"cinepak", "-c:v cinepak -g 12"}, whole);
    std::vector<bool> written;
    for (const auto& [position, key] : IndexKeyFlagsByChunk(whole, 0))
        written.push_back(key);
    ASSERT_GT(std::count(written.begin(), written.end(), true), 2);
    const uint64_t idx1 = ChunkBehind(whole, 0, fourcc::kIdx1).first;

    struct Case {
        const char* name;
        uint64_t length;
        size_t writerFlagged; // the entries of its idx1 the cut leaves whole
        const char* says;
        const char* json;
    };
    for (const Case& c : {
             Case{"cut in its data", fs::file_size(whole) * 2 / 3, 0,
                  "key frames after the first are unknown for this codec (cvid)",
                  "\"key_frames_unknown_after\":1"},
             Case{"cut in its idx1", idx1 + 8 + 30 * 16 + 5, 30,
                  "key frames after the first 30 video frames are unknown for this codec (cvid)",
                  "\"key_frames_unknown_after\":30"},
         }) {
        SCOPED_TRACE(c.name);
        const fs::path cut = CutCopy(whole, c.length);
        const CommandResult check = Cli("--check " + ShellQuote(cut.string()));
        const CommandResult json = Cli("--check --json " + ShellQuote(cut.string()));
        const CommandResult repair = Cli(ShellQuote(cut.string()));

        ASSERT_EQ(repair.exitStatus, 0) << repair.out << repair.err;
        EXPECT_NE(repair.out.find(c.says), std::string::npos) << repair.out;
        EXPECT_NE(check.out.find(c.says), std::string::npos) << check.out;
        EXPECT_NE(json.out.find(c.json), std::string::npos) << json.out;
        std::vector<bool> indexed;
        for (const auto& [position, key] : IndexKeyFlagsByChunk(dir / "fix_cut.avi", 0))
            indexed.push_back(key);
        ASSERT_GT(indexed.size(), c.writerFlagged);
        std::vector<bool> expected(written.begin(),
                                   written.begin() + static_cast<ptrdiff_t>(c.writerFlagged));
        expected.resize(indexed.size(), false);
        expected[0] = true;
        EXPECT_EQ(indexed, expected);
        fs::remove(dir / "fix_cut.avi");
    }

    // Recorded in OpenDML parts, the last one open: its closed parts' standard indexes flag theirs.
    const fs::path parts = dir / "parts.avi";
    WriteBytes(parts, RepackAsOpenDml(ReadBytes(whole), fs::file_size(whole) / 4));
    const size_t closed = ReadOpenDmlIndex(parts).chunks.at(0).size();
    ASSERT_GT(closed, 30u);
    ASSERT_LT(closed, written.size());
    const CommandResult repair = Cli(ShellQuote(parts.string()));
    EXPECT_EQ(repair.exitStatus, 0) << repair.out << repair.err;
    EXPECT_NE(repair.out.find("key frames after the first " + std::to_string(closed) + " video frames"),
              std::string::npos)
        << repair.out;
}

} // namespace
} // namespace clipwright::test
