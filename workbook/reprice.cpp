#include "reprice.h"
#include "codepage.h"
#include "plufile.h"
#include "pricemode.h"
#include "regional.h"
#include "workbook.h"
#include <QSet>
#include <cmath>

namespace {

constexpr int PercentDecimals = 4;
constexpr long long PercentScale = 100 * 10000;   // 100 % in units of 10^-4 %
constexpr long long PercentLimit = 1000;          // beyond 1000 % is a typing error

long long roundHalfAway(long long num, long long den)
{
    return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

// The next price at or above `units` whose last digits are the ending.
long long withEnding(long long units, const QByteArray& ending)
{
    long long m = 1;
    for (int i = 0; i < ending.size(); ++i)
        m *= 10;
    const long long e = ending.toLongLong();
    long long r = units - units % m + e;
    if (r < units)
        r += m;
    return r;
}

QString checkRequest(const RepriceRequest& req, int decimals, long long* value)
{
    const char alt = regional::decimalSeparator();
    bool digits = req.Ending.size() <= 3;
    for (char c : req.Ending)
        digits = digits && c >= '0' && c <= '9';
    if (!digits)
        return QStringLiteral("the ending must be 1 to 3 digits");
    if (req.By == RepriceRequest::Percent) {
        const DecimalParse p = ParseDecimalUnits(req.Value, alt, PercentDecimals, value);
        if (p != DecimalParse::Ok || std::llabs(*value) > PercentLimit * 10000)
            return QStringLiteral("the percentage must be a number between -%1 and %1").arg(PercentLimit);
        return {};
    }
    switch (ParseDecimalUnits(req.Value, alt, decimals, value)) {
    case DecimalParse::Ok: return {};
    case DecimalParse::TooManyDecimals:
        return QStringLiteral("the amount has more decimals than the price mode's %1").arg(decimals);
    default: return QStringLiteral("the amount is not a number");
    }
}

} // namespace

RepricePlan PlanReprice(const Workbook& wb, const RepriceRequest& req)
{
    RepricePlan plan;
    const int d = wb.Options.PriceDecimal;
    if (d < 0 || d > 3) {
        plan.Problem = QStringLiteral("the price decimal mode %1 of config.ini is unknown").arg(d);
        return plan;
    }
    long long value = 0;
    plan.Problem = checkRequest(req, d, &value);
    if (!plan.Problem.isEmpty())
        return plan;
    const long long scale = UnitScale(d);
    for (int r : req.Rows) {
        RepriceLine line;
        line.Row = r;
        line.Old = wb.Table.cell(colPrice, r);
        double v = 0;
        if (!regional::parseFloat(line.Old, &v) || !std::isfinite(v) || std::fabs(v) > 1e12) {
            line.Why = QStringLiteral("the price is not a number");
            plan.Refused.append(line);
            continue;
        }
        const long long old = std::llround(v * double(scale));
        if (old == 0)
            continue;
        long long units = req.By == RepriceRequest::Amount
            ? old + value
            : roundHalfAway(old * (PercentScale + value), PercentScale);
        if (!req.Ending.isEmpty() && units >= 0)
            units = withEnding(units, req.Ending);
        line.New = PriceTextOfUnits(units, d);
        if (units < 0 || double(units) / double(scale) > wb.Options.PriceMax) {
            line.Why = units < 0 ? QStringLiteral("below 0")
                                 : QStringLiteral("above the maximum %1")
                                       .arg(QString::fromLatin1(regional::formatGeneral(wb.Options.PriceMax)));
            plan.Refused.append(line);
        } else if (line.New != line.Old) {
            plan.Changes.append(line);
        }
    }
    return plan;
}

void ApplyReprice(Workbook& wb, const RepricePlan& plan)
{
    if (!plan.ok())
        return;
    for (const RepriceLine& line : plan.Changes) {
        wb.Table.setCell(colPrice, line.Row, line.New);
        wb.Table.setStoredPrice(line.Row, line.New);
    }
}

QList<int> ParseKeyList(const QByteArray& text, QString* problem)
{
    QSet<int> rows;
    for (const QByteArray& part : text.split(',')) {
        const QList<QByteArray> ends = part.split('-');
        const int first = PluRowOfKey(ends.value(0));
        const int last = ends.size() == 2 ? PluRowOfKey(ends[1]) : first;
        if (ends.size() > 2 || first == 0 || last < first) {
            *problem = QStringLiteral("\"%1\" is no key (M1..M7, U1..U70 or 1..77) or ascending range of keys")
                           .arg(QString::fromUtf8(part.trimmed()));
            return {};
        }
        for (int r = first; r <= last; ++r)
            rows.insert(r);
    }
    QList<int> sorted(rows.begin(), rows.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

QStringList RepricePreview(const Workbook& wb, const QList<RepriceLine>& lines)
{
    QStringList out;
    for (const RepriceLine& l : lines) {
        QString s = QStringLiteral("%1  %2  %3 -> %4")
                        .arg(QString::fromLatin1(PluKeyLabel(l.Row)).leftJustified(3),
                             cp::decode(trimBlanks(wb.Table.cell(colName, l.Row))).leftJustified(13),
                             QString::fromLatin1(l.Old).rightJustified(10), QString::fromLatin1(l.New));
        if (!l.Why.isEmpty())
            s += QStringLiteral("  (") + l.Why + QLatin1Char(')');
        out << s;
    }
    return out;
}
