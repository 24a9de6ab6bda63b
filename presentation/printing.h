#pragma once
#include <QByteArray>
#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QPainter>
#include <QSize>
#include <QString>

class QPrinter;

// A rectangle in device pixels; Right and Bottom lie just outside it.
struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int width() const { return Right - Left; }
    int height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

// Text layout flags, as the printer's DrawText knows them.
enum DrawTextFlag : unsigned {
    dtLeft = 0x00,
    dtCenter = 0x01,       // horizontally centred
    dtVCenter = 0x04,      // vertically centred; takes effect with dtSingleLine only
    dtWordBreak = 0x10,
    dtSingleLine = 0x20,
};

// What the printouts draw on. Device pixels throughout.
class PrintCanvas {
public:
    virtual ~PrintCanvas() = default;

    virtual QSize pageSize() const = 0;            // printable area
    virtual int dpiX() const = 0;
    virtual int dpiY() const = 0;
    virtual QPageLayout::Orientation orientation() const = 0;
    virtual void setOrientation(QPageLayout::Orientation o) = 0;

    virtual bool beginDoc() = 0;
    virtual bool newPage() = 0;
    virtual bool endDoc() = 0;
    // Why the device failed, for the error box (may be empty).
    virtual QString errorDetail() const { return {}; }

    virtual void setFont(const QFont& font) = 0;
    // From here on shapes are not filled and text has no background.
    virtual void setBrushClear() = 0;
    virtual void fillRect(const TRect& r) = 0;     // with the current brush
    virtual void drawLine(int x1, int y1, int x2, int y2) = 0;
    virtual void drawRectOutline(const TRect& r) = 0;

    virtual int textWidth(const QString& text) = 0;
    virtual int textHeight(const QString& text) = 0;
    // Height of `text` laid out in the width of `r` with `flags`.
    virtual int measureText(const QString& text, const TRect& r, unsigned flags) = 0;
    virtual void drawText(const QString& text, const TRect& r, unsigned flags) = 0;
};

// The real printer (or its PDF output).
class PrinterCanvas : public PrintCanvas {
public:
    explicit PrinterCanvas(QPrinter& printer);
    ~PrinterCanvas() override;

    QSize pageSize() const override;
    int dpiX() const override;
    int dpiY() const override;
    QPageLayout::Orientation orientation() const override;
    void setOrientation(QPageLayout::Orientation o) override;
    bool beginDoc() override;
    bool newPage() override;
    bool endDoc() override;
    QString errorDetail() const override;
    void setFont(const QFont& font) override;
    void setBrushClear() override;
    void fillRect(const TRect& r) override;
    void drawLine(int x1, int y1, int x2, int y2) override;
    void drawRectOutline(const TRect& r) override;
    int textWidth(const QString& text) override;
    int textHeight(const QString& text) override;
    int measureText(const QString& text, const TRect& r, unsigned flags) override;
    void drawText(const QString& text, const TRect& r, unsigned flags) override;

private:
    QPrinter& Printer;
    QPainter Painter;
};

// ---- price list

// One PLU row as the table holds it: the bytes of the price and name cells.
struct PriceListRow {
    QByteArray Price;
    QByteArray Name;
};

// "M01".."M07" for rows 1..7, "U01".."U70" for rows 8..77.
QByteArray PriceListLabel(int row);
// Label, blank, price trimmed and padded to 8 bytes, blank, name trimmed
// and padded to 13 bytes. Never shortened.
QByteArray PriceListLine(int row, const PriceListRow& r);

// Prints rows[0..] as PLU rows 1.. in `columns` columns per page.
// Throws AppError when the printer fails; the document is ended first.
void PrintPriceList(PrintCanvas& canvas, const QList<PriceListRow>& rows, const QFont& font,
                    int columns);

// ---- key sheet

constexpr int KeySheetKeys = 35;
constexpr int KeySheetMaxText = 80;   // bytes of one name drawn

// names[n] is the name of PLU row n (index 0 unused; missing ones are empty).
// Switches a portrait printer to landscape for good.
void PrintKeySheet(PrintCanvas& canvas, const QList<QByteArray>& names, const QFont& font);

// ---- commands

// The print and font dialogs; the window supplies Qt's, tests a fake.
struct PrintDialogs {
    virtual ~PrintDialogs() = default;
    virtual bool printDialog(QPrinter& printer) = 0;   // false: cancelled
    virtual bool fontDialog(QFont& font) = 0;          // false: cancelled
};

// The font dialog's design font ("黑体", 11 pixels).
QFont KeySheetDesignFont();

// Asks for the printer, then prints the price list; nothing when cancelled.
void PrintPriceList(QPrinter& printer, PrintDialogs& dlg, const QList<PriceListRow>& rows,
                    const QFont& tableFont, int columns);
void Print1Click(QPrinter& printer, PrintDialogs& dlg, const QList<PriceListRow>& rows,
                 const QFont& tableFont);
// Asks for a font (starting from and updating `fontDialogFont`, which the
// window keeps between runs) and for confirmation; only Ok prints.
void Printkeysheet1Click(QPrinter& printer, PrintDialogs& dlg, const QList<QByteArray>& names,
                         QFont& fontDialogFont);
