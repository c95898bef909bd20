#include "FilmStrip.h"

#include <QPainter>
#include <QPainterPath>
#include <QRectF>

#include <stdexcept>
#include <string>

namespace clipwright::artwork {

namespace {

// Across the strip, in grid columns: black base with a row of sprocket holes near each edge and the
// picture cells in the middle.
constexpr int kStripLeft = 4;
constexpr int kStripWidth = 24;
constexpr int kLeftHoleLeft = 6;
constexpr int kRightHoleLeft = 23;
constexpr int kHoleWidth = 3;
constexpr int kCellLeft = 11;
constexpr int kCellWidth = 10;

// Along the strip, in grid rows from the start of one period: one picture cell and the black bar
// below it, beside three sprocket holes.
constexpr int kCellTop = 2;
constexpr int kCellHeight = 14;
constexpr int kFirstHoleTop = 1;
constexpr int kHolePitch = 6;
constexpr int kHoleHeight = 3;
constexpr int kHolesPerPeriod = kPatternPeriod / kHolePitch;
static_assert(kHolesPerPeriod * kHolePitch == kPatternPeriod);
static_assert(kCellTop + kCellHeight < kPatternPeriod, "a bar must separate the cells");

// Corner radii of the smooth finish, in grid units.
constexpr double kHoleRadius = 0.7;
constexpr double kCellRadius = 0.5;

const QColor kFilmBase = QColor(0, 0, 0);
const QColor kHole = QColor(255, 255, 255);
const QColor kCell = QColor(192, 192, 192);
const QColor kCellShade = QColor(128, 128, 128);

// The lower part of each cell is a shade darker, a hint of a picture rather than a blank frame.
constexpr int kCellShadeTop = 9;

class StripPainter {
public:
    StripPainter(QImage& image, qreal scale, StripFinish finish)
        : painter_(&image), scale_(scale), finish_(finish) {
        painter_.setRenderHint(QPainter::Antialiasing, finish_ == StripFinish::Smooth);
        painter_.setPen(Qt::NoPen);
    }

    // Fills a rectangle given in grid units.
    void Fill(int left, int top, int width, int height, const QColor& colour, double radius) {
        const QRectF pixels(left * scale_, top * scale_, width * scale_, height * scale_);
        if (finish_ == StripFinish::PixelExact) {
            painter_.fillRect(pixels.toRect(), colour);
            return;
        }
        QPainterPath shape;
        shape.addRoundedRect(pixels, radius * scale_, radius * scale_);
        painter_.fillPath(shape, colour);
    }

    // The smooth cell darkens gradually towards the bottom instead of in one step.
    void FillSmoothCell(int top) {
        const QRectF pixels(kCellLeft * scale_, top * scale_, kCellWidth * scale_, kCellHeight * scale_);
        QLinearGradient shading(pixels.topLeft(), pixels.bottomLeft());
        shading.setColorAt(0.0, kCell.lighter(108));
        shading.setColorAt(0.55, kCell);
        shading.setColorAt(1.0, kCellShade.lighter(115));
        QPainterPath shape;
        shape.addRoundedRect(pixels, kCellRadius * scale_, kCellRadius * scale_);
        painter_.fillPath(shape, shading);
    }

private:
    QPainter painter_;
    qreal scale_;
    StripFinish finish_;
};

int Wrap(int value, int period) {
    return ((value % period) + period) % period;
}

} // namespace

const std::array<QColor, 16>& SixteenColours() {
    static const std::array<QColor, 16> colours = {
        QColor(0, 0, 0),       QColor(128, 0, 0),   QColor(0, 128, 0),   QColor(128, 128, 0),
        QColor(0, 0, 128),     QColor(128, 0, 128), QColor(0, 128, 128), QColor(192, 192, 192),
        QColor(128, 128, 128), QColor(255, 0, 0),   QColor(0, 255, 0),   QColor(255, 255, 0),
        QColor(0, 0, 255),     QColor(255, 0, 255), QColor(0, 255, 255), QColor(255, 255, 255),
    };
    return colours;
}

QImage DrawFilmStrip(int size, int shiftRows, StripFinish finish) {
    // Hard pixel edges need whole grid cells; the smooth finish scales to any size.
    if (size < kIconSize || (finish == StripFinish::PixelExact && size % kIconSize != 0))
        throw std::invalid_argument("no film strip of " + std::to_string(size) + " px in this finish");
    const qreal scale = static_cast<qreal>(size) / kIconSize;

    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        StripPainter strip(image, scale, finish);
        strip.Fill(kStripLeft, 0, kStripWidth, kIconSize, kFilmBase, 0.0);

        // Start one period above the top so the partly visible period there is drawn too.
        for (int periodTop = Wrap(shiftRows, kPatternPeriod) - kPatternPeriod; periodTop < kIconSize;
             periodTop += kPatternPeriod) {
            for (int hole = 0; hole < kHolesPerPeriod; ++hole) {
                const int holeTop = periodTop + kFirstHoleTop + hole * kHolePitch;
                strip.Fill(kLeftHoleLeft, holeTop, kHoleWidth, kHoleHeight, kHole, kHoleRadius);
                strip.Fill(kRightHoleLeft, holeTop, kHoleWidth, kHoleHeight, kHole, kHoleRadius);
            }
            const int cellTop = periodTop + kCellTop;
            if (finish == StripFinish::Smooth) {
                strip.FillSmoothCell(cellTop);
            } else {
                strip.Fill(kCellLeft, cellTop, kCellWidth, kCellHeight, kCell, 0.0);
                strip.Fill(kCellLeft, cellTop + kCellShadeTop, kCellWidth, kCellHeight - kCellShadeTop,
                           kCellShade, 0.0);
            }
        }
    }
    return image;
}

QImage DrawFilmStripFrame(int frameIndex, int size) {
    if (frameIndex < 0 || frameIndex >= kFrameCount)
        throw std::out_of_range("film strip frame index " + std::to_string(frameIndex));
    const QImage drawn = DrawFilmStrip(size, frameIndex * kFrameStep, StripFinish::PixelExact);

    // Stored as a palette image: the sixteen colours plus one transparent entry.
    QList<QRgb> palette;
    for (const QColor& colour : SixteenColours())
        palette.append(colour.rgb());
    const int transparentIndex = static_cast<int>(palette.size());
    palette.append(qRgba(0, 0, 0, 0));

    QImage frame(size, size, QImage::Format_Indexed8);
    frame.setColorTable(palette);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = drawn.pixel(x, y);
            int index = transparentIndex;
            if (qAlpha(pixel) != 0 && qAlpha(pixel) != 255)
                throw std::logic_error("film strip frame has a partly transparent pixel");
            if (qAlpha(pixel) == 255) {
                index = static_cast<int>(palette.indexOf(pixel));
                if (index < 0 || index == transparentIndex)
                    throw std::logic_error("film strip frame uses a colour outside the sixteen");
            }
            frame.setPixel(x, y, static_cast<uint>(index));
        }
    }
    return frame;
}

} // namespace clipwright::artwork
