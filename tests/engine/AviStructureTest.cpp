// The structure reader for other recorders' AVIs: what it accepts and what it refuses, on small
// files built in memory, one change from a readable file per case.
#include "avi/AviStructure.h"
#include "RiffBuilder.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace clipwright::test {
namespace {

using namespace fourcc;

struct Plan {
    FourCC form = kAvi;
    uint32_t declaredStreams = 2;
    uint32_t streamLists = 2;
    bool streamFormats = true;
    std::optional<uint32_t> superIndexEntries = std::nullopt; // an 'indx' in the first stream list
    size_t headerJunk = 0;                                    // bytes of JUNK at the end of the header list
    bool moviBeforeHeader = false;
    bool chunksBeforeMovi = false; // JUNK and LIST INFO, as recorders write them
    uint32_t moviSize = 4;
    bool headerPastTheFile = false;
    // The last stream's format of odd size, and the header list's size short of its pad byte, as
    // MEncoder leaves a file it was killed writing.
    bool headerSizeWithoutPad = false;
};

struct Built {
    Bytes bytes;
    uint64_t moviPosition = 0;
};

void PutChunk(recgen::RiffBuilder& riff, FourCC id, size_t zeros) {
    const size_t chunk = riff.BeginChunk(id);
    riff.PutZeros(zeros);
    riff.EndChunk(chunk);
}

Built Build(const Plan& plan) {
    recgen::RiffBuilder riff;
    Built built;
    const size_t riffSize = riff.BeginList(kRiff, plan.form);
    auto putMovi = [&] {
        built.moviPosition = riff.Size();
        riff.PutFourCC(kList);
        riff.PutU32(plan.moviSize);
        riff.PutFourCC(kMovi);
        PutChunk(riff, kVideo00dc, 16);
    };
    if (plan.moviBeforeHeader)
        putMovi();

    const size_t header = riff.BeginList(kList, kHdrl);
    const size_t mainHeader = riff.BeginChunk(kAvih);
    riff.PutZeros(24);
    riff.PutU32(plan.declaredStreams); // dwStreams
    riff.PutZeros(28);
    riff.EndChunk(mainHeader);
    for (uint32_t i = 0; i < plan.streamLists; ++i) {
        const size_t list = riff.BeginList(kList, kStrl);
        const size_t streamHeader = riff.BeginChunk(kStrh);
        riff.PutFourCC(i == 0 ? kVids : kAuds); // fccType
        riff.PutZeros(52);
        riff.EndChunk(streamHeader);
        if (plan.streamFormats)
            PutChunk(riff, kStrf, plan.headerSizeWithoutPad && i + 1 == plan.streamLists ? 39 : 40);
        if (i == 0 && plan.superIndexEntries) {
            const size_t index = riff.BeginChunk(kIndx);
            riff.PutU16(4);                       // wLongsPerEntry
            riff.PutU16(0);                       // bIndexSubType, bIndexType
            riff.PutU32(*plan.superIndexEntries); // nEntriesInUse
            riff.PutFourCC(kVideo00dc);           // dwChunkId
            riff.PutZeros(12 + 16 * size_t{*plan.superIndexEntries});
            riff.EndChunk(index);
        }
        riff.EndChunk(list);
    }
    if (plan.headerJunk > 0)
        PutChunk(riff, kJunk, plan.headerJunk);
    riff.EndChunk(header);

    if (plan.chunksBeforeMovi) {
        PutChunk(riff, kJunk, 20);
        const size_t info = riff.BeginList(kList, FourCC("INFO"));
        PutChunk(riff, FourCC("ISFT"), 13);
        riff.EndChunk(info);
    }
    if (!plan.moviBeforeHeader)
        putMovi();
    riff.EndChunk(riffSize);

    built.bytes = riff.Take();
    if (plan.headerPastTheFile)
        PutU32(built.bytes, header, static_cast<uint32_t>(built.bytes.size()));
    if (plan.headerSizeWithoutPad)
        PutU32(built.bytes, header, U32At(built.bytes, header) - 1);
    return built;
}

struct StructureCase {
    const char* name;
    Plan plan;
    bool readable;
};

void PrintTo(const StructureCase& structureCase, std::ostream* out) {
    *out << structureCase.name;
}

class ReadAviStructureCase : public ::testing::TestWithParam<StructureCase> {};

TEST_P(ReadAviStructureCase, ReadsWholeHeadersOnly) {
    const Plan& plan = GetParam().plan;
    const Built built = Build(plan);
    MemorySource source(built.bytes);
    const std::optional<AviStructure> structure = ReadAviStructure(source, built.bytes.size());
    ASSERT_EQ(structure.has_value(), GetParam().readable);
    if (!structure)
        return;
    EXPECT_EQ(structure->streams.size(), plan.declaredStreams);
    EXPECT_EQ(structure->moviListPosition, built.moviPosition);
    EXPECT_EQ(structure->moviListSize, plan.moviSize);
    const std::optional<SuperIndexInfo>& index = structure->streams.front().superIndex;
    ASSERT_EQ(index.has_value(), plan.superIndexEntries.has_value());
    if (index) {
        EXPECT_EQ(index->declaredEntries, *plan.superIndexEntries);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadAviStructureCase,
    ::testing::Values(StructureCase{"NotAnAvi", {.form = FourCC("WAVE")}, false},
                      StructureCase{"HeaderListPastTheFile", {.headerPastTheFile = true}, false},
                      StructureCase{"MoreStreamsThanLists", {.declaredStreams = 3}, false},
                      StructureCase{"StreamListWithoutFormat", {.streamFormats = false}, false},
                      StructureCase{"MoviBeforeHeaderList", {.moviBeforeHeader = true}, false},
                      StructureCase{"HeaderListOverOneMebibyte", {.headerJunk = size_t{1} << 20}, false},
                      StructureCase{"HundredStreams", {.declaredStreams = 100, .streamLists = 100}, true},
                      StructureCase{
                          "HundredAndOneStreams", {.declaredStreams = 101, .streamLists = 101}, false},
                      StructureCase{"JunkAndInfoBeforeMovi", {.chunksBeforeMovi = true}, true},
                      StructureCase{"MoviSizeAllOnes", {.moviSize = 0xFFFFFFFF}, true},
                      StructureCase{"EmptySuperIndex", {.superIndexEntries = 0}, true},
                      StructureCase{"HeaderListSizeWithoutItsPadByte", {.headerSizeWithoutPad = true}, true}),
    [](const ::testing::TestParamInfo<StructureCase>& param) { return std::string(param.param.name); });

// Two streams with room for two super index entries each; in the movi list a chunk of each, two
// ix## of each stream listing its chunk, an ix00 listing the 01wb chunk, and behind it an idx1.
struct OpenDmlFile {
    Bytes bytes;
    uint64_t superIndexes[2] = {};
    std::map<std::string, uint64_t> at; // where each ix## and the idx1 stand
};

OpenDmlFile BuildOpenDml() {
    recgen::RiffBuilder riff;
    OpenDmlFile file;
    const size_t form = riff.BeginList(kRiff, kAvi);
    const size_t header = riff.BeginList(kList, kHdrl);
    const size_t mainHeader = riff.BeginChunk(kAvih);
    riff.PutZeros(24);
    riff.PutU32(2); // dwStreams
    riff.PutZeros(28);
    riff.EndChunk(mainHeader);
    for (size_t i = 0; i < 2; ++i) {
        const size_t list = riff.BeginList(kList, kStrl);
        const size_t streamHeader = riff.BeginChunk(kStrh);
        riff.PutFourCC(i == 0 ? kVids : kAuds);
        riff.PutZeros(52);
        riff.EndChunk(streamHeader);
        PutChunk(riff, kStrf, 40);
        file.superIndexes[i] = riff.Size();
        const size_t index = riff.BeginChunk(kIndx);
        riff.PutU16(4); // wLongsPerEntry
        riff.PutU16(0); // an index of indexes
        riff.PutU32(0); // nEntriesInUse
        riff.PutFourCC(i == 0 ? kVideo00dc : kAudio01wb);
        riff.PutZeros(12 + 2 * 16);
        riff.EndChunk(index);
        riff.EndChunk(list);
    }
    riff.EndChunk(header);
    const size_t movi = riff.BeginList(kList, kMovi);
    const uint64_t video = riff.Size();
    PutChunk(riff, kVideo00dc, 16);
    const uint64_t audio = riff.Size();
    PutChunk(riff, kAudio01wb, 8);
    auto putIndex = [&](const std::string& name, FourCC id, FourCC listed, uint64_t chunk, uint32_t size) {
        file.at[name] = riff.Size();
        const size_t index = riff.BeginChunk(id);
        riff.PutU16(2);      // wLongsPerEntry
        riff.PutU16(0x0100); // an index of chunks
        riff.PutU32(1);      // nEntriesInUse
        riff.PutFourCC(listed);
        riff.PutZeros(12); // base 0: offsets count from the file's start
        riff.PutU32(static_cast<uint32_t>(chunk + 8));
        riff.PutU32(size);
        riff.EndChunk(index);
    };
    putIndex("ix00", FourCC("ix00"), kVideo00dc, video, 16);
    putIndex("ix00 again", FourCC("ix00"), kVideo00dc, video, 16);
    putIndex("ix01", FourCC("ix01"), kAudio01wb, audio, 8);
    putIndex("ix01 again", FourCC("ix01"), kAudio01wb, audio, 8);
    putIndex("ix00 listing 01wb", FourCC("ix00"), kVideo00dc, audio, 8);
    riff.EndChunk(movi);
    file.at["idx1"] = riff.Size();
    PutChunk(riff, kIdx1, 32);
    riff.EndChunk(form);
    file.bytes = riff.Take();
    file.at["past the end"] = file.bytes.size() + 64;
    return file;
}

TEST(ReadAviStructure, TrustsOnlySuperIndexEntriesThatLeadToTheirStreamsIxAndThatEveryStreamHas) {
    struct Case {
        const char* name;
        std::vector<std::string> entries[2]; // where each stream's super index entries point
        bool secondStreamIndexed;
        uint32_t trusted;
    };
    const Case cases[] = {
        {"each at its own stream's ix##", {{"ix00", "ix00 again"}, {"ix01", "ix01 again"}}, true, 2},
        {"at the idx1, as an earlier repair left them", {{"idx1"}, {"idx1"}}, true, 0},
        {"one stream an entry ahead", {{"ix00", "ix00 again"}, {"ix01"}}, true, 1},
        {"past the end of the file", {{"ix00", "past the end"}, {"ix01", "ix01 again"}}, true, 1},
        {"at the other stream's ix##", {{"ix01"}, {"ix01"}}, true, 0},
        {"at an ix## listing another stream's chunk", {{"ix00 listing 01wb"}, {"ix01"}}, true, 0},
        {"beside a stream without a super index", {{"ix00"}, {"ix01"}}, false, 0},
    };
    const OpenDmlFile built = BuildOpenDml();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = built.bytes;
        for (size_t stream = 0; stream < 2; ++stream) {
            const size_t index = built.superIndexes[stream];
            PutU32(bytes, index + 12, static_cast<uint32_t>(c.entries[stream].size()));
            for (size_t slot = 0; slot < c.entries[stream].size(); ++slot)
                PutU32(bytes, index + 32 + 16 * slot,
                       static_cast<uint32_t>(built.at.at(c.entries[stream][slot])));
        }
        if (!c.secondStreamIndexed)
            PutFourCC(bytes, built.superIndexes[1], "JUNK");
        MemorySource source(bytes);
        const std::optional<AviStructure> structure = ReadAviStructure(source, bytes.size());
        ASSERT_TRUE(structure.has_value());
        for (size_t stream = 0; stream < 2; ++stream) {
            const std::optional<SuperIndexInfo>& index = structure->streams[stream].superIndex;
            if (stream == 1 && !c.secondStreamIndexed) {
                EXPECT_FALSE(index.has_value());
                continue;
            }
            ASSERT_TRUE(index.has_value()) << "stream " << stream;
            EXPECT_EQ(index->declaredEntries, c.entries[stream].size()) << "stream " << stream;
            EXPECT_EQ(index->entriesInUse, c.trusted) << "stream " << stream;
            ASSERT_EQ(index->entries.size(), c.trusted) << "stream " << stream;
            for (const SuperIndexEntry& entry : index->entries) {
                EXPECT_EQ(entry.chunkId, stream == 0 ? kVideo00dc : kAudio01wb);
                EXPECT_EQ(entry.chunks, 1u);
                EXPECT_EQ(entry.chunkEnd, entry.offset + 8 + 32);
            }
        }
    }
}

} // namespace
} // namespace clipwright::test
