// The muxer's files read back by our own reader; expected values come from the AVI format and the
// camera's stream settings, computed here.
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AviReader.h"
#include "FilesAndCommands.h"
#include "ReaderOracles.h"
#include "TruthWalk.h"
#include "avi/AviMuxer.h"
#include "platform/FaultPoints.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using avitest::AviReader;
using test::ScratchDir;
using test::U32At;

constexpr uint32_t kKeyFlag = 0x10;
constexpr uint64_t kFirstChunk = 2060; // header region, then 'LIST' size 'movi'
constexpr uint64_t kEmptyFileSize = kFirstChunk + 8;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

class AviMuxerTest : public ::testing::Test {
protected:
    void TearDown() override {
        faults::Disarm();
        AviMuxer::SetPartSizeForTests(0);
    }

    void Open(const std::string& name, ResolutionCode code = kResolutionQqvga,
              uint32_t framesPerSecond = 10) {
        path = scratch / name;
        muxer.SetImageFormat(code, framesPerSecond);
        ASSERT_TRUE(muxer.Open(path));
    }
    bool Frame(uint32_t size, FrameKind kind = FrameKind::Delta) {
        const auto frame = Pattern(size, 0x5A); // exactly `size` bytes: nothing may be read past them
        return muxer.WriteVideoFrame(frame.data(), size, kind);
    }
    bool Block(uint32_t size) {
        const auto block = Pattern(size, 0x11);
        return muxer.WriteAudioBlock(block.data(), size);
    }
    // A short sequence of both kinds, for the failure tests.
    bool WriteSome() {
        bool accepted = true;
        for (int i = 0; i < 4; ++i)
            accepted = Frame(3001, i == 0 ? FrameKind::Key : FrameKind::Delta) && Block(256) && accepted;
        return accepted;
    }

    ScratchDir scratch;
    AviMuxer muxer;
    std::string path;
};

TEST_F(AviMuxerTest, WritesHeadersChunksAndIndexOfBothStreams) {
    Open("muxer-two-streams.avi");
    ASSERT_TRUE(Frame(1001, FrameKind::Key));
    ASSERT_TRUE(Block(256));
    ASSERT_TRUE(Frame(4, FrameKind::Delta));
    ASSERT_TRUE(Block(255));
    ASSERT_TRUE(muxer.Finish());
    EXPECT_TRUE(muxer.Complete());
    EXPECT_EQ(muxer.Failure(), MuxerFailure::None);

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    EXPECT_EQ(avi.FileSize(), fs::file_size(path));
    ASSERT_EQ(avi.TopLevel().size(), 4u);
    EXPECT_EQ(avi.TopLevel()[0].listType, fourcc::kHdrl);
    EXPECT_EQ(avi.TopLevel()[1].id, fourcc::kJunk);
    EXPECT_EQ(avi.TopLevel()[3].id, fourcc::kIdx1);
    EXPECT_EQ(avi.MoviListOffset(), 2048u);

    using namespace avitest;
    EXPECT_EQ(avi.Main(), (MainHeader{.microSecPerFrame = 100000,         // 10 frames per second
                                      .maxBytesPerSec = 1002 * 10 + 4096, // largest frame, audio
                                      .flags = 0x110,                     // has index, interleaved
                                      .totalFrames = 3,                   // the empty one included
                                      .streams = 2,
                                      .suggestedBufferSize = 1002,
                                      .width = 160,
                                      .height = 112}));
    ASSERT_EQ(avi.Streams().size(), 2u);
    EXPECT_EQ(avi.Streams()[0].header, (StreamHeader{.type = fourcc::kVids,
                                                     .handler = fourcc::kDivx,
                                                     .initialFrames = 1,
                                                     .scale = 1000,
                                                     .rate = 10000,
                                                     .length = 3,
                                                     .suggestedBufferSize = 1002,
                                                     .quality = 2000,
                                                     .hasFrame = true,
                                                     .frameRight = 160,
                                                     .frameBottom = 112}));
    EXPECT_EQ(avi.Streams()[0].formatBytes.size(), 40u);
    EXPECT_EQ(avi.Streams()[0].video, (VideoFormat{.headerSize = 40,
                                                   .width = 160,
                                                   .height = 112,
                                                   .planes = 1,
                                                   .bitCount = 24,
                                                   .compression = fourcc::kDx50,
                                                   .imageSize = 129600}));
    EXPECT_EQ(avi.Streams()[1].header, (StreamHeader{.type = fourcc::kAuds,
                                                     .handler = FourCC(),
                                                     .scale = 256,
                                                     .rate = 4096,
                                                     .length = 1, // 511 bytes: one whole block
                                                     .suggestedBufferSize = 256,
                                                     .quality = 2000,
                                                     .sampleSize = 256,
                                                     .hasFrame = true}));
    EXPECT_EQ(avi.Streams()[1].formatBytes.size(), 50u);
    EXPECT_EQ(
        avi.Streams()[1].audio,
        (AudioFormat{
            .formatTag = 2,
            .channels = 1,
            .samplesPerSec = 8000,
            .avgBytesPerSec = 4096,
            .blockAlign = 256,
            .bitsPerSample = 4,
            .extraSize = 32,
            .samplesPerBlock = 500,
            .coefficients = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}}}));

    // The odd frame is stored with a zero byte, counted in its size; the odd block gets a pad byte.
    auto evenFrame = Pattern(1001, 0x5A);
    evenFrame.push_back(0);
    const std::vector<std::vector<uint8_t>> payloads{
        {}, evenFrame, Pattern(256, 0x11), Pattern(4, 0x5A), Pattern(255, 0x11)};
    const std::vector<FourCC> ids{"00dc", "00dc", "01wb", "00dc", "01wb"};
    const std::vector<uint32_t> flags{0, kKeyFlag, 0, 0, 0};
    ASSERT_EQ(avi.MoviChunks().size(), payloads.size());
    ASSERT_EQ(avi.Index().size(), payloads.size());
    for (size_t i = 0; i < payloads.size(); ++i) {
        const auto& chunk = avi.MoviChunks()[i];
        EXPECT_EQ(chunk.id, ids[i]) << i;
        EXPECT_EQ(avi.ReadPayload(chunk), payloads[i]) << i;
        EXPECT_EQ(avi.Index()[i].flags, flags[i]) << i;
    }
    EXPECT_EQ(avi.PadByteAfter(avi.MoviChunks()[4]), uint8_t{0});
    EXPECT_TRUE(avi.IndexRelativeToMovi());
    EXPECT_EQ(avi.Index()[0].offset, 4u);
}

