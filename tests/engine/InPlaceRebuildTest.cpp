// The in-place repair of recordings whose header block survived: whole files compared with what
// the format prescribes, and real readers' verdicts on the result.
#include "Recordings.h"
#include "TestFiles.h"
#include "repair/RepairEngine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMoviBase = 2056;

struct ExpectedChunk {
    std::array<uint8_t, 4> id;
    uint64_t position;
    uint32_t size;
    bool audio;
    bool key;
};

std::vector<ExpectedChunk> FromSummary(const recgen::RecordingSummary& summary) {
    std::vector<ExpectedChunk> chunks;
    for (const recgen::ChunkRecord& record : summary.chunks) {
        if (record.kind == recgen::ChunkKind::Other)
            continue;
        chunks.push_back({record.id.Bytes(), record.position, record.sizeField,
                          record.kind == recgen::ChunkKind::Audio, record.isKey});
    }
    return chunks;
}

// What a repaired recording must hold, computed from the AVI rules: header fields patched, idx1
// at the data end, JUNK to the next multiple of 2048 (or the one after, when fewer than 8 bytes
// would be left), and the RIFF size ending with the index.
struct Damage {
    uint64_t offset = 0;
    uint64_t bytes = 0;
};

Bytes ExpectedRepair(Bytes bytes, const std::vector<ExpectedChunk>& chunks, uint64_t dataEnd,
                     size_t audioLengthAt = 520, const std::vector<Damage>& damage = {}) {
    uint32_t video = 0;
    uint32_t audio = 0;
    for (const ExpectedChunk& chunk : chunks)
        (chunk.audio ? audio : video)++;
    PutU32(bytes, 2052, static_cast<uint32_t>(dataEnd - kMoviBase));
    PutU32(bytes, 44, 0x110);
    PutU32(bytes, 48, video + audio);
    PutU32(bytes, 140, video);
    PutU32(bytes, audioLengthAt, audio * 1024);
    if (chunks.empty())
        return bytes;
    // Damaged bytes are stepped over by a JUNK header at their start.
    for (const Damage& stretch : damage) {
        if (stretch.bytes < 8)
            continue;
        PutFourCC(bytes, stretch.offset, "JUNK");
        PutU32(bytes, stretch.offset + 4, static_cast<uint32_t>(stretch.bytes - 8));
    }
    const uint64_t indexEnd = dataEnd + 8 + 16 * chunks.size();
    uint64_t filler = 2048 - indexEnd % 2048;
    if (filler < 8)
        filler += 2048;
    bytes.resize(std::max<uint64_t>(bytes.size(), indexEnd + filler), 0);
    size_t at = dataEnd;
    PutFourCC(bytes, at, "idx1");
    PutU32(bytes, at + 4, static_cast<uint32_t>(16 * chunks.size()));
    at += 8;
    for (const ExpectedChunk& chunk : chunks) {
        std::copy(chunk.id.begin(), chunk.id.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
        PutU32(bytes, at + 4, chunk.key ? 0x10 : 0);
        PutU32(bytes, at + 8, static_cast<uint32_t>(chunk.position - kMoviBase));
        PutU32(bytes, at + 12, chunk.size);
        at += 16;
    }
    PutFourCC(bytes, at, "JUNK");
    PutU32(bytes, at + 4, static_cast<uint32_t>(filler - 8));
    std::fill(bytes.begin() + static_cast<ptrdiff_t>(at + 8),
              bytes.begin() + static_cast<ptrdiff_t>(at + filler), 0);
    PutU32(bytes, 4, static_cast<uint32_t>(indexEnd - 8));
    return bytes;
}

uint64_t EndOfLastChunk(const std::vector<ExpectedChunk>& chunks) {
    return chunks.empty() ? 2060 : chunks.back().position + 8 + chunks.back().size;
}

using Job = EngineJob;

CameraRecordingPlan CutOffRecording(uint64_t frames = 45) {
    CameraRecordingPlan plan;
    plan.sequence.videoFrameCount = frames;
    plan.sequence.repeatEvery = 7;
    return plan;
}

TEST(InPlaceRebuild, ReplaceModePatchesTheRecordingExactlyAndPlayersAcceptIt) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    auto summary = WriteCameraRecording(clip, CutOffRecording());
    const Bytes before = ReadBytes(clip);
    auto chunks = FromSummary(summary);
    ASSERT_GT(chunks.size(), 45u);

    Job job;
    job.Run(clip, true);

    EXPECT_TRUE(job.host.messages.empty());
    EXPECT_EQ(ReadBytes(clip), ExpectedRepair(before, chunks, EndOfLastChunk(chunks)));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.avi"});
    EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired);
    EXPECT_EQ(job.fixer.LastOutcome().videoChunks, summary.videoCount);
    EXPECT_EQ(job.fixer.LastOutcome().audioChunks, summary.audioCount);

    auto streams = Probe(clip);
    EXPECT_EQ(streams["video"].packets, summary.videoCount);
    EXPECT_EQ(streams["audio"].packets, summary.audioCount);
    EXPECT_EQ(streams["audio"].codecName, "adpcm_ms");
    EXPECT_EQ(DecodeErrors(clip), "");
}

