#include "plufile.h"
#include "codepage.h"
#include "csvfile.h"
#include "errors.h"
#include "plutable.h"
#include "pricemode.h"
#include "regional.h"
#include <QFile>
#include <cmath>

int UnitListIndex(const QByteArray& unitText)
{
    return unitText.compare("kg", Qt::CaseInsensitive) == 0 ? 0 : -1;
}

namespace {
// A TAB or line break typed or pasted into a cell would split its line:
// each becomes a blank. The unit is the last field, so it may keep TABs.
QByteArray oneField(QByteArray text, bool keepTabs)
{
    for (char& c : text)
        if (c == '\r' || c == '\n' || (c == '\t' && !keepTabs))
            c = ' ';
    return text;
}
} // namespace

QByteArray PluFileLine(const QByteArray& price, const QByteArray& name, const QByteArray& unit)
{
    return padLeft(oneField(price, false), 8) + '\t' + padRight(trimBlanks(oneField(name, false)), 13)
        + '\t' + oneField(unit, true) + "\r\n";
}

QList<QByteArray> SplitPluLines(const QByteArray& data, int maxLines)
{
    QList<QByteArray> lines;
    qsizetype end = data.size();
    while (end > 0 && data[end - 1] == '\x1A')
        --end;
    qsizetype pos = data.startsWith(Utf8Bom) ? qsizetype(sizeof Utf8Bom - 1) : 0;
    while (pos < end && lines.size() < maxLines) {
        qsizetype e = pos;
        while (e < end && data[e] != '\r' && data[e] != '\n')
            ++e;
        lines.append(data.mid(pos, e - pos));
        if (e < end)   // the line end: CR LF is one, a lone CR or LF another
            e += (data[e] == '\r' && e + 1 < end && data[e + 1] == '\n') ? 2 : 1;
        pos = e;
    }
    return lines;
}

PluFields SplitPluFields(const QByteArray& line)
{
    PluFields f;
    QByteArray rest = line;
    const qsizetype tab1 = rest.indexOf('\t');
    if (tab1 >= 0) {
        f.Price = rest.left(tab1);
        rest = rest.mid(tab1 + 1);
    }
    const qsizetype tab2 = rest.indexOf('\t');
    if (tab2 < 0) {
        f.Name = rest;
    } else {
        f.Name = rest.left(tab2);
        f.Unit = rest.mid(tab2 + 1);
    }
    return f;
}

QString PluKeyName(int row) { return QString::fromLatin1(PluKeyLabel(row)); }

QByteArray ReadPluFileBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\".").arg(path), f.errorString());
    // Only the first 77 lines count: read no further than the start of the
    // 78th. A file without 77 lines in its first 16 MiB is no PLU file.
    constexpr qint64 chunkSize = 64 * 1024;
    constexpr qint64 maxBytes = 16 * 1024 * 1024;
    QByteArray data;
    int lineEnds = 0;
    for (;;) {
        const QByteArray chunk = f.read(chunkSize);
        if (f.error() != QFileDevice::NoError)
            throw EInOutError(QStringLiteral("Cannot read file \"%1\".").arg(path), f.errorString());
        if (chunk.isEmpty())
            break;
        data += chunk;
        lineEnds += int(chunk.count('\n') + chunk.count('\r'));
        if (lineEnds >= PluCount && SplitPluLines(data, PluCount + 1).size() > PluCount)
            break;
        if (data.size() >= maxBytes)
            throw EInOutError(QStringLiteral("Cannot read file \"%1\".").arg(path),
                              QStringLiteral("not a PLU file: no 77 lines in its first 16 MiB"));
    }
    return data;
}

namespace {

QByteArray withoutSpaces(const QByteArray& text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text[b] == ' ')
        ++b;
    while (e > b && text[e - 1] == ' ')
        --e;
    return text.mid(b, e - b);
}