TEST_F(AviMuxerTest, EachResolutionCodeAndRateReachTheHeaders) {
    struct Case {
        ResolutionCode code;
        uint32_t framesPerSecond;
        int32_t width, height;
        uint32_t microSecPerFrame;
    };
    for (const Case& c :
         {Case{kResolutionVga, 15, 640, 480, 66667}, Case{kResolutionQvga, 30, 320, 240, 33333},
          Case{kResolutionQqvga, 5, 160, 112, 200000}, Case{kResolutionUnknown, 7, 160, 112, 142857},
          Case{kResolutionVga, 0, 640, 480, 0}}) {
        SCOPED_TRACE(testing::Message() << int{c.code} << " at " << c.framesPerSecond);
        Open("muxer-format.avi", c.code, c.framesPerSecond);
        ASSERT_TRUE(Frame(10, FrameKind::Key));
        ASSERT_TRUE(muxer.Finish());
        const AviReader avi(path);
        ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
        ASSERT_EQ(avi.Streams().size(), 1u); // video only
        EXPECT_EQ(avi.Main().microSecPerFrame, c.microSecPerFrame);
        EXPECT_EQ(avi.Main().width, static_cast<uint32_t>(c.width));
        EXPECT_EQ(avi.Main().height, static_cast<uint32_t>(c.height));
        EXPECT_EQ(avi.Streams()[0].header.rate, c.framesPerSecond * 1000);
        EXPECT_EQ(avi.Streams()[0].header.frameRight, c.width);
        EXPECT_EQ(avi.Streams()[0].header.frameBottom, c.height);
        EXPECT_EQ(avi.Streams()[0].video->width, c.width);
        EXPECT_EQ(avi.Streams()[0].video->height, c.height);
        EXPECT_EQ(avi.Streams()[0].video->imageSize, 129600u);
    }
}