TEST(InPlaceRebuild, NewFileModeRepairsACopyAndCopiesTheCompanion) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    auto summary = WriteCameraRecording(clip, CutOffRecording());
    const Bytes companion = {'s', 'u', 'b', 0, 1, 2};
    WriteBytes(dir / "clip.sub", companion);
    const Bytes before = ReadBytes(clip);
    auto chunks = FromSummary(summary);

    Job job;
    job.Run(clip, false);

    EXPECT_TRUE(job.host.messages.empty());
    EXPECT_EQ(ReadBytes(clip), before) << "the recording itself is never written";
    EXPECT_EQ(ReadBytes(dir / "fix_clip.avi"), ExpectedRepair(before, chunks, EndOfLastChunk(chunks)));
    EXPECT_EQ(ReadBytes(dir / "fix_clip.sub"), companion);
    EXPECT_EQ(dir.Names(),
              (std::vector<std::string>{"clip.avi", "clip.sub", "fix_clip.avi", "fix_clip.sub"}));
    EXPECT_EQ(job.fixer.LastOutcome().outputPath, (dir / "fix_clip.avi").string());
    EXPECT_EQ(DecodeErrors(dir / "fix_clip.avi"), "");

    // A second run replaces what the first one left.
    WriteBytes(dir / "fix_clip.avi", Bytes(10, 'x'));
    WriteBytes(dir / "fix_clip.sub", Bytes(3, 'y'));
    job.Run(clip, false);
    EXPECT_EQ(ReadBytes(dir / "fix_clip.avi"), ExpectedRepair(before, chunks, EndOfLastChunk(chunks)));
    EXPECT_EQ(ReadBytes(dir / "fix_clip.sub"), companion);
}

TEST(InPlaceRebuild, RunningTwiceGivesTheSameFile) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    WriteCameraRecording(clip, CutOffRecording(30));
    Job job;
    job.Run(clip, true);
    const Bytes once = ReadBytes(clip);
    job.Run(clip, true);
    EXPECT_EQ(ReadBytes(clip), once);
}

TEST(InPlaceRebuild, CutInsideTheLastChunkIndexesItWithItsFullSize) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    CameraRecordingPlan plan = CutOffRecording(20);
    plan.finish.cutBytes = 100;
    auto summary = WriteCameraRecording(clip, plan);
    const Bytes before = ReadBytes(clip);
    auto chunks = FromSummary(summary);
    ASSERT_GT(EndOfLastChunk(chunks), before.size()) << "the last chunk must reach past the end";

    Job job;
    job.Run(clip, true);

    const Bytes after = ReadBytes(clip);
    EXPECT_EQ(after, ExpectedRepair(before, chunks, EndOfLastChunk(chunks)));
    EXPECT_EQ(after.size() % 2048, 0u);
    EXPECT_EQ(DecodeErrors(clip).find("Invalid data"), std::string::npos);
}