// A field as the operator can read it in one line of a message.
QString shown(const QByteArray& field)
{
    constexpr int maxChars = 24;
    QString s = cp::decode(field);
    for (QChar& c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    if (s.size() > maxChars)
        s = s.left(maxChars) + QStringLiteral("...");
    return QLatin1Char('"') + s + QLatin1Char('"');
}

// ASCII text in UTF-16 has a NUL in every other byte.
bool looksLikeUtf16(const QByteArray& data)
{
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF"))
        return true;
    const qsizetype n = qMin<qsizetype>(data.size(), 64) & ~qsizetype(1);
    int nul[2] = {0, 0};
    for (qsizetype i = 0; i < n; ++i)
        nul[i & 1] += data[i] == '\0';
    const int half = int(n / 2);
    return half >= 2 && ((nul[0] == 0 && nul[1] * 2 >= half) || (nul[1] == 0 && nul[0] * 2 >= half));
}

QString notTextReason(const QByteArray& data, const QList<QByteArray>& lines)
{
    if (lines.isEmpty())
        return QStringLiteral("the file is empty");
    if (looksLikeUtf16(data))
        return QStringLiteral("it is UTF-16 text, not text in the code page %1")
            .arg(QString::fromLatin1(cp::name()));
    for (int k = 0; k < lines.size(); ++k)
        if (lines[k].contains('\0'))
            return QStringLiteral("line %1 holds NUL bytes, which no text file has").arg(k + 1);
    return {};
}

QString notANumber(const QByteArray& field)
{
    const char sep = regional::decimalSeparator();
    QByteArray other = field;
    other.replace(sep == '.' ? ',' : '.', sep);
    double v = 0;
    if (other != field && regional::parseFloat(other, &v))
        return QStringLiteral("is not a number with the decimal separator \"%1\"").arg(QLatin1Char(sep));
    return QStringLiteral("is not a number");
}

} // namespace

PluFileCheck CheckPluFile(const QByteArray& data, int priceDecimal, double priceMax)
{
    PluFileCheck c;
    const QList<QByteArray> lines = SplitPluLines(data, PluCount);
    c.NotPluFile = notTextReason(data, lines);
    if (!c.NotPluFile.isEmpty())
        return c;   // not text: its lines say nothing about prices
    // The whole-number mode shows prices rounded, so its limits are the
    // values that round to 0 and to the largest price.
    const bool whole = priceDecimal == 0;
    const double limit = whole ? PriceModes[0].Max : priceMax;
    const bool ranged = priceDecimal >= 0 && priceDecimal <= 3;
    bool anyPrice = false;
    for (int k = 1; k <= lines.size(); ++k) {
        const QByteArray field = withoutSpaces(SplitPluFields(lines[k - 1]).Price);
        if (field.isEmpty())
            continue;
        const QString where = QStringLiteral("line %1 (%2): ").arg(k).arg(PluKeyName(k)) + shown(field) + ' ';
        double v = 0;
        if (!regional::parseFloat(field, &v) || !std::isfinite(v)) {
            c.ResetRows << where + notANumber(field);
            continue;
        }
        anyPrice = true;
        if (!ranged)
            continue;
        if (whole ? v < -0.5 : v < 0)
            c.ResetRows << where + QStringLiteral("is below 0");
        else if (whole ? !(v < limit + 0.5) : v > limit)
            c.ResetRows << where + QStringLiteral("is above the maximum ")
                               + QString::fromLatin1(PriceText(limit, priceDecimal));
    }
    if (c.NotPluFile.isEmpty() && !anyPrice)
        c.NotPluFile = QStringLiteral("no line has a price");
    return c;
}

QString PluFileCheck::rowsText(int maxRows) const
{
    QStringList shownRows = ResetRows.mid(0, maxRows);
    if (ResetRows.size() > maxRows)
        shownRows << QStringLiteral("... and %1 more").arg(ResetRows.size() - maxRows);
    return shownRows.join(QLatin1Char('\n'));
}
