// "Select port...": the rows with their states, which row starts chosen,
// what is mapped, and a refresh that keeps the choice.
#include "portselectform.h"
#include "testdirs.h"
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTableWidget>
#include <gtest/gtest.h>

namespace {

PortRow Row(const QString& name, const QString& path, SerialPortEntry::State state,
            QList<PortHolder> holders = {}, bool network = false)
{
    PortRow r;
    r.name = name;
    r.network = network;
    r.port.path = path;
    r.port.node = path;
    r.port.state = state;
    r.port.holders = holders;
    return r;
}

const QString ById = "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0";

QList<PortRow> Machine()
{
    return {Row("-", ById, SerialPortEntry::Busy, {{812, "brltty", false}}),
            Row("-", "/dev/ttyACM0", SerialPortEntry::NoPermission),
            Row("COM2", "/dev/pts/4", SerialPortEntry::Free),
            Row("COM3", "rfc2217://scale-deli.local:4001", SerialPortEntry::Free, {}, true)};
}

TEST(SelectPort, RowsShowTheirStateAndTheCurrentPortStartsChosen)
{
    TPortSelectForm form("COM2");
    form.Source = Machine;
    form.Refresh();
    ASSERT_EQ(form.Grid->rowCount(), 4);
    QStringList states;
    for (int r = 0; r < 4; ++r)
        states << form.Grid->item(r, 3)->text();
    EXPECT_EQ(states, (QStringList{"busy, held by brltty (812)", "no permission", "free", "network"}));
    EXPECT_EQ(form.ChosenPath(), "/dev/pts/4");
    EXPECT_TRUE(form.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
}

TEST(SelectPort, TheStableNameIsWhatGetsMappedAndRefreshKeepsIt)
{
    TPortSelectForm form("COM7");   // reaches none of them
    form.Source = Machine;
    form.Refresh();
    EXPECT_TRUE(form.ChosenPath().isEmpty());
    EXPECT_FALSE(form.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
    form.Grid->selectRow(0);
    EXPECT_EQ(form.ChosenPath(), ById);
    EXPECT_TRUE(form.Buttons->button(QDialogButtonBox::Ok)->isEnabled());

    // The adapter came back under another node; its row moved.
    form.Source = [] {
        QList<PortRow> rows = Machine();
        rows.move(0, 3);
        return rows;
    };
    form.RefreshBtn->click();
    EXPECT_EQ(form.ChosenPath(), ById);
    EXPECT_EQ(form.Grid->selectedRanges().value(0).topRow(), 3);
}

TEST(SelectPort, MappingKeepsTheRestOfTheSettings)
{
    ScopedHome home;
    home.write("KYR.CFG", "[COMM]\r\nPort=3\r\nBaudRate=2400\r\n[Devices]\r\nCOM1=/dev/ttyUSB0\r\n");
    MapPort(3, ById);
    EXPECT_EQ(home.read("KYR.CFG"), "[COMM]\r\nPort=3\r\nBaudRate=2400\r\n[Devices]\r\nCOM1=/dev/ttyUSB0\r\n"
                                    "COM3=" + ById.toLatin1() + "\r\n");
}

} // namespace