// A recording in which the walk finds no chunk at all: header fields alone are no repair, so the
// recording stays byte for byte as it was and no copy is left behind, companion copy included.
struct NoChunkCase {
    const char* name;
    const char* firstWord; // written as a 16-byte chunk at 2060, or nothing
    size_t extraBytes;     // bytes of '0' standing at 2060 instead
};

class RecordingWithoutChunks : public ::testing::TestWithParam<NoChunkCase> {};

TEST_P(RecordingWithoutChunks, IsLeftAsItWasInBothModes) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    recgen::RecordingWriter writer(clip, recgen::HeaderOptions{});
    if (GetParam().firstWord != nullptr)
        writer.AppendChunk(FourCC::FromBytes(reinterpret_cast<const uint8_t*>(GetParam().firstWord)),
                           Bytes(16, 7));
    writer.AppendRaw(Bytes(GetParam().extraBytes, '0'));
    writer.Finish(recgen::FinishOptions::CutOff());
    WriteBytes(dir / "clip.sub", Bytes(10, 's'));
    const Bytes before = ReadBytes(clip);

    for (bool replace : {true, false}) {
        Job job;
        job.Run(clip, replace);
        EXPECT_EQ(job.Messages(), "No recording data was found in this file. Nothing was written.\n");
        EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Failed);
        EXPECT_EQ(ReadBytes(clip), before);
        EXPECT_EQ(dir.Names(), (std::vector<std::string>{"clip.avi", "clip.sub"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordingWithoutChunks,
                         ::testing::Values(NoChunkCase{"Idx1First", "idx1", 0},
                                           NoChunkCase{"JunkFirst", "JUNK", 0},
                                           NoChunkCase{"EndsAtTheFirstChunk", nullptr, 0},
                                           NoChunkCase{"EndsInsideTheFirstWord", nullptr, 2}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(InPlaceRebuild, AudioLengthGoesTo528WhenTheWordAt488IsNotAuds) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    CameraRecordingPlan plan = CutOffRecording(16);
    plan.header.audioHeader = recgen::AudioHeaderPlace::ShiftedBy8;
    auto summary = WriteCameraRecording(clip, plan);
    const Bytes before = ReadBytes(clip);
    ASSERT_NE(std::string(before.begin() + 488, before.begin() + 492), "auds");
    auto chunks = FromSummary(summary);

    Job job;
    job.Run(clip, true);

    EXPECT_EQ(ReadBytes(clip), ExpectedRepair(before, chunks, EndOfLastChunk(chunks), 528));
    EXPECT_EQ(Probe(clip)["audio"].packets, summary.audioCount);
}

// One audio chunk whose payload size puts the end of the index where the filler rule is tested.
class FillerAtIndexEnd : public ::testing::TestWithParam<uint32_t> {};

TEST_P(FillerAtIndexEnd, EndsTheFileOnAMultipleOf2048) {
    const uint32_t residue = GetParam(); // index end modulo 2048
    // index end = 2060 + 8 + size + 8 + 16
    const uint32_t size = (residue + 2048 * 2 - 2092 % 2048) % 2048 + 2048;
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    recgen::RecordingWriter writer(clip, recgen::HeaderOptions{});
    writer.AppendChunk(FourCC("01wb"), Bytes(size, 0x11));
    auto summary = writer.Finish(recgen::FinishOptions::CutOff());
    const Bytes before = ReadBytes(clip);
    auto chunks = FromSummary(summary);

    Job job;
    job.Run(clip, true);

    const Bytes after = ReadBytes(clip);
    const uint64_t indexEnd = 2060 + 8 + size + 8 + 16;
    ASSERT_EQ(indexEnd % 2048, residue);
    EXPECT_EQ(after, ExpectedRepair(before, chunks, EndOfLastChunk(chunks)));
    EXPECT_EQ(after.size() % 2048, 0u);
    const uint32_t junkSize = U32At(after, indexEnd + 4);
    EXPECT_EQ(std::string(after.begin() + static_cast<ptrdiff_t>(indexEnd),
                          after.begin() + static_cast<ptrdiff_t>(indexEnd) + 4),
              "JUNK");
    EXPECT_EQ(indexEnd + 8 + junkSize, after.size());
    if (residue == 2040) {
        EXPECT_EQ(junkSize, 0u);
    } else if (residue == 0) {
        EXPECT_EQ(junkSize, 2040u);
    } else if (residue > 2040) {
        EXPECT_GT(after.size(), indexEnd + 2048) << "reaches the multiple after the next";
    }
}

INSTANTIATE_TEST_SUITE_P(Residues, FillerAtIndexEnd, ::testing::Values(0u, 1u, 1000u, 2040u, 2041u, 2047u));

TEST(InPlaceRebuild, KeyFlagFollowsTheVideoObjectStartCode) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    recgen::RecordingWriter writer(clip, recgen::HeaderOptions{});
    writer.AppendChunk(FourCC("00db"), Bytes{0, 0, 1, 0, 9, 9});    // key
    writer.AppendChunk(FourCC("00dc"), Bytes{0, 0, 1, 0xB6, 9, 9}); // not key
    writer.AppendChunk(FourCC("01dc"), Bytes{0, 0});                // tested on the bytes behind it
    writer.AppendChunk(FourCC("01wb"), Bytes{1, 0});                // ...which are 01wb: not key
    writer.AppendChunk(FourCC("00dc"), Bytes{0, 0, 1, 0});          // key, exactly four bytes
    writer.Finish(recgen::FinishOptions::CutOff());
    const Bytes before = ReadBytes(clip);

    Job job;
    job.Run(clip, true);

    const Bytes after = ReadBytes(clip);
    // Data end: 2060 + (8+6) + (8+6) + (8+2) + (8+2) + (8+4)
    const size_t index = 2060 + 14 + 14 + 10 + 10 + 12;
    ASSERT_EQ(std::string(after.begin() + index, after.begin() + index + 4), "idx1");
    std::vector<uint32_t> flags;
    for (size_t entry = index + 8; entry < index + 8 + 5 * 16; entry += 16)
        flags.push_back(U32At(after, entry + 4));
    EXPECT_EQ(flags, (std::vector<uint32_t>{0x10, 0, 0, 0x10, 0x10}));
    EXPECT_EQ(U32At(after, 140), 4u) << "video chunks";
    EXPECT_EQ(U32At(after, 520), 1024u) << "one audio chunk";
    EXPECT_EQ(U32At(after, 48), 5u) << "all chunks";
    (void)before;
}

TEST(InPlaceRebuild, UnknownWordsArePassedOverFourBytesAtATime) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    recgen::RecordingWriter writer(clip, recgen::HeaderOptions{});
    writer.AppendChunk(FourCC("00dc"), Bytes{0, 0, 1, 0xB6});
    // A wrapping list and a long stretch of garbage, then more chunks.
    writer.AppendRaw(Bytes{'L', 'I', 'S', 'T', 0x10, 0, 0, 0, 'r', 'e', 'c', ' '});
    writer.AppendRaw(Bytes(10000, 0xEE));
    writer.AppendChunk(FourCC("01wb"), Bytes(256, 3));
    auto summary = writer.Finish(recgen::FinishOptions::CutOff());
    const Bytes before = ReadBytes(clip);

    Job job;
    job.Run(clip, true);

    auto chunks = FromSummary(summary);
    ASSERT_EQ(chunks.size(), 2u);
    const uint64_t garbage = chunks[0].position + 8 + 4 + 12;
    EXPECT_EQ(ReadBytes(clip), ExpectedRepair(before, chunks, EndOfLastChunk(chunks), 520,
                                              {{garbage, chunks[1].position - garbage}}));
}

struct ImplausibleCase {
    const char* name;
    uint32_t sizeField;
};

class ImplausibleChunk : public ::testing::TestWithParam<ImplausibleCase> {};

// A size no chunk can have: the walk finds the chunks behind it, indexes them, and says what it
// skipped; the index goes behind the last chunk and nothing of the recording is overwritten.
TEST_P(ImplausibleChunk, IsSkippedAndTheChunksBehindItAreIndexed) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    recgen::RecordingWriter writer(clip, recgen::HeaderOptions{});
    writer.AppendChunk(FourCC("00dc"), Bytes{0, 0, 1, 0, 5, 5});
    recgen::ChunkOptions lying;
    lying.sizeField = GetParam().sizeField;
    writer.AppendChunk(FourCC("00dc"), Bytes(64, 1), lying);
    writer.AppendChunk(FourCC("01wb"), Bytes(256, 2));
    writer.AppendChunk(FourCC("00dc"), Bytes(100, 3));
    auto summary = writer.Finish(recgen::FinishOptions::CutOff());
    const Bytes before = ReadBytes(clip);

    Job job;
    job.Run(clip, true);

    auto chunks = FromSummary(summary);
    const uint64_t damagedAt = chunks[1].position;
    chunks.erase(chunks.begin() + 1);
    const Bytes after = ReadBytes(clip);
    EXPECT_EQ(after, ExpectedRepair(before, chunks, before.size(), 520, {{damagedAt, 72}}));
    EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired);
    EXPECT_EQ(job.Messages(),
              "The recording holds damaged data: 72 bytes of damaged data skipped at offset " +
                  std::to_string(damagedAt) + ". The chunks before and behind it were indexed.\n");
}

