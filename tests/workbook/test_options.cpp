#include "errors.h"
#include "exedir.h"
#include "inifile.h"
#include "linksettings.h"
#include "wbtest.h"
#include <QFile>

class Options : public SepTest {};
INSTANTIATE_SEPARATORS(Options);

// Values read and the mode they form; values that form no mode give the
// mode Price Dot names (or the default mode) and a note naming the keys.
// Nothing is written: no file stays no file.
TEST_P(Options, ConfigVariants)
{
    const struct {
        const char* ini;   // '.' is the separator in force, '#' the other one; nullptr: no file
        const char* mode;   // as Bench::mode() gives it
        const char* note;   // after the line naming the file; empty: none
    } cases[] = {
        {nullptr, "3/2/99999.99/8/%.2f", ""},
        {"[DEFAULT]\nPRICE DECIMAL = 1\nPrice Max=999999.9\nPrice Dot=9\nprice length=8\n", "9/1/999999.9/8/%.1f", ""},
        {"[default]\r\nPrice Dot=0\r\nPrice Max=9999999\r\nprice length=7\r\nprice decimal=0\r\n", "0/0/9999999/7/%d", ""},
        {"[default]\r\nPrice Dot=267\r\n", "11/2/99999.99/8/%.2f", ""},         // low 8 bits
        {"[default]\r\nPrice Dot=3.5\r\nprice length=x\r\nprice decimal=\r\n", "3/2/99999.99/8/%.2f", ""},
        {"[default]\r\nprice length=99999999999\r\n", "3/2/99999.99/8/%.2f", ""},   // beyond 32 bits
        {"[default]\r\nPrice Max=1e999\r\n", "3/2/99999.99/8/%.2f", ""},
        {"[other]\r\nprice decimal=0\r\n", "3/2/99999.99/8/%.2f", ""},
        {"[default]\r\nprice decimal=3\r\n", "3/2/99999.99/8/%.2f",
         "Price Dot=3 needs:\n  price decimal=2 (the file has 3)"},
        {"[default]\r\nprice decimal=5\r\n", "3/2/99999.99/8/%.2f",
         "Price Dot=3 needs:\n  price decimal=2 (the file has 5)"},
        {"[default]\r\nPrice Max=12345.5\r\n", "3/2/99999.99/8/%.2f",
         "Price Dot=3 needs:\n  Price Max=99999.99 (the file has 12345.5)"},
        {"[default]\r\nPrice Max=12345#5\r\n", "3/2/99999.99/8/%.2f", ""},
        {"[default]\r\nPrice Dot=0\r\nprice decimal=3\r\n", "0/0/9999999/7/%d",
         "Price Dot=0 needs:\n  Price Max=9999999 (not in the file)\n  price length=7 (not in the file)\n"
         "  price decimal=0 (the file has 3)"},
        {"[default]\r\nPrice Dot=255\r\nprice decimal=9\r\n", "3/2/99999.99/8/%.2f",
         "Price Dot=255 is no price mode; the default mode needs:\n  Price Dot=3 (the file has 255)\n"
         "  price decimal=2 (the file has 9)"},
        {"[default]\r\nPrice Dot=-1\r\n", "3/2/99999.99/8/%.2f",
         "Price Dot=-1 is no price mode; the default mode needs:\n  Price Dot=3 (the file has -1)"},
        {"[default]\r\nPrice Dot=9\r\nPrice Max=abc\r\nprice length=8\r\nprice decimal=1\r\n", "9/1/999999.9/8/%.1f",
         "Price Dot=9 needs:\n  Price Max=999999.9 (the file has \"abc\", which is no number)"},
        {"[default]\r\nPrice Dot=15\r\nPrice Max=9999.999\r\nprice length=9\r\nprice decimal=3\r\n", "15/3/9999.999/8/%.3f",
         "Price Dot=15 needs:\n  price length=8 (the file has 9)"},
    };
    const auto local = [this](const char* text) { return n(text).replace('#', otherSep()); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini ? c.ini : "no file");
        Bench b(c.ini ? local(c.ini) : QByteArray());
        EXPECT_EQ(b.wb.ConfigFileName, b.home.file("config.ini"));
        EXPECT_EQ(b.opts.PriceMaxText, n("99999.99"));
        EXPECT_EQ(b.mode(), c.mode);
        const QString expected = *c.note
            ? "The price settings in \"" + b.home.file("config.ini") + "\" do not form one price mode.\n"
                  + QString::fromLatin1(local(c.note))
                  + "\nPrices are handled in that mode; the file stays as it is until a price decimal mode is chosen."
            : QString();
        EXPECT_EQ(b.opts.ModeProblem, expected);
        EXPECT_EQ(QFile::exists(b.home.file("config.ini")), c.ini != nullptr);
        if (c.ini) {
            EXPECT_EQ(b.home.read("config.ini"), local(c.ini)) << "read only";
        }
    }
}

