#pragma once
#include <QByteArray>
#include <QList>

// The PLU file format (*.KYR): per PLU one line of price, TAB, name, TAB,
// unit, ended by CR LF. Widths count bytes of the code page.

// Blanks before `text` up to `width` bytes; never cut.
QByteArray PadLeft(const QByteArray& text, int width);
// Blanks after `text` up to `width` bytes; never cut.
QByteArray PadRight(const QByteArray& text, int width);
// `text` without blanks and control characters (bytes 00..20) at both ends.
QByteArray TrimBlanks(const QByteArray& text);

// The unit list holds one entry, "kg": 0 for it (letter case ignored), -1
// for any other text.
int UnitListIndex(const QByteArray& unitText);

// One written line: PadLeft(price, 8) TAB PadRight(trimmed name, 13) TAB unit CR LF.
// A line break inside a field, or a TAB in the price or name, is written as a blank.
QByteArray PluFileLine(const QByteArray& price, const QByteArray& name, const QByteArray& unit);

// The first `maxLines` lines of a file's bytes. CR LF, a lone LF and a lone
// CR each end a line; an unterminated last line counts; blank lines count.
// Ctrl-Z (0x1A) bytes at the very end of the file are an end-of-file mark
// and dropped; elsewhere they are data.
QList<QByteArray> SplitPluLines(const QByteArray& data, int maxLines);

struct PluFields {
    QByteArray Price;   // before the first TAB; empty when the line has none
    QByteArray Name;    // up to the next TAB, or the rest of the line
    QByteArray Unit;    // after the second TAB; empty when there is none
};
PluFields SplitPluFields(const QByteArray& line);