INSTANTIATE_TEST_SUITE_P(Sizes, ImplausibleChunk,
                         ::testing::Values(ImplausibleCase{"TwoToThe31", 0x80000000u},
                                           ImplausibleCase{"AllOnes", 0xFFFFFFFFu},
                                           ImplausibleCase{"FarPastTheEnd", 3u << 20}),
                         [](const auto& param) { return std::string(param.param.name); });

// Filler in the middle of the data with something other than a chunk behind it: the walk finds
// the footage behind both, so the index goes behind the last chunk and overwrites none of it.
TEST(InPlaceRebuild, FillerInTheMiddleFollowedByAnythingNeverCostsTheFootageBehindIt) {
    struct Case {
        const char* name;
        Bytes behindFiller;
    };
    Bytes listHeader(12, 0);
    PutFourCC(listHeader, 0, "LIST");
    PutU32(listHeader, 4, 0);
    PutFourCC(listHeader, 8, "rec ");
    const std::vector<Case> cases = {
        {"list header", listHeader}, {"zeros", Bytes(64, 0)}, {"three stray bytes", Bytes{'x', 'y', 'z'}}};
    const auto& payloads = PayloadsFor(640, 480);
    for (const Case& c : cases) {
        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        recgen::RecordingWriter writer(clip, recgen::HeaderOptions{});
        recgen::CameraSequenceOptions options;
        options.videoFrameCount = 12;
        recgen::CameraSequence sequence(payloads, options);
        std::vector<ExpectedChunk> chunks;
        uint64_t damagedAt = 0;
        for (int i = 0; auto chunk = sequence.Next(); ++i) {
            if (i == 8) {
                writer.AppendChunk(FourCC("JUNK"), Bytes(16, 0));
                damagedAt = writer.Position();
                writer.AppendRaw(c.behindFiller);
            }
            auto record = writer.AppendChunk(chunk->id, chunk->payload);
            chunks.push_back({record.id.Bytes(), record.position, record.sizeField,
                              record.kind == recgen::ChunkKind::Audio, record.isKey});
        }
        writer.Finish(recgen::FinishOptions::CutOff());
        const Bytes before = ReadBytes(clip);

        Job job;
        job.Run(clip, true);

        const bool damage = c.behindFiller != listHeader;
        const std::vector<Damage> damaged = {{damagedAt, damage ? c.behindFiller.size() : 0}};
        EXPECT_EQ(ReadBytes(clip), ExpectedRepair(before, chunks, before.size(), 520, damaged)) << c.name;
        EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired) << c.name;
        EXPECT_EQ(job.Messages().find("skipped at offset " + std::to_string(damagedAt)) != std::string::npos,
                  damage)
            << c.name << ": " << job.Messages();
    }
}

