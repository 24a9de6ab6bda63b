#include "printercanvas.h"
#include <QFontMetrics>
#include <QPrinter>
#include <QRect>

namespace {

int qtFlags(unsigned flags)
{
    int f = (flags & dtCenter) ? Qt::AlignHCenter : Qt::AlignLeft;
    // DrawText centres vertically on a single line only.
    f |= ((flags & dtVCenter) && (flags & dtSingleLine)) ? Qt::AlignVCenter : Qt::AlignTop;
    if (flags & dtSingleLine)
        f |= Qt::TextSingleLine;
    if (flags & dtWordBreak)
        f |= Qt::TextWordWrap;
    return f;
}

QRect toQRect(const TRect& r) { return QRect(r.Left, r.Top, r.width(), r.height()); }

} // namespace

// ---------------------------------------------------------------- canvas

PrinterCanvas::PrinterCanvas(QPrinter& printer) : Printer(printer) {}

PrinterCanvas::~PrinterCanvas()
{
    if (Painter.isActive())
        Painter.end();
}

QSize PrinterCanvas::pageSize() const { return QSize(Printer.width(), Printer.height()); }
int PrinterCanvas::dpiX() const { return Printer.logicalDpiX(); }
int PrinterCanvas::dpiY() const { return Printer.logicalDpiY(); }

QPageLayout::Orientation PrinterCanvas::orientation() const
{
    return Printer.pageLayout().orientation();
}

void PrinterCanvas::setOrientation(QPageLayout::Orientation o) { Printer.setPageOrientation(o); }

bool PrinterCanvas::beginDoc()
{
    if (!Painter.begin(&Printer))
        return false;
    // A fresh printer canvas paints with a white brush and black pen.
    Painter.setBrush(Qt::white);
    Painter.setPen(QPen(Qt::black));
    return true;
}

bool PrinterCanvas::newPage() { return Printer.newPage(); }

bool PrinterCanvas::endDoc()
{
    if (!Painter.isActive())
        return false;
    const bool ok = Painter.end();
    return ok && Printer.printerState() != QPrinter::Error;
}

QString PrinterCanvas::errorDetail() const
{
    if (!Printer.outputFileName().isEmpty())
        return QStringLiteral("Cannot write %1").arg(Printer.outputFileName());
    return Printer.printerName().isEmpty() ? QStringLiteral("No printer is available")
                                           : QStringLiteral("Printer %1").arg(Printer.printerName());
}

void PrinterCanvas::setFont(const QFont& font)
{
    // A size in screen pixels keeps its physical size on paper, as a size
    // in points does; device pixels of a printer are far smaller.
    QFont f = font;
    if (f.pixelSize() > 0)
        f.setPointSizeF(f.pixelSize() * 72.0 / 96.0);
    Painter.setFont(f);
}

void PrinterCanvas::setBrushClear()
{
    Painter.setBrush(Qt::NoBrush);
    Painter.setBackgroundMode(Qt::TransparentMode);
}

void PrinterCanvas::fillRect(const TRect& r)
{
    if (Painter.brush().style() != Qt::NoBrush)
        Painter.fillRect(toQRect(r), Painter.brush());
}

void PrinterCanvas::drawLine(int x1, int y1, int x2, int y2) { Painter.drawLine(x1, y1, x2, y2); }

void PrinterCanvas::drawRectOutline(const TRect& r)
{
    const QBrush keep = Painter.brush();
    Painter.setBrush(Qt::NoBrush);
    Painter.drawRect(QRect(r.Left, r.Top, r.width() - 1, r.height() - 1));
    Painter.setBrush(keep);
}

int PrinterCanvas::textWidth(const QString& text)
{
    return Painter.fontMetrics().horizontalAdvance(text);
}

int PrinterCanvas::textHeight(const QString&) { return Painter.fontMetrics().height(); }

int PrinterCanvas::measureText(const QString& text, const TRect& r, unsigned flags)
{
    return Painter.boundingRect(toQRect(r), qtFlags(flags), text).height();
}

void PrinterCanvas::drawText(const QString& text, const TRect& r, unsigned flags)
{
    Painter.drawText(toQRect(r), qtFlags(flags), text);
}

