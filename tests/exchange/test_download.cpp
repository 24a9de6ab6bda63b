#include "commandfixture.h"
#include "protocol.h"

namespace {

class Download : public CommandTest {
protected:
    Download() { SetScale("A2", "00 00 01 E2 40 00 00 30 39 04 D2"); }   // unit price 0x3039
    QByteArray Plu(int i) { return Bus.MemBlock(0xF9, kyr::pluAddress(i), 4); }
};

TEST_F(Download, SendsTheFixedRequestSequence)
{
    Wb.Table.setCell(colPrice, 1, "12.34");
    Wb.Table.setCell(colPrice, 77, "99999.99");

    const CommandOutcome out = Commands.DownloadItemClick();

    QStringList expected{"S 44 00 0000 0", "S 11 00 0000 0", "R 55 83 0003 1", "S 77 83 0003 1 [A3]",
                         "R 55 F4 0000 11"};
    for (int i = 1; i <= 77; ++i) {
        const char* data = i == 1 ? "00 00 04 D2" : i == 77 ? "00 98 96 7F" : "00 00 00 00";
        expected << QString::asprintf("S 77 F9 %04X 4 [%s]", 0xC0 + 4 * i, data);
    }
    expected << "S 77 F9 0000 4 [00 00 30 39]" << "S 33 00 0000 0";
    EXPECT_EQ(RequestLines(), expected);

    EXPECT_EQ(Plu(1), Hex("00 00 04 D2"));
    EXPECT_EQ(Plu(77), Hex("00 98 96 7F"));
    EXPECT_EQ(Bus.MemBlock(0xF9, 0, 4), Hex("00 00 30 39"));
    EXPECT_EQ(Bus.Mem(0x83, 3), 0xA3);

    EXPECT_EQ(Ended(out), "Succeeded|Download PLU OK!|");
    EXPECT_EQ(Shown(Dialogs), "Information|Ok|Varlo Manager|Download PLU OK!");

    QStringList calls{"Show", "Status:Connect...", "Total:77", "Status:Download PLU..."};
    for (int i = 1; i <= 77; ++i)
        calls << QStringLiteral("Current:%1").arg(i);
    calls << "Status:Disconnect..." << "Close";
    EXPECT_EQ(Progress.Calls, calls);
    EXPECT_FALSE(Progress.Visible);
}

TEST_F(Download, PriceTextsBecomeCounts)
{
    struct { char sep; int decimals; const char* text; const char* bytes; } const cases[] = {
        {'.', 2, "12.34", "00 04 D2"},
        {'.', 0, "5", "00 00 05"},
        {'.', 1, "0.25", "00 00 02"},   // 2.5 -> 2
        {'.', 1, "0.75", "00 00 08"},   // 7.5 -> 8
        {'.', 2, "0.125", "00 00 0C"},
        {'.', 0, "2.5", "00 00 02"},
        {'.', 0, "3.5", "00 00 04"},
        {'.', 3, "9999.999", "98 96 7F"},
        {'.', 3, "16777.215", "FF FF FF"},
        {'.', 2, "200000", "13 12 D0"},   // 20000000 keeps its leading six digits
        {'.', 2, "", "00 00 00"},
        {'.', 2, "abc", "00 00 00"},
        {'.', 2, " 1.5 ", "00 00 96"},
        {'.', 2, "1e30", "00 00 00"},
        {',', 2, "12,34", "00 04 D2"},
        {',', 2, "12.34", "00 00 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::asprintf("'%s' with %d decimals, separator %c", c.text, c.decimals, c.sep).toStdString());
        regional::setDecimalSeparator(c.sep);
        Options.PriceDecimal = c.decimals;
        Options.PriceMax = 1e31;   // the counts, not the range check, are under test
        Wb.Table.setCell(colPrice, 5, c.text);
        Bus.SetMem(0xF9, 0xD4, Hex("EE EE EE EE"));
        ASSERT_EQ(Commands.DownloadItemClick().kind, CommandOutcome::Succeeded);
        EXPECT_EQ(Plu(5), Hex("00") + Hex(c.bytes));
    }
}

// A price outside 0 .. the maximum stops the download before its first
// frame; the message names the first such key and the range.
TEST_F(Download, OutOfRangePriceIsRefusedBeforeTheFirstFrame)
{
    struct {
        int mode;   // price decimal command
        int row;
        const char* text;
        const char* message;
    } const cases[] = {
        {3, 1, "100000", "the price of M1 is 100000.\nRanging between 0 and 99999.99"},
        {3, 8, "-0.01", "the price of U1 is -0.01.\nRanging between 0 and 99999.99"},
        {3, 77, " 99999.991 ", "the price of U70 is 99999.991.\nRanging between 0 and 99999.99"},
        {0, 7, "10000000", "the price of M7 is 10000000.\nRanging between 0 and 9999999"},
        {5, 20, "10000", "the price of U13 is 10000.\nRanging between 0 and 9999.999"},
        {1, 3, "1e300", "the price of M3 is 1e300.\nRanging between 0 and 999999.9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Bus.Requests.clear();
        Dialogs.Boxes.clear();
        Progress.Calls.clear();
        Wb.PriceDecimalCommand(c.mode);
        Wb.Table.setCell(colPrice, 2, "abc");   // no number: sent as 0, not refused
        Wb.Table.setCell(colPrice, c.row, c.text);
        if (c.row < 50)
            Wb.Table.setCell(colPrice, 50, "-1");   // only the first is named
        const std::string text = "Download PLU not started: " + std::string(c.message)
                                 + "\nNothing was sent to the scale; correct the price and download again.";
        EXPECT_EQ(Ended(Commands.DownloadItemClick()), "Refused|" + text + "|");
        EXPECT_TRUE(Bus.Requests.isEmpty());
        EXPECT_TRUE(Progress.Calls.isEmpty()) << Progress.Calls.join(',').toStdString();
        EXPECT_EQ(Shown(Dialogs), "Error|Ok|Varlo Manager|" + text);
        Wb.Table.setCell(colPrice, c.row, "0");
        Wb.Table.setCell(colPrice, 50, "0");
    }
    // At the limits the download runs.
    Wb.PriceDecimalCommand(3);
    Wb.Table.setCell(colPrice, 1, "99999.99");
    Wb.Table.setCell(colPrice, 2, "0");
    EXPECT_EQ(Commands.DownloadItemClick().kind, CommandOutcome::Succeeded);
}

TEST_F(Download, PriceModeByteKeepsTheScalesHighNibble)
{
    struct { const char* read; uint8_t priceDot; const char* written; } const cases[] = {
        {"A2", 11, "AB"}, {"FF", 0, "F0"}, {"00", 15, "0F"}, {"5B", 3, "53"},
        {"A2", 0x1B, "AB"}, {"50", 0xF3, "53"},   // a hand-edited "Price Dot" above 15 keeps off the scale's nibble
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.read);
        Bus.Requests.clear();
        Bus.SetMem(0x83, 3, Hex(c.read));
        Options.PriceDot = c.priceDot;
        ASSERT_EQ(Commands.DownloadItemClick().kind, CommandOutcome::Succeeded);
        EXPECT_EQ(Bus.Requests[3].data, Hex(c.written));
        EXPECT_EQ(Bus.MemBlock(0x83, 3, 1), Hex(c.written));
    }
}

TEST_F(Download, UnitFlagFollowsUnitIndex)
{
    const int indexes[] = {0, 1, -1, 2};
    const uint8_t flags[] = {0, 0, 1, 1};
    for (int k = 0; k < 4; ++k)
        Wb.Table.PluRecords[k + 1].UnitIndex = indexes[k];
    ASSERT_EQ(Commands.DownloadItemClick().kind, CommandOutcome::Succeeded);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(uint8_t(Plu(k + 1)[0]), flags[k]) << "UnitIndex " << indexes[k];
        EXPECT_EQ(ScaleCommands::UnitFlagFor(indexes[k]), flags[k]);
    }
}

TEST_F(Download, FailureAtTheFourthPluWrite)
{
    Wb.Table.setCell(colPrice, 1, "1.00");
    Wb.Table.setCell(colPrice, 4, "4.00");
    Bus.SetMem(0xF9, 0, Hex("11 22 33 44"));
    Bus.FailAt = 5 + 4;

    EXPECT_EQ(Ended(Commands.DownloadItemClick()), "Failed|Download PLU...Error!|no reply at PLU M4");
    EXPECT_EQ(Bus.Requests.size(), 9);                  // nothing sent afterwards
    EXPECT_EQ(Plu(1), Hex("00 00 00 64"));
    EXPECT_EQ(Plu(4), Hex("00 00 00 00"));
    EXPECT_EQ(Bus.MemBlock(0xF9, 0, 4), Hex("11 22 33 44"));   // saved price not written back
    EXPECT_EQ(Progress.Current, 4);
    EXPECT_TRUE(Dialogs.Boxes.isEmpty());
}

// A language file's texts are used at the moment they are shown.
TEST_F(Download, UsesTheCurrentMessageTexts)
{
    MessageTexts.set(mtDownloadPLUOK, "Fertig");
    MessageTexts.set(mtConnect, "Verbinden");
    ASSERT_EQ(Commands.DownloadItemClick().text, "Fertig");
    EXPECT_EQ(Progress.Calls[1], "Status:Verbinden");
    EXPECT_EQ(Dialogs.Boxes.value(0).text, "Fertig");
}

} // namespace
