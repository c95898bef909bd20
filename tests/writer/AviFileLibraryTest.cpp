#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <numeric>

#include "AviFileLibrary.h"
#include "AviReader.h"
#include "WriterTestSupport.h"

namespace clipwright {
namespace {

using avitest::AviReader;
using writertest::ScratchFile;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), seed);
    return bytes;
}

AviStreamInfo VideoDescription() {
    AviStreamInfo info;
    info.fccType = fourcc::kVids;
    info.fccHandler = fourcc::kDivx;
    info.dwScale = 1000;
    info.dwRate = 10000;
    info.dwInitialFrames = 1;
    info.dwQuality = 2000;
    info.rcFrame = {0, 0, 160, 112};
    return info;
}

AviStreamInfo AudioDescription() {
    AviStreamInfo info;
    info.fccType = fourcc::kAuds;
    info.dwScale = 256;
    info.dwRate = 4096;
    info.dwSampleSize = 256;
    return info;
}

class AviFileLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { avilib::Startup(); }
    void TearDown() override { avilib::Shutdown(); }

    avilib::Stream* AddStream(const AviStreamInfo& info, const std::vector<uint8_t>& format) {
        avilib::Stream* stream = nullptr;
        EXPECT_EQ(avilib::CreateStream(file, info, &stream), avierr::kOk);
        EXPECT_EQ(avilib::SetFormat(stream, 0, format.data(), static_cast<uint32_t>(format.size())),
                  avierr::kOk);
        return stream;
    }
    void Open(const std::string& name) {
        path = ScratchFile(name);
        ASSERT_EQ(avilib::OpenForWriting(path.c_str(), &file), avierr::kOk);
    }

    std::string path;
    avilib::OutputFile* file = nullptr;
};

