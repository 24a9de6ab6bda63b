// The scale commands through the real bus engine and serial port, over a
// pseudo-terminal, against the simulated scale.
#include "commandfixture.h"
#include "golden.h"
#include "linksettings.h"
#include "kyrbuscomm.h"
#include "scalesim.h"
#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using varlo::sim::ScaleSim;

QByteArray Bytes(const char* spaced) { return Hex(spaced); }
QByteArray Be24(uint32_t v) { return QByteArray{} + char(v >> 16) + char(v >> 8) + char(v); }
// The frame with its checksum appended (sum of all bytes 0 mod 256).
QByteArray Framed(QByteArray f)
{
    uint8_t sum = 0;
    for (char c : f)
        sum = uint8_t(sum + uint8_t(c));
    return f + char(uint8_t(-sum));
}
QByteArray Framed(const char* spaced) { return Framed(Bytes(spaced)); }
// A request on PLU i's record in bank F9: "77" writes `data`, "55" reads.
QByteArray Plu(const char* command, int i, const QByteArray& data = {})
{
    const int address = 0xC0 + 4 * i;
    return Framed(Bytes(command) + Bytes("F9") + char(address >> 8) + char(address) + Bytes("04") + data);
}

class EndToEnd : public CommandFixture<TKYRBusComm> {
protected:
    void SetUp() override
    {
        Bus.CommName = QString::fromStdString(Sim.start());
        Bus.RetryInterval = 250;   // short, yet well above the simulated latency
        Bus.TraceEnabled = -1;
        Bus.SetBaudRate(9600);
        Bus.SetActive(true);
        // Never hang: after 30 s the operator "presses Cancel".
        Watchdog.callOnTimeout([this] {
            ADD_FAILURE() << "watchdog fired";
            Progress.PressCancel();
            Bus.Cancel();
        });
        Watchdog.start(30000);
    }
    void TearDown() override
    {
        Watchdog.stop();
        if (Bus.isActive())
            Bus.SetActive(false);
        Sim.stop();
    }
    // Frames as the scale received them, in order.
    QList<QByteArray> Frames() const
    {
        QList<QByteArray> out;
        for (const auto& r : Sim.requests())
            out << QByteArray(reinterpret_cast<const char*>(r.frame.data()), qsizetype(r.frame.size()));
        return out;
    }
    static QStringList HexList(const QList<QByteArray>& frames)
    {
        QStringList out;
        for (const QByteArray& f : frames)
            out << QString::fromLatin1(f.toHex(' ').toUpper());
        return out;
    }
    QByteArray CurrentUnitPrice() const
    {
        const auto bytes = Sim.read(0xF9, 0, 4);
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), 4);
    }

    ScaleSim Sim;
    QTimer Watchdog;
};

TEST_F(EndToEnd, DownloadWritesTheScalesMemory)
{
    Sim.setPriceMode(0xA2);
    Sim.setSaleFigures({1234567, 0x3039, 1234});
    Options.PriceDot = 11;
    Wb.Table.setCell(colPrice, 1, "12.34");
    Wb.Table.setCell(colPrice, 2, "0.05");
    Wb.Table.PluRecords[2].UnitIndex = -1;
    Wb.Table.setCell(colPrice, 77, "99999.99");

    const CommandOutcome out = Commands.DownloadItemClick();
    ASSERT_EQ(out.kind, CommandOutcome::Succeeded) << out.text.toStdString();

    QList<QByteArray> expected{Bytes("44"), Bytes("11 00 00 00 00 EF"), Bytes("55 83 00 03 01 24"),
                               Bytes("77 83 00 03 01 AB 57"), Bytes("55 F4 00 00 0B AC")};
    for (int i = 1; i <= 77; ++i)
        expected << Plu("77", i, char(i == 2) + Be24(i == 1 ? 1234 : i == 2 ? 5 : i == 77 ? 9999999 : 0));
    expected << Framed("77 F9 00 00 04 00 00 30 39") << Bytes("33 00 00 00 00 CD");
    EXPECT_EQ(HexList(Frames()), HexList(expected));
    EXPECT_EQ(Frames().value(5), Bytes("77 F9 00 C4 04 00 00 04 D2 F2"));

    EXPECT_EQ(Sim.priceMode(), 0xAB);
    EXPECT_EQ(Sim.plu(1), (varlo::sim::PluRecord{0, 1234}));
    EXPECT_EQ(Sim.plu(2), (varlo::sim::PluRecord{1, 5}));
    EXPECT_EQ(Sim.plu(3), (varlo::sim::PluRecord{0, 0}));
    EXPECT_EQ(Sim.plu(77), (varlo::sim::PluRecord{0, 9999999}));
    EXPECT_EQ(CurrentUnitPrice(), Bytes("00 00 30 39"));
    EXPECT_EQ(Dialogs.Boxes.value(0).text, "Download PLU OK!");
}

