#include "DialogUnits.h"

#include <QFontMetrics>
#include <QString>
#include <QWidget>
#include <algorithm>

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

QMargins DialogUnits::Inset(const QRect& outer, const QRect& inner) const {
    // Edges are rounded where they lie, so that boxes side by side keep meeting where the template has them.
    return QMargins(X(inner.x()) - X(outer.x()), Y(inner.y()) - Y(outer.y()),
                    X(outer.x() + outer.width()) - X(inner.x() + inner.width()),
                    Y(outer.y() + outer.height()) - Y(inner.y() + inner.height()));
}

int DialogUnits::GapY(const QRect& above, int aboveHeight, const QRect& below) const {
    return std::max(0, Y(below.y()) - Y(above.y()) - aboveHeight);
}

int DialogUnits::GapX(const QRect& left, int leftWidth, const QRect& right) const {
    return std::max(0, X(right.x()) - X(left.x()) - leftWidth);
}

QMargins InsideFrame(const QMargins& margins, const QWidget& frame) {
    const QMargins border = frame.contentsMargins();
    return QMargins(std::max(0, margins.left() - border.left()), std::max(0, margins.top() - border.top()),
                    std::max(0, margins.right() - border.right()),
                    std::max(0, margins.bottom() - border.bottom()));
}

} // namespace clipwright::ui
