#pragma once
#include <QProxyStyle>

class QStyleOptionSlider;

// The window's look: the platform's own style, with two changes that keep
// the first paint quick and look the same to the operator.
//
// - The small pictures (toolbar, the extension buttons of the menu bar and
//   toolbar, the progress dialog's OK and Cancel) are drawn here. The
//   style's own are image files, and the first one read makes Qt load and
//   probe every image-format plug-in on the machine.
// - The toolbar and the scroll bars are drawn flat, from filled rectangles.
//   Qt's raster painter hands any fill of 96 spans or more (a long
//   one-pixel line is a span per pixel, a tall gradient a span per row) to
//   a pool of helper threads, started by the first such paint and then
//   waited for piece by piece; on a small machine those hand-overs cost
//   more than the painting.
class VarloStyle : public QProxyStyle {
public:
    VarloStyle();
    QPixmap standardPixmap(StandardPixmap which, const QStyleOption* option,
                           const QWidget* widget) const override;
    QIcon standardIcon(StandardPixmap which, const QStyleOption* option,
                       const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override;

    // The picture for `which` at `side` device-independent pixels, or a null
    // pixmap when this style leaves it to the platform's.
    static QPixmap Picture(StandardPixmap which, int side, qreal devicePixelRatio);
    // One-pixel edges of `r` as filled rectangles: top and left in one
    // colour, bottom and right in the other.
    static void FillEdges(QPainter* painter, const QRect& r, const QColor& topLeft,
                          const QColor& bottomRight);

private:
    void drawScrollBar(const QStyleOptionSlider& bar, QPainter* painter, const QWidget* widget) const;
};