TEST_F(AviFileLibraryTest, WritesHeadersChunksAndIndexOfTwoStreams) {
    Open("library-two-streams.avi");
    BitmapInfoHeader bitmap;
    bitmap.biSize = 40;
    bitmap.biWidth = 160;
    bitmap.biHeight = 112;
    bitmap.biCompression = fourcc::kDx50;
    const auto videoFormat = EncodeBitmapInfoHeader(bitmap);
    AviStreamInfo video = VideoDescription();
    video.dwLength = 777; // a caller's size hint and key flag: neither may reach the file
    video.dwFlags = avilib::kSampleKeyFrame;
    avilib::Stream* videoStream = AddStream(video, {videoFormat.begin(), videoFormat.end()});
    AdpcmWaveFormat wave;
    wave.wFormatTag = 2;
    wave.cbSize = 32;
    wave.wNumCoef = 7;
    wave.aCoef[1] = {512, -256};
    const auto audioFormat = EncodeAdpcmWaveFormat(wave);
    avilib::Stream* audioStream = AddStream(AudioDescription(), {audioFormat.begin(), audioFormat.end()});

    const auto frame0 = Pattern(3, 1), block0 = Pattern(256, 2), frame1 = Pattern(4, 3),
               block1 = Pattern(255, 4);
    ASSERT_EQ(avilib::WriteSamples(videoStream, 0, 1, frame0.data(), 3, avilib::kSampleKeyFrame),
              avierr::kOk);
    ASSERT_EQ(avilib::WriteSamples(audioStream, 0, 512, block0.data(), 256, 0), avierr::kOk);
    ASSERT_EQ(avilib::WriteSamples(videoStream, 1, 1, frame1.data(), 4, 0), avierr::kOk);
    ASSERT_EQ(avilib::WriteSamples(audioStream, 512, 510, block1.data(), 255, 0), avierr::kOk);
    AviStreamInfo kept;
    ASSERT_EQ(avilib::ReadStreamDescription(videoStream, &kept), avierr::kOk);
    EXPECT_EQ(kept.dwLength, 777u);
    EXPECT_EQ(kept.dwFlags, avilib::kSampleKeyFrame);
    ASSERT_EQ(avilib::ReleaseFile(file), avierr::kOk);

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    EXPECT_EQ(avi.FileSize(), std::filesystem::file_size(path));
    ASSERT_EQ(avi.TopLevel().size(), 4u);
    EXPECT_EQ(avi.TopLevel()[0].listType, fourcc::kHdrl);
    EXPECT_EQ(avi.TopLevel()[1].id, fourcc::kJunk);
    EXPECT_EQ(avi.TopLevel()[3].id, fourcc::kIdx1);
    EXPECT_EQ(avi.MoviListOffset(), 2048u);

    const auto& main = avi.Main();
    EXPECT_EQ(main.microSecPerFrame, 100000u);
    EXPECT_EQ(main.maxBytesPerSec, 4u * 10 + 4096);
    EXPECT_EQ(main.flags, 0x110u);
    EXPECT_EQ(main.totalFrames, 2u);
    EXPECT_EQ(main.streams, 2u);
    EXPECT_EQ(main.suggestedBufferSize, 256u);
    EXPECT_EQ(main.width, 160u);
    EXPECT_EQ(main.height, 112u);

    ASSERT_EQ(avi.Streams().size(), 2u);
    const auto& videoHeader = avi.Streams()[0].header;
    EXPECT_EQ(videoHeader.type, fourcc::kVids);
    EXPECT_EQ(videoHeader.handler, fourcc::kDivx);
    EXPECT_EQ(videoHeader.flags, 0u);
    EXPECT_EQ(videoHeader.length, 2u);
    EXPECT_EQ(videoHeader.suggestedBufferSize, 4u);
    EXPECT_EQ(videoHeader.initialFrames, 1u);
    EXPECT_EQ(videoHeader.rate, 10000u);
    EXPECT_EQ(videoHeader.frameRight, 160);
    EXPECT_EQ(videoHeader.frameBottom, 112);
    ASSERT_TRUE(avi.Streams()[0].video.has_value());
    EXPECT_EQ(avi.Streams()[0].video->width, 160);
    EXPECT_EQ(avi.Streams()[0].video->compression, fourcc::kDx50);
    const auto& audioHeader = avi.Streams()[1].header;
    EXPECT_EQ(audioHeader.length, 1u); // 511 bytes in 256-byte blocks
    EXPECT_EQ(audioHeader.sampleSize, 256u);
    EXPECT_EQ(audioHeader.suggestedBufferSize, 256u);
    ASSERT_TRUE(avi.Streams()[1].audio.has_value());
    ASSERT_EQ(avi.Streams()[1].audio->coefficients.size(), 7u);
    EXPECT_EQ(avi.Streams()[1].audio->coefficients[1], std::make_pair(int16_t{512}, int16_t{-256}));

    const std::vector<std::vector<uint8_t>> payloads{frame0, block0, frame1, block1};
    const std::vector<FourCC> ids{"00dc", "01wb", "00dc", "01wb"};
    const std::vector<uint32_t> flags{avilib::kSampleKeyFrame, 0, 0, 0};
    ASSERT_EQ(avi.MoviChunks().size(), 4u);
    ASSERT_EQ(avi.Index().size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const auto& chunk = avi.MoviChunks()[i];
        EXPECT_EQ(chunk.id, ids[i]);
        EXPECT_EQ(avi.ReadPayload(chunk), payloads[i]);
        if (chunk.size % 2 != 0) {
            EXPECT_EQ(avi.PadByteAfter(chunk), uint8_t{0});
        }
        EXPECT_EQ(avi.Index()[i].flags, flags[i]);
    }
    EXPECT_TRUE(avi.IndexRelativeToMovi());
    EXPECT_EQ(avi.Index()[0].offset, 4u);
}

