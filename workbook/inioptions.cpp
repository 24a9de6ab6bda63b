#include "inioptions.h"
#include "iniread.h"
#include "regional.h"
#include <QFileInfo>
#include <cmath>

TIniOptions* IniOptions = nullptr;

namespace {

const QByteArray Section = QByteArrayLiteral("default");
const QByteArray KeyPriceDot = QByteArrayLiteral("Price Dot");
const QByteArray KeyPriceMax = QByteArrayLiteral("Price Max");
const QByteArray KeyPriceLength = QByteArrayLiteral("price length");
const QByteArray KeyPriceDecimal = QByteArrayLiteral("price decimal");

constexpr double DefaultPriceMax = 99999.99;

bool toDouble(const QByteArray& text, double* out)
{
    double v = 0;
    if (!regional::parseFloat(text, &v) || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

} // namespace

void TIniOptions::ReadOptions(const IniFile* ini)
{
    if (!ini)
        return;
    PriceDot = uint8_t(ReadIniInt32(*ini, Section, KeyPriceDot, 3) & 0xFF);

    double maxDefault = DefaultPriceMax;
    toDouble(PriceMaxText, &maxDefault);
    bool found = false;
    const QByteArray maxText = ini->readString(Section, KeyPriceMax, {}, &found);
    if (!found || !toDouble(maxText, &PriceMax))
        PriceMax = maxDefault;

    PriceLength = ReadIniInt32(*ini, Section, KeyPriceLength, 8);
    PriceDecimal = ReadIniInt32(*ini, Section, KeyPriceDecimal, 2);
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
        PriceDot = 3;
        return;
    }
    const IniFile ini(fileName);
    ReadOptions(&ini);
}

void TIniOptions::SaveOptions(const QString& fileName) const { WriteOptions(fileName); }