TEST_F(EndToEnd, UploadReadsTheScalesMemory)
{
    Sim.setPriceMode(0x5B);
    Sim.setSaleFigures({0, 0x12345678, 0});
    Sim.setPlu(1, {0, 1234});
    Sim.setPlu(2, {1, 5});
    Sim.setPlu(77, {0, 0xFFFFFF});

    const CommandOutcome out = Commands.UploadItemClick();
    ASSERT_EQ(out.kind, CommandOutcome::Succeeded) << out.text.toStdString();

    QList<QByteArray> expected{Bytes("44"), Bytes("11 00 00 00 00 EF"), Bytes("55 F4 00 00 0B AC"),
                               Bytes("55 83 00 03 01 24")};
    for (int i = 1; i <= 77; ++i)
        expected << Plu("55", i);
    expected << Framed("77 F9 00 00 04 12 34 56 78") << Bytes("33 00 00 00 00 CD");
    EXPECT_EQ(HexList(Frames()), HexList(expected));
    EXPECT_EQ(Frames().value(80), Bytes("55 F9 01 F4 04 B9"));

    EXPECT_EQ(Wb.Table.cell(colPrice, 1), "12.34");
    EXPECT_EQ(Wb.Table.cell(colUnit, 1), "kg");
    EXPECT_EQ(Wb.Table.cell(colPrice, 2), "0.05");
    EXPECT_EQ(Wb.Table.cell(colUnit, 2), "g");
    EXPECT_EQ(Wb.Table.cell(colPrice, 77), "167772.15");
    EXPECT_EQ(Options.PriceDot, 11);
    EXPECT_TRUE(Home.read("config.ini").contains("Price Dot=11"));
    EXPECT_EQ(CurrentUnitPrice(), Bytes("12 34 56 78")) << "written back unchanged";
}

// Readings and states, and a frame too short to be a readout, which is not
// retried.
TEST_F(EndToEnd, AllValuesReadout)
{
    QStringList memo;
    Commands.AppendMemoLine = [&](const QString& l) { memo << l; };
    Sim.setIndication({varlo::sim::Indication::State::Values, -1234, 150, 185});
    EXPECT_EQ(Commands.Salereport1Click().kind, CommandOutcome::Succeeded);
    Sim.setIndication({varlo::sim::Indication::State::Lifted, 0, 0, 0});
    EXPECT_EQ(Commands.Salereport1Click().kind, CommandOutcome::Succeeded);
    Sim.addFault("short:12@cmd=05");
    EXPECT_EQ(Ended(Commands.Salereport1Click()), "Failed|Protocol...Error!|the scale's frame was shorter than 20 bytes");
    EXPECT_EQ(memo, (QStringList{"-1.234kg;1.50;1.85", "scale plate is lifted"}));
    EXPECT_EQ(HexList(Frames()), (QStringList{"05", "05", "05"}));
}

// One lost or garbled reply is retried by the engine; the command goes on.
TEST_F(EndToEnd, SingleFaultsAreRetried)
{
    Sim.setPlu(10, {0, 777});
    Sim.addFault("aa@cmd=11");
    Sim.addFault("badsum@bank=F4");
    Sim.addFault("silence@cmd=55,bank=F9,addr=00E8");

    const CommandOutcome out = Commands.UploadItemClick();

    EXPECT_EQ(out.kind, CommandOutcome::Succeeded) << out.text.toStdString();
    EXPECT_EQ(Frames().size(), 83 + 3);
    EXPECT_EQ(Wb.Table.cell(colPrice, 10), "7.77");
}

// The operator presses Cancel while a read waits for a reply that never
// comes: no error form, nothing sent afterwards.
TEST_F(EndToEnd, CancelDuringAWait)
{
    Bus.RetryInterval = 5000;
    Sim.addFault("silence@bank=F4,count=always");
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (Sim.requests().size() >= 4) {
            poll.stop();
            Progress.PressCancel();
            Bus.Cancel();
        }
    });
    poll.start(5);

    const CommandOutcome out = Commands.ReportItemClick();

    EXPECT_EQ(out.kind, CommandOutcome::Cancelled);
    EXPECT_FALSE(HasErrorForm());
    EXPECT_EQ(Frames().size(), 4);
    EXPECT_EQ(Frames().last(), Bytes("55 F4 00 00 0B AC"));
    EXPECT_EQ(Commands.ReportGrid.RowCount(), 2);
}

} // namespace

// What the program writes, byte for byte against tests/golden/: a PLU file
// saved after loading it; the report file, DEBUG.LOG and config.ini of one
// sale report; KYR.CFG after a port and a speed choice.
TEST_F(EndToEnd, WrittenFilesMatchTheGoldenFiles)
{
    Wb.LoadPluFile(GoldenPath("mode2_point.KYR"));
    Wb.SavePluFile(Home.file("SAVED.KYR"));
    EXPECT_TRUE(MatchesGolden("mode2_point.KYR", Home.read("SAVED.KYR")));

    Sim.setPriceMode(0x07);
    Sim.setSaleFigures({1234567, 150, 1234});
    Sim.setUnitByte(0x00);
    Commands.Today = [] { return QDate(2024, 3, 9); };
    ASSERT_EQ(Commands.ReportItemClick().kind, CommandOutcome::Succeeded);
    Bus.SetActive(false);
    EXPECT_TRUE(MatchesGolden("20240309.TXT", Home.read("20240309.TXT")));
    EXPECT_TRUE(MatchesGolden("DEBUG.LOG", Home.read("DEBUG.LOG")));
    EXPECT_TRUE(MatchesGolden("config.ini", Home.read("config.ini")));

    Home.write("KYR.CFG", "; the scale by the till\r\n[COMM]\r\nPort=2\r\n[Devices]\r\nCOM5=/dev/ttyUSB0\r\n");
    LinkSettings link;
    link.Load();
    link.ChoosePort(5);
    link.ChooseBaudRate(2400);
    EXPECT_TRUE(MatchesGolden("KYR.CFG", Home.read("KYR.CFG")));
}
