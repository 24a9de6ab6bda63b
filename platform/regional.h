#pragma once
#include <QByteArray>

// Number formatting and parsing with the regional decimal separator
// (LC_NUMERIC). One process-wide instance; tests inject the separator.
// Texts are 8-bit (the table keeps bytes), digits are ASCII.
namespace regional {

char decimalSeparator();
void setDecimalSeparator(char sep);      // tests: '.' or ','
void useLocaleSeparator();               // back to the locale's

// "%d" of an integer.
QByteArray formatInt(long long v);
// Fixed-point with `decimals` digits, the regional separator, no thousands
// separator; a 5 in the first dropped digit rounds away from zero (decided on
// the exact binary value, so 0.125 -> "0.13", 2.675 -> "2.67").
QByteArray formatFixed(double v, int decimals);
// General format: up to 15 significant digits, no trailing zeros, no
// decimal point for whole numbers (3, 11, 99999.99, 9999999). Exponent form
// only where the number needs it.
QByteArray formatGeneral(double v);
// printf-style subset used by the program: "%d" (v rounded half to even and
// printed as an integer), "%.Nf" (formatFixed). Any other format text gives
// the empty text (an unset PriceFormat formats to nothing).
QByteArray formatPrintf(const QByteArray& fmt, double v);

// Text to number with the regional separator. Blanks around the number are
// ignored; an optional sign, digits, one separator, an optional exponent.
// The empty text, a second separator or any other character fails.
bool parseFloat(const QByteArray& text, double* out);
// Whole decimal number, optional sign, blanks around ignored.
bool parseInt(const QByteArray& text, long long* out);

// Round half to even (the scale's and the table's whole-number rounding).
long long roundHalfEven(double v);

} // namespace regional
