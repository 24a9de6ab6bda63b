#pragma once
#include "plutable.h"
#include <QByteArray>
#include <array>
#include <cstdint>

class Workbook;

// The whole table state as bytes: cells, the price store, the records and
// the price mode. Undo keeps one before and after each change; restoring
// one gives back the exact bytes, also of names that do not decode.
struct TableSnapshot {
    std::array<std::array<QByteArray, PluColumns>, PluRows> Cells;
    std::array<QByteArray, PluRows> Stored;
    std::array<TPluRecord, PluRows> Records;
    int PriceDecimal = 0, PriceLength = 0;
    double PriceMax = 0;
    uint8_t PriceDot = 0;
    QByteArray PriceFormat;

    bool sameTable(const TableSnapshot& o) const;
    bool sameMode(const TableSnapshot& o) const;
    bool operator==(const TableSnapshot& o) const { return sameTable(o) && sameMode(o); }
};

TableSnapshot CaptureTable(const Workbook& wb);
// Puts `s` back. A different price mode is saved to config.ini first, as
// the price decimal commands do: when that fails (EIniError) the table
// and the mode stay as they were.
void RestoreTable(Workbook& wb, const TableSnapshot& s);
