// Recordings of other recorders whose first bytes were lost, as a lost cluster or a power cut on a
// card leaves them: the rebuild declares the streams their chunks hold, which independent readers
// then decode, and every complete chunk comes back.
#include "ReaderOracles.h"
#include "TestFiles.h"
#include "TruthWalk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

CommandResult Cli(const std::string& arguments) {
    return RunCommand(ShellQuote(CLIPWRIGHT_CLI_PATH) + " " + arguments);
}

constexpr const char* kFfmpegSources = "ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 "
                                       "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 6 ";

struct LostCase {
    const char* name;
    std::string writer; // a command line writing the whole recording to %s
    const char* cliOptions;
    const char* says; // in the summary line
    const char* videoCodec;
    const char* audioCodec;
    uint32_t sampleRate;
    uint32_t channels;
};

void PrintTo(const LostCase& c, std::ostream* out) {
    *out << c.name;
}

std::string Ffmpeg(const std::string& codecs) {
    return kFfmpegSources + codecs + " %s";
}

uint64_t DecodedPictures(const fs::path& file) {
    const auto lines =
        ProbeLines("-count_frames -select_streams v -show_entries stream=nb_read_frames", file);
    return lines.empty() ? 0 : std::stoull(lines.front().at("nb_read_frames"));
}

// What decoding the sound reports; the video's complaints, made while ffmpeg looks at the file,
// are left out.
std::string SoundDecodeErrors(const fs::path& file, const std::string& videoCodec) {
    const CommandResult result =
        RunCommand("ffmpeg -v error -i " + ShellQuote(file.string()) + " -map 0:a -f null -");
    std::istringstream lines(result.err);
    std::string errors;
    for (std::string line; std::getline(lines, line);)
        if (line.find("[" + videoCodec + " @") == std::string::npos && !line.starts_with("    Last message"))
            errors += line + "\n";
    return errors;
}

// Runs a writer's command line with `file` in place of its %s.
void Write(const std::string& writer, const fs::path& file) {
    char command[1024];
    std::snprintf(command, sizeof command, writer.c_str(), ShellQuote(file.string()).c_str());
    ASSERT_EQ(RunCommand(command).exitStatus, 0) << command;
}

// How the first bytes went: zeroed where they stood, or gone with the file starting later.
struct Loss {
    size_t bytes;
    bool removed;
};

class LostHeader : public ::testing::TestWithParam<LostCase> {};

