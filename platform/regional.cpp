#include "regional.h"
#include "texthelpers.h"
#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <string>

namespace regional {
namespace {

std::atomic<char> Injected{0};   // 0: the locale's

// A finite double as its exact decimal expansion: value = d0.d1d2... * 10^exp.
// 800 significant digits hold every double exactly (at most 767 are needed).
struct Decimal {
    bool negative = false;
    std::string digits;   // no trailing zeros; empty for zero
    int exp = 0;
};

Decimal exact(double v)
{
    Decimal d;
    d.negative = std::signbit(v);
    char buf[900];
    const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 800);
    const std::string s(buf, r.ptr);
    const auto e = s.find('e');
    d.digits = s.substr(0, 1) + s.substr(2, e - 2);
    d.exp = std::stoi(s.substr(e + 1));
    while (!d.digits.empty() && d.digits.back() == '0')
        d.digits.pop_back();
    return d;
}

// Keep `keep` significant digits; a dropped first digit of 5..9 rounds the
// magnitude up (half away from zero, on the exact value).
void roundTo(Decimal& d, int keep)
{
    if (keep >= int(d.digits.size()))
        return;
    if (keep < 0) {
        d.digits.clear();
        return;
    }
    const bool up = d.digits[keep] >= '5';
    d.digits.resize(keep);
    if (up) {
        int i = keep - 1;
        for (; i >= 0 && d.digits[i] == '9'; --i)
            d.digits[i] = '0';
        if (i >= 0) {
            ++d.digits[i];
        } else {
            d.digits.insert(d.digits.begin(), '1');
            ++d.exp;
        }
    }
    while (!d.digits.empty() && d.digits.back() == '0')
        d.digits.pop_back();
}

// Digit at the place 10^place.
char digitAt(const Decimal& d, int place)
{
    const int i = d.exp - place;
    return i >= 0 && i < int(d.digits.size()) ? d.digits[i] : '0';
}

QByteArray nonFinite(double v)
{
    return std::isnan(v) ? QByteArray("NAN") : v < 0 ? QByteArray("-INF") : QByteArray("INF");
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

char decimalSeparator()
{
    if (const char c = Injected.load())
        return c;
    // Number texts hold a one-byte separator. A locale whose separator takes
    // several bytes (U+066B in UTF-8) would leave half a character in every
    // price and file; such a locale gets the point.
    const lconv* lc = std::localeconv();
    const char* dp = lc ? lc->decimal_point : nullptr;
    return dp && dp[0] && !dp[1] ? dp[0] : '.';
}

void setDecimalSeparator(char sep) { Injected.store(sep); }
void useLocaleSeparator() { Injected.store(0); }

QByteArray formatInt(long long v) { return QByteArray::number(v); }

// A negative value that rounds to zero prints "0.00", not "-0.00": the
// table never shows a signed zero.
QByteArray formatFixed(double v, int decimals)
{
    if (!std::isfinite(v))
        return nonFinite(v);
    decimals = std::clamp(decimals, 0, 1100);
    Decimal d = exact(v);
    roundTo(d, d.exp + 1 + decimals);
    QByteArray out;
    if (d.negative && !d.digits.empty())
        out += '-';
    for (int place = std::max(d.exp, 0); place >= 0; --place)
        out += digitAt(d, place);
    if (decimals > 0) {
        out += decimalSeparator();
        for (int place = -1; place >= -decimals; --place)
            out += digitAt(d, place);
    }
    return out;
}

QByteArray formatGeneral(double v)
{
    if (!std::isfinite(v))
        return nonFinite(v);
    Decimal d = exact(v);
    roundTo(d, 15);
    if (d.digits.empty())
        return "0";
    QByteArray out;
    if (d.negative)
        out += '-';
    const char sep = decimalSeparator();
    if (d.exp >= 15 || d.exp < -5) {
        out += d.digits[0];
        if (d.digits.size() > 1) {
            out += sep;
            out += QByteArray::fromStdString(d.digits.substr(1));
        }
        out += 'E';
        out += QByteArray::number(d.exp);
        return out;
    }
    for (int place = std::max(d.exp, 0); place >= 0; --place)
        out += digitAt(d, place);
    const int lowest = d.exp - int(d.digits.size()) + 1;   // place of the last digit
    if (lowest < 0) {
        out += sep;
        for (int place = -1; place >= lowest; --place)
            out += digitAt(d, place);
    }
    return out;
}

QByteArray formatPrintf(const QByteArray& fmt, double v)
{
    if (fmt == "%d")
        return formatInt(roundHalfEven(v));
    if (fmt.size() == 4 && fmt.startsWith("%.") && isDigit(fmt[2]) && fmt[3] == 'f')
        return formatFixed(v, fmt[2] - '0');
    return {};
}

bool parseFloat(const QByteArray& text, double* out)
{
    const QByteArray t = trimSpacesAndTabs(text);
    const char sep = decimalSeparator();
    std::string s;   // the same number in the C form from_chars reads
    qsizetype i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        if (t[i++] == '-')
            s += '-';
    int mantissaDigits = 0;
    bool seenSep = false;
    for (; i < t.size(); ++i) {
        if (isDigit(t[i])) {
            s += t[i];
            ++mantissaDigits;
        } else if (t[i] == sep && !seenSep) {
            s += '.';
            seenSep = true;
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        s += 'e';
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            s += t[i++];
        int expDigits = 0;
        for (; i < t.size() && isDigit(t[i]); ++i, ++expDigits)
            s += t[i];
        if (expDigits == 0)
            return false;
    }
    if (i != t.size())
        return false;
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size())
        return false;
    if (out)
        *out = v;
    return true;
}

bool parseInt(const QByteArray& text, long long* out)
{
    const QByteArray t = trimSpacesAndTabs(text);
    const qsizetype first = t.startsWith('+') || t.startsWith('-') ? 1 : 0;
    if (t.size() == first)
        return false;
    for (qsizetype i = first; i < t.size(); ++i)
        if (!isDigit(t[i]))
            return false;
    long long v = 0;
    const char* begin = t.constData() + (t[0] == '+' ? 1 : 0);   // from_chars takes no '+'
    const auto r = std::from_chars(begin, t.constData() + t.size(), v);
    if (r.ec != std::errc())
        return false;
    if (out)
        *out = v;
    return true;
}

long long roundHalfEven(double v)
{
    if (std::isnan(v))
        return 0;
    // Explicit, so the result does not hang on the FPU rounding mode.
    double r = std::floor(v);
    const double frac = v - r;   // exact
    if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0.0))
        r += 1.0;
    if (r >= 9223372036854775807.0)
        return LLONG_MAX;
    if (r <= -9223372036854775808.0)
        return LLONG_MIN;
    return static_cast<long long>(r);
}

} // namespace regional
