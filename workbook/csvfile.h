#pragma once
#include <QByteArray>
#include <QList>

// CSV as RFC 4180 writes it, read leniently as real files come: the
// fields of each record as bytes, with the line its record starts on.
struct CsvRecord {
    int Line = 0;                 // 1 for the first line of the file
    QList<QByteArray> Fields;
};

// The records of `data` split at `separator` (libcsv, lenient mode: a
// stray quote inside a field is data). Blank lines give no record; a
// quoted field may hold line breaks, so a record may span lines.
QList<CsvRecord> ParseCsv(const QByteArray& data, char separator);

// One record of a written file: fields quoted where they must be (a
// separator, quote, CR or LF inside, or blanks at either end, which
// readers would drop), quotes doubled; ends with CR LF.
QByteArray CsvLine(const QList<QByteArray>& fields, char separator);

// UTF-8 byte-order mark.
inline constexpr char Utf8Bom[] = "\xEF\xBB\xBF";
