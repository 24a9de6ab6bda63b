#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include "texthelpers.h"

// The PLU file format (*.KYR): per PLU one line of price, TAB, name, TAB,
// unit, ended by CR LF. Widths count bytes of the code page.

// The unit list holds one entry, "kg": 0 for it (letter case ignored), -1
// for any other text.
int UnitListIndex(const QByteArray& unitText);

// One written line: padLeft(price, 8) TAB padRight(trimmed name, 13) TAB unit CR LF.
// A line break inside a field, or a TAB in the price or name, is written as a blank.
QByteArray PluFileLine(const QByteArray& price, const QByteArray& name, const QByteArray& unit);

// The first `maxLines` lines of a file's bytes. CR LF, a lone LF and a lone
// CR each end a line; an unterminated last line counts; blank lines count.
// Ctrl-Z (0x1A) bytes at the very end of the file are an end-of-file mark
// and dropped; elsewhere they are data. A UTF-8 byte-order mark before the
// first line is skipped.
QList<QByteArray> SplitPluLines(const QByteArray& data, int maxLines);

struct PluFields {
    QByteArray Price;   // before the first TAB; empty when the line has none
    QByteArray Name;    // up to the next TAB, or the rest of the line
    QByteArray Unit;    // after the second TAB; empty when there is none
};
PluFields SplitPluFields(const QByteArray& line);

// "M1".."M7" for rows 1..7, "U1".."U70" for rows 8..77.
QString PluKeyName(int row);

// The bytes of a PLU file up to the start of its 78th line: a huge file or a
// device such as /dev/zero is not read into memory. Throws EInOutError.
QByteArray ReadPluFileBytes(const QString& path);

// What a PLU file holds besides the prices a load keeps.
struct PluFileCheck {
    // Why the file is no PLU file at all; empty when it is one.
    QString NotPluFile;
    // One line per price the load sets to 0: a price field that is no number,
    // or a number outside 0 .. the maximum of the price mode. An empty price
    // field and a line without a TAB are fine.
    QStringList ResetRows;

    bool clean() const { return NotPluFile.isEmpty() && ResetRows.isEmpty(); }
    // The reset rows, at most `maxRows` of them and a line counting the rest.
    QString rowsText(int maxRows) const;
};

// Checks the lines a load reads against price mode `priceDecimal` (0..3)
// with the largest price `priceMax`; other modes check no range.
PluFileCheck CheckPluFile(const QByteArray& data, int priceDecimal, double priceMax);