TEST_P(LostHeader, TheStreamsTheChunksHoldAreDeclaredAndEveryCompleteChunkIsBack) {
    const LostCase& c = GetParam();
    ScratchDir dir;
    const fs::path whole = dir / "whole.avi";
    ASSERT_NO_FATAL_FAILURE(Write(c.writer, whole));
    const Truth truth = TruthWalk(whole);
    const Bytes original = ReadBytes(whole);

    for (const Loss loss : {Loss{4096, false}, Loss{8192, false}, Loss{65536, true}}) {
        SCOPED_TRACE(std::to_string(loss.bytes) + (loss.removed ? " bytes missing" : " bytes zeroed"));
        // Cut seven tenths in: the writer's index and the end of the data are gone too.
        const size_t cut = original.size() * 7 / 10;
        Bytes bytes(original.begin(), original.begin() + static_cast<ptrdiff_t>(cut));
        std::fill_n(bytes.begin(), loss.bytes, uint8_t{0});
        if (loss.removed)
            bytes.erase(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(loss.bytes));
        const fs::path lost = dir / "lost.avi";
        WriteBytes(lost, bytes);
        const fs::path fixed = dir / "fix_lost.avi";
        fs::remove(fixed);

        const CommandResult result = Cli(std::string(c.cliOptions) + " " + ShellQuote(lost.string()));

        ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
        EXPECT_NE(result.out.find(c.says), std::string::npos) << result.out;
        EXPECT_EQ(ReadBytes(lost), bytes) << "the recording was changed";
        const auto streams = Probe(fixed);
        EXPECT_EQ(streams.at("video").codecName, c.videoCodec);
        EXPECT_EQ(streams.at("video").width, 320u);
        EXPECT_EQ(streams.at("video").height, 240u);
        EXPECT_EQ(streams.at("video").frameRate, "25/1");
        EXPECT_EQ(streams.at("audio").codecName, c.audioCodec);
        EXPECT_EQ(streams.at("audio").sampleRate, c.sampleRate);
        EXPECT_EQ(streams.at("audio").channels, c.channels);

        // Every chunk whose header and payload the damaged file still holds whole; readers pass over
        // empty ones.
        std::map<int, std::pair<uint64_t, uint64_t>> kept; // stream: chunks, bytes
        for (const TruthChunk& chunk : truth.chunks)
            if (chunk.offset >= loss.bytes && chunk.offset + 8 + chunk.size <= cut && chunk.size != 0) {
                ++kept[chunk.stream].first;
                kept[chunk.stream].second += chunk.size;
            }
        // A recorder that wrote sound first has it as the first stream of the new file too.
        const int video = ProbeStreams(fixed).front().codecType == "video" ? 0 : 1;
        const int audio = 1 - video;
        const std::map<int, StreamPackets> packets = ProbePackets(fixed);
        EXPECT_EQ(packets.at(video).count, kept[0].first);
        EXPECT_EQ(packets.at(audio).bytes, kept[1].second);
        // Every picture from the first key frame on decodes; the ones before it refer to lost ones.
        const std::vector<bool>& keys = packets.at(video).keys;
        const auto firstKey = static_cast<uint64_t>(std::find(keys.begin(), keys.end(), true) - keys.begin());
        EXPECT_GE(DecodedPictures(fixed), keys.size() - firstKey);
        EXPECT_EQ(SoundDecodeErrors(fixed, c.videoCodec), "");
        // Sound and video end together, as they did in the recording.
        EXPECT_NEAR(packets.at(video).end, packets.at(audio).end, 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, LostHeader,
    ::testing::Values(
        LostCase{"H264Pcm", Ffmpeg("-c:v libx264 -g 25 -c:a pcm_s16le -ac 1 -ar 22050"), "",
                 "H.264 320x240 at 25 fps from the video, PCM 16-bit mono 22050 Hz from the video's clock",
                 "h264", "pcm_s16le", 22050, 1},
        LostCase{"Mpeg4MsAdpcm", Ffmpeg("-c:v mpeg4 -g 25 -c:a adpcm_ms -ac 1 -ar 22050"), "",
                 "MPEG-4 320x240 at 25 fps from the video, MS-ADPCM mono 22050 Hz", "mpeg4", "adpcm_ms",
                 22050, 1},
        LostCase{"H264ImaAdpcm", Ffmpeg("-c:v libx264 -g 25 -c:a adpcm_ima_wav -ac 2 -ar 22050"), "",
                 "IMA-ADPCM stereo 22050 Hz", "h264", "adpcm_ima_wav", 22050, 2},
        LostCase{"MjpegMp3", Ffmpeg("-c:v mjpeg -c:a libmp3lame -ac 2 -ar 44100"), "",
                 "Motion JPEG 320x240 at 25 fps from the sound's clock, MP3 128 kbit/s stereo 44100 Hz",
                 "mjpeg", "mp3", 44100, 2},
        LostCase{"Mpeg4Ac3", Ffmpeg("-c:v mpeg4 -g 25 -c:a ac3 -ac 2 -ar 48000"), "",
                 "AC-3 192 kbit/s stereo 48000 Hz", "mpeg4", "ac3", 48000, 2},
        LostCase{"Mpeg4Mp2", Ffmpeg("-c:v mpeg4 -g 25 -c:a mp2 -ac 2 -ar 48000"), "", "MP2", "mpeg4", "mp2",
                 48000, 2},
        // Neither Motion JPEG nor PCM carries a rate: the user's says it, and the sound's follows.
        LostCase{"MjpegPcm8Stereo", Ffmpeg("-c:v mjpeg -c:a pcm_u8 -ac 2 -ar 11025"), "--fps 25",
                 "at 25 fps as given, PCM 8-bit stereo 11025 Hz from the video's clock", "mjpeg", "pcm_u8",
                 11025, 2},
        LostCase{
            "GStreamerMjpegPcm",
            "gst-launch-1.0 -q -e videotestsrc num-buffers=150 ! video/x-raw,width=320,height=240,"
            "framerate=25/1 ! jpegenc ! avimux name=mux ! filesink location=%s audiotestsrc num-buffers=130 "
            "samplesperbuffer=1024 ! audio/x-raw,rate=22050,channels=1,format=S16LE ! mux.",
            "--fps 25", "PCM 16-bit mono 22050 Hz", "mjpeg", "pcm_s16le", 22050, 1}),
    [](const auto& test) { return std::string(test.param.name); });

// Chunks that fit no format leave nothing to write a header from: the recording stays as it was.
TEST(LostHeader, SoundThatFitsNoFormatIsNamedAndNothingIsWritten) {
    ScratchDir dir;
    const fs::path whole = dir / "whole.avi";
    ASSERT_NO_FATAL_FAILURE(Write(Ffmpeg("-c:v libx264 -g 25 -c:a pcm_s16le -ac 1 -ar 22050"), whole));
    Bytes bytes = ReadBytes(whole);
    // The sound turned to noise: no smooth shape, no coded frames.
    uint32_t noise = 12345;
    for (const TruthChunk& chunk : TruthWalk(whole).chunks)
        if (chunk.stream == 1)
            for (uint64_t i = 0; i < chunk.size; ++i) {
                noise = noise * 1103515245 + 12345;
                bytes[chunk.offset + 8 + i] = static_cast<uint8_t>(noise >> 16);
            }
    std::fill_n(bytes.begin(), 8192, uint8_t{0});
    const fs::path lost = dir / "lost.avi";
    WriteBytes(lost, bytes);

    const CommandResult result = Cli(ShellQuote(lost.string()));

    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("its chunks do not say what its sound is"), std::string::npos) << result.err;
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"lost.avi", "whole.avi"}));
}

} // namespace
} // namespace clipwright::test

