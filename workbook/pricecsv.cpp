#include "pricecsv.h"
#include "atomicfile.h"
#include "codepage.h"
#include "errors.h"
#include "csvfile.h"
#include "plufile.h"
#include "pricemode.h"
#include "regional.h"
#include "workbook.h"
#include <QFile>
#include <QSet>
#include <QStringDecoder>

namespace {

constexpr int FieldBytes = 13;   // a name or unit as the scale's file holds it

enum Column { KeyCol, PriceCol, NameCol, UnitCol, ColumnCount };
const char* const Titles[ColumnCount] = {"Key", "Unit Price", "Name", "Unit"};

// The file's text: UTF-8 with or without the mark, otherwise the code page.
struct Source {
    QByteArray Body;
    bool Utf8 = true;

    QString decode(const QByteArray& field) const
    {
        return Utf8 ? QString::fromUtf8(field) : cp::decode(field);
    }
};

Source sourceOf(const QByteArray& bytes)
{
    Source s;
    if (bytes.startsWith(Utf8Bom)) {
        s.Body = bytes.mid(sizeof Utf8Bom - 1);
        return s;
    }
    s.Body = bytes;
    QStringDecoder utf8(QStringDecoder::Utf8);
    (void)QString(utf8.decode(bytes));
    s.Utf8 = !utf8.hasError();
    return s;
}

bool blankRecord(const CsvRecord& r)
{
    for (const QByteArray& f : r.Fields)
        if (!f.trimmed().isEmpty())
            return false;
    return true;
}

struct Layout {
    char Separator = ',';
    QList<CsvRecord> Records;   // data records, the header and blank ones left out
    int Index[ColumnCount] = {-1, -1, -1, -1};
};

// The separator is the one that splits the header into named columns.
bool findLayout(const Source& src, Layout* layout)
{
    for (char sep : {'\t', ';', ','}) {
        QList<CsvRecord> records = ParseCsv(src.Body, sep);
        while (!records.isEmpty() && blankRecord(records.first()))
            records.removeFirst();
        if (records.isEmpty())
            return false;
        Layout l;
        const QList<QByteArray>& header = records.first().Fields;
        for (int i = int(header.size()) - 1; i >= 0; --i)
            for (int c = 0; c < ColumnCount; ++c)
                if (src.decode(header[i]).trimmed().compare(QLatin1String(Titles[c]), Qt::CaseInsensitive) == 0)
                    l.Index[c] = i;   // the first of repeated titles wins
        if (l.Index[KeyCol] < 0 || l.Index[PriceCol] < 0)
            continue;
        records.removeFirst();
        for (const CsvRecord& r : std::as_const(records))
            if (!blankRecord(r))
                l.Records.append(r);
        l.Separator = sep;
        *layout = l;
        return true;
    }
    return false;
}

QByteArray field(const CsvRecord& r, int index)
{
    return index >= 0 && index < r.Fields.size() ? r.Fields[index] : QByteArray();
}

// Text bound for the table: the code-page bytes, or why it cannot be held.
QString toCodePage(const QString& text, const char* what, QByteArray* bytes)
{
    for (QChar c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            return QStringLiteral("the %1 holds a TAB or line break").arg(QLatin1String(what));
    *bytes = cp::encode(text);
    if (cp::decode(*bytes) != text)
        return QStringLiteral("the %1 is not representable in the code page %2")
            .arg(QLatin1String(what), QString::fromLatin1(cp::name()));
    if (bytes->size() > FieldBytes)
        return QStringLiteral("the %1 is longer than %2 bytes in the code page")
            .arg(QLatin1String(what)).arg(FieldBytes);
    return {};
}

QString priceProblem(const QByteArray& text, const Workbook& wb, char separator, QByteArray* price)
{
    const int decimals = wb.Options.PriceDecimal;
    // A ',' decimal cannot be told from the separator in a ',' file.
    const char alt = regional::decimalSeparator() == ',' && separator != ',' ? ',' : 0;
    long long units = 0;
    switch (ParseDecimalUnits(text, alt, decimals, &units)) {
    case DecimalParse::Ok: break;
    case DecimalParse::TooManyDecimals:
        return QStringLiteral("the price has more than %1 decimals, the price mode's number").arg(decimals);
    case DecimalParse::TooLarge: return QStringLiteral("the price is above the maximum");
    default: return QStringLiteral("the price is not a number");
    }
    if (units < 0)
        return QStringLiteral("the price is negative");
    if (double(units) / double(UnitScale(decimals)) > wb.Options.PriceMax)
        return QStringLiteral("the price is above the maximum %1")
            .arg(QString::fromLatin1(regional::formatGeneral(wb.Options.PriceMax)));
    *price = PriceTextOfUnits(units, decimals);
    return {};
}

// The name or unit cell: what the row holds already when it reads the same.
QString textProblem(const Source& src, const QByteArray& raw, const QByteArray& current, bool trim,
                    const char* what, QByteArray* bytes)
{
    QString text = src.decode(raw);
    if (trim)
        text = text.trimmed();
    if (!src.Utf8 && cp::encode(cp::decode(raw)) != raw)
        return QStringLiteral("the %1 is not text in the code page %2")
            .arg(QLatin1String(what), QString::fromLatin1(cp::name()));
    const QByteArray held = trim ? trimBlanks(current) : current;
    if (cp::decode(held) == text) {
        *bytes = held;
        return {};
    }
    return toCodePage(text, what, bytes);
}

} // namespace

char DefaultCsvSeparator() { return regional::decimalSeparator() == ',' ? ';' : ','; }

QByteArray ExportPluCsv(const PluTable& table, char separator)
{
    auto utf8 = [](const QByteArray& cpBytes) { return cp::decode(cpBytes).toUtf8(); };
    QByteArray out(Utf8Bom);
    out += CsvLine({Titles[KeyCol], Titles[PriceCol], Titles[NameCol], Titles[UnitCol]}, separator);
    for (int r = 1; r <= PluCount; ++r)
        out += CsvLine({PluKeyLabel(r), table.cell(colPrice, r), utf8(trimBlanks(table.cell(colName, r))),
                        utf8(table.cell(colUnit, r))},
                       separator);
    return out;
}

QString CsvImport::report() const
{
    QStringList lines;
    for (const CsvProblem& p : Problems) {
        QString where = p.Line > 0 ? QStringLiteral("line %1").arg(p.Line) : QStringLiteral("file");
        if (!p.Key.isEmpty())
            where += QStringLiteral(", ") + p.Key;
        lines << where + QStringLiteral(": ") + p.What;
    }
    return lines.join(QLatin1Char('\n'));
}

CsvImport ReadPluCsv(const QByteArray& bytes, const Workbook& wb)
{
    CsvImport result;
    if (wb.Options.PriceDecimal < 0 || wb.Options.PriceDecimal > 3) {
        result.Problems.append({0, {}, QStringLiteral("the price decimal mode %1 of config.ini is unknown")
                                           .arg(wb.Options.PriceDecimal)});
        return result;
    }
    const Source src = sourceOf(bytes);
    Layout layout;
    if (!findLayout(src, &layout)) {
        result.Problems.append({0, {}, QStringLiteral("no header row naming the columns Key and Unit Price")});
        return result;
    }
    QHash<int, int> lineOfRow;
    for (const CsvRecord& rec : std::as_const(layout.Records)) {
        const QString keyText = src.decode(field(rec, layout.Index[KeyCol])).trimmed();
        auto problem = [&](const QString& what) { result.Problems.append({rec.Line, keyText, what}); };
        CsvPluRow row;
        row.Row = PluRowOfKey(keyText.toLatin1());
        if (row.Row == 0) {
            problem(QStringLiteral("unknown key"));
            continue;
        }
        if (lineOfRow.contains(row.Row)) {
            problem(QStringLiteral("repeated key (first on line %1)").arg(lineOfRow[row.Row]));
            continue;
        }
        lineOfRow.insert(row.Row, rec.Line);
        QString why = priceProblem(field(rec, layout.Index[PriceCol]), wb, layout.Separator, &row.Price);
        if (!why.isEmpty())
            problem(why);
        if (layout.Index[NameCol] >= 0) {
            row.HasName = true;
            why = textProblem(src, field(rec, layout.Index[NameCol]), wb.Table.cell(colName, row.Row), true,
                              "name", &row.Name);
            if (!why.isEmpty())
                problem(why);
        }
        const QByteArray unit = field(rec, layout.Index[UnitCol]);
        if (!unit.trimmed().isEmpty()) {
            why = textProblem(src, unit, wb.Table.cell(colUnit, row.Row), false, "unit", &row.Unit);
            if (!why.isEmpty())
                problem(why);
        }
        result.Rows.append(row);
    }
    return result;
}

int ApplyPluCsv(const CsvImport& import, Workbook& wb)
{
    if (!import.ok())
        return 0;
    PluTable& t = wb.Table;
    int changed = 0;
    for (const CsvPluRow& row : import.Rows) {
        const int r = row.Row;
        bool rowChanged = false;
        if (t.cell(colPrice, r) != row.Price) {
            t.setCell(colPrice, r, row.Price);
            t.setStoredPrice(r, row.Price);
            double v = 0;
            t.PluRecords[r].Price = regional::parseFloat(row.Price, &v) ? v : 0;
            rowChanged = true;
        }
        if (row.HasName && trimBlanks(t.cell(colName, r)) != row.Name) {
            t.setCell(colName, r, row.Name);
            t.PluRecords[r].Name = row.Name;
            rowChanged = true;
        }
        if (!row.Unit.isEmpty() && t.cell(colUnit, r) != row.Unit) {
            t.setCell(colUnit, r, row.Unit);
            t.PluRecords[r].UnitText = row.Unit;
            t.PluRecords[r].UnitIndex = UnitListIndex(row.Unit);
            rowChanged = true;
        }
        changed += rowChanged ? 1 : 0;
    }
    return changed;
}

QByteArray ReadCsvFile(const QString& path)
{
    constexpr qint64 sizeLimit = 16 * 1024 * 1024;   // far beyond 77 rows
    const QString notPlain = NotAPlainFile(path);
    if (!notPlain.isEmpty())
        throw EInOutError(QStringLiteral("Cannot open file \"%1\".").arg(path), notPlain);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\".").arg(path), f.errorString());
    const QByteArray data = f.read(sizeLimit + 1);
    if (f.error() != QFileDevice::NoError)
        throw EInOutError(QStringLiteral("Cannot read file \"%1\".").arg(path), f.errorString());
    if (data.size() > sizeLimit)
        throw EInOutError(QStringLiteral("Cannot read file \"%1\".").arg(path),
                          QStringLiteral("larger than 16 MiB: not a price list"));
    return data;
}