// Indexed where it stands, a recording of 2 GiB would pass what an AVI of one RIFF form holds: it
// is rebuilt instead, in both modes, and every chunk is in the new file.
TEST(InPlaceRebuild, RecordingOf2GiBIsRebuiltWithEveryChunk) {
    for (bool replace : {false, true}) {
        ScratchDir dir;
        const fs::path clip = dir / "big.avi";
        const recgen::RecordingSummary summary = WriteCameraRecording(clip, CutOffRecording(5));
        fs::resize_file(clip, 0x80000000ULL); // zeros behind the footage, sparse: costs no disk
        Job job;
        job.Run(clip, replace);
        EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired) << job.Messages();
        const fs::path output = replace ? clip : dir / "fix_big.avi";
        ASSERT_TRUE(fs::exists(output)) << job.Messages();
        EXPECT_LT(fs::file_size(output), uint64_t{1} << 20);
        uint64_t copied = 0; // the rebuild passes over empty chunks
        for (const recgen::ChunkRecord& chunk : summary.chunks)
            copied += chunk.sizeField > 0 ? 1 : 0;
        EXPECT_EQ(job.fixer.LastOutcome().videoChunks + job.fixer.LastOutcome().audioChunks, copied)
            << job.Messages();
        if (!replace) {
            EXPECT_EQ(fs::file_size(clip), 0x80000000ULL) << "the recording was changed";
        }
    }
}

