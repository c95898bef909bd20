// The walk from chunk to chunk on movi data built in memory, and on inputs the fuzzing found: where
// it says the data ends, and which chunks it keeps as footage.
#include "avi/ChunkWalk.h"
#include "TestFiles.h"
#include "avi/AviStructure.h"

#include <gtest/gtest.h>

#include <string>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

Bytes& operator<<(Bytes& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

Bytes& operator<<(Bytes& bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    return bytes;
}

// A chunk of `size` bytes of `fill`, padded to even size unless `pad` is false.
Bytes& Chunk(Bytes& bytes, const std::string& id, uint32_t size, uint8_t fill = 0x5A, bool pad = true) {
    bytes << id << size;
    bytes.insert(bytes.end(), size + (pad ? size % 2 : 0), fill);
    return bytes;
}

// Bytes no chunk reads from: no id of a stream, no zeros.
Bytes& PutDamage(Bytes& bytes, size_t count = 40) {
    bytes.insert(bytes.end(), count, 0xEE);
    return bytes;
}

// An old idx1 with an entry for each of `chunks` chunks of 16 bytes, as a finalised file has.
Bytes& PutOldIndex(Bytes& bytes, uint32_t chunks) {
    bytes << "idx1" << 16 * chunks;
    for (uint32_t i = 0; i < chunks; ++i)
        bytes << "00dc" << 0x10u << 4 + 24 * i << 16u;
    return bytes;
}

struct Walked {
    std::vector<uint64_t> chunks; // positions
    WalkSummary summary;
};

Walked Walk(const Bytes& bytes, uint64_t start, uint32_t streams, PadBytes pad) {
    MemorySource source(bytes);
    const MediaIds ids = MediaIds::ForStreams(streams);
    ChunkWalk walk(source, start, bytes.size(), ids, pad, kLargeFrameCutOffAllowance);
    Walked walked;
    while (const std::optional<ChunkHeader> chunk = walk.Next())
        walked.chunks.push_back(chunk->position);
    walked.summary = walk.Summary();
    return walked;
}

// Both found where the walk of a file ending in a cut list header reported the data's end behind the
// file, and the repair wrote its index over a gap there. The index now takes the cut header's place:
// it begins nothing, and a reader walking the movi list would take its bytes for a chunk.
TEST(ChunkWalk, FuzzFindsEndingInACutListHeaderEndAtThatHeaderAndTheIndexTakesItsPlace) {
    for (const char* name : {"structure-walk-ends-in-list-type", "structure-walk-ends-in-bare-list-header"}) {
        SCOPED_TRACE(name);
        const Bytes original = ReadBytes(fs::path(CLIPWRIGHT_FUZZ_FINDS) / name);
        MemorySource source(original);
        const std::optional<AviStructure> structure = ReadAviStructure(source, original.size());
        ASSERT_TRUE(structure);
        const Walked walked = Walk(original, structure->MoviBody(),
                                   static_cast<uint32_t>(structure->streams.size()), PadBytes::Expected);
        const std::string text(original.begin(), original.end());
        EXPECT_EQ(walked.summary.end, WalkEnd::EndOfFile);
        EXPECT_EQ(walked.summary.endOffset, text.rfind("LIST"));

        ScratchDir dir;
        const fs::path clip = dir / "clip.avi";
        WriteBytes(clip, original);
        EngineJob job;
        job.Run(clip, true);
        ASSERT_EQ(job.fixer.LastOutcome().status, FixStatus::Repaired) << job.Messages();
        const Bytes repaired = ReadBytes(clip);
        const size_t index = walked.summary.endOffset + walked.summary.endOffset % 2;
        ASSERT_GT(repaired.size(), index + 4);
        // Nothing moved; only damage the walk stepped over starts with a JUNK header now.
        Bytes expected = original;
        for (const DamagedStretch& stretch : job.fixer.LastOutcome().walk.damaged) {
            if (stretch.bytes < 8)
                continue;
            const auto at = static_cast<ptrdiff_t>(stretch.offset);
            EXPECT_EQ(std::string(repaired.begin() + at, repaired.begin() + at + 4), "JUNK");
            std::copy_n(repaired.begin() + at, 8, expected.begin() + at);
        }
        const auto movi = static_cast<ptrdiff_t>(structure->MoviBody());
        EXPECT_TRUE(std::equal(expected.begin() + movi, expected.begin() + static_cast<ptrdiff_t>(index),
                               repaired.begin() + movi));
        EXPECT_EQ(std::string(repaired.begin() + static_cast<ptrdiff_t>(index),
                              repaired.begin() + static_cast<ptrdiff_t>(index) + 4),
                  "idx1");
    }
}

struct EndCase {
    const char* name;
    Bytes tail; // behind a whole chunk of 4 bytes at offset 0
    WalkEnd end;
    bool atTail;   // the walk ends where the tail begins, else at the end of the file
    size_t chunks; // media chunks given
};

void PrintTo(const EndCase& endCase, std::ostream* out) {
    *out << endCase.name;
}

class ChunkWalkEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(ChunkWalkEnd, NeverPastTheEndOfTheFile) {
    const EndCase& c = GetParam();
    Bytes bytes;
    Chunk(bytes, "00dc", 4);
    const size_t tail = bytes.size();
    bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
    const Walked walked = Walk(bytes, 0, 2, PadBytes::Expected);
    EXPECT_EQ(walked.summary.end, c.end);
    EXPECT_EQ(walked.summary.endOffset, c.atTail ? tail : bytes.size());
    EXPECT_EQ(walked.chunks.size(), c.chunks);
}

Bytes Tail(std::initializer_list<std::string> words) {
    Bytes bytes;
    for (const std::string& word : words)
        bytes << word;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkWalkEnd,
    ::testing::Values(
        EndCase{"InsideAListSize", Tail({"LIST", "\x10\0"s}), WalkEnd::EndOfFile, true, 1},
        EndCase{"InsideAListType", Tail({"LIST", "\0\0\0\0mo"s}), WalkEnd::EndOfFile, true, 1},
        EndCase{"InsideARiffSize", Tail({"RIFF", "\xff\xff"}), WalkEnd::EndOfFile, true, 1},
        EndCase{"InsideARiffAvixType", Tail({"RIFF", "\xff\xff\xff\xff", "AVI"}), WalkEnd::EndOfFile, true,
                1},
        EndCase{"InsideAChunkSize", Tail({"01wb", "\x08\0"s}), WalkEnd::EndOfFile, true, 1},
        EndCase{"InsideAListTypeBehindFiller", Tail({"JUNK", "\0\0\0\0"s, "LIST", "\x04\0\0\0m"s}),
                WalkEnd::Filler, true, 1},
        EndCase{"OddChunkWithoutItsPadByte", Tail({"01wb", "\x03\0\0\0abc"s}), WalkEnd::EndOfFile, false, 2},
        EndCase{"WholeListHeader", Tail({"LIST", "\x04\0\0\0movi"s}), WalkEnd::EndOfFile, false, 1},
        EndCase{"CutChunk", Tail({"01wb", "\x40\0\0\0abcd"s}), WalkEnd::CutChunk, true, 2}),
    [](const ::testing::TestParamInfo<EndCase>& param) { return std::string(param.param.name); });

// What a resynchronising search keeps behind damage, and where the walk then ends.
enum class Piece { Frame, OldIndex, HeaderlessIndex, Junk, Damage, CutFrame };

struct KeepCase {
    const char* name;
    std::vector<Piece> pieces;
    std::vector<size_t> kept; // the pieces given as chunks
    WalkEnd end;
    size_t endPiece; // where the walk ends; pieces.size(): the end of the file
};

void PrintTo(const KeepCase& keepCase, std::ostream* out) {
    *out << keepCase.name;
}

class ChunkWalkKeeps : public ::testing::TestWithParam<KeepCase> {};

TEST_P(ChunkWalkKeeps, WholeChunksBehindDamage) {
    const KeepCase& c = GetParam();
    Bytes bytes;
    std::vector<uint64_t> at;
    for (Piece piece : c.pieces) {
        at.push_back(bytes.size());
        switch (piece) {
        case Piece::Frame:
            Chunk(bytes, "00dc", 24);
            break;
        case Piece::OldIndex:
            PutOldIndex(bytes, 3);
            break;
        case Piece::HeaderlessIndex: // its header cleared: the entries alone
            std::fill_n(PutOldIndex(bytes, 3).end() - 56, 8, 0);
            break;
        case Piece::Junk:
            Chunk(bytes, "JUNK", 32, 0);
            break;
        case Piece::Damage:
            PutDamage(bytes);
            break;
        case Piece::CutFrame:
            bytes << "01wb" << 64u << "abcdefgh";
            break;
        }
    }
    at.push_back(bytes.size());
    std::vector<uint64_t> kept;
    for (size_t piece : c.kept)
        kept.push_back(at[piece]);
    const Walked walked = Walk(bytes, 0, 2, PadBytes::Rare);
    EXPECT_EQ(walked.chunks, kept);
    EXPECT_EQ(walked.summary.end, c.end);
    EXPECT_EQ(walked.summary.endOffset, at[c.endPiece]);
}

using enum Piece;
INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkWalkKeeps,
    ::testing::Values(
        KeepCase{"LoneFrameBehindFillerAndDamage",
                 {Frame, OldIndex, Damage, Frame, Damage},
                 {0, 3},
                 WalkEnd::NoChunkBehind,
                 4},
        KeepCase{"LoneFrameBehindFillerEndingTheFile",
                 {Frame, OldIndex, Junk, Damage, Frame},
                 {0, 4},
                 WalkEnd::EndOfFile,
                 5},
        KeepCase{"LoneFrameThenCutFrame",
                 {Frame, Junk, Damage, Frame, Damage, CutFrame},
                 {0, 3, 5},
                 WalkEnd::CutChunk,
                 5},
        KeepCase{"FinalisedFile", {Frame, Frame, OldIndex, Junk}, {0, 1}, WalkEnd::Filler, 2},
        KeepCase{"FillerThenDamage", {Frame, OldIndex, Junk, Damage}, {0}, WalkEnd::Filler, 1},
        KeepCase{"DamageBeforeAnOldIndex", {Frame, Damage, OldIndex, Junk}, {0}, WalkEnd::NoChunkBehind, 1},
        KeepCase{"DamageBeforeAHeaderlessIndex",
                 {Frame, Damage, HeaderlessIndex, Junk},
                 {0},
                 WalkEnd::NoChunkBehind,
                 1}),
    [](const ::testing::TestParamInfo<KeepCase>& param) { return std::string(param.param.name); });

} // namespace
} // namespace clipwright::test