namespace clipwright::test {
namespace {

// A healthy recording of the same device stands in for the lost header when it fits the chunks,
// and is refused with the reason when it does not.
TEST(LostHeader, AReferenceRecordingGivesItsStreamsOrIsRefusedWithTheReason) {
    ScratchDir dir;
    const std::string codecs = "-c:v libx264 -g 25 -c:a pcm_s16le -ac 1 -ar 22050";
    const fs::path whole = dir / "whole.avi";
    ASSERT_NO_FATAL_FAILURE(Write(Ffmpeg(codecs), whole));
    Bytes bytes = ReadBytes(whole);
    bytes.resize(bytes.size() * 7 / 10);
    std::fill_n(bytes.begin(), 8192, uint8_t{0});
    const fs::path lost = dir / "lost.avi";
    WriteBytes(lost, bytes);
    struct Case {
        const char* name;
        std::string reference; // a writer of the reference recording
        const char* refusal;   // empty: it fits
    };
    const Case cases[] = {
        {"same device", kFfmpegSources + std::string("-t 2 ") + codecs + " %s", ""},
        {"another size", "ffmpeg -v error -y -f lavfi -i testsrc=size=640x480:rate=25 -t 1 -c:v libx264 %s",
         "its frame size is not the one this recording's video gives"},
        {"another codec", Ffmpeg("-c:v mjpeg -c:a pcm_s16le -ac 1 -ar 22050"),
         "its video is of another codec than this recording's"},
        {"another sound", Ffmpeg("-c:v libx264 -g 25 -c:a pcm_u8 -ac 2 -ar 22050"),
         "its sound is of another format than this recording's"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path reference = dir / "reference.avi";
        ASSERT_NO_FATAL_FAILURE(Write(c.reference, reference));
        const fs::path fixed = dir / "fix_lost.avi";
        fs::remove(fixed);

        const CommandResult result =
            Cli("--reference " + ShellQuote(reference.string()) + " " + ShellQuote(lost.string()));

        EXPECT_EQ(ReadBytes(lost), bytes);
        if (*c.refusal != '\0') {
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_NE(result.err.find(c.refusal), std::string::npos) << result.err;
            EXPECT_FALSE(fs::exists(fixed));
            continue;
        }
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_NE(result.out.find("streams as in the reference reference.avi"), std::string::npos)
            << result.out;
        const std::vector<ProbedStream> original = ProbeStreams(whole);
        const std::vector<ProbedStream> repaired = ProbeStreams(fixed);
        ASSERT_EQ(repaired.size(), original.size());
        for (size_t i = 0; i < original.size(); ++i) {
            EXPECT_EQ(repaired[i].codecName, original[i].codecName);
            EXPECT_EQ(repaired[i].width, original[i].width);
            EXPECT_EQ(repaired[i].frameRate, original[i].frameRate);
            EXPECT_EQ(repaired[i].sampleRate, original[i].sampleRate);
            EXPECT_EQ(repaired[i].channels, original[i].channels);
        }
        EXPECT_GT(DecodedPictures(fixed), 90u);
    }
}

} // namespace
} // namespace clipwright::test
