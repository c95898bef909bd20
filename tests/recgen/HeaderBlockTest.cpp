#include "RecgenTestFiles.h"
#include "RecordingWriter.h"

#include <gtest/gtest.h>

using namespace clipwright;
using namespace clipwright::recgen;
using namespace clipwright::test;

namespace {

const std::vector<uint8_t> kKeyFrame{0, 0, 1, 0x00, 0, 0, 1, 0x20, 0x11, 0, 0, 1, 0xB6, 0x22, 0x33};

// Writes a recording of one key frame and one audio block and returns its bytes.
std::vector<uint8_t> WriteOneFrame(const HeaderOptions& header, const FinishOptions& finish = {}) {
    ScratchDir dir;
    const std::filesystem::path path = dir / "header.avi";
    RecordingWriter writer(path, header);
    writer.AppendChunk(fourcc::kVideo00dc, kKeyFrame);
    writer.AppendChunk(fourcc::kAudio01wb, std::vector<uint8_t>(256, 0x5A));
    writer.Finish(finish);
    return ReadBytes(path);
}

// Walks the chunks of a list body [begin, end) as RIFF lays them out (pad byte after odd sizes) and checks
// that they tile it exactly; returns the ids met, lists descended into.
std::vector<std::string> WalkList(const std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end) {
    std::vector<std::string> ids;
    uint64_t at = begin;
    while (at < end) {
        const FourCC id = FourCCAt(bytes, at);
        const uint32_t size = U32At(bytes, at + 4);
        const uint64_t next = at + 8 + size + (size % 2);
        EXPECT_LE(next, end) << id << " at " << at << " overruns its list";
        ids.push_back(id.Quoted());
        if (id == fourcc::kList) {
            ids.push_back(FourCCAt(bytes, at + 8).Quoted());
            for (const std::string& inner : WalkList(bytes, at + 12, next))
                ids.push_back(inner);
        }
        at = next;
    }
    EXPECT_EQ(at, end);
    return ids;
}

TEST(HeaderBlock, StandardLayoutIsAWellFormedCameraHeader) {
    HeaderOptions header;
    header.width = 320;
    header.height = 240;
    header.videoScale = 1001;
    header.videoRate = 30000;
    const std::vector<uint8_t> bytes = WriteOneFrame(header);

    EXPECT_EQ(FourCCAt(bytes, 0), FourCC("RIFF"));
    EXPECT_EQ(FourCCAt(bytes, 8), FourCC("AVI "));
    // hdrl, then JUNK up to the movi LIST at 2048 whose first chunk stands at 2060.
    const std::vector<std::string> expected{"'LIST'", "'hdrl'", "'avih'", "'LIST'", "'strl'",
                                            "'strh'", "'strf'", "'JUNK'", "'LIST'", "'strl'",
                                            "'strh'", "'strf'", "'JUNK'"};
    EXPECT_EQ(WalkList(bytes, 12, 2048), expected);
    EXPECT_EQ(FourCCAt(bytes, 2048), FourCC("LIST"));
    EXPECT_EQ(FourCCAt(bytes, 2056), FourCC("movi"));
    EXPECT_EQ(FourCCAt(bytes, 2060), FourCC("00dc"));

    EXPECT_EQ(U32At(bytes, 28), 56u);    // avih size
    EXPECT_EQ(U32At(bytes, 32), 33366u); // dwMicroSecPerFrame for 30000/1001
    EXPECT_EQ(U32At(bytes, 56), 2u);     // dwStreams
    EXPECT_EQ(U32At(bytes, 64), 320u);
    EXPECT_EQ(U32At(bytes, 68), 240u);
    EXPECT_EQ(FourCCAt(bytes, 108), FourCC("vids"));
    EXPECT_EQ(FourCCAt(bytes, 112), FourCC("DIVX"));
    EXPECT_EQ(U32At(bytes, 128), 1001u);
    EXPECT_EQ(U32At(bytes, 132), 30000u);
    EXPECT_EQ(U32At(bytes, 172), 40u);  // biSize
    EXPECT_EQ(U32At(bytes, 176), 320u); // biWidth
    EXPECT_EQ(U32At(bytes, 180), 240u); // biHeight
    EXPECT_EQ(FourCCAt(bytes, 188), FourCC("DX50"));

    EXPECT_EQ(FourCCAt(bytes, 488), FourCC("auds"));
    EXPECT_EQ(U32At(bytes, 508), 256u);  // dwScale
    EXPECT_EQ(U32At(bytes, 512), 4096u); // dwRate
    EXPECT_EQ(U32At(bytes, 532), 256u);  // dwSampleSize
    const uint64_t wave = 488 + 56 + 8;  // audio strf data
    EXPECT_EQ(U32At(bytes, wave - 4), 50u);
    EXPECT_EQ(U16At(bytes, wave), 2u);        // MS-ADPCM
    EXPECT_EQ(U16At(bytes, wave + 2), 1u);    // mono
    EXPECT_EQ(U32At(bytes, wave + 4), 8000u); // samples per second
    EXPECT_EQ(U32At(bytes, wave + 8), 4096u); // average bytes per second
    EXPECT_EQ(U16At(bytes, wave + 12), 256u); // block align
    EXPECT_EQ(U16At(bytes, wave + 14), 4u);   // bits per sample
    EXPECT_EQ(U16At(bytes, wave + 16), 32u);  // cbSize
    EXPECT_EQ(U16At(bytes, wave + 18), 500u); // samples per block
    EXPECT_EQ(U16At(bytes, wave + 20), 7u);   // coefficient pairs
    EXPECT_EQ(U16At(bytes, wave + 26), 512u); // second pair: 512, -256
    EXPECT_EQ(U16At(bytes, wave + 28), 0xFF00u);
}

TEST(HeaderBlock, ShiftedAndOtherListMoveOnlyTheChunkList) {
    HeaderOptions shifted;
    shifted.layout = HeaderLayout::Shifted;
    const std::vector<uint8_t> shiftedBytes = WriteOneFrame(shifted);
    EXPECT_EQ(FourCCAt(shiftedBytes, 2036), FourCC("LIST"));
    EXPECT_EQ(FourCCAt(shiftedBytes, 2044), FourCC("movi"));
    EXPECT_EQ(FourCCAt(shiftedBytes, 2048), FourCC("00dc"));
    EXPECT_EQ(WalkList(shiftedBytes, 12, 2036).back(), "'JUNK'");

    HeaderOptions other;
    other.layout = HeaderLayout::OtherList;
    other.otherListType = FourCC("rec ");
    const std::vector<uint8_t> otherBytes = WriteOneFrame(other);
    EXPECT_EQ(FourCCAt(otherBytes, 2048), FourCC("LIST"));
    EXPECT_EQ(FourCCAt(otherBytes, 2056), FourCC("rec "));
    EXPECT_EQ(FourCCAt(otherBytes, 2060), FourCC("00dc"));
}

TEST(HeaderBlock, AudioHeaderShiftedByEightMovesItsLength) {
    HeaderOptions header;
    header.audioHeader = AudioHeaderPlace::ShiftedBy8;
    const std::vector<uint8_t> bytes = WriteOneFrame(header, FinishOptions::Finalised());
    EXPECT_NE(FourCCAt(bytes, 488), FourCC("auds"));
    EXPECT_EQ(FourCCAt(bytes, 496), FourCC("auds"));
    EXPECT_EQ(U32At(bytes, 140), 1u);    // one video frame
    EXPECT_EQ(U32At(bytes, 528), 1u);    // one audio block, counted where the shifted header has dwLength
    EXPECT_EQ(U32At(bytes, 520), 4096u); // where dwRate now stands, untouched
    EXPECT_EQ(WalkList(bytes, 12, 2048).size(), 13u);
}

TEST(HeaderBlock, LostHeaderHidesEveryVideoTagRunBeforeTheData) {
    for (const LostHeaderFill fill : {LostHeaderFill::Zeros, LostHeaderFill::Garbage}) {
        for (const uint32_t dataStart : {1000u, 5000u}) {
            HeaderOptions header;
            header.layout = HeaderLayout::HeaderLost;
            header.lostHeaderFill = fill;
            header.lostHeaderDataStart = dataStart;
            const std::vector<uint8_t> bytes = WriteOneFrame(header, FinishOptions::Finalised());
            EXPECT_NE(FourCCAt(bytes, 0), FourCC("RIFF"));
            EXPECT_EQ(FirstVideoTagRun(bytes, bytes.size()), dataStart);
            EXPECT_EQ(FourCCAt(bytes, dataStart), FourCC("00dc"));
            if (fill == LostHeaderFill::Zeros)
                EXPECT_EQ(std::count(bytes.begin(), bytes.begin() + dataStart, 0), dataStart);
            else
                EXPECT_LT(std::count(bytes.begin(), bytes.begin() + dataStart, 0), dataStart / 16);
        }
    }
}

} // namespace
