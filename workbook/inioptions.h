#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>

class IniFile;

// The price options kept in config.ini, section [default].
class TIniOptions {
public:
    int PriceLength = 0;
    double PriceMax = 0;
    uint8_t PriceDot = 0;
    int PriceDecimal = 0;
    QByteArray PriceMaxText;   // "99999" + decimal separator + "99"

    void ReadOptions(const IniFile* ini);
    // Writes the four keys, in order, in one atomic replace; throws EIniError.
    void WriteOptions(const QString& fileName) const;
    void LoadOptions(const QString& fileName);
    void SaveOptions(const QString& fileName) const;
};

// Program-wide; created before any window.
extern TIniOptions* IniOptions;
