// Dialog units to pixels: a dialog unit is a quarter of the font's average character width across,
// an eighth of its height down, so a layout keeps its proportions whatever the font. The dialogs'
// layouts take their sizes, margins and gaps from here.
#pragma once

#include <QFont>
#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace clipwright::ui {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QRect Rect(const QRect& units) const { return Rect(units.x(), units.y(), units.width(), units.height()); }
    QSize Size(int width, int height) const;
    QSize Size(const QRect& units) const { return Size(units.width(), units.height()); }

    // The pixels between a box and a box inside it, both given in dialog units (x, y, width, height).
    QMargins Inset(const QRect& outer, const QRect& inner) const;
    // The pixels from the bottom of `above` to the top of `below`, when `above` is `aboveHeight`
    // pixels high: the gap that keeps `below` at its place whatever the rounding of the heights.
    int GapY(const QRect& above, int aboveHeight, const QRect& below) const;
    int GapX(const QRect& left, int leftWidth, const QRect& right) const;

private:
    int baseX_;
    int baseY_;
};

// `margins` less what `frame` (a group box) takes for its border and title itself, never below 0.
QMargins InsideFrame(const QMargins& margins, const QWidget& frame);

} // namespace clipwright::ui
