#include "errors.h"
#include "exedir.h"
#include "inifile.h"
#include "linksettings.h"
#include "wbtest.h"
#include <QFile>

class Options : public SepTest {};
INSTANTIATE_SEPARATORS(Options);

TEST_P(Options, NoConfigFileGivesTheDefaultsAndCreatesNothing)
{
    Bench b;
    EXPECT_EQ(b.wb.ConfigFileName, b.home.file("config.ini"));
    EXPECT_EQ(b.opts.PriceMaxText, n("99999.99"));
    EXPECT_EQ(b.wb.PriceFormat, "%.2f");
    EXPECT_DOUBLE_EQ(b.opts.PriceMax, 99999.99);
    EXPECT_EQ(b.opts.PriceLength, 8);
    EXPECT_EQ(b.opts.PriceDecimal, 2);
    EXPECT_EQ(b.opts.PriceDot, 3);
    EXPECT_FALSE(QFile::exists(b.home.file("config.ini")));
}

TEST_P(Options, ConfigVariants)
{
    struct Case {
        const char* ini;   // '.' is the separator in force
        const char* format;
        double max;
        int length, decimal, dot;
    } cases[] = {
        {"[default]\r\nprice decimal=3\r\n", "%.3f", 99999.99, 8, 3, 3},
        {"[DEFAULT]\nPRICE DECIMAL = 1\nPrice Max=999999.9\nPrice Dot=9\nprice length=8\n", "%.1f", 999999.9, 8, 1, 9},
        {"[default]\r\nPrice Dot=267\r\n", "%.2f", 99999.99, 8, 2, 11},         // low 8 bits
        {"[default]\r\nPrice Dot=-1\r\n", "%.2f", 99999.99, 8, 2, 255},
        {"[default]\r\nPrice Dot=3.5\r\nprice length=x\r\nprice decimal=\r\n", "%.2f", 99999.99, 8, 2, 3},
        {"[default]\r\nprice length=99999999999\r\n", "%.2f", 99999.99, 8, 2, 3},   // beyond 32 bits
        {"[default]\r\nPrice Max=1e999\r\n", "%.2f", 99999.99, 8, 2, 3},
        {"[default]\r\nPrice Max=12345.5\r\n", "%.2f", 12345.5, 8, 2, 3},
        {"[default]\r\nprice decimal=5\r\n", "", 99999.99, 8, 5, 3},
        {"[other]\r\nprice decimal=0\r\n", "%.2f", 99999.99, 8, 2, 3},
    };
    for (const Case& c : cases) {
        Bench b(n(c.ini));
        EXPECT_EQ(b.wb.PriceFormat, c.format) << c.ini;
        EXPECT_DOUBLE_EQ(b.opts.PriceMax, c.max) << c.ini;
        EXPECT_EQ(b.opts.PriceLength, c.length) << c.ini;
        EXPECT_EQ(b.opts.PriceDecimal, c.decimal) << c.ini;
        EXPECT_EQ(b.opts.PriceDot, c.dot) << c.ini;
    }
}

TEST_P(Options, PriceMaxUnderAnotherSeparatorIsTheDefault)
{
    QByteArray ini = "[default]\r\nPrice Max=12345.5\r\n";
    ini.replace('.', otherSep());
    Bench b(ini);
    EXPECT_DOUBLE_EQ(b.opts.PriceMax, 99999.99);
}

TEST_P(Options, WrittenWithTheRegionalSeparator)
{
    ScopedHome home;
    TIniOptions o;
    o.PriceDot = 15;
    o.PriceMax = 9999.999;
    o.PriceLength = 8;
    o.PriceDecimal = 3;
    o.SaveOptions(home.file("c.ini"));
    EXPECT_EQ(home.read("c.ini"),
              "[default]\r\nPrice Dot=15\r\nPrice Max=" + n("9999.999") + "\r\nprice length=8\r\nprice decimal=3\r\n");
    TIniOptions back;
    back.LoadOptions(home.file("c.ini"));
    EXPECT_EQ(back.PriceDot, 15);
    EXPECT_DOUBLE_EQ(back.PriceMax, 9999.999);
    EXPECT_EQ(back.PriceDecimal, 3);

    o.WriteOptions({});   // no file given: nothing
    o.ReadOptions(nullptr);
    EXPECT_EQ(o.PriceDot, 15);
}

TEST(LinkSettingsFile, DefaultsAndValues)
{
    struct Case {
        const char* cfg;   // nullptr: no file
        int port, baud;
        const char* portCaption;
    } cases[] = {
        {nullptr, 2, 9600, "COM2"},
        {"[COMM]\r\nPort=7\r\nBaudRate=2400\r\n", 7, 2400, "COM7"},   // no range check
        {"[comm]\r\nport=x\r\nbaudrate=96OO\r\n", 2, 9600, "COM2"},
        {"[COMM]\r\nPort=\r\n", 2, 9600, "COM2"},
    };
    for (const Case& c : cases) {
        ScopedHome home;
        if (c.cfg)
            home.write("KYR.CFG", c.cfg);
        LinkSettings s;
        s.Load();
        EXPECT_EQ(s.PortNumber, c.port);
        EXPECT_EQ(s.BaudRateValue, c.baud);
        EXPECT_EQ(s.PortCaption(), c.portCaption);
        EXPECT_EQ(s.BaudCaption(), QString::number(c.baud) + "bps");
        EXPECT_EQ(QFile::exists(home.file("KYR.CFG")), c.cfg != nullptr);
    }
}

TEST(LinkSettingsFile, AChoiceWritesOnlyItsKey)
{
    ScopedHome home;
    LinkSettings s;
    s.Load();
    s.ChoosePort(3);
    EXPECT_EQ(home.read("KYR.CFG"), "[COMM]\r\nPort=3\r\n");
    s.ChooseBaudRate(2400);
    EXPECT_EQ(home.read("KYR.CFG"), "[COMM]\r\nPort=3\r\nBaudRate=2400\r\n");

    LinkSettings again;
    again.Load();
    EXPECT_EQ(again.PortNumber, 3);
    EXPECT_EQ(again.BaudRateValue, 2400);
}

TEST(LinkSettingsFile, FailedWriteKeepsTheNewValue)
{
    ScopedHome home;
    QDir(home.path()).mkdir("KYR.CFG");
    LinkSettings s;
    EXPECT_THROW(s.ChoosePort(4), EIniError);
    EXPECT_EQ(s.PortNumber, 4);
    EXPECT_THROW(s.ChooseBaudRate(2400), EIniError);
    EXPECT_EQ(s.BaudRateValue, 2400);
}

TEST(RecordFile, CreatedOnceWithItsHeader)
{
    ScopedHome home;
    EXPECT_EQ(RecordFileName(), home.file("Record.txt"));
    CreateRecordFile();
    EXPECT_EQ(home.read("Record.txt"), QByteArray::fromHex("D6D8C1BF09B5A5D6D809CAFDC1BF0D0A"));

    home.write("Record.txt", "kept\r\n");
    CreateRecordFile();
    EXPECT_EQ(home.read("Record.txt"), "kept\r\n");
}

TEST(RecordFile, FailureIsAnInOutError)
{
    ScopedHome home;
    SetExeDir(home.path() + "missing/");
    try {
        CreateRecordFile();
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_TRUE(e.Message.contains(home.path() + "missing/Record.txt"));
        EXPECT_FALSE(e.Detail.isEmpty());
    }
}
