#include "codepage.h"
#include "qtprint.h"
#include <gtest/gtest.h>
#include <clocale>
#include <cstdlib>

namespace {

class CodePage : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("VARLO_CODEPAGE"); }
    void TearDown() override
    {
        cp::useLocaleCodePage();
        unsetenv("VARLO_CODEPAGE");
        std::setlocale(LC_ALL, "C");
    }
};

// GBK comes from the environment, CP1252 is chosen: the converters follow either.
TEST_F(CodePage, DecodesAndEncodesBack)
{
    const struct {
        const char* codePage; bool fromEnvironment; QByteArray bytes; const char *utf8, *measured; int length;
    } cases[] = {
        {"GBK", true, "\xD6\xD8\xC1\xBF", "\xE9\x87\x8D\xE9\x87\x8F", "\xE9\x87\x8D\xE9\x87\x8F" "A", 5},   // 重量
        {"CP1252", false, "\x80 \xE9", "\xE2\x82\xAC \xC3\xA9", "\xE2\x82\xAC\xC3\xA9", 2},                 // € é
    };
    for (const auto& c : cases) {
        if (c.fromEnvironment)
            setenv("VARLO_CODEPAGE", c.codePage, 1);
        else
            cp::setName(c.codePage);
        EXPECT_EQ(cp::decode(c.bytes), QString::fromUtf8(c.utf8)) << c.codePage;
        EXPECT_EQ(cp::encode(QString::fromUtf8(c.utf8)), c.bytes) << c.codePage;
        EXPECT_EQ(cp::byteLength(QString::fromUtf8(c.measured)), c.length) << c.codePage;
    }
}

// A choice wins over VARLO_CODEPAGE. A code page that is unknown, or does not
// spell ASCII as the same single bytes (it would put NUL bytes into PLU files,
// "k\0g\0", and find no INI section), gives Latin-1 and is named as refused.
TEST_F(CodePage, WhichCodePageIsInForce)
{
    const struct { const char* environment; const char* chosen; const char* name; const char* refused; } cases[] = {
        {"GBK", nullptr, "GBK", ""}, {"GBK", "CP1252", "CP1252", ""},
        {nullptr, "no-such-code-page", "ISO-8859-1", ""}, {"also-unknown", nullptr, "ISO-8859-1", "also-unknown"},
        {"UTF-16", nullptr, "ISO-8859-1", "UTF-16"}, {"UTF-16LE", nullptr, "ISO-8859-1", "UTF-16LE"},
        {"UTF-32", nullptr, "ISO-8859-1", "UTF-32"}, {"IBM037", nullptr, "ISO-8859-1", "IBM037"},
        {"CP1252", nullptr, "CP1252", ""}, {"UTF-8", nullptr, "UTF-8", ""}, {"latin1", nullptr, "latin1", ""},
        {"ISO-8859-1", nullptr, "ISO-8859-1", ""}, {"ASCII", nullptr, "ISO-8859-1", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.environment ? c.environment : "no VARLO_CODEPAGE") + ", " + (c.chosen ? c.chosen : ""));
        cp::useLocaleCodePage();
        if (c.environment)
            setenv("VARLO_CODEPAGE", c.environment, 1);
        else
            unsetenv("VARLO_CODEPAGE");
        if (c.chosen)
            cp::setName(c.chosen);
        EXPECT_EQ(cp::name(), c.name);
        EXPECT_EQ(cp::refusedName(), c.refused);
        EXPECT_EQ(cp::encode("kg\t0.00\r\n"), QByteArray("kg\t0.00\r\n"));
    }
}

TEST_F(CodePage, CLocaleIsLatin1AndKeepsEveryByte)
{
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(cp::name(), "ISO-8859-1");
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    EXPECT_EQ(cp::decode(all).size(), 256);
    EXPECT_EQ(cp::encode(cp::decode(all)), all);
}

TEST_F(CodePage, Utf8LocaleFollowsTheLocale)
{
    if (!std::setlocale(LC_ALL, "C.UTF-8"))
        GTEST_SKIP() << "no C.UTF-8 locale";
    EXPECT_EQ(cp::name().toUpper(), "UTF-8");
    const QByteArray text("Gr\xC3\xBC\xC3\x9F" "e \xE9\x87\x8D");
    EXPECT_EQ(cp::decode(text).size(), 7);
    EXPECT_EQ(cp::encode(cp::decode(text)), text);
    EXPECT_EQ(cp::byteLength(cp::decode(text)), text.size());
}

} // namespace