TEST_F(AviMuxerTest, RepeatFramesAreEmptyChunksFlaggedByTheirKind) {
    Open("muxer-repeats.avi");
    ASSERT_TRUE(Frame(500, FrameKind::Delta));
    ASSERT_TRUE(muxer.WriteRepeatFrame(FrameKind::Key));
    ASSERT_TRUE(muxer.WriteRepeatFrame(FrameKind::Delta));
    ASSERT_TRUE(Frame(0, FrameKind::Key)); // a frame without bytes is an empty chunk as well
    ASSERT_TRUE(muxer.Finish());

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    const std::vector<uint32_t> sizes{0, 500, 0, 0, 0};
    const std::vector<uint32_t> flags{0, 0, kKeyFlag, 0, kKeyFlag};
    ASSERT_EQ(avi.Index().size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(avi.MoviChunks()[i].size, sizes[i]) << i;
        EXPECT_EQ(avi.Index()[i].flags, flags[i]) << i;
    }
    EXPECT_EQ(avi.Main().totalFrames, 5u);
    EXPECT_EQ(avi.Streams()[0].header.length, 5u);
}

TEST_F(AviMuxerTest, AudioOnlyFileHoldsOneStreamCountedInWholeBlocks) {
    Open("muxer-audio-only.avi");
    ASSERT_TRUE(Block(256));
    ASSERT_TRUE(Block(255));
    ASSERT_TRUE(Block(256));
    ASSERT_TRUE(muxer.Finish());

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    ASSERT_EQ(avi.Streams().size(), 1u);
    EXPECT_EQ(avi.Streams()[0].header.type, fourcc::kAuds);
    EXPECT_EQ(avi.Streams()[0].header.length, 2u); // 767 bytes
    EXPECT_EQ(avi.Main().totalFrames, 0u);
    EXPECT_EQ(avi.Main().microSecPerFrame, 0u);
    EXPECT_EQ(avi.Main().width, 0u);
    EXPECT_EQ(avi.Main().maxBytesPerSec, 4096u);
    ASSERT_EQ(avi.MoviChunks().size(), 3u);
    EXPECT_EQ(avi.MoviChunks()[0].id, FourCC("00wb"));
    EXPECT_EQ(avi.PadByteAfter(avi.MoviChunks()[1]), uint8_t{0});
}

