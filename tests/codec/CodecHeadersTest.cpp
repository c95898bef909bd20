// Header readers against real encoders (Debian's ffmpeg with its MPEG-4, Xvid, Motion JPEG and x264
// encoders) and against headers built field by field here, whole, cut short and damaged.
#include "AviReader.h"
#include "ReaderOracles.h"
#include "RealWriters.h"
#include "TestFiles.h"
#include "codec/BitReader.h"
#include "codec/H264Headers.h"
#include "codec/KeyFrames.h"
#include "codec/MjpegHeaders.h"
#include "codec/Mpeg4Headers.h"
#include "codec/VopRateMeter.h"

#include <gtest/gtest.h>

#include <functional>

namespace clipwright::test {
namespace {

using namespace codec;

// A stream of ffmpeg's test pattern; `codec` holds the encoder and format options.
Bytes Encode(const std::string& size, const std::string& rate, double seconds, const std::string& codec) {
    ScratchDir dir;
    const auto path = dir / "stream";
    const CommandResult result =
        RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + size + ":rate=" + rate + " -t " +
                   std::to_string(seconds) + " " + codec + " " + ShellQuote(path.string()));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return ReadBytes(path);
}

size_t PositionOf(const Bytes& bytes, const Bytes& pattern) {
    const auto found = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    EXPECT_NE(found, bytes.end());
    return static_cast<size_t>(found - bytes.begin());
}

enum class Format { Mpeg4, Mjpeg, H264 };

// Everything a stream's headers give, as each check compares it.
struct Reading {
    std::optional<uint32_t> width, height;
    std::optional<double> rate;      // MPEG-4 VOP times, H.264 VUI timing
    std::optional<double> fixedRate; // MPEG-4 VOL
    std::optional<bool> fieldCoded;  // H.264 frame_mbs_only_flag 0, MJPEG AVI1 polarity 1 or 2
    bool operator==(const Reading&) const = default;
};

Reading Read(Format format, std::span<const uint8_t> bytes) {
    Reading reading;
    if (format == Format::Mpeg4) {
        if (std::optional<Mpeg4Vol> vol = FindMpeg4Vol(bytes)) {
            reading.width = vol->width;
            reading.height = vol->height;
            reading.fixedRate = vol->FixedRate();
        }
        VopRateMeter meter;
        meter.Feed(bytes);
        reading.rate = meter.Rate();
    } else if (format == Format::Mjpeg) {
        if (std::optional<MjpegSize> size = ParseMjpegSize(bytes)) {
            reading.width = size->width;
            reading.height = size->height;
            reading.fieldCoded = size->fields != JpegFields::Whole;
        }
    } else if (std::optional<H264Sps> sps = FindH264Sps(bytes)) {
        reading.width = sps->width;
        reading.height = sps->height;
        reading.rate = sps->FrameRate();
        reading.fieldCoded = !sps->frameMbsOnly;
    }
    return reading;
}

void ExpectReading(const Reading& got, const Reading& expected) {
    EXPECT_EQ(got.width, expected.width);
    EXPECT_EQ(got.height, expected.height);
    EXPECT_EQ(got.fieldCoded, expected.fieldCoded);
    for (auto [rate, wanted] :
         {std::pair{got.rate, expected.rate}, std::pair{got.fixedRate, expected.fixedRate}}) {
        ASSERT_EQ(rate.has_value(), wanted.has_value());
        if (rate) {
            EXPECT_NEAR(*rate, *wanted, *wanted * 1e-9);
        }
    }
}

TEST(BitReader, ReadsFieldsAndExpGolombCodesAndFailsPastTheEnd) {
    // 101, ue 1 = 0, ue 010 = 1, ue 00111 = 6, se 011 = -1, then a single 1 and the end
    const Bytes bytes = {0b10110100, 0b01110111};
    BitReader reader(bytes);
    EXPECT_EQ(reader.Bits(3), 0b101u);
    EXPECT_EQ(reader.UnsignedExpGolomb(), 0u);
    EXPECT_EQ(reader.UnsignedExpGolomb(), 1u);
    EXPECT_EQ(reader.UnsignedExpGolomb(), 6u);
    EXPECT_EQ(reader.SignedExpGolomb(), -1);
    EXPECT_EQ(reader.BitsLeft(), 1u);
    EXPECT_EQ(reader.Bits(2), std::nullopt);
    EXPECT_EQ(reader.Flag(), std::nullopt); // sticky: the bit that was left is no answer now

    const Bytes zeros(8, 0); // longer than any 32-bit code
    EXPECT_EQ(BitReader(zeros).UnsignedExpGolomb(), std::nullopt);
    const Bytes word = {0xDE, 0xAD, 0xBE, 0xEF};
    BitReader wide(word);
    EXPECT_EQ(wide.Bits(32), 0xDEADBEEFu);
    EXPECT_EQ(wide.Bits(1), std::nullopt);
}

struct EncodedCase {
    std::string name;
    Format format;
    std::string size, rate; // as ffmpeg takes them
    std::string options;
    Reading expected;
};

class FromRealEncoder : public testing::TestWithParam<EncodedCase> {};

// ffmpeg leaves MPEG-4's fixed_vop_rate at 0, Xvid sets it. 180, 94 and 75 lines are no whole
// number of H.264 macroblocks: the SPS crops, in units of the chroma format and of fields.
TEST_P(FromRealEncoder, HeadersGiveTheSizeAndRateEncodedWith) {
    const EncodedCase& c = GetParam();
    ExpectReading(Read(c.format, Encode(c.size, c.rate, 1, c.options)), c.expected);
}

constexpr double kNtsc = 30000.0 / 1001;
const std::string kMpeg4 = "-c:v mpeg4 -f m4v ";
const std::string kMjpeg = "-c:v mjpeg -f mjpeg -frames:v 1 ";
const std::string kX264 = "-c:v libx264 -f h264 -pix_fmt ";

INSTANTIATE_TEST_SUITE_P(
    Streams, FromRealEncoder,
    testing::Values(
        EncodedCase{"Mpeg4Qvga25", Format::Mpeg4, "320x240", "25", kMpeg4, {320, 240, 25.0, {}, {}}},
        EncodedCase{"Mpeg4Qcif10", Format::Mpeg4, "176x144", "10", kMpeg4, {176, 144, 10.0, {}, {}}},
        EncodedCase{"Mpeg4Ntsc", Format::Mpeg4, "640x480", "30000/1001", kMpeg4, {640, 480, kNtsc, {}, {}}},
        EncodedCase{
            "Mpeg4BFrames", Format::Mpeg4, "320x240", "15", kMpeg4 + "-bf 2", {320, 240, 15.0, {}, {}}},
        EncodedCase{"Mpeg4OddSize", Format::Mpeg4, "202x94", "7", kMpeg4 + "-g 3", {202, 94, 7.0, {}, {}}},
        EncodedCase{"XvidFixedRate",
                    Format::Mpeg4,
                    "320x240",
                    "10",
                    "-c:v libxvid -f m4v",
                    {320, 240, 10.0, 10.0, {}}},
        EncodedCase{"MjpegVga", Format::Mjpeg, "640x480", "10", kMjpeg, {640, 480, {}, {}, false}},
        EncodedCase{"MjpegOddSize", Format::Mjpeg, "101x75", "10", kMjpeg, {101, 75, {}, {}, false}},
        EncodedCase{"Mjpeg422",
                    Format::Mjpeg,
                    "320x240",
                    "10",
                    kMjpeg + "-pix_fmt yuvj422p",
                    {320, 240, {}, {}, false}},
        EncodedCase{
            "H264Qvga", Format::H264, "320x240", "25", kX264 + "yuv420p", {320, 240, 25.0, {}, false}},
        EncodedCase{
            "H264Cropped420", Format::H264, "320x180", "30", kX264 + "yuv420p", {320, 180, 30.0, {}, false}},
        EncodedCase{
            "H264Cropped444", Format::H264, "320x180", "25", kX264 + "yuv444p", {320, 180, 25.0, {}, false}},
        EncodedCase{
            "H264Cropped422", Format::H264, "202x94", "10", kX264 + "yuv422p", {202, 94, 10.0, {}, false}},
        EncodedCase{"H264Ntsc",
                    Format::H264,
                    "640x480",
                    "30000/1001",
                    kX264 + "yuv420p",
                    {640, 480, kNtsc, {}, false}},
        EncodedCase{"H264Fields",
                    Format::H264,
                    "320x180",
                    "25",
                    kX264 + "yuv420p -flags +ildct+ilme",
                    {320, 180, 25.0, {}, true}}),
    [](const testing::TestParamInfo<EncodedCase>& param) { return param.param.name; });

// A JPEG of one field with an AVI1 segment put in front, as capture cards write field-coded MJPEG,
// and with its start-of-frame marker or size changed.
TEST(MjpegVariants, Avi1PolarityAndFrameKindDecideTheSize) {
    const Bytes field = Encode("320x120", "10", 0.1, kMjpeg);
    const size_t sof = PositionOf(field, {0xFF, 0xC0}); // SOF0
    auto avi1 = [&](std::optional<uint8_t> polarity) {
        Bytes segment = {0xFF, 0xE0, 0, 0, 'A', 'V', 'I', '1'};
        if (polarity)
            segment.insert(segment.end(), {*polarity, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        segment[3] = static_cast<uint8_t>(segment.size() - 2);
        Bytes frame = field;
        frame.insert(frame.begin() + 2, segment.begin(), segment.end());
        return frame;
    };
    auto changed = [&](size_t offset, uint8_t value) {
        Bytes frame = field;
        frame[sof + offset] = value;
        return frame;
    };
    const Reading whole{320, 120, {}, {}, false}, doubled{320, 240, {}, {}, true},
        nothing{{}, {}, {}, {}, {}};
    struct Case {
        const char* name;
        Bytes frame;
        Reading expected;
    };
    for (const Case& c :
         {Case{"odd field first", avi1(1), doubled}, Case{"even field first", avi1(2), doubled},
          Case{"whole picture", avi1(0), whole}, Case{"unknown polarity", avi1(3), nothing},
          Case{"no polarity", avi1(std::nullopt), nothing}, Case{"SOF1", changed(1, 0xC1), whole},
          Case{"SOF2", changed(1, 0xC2), whole}, Case{"lossless SOF3", changed(1, 0xC3), nothing},
          Case{"arithmetic SOF9", changed(1, 0xC9), nothing},
          Case{"lines given later", changed(6, 0), nothing}}) {
        SCOPED_TRACE(c.name);
        ExpectReading(Read(Format::Mjpeg, c.frame), c.expected);
    }
}

TEST(H264RandomAccess, IdrSlicesAndRecoveryPointsStartDecoding) {
    // One slice a picture, so a picture's NAL units end with its slice.
    auto entries = [](const Bytes& stream) {
        std::vector<bool> startsDecoding;
        Bytes picture;
        for (auto nal = NextNalUnit(stream, 0); nal; nal = NextNalUnit(stream, nal->End())) {
            picture.insert(picture.end(), {0, 0, 1});
            picture.insert(picture.end(), nal->bytes.begin(), nal->bytes.end());
            if (nal->Type() == kH264NonIdrSlice || nal->Type() == kH264IdrSlice) {
                startsDecoding.push_back(StartsRandomAccess(picture));
                EXPECT_EQ(IsKeyFrame(VideoCoding::H264, picture), startsDecoding.back());
                picture.clear();
            }
        }
        return startsDecoding;
    };
    const std::string options = kX264 + "yuv420p -bf 0 -x264-params keyint=10:min-keyint=10:scenecut=0";
    const std::vector<bool> closed = entries(Encode("160x120", "25", 2, options));
    ASSERT_EQ(closed.size(), 50u);
    for (size_t i = 0; i < closed.size(); ++i)
        EXPECT_EQ(closed[i], i % 10 == 0) << i;
    // With intra refresh only the first picture is an IDR; the rest begin with recovery points.
    const std::vector<bool> refreshed = entries(Encode("160x120", "25", 2, options + ":intra-refresh=1"));
    EXPECT_EQ(std::count(refreshed.begin(), refreshed.end(), true), 5);
}

// Each picture of an MPEG-4 stream as a recorder stores it: the headers before a VOP, and the VOP.
std::vector<Bytes> Mpeg4Pictures(const Bytes& stream) {
    std::vector<Bytes> pictures;
    size_t begin = 0;
    for (auto at = FindStartCode(stream, 0); at;) {
        const auto next = FindStartCode(stream, *at + 4);
        if (*at + 3 < stream.size() && stream[*at + 3] == kMpeg4Vop) {
            const size_t end = next.value_or(stream.size());
            pictures.emplace_back(stream.begin() + static_cast<ptrdiff_t>(begin),
                                  stream.begin() + static_cast<ptrdiff_t>(end));
            begin = end;
        }
        at = next;
    }
    return pictures;
}

TEST(Mpeg4KeyFrames, IntraVopsStartDecodingWhateverStandsBeforeOrBehindThem) {
    const auto isKey = [](const Bytes& frame) {
        return IsKeyFrame(VideoCoding::Mpeg4Visual,
                          std::span(frame).first(std::min(frame.size(), kKeyFrameProbeBytes)));
    };
    // A picture every 10 is intra; larger pictures run past the probe's bytes.
    const std::vector<Bytes> pictures =
        Mpeg4Pictures(Encode("640x480", "25", 2, kMpeg4 + "-g 10 -bf 0 -q:v 2"));
    ASSERT_EQ(pictures.size(), 50u);
    for (size_t i = 0; i < pictures.size(); ++i)
        EXPECT_EQ(isKey(pictures[i]), i % 10 == 0) << i;
    // Fewer bytes give the same answer, or none.
    for (const Bytes& picture : pictures)
        for (size_t bytes = 0; bytes <= std::min(picture.size(), kKeyFrameProbeBytes); bytes += 7) {
            const std::optional<bool> settled =
                KeyFrameSettledBy(VideoCoding::Mpeg4Visual, std::span(picture).first(bytes));
            if (settled) {
                EXPECT_EQ(*settled, isKey(picture)) << bytes << " bytes";
            }
        }

    const Bytes vol = {0, 0, 1, 0x20, 0x08};
    const Bytes longData(3000, 0x55);
    auto joined = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    struct Case {
        std::string name;
        Bytes frame;
        bool key;
    };
    for (const Case& c : {
             Case{"no start code: not judged a delta frame", {0x12, 0x34, 0x56}, true},
             Case{"a start code cut before its code", {0x12, 0, 0, 1}, true},
             Case{"intra", {0, 0, 1, 0xB6, 0x10}, true},
             Case{"predicted", {0, 0, 1, 0xB6, 0x50}, false},
             Case{"bidirectional", {0, 0, 1, 0xB6, 0x90}, false},
             Case{"sprite", {0, 0, 1, 0xB6, 0xD0}, false},
             Case{"headers, then intra", joined({vol, {0, 0, 1, 0xB3, 0x01}, {0, 0, 1, 0xB6, 0x20}}), true},
             Case{"headers, then predicted", joined({vol, {0, 0, 1, 0xB6, 0x60}, longData}), false},
             Case{"predicted, with data", joined({{0, 0, 1, 0xB6, 0x40}, longData}), false},
             Case{"a VOP cut behind its code", joined({vol, {0, 0, 1, 0xB6}}), false},
             Case{"a VOP without a body", {0, 0, 1, 0xB6, 0, 0, 1, 0xB6, 0x00}, false},
             Case{"a VOP without a body, then zeros", {0, 0, 1, 0xB6, 0, 0, 1}, false},
             Case{"headers without a VOP", joined({vol, longData}), false},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isKey(c.frame), c.key);
        for (size_t bytes = 0; bytes <= c.frame.size(); ++bytes)
            if (const auto settled =
                    KeyFrameSettledBy(VideoCoding::Mpeg4Visual, std::span(c.frame).first(bytes))) {
                EXPECT_EQ(*settled, c.key) << bytes << " bytes";
            }
    }

    const Bytes noStartCode = {0x12, 0x34, 0x56, 0x78};
    EXPECT_TRUE(IsKeyFrame(VideoCoding::H264, noStartCode)); // length-prefixed units
    EXPECT_TRUE(IsKeyFrame(VideoCoding::Intra, {}));
}

// Fewer of a frame's bytes give IsKeyFrame's answer, or none.
void ExpectPrefixesAgree(VideoCoding coding, std::span<const uint8_t> frame, size_t step) {
    const bool key = IsKeyFrame(coding, frame);
    for (size_t bytes = 0; bytes <= frame.size(); bytes += step)
        if (const std::optional<bool> settled = KeyFrameSettledBy(coding, frame.first(bytes))) {
            ASSERT_EQ(*settled, key) << bytes << " of " << frame.size() << " bytes";
        }
}

// Every frame of each codec, as ffmpeg writes it into AVI, against the pictures ffmpeg decodes from
// it: the writer's own flags are not the truth (its H.263 ones say every frame is a key frame).
TEST(KeyFrames, EachCodecsFramesSayWhichPicturesDecodeAsKeyFrames) {
    ScratchDir dir;
    for (const FfmpegVideoCodec& codec : FfmpegVideoCodecs()) {
        SCOPED_TRACE(codec.name);
        const auto file = dir / (codec.name + ".avi");
        WriteFfmpegVideo(codec, file);
        const avitest::AviReader reader(file.string());
        ASSERT_TRUE(reader.Streams().at(0).video.has_value());
        const VideoCoding coding =
            VideoCodingOf(reader.Streams()[0].video->compression, reader.Streams()[0].header.handler);
        ASSERT_NE(coding, VideoCoding::Unread);
        const std::map<uint64_t, bool> decoded = DecodedKeyPicturesByChunk(file);
        const Bytes bytes = ReadBytes(file);
        size_t keys = 0;
        for (const avitest::Chunk& chunk : reader.StreamChunks(0)) {
            const auto frame = std::span(bytes).subspan(chunk.PayloadOffset(),
                                                        std::min<size_t>(chunk.size, kKeyFrameProbeBytes));
            ASSERT_TRUE(decoded.contains(chunk.offset)) << "no picture from the chunk at " << chunk.offset;
            EXPECT_EQ(IsKeyFrame(coding, frame), decoded.at(chunk.offset)) << "the chunk at " << chunk.offset;
            keys += decoded.at(chunk.offset) ? 1u : 0u;
            ExpectPrefixesAgree(coding, frame, 7);
        }
        EXPECT_GT(keys, 1u) << "a key frame every 12";
    }
}

// What real encoders do not write: the other picture header forms, and headers that do not read.
TEST(KeyFrames, PictureHeadersBuiltByHand) {
    const Bytes mpeg2Sequence = {0, 0, 1, 0xB3, 0x0B, 0x00, 0x90, 0x13,
                                 0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00};
    auto after = [](Bytes head, std::initializer_list<uint8_t> tail) {
        head.insert(head.end(), tail);
        return head;
    };
    struct Case {
        const char* name;
        VideoCoding coding;
        Bytes frame;
        bool key;
    };
    for (const Case& c : {
             Case{"MPEG-2 I picture behind its headers", VideoCoding::Mpeg12,
                  after(mpeg2Sequence, {0, 0, 1, 0, 0, 0x0F}), true},
             Case{"MPEG-2 P picture", VideoCoding::Mpeg12, {0, 0, 1, 0, 0x01, 0x17}, false},
             Case{"MPEG-2 B picture", VideoCoding::Mpeg12, {0, 0, 1, 0, 0x01, 0x1F}, false},
             Case{"MPEG-2 slice before any picture", VideoCoding::Mpeg12, {0, 0, 1, 0x01, 0x08}, false},
             Case{"MPEG-2 headers without a picture", VideoCoding::Mpeg12, mpeg2Sequence, false},
             Case{"H.263 INTRA", VideoCoding::H263, {0, 0, 0x80, 0x02, 0x08, 0}, true},
             Case{"H.263 INTER", VideoCoding::H263, {0, 0, 0x80, 0x02, 0x0A, 0}, false},
             Case{"H.263+ I with the optional part",
                  VideoCoding::H263,
                  {0, 0, 0x80, 0x02, 0x1C, 0x80, 0, 0x00, 0},
                  true},
             Case{"H.263+ P with the optional part",
                  VideoCoding::H263,
                  {0, 0, 0x80, 0x02, 0x1C, 0x80, 0, 0x04, 0},
                  false},
             Case{"H.263+ I without it", VideoCoding::H263, {0, 0, 0x80, 0x02, 0x1C, 0x00}, true},
             Case{"H.263+ P without it", VideoCoding::H263, {0, 0, 0x80, 0x02, 0x1C, 0x10}, false},
             Case{"H.263 header with a broken marker", VideoCoding::H263, {0, 0, 0x80, 0x03, 0x08, 0}, false},
             Case{"MS-MPEG-4 v1 I", VideoCoding::MsMpeg4v1, {0, 0, 1, 0, 0xF8}, true},
             Case{"MS-MPEG-4 v1 P", VideoCoding::MsMpeg4v1, {0, 0, 1, 0, 0xFA}, false},
             Case{"MS-MPEG-4 v1 without its start code", VideoCoding::MsMpeg4v1, {0, 0, 1, 0xB6, 0}, false},
             Case{"MS-MPEG-4 v3 I", VideoCoding::MsMpeg4, {0x3F}, true},
             Case{"MS-MPEG-4 v3 P", VideoCoding::MsMpeg4, {0x40}, false},
             Case{"WMV2 I", VideoCoding::Wmv2, {0x7F}, true},
             Case{"WMV2 P", VideoCoding::Wmv2, {0x80}, false},
             Case{"FFV1 key frame bit", VideoCoding::Ffv1, {0x7F, 0x80}, true},
             Case{"FFV1 just below it", VideoCoding::Ffv1, {0x7F, 0x7F}, false},
             Case{"FFV1 cut to a byte", VideoCoding::Ffv1, {0xFF}, false},
             Case{"HEVC IDR behind a VPS",
                  VideoCoding::Hevc,
                  {0, 0, 1, 0x40, 0x01, 0xAA, 0, 0, 0, 1, 0x26, 0x01},
                  true},
             Case{"HEVC CRA", VideoCoding::Hevc, {0, 0, 1, 0x2A, 0x01}, true},
             Case{"HEVC trailing picture", VideoCoding::Hevc, {0, 0, 0, 1, 0x02, 0x01}, false},
             Case{"HEVC parameter sets only",
                  VideoCoding::Hevc,
                  {0, 0, 1, 0x40, 0x01, 0, 0, 1, 0x42, 0x01},
                  false},
             Case{"HEVC without start codes", VideoCoding::Hevc, {0x00, 0x10, 0x26, 0x01}, true},
             Case{"VP8 key frame", VideoCoding::Vp8, {0x10, 0x02, 0x00, 0x9D, 0x01, 0x2A}, true},
             Case{"VP8 inter frame", VideoCoding::Vp8, {0x11, 0x02, 0x00}, false},
             Case{"VP9 profile 3 key frame", VideoCoding::Vp9, {0xB0}, true},
             Case{"VP9 profile 3 inter frame", VideoCoding::Vp9, {0xB2}, false},
             Case{"VP9 shown earlier frame", VideoCoding::Vp9, {0x88}, false},
             Case{"VP9 without its frame marker", VideoCoding::Vp9, {0x00}, false},
             Case{"a codec not read", VideoCoding::Unread, {0, 0, 1, 0, 0, 0x0F}, false},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsKeyFrame(c.coding, c.frame), c.key);
        ExpectPrefixesAgree(c.coding, c.frame, 1);
    }

    // Writers spell codes in either case, in the format or only in the stream header.
    EXPECT_EQ(VideoCodingOf("xvid", "FMP4"), VideoCoding::Mpeg4Visual);
    EXPECT_EQ(VideoCodingOf(FourCC(), "H264"), VideoCoding::H264);
    EXPECT_EQ(VideoCodingOf("avc1", "MJPG"), VideoCoding::H264);
    EXPECT_EQ(VideoCodingOf("MJPG", "MJPG"), VideoCoding::Intra);
    EXPECT_EQ(VideoCodingOf("div3", "div3"), VideoCoding::MsMpeg4);
    EXPECT_EQ(VideoCodingOf("MPG4", FourCC()), VideoCoding::MsMpeg4v1);
    EXPECT_EQ(VideoCodingOf("h265", FourCC()), VideoCoding::Hevc);
    EXPECT_EQ(VideoCodingOf("cvid", "cvid"), VideoCoding::Unread);
    EXPECT_EQ(VideoCodingOf(FourCC(), "DIB "), VideoCoding::Intra); // BI_RGB
}

// A VOL written field by field: a start code, then the fields in order.
struct VolFields {
    bool layerId = false, extendedPar = false, vbv = false; // optional parts
    uint32_t resolution = 30;
    std::optional<uint32_t> fixedIncrement; // five bits at resolution 30
    uint32_t width = 320, height = 240;
    int brokenMarker = 0; // 1 to 5: that marker written as 0
};

Bytes BuildVol(const VolFields& f) {
    std::vector<bool> bits;
    auto put = [&](uint32_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;)
            bits.push_back(((value >> i) & 1u) != 0);
    };
    auto marker = [&](int which) { put(f.brokenMarker == which ? 0 : 1, 1); };
    put(0, 1), put(1, 8), put(f.layerId, 1); // random_accessible_vol, simple object type
    if (f.layerId)
        put(2, 4), put(1, 3);
    put(f.extendedPar ? 15 : 1, 4);
    if (f.extendedPar)
        put(12, 8), put(11, 8);
    put(1, 1), put(1, 2), put(1, 1), put(f.vbv, 1); // vol_control_parameters, 4:2:0, low_delay
    for (int i = 0; f.vbv && i < 3; ++i)            // bit rate and buffer size halves, each with a marker
        put(0x1234, 15), put(1, 1);
    if (f.vbv) // the buffer size's last 3 bits and the occupancy, its halves marked
        put(5, 3), put(77, 11), put(1, 1), put(99, 15), put(1, 1);
    put(0, 2), marker(1), put(f.resolution, 16), marker(2); // rectangular shape
    put(f.fixedIncrement.has_value(), 1);
    if (f.fixedIncrement)
        put(*f.fixedIncrement, 5);
    marker(3), put(f.width, 13), marker(4), put(f.height, 13), marker(5);
    put(0, 1), put(1, 1), put(0, 1); // interlaced, obmc_disable, sprite_enable
    Bytes bytes = {0, 0, 1, 0x20};
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t byte = 0x7F >> (bits.size() - i < 8 ? bits.size() - i : 8); // stuffing: a 0, then 1s
        for (size_t j = i; j < i + 8 && j < bits.size(); ++j)
            byte = static_cast<uint8_t>(byte | (bits[j] ? 0x80u >> (j - i) : 0u));
        bytes.push_back(byte);
    }
    return bytes;
}

TEST(HandmadeVol, GivesItsFieldsOrNothing) {
    auto with = [](std::function<void(VolFields&)> change) {
        VolFields fields;
        change(fields);
        return fields;
    };
    const Reading qvga{320, 240, {}, {}, {}}, nothing{{}, {}, {}, {}, {}};
    struct Case {
        const char* name;
        VolFields fields;
        Reading expected;
    };
    for (const Case& c :
         {Case{"plain", {}, qvga},
          Case{"every optional part", with([](VolFields& f) { f.layerId = f.extendedPar = f.vbv = true; }),
               qvga},
          Case{"fixed rate", with([](VolFields& f) { f.fixedIncrement = 2; }), {320, 240, {}, 15.0, {}}},
          Case{"fixed increment 0", with([](VolFields& f) { f.fixedIncrement = 0; }), qvga},
          Case{"resolution 0", with([](VolFields& f) { f.resolution = 0; }), nothing},
          Case{"width 0", with([](VolFields& f) { f.width = 0; }), nothing},
          Case{"height 0", with([](VolFields& f) { f.height = 0; }), nothing},
          Case{"marker before resolution", with([](VolFields& f) { f.brokenMarker = 1; }), nothing},
          Case{"marker after resolution", with([](VolFields& f) { f.brokenMarker = 2; }), nothing},
          Case{"marker before height", with([](VolFields& f) { f.brokenMarker = 4; }), nothing},
          Case{"marker after height", with([](VolFields& f) { f.brokenMarker = 5; }), nothing}}) {
        SCOPED_TRACE(c.name);
        ExpectReading(Read(Format::Mpeg4, BuildVol(c.fields)), c.expected);
    }
}

// A stream cut short anywhere gives, for each field, nothing or exactly what the whole stream
// gives: never another confident value. Below `mustFail` bytes the size is not there yet.
TEST(DamagedHeaders, CutShortTheyGiveNothingOrTheWholeAnswer) {
    struct Case {
        Format format;
        Bytes stream;
        Bytes sizeEndsBehind; // the size is whole some bytes behind this
        size_t sizeBytes;
    };
    for (const Case& c :
         {Case{Format::Mpeg4, Encode("320x240", "25", 0.2, kMpeg4), {0, 0, 1, 0x20}, 4 + 9},
          Case{Format::H264, Encode("320x180", "25", 0.1, kX264 + "yuv420p"), {0, 0, 1, 0x67}, 4 + 6},
          Case{Format::Mjpeg, Encode("320x240", "25", 0.1, kMjpeg), {0xFF, 0xC0}, 9}}) {
        const Reading whole = Read(c.format, c.stream);
        ASSERT_TRUE(whole.width);
        const size_t mustFail = PositionOf(c.stream, c.sizeEndsBehind) + c.sizeBytes;
        for (size_t length = 0; length < c.stream.size(); ++length) {
            const Reading cut = Read(c.format, std::span(c.stream).first(length));
            SCOPED_TRACE("cut to " + std::to_string(length) + " bytes");
            if (length < mustFail) {
                EXPECT_FALSE(cut.width);
            }
            for (auto [got, full] : {std::pair{cut.width, whole.width}, std::pair{cut.height, whole.height}})
                EXPECT_TRUE(!got || got == full);
            for (auto [got, full] :
                 {std::pair{cut.rate, whole.rate}, std::pair{cut.fixedRate, whole.fixedRate}})
                EXPECT_TRUE(!got || got == full);
            EXPECT_TRUE(!cut.fieldCoded || cut.fieldCoded == whole.fieldCoded);
        }
    }
}

} // namespace
} // namespace clipwright::test
