#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "AviReader.h"
#include "AviStreamWriter.h"
#include "WriterTestSupport.h"

namespace clipwright {
namespace {

using avitest::AviReader;
using writertest::ScratchFile;

constexpr uint32_t kKeyFrame = 16;

std::vector<uint8_t> Bytes(size_t size, uint8_t value) {
    return std::vector<uint8_t>(size, value);
}

class AviStreamWriterTest : public ::testing::Test {
protected:
    void Open(const std::string& name) {
        path = ScratchFile(name);
        writer.SetImageFormat(kResolutionQqvga, 10);
        ASSERT_EQ(writer.OpenOutput(path.c_str()), 1);
    }
    uint32_t WriteFrame(uint32_t size, uint8_t notKeyFrame) {
        const auto frame = Bytes(size + 1, 0x5A);
        writer.SetFrameInfo(size, notKeyFrame);
        return writer.WriteVideoFrame(frame.data(), 1);
    }

    AviStreamWriter writer;
    std::string path;
};

TEST_F(AviStreamWriterTest, DefaultsAndImageFormats) {
    const AviStreamInfo& info = writer.VideoInfo();
    EXPECT_EQ(info.fccType, fourcc::kVids);
    EXPECT_EQ(info.fccHandler, fourcc::kDivx);
    EXPECT_EQ(info.dwScale, 1000u);
    EXPECT_EQ(info.dwInitialFrames, 1u);
    EXPECT_EQ(info.dwQuality, 2000u);
    EXPECT_EQ(info.dwRate, 0u);
    EXPECT_EQ(writer.VideoFormat().biCompression, fourcc::kDx50);
    EXPECT_EQ(writer.VideoFormat().biBitCount, 24);
    EXPECT_EQ(writer.AudioFormat().wFormatTag, 0); // filled by the first open only
    EXPECT_EQ(writer.OutputFile(), nullptr);

    struct Case {
        ResolutionCode code;
        int32_t width, height;
    };
    for (const Case& c : {Case{0, 640, 480}, Case{1, 320, 240}, Case{2, 160, 112}, Case{3, 160, 112}}) {
        writer.SetImageFormat(c.code, 15);
        EXPECT_EQ(writer.VideoFormat().biWidth, c.width);
        EXPECT_EQ(writer.VideoFormat().biHeight, c.height);
        EXPECT_EQ(info.rcFrame.right, c.width);
        EXPECT_EQ(info.rcFrame.bottom, c.height);
        EXPECT_EQ(writer.VideoFormat().biSizeImage, 129600u);
        EXPECT_EQ(info.dwRate, 15000u);
    }
    writer.SetImageFormat(kResolutionVga, 0);
    EXPECT_EQ(info.dwRate, 0u);

    for (const uint8_t notKeyFrame : {uint8_t{1}, uint8_t{2}, uint8_t{255}}) {
        writer.SetFrameInfo(10, notKeyFrame);
        EXPECT_EQ(info.dwFlags, 0u);
    }
    writer.SetFrameInfo(10, 0);
    EXPECT_EQ(info.dwFlags, kKeyFrame);
}

TEST_F(AviStreamWriterTest, FirstOddKeyFrameIsWrittenEvenAtPositionOne) {
    Open("writer-first-frame.avi");
    std::vector<uint8_t> frame = Bytes(1002, 0x33);
    frame.back() = 0; // the caller's pad byte
    writer.SetFrameInfo(1001, 0);
    ASSERT_EQ(writer.WriteVideoFrame(frame.data(), 1), avierr::kOk);

    AviStreamInfo created;
    ASSERT_EQ(avilib::ReadStreamDescription(writer.VideoStream(), &created), avierr::kOk);
    EXPECT_EQ(created.dwLength, 1001u);
    EXPECT_EQ(created.dwFlags, kKeyFrame);
    EXPECT_EQ(writer.VideoInfo().dwLength, 1002u);
    EXPECT_EQ(writer.VideoPosition(), 2);
    writer.CloseOutput();
    EXPECT_TRUE(writer.OutputComplete());

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    ASSERT_EQ(avi.Streams().size(), 1u); // video only
    EXPECT_EQ(avi.Streams()[0].header.length, 2u);
    EXPECT_EQ(avi.Streams()[0].header.flags, 0u);
    EXPECT_EQ(avi.Streams()[0].header.suggestedBufferSize, 1002u);
    ASSERT_EQ(avi.MoviChunks().size(), 2u);
    EXPECT_EQ(avi.MoviChunks()[0].size, 0u); // position 0, never written by the caller
    EXPECT_EQ(avi.Index()[0].flags, 0u);
    EXPECT_EQ(avi.ReadPayload(avi.MoviChunks()[1]), frame);
    EXPECT_EQ(avi.Index()[1].flags, kKeyFrame);
    EXPECT_EQ(avi.Index()[1].size, 1002u);
}

TEST_F(AviStreamWriterTest, EmptyWritesTakeAPositionWithThePendingFlags) {
    Open("writer-empty-frames.avi");
    ASSERT_EQ(WriteFrame(500, 1), avierr::kOk);
    writer.SetFrameInfo(500, 0);
    ASSERT_EQ(writer.WriteVideoFrame(nullptr, 0), avierr::kOk);
    writer.SetFrameInfo(7, 2);
    ASSERT_EQ(writer.WriteVideoFrame(nullptr, 0), avierr::kOk);
    EXPECT_EQ(writer.VideoInfo().dwLength, 8u);
    EXPECT_EQ(writer.VideoPosition(), 4);
    writer.CloseOutput();

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    const std::vector<uint32_t> sizes{0, 500, 0, 0};
    const std::vector<uint32_t> flags{0, 0, kKeyFrame, 0};
    ASSERT_EQ(avi.Index().size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(avi.MoviChunks()[i].size, sizes[i]) << i;
        EXPECT_EQ(avi.Index()[i].flags, flags[i]) << i;
    }
    EXPECT_EQ(avi.Main().totalFrames, 4u);
}

TEST_F(AviStreamWriterTest, AudioOnlyOutputCountsFourBitSamples) {
    Open("writer-audio-only.avi");
    const auto block = Bytes(256, 0x11);
    ASSERT_EQ(writer.WriteAudioBlock(block.data(), 256), avierr::kOk);
    EXPECT_EQ(writer.AudioPosition(), 512);
    ASSERT_EQ(writer.WriteAudioBlock(block.data(), 255), avierr::kOk);
    EXPECT_EQ(writer.AudioPosition(), 1022);
    EXPECT_EQ(writer.VideoStream(), nullptr);
    writer.CloseOutput();

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    ASSERT_EQ(avi.Streams().size(), 1u);
    const auto& stream = avi.Streams()[0];
    EXPECT_EQ(stream.header.type, fourcc::kAuds);
    EXPECT_EQ(stream.header.handler, FourCC());
    EXPECT_EQ(stream.header.scale, 256u);
    EXPECT_EQ(stream.header.rate, 4096u);
    EXPECT_EQ(stream.header.sampleSize, 256u);
    EXPECT_EQ(stream.header.quality, 2000u);
    EXPECT_EQ(stream.header.length, 1u); // 511 bytes: one whole block
    ASSERT_EQ(stream.formatBytes.size(), 50u);
    ASSERT_TRUE(stream.audio.has_value());
    const avitest::AudioFormat& wave = *stream.audio;
    EXPECT_EQ(wave.formatTag, 2);
    EXPECT_EQ(wave.channels, 1);
    EXPECT_EQ(wave.samplesPerSec, 8000u);
    EXPECT_EQ(wave.avgBytesPerSec, 4096u);
    EXPECT_EQ(wave.blockAlign, 256);
    EXPECT_EQ(wave.bitsPerSample, 4);
    EXPECT_EQ(wave.extraSize, 32);
    EXPECT_EQ(wave.samplesPerBlock, 500);
    const std::vector<std::pair<int16_t, int16_t>> standard{{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                                            {240, 0}, {460, -208}, {392, -232}};
    EXPECT_EQ(wave.coefficients, standard);
    EXPECT_EQ(avi.Main().totalFrames, 0u);
    ASSERT_EQ(avi.MoviChunks().size(), 2u);
    EXPECT_EQ(avi.MoviChunks()[0].id, FourCC("00wb"));
    EXPECT_EQ(avi.MoviChunks()[1].size, 255u);
}

TEST_F(AviStreamWriterTest, AudioFirstNumbersTheStreamsInCreationOrder) {
    Open("writer-audio-first.avi");
    const auto block = Bytes(256, 0x22);
    ASSERT_EQ(writer.WriteAudioBlock(block.data(), 256), avierr::kOk);
    writer.SetImageFormat(kResolutionQqvga, 0); // before the first video write: a rate of 0
    ASSERT_EQ(WriteFrame(300, 0), avierr::kOk);
    ASSERT_EQ(writer.WriteAudioBlock(block.data(), 256), avierr::kOk);
    writer.CloseOutput();

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    ASSERT_EQ(avi.Streams().size(), 2u);
    EXPECT_EQ(avi.Streams()[0].header.type, fourcc::kAuds);
    EXPECT_EQ(avi.Streams()[1].header.type, fourcc::kVids);
    EXPECT_EQ(avi.Streams()[1].header.rate, 0u);
    EXPECT_EQ(avi.Main().microSecPerFrame, 0u);
    const std::vector<FourCC> ids{"00wb", "01dc", "01dc", "00wb"};
    ASSERT_EQ(avi.MoviChunks().size(), ids.size());
    for (size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(avi.MoviChunks()[i].id, ids[i]) << i;
}

TEST_F(AviStreamWriterTest, AFailedWriteStopsTheOutputUntilTheNextOpen) {
    Open("writer-failed.avi");
    ASSERT_EQ(WriteFrame(100, 0), avierr::kOk);
    const auto block = Bytes(256, 0x44);
    ASSERT_EQ(writer.WriteAudioBlock(block.data(), 256), avierr::kOk);
    ASSERT_EQ(avilib::SetFileSizeLimit(writer.OutputFile(), 3000), avierr::kOk);

    EXPECT_EQ(WriteFrame(1000, 1), avierr::kFileWrite); // the library's code, passed on
    EXPECT_TRUE(writer.WriteFailed());
    EXPECT_EQ(WriteFrame(2, 0), avierr::kError);
    EXPECT_EQ(writer.WriteAudioBlock(block.data(), 2), avierr::kError);
    EXPECT_EQ(writer.VideoPosition(), 2);
    EXPECT_EQ(writer.AudioPosition(), 512);
    writer.CloseOutput();
    EXPECT_FALSE(writer.OutputComplete());
    EXPECT_TRUE(writer.WriteFailed());
    {
        const AviReader avi(path); // what came before the failure is kept
        ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
        EXPECT_EQ(avi.MoviChunks().size(), 3u);
    }

    // Closed: the missing output is reported before the old failure.
    EXPECT_EQ(WriteFrame(2, 0), avierr::kBadHandle);
    EXPECT_EQ(writer.WriteAudioBlock(block.data(), 2), avierr::kBadHandle);

    Open("writer-after-failure.avi");
    EXPECT_FALSE(writer.WriteFailed());
    EXPECT_EQ(writer.VideoPosition(), 1);
    EXPECT_EQ(writer.AudioPosition(), 0);
    ASSERT_EQ(WriteFrame(1000, 0), avierr::kOk);
    ASSERT_EQ(writer.WriteAudioBlock(block.data(), 256), avierr::kOk);
    writer.CloseOutput();
    EXPECT_TRUE(writer.OutputComplete());
    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    EXPECT_EQ(avi.MoviChunks().size(), 3u);
}

TEST_F(AviStreamWriterTest, AFailedStreamCreationPassesTheLibraryCodeOn) {
    Open("writer-no-room.avi");
    // Another stream with a large format leaves no room in the headers for the video stream.
    AviStreamInfo info;
    info.fccType = fourcc::kAuds;
    avilib::Stream* filler = nullptr;
    ASSERT_EQ(avilib::CreateStream(writer.OutputFile(), info, &filler), avierr::kOk);
    const auto format = Bytes(1800, 0);
    ASSERT_EQ(avilib::SetFormat(filler, 0, format.data(), 1800), avierr::kOk);

    EXPECT_EQ(WriteFrame(10, 0), avierr::kBadSize);
    EXPECT_TRUE(writer.WriteFailed());
    EXPECT_EQ(writer.VideoStream(), nullptr);
    const auto block = Bytes(256, 0);
    EXPECT_EQ(writer.WriteAudioBlock(block.data(), 256), avierr::kError);
    writer.CloseOutput();
    EXPECT_FALSE(writer.OutputComplete());
}

TEST_F(AviStreamWriterTest, OpenAndCloseBalanceTheLibraryStarts) {
    const int startsBefore = avilib::StartCount();
    EXPECT_EQ(writer.OpenOutput(nullptr), 0);
    EXPECT_EQ(writer.OpenOutput("/nonexistent-folder/out.avi"), 0);
    EXPECT_EQ(avilib::StartCount(), startsBefore);
    EXPECT_EQ(writer.OutputFile(), nullptr);
    EXPECT_EQ(WriteFrame(2, 0), avierr::kBadHandle);
    writer.CloseOutput(); // nothing open: must not shut the library down
    EXPECT_EQ(avilib::StartCount(), startsBefore);

    Open("writer-balance.avi");
    EXPECT_EQ(avilib::StartCount(), startsBefore + 1);
    EXPECT_EQ(writer.AudioFormat().nBlockAlign, 256);
    writer.CloseOutput();
    EXPECT_EQ(avilib::StartCount(), startsBefore);
    EXPECT_TRUE(writer.OutputComplete());
    EXPECT_EQ(AviReader(path).Streams().size(), 0u);
}

TEST_F(AviStreamWriterTest, AFailureToFinishTheFileIsObservable) {
    Open("writer-close-fails.avi");
    ASSERT_EQ(WriteFrame(900, 0), avierr::kOk); // the movi list ends at 2060 + 2 x 8 + 900 = 2976
    // The system lets the file grow to 2990 bytes: the chunks fit, the idx1 (8 + 2 x 16) does not.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = previous;
    lowered.rlim_cur = 2990;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    writer.CloseOutput();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(writer.OutputComplete());
    EXPECT_EQ(writer.OutputFile(), nullptr);
    EXPECT_FALSE(AviReader(path).Valid());
}

TEST_F(AviStreamWriterTest, AWriteReachingTwoGiBIsRefused) {
    // A sparse file lends a buffer of 2 GiB without memory or disk behind it.
    const std::string bigPath = ScratchFile("writer-sparse-2gib.bin");
    const int fd = open(bigPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t{1} << 31), 0);
    void* mapped = mmap(nullptr, size_t{1} << 31, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    ASSERT_NE(mapped, MAP_FAILED);
    const auto* big = static_cast<const uint8_t*>(mapped);

    Open("writer-2gib.avi");
    // 2060 bytes before the first chunk, 8 for its header, 8 + 16 for idx1: 2092 in all.
    const uint32_t reachingLimit = (uint32_t{1} << 31) - 2092;
    writer.SetFrameInfo(reachingLimit, 0);
    EXPECT_EQ(writer.WriteVideoFrame(big, 1), avierr::kFileWrite);
    EXPECT_TRUE(writer.WriteFailed());
    writer.CloseOutput();
    munmap(mapped, size_t{1} << 31);
    std::filesystem::remove(bigPath);

    const AviReader avi(path);
    EXPECT_TRUE(avi.Valid()) << avi.ErrorText();
    EXPECT_LT(avi.FileSize(), 4096u);
}

} // namespace
} // namespace clipwright
