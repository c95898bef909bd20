// The clipwright-recgen command, run as a separate process.
#include "RecgenTestFiles.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace clipwright;
using namespace clipwright::test;

namespace {

CommandResult Recgen(const std::string& arguments) {
    return RunCommand(std::string(RECGEN_COMMAND_PATH) + " " + arguments);
}

TEST(RecgenCommand, HelpExplainsTheOptionsAndBadOptionsFail) {
    const CommandResult help = Recgen("--help");
    EXPECT_EQ(help.exitStatus, 0);
    for (const char* option : {"--layout", "--resolution", "--fps", "--frames", "--size", "--repeat-every",
                               "--finalised", "--movi-size", "--riff-size", "--cut", "--companion"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

    ScratchDir dir;
    const std::string path = ShellQuote(dir / "bad.avi");
    EXPECT_NE(Recgen(path + " --layout sideways").exitStatus, 0);
    EXPECT_NE(Recgen(path + " --movi-size lots").exitStatus, 0);
    EXPECT_NE(Recgen(path + " --resolution 800x600").exitStatus, 0);
    EXPECT_NE(Recgen(path + " --cut 99999999").exitStatus, 0);
}

TEST(RecgenCommand, ListsTheChunksItWroteWhereTheyStand) {
    ScratchDir dir;
    const std::filesystem::path path = dir / "listed.avi";
    const CommandResult result =
        Recgen(ShellQuote(path) + " --resolution 160x112 --frames 30 --repeat-at 4,5 "
                                  "--lying-size 3:0x80000000 --finalised --chunk-list --companion");
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::vector<uint8_t> bytes = ReadBytes(path);

    std::istringstream lines(result.out);
    std::string id;
    uint64_t position = 0;
    uint64_t sizeField = 0;
    uint64_t video = 0;
    uint64_t chunks = 0;
    while (lines >> id >> position >> sizeField) {
        ASSERT_EQ(id.size(), 6u) << id;
        EXPECT_EQ(FourCCAt(bytes, position).Quoted(), id);
        EXPECT_EQ(U32At(bytes, position + 4), sizeField);
        EXPECT_EQ(sizeField == 0x80000000u, chunks == 3) << "chunk " << chunks;
        if (id == "'00dc'")
            ++video;
        ++chunks;
    }
    EXPECT_EQ(video, 30u);
    EXPECT_EQ(U32At(bytes, 140), 30u);
    EXPECT_TRUE(std::filesystem::exists(path.parent_path() / "listed.sub"));
}

TEST(RecgenCommand, WritesUpToATargetSizeAndCutsTheEnd) {
    ScratchDir dir;
    const std::filesystem::path sized = dir / "sized.avi";
    ASSERT_EQ(Recgen(ShellQuote(sized) + " --size 6M").exitStatus, 0);
    const uint64_t size = std::filesystem::file_size(sized);
    EXPECT_GE(size, 6u << 20);
    EXPECT_LT(size, (6u << 20) + 64 * 1024); // stops at the first chunk past the target

    const std::filesystem::path whole = dir / "whole.avi";
    const std::filesystem::path cut = dir / "cut.avi";
    ASSERT_EQ(Recgen(ShellQuote(whole) + " --frames 12").exitStatus, 0);
    ASSERT_EQ(Recgen(ShellQuote(cut) + " --frames 12 --cut 1000").exitStatus, 0);
    EXPECT_EQ(std::filesystem::file_size(cut) + 1000, std::filesystem::file_size(whole));
}

TEST(RecgenCommand, LostHeaderPutsTheFirstVideoTagAtTheDataStart) {
    ScratchDir dir;
    const std::filesystem::path path = dir / "lost.avi";
    ASSERT_EQ(
        Recgen(ShellQuote(path) + " --layout header-lost --data-start 4500 --lost-fill garbage").exitStatus,
        0);
    const std::vector<uint8_t> bytes = ReadBytes(path);
    EXPECT_EQ(FirstVideoTagRun(bytes, 4096), -1);
    EXPECT_EQ(FirstVideoTagRun(bytes, bytes.size()), 4500);
}

TEST(RecgenCommand, HeaderValuesCanDisagreeWithThePayloads) {
    ScratchDir dir;
    const std::filesystem::path path = dir / "odd-header.avi";
    ASSERT_EQ(Recgen(ShellQuote(path) +
                     " --resolution 320x240 --header-size 112x160 --header-scale 2 "
                     "--header-rate 15 --layout shifted --riff-size header --movi-size 0x7fffffff")
                  .exitStatus,
              0);
    const std::vector<uint8_t> bytes = ReadBytes(path);
    EXPECT_EQ(U32At(bytes, 64), 112u);
    EXPECT_EQ(U32At(bytes, 68), 160u);
    EXPECT_EQ(U32At(bytes, 128), 2u);
    EXPECT_EQ(U32At(bytes, 132), 15u);
    EXPECT_EQ(U32At(bytes, 4), 2040u); // shifted: RIFF over the header block ending at the first chunk, 2048
    EXPECT_EQ(U32At(bytes, 2040), 0x7FFFFFFFu);
}

} // namespace
