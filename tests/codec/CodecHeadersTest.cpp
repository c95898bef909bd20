// Header readers against real encoders (Debian's ffmpeg with its MPEG-4, Xvid, Motion JPEG and x264
// encoders) and against headers built field by field here, whole and damaged.
#include "TestFiles.h"
#include "codec/BitReader.h"
#include "codec/H264Headers.h"
#include "codec/MjpegHeaders.h"
#include "codec/Mpeg4Headers.h"
#include "codec/VopRateMeter.h"

#include <gtest/gtest.h>

#include <functional>

namespace clipwright::test {
namespace {

using namespace codec;

// A stream from ffmpeg's test pattern; `codec` holds the encoder and format options.
Bytes Encode(const std::string& size, const std::string& rate, double seconds, const std::string& codec) {
    ScratchDir dir;
    const auto path = dir / "stream";
    const CommandResult result =
        RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + size + ":rate=" + rate + " -t " +
                   std::to_string(seconds) + " " + codec + " " + ShellQuote(path.string()));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return ReadBytes(path);
}

// Fields written one after another, most significant bit first, as an encoder writes a header.
class BitString {
public:
    BitString& Put(uint32_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;)
            bits_.push_back(((value >> i) & 1u) != 0);
        return *this;
    }
    // Padded as MPEG-4 pads to a byte: a 0 and then 1s.
    Bytes Finish() const {
        std::vector<bool> bits = bits_;
        bits.push_back(false);
        while (bits.size() % 8 != 0)
            bits.push_back(true);
        Bytes bytes(bits.size() / 8, 0);
        for (size_t i = 0; i < bits.size(); ++i)
            bytes[i / 8] = static_cast<uint8_t>(bytes[i / 8] | (bits[i] ? 0x80 >> (i % 8) : 0));
        return bytes;
    }

private:
    std::vector<bool> bits_;
};

TEST(BitReader, ReadsFieldsAndExpGolombCodesAndFailsPastTheEnd) {
    // 101 | 1 (ue 0) | 010 (ue 1) | 00111 (ue 6) | 00100 (se 3 = -1)... then 6 bits left
    const Bytes bytes =
        BitString().Put(0b101, 3).Put(1, 1).Put(0b010, 3).Put(0b00111, 5).Put(0b011, 3).Finish();
    BitReader reader(bytes);
    EXPECT_EQ(reader.Bits(3), 0b101u);
    EXPECT_EQ(reader.UnsignedExpGolomb(), 0u);
    EXPECT_EQ(reader.UnsignedExpGolomb(), 1u);
    EXPECT_EQ(reader.UnsignedExpGolomb(), 6u);
    EXPECT_EQ(reader.SignedExpGolomb(), -1);
    EXPECT_EQ(reader.BitsLeft(), 1u);
    EXPECT_EQ(reader.Bits(2), std::nullopt);
    EXPECT_TRUE(reader.Failed());
    EXPECT_EQ(reader.Flag(), std::nullopt); // sticky: the bit that was left is no answer now

    const Bytes zeros(8, 0); // 64 zeros: longer than any 32-bit code
    BitReader golomb(zeros);
    EXPECT_EQ(golomb.UnsignedExpGolomb(), std::nullopt);
    const Bytes word = {0xDE, 0xAD, 0xBE, 0xEF};
    BitReader wide(word);
    EXPECT_EQ(wide.Bits(32), 0xDEADBEEFu);
    EXPECT_EQ(wide.Bits(0), 0u);
    EXPECT_EQ(wide.Bits(1), std::nullopt);
}

std::optional<double> VopRate(const Bytes& stream) {
    VopRateMeter meter;
    meter.Feed(stream);
    return meter.Rate();
}

struct EncodedCase {
    std::string name;
    std::string size;
    std::string rate; // as ffmpeg takes it
    double expectedRate;
    uint32_t width, height;
    std::string options;
};

void PrintTo(const EncodedCase& c, std::ostream* out) {
    *out << c.name;
}
std::string CaseName(const testing::TestParamInfo<EncodedCase>& info) {
    return info.param.name;
}

class Mpeg4FromFfmpeg : public testing::TestWithParam<EncodedCase> {};

