#pragma once
#include <QByteArray>
#include <cstdint>

class TIniOptions;

// One price decimal mode: what the menu commands set and what a price mode
// code read from the scale selects.
struct PriceModeRow {
    uint8_t Code;          // PriceDot
    int Decimals;          // PriceDecimal
    int Length;            // PriceLength
    double Max;            // PriceMax
    const char* Format;    // PriceFormat
};

// The six modes in menu order: (0), (1), (2+No), (2+Yes), (3+NO), (3+Yes).
extern const PriceModeRow PriceModes[6];

// The row whose code is `code` (low nibble of the scale's price mode byte),
// or nullptr for a code outside the table.
const PriceModeRow* FindPriceMode(uint8_t code);

// "%d", "%.1f", "%.2f", "%.3f" for 0..3; `current` for any other value.
QByteArray PriceFormatFor(int priceDecimal, const QByteArray& current);

// Copy a mode row into the options (PriceDecimal, PriceLength, PriceMax, PriceDot).
void ApplyPriceMode(const PriceModeRow& row, TIniOptions& options);

// The price text of v in mode `priceDecimal` (0: rounded half to even,
// 1..3: fixed-point with the regional separator; other: empty text).
QByteArray PriceText(double v, int priceDecimal);
// "0" in mode 0, "0" + separator + N zeros in modes 1..3, empty otherwise.
QByteArray ZeroText(int priceDecimal);

// A number as operators and other programs write it: an optional sign,
// digits with at most one decimal mark ('.', or `altMark` when not 0),
// blanks around; no exponent, no thousands separator. The value is taken
// in units of 10^-decimals; decimals past those count only when not zero.
enum class DecimalParse { Ok, NotANumber, TooManyDecimals, TooLarge };
DecimalParse ParseDecimalUnits(const QByteArray& text, char altMark, int decimals, long long* units);
// 10^decimals, for 0 to 6 decimals.
long long UnitScale(int decimals);
// The price text of `units` in mode `decimals`.
QByteArray PriceTextOfUnits(long long units, int decimals);
