#include "printing.h"
#include "codepage.h"
#include "dialogs.h"
#include "errors.h"
#include "messagetexts.h"
#include "texthelpers.h"
#include <QFontMetrics>
#include <QRect>
#include <cmath>
#include <cstdio>

namespace {

QString printError() { return QStringLiteral("Unable to print"); }

// Ends the document on every way out; an explicit end() reports failure.
class DocumentGuard {
public:
    explicit DocumentGuard(PrintCanvas& c) : Canvas(c) {}
    ~DocumentGuard()
    {
        if (Open) {
            try {
                Canvas.endDoc();
            } catch (...) {
                // already unwinding with the first error
            }
        }
    }
    bool end()
    {
        Open = false;
        return Canvas.endDoc();
    }
    DocumentGuard(const DocumentGuard&) = delete;
    DocumentGuard& operator=(const DocumentGuard&) = delete;

private:
    PrintCanvas& Canvas;
    bool Open = true;
};

void begin(PrintCanvas& c)
{
    if (!c.beginDoc())
        throw AppError(printError(), c.errorDetail());
}

void end(PrintCanvas& c, DocumentGuard& doc)
{
    if (!doc.end())
        throw AppError(printError(), c.errorDetail());
}

// The longest start of `bytes` that fits in `limit` bytes without
// splitting a character.
QString cutToBytes(const QByteArray& bytes, int limit)
{
    QString text = cp::decode(bytes);
    if (bytes.size() <= limit)
        return text;
    text = cp::decode(bytes.left(limit));
    while (!text.isEmpty() && (text.back() == QChar::ReplacementCharacter
                               || cp::byteLength(text) > limit))
        text.chop(1);
    return text;
}

int mmToPixels(double mm, int dpi) { return int(std::lround(mm / 25.4 * dpi)); }

// Centred over `r`: measured in word-break mode, then moved down by half
// the height to spare (integer halving).
void drawCentred(PrintCanvas& c, const QString& text, TRect r)
{
    const int h = c.measureText(text, r, dtWordBreak);
    if (h < r.height()) {
        const int d = (r.height() - h) / 2;
        r.Top += d;
        r.Bottom -= d;
    }
    c.drawText(text, r, dtWordBreak | dtCenter);
}

} // namespace

// ---------------------------------------------------------------- price list

QByteArray PriceListLabel(int row)
{
    char buf[16];
    if (row <= 7)
        std::snprintf(buf, sizeof buf, "M%.2d", row);
    else
        std::snprintf(buf, sizeof buf, "U%.2d", row - 7);
    return buf;
}

QByteArray PriceListLine(int row, const PriceListRow& r)
{
    return PriceListLabel(row) + ' ' + padRight(trimBlanks(r.Price), 8) + ' '
        + padRight(trimBlanks(r.Name), 13);
}

void PrintPriceList(PrintCanvas& c, const QList<PriceListRow>& rows, const QFont& font,
                    int columns)
{
    if (rows.isEmpty())
        return;   // no blank sheet for an empty table
    columns = qMax(columns, 1);
    const QSize page = c.pageSize();
    const int W = page.width(), H = page.height();
    const int columnWidth = W / columns;
    const int step = columnWidth + 30;
    TRect r{30, 30, columnWidth + 60, H};

    begin(c);
    DocumentGuard doc(c);
    c.setFont(font);
    c.fillRect(r);
    for (int n = 1; n <= rows.size(); ++n) {
        const QString line = cp::decode(PriceListLine(n, rows[n - 1]));
        const int h = c.textHeight(line);
        // The second test only bites for fonts over 55 px high, whose last
        // line would otherwise run past the bottom of the page.
        if (h + r.Top + 60 < H && r.Top + 2 * h + 5 <= H) {
            r.Top += h + 5;
        } else if (r.Left + step < W) {
            r.Top = 30;
            r.Left += step;
            // At least as wide as the first column: a column sized to its
            // first line would clip every longer line after it.
            r.Right = r.Left + qMax(c.textWidth(line), columnWidth + 30);
            c.fillRect(r);
        } else {
            if (!c.newPage())
                throw AppError(printError(), c.errorDetail());
            r.Top = 30;
            r.Left = 30;
        }
        c.drawText(line, r, dtVCenter);
    }
    end(c, doc);
}

// ---------------------------------------------------------------- key sheet

void PrintKeySheet(PrintCanvas& c, const QList<QByteArray>& names, const QFont& font)
{
    const auto name = [&](int n) { return n < names.size() ? names[n] : QByteArray(); };

    if (c.orientation() == QPageLayout::Portrait)
        c.setOrientation(QPageLayout::Landscape);
    begin(c);
    DocumentGuard doc(c);
    const int dx = c.dpiX(), dy = c.dpiY();
    c.setBrushClear();
    c.setFont(font);

    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 7; ++col) {
            const int k = row * 7 + col + 1;
            TRect key;
            key.Left = mmToPixels(35 + col * 16.5, dx);
            key.Top = mmToPixels(19.7 + row * 16.5, dy);
            key.Right = key.Left + mmToPixels(16.5, dx);
            key.Bottom = key.Top + mmToPixels(16.5, dy);

            const QString upper = cutToBytes(name(k), KeySheetMaxText);
            const QByteArray lowerBytes = name(k + KeySheetKeys);
            if (lowerBytes.isEmpty()) {
                drawCentred(c, upper, key);
            } else {
                const int y = (key.Top + key.Bottom) / 2;
                c.drawLine(key.Left, y, key.Right, y);
                const int mid = key.Top + (key.Bottom - key.Top) / 2;
                drawCentred(c, upper, {key.Left, key.Top, key.Right, mid});
                drawCentred(c, cutToBytes(lowerBytes, KeySheetMaxText),
                            {key.Left, mid, key.Right, key.Bottom});
            }
        }
    }

    TRect frame;
    frame.Left = mmToPixels(30, dx);
    frame.Top = mmToPixels(15, dy);
    frame.Right = frame.Left + mmToPixels(127, dx);
    frame.Bottom = frame.Top + mmToPixels(93.6, dy);
    c.drawRectOutline(frame);
    end(c, doc);
}

// ---------------------------------------------------------------- commands

QFont KeySheetDesignFont()
{
    QFont f(QStringLiteral("黑体"));
    f.setPixelSize(11);
    return f;
}

void PrintPriceList(PrintDevice& printer, const QList<PriceListRow>& rows, const QFont& tableFont,
                    int columns)
{
    if (!printer.printDialog())
        return;
    PrintPriceList(*printer.canvas(), rows, tableFont, columns);
}

void Print1Click(PrintDevice& printer, const QList<PriceListRow>& rows, const QFont& tableFont)
{
    PrintPriceList(printer, rows, tableFont, 2);
}

void Printkeysheet1Click(PrintDevice& printer, const QList<QByteArray>& names, QFont& fontDialogFont)
{
    if (!printer.fontDialog(fontDialogFont))
        return;
    if (dialogs().messageBox(MessageTexts[mtPrintMsg], MessageTexts[mtPrintHint],
                             MsgIcon::Information, MsgButtons::OkCancel)
        != MsgResult::Ok)
        return;
    PrintKeySheet(*printer.canvas(), names, fontDialogFont);
}
