#include "inioptions.h"
#include "iniread.h"
#include "pricemode.h"
#include "regional.h"
#include <QFileInfo>
#include <algorithm>
#include <cmath>

TIniOptions* IniOptions = nullptr;

namespace {

const QByteArray Section = QByteArrayLiteral("default");
const QByteArray KeyPriceDot = QByteArrayLiteral("Price Dot");
const QByteArray KeyPriceMax = QByteArrayLiteral("Price Max");
const QByteArray KeyPriceLength = QByteArrayLiteral("price length");
const QByteArray KeyPriceDecimal = QByteArrayLiteral("price decimal");

constexpr double DefaultPriceMax = 99999.99;
constexpr uint8_t DefaultPriceDot = 3;

bool toDouble(const QByteArray& text, double* out)
{
    double v = 0;
    if (!regional::parseFloat(text, &v) || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

bool sameMax(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b)); }

bool formsMode(const TIniOptions& o, const PriceModeRow& row)
{
    return o.PriceDot == row.Code && o.PriceDecimal == row.Decimals && o.PriceLength == row.Length
        && sameMax(o.PriceMax, row.Max);
}

// "  price decimal=0 (the file has 3)": one key of `row` that the options miss.
QString neededKey(const IniFile& ini, const QByteArray& key, const QByteArray& needed, bool numeric)
{
    bool found = false;
    const QByteArray text = ini.readString(Section, key, {}, &found);
    QString has;
    if (!found)
        has = QStringLiteral("not in the file");
    else if (!numeric)
        has = QStringLiteral("the file has \"%1\", which is no number").arg(QString::fromLatin1(text));
    else
        has = QStringLiteral("the file has %1").arg(QString::fromLatin1(text));
    return QStringLiteral("  %1=%2 (%3)").arg(QString::fromLatin1(key), QString::fromLatin1(needed), has);
}

// What the operator reads when `o` forms no mode and `row` is used instead.
QString modeProblem(const IniFile& ini, const TIniOptions& o, const PriceModeRow& row, bool dotIsCode)
{
    auto isInt = [&](const QByteArray& key) {
        long long v = 0;
        return regional::parseInt(ini.readString(Section, key, {}), &v);
    };
    double max = 0;
    QStringList lines{QStringLiteral("The price settings in \"%1\" do not form one price mode.").arg(ini.path())};
    lines << (dotIsCode ? QStringLiteral("Price Dot=%1 needs:").arg(row.Code)
                        : QStringLiteral("Price Dot=%1 is no price mode; the default mode needs:")
                              .arg(QString::fromLatin1(ini.readString(Section, KeyPriceDot, {}))));
    if (o.PriceDot != row.Code)
        lines << neededKey(ini, KeyPriceDot, regional::formatInt(row.Code), isInt(KeyPriceDot));
    if (!sameMax(o.PriceMax, row.Max))
        lines << neededKey(ini, KeyPriceMax, regional::formatGeneral(row.Max),
                           toDouble(ini.readString(Section, KeyPriceMax, {}), &max));
    if (o.PriceLength != row.Length)
        lines << neededKey(ini, KeyPriceLength, regional::formatInt(row.Length), isInt(KeyPriceLength));
    if (o.PriceDecimal != row.Decimals)
        lines << neededKey(ini, KeyPriceDecimal, regional::formatInt(row.Decimals), isInt(KeyPriceDecimal));
    lines << QStringLiteral("Prices are handled in that mode; the file stays as it is until a price "
                            "decimal mode is chosen.");
    return lines.join(QLatin1Char('\n'));
}

} // namespace

void TIniOptions::ReadOptions(const IniFile* ini)
{
    if (!ini)
        return;
    PriceDot = uint8_t(ReadIniInt32(*ini, Section, KeyPriceDot, DefaultPriceDot) & 0xFF);

    double maxDefault = DefaultPriceMax;
    toDouble(PriceMaxText, &maxDefault);
    bool found = false;
    const QByteArray maxText = ini->readString(Section, KeyPriceMax, {}, &found);
    if (!found || !toDouble(maxText, &PriceMax))
        PriceMax = maxDefault;

    PriceLength = ReadIniInt32(*ini, Section, KeyPriceLength, 8);
    PriceDecimal = ReadIniInt32(*ini, Section, KeyPriceDecimal, 2);

    // A scale shows prices ten or a thousand times off when the decimals
    // sent disagree with its decimal point: only whole modes are used.
    ModeProblem.clear();
    const PriceModeRow* named = FindPriceMode(PriceDot);
    const PriceModeRow& row = named ? *named : *FindPriceMode(DefaultPriceDot);
    if (formsMode(*this, row))
        return;
    ModeProblem = modeProblem(*ini, *this, row, named != nullptr);
    ApplyPriceMode(row, *this);
}

void TIniOptions::WriteOptions(const QString& fileName) const
{
    if (fileName.isEmpty())
        return;
    IniFile::writeStrings(fileName, Section,
                          {{KeyPriceDot, regional::formatGeneral(PriceDot)},
                           {KeyPriceMax, regional::formatGeneral(PriceMax)},
                           {KeyPriceLength, regional::formatInt(PriceLength)},
                           {KeyPriceDecimal, regional::formatInt(PriceDecimal)}});
}

void TIniOptions::LoadOptions(const QString& fileName)
{
    if (!QFileInfo::exists(fileName)) {
        PriceMax = DefaultPriceMax;
        PriceLength = 8;
        PriceDecimal = 2;
        PriceDot = DefaultPriceDot;
        ModeProblem.clear();
        return;
    }
    const IniFile ini(fileName);
    ReadOptions(&ini);
}

void TIniOptions::SaveOptions(const QString& fileName) const { WriteOptions(fileName); }
