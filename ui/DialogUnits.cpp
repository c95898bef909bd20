#include "DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace clipwright::ui {

namespace {

// Rounds to the nearest pixel, as dialog templates are laid out.
int Scale(int units, int base, int divisor) {
    return (units * base + divisor / 2) / divisor;
}

} // namespace

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    // The average over both cases, rounded, as the dialog manager measures it.
    baseX_ = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    baseY_ = metrics.height();
}

int DialogUnits::X(int units) const {
    return Scale(units, baseX_, 4);
}

int DialogUnits::Y(int units) const {
    return Scale(units, baseY_, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnits::Size(int width, int height) const {
    return QSize(X(width), Y(height));
}

} // namespace clipwright::ui
