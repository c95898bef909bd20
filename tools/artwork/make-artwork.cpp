// Draws Clipwright's artwork: the six film-strip frames of the progress window, the application icon
// (32 px like the frames, and smooth at the sizes desktops and software centres show) and the main
// dialog's banner, the frames, the small icon and the banner also twice as large under name@2x for
// screens with twice the pixels (Qt picks those itself). The images in res/ are this program's output;
// after changing a drawing, regenerate them from the repository's root and commit the result:
//
//     cmake --build build --target make-artwork && build/tools/artwork/make-artwork res
//
// Usage: make-artwork OUTPUT_FOLDER   (writes OUTPUT_FOLDER/icons/*.png and OUTPUT_FOLDER/banner-1002*.png)

#include "Banner.h"
#include "FilmStrip.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <array>
#include <cstdio>
#include <exception>

namespace {

using namespace clipwright::artwork;

// Written as icons/app-128-SIZE.png.
constexpr std::array<int, 3> kDesktopIconSizes = {48, 128, 256};
constexpr int kDoublePixels = 2;

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "make-artwork: cannot write %s\n", qPrintable(path));
    return false;
}

bool WriteArtwork(const QDir& output) {
    if (!output.mkpath(QStringLiteral("icons"))) {
        std::fprintf(stderr, "make-artwork: cannot create %s/icons\n", qPrintable(output.path()));
        return false;
    }
    const QDir icons(output.filePath(QStringLiteral("icons")));

    bool allWritten = true;
    for (int frameIndex = 0; frameIndex < kFrameCount; ++frameIndex) {
        const QImage frame = DrawFilmStripFrame(frameIndex);
        const QImage largeFrame = DrawFilmStripFrame(frameIndex, kIconSize * kDoublePixels);
        const int iconId = kFrameIconIds[static_cast<size_t>(frameIndex)];
        allWritten &= Save(frame, icons.filePath(QStringLiteral("frame-%1.png").arg(iconId)));
        allWritten &= Save(largeFrame, icons.filePath(QStringLiteral("frame-%1@2x.png").arg(iconId)));
        if (iconId == kAppIconFrameId) {
            allWritten &= Save(frame, icons.filePath(QStringLiteral("app-128.png")));
            allWritten &= Save(largeFrame, icons.filePath(QStringLiteral("app-128@2x.png")));
            for (int size : kDesktopIconSizes)
                allWritten &= Save(DrawFilmStrip(size, frameIndex * kFrameStep, StripFinish::Smooth),
                                   icons.filePath(QStringLiteral("app-128-%1.png").arg(size)));
        }
    }
    allWritten &= Save(DrawBanner(), output.filePath(QStringLiteral("banner-1002.png")));
    allWritten &= Save(DrawBanner(kDoublePixels), output.filePath(QStringLiteral("banner-1002@2x.png")));
    return allWritten;
}

} // namespace

int main(int argc, char** argv) {
    // Nothing is shown, so no display is needed; fonts still come from the system's font configuration.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: make-artwork OUTPUT_FOLDER\n");
        return 2;
    }
    try {
        return WriteArtwork(QDir(arguments.at(1))) ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-artwork: %s\n", error.what());
        return 1;
    }
}
