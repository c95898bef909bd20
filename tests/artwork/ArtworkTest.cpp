// Checks the checked-in artwork against what the progress window and the desktop rely on, and that the
// drawing program still produces exactly those icons.

#include <QImage>
#include <QRgb>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

const fs::path kResDir = ARTWORK_RES_DIR;
const fs::path kScratch = ARTWORK_TEST_SCRATCH;

// The progress window's order; each frame shows the strip 3 rows lower than the one before.
constexpr std::array<int, 6> kFrameOrder = {134, 135, 129, 130, 131, 132};
constexpr int kFrameStep = 3;
constexpr int kPatternPeriod = 18;
// The smooth application icon's sizes, stored as icons/app-128-SIZE.png.
constexpr std::array<int, 3> kLargeIconSizes = {48, 128, 256};

fs::path LargeIconPath(const fs::path& folder, int size) {
    return folder / "icons" / ("app-128-" + std::to_string(size) + ".png");
}

fs::path FramePath(const fs::path& folder, int iconId, const std::string& suffix = "") {
    return folder / "icons" / ("frame-" + std::to_string(iconId) + suffix + ".png");
}

// The drawing for screens with twice the pixels: the same pixels, each as a 2 by 2 block.
void ExpectDoubled(const QImage& small, const QImage& large) {
    ASSERT_EQ(large.size(), small.size() * 2);
    for (int y = 0; y < large.height(); ++y)
        for (int x = 0; x < large.width(); ++x)
            ASSERT_EQ(large.pixel(x, y), small.pixel(x / 2, y / 2)) << x << "," << y;
}

