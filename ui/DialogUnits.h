// Dialog units to pixels: a dialog unit is a quarter of the font's average character width across,
// an eighth of its height down, so a layout keeps its proportions whatever the font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace clipwright::ui {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

private:
    int baseX_;
    int baseY_;
};

} // namespace clipwright::ui