// ffmpeg leaves fixed_vop_rate at 0: the rate comes from the steps between VOP times.
TEST_P(Mpeg4FromFfmpeg, VolGivesTheSizeAndVopTimesTheRate) {
    const EncodedCase& c = GetParam();
    const Bytes stream = Encode(c.size, c.rate, 2, "-c:v mpeg4 " + c.options + " -f m4v");
    const std::optional<Mpeg4Vol> vol = FindMpeg4Vol(stream);
    ASSERT_TRUE(vol);
    EXPECT_EQ(vol->width, c.width);
    EXPECT_EQ(vol->height, c.height);
    EXPECT_EQ(vol->FixedRate(), std::nullopt);
    const std::optional<double> rate = VopRate(stream);
    ASSERT_TRUE(rate);
    EXPECT_NEAR(*rate, c.expectedRate, c.expectedRate * 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Encodings, Mpeg4FromFfmpeg,
                         testing::Values(EncodedCase{"Qvga25", "320x240", "25", 25, 320, 240, ""},
                                         EncodedCase{"Qcif10", "176x144", "10", 10, 176, 144, ""},
                                         EncodedCase{"Vga30000Over1001", "640x480", "30000/1001",
                                                     30000.0 / 1001, 640, 480, ""},
                                         EncodedCase{"BFrames15", "320x240", "15", 15, 320, 240, "-bf 2"},
                                         EncodedCase{"OddSize7", "202x94", "7", 7, 202, 94, "-g 3"}),
                         CaseName);

TEST(Mpeg4FromXvid, VolDeclaresAFixedRate) {
    const Bytes stream = Encode("320x240", "10", 1, "-c:v libxvid -f m4v");
    const std::optional<Mpeg4Vol> vol = FindMpeg4Vol(stream);
    ASSERT_TRUE(vol);
    EXPECT_EQ(vol->width, 320u);
    EXPECT_EQ(vol->height, 240u);
    ASSERT_TRUE(vol->FixedRate());
    EXPECT_DOUBLE_EQ(*vol->FixedRate(), 10.0);
    EXPECT_NEAR(VopRate(stream).value_or(0), 10.0, 1e-9);
}

class MjpegFromFfmpeg : public testing::TestWithParam<EncodedCase> {};

TEST_P(MjpegFromFfmpeg, StartOfFrameGivesTheSize) {
    const EncodedCase& c = GetParam();
    const std::optional<MjpegSize> size = ParseMjpegSize(Encode(c.size, c.rate, 0.2, c.options));
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, c.width);
    EXPECT_EQ(size->height, c.height);
    EXPECT_EQ(size->fields, JpegFields::Whole);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, MjpegFromFfmpeg,
    testing::Values(EncodedCase{"Baseline", "640x480", "10", 0, 640, 480, "-c:v mjpeg -f mjpeg"},
                    EncodedCase{"OddSize", "101x75", "10", 0, 101, 75, "-c:v mjpeg -f mjpeg"},
                    EncodedCase{"Chroma422", "320x240", "10", 0, 320, 240,
                                "-c:v mjpeg -pix_fmt yuvj422p -f mjpeg"}),
    CaseName);

