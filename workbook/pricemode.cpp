#include "pricemode.h"
#include "inioptions.h"
#include "regional.h"
#include <cmath>

const PriceModeRow PriceModes[6] = {
    {0, 0, 7, 9999999.0, "%d"},
    {9, 1, 8, 999999.9, "%.1f"},
    {11, 2, 8, 99999.99, "%.2f"},
    {3, 2, 8, 99999.99, "%.2f"},
    {15, 3, 8, 9999.999, "%.3f"},
    {7, 3, 8, 9999.999, "%.3f"},
};

const PriceModeRow* FindPriceMode(uint8_t code)
{
    for (const PriceModeRow& row : PriceModes)
        if (row.Code == code)
            return &row;
    return nullptr;
}

QByteArray PriceFormatFor(int priceDecimal, const QByteArray& current)
{
    switch (priceDecimal) {
    case 0: return QByteArrayLiteral("%d");
    case 1: return QByteArrayLiteral("%.1f");
    case 2: return QByteArrayLiteral("%.2f");
    case 3: return QByteArrayLiteral("%.3f");
    default: return current;
    }
}

void ApplyPriceMode(const PriceModeRow& row, TIniOptions& options)
{
    options.PriceDecimal = row.Decimals;
    options.PriceLength = row.Length;
    options.PriceMax = row.Max;
    options.PriceDot = row.Code;
}

QByteArray PriceText(double v, int priceDecimal)
{
    if (!std::isfinite(v) || priceDecimal < 0 || priceDecimal > 3)
        return {};
    if (v == 0)   // also -0.0, which must not show as "-0.00"; and the common case
        return ZeroText(priceDecimal);
    if (priceDecimal > 0)
        return regional::formatFixed(v, priceDecimal);
    // Beyond 2^53 every double is already whole; keep the rounding call
    // inside the range of long long.
    if (std::fabs(v) < 9.0e15)
        return regional::formatInt(regional::roundHalfEven(v));
    return QByteArray::number(v, 'f', 0);
}

QByteArray ZeroText(int priceDecimal)
{
    if (priceDecimal == 0)
        return QByteArrayLiteral("0");
    if (priceDecimal < 1 || priceDecimal > 3)
        return {};
    return QByteArray("0") + regional::decimalSeparator() + QByteArray(priceDecimal, '0');
}

long long UnitScale(int decimals)
{
    long long scale = 1;
    for (int i = 0; i < decimals && i < 6; ++i)
        scale *= 10;
    return scale;
}

DecimalParse ParseDecimalUnits(const QByteArray& text, char altMark, int decimals, long long* units)
{
    const QByteArray t = text.trimmed();
    qsizetype i = 0;
    const bool negative = i < t.size() && t[i] == '-';
    if (i < t.size() && (t[i] == '-' || t[i] == '+'))
        ++i;
    QByteArray whole, fraction;
    bool mark = false;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        if (c >= '0' && c <= '9')
            (mark ? fraction : whole) += c;
        else if (!mark && (c == '.' || (altMark && c == altMark)))
            mark = true;
        else
            return DecimalParse::NotANumber;
    }
    if (whole.isEmpty() && fraction.isEmpty())
        return DecimalParse::NotANumber;
    for (qsizetype k = decimals; k < fraction.size(); ++k)
        if (fraction[k] != '0')
            return DecimalParse::TooManyDecimals;
    while (whole.size() > 1 && whole[0] == '0')
        whole.remove(0, 1);
    if (whole.size() > 12)   // far beyond any price; keeps the units in range
        return DecimalParse::TooLarge;
    fraction = fraction.left(decimals).leftJustified(decimals, '0');
    const long long v = (whole.isEmpty() ? 0 : whole.toLongLong()) * UnitScale(decimals)
        + (fraction.isEmpty() ? 0 : fraction.toLongLong());
    *units = negative ? -v : v;
    return DecimalParse::Ok;
}

QByteArray PriceTextOfUnits(long long units, int decimals)
{
    return PriceText(double(units) / double(UnitScale(decimals)), decimals);
}
