#include "varlostyle.h"
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOption>

namespace {

const QColor Outline(64, 64, 64);

void page(QPainter& p, const QColor& paper)
{
    QPainterPath sheet;
    sheet.moveTo(3.5, 1.5);
    sheet.lineTo(9.5, 1.5);
    sheet.lineTo(12.5, 4.5);
    sheet.lineTo(12.5, 14.5);
    sheet.lineTo(3.5, 14.5);
    sheet.closeSubpath();
    p.setPen(QPen(Outline, 1));
    p.setBrush(paper);
    p.drawPath(sheet);
    p.drawPolyline(QPolygonF({QPointF(9.5, 1.5), QPointF(9.5, 4.5), QPointF(12.5, 4.5)}));
}

void arrow(QPainter& p, bool down)
{
    const QColor fill(0, 128, 64);
    p.setPen(QPen(fill.darker(150), 1));
    p.setBrush(fill);
    QPolygonF shape({QPointF(6, 1.5), QPointF(10, 1.5), QPointF(10, 8), QPointF(14, 8),
                     QPointF(8, 14.5), QPointF(2, 8), QPointF(6, 8)});
    if (!down)
        for (QPointF& pt : shape)
            pt.setY(16 - pt.y());
    p.drawPolygon(shape);
}

void cross(QPainter& p, const QColor& color, qreal inset)
{
    p.setPen(QPen(color, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(inset, inset), QPointF(16 - inset, 16 - inset));
    p.drawLine(QPointF(16 - inset, inset), QPointF(inset, 16 - inset));
}

void chevrons(QPainter& p, bool horizontal)
{
    p.setPen(QPen(Outline, 1.5));
    for (qreal o : {4.0, 9.0}) {
        QPolygonF v({QPointF(o, 4), QPointF(o + 3, 8), QPointF(o, 12)});
        if (!horizontal)
            for (QPointF& pt : v)
                pt = QPointF(pt.y(), pt.x());
        p.drawPolyline(v);
    }
}

// Each picture is drawn on a 16 x 16 grid and scaled to the size asked for.
bool drawPicture(QPainter& p, QStyle::StandardPixmap which)
{
    switch (which) {
    case QStyle::SP_FileIcon:   // New
        page(p, Qt::white);
        return true;
    case QStyle::SP_FileDialogDetailedView:   // Sale report
        page(p, Qt::white);
        p.setPen(QPen(QColor(0, 0, 128), 1));
        for (qreal y : {6.5, 9.0, 11.5})
            p.drawLine(QPointF(5, y), QPointF(11, y));
        return true;
    case QStyle::SP_DialogOpenButton:
    case QStyle::SP_DirOpenIcon: {
        const QColor folder(236, 196, 72);
        p.setPen(QPen(folder.darker(170), 1));
        p.setBrush(folder.darker(115));
        p.drawPolygon(QPolygonF({QPointF(1.5, 3.5), QPointF(6, 3.5), QPointF(7.5, 5.5),
                                 QPointF(13.5, 5.5), QPointF(13.5, 13.5), QPointF(1.5, 13.5)}));
        p.setBrush(folder);
        p.drawPolygon(QPolygonF({QPointF(3.5, 7.5), QPointF(15, 7.5), QPointF(13.5, 13.5),
                                 QPointF(1.5, 13.5)}));
        return true;
    }
    case QStyle::SP_DialogSaveButton: {
        const QColor disk(40, 90, 170);
        p.setPen(QPen(disk.darker(160), 1));
        p.setBrush(disk);
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4, 2, 8, 5));
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(5, 10, 6, 4.5));
        return true;
    }
    case QStyle::SP_ArrowDown:   // Download PLU: to the scale
        arrow(p, true);
        return true;
    case QStyle::SP_ArrowUp:   // Upload PLU: from the scale
        arrow(p, false);
        return true;
    case QStyle::SP_DialogCloseButton:
    case QStyle::SP_DialogCancelButton:
        cross(p, QColor(200, 30, 30), 3.5);
        return true;
    case QStyle::SP_DialogOkButton:
        p.setPen(QPen(QColor(0, 140, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
        return true;
    case QStyle::SP_ToolBarHorizontalExtensionButton:
        chevrons(p, true);
        return true;
    case QStyle::SP_ToolBarVerticalExtensionButton:
        chevrons(p, false);
        return true;
    default:
        return false;
    }
}

qreal ratioFor(const QWidget* widget)
{
    return widget ? widget->devicePixelRatioF() : qApp->devicePixelRatio();
}

} // namespace

VarloStyle::VarloStyle() : QProxyStyle() {}

QPixmap VarloStyle::Picture(StandardPixmap which, int side, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(side / 16.0, side / 16.0);
    if (!drawPicture(p, which))
        return {};
    return pixmap;
}

void VarloStyle::FillEdges(QPainter* painter, const QRect& r, const QColor& topLeft,
                           const QColor& bottomRight)
{
    painter->fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
    painter->fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
    painter->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    painter->fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

QPixmap VarloStyle::standardPixmap(StandardPixmap which, const QStyleOption* option,
                                   const QWidget* widget) const
{
    const QPixmap own = Picture(which, pixelMetric(PM_SmallIconSize, option, widget), ratioFor(widget));
    return own.isNull() ? QProxyStyle::standardPixmap(which, option, widget) : own;
}

QIcon VarloStyle::standardIcon(StandardPixmap which, const QStyleOption* option,
                               const QWidget* widget) const
{
    const QPixmap own = Picture(which, pixelMetric(PM_SmallIconSize, option, widget), ratioFor(widget));
    return own.isNull() ? QProxyStyle::standardIcon(which, option, widget) : QIcon(own);
}

void VarloStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const
{
    if (element == CE_ToolBar) {
        // A flat bar between a light and a dark edge.
        const QRect r = option->rect;
        const QPalette& pal = option->palette;
        painter->fillRect(r, pal.window());
        painter->fillRect(QRect(r.left(), r.top(), r.width(), 1), pal.light());
        painter->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), pal.mid());
    } else
        QProxyStyle::drawControl(element, option, painter, widget);
}

void VarloStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                    QPainter* painter, const QWidget* widget) const
{
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control == CC_ScrollBar && bar)
        drawScrollBar(*bar, painter, widget);
    else
        QProxyStyle::drawComplexControl(control, option, painter, widget);
}

// A flat scroll bar on the platform style's geometry (so that clicks land
// where they always did): the track, the thumb and the two arrow buttons
// as filled rectangles, the arrows as small triangles.
void VarloStyle::drawScrollBar(const QStyleOptionSlider& bar, QPainter* painter, const QWidget* widget) const
{
    const QPalette& pal = bar.palette;
    const bool enabled = bar.state & State_Enabled;
    const bool horizontal = bar.orientation == Qt::Horizontal;
    const auto part = [&](SubControl sc) { return proxy()->subControlRect(CC_ScrollBar, &bar, sc, widget); };
    const auto pressed = [&](SubControl sc) {
        return (bar.activeSubControls & sc) && (bar.state & State_Sunken);
    };
    const QColor outline = pal.color(QPalette::Mid);
    const auto panel = [&](const QRect& r, bool down) {
        if (!r.isValid())
            return;
        painter->fillRect(r, down ? pal.button().color().darker(112) : pal.button().color());
        FillEdges(painter, r, outline, outline);
    };
    const auto arrow = [&](const QRect& r, bool towardsEnd) {
        if (!r.isValid())
            return;
        panel(r, pressed(towardsEnd ? SC_ScrollBarAddLine : SC_ScrollBarSubLine));
        const QPointF c = QRectF(r).center();
        const qreal h = qMax<qreal>(2, qMin(r.width(), r.height()) / 5.0);
        QPolygonF tip;
        if (horizontal)
            tip << QPointF(c.x() + (towardsEnd ? h : -h), c.y()) << QPointF(c.x() + (towardsEnd ? -h : h), c.y() - 2 * h)
                << QPointF(c.x() + (towardsEnd ? -h : h), c.y() + 2 * h);
        else
            tip << QPointF(c.x(), c.y() + (towardsEnd ? h : -h)) << QPointF(c.x() - 2 * h, c.y() + (towardsEnd ? -h : h))
                << QPointF(c.x() + 2 * h, c.y() + (towardsEnd ? -h : h));
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(enabled ? pal.color(QPalette::ButtonText) : outline);
        painter->drawPolygon(tip);
        painter->restore();
    };

    painter->fillRect(bar.rect, pal.window().color().darker(106));
    if (bar.subControls & SC_ScrollBarSubLine)
        arrow(part(SC_ScrollBarSubLine), false);
    if (bar.subControls & SC_ScrollBarAddLine)
        arrow(part(SC_ScrollBarAddLine), true);
    if ((bar.subControls & SC_ScrollBarSlider) && enabled && bar.maximum > bar.minimum)
        panel(part(SC_ScrollBarSlider), pressed(SC_ScrollBarSlider));
}
