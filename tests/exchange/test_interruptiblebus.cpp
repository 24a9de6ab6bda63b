// The command line's bus: nothing goes out once Ctrl-C is pending, and
// otherwise the commands see exactly what the engine gives them.
#include "commandfixture.h"
#include "interruptiblebus.h"

namespace {

class Interruptible : public CommandTest {
protected:
    Interruptible() : Guarded(Bus, [this] { return Pending(); }), Via(Guarded, Progress, Wb, Codec) {}
    std::function<bool()> Pending = [] { return false; };
    InterruptibleBus Guarded;
    ScaleCommands Via;
};

TEST_F(Interruptible, WithoutAnInterruptTheCommandsRunAsOnTheEngineItself)
{
    // Upload: read data come back through the shared buffer.
    Bus.SetMem(0x83, 3, Hex("5B"));
    Bus.SetMem(0xF9, 0xC4, Hex("00 00 04 D2"));
    Bus.SetMem(0xF9, 0xC8, Hex("01 00 00 05"));
    ASSERT_EQ(Via.UploadItemClick().kind, CommandOutcome::Succeeded);
    EXPECT_EQ(Wb.Table.cell(colPrice, 1), "12.34");
    EXPECT_EQ(Wb.Table.cell(colPrice, 2), "0.05");
    EXPECT_EQ(Options.PriceDot, 11);

    // Download: the data to write reaches the engine's buffer.
    Bus.Requests.clear();
    Wb.Table.setCell(colPrice, 5, "7.5");
    ASSERT_EQ(Via.DownloadItemClick().kind, CommandOutcome::Succeeded);
    EXPECT_EQ(Bus.MemBlock(0xF9, 0xC0 + 4 * 5, 4), Hex("00 00 02 EE"));
    EXPECT_EQ(Bus.MemBlock(0xF9, 0xC0 + 4 * 2, 4), Hex("01 00 00 05"));   // the unit survives

    // All-values readout: the whole-frame request goes through, its frame comes back.
    Bus.Requests.clear();
    QStringList memo;
    Via.AppendMemoLine = [&](const QString& line) { memo << line; };
    Bus.AllValuesFrame = QByteArray("\x02" "-01234 000150 000185\x03");
    ASSERT_EQ(Via.Salereport1Click().kind, CommandOutcome::Succeeded);
    ASSERT_EQ(Bus.Requests.size(), 1);
    EXPECT_TRUE(Bus.Requests[0].frameMode);
    EXPECT_EQ(memo, QStringList{"-1.234kg;1.50;1.85"});
}

TEST_F(Interruptible, APendingInterruptStopsTheNextRequestBeforeItIsSent)
{
    Pending = [this] { return Bus.Requests.size() >= 4; };   // Ctrl-C after the fourth reply
    const CommandOutcome out = Via.DownloadItemClick();
    EXPECT_NE(out.kind, CommandOutcome::Succeeded);
    EXPECT_EQ(Bus.Requests.size(), 4) << RequestLines().join('\n').toStdString();

    Bus.Requests.clear();
    Pending = [] { return true; };   // before the first request: nothing at all
    EXPECT_NE(Via.ReportItemClick().kind, CommandOutcome::Succeeded);
    EXPECT_TRUE(Bus.Requests.isEmpty());
}

} // namespace