// Choosing a mode writes a whole one, with the regional separator, over the
// keys that were there: the next start reads it without a note.
TEST_P(Options, ChoosingAModeEndsTheContradiction)
{
    Bench b("[default]\r\nPrice Dot=0\r\nprice decimal=3\r\n");
    EXPECT_FALSE(b.opts.ModeProblem.isEmpty());
    b.wb.PriceDecimalCommand(5);
    EXPECT_EQ(b.home.read("config.ini"),
              "[default]\r\nPrice Dot=7\r\nprice decimal=3\r\nPrice Max=" + n("9999.999") + "\r\nprice length=8\r\n");
    Bench again(b.home.read("config.ini"));
    EXPECT_TRUE(again.opts.ModeProblem.isEmpty()) << again.opts.ModeProblem.toStdString();
    EXPECT_EQ(again.mode(), "7/3/9999.999/8/%.3f");

    again.opts.WriteOptions({});   // no file given: nothing
    again.opts.ReadOptions(nullptr);
    EXPECT_EQ(again.opts.PriceDot, 7);
}

// Values that are not understood give the default and a note each.
TEST(LinkSettingsFile, DefaultsAndValues)
{
    const auto port = [](const char* v) {
        return "%1 [COMM] Port=" + QString(v) + " is not understood (a port number such as 2 or COM2 is expected); COM2 is used.";
    };
    const auto baud = [](const char* v) {
        return "%1 [COMM] BaudRate=" + QString(v) + " is not understood (2400 or 9600 is expected); 9600bps is used.";
    };
    const struct {
        const char* cfg;   // nullptr: no file
        int port, baud;
        QStringList notes;   // "%1" is the file's path
    } cases[] = {
        {nullptr, 2, 9600, {}},
        {"[COMM]\r\nPort=7\r\nBaudRate=2400\r\n", 7, 2400, {}},   // no range check
        {"[COMM]\r\nPort=COM1\r\nBaudRate=2400bps\r\n", 1, 2400, {}},
        {"[COMM]\r\nPort= com12 \r\nBaudRate=\"9600 BPS\"\r\n", 12, 9600, {}},
        {"[comm]\r\nport=x\r\nbaudrate=96OO\r\n", 2, 9600, {port("x"), baud("96OO")}},
        {"[COMM]\r\nPort=\r\n", 2, 9600, {port("")}},
        {"[COMM]\r\nPort=COM\r\nBaudRate=0\r\n", 2, 9600, {port("COM"), baud("0")}},
        {"[COMM]\r\nPort=COM2x\r\n", 2, 9600, {port("COM2x")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cfg ? c.cfg : "no file");
        ScopedHome home;
        if (c.cfg)
            home.write("KYR.CFG", c.cfg);
        LinkSettings s;
        s.Load();
        EXPECT_EQ(s.PortNumber, c.port);
        EXPECT_EQ(s.BaudRateValue, c.baud);
        EXPECT_EQ(s.PortCaption(), "COM" + QString::number(c.port));
        EXPECT_EQ(s.BaudCaption(), QString::number(c.baud) + "bps");
        EXPECT_EQ(s.Problems.join('\n'), QString(c.notes.join('\n')).replace("%1", home.file("KYR.CFG")));
        EXPECT_EQ(QFile::exists(home.file("KYR.CFG")), c.cfg != nullptr);
        if (c.cfg) {
            EXPECT_EQ(home.read("KYR.CFG"), c.cfg) << "read only";
        }
    }
}

// A choice writes only its key; when the write fails the choice still holds.
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

    ASSERT_TRUE(QFile::remove(home.file("KYR.CFG")) && QDir(home.path()).mkdir("KYR.CFG"));
    EXPECT_THROW(again.ChoosePort(4), EIniError);
    EXPECT_EQ(again.PortNumber, 4);
    EXPECT_THROW(again.ChooseBaudRate(9600), EIniError);
    EXPECT_EQ(again.BaudRateValue, 9600);
}

// [Devices] names the device behind COMn, read when asked; the demo's
// device comes first; anything else is left for the port to map.
TEST(LinkSettingsFile, DeviceBehindAPort)
{
    ScopedHome home;
    EXPECT_EQ(LinkSettings::devicePath("COM2"), "COM2");
    home.write("KYR.CFG", "[COMM]\r\nPort=2\r\n[devices]\r\ncom2 = /dev/ttyUSB1\r\n");
    EXPECT_EQ(LinkSettings::devicePath("COM2"), "/dev/ttyUSB1");
    EXPECT_EQ(LinkSettings::devicePath("com2"), "/dev/ttyUSB1");
    EXPECT_EQ(LinkSettings::devicePath("COM3"), "COM3");
    EXPECT_EQ(LinkSettings::devicePath("/dev/pts/7"), "/dev/pts/7");
    // A relative device path is taken from the program directory, not from
    // wherever the program was started.
    home.write("KYR.CFG", "[Devices]\r\nCOM2=dev/scale\r\nCOM3=../scale\r\n");
    EXPECT_EQ(LinkSettings::devicePath("COM2"), home.file("dev/scale"));
    EXPECT_EQ(LinkSettings::devicePath("COM3"), home.file("../scale"));
    LinkSettings::setDemoDevice("com3", "/dev/pts/9");
    EXPECT_EQ(LinkSettings::devicePath("COM3"), "/dev/pts/9");
    LinkSettings::setDemoDevice("COM3", {});
    EXPECT_EQ(LinkSettings::devicePath("COM3"), home.file("../scale"));
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

    SetExeDir(home.path() + "missing/");
    try {
        CreateRecordFile();
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_TRUE(e.Message.contains(home.path() + "missing/Record.txt"));
        EXPECT_FALSE(e.Detail.isEmpty());
    }
}
