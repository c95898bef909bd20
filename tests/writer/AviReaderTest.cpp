// The reader is the oracle of later tests, so it is checked on a file assembled here by hand and
// on damaged files.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "AviReader.h"
#include "FilesAndCommands.h"
#include "avi/AviMuxer.h"

namespace clipwright {
namespace {

using avitest::AviReader;
using test::ScratchDir;

void PutU32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

std::string Chunk(const std::string& id, const std::string& data) {
    std::string chunk = id;
    PutU32(chunk, static_cast<uint32_t>(data.size()));
    chunk += data;
    if (data.size() % 2 != 0)
        chunk += '\0';
    return chunk;
}

std::string List(const std::string& type, const std::string& children) {
    return Chunk("LIST", type + children);
}

std::string Words(std::initializer_list<uint32_t> values) {
    std::string out;
    for (uint32_t value : values)
        PutU32(out, value);
    return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(AviReaderTest, ReadsAHandAssembledFile) {
    // avih: 40000 us per frame, has-index, 1 frame, 1 stream, 8 x 6 pixels.
    const std::string avih = Chunk("avih", Words({40000, 0, 0, 0x10, 1, 0, 1, 5, 8, 6, 0, 0, 0, 0}));
    // strh with its rcFrame of four 16-bit values (0, 0, 8, 6).
    const std::string strh =
        Chunk("strh", "vidsDX50" + Words({0, 0, 0, 1, 25, 0, 1, 5, 0, 0, 0, 6u << 16 | 8}));
    const std::string strf =
        Chunk("strf", Words({40, 8, 6, 24u << 16 | 1}) + "DX50" + Words({0, 0, 0, 0, 0}));
    const std::string hdrl = List("hdrl", avih + List("strl", strh + strf));
    const std::string header = "RIFF____AVI " + hdrl;
    // One frame of 5 bytes inside a 'rec ' list; idx1 offsets from the file start.
    const std::string movi = List("movi", List("rec ", Chunk("00dc", "abcde")));
    const uint32_t frameOffset = static_cast<uint32_t>(header.size() + 12 + 12);
    std::string file = header + movi + Chunk("idx1", "00dc" + Words({0x10, frameOffset, 5}));
    file.replace(4, 4, Words({static_cast<uint32_t>(file.size() - 8)}));
    ScratchDir dir;
    const std::string path = dir / "reader-hand-made.avi";
    WriteFile(path, file);

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    EXPECT_EQ(avi.Main().microSecPerFrame, 40000u);
    EXPECT_EQ(avi.Main().width, 8u);
    ASSERT_EQ(avi.Streams().size(), 1u);
    EXPECT_EQ(avi.Streams()[0].header.handler, FourCC("DX50"));
    EXPECT_EQ(avi.Streams()[0].header.rate, 25u);
    EXPECT_EQ(avi.Streams()[0].header.frameRight, 8);
    EXPECT_EQ(avi.Streams()[0].header.frameBottom, 6);
    ASSERT_TRUE(avi.Streams()[0].video.has_value());
    EXPECT_EQ(avi.Streams()[0].video->height, 6);
    EXPECT_EQ(avi.Streams()[0].video->bitCount, 24);
    ASSERT_EQ(avi.MoviChunks().size(), 1u);
    EXPECT_EQ(avi.MoviChunks()[0].offset, frameOffset);
    EXPECT_EQ(avi.MoviChunks()[0].StreamNumber(), 0);
    const std::vector<uint8_t> payload{'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(avi.ReadPayload(avi.MoviChunks()[0]), payload);
    EXPECT_EQ(avi.PadByteAfter(avi.MoviChunks()[0]), uint8_t{0});
    EXPECT_FALSE(avi.IndexRelativeToMovi());
}

TEST(AviReaderTest, ReportsDamageInsteadOfFailing) {
    ScratchDir dir;
    const std::string path = dir / "reader-intact.avi";
    AviMuxer muxer;
    muxer.SetImageFormat(kResolutionQqvga, 10);
    ASSERT_TRUE(muxer.Open(path));
    const std::vector<uint8_t> frame(301, 7);
    muxer.WriteVideoFrame(frame.data(), 301, FrameKind::Key);
    muxer.WriteAudioBlock(frame.data(), 256);
    ASSERT_TRUE(muxer.Finish());
    const std::string intact = ReadFile(path);
    ASSERT_TRUE(AviReader(path).Valid());

    auto errorsOf = [&](const std::string& bytes) {
        const std::string damaged = dir / "reader-damaged.avi";
        WriteFile(damaged, bytes);
        return AviReader(damaged).ErrorText();
    };
    for (size_t length : {size_t{0}, size_t{11}, size_t{100}, size_t{2050}, size_t{2200}, intact.size() - 1})
        EXPECT_NE(errorsOf(intact.substr(0, length)), "") << "cut at " << length;

    const size_t firstChunk = intact.find("00dc", 2060);
    std::string oversized = intact;
    oversized.replace(firstChunk + 4, 4, Words({0x7FFFFFF0}));
    EXPECT_NE(errorsOf(oversized).find("runs past the end of LIST 'movi'"), std::string::npos);

    std::string noMovi = intact;
    noMovi.replace(2056, 4, "mxvi");
    EXPECT_NE(errorsOf(noMovi).find("no LIST 'movi'"), std::string::npos);

    std::string wrongIndex = intact;
    const size_t idx1 = intact.rfind("idx1");
    wrongIndex.replace(idx1 + 8 + 16 + 8, 4, Words({12345}));
    EXPECT_NE(errorsOf(wrongIndex).find("idx1 entry 1"), std::string::npos);
}

} // namespace
} // namespace clipwright
