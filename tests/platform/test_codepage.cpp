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

TEST_F(CodePage, DecodesAndEncodesBack)
{
    const struct { const char* codePage; QByteArray bytes; const char* utf8; const char* measured; int length; } cases[] = {
        {"GBK", "\xD6\xD8\xC1\xBF", "\xE9\x87\x8D\xE9\x87\x8F", "\xE9\x87\x8D\xE9\x87\x8F" "A", 5},   // 重量
        {"CP1252", "\x80 \xE9", "\xE2\x82\xAC \xC3\xA9", "\xE2\x82\xAC\xC3\xA9", 2},                 // € é
    };
    for (const auto& c : cases) {
        cp::setName(c.codePage);
        EXPECT_EQ(cp::decode(c.bytes), QString::fromUtf8(c.utf8)) << c.codePage;
        EXPECT_EQ(cp::encode(QString::fromUtf8(c.utf8)), c.bytes) << c.codePage;
        EXPECT_EQ(cp::byteLength(QString::fromUtf8(c.measured)), c.length) << c.codePage;
    }
}

TEST_F(CodePage, EnvironmentNamesTheCodePage)
{
    setenv("VARLO_CODEPAGE", "GBK", 1);
    EXPECT_EQ(cp::name(), "GBK");
    EXPECT_EQ(cp::decode("\xD6\xD8").size(), 1);
    cp::setName("CP1252");   // an explicit choice wins over the environment
    EXPECT_EQ(cp::name(), "CP1252");
}

TEST_F(CodePage, UnknownNameFallsBackToLatin1)
{
    cp::setName("no-such-code-page");
    EXPECT_EQ(cp::name(), "ISO-8859-1");
    setenv("VARLO_CODEPAGE", "also-unknown", 1);
    cp::useLocaleCodePage();
    EXPECT_EQ(cp::name(), "ISO-8859-1");
}

// A code page that does not spell ASCII as the same single bytes would put
// NUL bytes into PLU files ("k\0g\0") and find no INI section.
TEST_F(CodePage, CodePagesThatAreNot8BitTextAreRefused)
{
    for (const char* wide : {"UTF-16", "UTF-16LE", "UTF-32", "IBM037"}) {
        setenv("VARLO_CODEPAGE", wide, 1);
        EXPECT_EQ(cp::name(), "ISO-8859-1") << wide;
        EXPECT_EQ(cp::encode("kg\t0.00\r\n"), QByteArray("kg\t0.00\r\n")) << wide;
        EXPECT_EQ(cp::refusedName(), QByteArray(wide));
    }
    setenv("VARLO_CODEPAGE", "no-such-code-page", 1);
    EXPECT_EQ(cp::refusedName(), "no-such-code-page");
    for (const char* fine : {"GBK", "CP1252", "UTF-8", "latin1", "ISO-8859-1", "ASCII"}) {
        setenv("VARLO_CODEPAGE", fine, 1);
        EXPECT_EQ(cp::refusedName(), "") << fine;
    }
    setenv("VARLO_CODEPAGE", "GBK", 1);
    EXPECT_EQ(cp::name(), "GBK");
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