TEST_F(AviMuxerTest, StreamsAreNumberedInCreationOrderAndVideoTakesTheSettingsOfItsFirstFrame) {
    Open("muxer-audio-first.avi", kResolutionVga, 15);
    ASSERT_TRUE(Block(256));
    muxer.SetImageFormat(kResolutionQvga, 0); // before the first frame: taken
    ASSERT_TRUE(Frame(300, FrameKind::Key));
    muxer.SetImageFormat(kResolutionVga, 30); // after it: not
    ASSERT_TRUE(Frame(300));
    ASSERT_TRUE(Block(256));
    ASSERT_TRUE(muxer.Finish());

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    ASSERT_EQ(avi.Streams().size(), 2u);
    EXPECT_EQ(avi.Streams()[0].header.type, fourcc::kAuds);
    EXPECT_EQ(avi.Streams()[1].header.type, fourcc::kVids);
    EXPECT_EQ(avi.Streams()[1].header.rate, 0u);
    EXPECT_EQ(avi.Streams()[1].video->width, 320);
    EXPECT_EQ(avi.Main().microSecPerFrame, 0u);
    EXPECT_EQ(avi.Main().width, 320u);
    const std::vector<FourCC> ids{"00wb", "01dc", "01dc", "01dc", "00wb"};
    ASSERT_EQ(avi.MoviChunks().size(), ids.size());
    for (size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(avi.MoviChunks()[i].id, ids[i]) << i;
}

TEST_F(AviMuxerTest, OpeningEmptiesAnExistingFileWithTheGivenMode) {
    path = scratch / "muxer-emptied.avi";
    std::ofstream(path, std::ios::binary) << std::string(100000, 'x');
    ASSERT_TRUE(muxer.Open(path));
    ASSERT_TRUE(muxer.Finish());
    const AviReader avi(path);
    EXPECT_TRUE(avi.Valid()) << avi.ErrorText();
    EXPECT_EQ(avi.FileSize(), kEmptyFileSize);
    EXPECT_TRUE(avi.Streams().empty());

    const std::string created = scratch / "muxer-mode.avi";
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_TRUE(muxer.Open(created, 0640));
    ASSERT_TRUE(muxer.Finish());
    struct stat status {};
    ASSERT_EQ(::stat(created.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640 & ~mask);
}

TEST_F(AviMuxerTest, AFailedOpenLeavesNothingOpenAndLinksAreNotFollowed) {
    const std::string target = scratch / "muxer-link-target";
    std::ofstream(target) << "keep";
    const std::string link = scratch / "muxer-link.avi";
    fs::create_symlink(target, link);
    struct Case {
        std::string path;
        int error;
    };
    for (const Case& c : {Case{"/nonexistent-folder/out.avi", ENOENT}, Case{link, ELOOP}}) {
        EXPECT_FALSE(muxer.Open(c.path)) << c.path;
        EXPECT_FALSE(muxer.IsOpen());
        EXPECT_EQ(muxer.Failure(), MuxerFailure::System);
        EXPECT_EQ(muxer.SystemError(), c.error) << c.path;
        EXPECT_FALSE(Frame(2));
        EXPECT_FALSE(Block(2));
        EXPECT_FALSE(muxer.Finish());
    }
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
}

// Each RIFF part's size field, in file order.
std::vector<uint32_t> PartSizes(const std::string& path) {
    const test::Bytes bytes = test::ReadBytes(path);
    std::vector<uint32_t> sizes;
    for (size_t at = 0; at + 8 <= bytes.size(); at += 8 + sizes.back())
        sizes.push_back(U32At(bytes, at + 4));
    return sizes;
}

TEST_F(AviMuxerTest, APartWithTheIndexesItClosesWithStaysBelowThePartSize) {
    // Parts of 4096 bytes. The first frame (1000 bytes, after its empty chunk) makes a part of
    // 2060 + 8 + 1008 and, were it closed, ix00 (32 + 2 x 8) and idx1 (8 + 2 x 16): 3164 bytes.
    // The next frame adds 8 + its size, and 24 bytes of indexes.
    struct Case {
        uint32_t size;
        std::vector<uint32_t> parts; // RIFF sizes
    };
    for (const Case& c : {Case{898, {4030}}, Case{900, {3156, 4 + 12 + 908 + 32 + 8}}}) {
        SCOPED_TRACE(c.size);
        AviMuxer::SetPartSizeForTests(4096);
        Open("muxer-part-size.avi");
        ASSERT_TRUE(Frame(1000, FrameKind::Key));
        ASSERT_TRUE(Frame(c.size));
        ASSERT_TRUE(muxer.Finish());
        EXPECT_EQ(PartSizes(path), c.parts);
        const AviReader avi(path);
        EXPECT_TRUE(avi.Valid()) << avi.ErrorText();
        EXPECT_EQ(avi.StreamChunks(0).size(), 3u);
        EXPECT_EQ(avi.ExtendedTotalFrames().has_value(), c.parts.size() > 1) << "odml only in parts";
    }
}

// A file past the part size: every part's chunks are read back, through idx1 in the first part and
// through the super and standard indexes in every part, and the headers count them.
TEST_F(AviMuxerTest, PastThePartSizeTheFileGoesOnInOpenDmlParts) {
    struct Case {
        const char* name;
        uint32_t audioFrom;    // the frame before the first audio block
        uint64_t expectedSize; // told the muxer before it opens
        uint64_t partLimit;    // what every part stays below
    };
    const Case cases[] = {
        {"interleaved", 0, 0, 8192},
        {"audio from the fourth part on", 20, 0, 8192},
        {"parts made larger for an expected size", 0, 262144, 2 * 262144 / AviMuxer::kSuperIndexSlots + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<uint8_t>> video{{}}; // the empty chunk before the first frame
        std::vector<std::vector<uint8_t>> audio;
        AviMuxer::SetPartSizeForTests(8192);
        muxer.SetExpectedSize(c.expectedSize);
        Open("muxer-parts.avi");
        for (uint32_t i = 0; i < 60; ++i) {
            const uint32_t size = 1000 + i * 74 % 700; // even: stored as written
            ASSERT_TRUE(Frame(size, i % 10 == 0 ? FrameKind::Key : FrameKind::Delta));
            video.push_back(Pattern(size, 0x5A));
            if (i >= c.audioFrom) {
                ASSERT_TRUE(Block(256));
                audio.push_back(Pattern(256, 0x11));
            }
        }
        ASSERT_TRUE(muxer.Finish());
        muxer.SetExpectedSize(0);

        const std::vector<uint32_t> parts = PartSizes(path);
        EXPECT_GE(parts.size(), 3u);
        for (uint32_t size : parts)
            EXPECT_LT(size + 8, c.partLimit);
        EXPECT_GE(*std::max_element(parts.begin(), parts.end()) + 8, c.partLimit - 2048)
            << "parts are filled";
        const test::Truth truth = test::TruthWalk(path);
        EXPECT_EQ(truth.parts, parts.size());
        test::ExpectEveryPartIndexed(path, truth);

        const AviReader avi(path);
        ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
        const uint64_t secondPart = avi.FurtherParts().at(0);
        size_t firstPartVideo = 0;
        for (size_t stream = 0; stream < 2; ++stream) {
            const auto chunks = avi.StreamChunks(static_cast<int>(stream));
            const auto& written = stream == 0 ? video : audio;
            ASSERT_EQ(chunks.size(), written.size());
            for (size_t i = 0; i < chunks.size(); ++i)
                EXPECT_EQ(avi.ReadPayload(chunks[i]), written[i]) << "stream " << stream << " chunk " << i;
            if (stream == 0)
                firstPartVideo =
                    static_cast<size_t>(std::count_if(chunks.begin(), chunks.end(), [&](const auto& chunk) {
                        return chunk.offset < secondPart;
                    }));
        }
        const auto firstPartChunks =
            std::count_if(avi.MoviChunks().begin(), avi.MoviChunks().end(), [&](const auto& chunk) {
                return chunk.offset < secondPart && chunk.StreamNumber() >= 0;
            });
        EXPECT_EQ(avi.Index().size(), static_cast<size_t>(firstPartChunks)) << "idx1 lists the first part";
        EXPECT_EQ(avi.Main().totalFrames, firstPartVideo);
        EXPECT_EQ(avi.ExtendedTotalFrames(), video.size());
        EXPECT_EQ(avi.Streams()[0].header.length, video.size());
        EXPECT_EQ(avi.Streams()[1].header.length, audio.size());
    }
}

TEST_F(AviMuxerTest, AFailedWriteRefusesEverythingUntilTheNextOpen) {
    // Parts of 1000 bytes hold a frame and a block at most, so a chunk soon needs a part past the
    // super index's last slot: it is refused and nothing of it is written, and the file is still
    // finished with the indexes of every part, the header region full.
    AviMuxer::SetPartSizeForTests(1000);
    Open("muxer-failed.avi");
    uint32_t frames = 0;
    uint32_t blocks = 0;
    while (frames < 100) {
        if (!Frame(600, FrameKind::Key))
            break;
        ++frames;
        if (!Block(256))
            break;
        ++blocks;
    }
    EXPECT_TRUE(muxer.Failed());
    EXPECT_EQ(muxer.Failure(), MuxerFailure::System);
    EXPECT_EQ(muxer.SystemError(), EFBIG);
    EXPECT_FALSE(Frame(2));
    EXPECT_FALSE(muxer.WriteRepeatFrame(FrameKind::Key));
    EXPECT_FALSE(Block(2));
    EXPECT_FALSE(muxer.Finish());
    EXPECT_FALSE(muxer.Complete());
    const AviReader avi(path);
    EXPECT_TRUE(avi.Valid()) << avi.ErrorText();
    EXPECT_EQ(avi.StreamChunks(0).size(), frames + 1u);
    EXPECT_EQ(avi.StreamChunks(1).size(), blocks);
    EXPECT_EQ(avi.MoviListOffset(), 2048u);
    const test::Truth truth = test::TruthWalk(path);
    EXPECT_EQ(truth.parts, AviMuxer::kSuperIndexSlots);
    test::ExpectEveryPartIndexed(path, truth);
    EXPECT_FALSE(Frame(2)) << "closed";

    AviMuxer::SetPartSizeForTests(0);
    Open("muxer-after-failure.avi");
    EXPECT_FALSE(muxer.Failed());
    ASSERT_TRUE(Frame(1000, FrameKind::Key));
    ASSERT_TRUE(Block(256));
    EXPECT_TRUE(muxer.Finish());
    const AviReader next(path);
    ASSERT_TRUE(next.Valid()) << next.ErrorText();
    EXPECT_EQ(next.MoviChunks().size(), 3u);
}

TEST_F(AviMuxerTest, AChunkThatAloneWouldMakeAPartReachTwoGiBIsRefused) {
    // A sparse file lends a buffer of 2 GiB without memory or disk behind it.
    const std::string bigPath = scratch / "muxer-sparse-2gib.bin";
    const int fd = ::open(bigPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 31), 0);
    void* mapped = ::mmap(nullptr, size_t{1} << 31, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    ASSERT_NE(mapped, MAP_FAILED);

    Open("muxer-2gib.avi");
    // Before the frame's payload: 2060 bytes, the empty first frame (8), its header (8); after it
    // the indexes its part would close with: ix00 (32 + 2 x 8) and idx1 (8 + 2 x 16).
    const uint32_t reachingLimit = (uint32_t{1} << 31) - 2164;
    EXPECT_FALSE(muxer.WriteVideoFrame(static_cast<const uint8_t*>(mapped), reachingLimit, FrameKind::Key));
    EXPECT_EQ(muxer.Failure(), MuxerFailure::System);
    EXPECT_EQ(muxer.SystemError(), EFBIG);
    EXPECT_FALSE(muxer.WriteRepeatFrame(FrameKind::Key)) << "refused after the failure";
    muxer.Finish();
    ::munmap(mapped, size_t{1} << 31);
    fs::remove(bigPath);
    EXPECT_TRUE(AviReader(path).Valid());
    EXPECT_EQ(fs::file_size(path), kEmptyFileSize);
}

// A real, small file system, filled by the muxer itself.
TEST_F(AviMuxerTest, AFullDiskIsASystemFailureWithItsErrno) {
    const fs::path mountPoint = scratch / "small-disk";
    fs::create_directories(mountPoint);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
        &mountPoint, [](const fs::path* point) { ::umount2(point->c_str(), MNT_DETACH); });
    path = (mountPoint / "full.avi").string();
    ASSERT_TRUE(muxer.Open(path));
    bool accepted = true;
    for (int i = 0; i < 20 && accepted; ++i)
        accepted = Frame(100000, FrameKind::Key);
    const bool finished = muxer.Finish();
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(finished);
    EXPECT_EQ(muxer.Failure(), MuxerFailure::System);
    EXPECT_EQ(muxer.SystemError(), ENOSPC);
}

TEST_F(AviMuxerTest, AFileSizeTheSystemRefusesAtTheIndexIsASystemFailure) {
    Open("muxer-finish-refused.avi");
    ASSERT_TRUE(Frame(900, FrameKind::Key)); // the movi list ends at 2060 + 2 x 8 + 900 = 2976
    // The system lets the file grow to 2990 bytes: the chunks fit, the idx1 (8 + 2 x 16) does not.
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = previous;
    lowered.rlim_cur = 2990;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
    const bool finished = muxer.Finish();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(finished);
    EXPECT_FALSE(muxer.IsOpen());
    EXPECT_EQ(muxer.Failure(), MuxerFailure::System);
    EXPECT_EQ(muxer.SystemError(), EFBIG);
    EXPECT_FALSE(AviReader(path).Valid());
}

TEST_F(AviMuxerTest, EveryFileOperationPassesItsFaultPoint) {
    struct Case {
        faults::Operation operation;
        int error;
    };
    for (const Case& c : {Case{faults::Operation::Create, EACCES}, Case{faults::Operation::Write, EIO},
                          Case{faults::Operation::Write, ENOSPC}, Case{faults::Operation::Truncate, EIO},
                          Case{faults::Operation::Sync, EIO}, Case{faults::Operation::Close, EIO}}) {
        faults::Plan counting;
        counting.onlyOneKind = true;
        counting.only = c.operation;
        faults::Arm(counting);
        Open("muxer-faults.avi");
        WriteSome();
        ASSERT_TRUE(muxer.Finish());
        const uint64_t points = faults::PointsPassed();
        ASSERT_GE(points, 1u);
        for (uint64_t point = 1; point <= points; ++point) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(c.operation) << " fails at " << point);
            faults::Plan plan = counting;
            plan.action = faults::Plan::Action::Fail;
            plan.at = point;
            plan.errorNumber = c.error;
            faults::Arm(plan);
            path = scratch / "muxer-faults.avi";
            if (muxer.Open(path))
                WriteSome();
            EXPECT_FALSE(muxer.Finish() || muxer.Complete());
            EXPECT_EQ(muxer.Failure(), MuxerFailure::System);
            EXPECT_EQ(muxer.SystemError(), c.error);
        }
        faults::Disarm();
    }
}

TEST_F(AviMuxerTest, FinishingSyncsTheWholeFileOnce) {
    bool wholeAtSync = false;
    faults::Plan plan;
    plan.action = faults::Plan::Action::Callback;
    plan.at = 1;
    plan.onlyOneKind = true;
    plan.only = faults::Operation::Sync;
    plan.callback = [&] {
        wholeAtSync = AviReader(path).Valid() && AviReader(path).MoviChunks().size() == 9;
    };
    faults::Arm(plan);
    Open("muxer-sync.avi");
    ASSERT_TRUE(WriteSome());
    ASSERT_TRUE(muxer.Finish());
    EXPECT_EQ(faults::PointsPassed(), 1u);
    EXPECT_TRUE(wholeAtSync) << "index and headers are written before the sync";
}

} // namespace
} // namespace clipwright
