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
    // Set by ReadOptions when the four values form no price mode: the keys
    // that disagree and what the mode in use needs. Empty when they agree.
    QString ModeProblem;

    // Reads the four keys; values that form no price mode are replaced by
    // the mode that Price Dot names, or the default mode (ModeProblem says so).
    void ReadOptions(const IniFile* ini);
    // Writes the four keys, in order, in one atomic replace; throws EIniError.
    void WriteOptions(const QString& fileName) const;
    void LoadOptions(const QString& fileName);
    void SaveOptions(const QString& fileName) const;
};

// Program-wide; created before any window.
extern TIniOptions* IniOptions;
