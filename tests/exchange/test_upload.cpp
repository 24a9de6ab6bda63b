#include "commandfixture.h"
#include "errors.h"
#include <QDir>
#include <QFileInfo>

namespace {

class Upload : public CommandTest {
protected:
    Upload() { SetScale("03", "00 00 00 00 00 12 34 56 78 00 00"); }
    void SetPlu(int i, const char* bytes) { Bus.SetMem(0xF9, uint16_t(0xC0 + 4 * i), Hex(bytes)); }
    QByteArray Price(int r) const { return Wb.Table.cell(colPrice, r); }
    // Row r as "price unit UnitIndex": "12.34 kg 1".
    std::string Row(int r) const
    {
        const QByteArray unitIndex = QByteArray::number(Wb.Table.PluRecords[r].UnitIndex);
        return (Price(r) + ' ' + Wb.Table.cell(colUnit, r) + ' ' + unitIndex).toStdString();
    }
};

TEST_F(Upload, ReadsTheTableAndTakesOverThePriceMode)
{
    Bus.SetMem(0x83, 3, Hex("5B"));   // code 11
    SetPlu(1, "00 00 04 D2");
    SetPlu(2, "01 00 00 05");
    SetPlu(77, "00 FF FF FF");
    Wb.Table.setCell(colName, 3, "Apple");
    Wb.CurrentFileName = "/somewhere/old.KYR";

    const CommandOutcome out = Commands.UploadItemClick();

    QStringList expected{"S 44 00 0000 0", "S 11 00 0000 0", "R 55 F4 0000 11", "R 55 83 0003 1"};
    for (int i = 1; i <= 77; ++i)
        expected << QString::asprintf("R 55 F9 %04X 4", 0xC0 + 4 * i);
    expected << "S 77 F9 0000 4 [12 34 56 78]" << "S 33 00 0000 0";
    EXPECT_EQ(RequestLines(), expected);
    EXPECT_EQ(Bus.Requests.last().address, 0);
    EXPECT_EQ(Bus.Requests[Bus.Requests.size() - 3].address, 0x1F4);   // PLU 77 read

    EXPECT_EQ(Row(1), "12.34 kg 1");
    EXPECT_EQ(Row(2), "0.05 g -1");
    EXPECT_EQ(Row(3), "0.00 kg 1");
    EXPECT_EQ(Price(77), "167772.15");
    for (int r = 1; r <= 77; ++r) {
        EXPECT_EQ(Wb.Table.storedPrice(r), Price(r)) << r;
        EXPECT_TRUE(Wb.Table.cell(colName, r).isEmpty()) << r;
    }

    EXPECT_EQ(Options.PriceDot, 11);
    EXPECT_EQ(Options.PriceDecimal, 2);
    EXPECT_EQ(Wb.PriceFormat, "%.2f");
    const QByteArray ini = Home.read("config.ini");
    EXPECT_TRUE(ini.contains("Price Dot=11")) << ini.constData();
    EXPECT_TRUE(ini.contains("price decimal=2")) << ini.constData();

    EXPECT_TRUE(Wb.Modified);
    EXPECT_TRUE(Wb.CurrentFileName.isEmpty());
    EXPECT_EQ(Ended(out), "Succeeded|Upload PLU OK!|");
    EXPECT_EQ(Shown(Dialogs), "Information|Ok|Varlo Manager|Upload PLU OK!");
    EXPECT_EQ(Progress.Calls.mid(0, 4),
              (QStringList{"Show", "Status:Connect...", "Total:77", "Status:Upload PLU..."}));
    EXPECT_EQ(Progress.Calls.mid(Progress.Calls.size() - 3),
              (QStringList{"Current:77", "Status:Disconnect...", "Close"}));
}

TEST_F(Upload, PriceModeCodes)
{
    struct {
        const char* modeByte;
        const char* record;
        int decimals;
        const char* format;
        bool saved;
        const char* price;
    } const cases[] = {
        {"03", "00 00 04 D2", 2, "%.2f", true, "12.34"},
        {"07", "00 FF FF FF", 3, "%.3f", true, "16777.215"},
        {"F7", "00 00 00 01", 3, "%.3f", true, "0.001"},
        {"00", "01 00 00 05", 0, "%d", true, "5"},
        {"09", "00 00 00 19", 1, "%.1f", true, "2.5"},
        {"5B", "00 00 04 D2", 2, "%.2f", true, "12.34"},
        {"02", "00 00 04 D2", 2, "%.2f", false, "12.34"},   // not a mode: previous settings
        {"05", "00 00 00 05", 2, "%.2f", false, "0.05"},
        {"FE", "00 00 00 05", 2, "%.2f", false, "0.05"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.modeByte);
        ScopedHome home;   // no config.ini yet
        Wb.Initialise();
        Bus.SetMem(0x83, 3, Hex(c.modeByte));
        SetPlu(1, c.record);
        ASSERT_EQ(Commands.UploadItemClick().kind, CommandOutcome::Succeeded);
        EXPECT_EQ(Options.PriceDecimal, c.decimals);
        EXPECT_EQ(Wb.PriceFormat, c.format);
        EXPECT_EQ(QFileInfo::exists(home.file("config.ini")), c.saved);
        EXPECT_EQ(Price(1), c.price);
        if (c.saved)
            EXPECT_EQ(Options.PriceDot, Hex(c.modeByte)[0] & 0x0F);
        else
            EXPECT_EQ(Options.PriceDot, 3);
    }
}

TEST_F(Upload, CommaSeparator)
{
    regional::setDecimalSeparator(',');
    Wb.Initialise();
    SetPlu(1, "00 00 04 D2");
    ASSERT_EQ(Commands.UploadItemClick().kind, CommandOutcome::Succeeded);
    EXPECT_EQ(Price(1), "12,34");
    EXPECT_EQ(Price(2), "0,00");
}

TEST_F(Upload, DeclinedSaveQuestionSendsNothing)
{
    Wb.Table.setCell(colPrice, 1, "9.99");
    Wb.Table.setCell(colName, 1, "Pear");
    Wb.Modified = true;
    Dialogs.Answers = {MsgResult::Cancel};

    const CommandOutcome out = Commands.UploadItemClick();

    EXPECT_EQ(out.kind, CommandOutcome::NotStarted);
    EXPECT_EQ(Dialogs.Boxes.size(), 1);   // the save question only
    EXPECT_TRUE(Bus.Requests.isEmpty());
    EXPECT_TRUE(Progress.Calls.isEmpty());
    EXPECT_EQ(Price(1), "9.99");
    EXPECT_EQ(Wb.Table.cell(colName, 1), "Pear");
    EXPECT_TRUE(Wb.Modified);
}

TEST_F(Upload, ReadFailureAtPluTenKeepsWhatCameIn)
{
    for (int i = 1; i <= 77; ++i)
        SetPlu(i, "01 00 00 64");
    Wb.Table.setCell(colName, 20, "Kept?");
    Bus.SetMem(0xF9, 0, Hex("AA BB CC DD"));
    Bus.FailAt = 4 + 10;

    EXPECT_EQ(Ended(Commands.UploadItemClick()), "Failed|Upload PLU...Error!|no reply at PLU U3");
    EXPECT_EQ(Bus.Requests.size(), 14);
    for (int r = 1; r <= 77; ++r)
        EXPECT_EQ(Row(r), r <= 9 ? "1.00 g -1" : "0.00 kg 0") << r;
    EXPECT_TRUE(Wb.Table.cell(colName, 20).isEmpty());
    EXPECT_TRUE(Wb.Modified);
    EXPECT_EQ(Bus.MemBlock(0xF9, 0, 4), Hex("AA BB CC DD"));
    EXPECT_EQ(Progress.Current, 10);
}

// The flag written for a unit and the unit read back agree both ways, so a
// download after an upload writes the scale's flags unchanged.
TEST_F(Upload, UnitFlagsSurviveARoundTrip)
{
    for (uint8_t flag : {0, 1, 2, 0x80})
        EXPECT_EQ(ScaleCommands::UnitFlagFor(ScaleCommands::UnitIndexForFlag(flag)), flag == 0 ? 0 : 1);

    Wb.Table.PluRecords[1].UnitIndex = 0;    // reset or file "kg"
    Wb.Table.PluRecords[2].UnitIndex = -1;   // file "lb"
    Wb.Table.PluRecords[3].UnitIndex = 1;    // uploaded kg
    ASSERT_EQ(Commands.DownloadItemClick().kind, CommandOutcome::Succeeded);
    const QByteArray first = Bus.MemBlock(0xF9, 0xC4, 12);

    ASSERT_EQ(Commands.UploadItemClick().kind, CommandOutcome::Succeeded);
    EXPECT_EQ(Row(1), "0.00 kg 1");
    EXPECT_EQ(Row(2), "0.00 g -1");
    EXPECT_EQ(Row(3), "0.00 kg 1");

    Bus.SetMem(0xF9, 0xC4, QByteArray(12, '\x55'));
    ASSERT_EQ(Commands.DownloadItemClick().kind, CommandOutcome::Succeeded);
    EXPECT_EQ(Bus.MemBlock(0xF9, 0xC4, 12), first);
    EXPECT_EQ(first[0], 0);
    EXPECT_EQ(first[4], 1);
    EXPECT_EQ(first[8], 0);
}

} // namespace
