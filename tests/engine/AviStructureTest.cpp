// The structure reader for other recorders' AVIs: what it accepts and what it refuses, on small
// files built in memory, one change from a readable file per case.
#include "avi/AviStructure.h"
#include "RiffBuilder.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <optional>

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
            PutChunk(riff, kStrf, 40);
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
        EXPECT_EQ(index->entriesInUse, *plan.superIndexEntries);
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
                      StructureCase{"EmptySuperIndex", {.superIndexEntries = 0}, true}),
    [](const ::testing::TestParamInfo<StructureCase>& param) { return std::string(param.param.name); });

} // namespace
} // namespace clipwright::test
