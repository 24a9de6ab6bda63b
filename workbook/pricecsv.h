#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

class PluTable;
class Workbook;

// Prices from and to spreadsheets and till systems: CSV with a header row
// Key, Unit Price, Name, Unit and one record per PLU.

// What spreadsheets of this locale write: ',' where the decimal separator
// is '.', ';' where it is ','.
char DefaultCsvSeparator();

// The table as CSV: UTF-8 with a byte-order mark, all 77 PLUs; prices as
// shown, names without their padding, units as held.
QByteArray ExportPluCsv(const PluTable& table, char separator);

struct CsvProblem {
    int Line = 0;   // the file's line, the header being line 1; 0: the file as a whole
    QString Key;    // as the file writes it
    QString What;
};

// One checked row, ready to merge.
struct CsvPluRow {
    int Row = 0;
    QByteArray Price;      // the price text in the mode in force
    bool HasName = false;
    QByteArray Name;       // code-page bytes, trimmed
    QByteArray Unit;       // code-page bytes; empty keeps the row's unit
};

struct CsvImport {
    QList<CsvProblem> Problems;   // any one refuses the whole import
    QList<CsvPluRow> Rows;
    bool ok() const { return Problems.isEmpty(); }
    // One problem a line: "line 4, U7: the price is negative".
    QString report() const;
};

// Reads and checks every row against the price mode and the code page in
// force. A name or unit that reads as the row already shows keeps the
// row's bytes (a name that does not decode in the code page survives an
// export and import unchanged).
CsvImport ReadPluCsv(const QByteArray& bytes, const Workbook& wb);

// The bytes of a CSV file; EInOutError when it cannot be read, is no plain
// file, or is far too large for a price list.
QByteArray ReadCsvFile(const QString& path);

// Merges the rows of a good import into the table; the rows that changed.
int ApplyPluCsv(const CsvImport& import, Workbook& wb);
