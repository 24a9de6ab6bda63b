#include "qtprint.h"
#include "regional.h"
#include <QDir>
#include <gtest/gtest.h>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace regional;

namespace {

// Runs each case under '.' and ',': the expected text is written with '.'.
class Separators : public ::testing::TestWithParam<char> {
protected:
    void SetUp() override { setDecimalSeparator(GetParam()); }
    void TearDown() override { useLocaleSeparator(); }
    QByteArray local(QByteArray s) const { return s.replace('.', GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Regional, Separators, ::testing::Values('.', ','),
                         [](const auto& info) { return info.param == '.' ? "dot" : "comma"; });

TEST_P(Separators, FixedRoundsHalfAwayFromZeroOnTheExactValue)
{
    const struct { double v; int decimals; const char* text; } cases[] = {
        {0.125, 2, "0.13"}, {-0.125, 2, "-0.13"}, {0.25, 1, "0.3"}, {2.5, 0, "3"}, {-2.5, 0, "-3"},   // exact ties
        {0.5, 0, "1"}, {2.675, 2, "2.67"} /* 2.67499999... */, {1.005, 2, "1.00"}, {9.995, 2, "9.99"},
        {99.995, 2, "100.00"} /* 99.99500000000000454... */, {0.05, 1, "0.1"}, {0.15, 1, "0.1"}, {1.45, 1, "1.4"},
        {999.9995, 3, "1000.000"}, {1099511627775.0 / 100, 2, "10995116277.75"} /* (2^40-1)/100 */,
        {99999.99, 2, "99999.99"}, {0, 3, "0.000"}, {7, 0, "7"}, {1e20, 1, "100000000000000000000.0"},
        {5e-324, 2, "0.00"}, {-0.001, 2, "0.00"} /* no signed zero */, {-0.0, 1, "0.0"},
        {-0.005, 2, "-0.01"} /* -0.00500000000000000010... */, {123.456, 9, "123.456000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatFixed(c.v, c.decimals), local(c.text)) << c.v << " with " << c.decimals;
}

TEST_P(Separators, GeneralFormat)
{
    const struct { double v; const char* text; } cases[] = {
        {99999.99, "99999.99"}, {9999999, "9999999"}, {3, "3"}, {11, "11"}, {999999.9, "999999.9"},
        {9999.999, "9999.999"}, {0.1 + 0.2, "0.3"}, {1.0 / 3, "0.333333333333333"}, {2.0 / 3, "0.666666666666667"},
        {-1.5, "-1.5"}, {-0.0, "0"}, {0.00001, "0.00001"}, {0.000009, "9E-6"},
        {123456789012345.0, "123456789012345"}, {999999999999999.0, "999999999999999"},
        {9999999999999999.0, "1E16"}, {1e15, "1E15"}, {1234567890123456.0, "1.23456789012346E15"},
        {1.5e300, "1.5E300"}, {-2.5e-300, "-2.5E-300"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatGeneral(c.v), local(c.text)) << c.v;
}

TEST_P(Separators, PrintfSubset)
{
    const struct { const char* format; double v; const char* text; } cases[] = {
        {"%d", 2.5, "2"}, {"%d", 3.5, "4"}, {"%d", -2.5, "-2"}, {"%.0f", 2.5, "3"}, {"%.1f", 0.25, "0.3"},
        {"%.2f", 0.125, "0.13"}, {"%.3f", 1.0, "1.000"}, {"%.9f", 0.5, "0.500000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatPrintf(c.format, c.v), local(c.text)) << c.format;
    for (const char* fmt : {"", "%f", "%.2d", "%.10f", "x%d", "%d ", "%.2F", "%s", "%.af"})
        EXPECT_EQ(formatPrintf(fmt, 1.5), "") << fmt;
}

TEST_P(Separators, ParseFloat)
{
    const struct { const char* text; double v; } good[] = {
        {"1.5", 1.5}, {" 1.5\t", 1.5}, {"-2", -2}, {"+3", 3}, {"1e3", 1000}, {"1.5E-2", 0.015}, {".5", 0.5},
        {"5.", 5}, {"99999.99", 99999.99}, {"99999999999999999999", 1e20}, {"1e308", 1e308}, {"-0", 0},
    };
    for (const auto& c : good) {
        double v = -1;
        EXPECT_TRUE(parseFloat(local(c.text), &v)) << c.text;
        EXPECT_EQ(v, c.v) << c.text;
    }
    const char other = GetParam() == '.' ? ',' : '.';
    const QByteArray bad[] = {
        "", " ", "\t", "1.2.3", "abc", "1e", "1e+", "-", "+", "+-1", "1 2", "0x10", "inf", "nan", "1.5x",
        "1e400", ".", "e5", "1" + QByteArray(1, '\0'), "1.5e2.5", "- 1",
    };
    for (const QByteArray& t : bad) {
        double v = 42;
        EXPECT_FALSE(parseFloat(local(t), &v)) << t.constData();
        EXPECT_EQ(v, 42) << "output touched on failure: " << t.constData();
    }
    for (const QByteArray& t : {QByteArray("1") + other + "5", QByteArray(1, other) + "5"})
        EXPECT_FALSE(parseFloat(t, nullptr)) << t.constData();
}

TEST(Regional, ParseInt)
{
    const struct { const char* text; long long v; } good[] = {
        {"12", 12}, {" -7 ", -7}, {"+3", 3}, {"\t0\t", 0}, {"007", 7},
        {"-9223372036854775808", LLONG_MIN}, {"9223372036854775807", LLONG_MAX},
    };
    for (const auto& c : good) {
        long long v = -1;
        EXPECT_TRUE(parseInt(c.text, &v)) << c.text;
        EXPECT_EQ(v, c.v) << c.text;
    }
    for (const char* t : {"", " ", "1.5", "12abc", "9223372036854775808", "-", "+", "1 2", "+-1", "1e3", "--1"}) {
        long long v = 42;
        EXPECT_FALSE(parseInt(t, &v)) << t;
        EXPECT_EQ(v, 42) << t;
    }
}

TEST(Regional, RoundHalfEven)
{
    const struct { double v; long long r; } rounded[] = {
        {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.5, 0}, {-0.5, 0}, {1.5, 2}, {2.4999999, 2}, {2.5000001, 3},
        {-2.5000001, -3}, {7, 7}, {4503599627370497.0, 4503599627370497LL} /* 2^52 + 1 */,
        {1e300, LLONG_MAX}, {-1e300, LLONG_MIN}, {NAN, 0},
    };
    for (const auto& c : rounded)
        EXPECT_EQ(roundHalfEven(c.v), c.r) << c.v;
}

TEST(Regional, InjectedSeparatorWinsOverTheLocale)
{
    EXPECT_EQ(decimalSeparator(), '.');   // the test process runs in the C locale
    setDecimalSeparator(',');
    EXPECT_EQ(decimalSeparator(), ',');
    EXPECT_EQ(formatFixed(1.5, 1), "1,5");
    useLocaleSeparator();
    EXPECT_EQ(formatFixed(1.5, 1), "1.5");
}

// A locale made for the test, whose decimal separator is one character of
// two bytes in UTF-8 (U+066B, as in ps_AF). Empty when it cannot be made.
QByteArray makeLocaleWithWideSeparator(const QByteArray& dir)
{
    FILE* f = std::fopen((dir + "/src").constData(), "w");
    if (!f)
        return {};
    std::fputs("LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\n"
               "LC_NUMERIC\ndecimal_point \"<U066B>\"\nthousands_sep \"\"\ngrouping -1\nEND LC_NUMERIC\n", f);
    std::fclose(f);
    const QByteArray cmd = "localedef -c -i " + dir + "/src -f UTF-8 " + dir + "/xx_XX.UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.constData()) == -1)
        return {};
    ::setenv("LOCPATH", dir.constData(), 1);
    return std::setlocale(LC_NUMERIC, "xx_XX.UTF-8") ? QByteArray("xx_XX.UTF-8") : QByteArray();
}

TEST(Regional, SeparatorOfSeveralBytesGivesThePoint)
{
    const QByteArray before = std::setlocale(LC_NUMERIC, nullptr);
    char dirTemplate[] = "/tmp/varlo-locale-XXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    const QByteArray dir(dirTemplate);
    const bool made = !makeLocaleWithWideSeparator(dir).isEmpty();
    const QByteArray localePoint = std::localeconv()->decimal_point;
    useLocaleSeparator();
    const char sep = decimalSeparator();
    const QByteArray texts = formatFixed(12.5, 2) + ' ' + formatGeneral(99999.99);
    double back = 0;
    const bool parsed = parseFloat("12.5", &back);
    std::setlocale(LC_NUMERIC, before.constData());
    ::unsetenv("LOCPATH");
    useLocaleSeparator();
    QDir(QString::fromLocal8Bit(dir)).removeRecursively();
    if (!made)
        GTEST_SKIP() << "cannot make a test locale (localedef)";
    EXPECT_EQ(localePoint, "\xD9\xAB");
    EXPECT_EQ(sep, '.');
    EXPECT_EQ(texts, "12.50 99999.99");
    EXPECT_TRUE(parsed);
    EXPECT_EQ(back, 12.5);
}

TEST_P(Separators, FormatThenParseGivesTheSameNumber)
{
    for (double v : {99999.99, 0.1, 1.0 / 3, -1234.5678, 1e-7, 6.02e23}) {
        double back = 0;
        ASSERT_TRUE(parseFloat(formatGeneral(v), &back)) << formatGeneral(v).constData();
        EXPECT_NEAR(back, v, std::fabs(v) * 1e-14);
    }
}

} // namespace