TEST_F(AviFileLibraryTest, VideoGapsBecomeEmptyChunksAndOnlyTheEndIsWritable) {
    Open("library-gaps.avi");
    avilib::Stream* video = AddStream(VideoDescription(), Pattern(40, 0));
    const auto frame = Pattern(10, 5);
    ASSERT_EQ(avilib::WriteSamples(video, 1, 1, frame.data(), 10, avilib::kSampleKeyFrame), avierr::kOk);
    ASSERT_EQ(avilib::WriteSamples(video, 4, 1, frame.data(), 10, 0), avierr::kOk);
    ASSERT_EQ(avilib::WriteSamples(video, 5, 1, nullptr, 0, avilib::kSampleKeyFrame), avierr::kOk);
    EXPECT_EQ(avilib::WriteSamples(video, 3, 1, frame.data(), 10, 0), avierr::kBadParameter);
    EXPECT_EQ(avilib::WriteSamples(video, 6, 2, frame.data(), 10, 0), avierr::kBadParameter);

    avilib::Stream* audio = AddStream(AudioDescription(), Pattern(50, 0));
    ASSERT_EQ(avilib::WriteSamples(audio, 0, 512, frame.data(), 10, 0), avierr::kOk);
    EXPECT_EQ(avilib::WriteSamples(audio, 0, 512, frame.data(), 10, 0), avierr::kBadParameter);
    EXPECT_EQ(avilib::WriteSamples(audio, 1024, 512, frame.data(), 10, 0), avierr::kBadParameter);
    EXPECT_EQ(avilib::WriteSamples(audio, 512, 512, frame.data(), 10, 0), avierr::kOk);
    ASSERT_EQ(avilib::ReleaseFile(file), avierr::kOk);

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    const std::vector<uint32_t> sizes{0, 10, 0, 0, 10, 0};
    const std::vector<uint32_t> flags{0, avilib::kSampleKeyFrame, 0, 0, 0, avilib::kSampleKeyFrame};
    const auto chunks = avi.StreamChunks(0);
    ASSERT_EQ(chunks.size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(chunks[i].size, sizes[i]) << i;
        EXPECT_EQ(avi.Index()[i].flags, flags[i]) << i;
    }
    EXPECT_EQ(avi.Streams()[0].header.length, 6u);
    EXPECT_EQ(avi.Main().totalFrames, 6u);
    EXPECT_EQ(avi.StreamChunks(1).size(), 2u);
}

TEST_F(AviFileLibraryTest, RefusesStreamsAndFormatsBeyondTheHeaderRegion) {
    Open("library-header-full.avi");
    // 24 (RIFF, hdrl) + 64 (avih) + 84 + 1700 (strl) + 84 (strl without format) + 8 (JUNK) = 1964.
    avilib::Stream* big = AddStream(VideoDescription(), Pattern(1700, 0));
    avilib::Stream* second = nullptr;
    ASSERT_EQ(avilib::CreateStream(file, AudioDescription(), &second), avierr::kOk);
    const auto format = Pattern(86, 0);
    EXPECT_EQ(avilib::SetFormat(second, 0, format.data(), 86), avierr::kBadSize);
    EXPECT_EQ(avilib::SetFormat(second, 0, format.data(), 84), avierr::kOk); // exactly 2048
    avilib::Stream* third = nullptr;
    EXPECT_EQ(avilib::CreateStream(file, AudioDescription(), &third), avierr::kBadSize);
    EXPECT_EQ(third, nullptr);
    EXPECT_EQ(avilib::WriteSamples(big, 0, 1, format.data(), 8, 0), avierr::kOk);
    ASSERT_EQ(avilib::ReleaseFile(file), avierr::kOk);

    const AviReader avi(path);
    ASSERT_TRUE(avi.Valid()) << avi.ErrorText();
    EXPECT_EQ(avi.TopLevel()[1].size, 0u);
    EXPECT_EQ(avi.MoviListOffset(), 2048u);
    EXPECT_EQ(avi.Streams()[1].formatBytes.size(), 84u);
}