// An AVI1 segment put in front of a real JPEG of one field, as capture cards write field-coded MJPEG.
Bytes WithAvi1Marker(const Bytes& jpeg, std::optional<uint8_t> polarity) {
    Bytes segment = {0xFF, 0xE0, 0x00, 0x00, 'A', 'V', 'I', '1'};
    if (polarity)
        segment.insert(segment.end(), {*polarity, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    segment[3] = static_cast<uint8_t>(segment.size() - 2);
    Bytes frame(jpeg.begin(), jpeg.begin() + 2); // start of image
    frame.insert(frame.end(), segment.begin(), segment.end());
    frame.insert(frame.end(), jpeg.begin() + 2, jpeg.end());
    return frame;
}

TEST(MjpegFields, Avi1PolarityTellsAFieldFromAWholePicture) {
    const Bytes field = Encode("320x120", "10", 0.1, "-c:v mjpeg -f mjpeg");
    struct Case {
        std::optional<uint8_t> polarity;
        std::optional<uint32_t> height;
        JpegFields fields;
    };
    for (const Case& c : {Case{1, 240, JpegFields::OddFieldFirst}, Case{2, 240, JpegFields::EvenFieldFirst},
                          Case{0, 120, JpegFields::Whole}, Case{3, std::nullopt, JpegFields::Whole},
                          Case{std::nullopt, std::nullopt, JpegFields::Whole}}) {
        const std::optional<MjpegSize> size = ParseMjpegSize(WithAvi1Marker(field, c.polarity));
        ASSERT_EQ(size.has_value(), c.height.has_value()) << int(c.polarity.value_or(255));
        if (!size)
            continue;
        EXPECT_EQ(size->width, 320u);
        EXPECT_EQ(size->codedHeight, 120u);
        EXPECT_EQ(size->height, *c.height);
        EXPECT_EQ(size->fields, c.fields);
    }
}

class H264FromX264 : public testing::TestWithParam<EncodedCase> {};

// 180 and 94 lines are no whole number of macroblocks: the SPS crops, in units that depend on the
// chroma format and on whether pictures are coded as fields.
TEST_P(H264FromX264, SpsGivesTheCroppedSizeAndVuiTheRate) {
    const EncodedCase& c = GetParam();
    const std::optional<H264Sps> sps =
        FindH264Sps(Encode(c.size, c.rate, 0.5, "-c:v libx264 " + c.options + " -f h264"));
    ASSERT_TRUE(sps);
    EXPECT_EQ(sps->width, c.width);
    EXPECT_EQ(sps->height, c.height);
    EXPECT_EQ(sps->frameMbsOnly, c.options.find("ildct") == std::string::npos);
    ASSERT_TRUE(sps->FrameRate());
    EXPECT_NEAR(*sps->FrameRate(), c.expectedRate, c.expectedRate * 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, H264FromX264,
    testing::Values(EncodedCase{"Qvga25", "320x240", "25", 25, 320, 240, "-pix_fmt yuv420p"},
                    EncodedCase{"Cropped420", "320x180", "30", 30, 320, 180, "-pix_fmt yuv420p"},
                    EncodedCase{"Cropped444", "320x180", "25", 25, 320, 180, "-pix_fmt yuv444p"},
                    EncodedCase{"Cropped422Odd", "202x94", "10", 10, 202, 94, "-pix_fmt yuv422p"},
                    EncodedCase{"Vga30000Over1001", "640x480", "30000/1001", 30000.0 / 1001, 640, 480,
                                "-pix_fmt yuv420p"},
                    EncodedCase{"Interlaced", "320x180", "25", 25, 320, 180,
                                "-pix_fmt yuv420p -flags +ildct+ilme"}),
    CaseName);

// Access units, split where each SPS or slice of a new picture begins; enough for x264's streams.
std::vector<Bytes> AccessUnits(const Bytes& stream) {
    std::vector<Bytes> units;
    bool sliceSeen = false;
    for (auto nal = NextNalUnit(stream, 0); nal; nal = NextNalUnit(stream, nal->End())) {
        const bool slice = nal->Type() == kH264NonIdrSlice || nal->Type() == kH264IdrSlice;
        if (units.empty() || (nal->Type() == kH264Sps) || (slice && sliceSeen)) {
            units.emplace_back();
            sliceSeen = false;
        }
        sliceSeen = sliceSeen || slice;
        units.back().insert(units.back().end(), {0, 0, 1});
        units.back().insert(units.back().end(), nal->bytes.begin(), nal->bytes.end());
    }
    return units;
}

TEST(H264RandomAccess, IdrSlicesAndRecoveryPointsStartDecoding) {
    // keyint 10 at 25 fps for 2 s: an IDR every tenth picture, the rest predicted.
    const std::vector<Bytes> closed = AccessUnits(Encode(
        "160x120", "25", 2,
        "-c:v libx264 -pix_fmt yuv420p -bf 0 -x264-params keyint=10:min-keyint=10:scenecut=0 -f h264"));
    ASSERT_EQ(closed.size(), 50u);
    for (size_t i = 0; i < closed.size(); ++i)
        EXPECT_EQ(StartsRandomAccess(closed[i]), i % 10 == 0) << i;

    // With intra refresh only the first picture is an IDR; the others that start with a recovery
    // point are where a decoder can join.
    const std::vector<Bytes> refreshed = AccessUnits(
        Encode("160x120", "25", 2,
               "-c:v libx264 -pix_fmt yuv420p -bf 0 -x264-params intra-refresh=1:keyint=10 -f h264"));
    size_t entries = 0;
    for (const Bytes& unit : refreshed)
        entries += StartsRandomAccess(unit) ? 1u : 0u;
    EXPECT_EQ(entries, 5u);
}

// VOL fields for a layer built here; every damage below is one change to these.
struct VolFields {
    bool objectLayerId = true;
    uint32_t aspect = 1; // 15: extended, with par_width and par_height
    bool vbv = false;
    uint32_t shape = 0;
    uint32_t resolution = 30;
    std::optional<uint32_t> fixedIncrement;
    uint32_t width = 320, height = 240;
    uint32_t brokenMarker = 0; // 1 to 5: that marker bit written as 0
};

Bytes BuildVol(const VolFields& f) {
    BitString bits;
    auto marker = [&](uint32_t which) { bits.Put(f.brokenMarker == which ? 0 : 1, 1); };
    bits.Put(0, 1).Put(1, 8); // random_accessible_vol, simple object type
    bits.Put(f.objectLayerId, 1);
    if (f.objectLayerId)
        bits.Put(2, 4).Put(1, 3); // verid 2, priority 1
    bits.Put(f.aspect, 4);
    if (f.aspect == 15)
        bits.Put(12, 8).Put(11, 8);
    bits.Put(1, 1).Put(1, 2).Put(1, 1).Put(f.vbv, 1); // vol_control_parameters, chroma, low_delay
    if (f.vbv)
        bits.Put(0x7FFF, 15)
            .Put(1, 1)
            .Put(3, 15)
            .Put(1, 1)
            .Put(0x1234, 15)
            .Put(1, 1)
            .Put(5, 3)
            .Put(77, 11)
            .Put(1, 1)
            .Put(99, 15)
            .Put(1, 1);
    bits.Put(f.shape, 2);
    if (f.shape == 3)
        bits.Put(0, 4);
    marker(1);
    bits.Put(f.resolution, 16);
    marker(2);
    bits.Put(f.fixedIncrement.has_value(), 1);
    if (f.fixedIncrement) // resolution 30: five bits
        bits.Put(*f.fixedIncrement, 5);
    if (f.shape == 0) {
        marker(3);
        bits.Put(f.width, 13);
        marker(4);
        bits.Put(f.height, 13);
        marker(5);
    }
    bits.Put(0, 1).Put(1, 1).Put(0, 1); // interlaced, obmc_disable, sprite_enable
    return bits.Finish();
}

struct VolCase {
    std::string name;
    VolFields fields;
    bool parses;
    std::optional<double> fixedRate;
};

void PrintTo(const VolCase& c, std::ostream* out) {
    *out << c.name;
}

class HandmadeVol : public testing::TestWithParam<VolCase> {};

TEST_P(HandmadeVol, GivesItsFieldsOrNothing) {
    const VolCase& c = GetParam();
    const std::optional<Mpeg4Vol> vol = ParseMpeg4Vol(BuildVol(c.fields));
    ASSERT_EQ(vol.has_value(), c.parses);
    if (!vol)
        return;
    EXPECT_EQ(vol->timeIncrementResolution, c.fields.resolution);
    EXPECT_EQ(vol->FixedRate(), c.fixedRate);
    if (c.fields.shape == 0) {
        EXPECT_EQ(vol->width, c.fields.width);
        EXPECT_EQ(vol->height, c.fields.height);
    } else {
        EXPECT_EQ(vol->width, std::nullopt);
    }
}

VolFields With(std::function<void(VolFields&)> change) {
    VolFields fields;
    change(fields);
    return fields;
}

INSTANTIATE_TEST_SUITE_P(
    Layers, HandmadeVol,
    testing::Values(
        VolCase{"Plain", {}, true, std::nullopt},
        VolCase{"NoLayerId", With([](VolFields& f) { f.objectLayerId = false; }), true, std::nullopt},
        VolCase{"ExtendedAspect", With([](VolFields& f) { f.aspect = 15; }), true, std::nullopt},
        VolCase{"VbvParameters", With([](VolFields& f) { f.vbv = true; }), true, std::nullopt},
        VolCase{"FixedRate", With([](VolFields& f) { f.fixedIncrement = 2; }), true, 15.0},
        VolCase{"FixedIncrementZero", With([](VolFields& f) { f.fixedIncrement = 0; }), true, std::nullopt},
        VolCase{"BinaryShapeHasNoSize", With([](VolFields& f) { f.shape = 1; }), true, std::nullopt},
        VolCase{"ResolutionZero", With([](VolFields& f) { f.resolution = 0; }), false, std::nullopt},
        VolCase{"WidthZero", With([](VolFields& f) { f.width = 0; }), false, std::nullopt},
        VolCase{"HeightZero", With([](VolFields& f) { f.height = 0; }), false, std::nullopt},
        VolCase{"MarkerBeforeResolution", With([](VolFields& f) { f.brokenMarker = 1; }), false,
                std::nullopt},
        VolCase{"MarkerAfterResolution", With([](VolFields& f) { f.brokenMarker = 2; }), false, std::nullopt},
        VolCase{"MarkerBeforeWidth", With([](VolFields& f) { f.brokenMarker = 3; }), false, std::nullopt},
        VolCase{"MarkerBeforeHeight", With([](VolFields& f) { f.brokenMarker = 4; }), false, std::nullopt},
        VolCase{"MarkerAfterHeight", With([](VolFields& f) { f.brokenMarker = 5; }), false, std::nullopt}),
    [](const testing::TestParamInfo<VolCase>& param) { return param.param.name; });

bool operator==(const Mpeg4Vol& a, const Mpeg4Vol& b) {
    return a.width == b.width && a.height == b.height &&
           a.timeIncrementResolution == b.timeIncrementResolution &&
           a.fixedTimeIncrement == b.fixedTimeIncrement;
}
bool operator==(const H264Sps& a, const H264Sps& b) {
    return a.width == b.width && a.height == b.height && a.FrameRate() == b.FrameRate();
}
bool operator==(const MjpegSize& a, const MjpegSize& b) {
    return a.width == b.width && a.height == b.height;
}

// A header cut short anywhere gives nothing or exactly what the whole header gives: never another
// confident value.
template <typename Result>
void ExpectEveryCutGivesNothingOrTheWhole(const Bytes& whole,
                                          std::function<std::optional<Result>(const Bytes&)> parse,
                                          size_t cutsThatMustFail) {
    const std::optional<Result> full = parse(whole);
    ASSERT_TRUE(full);
    for (size_t length = 0; length < whole.size(); ++length) {
        const std::optional<Result> cut =
            parse(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length)));
        if (length < cutsThatMustFail) {
            EXPECT_FALSE(cut) << "cut to " << length << " bytes";
        } else if (cut) {
            EXPECT_TRUE(*cut == *full) << "cut to " << length << " bytes";
        }
    }
}

size_t PositionOf(const Bytes& bytes, const Bytes& pattern) {
    auto found = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    EXPECT_NE(found, bytes.end());
    return static_cast<size_t>(found - bytes.begin());
}

TEST(DamagedHeaders, CutShortTheyGiveNothingOrTheWholeAnswer) {
    // A VOL's fields up to the height take ten bytes behind its start code.
    const Bytes m4v = Encode("320x240", "25", 0.1, "-c:v mpeg4 -f m4v");
    ExpectEveryCutGivesNothingOrTheWhole<Mpeg4Vol>(
        m4v, [](const Bytes& b) { return FindMpeg4Vol(b); }, PositionOf(m4v, {0, 0, 1, 0x20}) + 4 + 9);

    // The SPS as the parser takes it: behind its NAL header byte, without emulation prevention.
    const Bytes h264 = Encode("320x180", "25", 0.1, "-c:v libx264 -pix_fmt yuv420p -f h264");
    const size_t spsStart = PositionOf(h264, {0, 0, 1, 0x67}) + 4;
    const size_t spsEnd = PositionOf(h264, {0, 0, 1, 0x68});
    const Bytes sps = RemoveEmulationPrevention(std::span(h264).subspan(spsStart, spsEnd - spsStart));
    ExpectEveryCutGivesNothingOrTheWhole<H264Sps>(
        sps, [](const Bytes& b) { return ParseH264Sps(b); }, 8);

    // Start of frame: marker, length, precision, height and width.
    const Bytes jpeg = Encode("320x240", "25", 0.1, "-c:v mjpeg -f mjpeg");
    ExpectEveryCutGivesNothingOrTheWhole<MjpegSize>(
        jpeg, [](const Bytes& b) { return ParseMjpegSize(b); }, PositionOf(jpeg, {0xFF, 0xC0}) + 9);
}

TEST(DamagedHeaders, JpegFrameKindsBeyondSof2AndEmptySizesGiveNothing) {
    const Bytes jpeg = Encode("320x240", "25", 0.1, "-c:v mjpeg -f mjpeg");
    const size_t sof = PositionOf(jpeg, {0xFF, 0xC0});
    struct Case {
        uint8_t marker;
        uint8_t heightHigh, heightLow; // of the number of lines
        bool parses;
    };
    for (const Case& c : {Case{0xC1, 0, 240, true}, Case{0xC2, 0, 240, true}, Case{0xC3, 0, 240, false},
                          Case{0xC9, 0, 240, false}, Case{0xC0, 0, 0, false}}) {
        Bytes changed = jpeg;
        changed[sof + 1] = c.marker;
        changed[sof + 5] = c.heightHigh;
        changed[sof + 6] = c.heightLow;
        const std::optional<MjpegSize> size = ParseMjpegSize(changed);
        ASSERT_EQ(size.has_value(), c.parses) << int(c.marker);
        if (size) {
            EXPECT_EQ(size->width, 320u);
            EXPECT_EQ(size->height, 240u);
        }
    }
}

} // namespace
} // namespace clipwright::test