TEST(InPlaceRebuild, FailedCopyToTheFixNameEndsBeforeAnythingIsPatched) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    WriteCameraRecording(clip, CutOffRecording(10));
    const Bytes before = ReadBytes(clip);
    // A folder under the fix name cannot be replaced by the copy.
    fs::create_directory(dir / "fix_clip.avi");
    WriteBytes(dir / "fix_clip.avi" / "keep", Bytes{1});

    Job job;
    job.Run(clip, false);

    ASSERT_EQ(job.host.messages.size(), 1u);
    EXPECT_NE(job.host.messages[0].text.find("could not be copied to \"fix_clip.avi\""), std::string::npos);
    EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Failed);
    EXPECT_EQ(ReadBytes(clip), before);
    EXPECT_EQ(ReadBytes(dir / "fix_clip.avi" / "keep"), Bytes{1});
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"clip.avi", "fix_clip.avi"}));
}

TEST(InPlaceRebuild, FixNameLinkedToTheRecordingNeverTouchesTheRecording) {
    ScratchDir dir;
    const fs::path clip = dir / "clip.avi";
    WriteCameraRecording(clip, CutOffRecording(10));
    const Bytes before = ReadBytes(clip);
    fs::create_hard_link(clip, dir / "fix_clip.avi");

    Job job;
    job.Run(clip, false);

    EXPECT_EQ(ReadBytes(clip), before);
    EXPECT_NE(ReadBytes(dir / "fix_clip.avi"), before);
    EXPECT_EQ(fs::hard_link_count(clip), 1u);
}

TEST(InPlaceRebuild, PathsLongerThan259CharactersAreKeptWhole) {
    ScratchDir dir;
    fs::path folder = dir.Path();
    while (folder.string().size() < 400)
        folder /= std::string(60, 'd');
    fs::create_directories(folder);
    const fs::path clip = folder / (std::string(120, 'n') + ".avi");
    ASSERT_GT(clip.string().size(), 259u);
    WriteCameraRecording(clip, CutOffRecording(10));

    Job job;
    job.Run(clip, false);

    EXPECT_TRUE(job.host.messages.empty());
    EXPECT_TRUE(fs::exists(folder / ("fix_" + clip.filename().string())));
    EXPECT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired);
}

} // namespace
} // namespace clipwright::test