QImage Load(const fs::path& path) {
    QImage image(QString::fromStdString(path.string()));
    EXPECT_FALSE(image.isNull()) << "cannot read " << path;
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool SameRow(const QImage& a, int rowA, const QImage& b, int rowB) {
    for (int x = 0; x < a.width(); ++x)
        if (a.pixel(x, rowA) != b.pixel(x, rowB))
            return false;
    return true;
}

// Coarse classes that survive anti-aliasing and shading, for comparing drawings at different sizes.
enum class Tone { Clear, Black, Grey, White };

Tone ToneOf(QRgb pixel) {
    if (qAlpha(pixel) < 128)
        return Tone::Clear;
    const int grey = qGray(pixel);
    return grey < 64 ? Tone::Black : grey > 224 ? Tone::White : Tone::Grey;
}

void RunOrFail(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(ArtworkFiles, EveryImageHasItsSize) {
    for (int iconId : kFrameOrder)
        EXPECT_EQ(Load(FramePath(kResDir, iconId)).size(), QSize(32, 32)) << iconId;
    EXPECT_EQ(Load(kResDir / "icons" / "app-128.png").size(), QSize(32, 32));
    for (int size : kLargeIconSizes)
        EXPECT_EQ(Load(LargeIconPath(kResDir, size)).size(), QSize(size, size));
    EXPECT_EQ(Load(kResDir / "banner-1002.png").size(), QSize(225, 85));
    EXPECT_EQ(Load(kResDir / "banner-1002@2x.png").size(), QSize(450, 170));
}

TEST(ArtworkFiles, DoublePixelIconsAreTheSmallOnesAtFinerPixels) {
    for (int iconId : kFrameOrder)
        ExpectDoubled(Load(FramePath(kResDir, iconId)), Load(FramePath(kResDir, iconId, "@2x")));
    ExpectDoubled(Load(kResDir / "icons" / "app-128.png"), Load(kResDir / "icons" / "app-128@2x.png"));
}

TEST(FilmStripFrames, AreSixteenColourFilmWithHolesDownBothEdges) {
    const std::set<QRgb> sixteen = {0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080,
                                    0xff008080, 0xffc0c0c0, 0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00,
                                    0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
    for (int iconId : kFrameOrder) {
        const QImage frame = Load(FramePath(kResDir, iconId));
        std::array<std::set<Tone>, 32> columnTones;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const QRgb pixel = frame.pixel(x, y);
                EXPECT_TRUE(qAlpha(pixel) == 0 || sixteen.contains(pixel))
                    << iconId << " at " << x << "," << y;
                columnTones[static_cast<size_t>(x)].insert(ToneOf(pixel));
                // Holes face each other across the strip.
                EXPECT_EQ(ToneOf(pixel) == Tone::White, ToneOf(frame.pixel(31 - x, y)) == Tone::White)
                    << iconId << " at " << x << "," << y;
            }
        }
        // Picture cells between black bars in the middle, black film and white holes near the edges.
        EXPECT_EQ(columnTones[16], (std::set<Tone>{Tone::Black, Tone::Grey})) << iconId;
        const auto holeColumns = std::count_if(columnTones.begin(), columnTones.end(), [](const auto& tones) {
            return tones == std::set<Tone>{Tone::Black, Tone::White};
        });
        EXPECT_GE(holeColumns, 4) << iconId;
        EXPECT_EQ(columnTones[0], std::set<Tone>{Tone::Clear}) << iconId;
    }
}

TEST(FilmStripFrames, EachFrameIsThePreviousMovedDownThreeRows) {
    for (size_t step = 0; step < kFrameOrder.size(); ++step) {
        // The last step leads back to the first frame: the cycle has no seam.
        const int fromId = kFrameOrder[step];
        const int toId = kFrameOrder[(step + 1) % kFrameOrder.size()];
        const QImage from = Load(FramePath(kResDir, fromId));
        const QImage to = Load(FramePath(kResDir, toId));
        EXPECT_NE(from, to) << fromId << " -> " << toId;
        for (int y = 0; y < 32; ++y) {
            // Rows entering at the top come from one pattern period further down.
            const int source = y >= kFrameStep ? y - kFrameStep : y - kFrameStep + kPatternPeriod;
            EXPECT_TRUE(SameRow(to, y, from, source)) << fromId << " -> " << toId << ", row " << y;
        }
    }
}

TEST(ApplicationIcon, IsFrame129AndItsLargeDrawingsMatch) {
    const QImage small = Load(kResDir / "icons" / "app-128.png");
    EXPECT_EQ(small, Load(FramePath(kResDir, 129)));

    // Where a 32 px pixel sits inside a patch of one tone, each large icon shows that tone too.
    for (int size : kLargeIconSizes) {
        const QImage large = Load(LargeIconPath(kResDir, size));
        const auto centre = [size](int smallPixel) { return (2 * smallPixel + 1) * size / 64; };
        int compared = 0;
        for (int y = 1; y < 31; ++y) {
            for (int x = 1; x < 31; ++x) {
                const Tone tone = ToneOf(small.pixel(x, y));
                bool uniform = true;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        uniform = uniform && ToneOf(small.pixel(x + dx, y + dy)) == tone;
                if (!uniform)
                    continue;
                ++compared;
                EXPECT_EQ(ToneOf(large.pixel(centre(x), centre(y))), tone)
                    << size << " px at " << x << "," << y;
            }
        }
        EXPECT_GT(compared, 300);
    }
}

void ExpectWhiteOnBlue(const fs::path& path) {
    const QImage banner = Load(path);
    int blue = 0;
    int whiteInMark = 0;
    int whiteInText = 0;
    for (int y = 0; y < banner.height(); ++y) {
        for (int x = 0; x < banner.width(); ++x) {
            const QRgb pixel = banner.pixel(x, y);
            const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
            // Only blue, white and the blends of the two at the letters' edges.
            EXPECT_TRUE(b >= r && b >= g && qAlpha(pixel) == 255) << path << " at " << x << "," << y;
            if (b >= 100 && b > r + 60 && b > g + 30)
                ++blue;
            if (std::min({r, g, b}) > 230)
                ++(x < banner.width() / 3 ? whiteInMark : whiteInText);
        }
    }
    const int area = banner.width() * banner.height();
    EXPECT_GT(blue, area * 3 / 4) << path;
    EXPECT_GT(whiteInText, area / 20) << path;
    EXPECT_GT(whiteInMark, area / 40) << path;
}

TEST(Banner, IsMostlyBlueWithWhiteMarkAndText) {
    ExpectWhiteOnBlue(kResDir / "banner-1002.png");
    ExpectWhiteOnBlue(kResDir / "banner-1002@2x.png");
}

TEST(ArtworkProgram, RedrawsTheCheckedInImages) {
    const fs::path output = kScratch / "redrawn";
    fs::remove_all(output);
    RunOrFail(std::string("'") + ARTWORK_COMMAND_PATH + "' '" + output.string() + "'");

    for (const std::string name : {"app-128.png", "app-128@2x.png"})
        EXPECT_EQ(Load(output / "icons" / name), Load(kResDir / "icons" / name)) << name;
    for (int size : kLargeIconSizes)
        EXPECT_EQ(Load(LargeIconPath(output, size)), Load(LargeIconPath(kResDir, size))) << size;
    for (int iconId : kFrameOrder)
        for (const std::string suffix : {"", "@2x"})
            EXPECT_EQ(Load(FramePath(output, iconId, suffix)), Load(FramePath(kResDir, iconId, suffix)))
                << iconId;
    // Text rendering varies with the installed fonts, so the banner is checked for its look only.
    ExpectWhiteOnBlue(output / "banner-1002.png");
    ExpectWhiteOnBlue(output / "banner-1002@2x.png");
}

std::string DesktopEntryValue(const fs::path& entry, const std::string& key) {
    std::ifstream in(entry);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key + "="))
            return line.substr(key.size() + 1);
    return {};
}

TEST(DesktopIntegration, InstallPutsTheEntryMetainfoAndIconsWhereDesktopsLook) {
    const fs::path prefix = kScratch / "prefix";
    fs::remove_all(prefix);
    RunOrFail(std::string("'") + ARTWORK_CMAKE_COMMAND + "' --install '" + ARTWORK_BUILD_DIR +
              "' --component desktop --prefix '" + prefix.string() + "' > /dev/null");

    // Software centres find the program by its metainfo, and the metainfo its entry by the same name.
    const std::string appId = "com.norvale.Clipwright";
    const fs::path entry = prefix / "share/applications" / (appId + ".desktop");
    ASSERT_TRUE(fs::exists(entry));
    EXPECT_TRUE(fs::exists(prefix / "share/metainfo" / (appId + ".metainfo.xml")));
    EXPECT_EQ(DesktopEntryValue(entry, "Exec"), "Clipwright %f");
    EXPECT_EQ(DesktopEntryValue(entry, "MimeType"), "video/x-msvideo;video/avi;video/msvideo;");
    const std::string iconFile = DesktopEntryValue(entry, "Icon") + ".png";
    const fs::path icons = prefix / "share/icons/hicolor";
    EXPECT_EQ(Load(icons / "32x32/apps" / iconFile), Load(kResDir / "icons/app-128.png"));
    for (int size : kLargeIconSizes) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        EXPECT_EQ(Load(icons / folder / "apps" / iconFile), Load(LargeIconPath(kResDir, size))) << size;
    }
}

} // namespace
