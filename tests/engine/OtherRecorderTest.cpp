// The repair of other recorders' AVIs at the level of bytes: what it keeps, what it refuses, and
// that a second repair changes nothing. End-to-end checks with real readers are in the CLI tests.
#include "TestFiles.h"
#include "avi/LittleEndian.h"
#include "repair/RecordingCheck.h"
#include "repair/RepairEngine.h"

#include <gtest/gtest.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

// An MPEG-4 and MS-ADPCM AVI as ffmpeg writes it to a pipe (header placeholders, no index), cut
// `keep` bytes in, inside a chunk (0: whole).
Bytes CutOffFfmpegAvi(const ScratchDir& dir, size_t keep) {
    const fs::path whole = dir / "whole.avi";
    const CommandResult made =
        RunCommand("(ffmpeg -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=15 "
                   "-f lavfi -i sine=sample_rate=8000 -t 4 "
                   "-c:v mpeg4 -g 10 -bf 0 -c:a adpcm_ms -f avi pipe:1 > " +
                   ShellQuote(whole.string()) + ")");
    EXPECT_EQ(made.exitStatus, 0) << made.err;
    Bytes bytes = ReadBytes(whole);
    fs::remove(whole);
    EXPECT_GT(bytes.size(), keep);
    if (keep > 0)
        bytes.resize(keep);
    return bytes;
}

size_t Find(const Bytes& bytes, const std::string& word, size_t from = 0) {
    auto at =
        std::search(bytes.begin() + static_cast<ptrdiff_t>(from), bytes.end(), word.begin(), word.end());
    return static_cast<size_t>(at - bytes.begin());
}

TEST(OtherRecorder, ACutChunkKeepsItsBytesAsJunkAndASecondRepairChangesNothing) {
    ScratchDir dir;
    const Bytes original = CutOffFfmpegAvi(dir, 60001);
    const fs::path clip = dir / "clip.avi";
    WriteBytes(clip, original);
    EngineJob first;
    first.Run(clip, true);
    ASSERT_EQ(first.fixer.LastOutcome().status, FixStatus::Repaired) << first.Messages();
    const Bytes repaired = ReadBytes(clip);

    // Everything from the movi list's first chunk on stands where it stood; only the cut chunk's id
    // changed, to JUNK.
    const size_t firstChunk = Find(original, "movi") + 4;
    const auto& walk = first.fixer.LastOutcome().walk;
    ASSERT_EQ(walk.end, WalkEnd::CutChunk);
    const size_t cut = static_cast<size_t>(walk.endOffset);
    ASSERT_GE(repaired.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin() + static_cast<ptrdiff_t>(firstChunk),
                           original.begin() + static_cast<ptrdiff_t>(cut),
                           repaired.begin() + static_cast<ptrdiff_t>(firstChunk)));
    EXPECT_EQ(std::string(repaired.begin() + static_cast<ptrdiff_t>(cut),
                          repaired.begin() + static_cast<ptrdiff_t>(cut) + 4),
              "JUNK");
    EXPECT_TRUE(std::equal(original.begin() + static_cast<ptrdiff_t>(cut) + 4, original.end(),
                           repaired.begin() + static_cast<ptrdiff_t>(cut) + 4));

    EngineJob second;
    second.Run(clip, true);
    EXPECT_EQ(second.fixer.LastOutcome().status, FixStatus::Repaired);
    ASSERT_TRUE(second.fixer.LastOutcome().otherRecorder);
    EXPECT_TRUE(second.fixer.LastOutcome().otherRecorder->neededNoRepair);
    EXPECT_EQ(ReadBytes(clip), repaired);
    EXPECT_EQ(Probe(clip)["video"].packets, first.fixer.LastOutcome().videoChunks);
    EXPECT_EQ(DecodeErrors(clip), "");
}

// Its super indexes are JUNK, as in a file below 1 GiB: the parts cannot be listed where they
// stand, so both modes write the file anew, the same file, and the recording is left as it was
// until the new one stands in its place.
TEST(OtherRecorder, ASecondRiffPartWithoutSuperIndexesIsCopiedAnewInBothModes) {
    ScratchDir dir;
    // The first part closed, as a recorder leaves it when it begins the next past 1 GiB; the next
    // holds one chunk and is cut off.
    Bytes bytes = CutOffFfmpegAvi(dir, 0);
    le::WriteU32(bytes.data() + 4, static_cast<uint32_t>(bytes.size() - 8));
    for (const char* word : {"RIFF", "\xff\xff\xff\xff", "AVIX", "LIST", "\xff\xff\xff\xff", "movi", "00dc"})
        bytes.insert(bytes.end(), word, word + 4);
    bytes.insert(bytes.end(), {2, 0, 0, 0, 0, 0, '0'});
    const fs::path clip = dir / "clip.avi";
    WriteBytes(clip, bytes);
    // The check says what the repair then does.
    const CheckReport check = CheckRecording(clip.string());
    EXPECT_EQ(check.verdict, CheckVerdict::Repairable);
    EXPECT_EQ(check.newFile.action, RepairAction::CopyOpenDml);
    EXPECT_EQ(check.replace.action, RepairAction::CopyOpenDml);
    EXPECT_EQ(check.replace.keptAs, (dir / "tmp_clip.avi").string());
    EngineJob copy;
    copy.Run(clip, false);
    ASSERT_EQ(copy.fixer.LastOutcome().status, FixStatus::Repaired) << copy.Messages();
    ASSERT_TRUE(copy.fixer.LastOutcome().otherRecorder);
    EXPECT_EQ(copy.fixer.LastOutcome().otherRecorder->copiedBecause, CopyReason::PartsNotListable);
    EXPECT_FALSE(copy.fixer.LastOutcome().otherRecorder->replacedOriginal);
    EXPECT_EQ(ReadBytes(clip), bytes);
    const Bytes written = ReadBytes(dir / "fix_clip.avi");

    EngineJob replace;
    replace.Run(clip, true);
    ASSERT_EQ(replace.fixer.LastOutcome().status, FixStatus::Repaired) << replace.Messages();
    EXPECT_TRUE(replace.fixer.LastOutcome().otherRecorder->replacedOriginal);
    EXPECT_EQ(ReadBytes(clip), written);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
    EXPECT_EQ(Probe(clip)["video"].packets, replace.fixer.LastOutcome().videoChunks);
}

// ffmpeg's remux rewrites MS-ADPCM's rate and scale from the byte rate; the summary's seconds of
// sound come from the samples the blocks hold, which the file does not get wrong.
TEST(OtherRecorder, SecondsOfSoundComeFromItsSamplesNotFromARewrittenRate) {
    ScratchDir dir;
    const fs::path clip = dir / "remuxed.avi";
    const CommandResult made = RunCommand(
        "(ffmpeg -nostdin -v error -f lavfi -i sine=sample_rate=22050 -t 20 -c:a adpcm_ms -f avi pipe:1 | "
        "ffmpeg -nostdin -v error -f avi -i pipe:0 -c copy -f avi pipe:1 > " +
        ShellQuote(clip.string()) + ")");
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    EngineJob job;
    job.Run(clip, false);
    ASSERT_TRUE(job.fixer.LastOutcome().otherRecorder) << job.Messages();
    EXPECT_NEAR(job.fixer.LastOutcome().otherRecorder->audioSeconds.value_or(0), 20.0, 0.2);
}

} // namespace
} // namespace clipwright::test