TEST_F(AviFileLibraryTest, RejectsBadHandlesAndParameters) {
    avilib::Stream* stream = nullptr;
    uint32_t size = 0;
    const uint8_t byte = 0;
    EXPECT_EQ(avilib::CreateStream(nullptr, VideoDescription(), &stream), avierr::kBadHandle);
    EXPECT_EQ(avilib::ReadFormat(nullptr, 0, nullptr, &size), avierr::kBadHandle);
    EXPECT_EQ(avilib::WriteSamples(nullptr, 0, 1, &byte, 1, 0), avierr::kBadHandle);
    EXPECT_EQ(avilib::EndRecord(nullptr), avierr::kBadHandle);
    EXPECT_EQ(avilib::ReleaseFile(nullptr), avierr::kBadHandle);

    Open("library-parameters.avi");
    AviStreamInfo text = VideoDescription();
    text.fccType = FourCC("txts");
    EXPECT_EQ(avilib::CreateStream(file, text, &stream), avierr::kBadParameter);
    stream = AddStream(VideoDescription(), Pattern(40, 0));
    EXPECT_EQ(avilib::WriteSamples(stream, 0, 1, nullptr, 2, 0), avierr::kBadParameter);
    EXPECT_EQ(avilib::WriteSamples(stream, -1, 1, &byte, 1, 0), avierr::kBadParameter);
    EXPECT_EQ(avilib::SetFormat(stream, 1, &byte, 1), avierr::kBadParameter);
    ASSERT_EQ(avilib::ReadFormat(stream, 0, nullptr, &size), avierr::kOk);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(avilib::ReleaseStream(stream), avierr::kOk);
    EXPECT_EQ(avilib::WriteSamples(stream, 0, 1, &byte, 1, 0), avierr::kBadHandle);
    EXPECT_EQ(avilib::ReleaseStream(stream), avierr::kBadHandle);
    EXPECT_EQ(avilib::ReleaseFile(file), avierr::kOk);

    avilib::Shutdown();
    avilib::OutputFile* notOpened = nullptr;
    EXPECT_EQ(avilib::OpenForWriting(path.c_str(), &notOpened), avierr::kError);
    avilib::Startup();
    EXPECT_EQ(avilib::OpenForWriting("/nonexistent-folder/out.avi", &notOpened), avierr::kFileOpen);
    EXPECT_EQ(notOpened, nullptr);
}

TEST_F(AviFileLibraryTest, OpeningEmptiesAnExistingFile) {
    path = ScratchFile("library-emptied.avi");
    std::ofstream(path, std::ios::binary) << std::string(100000, 'x');
    ASSERT_EQ(avilib::OpenForWriting(path.c_str(), &file), avierr::kOk);
    ASSERT_EQ(avilib::ReleaseFile(file), avierr::kOk);
    const AviReader avi(path);
    EXPECT_TRUE(avi.Valid()) << avi.ErrorText();
    EXPECT_EQ(avi.FileSize(), 2048u + 12 + 8);
    EXPECT_TRUE(avi.Streams().empty());
}

TEST_F(AviFileLibraryTest, FileWithItsIndexStaysBelowTheSizeLimit) {
    Open("library-limit.avi");
    avilib::Stream* video = AddStream(VideoDescription(), Pattern(40, 0));
    // Empty file: 2060 bytes up to the first chunk; each sample adds its chunk and 16 bytes of idx1.
    ASSERT_EQ(avilib::SetFileSizeLimit(file, 4096), avierr::kOk);
    const auto frame = Pattern(2004, 0);
    EXPECT_EQ(avilib::WriteSamples(video, 0, 1, frame.data(), 2004, 0), avierr::kFileWrite); // 4096
    EXPECT_EQ(avilib::WriteSamples(video, 0, 1, frame.data(), 2003, 0), avierr::kFileWrite); // padded
    EXPECT_EQ(avilib::WriteSamples(video, 0, 1, frame.data(), 2002, 0), avierr::kOk);        // 4094
    EXPECT_EQ(avilib::WriteSamples(video, 1, 1, nullptr, 0, 0), avierr::kFileWrite);
    ASSERT_EQ(avilib::ReleaseFile(file), avierr::kOk);
    const AviReader avi(path);
    EXPECT_TRUE(avi.Valid()) << avi.ErrorText();
    EXPECT_EQ(avi.FileSize(), 4094u);
}

} // namespace
} // namespace clipwright
