#pragma once
#include <QByteArray>
#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QSize>
#include <QString>
#include <memory>

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

// The run's one printer and the dialogs that go with it. The window's is
// made by the print module, which brings Qt's print support with it on the
// first print (loading it at start-up costs every run that never prints);
// tests give one that writes PDF files.
class PrintDevice {
public:
    virtual ~PrintDevice() = default;
    virtual bool printDialog() = 0;             // false: cancelled
    virtual bool fontDialog(QFont& font) = 0;   // false: cancelled
    // Draws on the chosen printer, one document at a time.
    virtual std::unique_ptr<PrintCanvas> canvas() = 0;
};

// The font dialog's design font ("黑体", 11 pixels).
QFont KeySheetDesignFont();

// Asks for the printer, then prints the price list; nothing when cancelled.
void PrintPriceList(PrintDevice& printer, const QList<PriceListRow>& rows, const QFont& tableFont,
                    int columns);
void Print1Click(PrintDevice& printer, const QList<PriceListRow>& rows, const QFont& tableFont);
// Asks for a font (starting from and updating `fontDialogFont`, which the
// window keeps between runs) and for confirmation; only Ok prints.
void Printkeysheet1Click(PrintDevice& printer, const QList<QByteArray>& names, QFont& fontDialogFont);
