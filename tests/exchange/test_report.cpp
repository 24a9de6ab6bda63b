#include "commandfixture.h"
#include "errors.h"
#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

class Report : public CommandTest {
protected:
    Report()
    {
        SetScale("03", "00 00 12 D6 87 00 00 00 96 04 D2");   // T = 1234567, U = 150, W = 1234
        Bus.SetMem(0xF0, 0, Hex("00"));
    }
    QByteArray File(const QDate& d) const { return Home.read(d.toString("yyyyMMdd") + ".TXT"); }
};

TEST_F(Report, AddsARowAndAppendsTheLine)
{
    const CommandOutcome out = Commands.ReportItemClick();

    EXPECT_EQ(RequestLines(), (QStringList{"S 44 00 0000 0", "S 11 00 0000 0", "R 55 83 0003 1",
                                           "R 55 F4 0000 11", "R 55 F0 0000 1", "S 33 00 0000 0"}));
    EXPECT_EQ(Progress.Calls, (QStringList{"Show", "Status:Connect...", "Status:Sale report...",
                                           "Status:Disconnect...", "Close"}));
    EXPECT_EQ(Commands.ReportGrid.RowCount(), 3);
    EXPECT_EQ(Commands.ReportGrid.Row(1), (QStringList{"1.50", "1.234kg", "12345.67"}));
    EXPECT_TRUE(Commands.ReportGrid.Row(2).isEmpty());
    EXPECT_EQ(File(Date), "1.50\t1.234kg\t12345.67\r\n");
    EXPECT_EQ(Commands.ReportFileName(Date), Home.path() + "20240309.TXT");
    EXPECT_EQ(Ended(out), "Succeeded||");
    EXPECT_EQ(out.line, "1.50\t1.234kg\t12345.67");
    EXPECT_TRUE(Dialogs.Boxes.isEmpty());
    EXPECT_TRUE(Home.read("config.ini").contains("Price Dot=3"));
}

TEST_F(Report, FiguresPriceModesAndUnits)
{
    struct {
        const char* name;
        const char* mode;
        const char* sale;
        const char* unit;
        const char *c1, *c2, *c3;   // the grid's columns
        bool saved = true;   // the scale's code went to config.ini
        char separator = '.';
    } const cases[] = {
        {"code 0 integers", "00", "00 00 00 04 D2 00 00 00 96 04 D2", "00", "150", "1.234kg", "1234"},
        {"code 9", "09", "00 00 00 04 D2 00 00 00 96 04 D2", "00", "15.0", "1.234kg", "123.4"},
        {"code 7", "F7", "00 00 12 D6 87 00 00 00 96 04 D2", "00", "0.150", "1.234kg", "1234.567"},
        {"grams", "03", "00 00 00 04 D2 00 00 00 96 04 D2", "03", "1.50", "1234g", "12.34"},
        {"grams, high bits ignored", "03", "00 00 00 04 D2 00 00 00 96 04 D2", "FB", "1.50", "1234g", "12.34"},
        {"no unit", "03", "00 00 00 04 D2 00 00 00 96 04 D2", "05", "1.50", "1.234", "12.34"},
        {"largest figures", "03", "FF FF FF FF FF FF FF FF FF FF FF", "00", "42949672.95", "65.535kg",
         "10995116277.75"},
        {"largest total, 3 decimals", "07", "FF FF FF FF FF 00 00 00 00 00 00", "03", "0.000", "0g",
         "1099511627.775"},
        {"largest total, integers", "00", "FF FF FF FF FF 00 00 00 01 00 00", "00", "1", "0.000kg",
         "1099511627775"},
        {"code 5 keeps the mode", "05", "00 00 00 04 D2 00 00 00 96 04 D2", "00", "1.50", "1.234kg", "12.34", false},
        {"code 5 under other bits", "A5", "00 00 12 D6 87 00 00 00 96 04 D2", "00", "1.50", "1.234kg", "12345.67", false},
        {"comma", "03", "00 00 12 D6 87 00 00 00 96 04 D2", "00", "1,50", "1,234kg", "12345,67", true, ','},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        regional::setDecimalSeparator(c.separator);
        QFile::remove(Home.file("config.ini"));
        SetScale(c.mode, c.sale);
        Bus.SetMem(0xF0, 0, Hex(c.unit));
        const int row = Commands.ReportGrid.RowCount() - 1;
        const qsizetype written = File(Date).size();
        const CommandOutcome out = Commands.ReportItemClick();
        ASSERT_EQ(out.kind, CommandOutcome::Succeeded);
        const QStringList line{c.c1, c.c2, c.c3};
        EXPECT_EQ(Commands.ReportGrid.Row(row), line);
        EXPECT_EQ(out.line, line.join('\t'));
        EXPECT_EQ(File(Date).mid(written), line.join('\t').toUtf8() + "\r\n");
        EXPECT_EQ(QFileInfo::exists(Home.file("config.ini")), c.saved);
        EXPECT_EQ(Options.PriceDot, c.saved ? Hex(c.mode)[0] & 0x0F : 3);
        Options.PriceDot = 3;   // back to mode 2 for the next case
        Options.PriceDecimal = 2;
        Wb.PriceFormat = "%.2f";
    }
}

TEST_F(Report, LinesAppendPerDay)
{
    Home.write("20240309.TXT", "earlier\r\n");
    ASSERT_EQ(Commands.ReportItemClick().kind, CommandOutcome::Succeeded);
    Bus.SetMem(0xF4, 0, Hex("00 00 00 00 64 00 00 00 0A 00 01"));
    ASSERT_EQ(Commands.ReportItemClick().kind, CommandOutcome::Succeeded);
    EXPECT_EQ(File(Date), "earlier\r\n1.50\t1.234kg\t12345.67\r\n0.10\t0.001kg\t1.00\r\n");

    Date = Date.addDays(1);
    ASSERT_EQ(Commands.ReportItemClick().kind, CommandOutcome::Succeeded);
    EXPECT_EQ(File(Date), "0.10\t0.001kg\t1.00\r\n");
    EXPECT_EQ(File(QDate(2024, 3, 9)).count('\n'), 3);
    EXPECT_EQ(Commands.ReportGrid.RowCount(), 5);
    EXPECT_EQ(Commands.ReportGrid.Row(3), (QStringList{"0.10", "0.001kg", "1.00"}));
}

// A folder or a pipe in the file's place: the row is already in the grid,
// the error ends the command; a pipe is refused at once, never waited on.
TEST_F(Report, AFileThatCannotBeAppendedToEndsTheCommand)
{
    for (const bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "fifo" : "folder");
        Date = Date.addDays(1);
        const QByteArray file = QFile::encodeName(Commands.ReportFileName(Date));
        ASSERT_EQ(fifo ? ::mkfifo(file.constData(), 0600) : ::mkdir(file.constData(), 0700), 0);
        int changes = 0;
        Commands.ReportGrid.OnChanged = [&] { ++changes; };
        const int rows = Commands.ReportGrid.RowCount();
        try {
            Commands.ReportItemClick();
            ADD_FAILURE() << "no error";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.fullText(), "Cannot open file " + QFile::decodeName(file)
                                        + (fifo ? "\nnot a regular file" : "\nIs a directory"));
        }
        EXPECT_EQ(Commands.ReportGrid.RowCount(), rows + 1);
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(Progress.Calls.last(), "Close");
    }
}

} // namespace
