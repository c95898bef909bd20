#include "Banner.h"

#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QtDebug>

namespace clipwright::artwork {

namespace {

const QString kMakerName = QStringLiteral("Norvale");
const QString kSlogan = QStringLiteral("Clear sight, day and night");

// Debian ships this family in fonts-dejavu-core; any other sans-serif face still fits, because the
// text is sized to its box rather than given a fixed size.
const QString kFontFamily = QStringLiteral("DejaVu Sans");

const QColor kFieldTop = QColor(24, 84, 188);
const QColor kFieldBottom = QColor(0, 40, 132);
const QColor kInk = QColor(255, 255, 255);

// The mark: a camera lens, a ring around a pupil, on the left of the banner.
constexpr QPointF kLensCentre(38.5, 42.5);
constexpr double kLensRingRadius = 24.0;
constexpr double kLensRingWidth = 5.0;
constexpr double kLensPupilRadius = 10.0;
constexpr double kLensGlintRadius = 3.0;

// Text column right of the mark.
constexpr int kTextLeft = 74;
constexpr int kTextRight = 216;
constexpr int kNameBaseline = 45;
constexpr int kRuleY = 53;
constexpr int kSloganBaseline = 70;
constexpr int kNameLargestPixelSize = 40;
constexpr int kSloganLargestPixelSize = 13;

QFont BannerFont(int weight, int pixelSize) {
    QFont font(kFontFamily);
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setPixelSize(pixelSize);
    return font;
}

// The largest size up to largestPixelSize at which text fits into width.
QFont FitFont(const QString& text, int weight, int largestPixelSize, int width) {
    for (int pixelSize = largestPixelSize; pixelSize > 6; --pixelSize) {
        const QFont font = BannerFont(weight, pixelSize);
        if (QFontMetrics(font).horizontalAdvance(text) <= width)
            return font;
    }
    return BannerFont(weight, 6);
}

void DrawLens(QPainter& painter) {
    QPainterPath ring;
    ring.addEllipse(kLensCentre, kLensRingRadius, kLensRingRadius);
    const double inner = kLensRingRadius - kLensRingWidth;
    ring.addEllipse(kLensCentre, inner, inner);
    painter.fillPath(ring, kInk);

    QPainterPath pupil;
    pupil.addEllipse(kLensCentre, kLensPupilRadius, kLensPupilRadius);
    painter.fillPath(pupil, kInk);

    // A glint in the field's colour keeps the pupil from reading as a plain dot.
    QPainterPath glint;
    glint.addEllipse(kLensCentre + QPointF(-3.5, -3.5), kLensGlintRadius, kLensGlintRadius);
    painter.fillPath(glint, kFieldTop);
}

} // namespace

QImage DrawBanner(int scale) {
    QImage banner(kBannerWidth * scale, kBannerHeight * scale, QImage::Format_RGB32);
    QPainter painter(&banner);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // Drawn on the banner's own grid: the larger drawing has the same shapes at finer pixels.
    painter.scale(scale, scale);

    QLinearGradient field(0, 0, 0, kBannerHeight);
    field.setColorAt(0.0, kFieldTop);
    field.setColorAt(1.0, kFieldBottom);
    painter.fillRect(QRect(0, 0, kBannerWidth, kBannerHeight), field);

    DrawLens(painter);

    const int textWidth = kTextRight - kTextLeft;
    const QFont nameFont = FitFont(kMakerName, QFont::Bold, kNameLargestPixelSize, textWidth);
    if (QFontInfo(nameFont).family() != kFontFamily)
        qWarning("banner: %s is not installed, drawing with %s", qPrintable(kFontFamily),
                 qPrintable(QFontInfo(nameFont).family()));
    painter.setPen(kInk);
    painter.setFont(nameFont);
    painter.drawText(QPoint(kTextLeft, kNameBaseline), kMakerName);

    painter.fillRect(QRect(kTextLeft + 1, kRuleY, textWidth - 1, 1), kInk);

    painter.setFont(FitFont(kSlogan, QFont::Normal, kSloganLargestPixelSize, textWidth));
    painter.drawText(QPoint(kTextLeft + 1, kSloganBaseline), kSlogan);
    return banner;
}

} // namespace clipwright::artwork
