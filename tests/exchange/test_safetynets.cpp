// Compare with the scale, verify after download, backup before download.
#include "backups.h"
#include "commandfixture.h"
#include "errors.h"
#include "plufile.h"
#include "protocol.h"
#include "safetynets.h"
#include "safetyoptions.h"
#include <QDir>
#include <cstring>

namespace {

using kyr::pluAddress;
using Click = CommandOutcome (ScaleCommands::*)();
const Click Download = &ScaleCommands::DownloadItemClick, Compare = &ScaleCommands::CompareItemClick;

QByteArray Record(uint8_t flag, uint32_t count)
{
    const char b[4] = {char(flag), char(count >> 16), char(count >> 8), char(count)};
    return QByteArray(b, 4);
}

const QDateTime Stamp(QDate(2024, 3, 5), QTime(14, 7, 9));

QStringList LinesOf(const QList<PluDifference>& differences)
{
    QStringList out;
    for (const PluDifference& d : differences)
        out << d.line();
    return out;
}

// A scale in mode 0xA3 (two decimals) holding PLU i at i x 1.01, unit kg,
// and the current unit price 0x3039.
class Nets : public CommandTest {
protected:
    Nets()
    {
        SetScale("A3", "00 00 01 E2 40 00 00 30 39 04 D2");
        for (int i = 1; i <= PluCount; ++i) {
            Bus.SetMem(0xF9, pluAddress(i), Record(0, uint32_t(101 * i)));
            Wb.Table.setCell(colPrice, i, QByteArray::number(1.01 * i, 'f', 2));
        }
        Commands.Now = [] { return Stamp; };
    }
    bool SentAnyWrite() const
    {
        for (const BusRequest& r : Bus.Requests)
            if (r.kind == BusRequest::Send && r.command == kyr::CmdWrite)
                return true;
        return false;
    }
    static QStringList ReadBackLines()
    {
        QStringList out{"R 55 83 0003 1"};
        for (int i = 1; i <= PluCount; ++i)
            out << QString::asprintf("R 55 F9 %04X 4", pluAddress(i));
        return out;
    }
};

// ------------------------------------------------------------ verify

TEST_F(Nets, VerifyReadsTheTableBackBeforeTheDisconnect)
{
    Commands.VerifyAfterDownload = true;
    Wb.Table.setCell(colPrice, 19, "3.99");

    const CommandOutcome out = Commands.DownloadItemClick();

    ASSERT_EQ(out.kind, CommandOutcome::Succeeded) << out.cause.toStdString();
    const QStringList lines = RequestLines();
    ASSERT_EQ(lines.size(), 84 + 78);
    EXPECT_EQ(lines[82], "S 77 F9 0000 4 [00 00 30 39]") << "the write-back of the unit price comes first";
    EXPECT_EQ(lines.mid(83, 78), ReadBackLines());
    EXPECT_EQ(lines.last(), "S 33 00 0000 0");
    EXPECT_EQ(Dialogs.Boxes.value(0).text, "Download PLU OK!");
    EXPECT_TRUE(Progress.Calls.contains("Status:Verify..."));
}

// A net that fails ends the command there: no disconnect, no success box,
// and a backup that fails writes nothing to the scale.
TEST_F(Nets, ANetThatFailsEndsTheCommand)
{
    Wb.Table.setCell(colPrice, 19, "3.99");   // the scale holds 4.99 and keeps it
    Bus.SetMem(0xF9, pluAddress(19), Record(0, 499));
    Bus.IgnoredPluWrites = {pluAddress(19)};
    const struct {
        const char* name;
        Click click;
        bool verify, backup;
        int failAt;   // -1: a file is in the backup folder's way
        int requests;
        const char* ended;
        const char* differences = "";
    } cases[] = {
        {"verify finds a write the scale did not keep", Download, true, false, 0, 83 + 78,
         "Differs|Download PLU...Error!|U12: sent 3.99, the scale holds 4.99", "U12\t3.99 kg\t4.99 kg"},
        {"a read-back fails", Download, true, false, 83 + 1 + 4, 83 + 1 + 4,
         "Failed|Download PLU...Error!|reading back: no reply at PLU M4"},
        {"a compare fails", Compare, false, false, 3 + 1 + 10, 14,
         "Failed|Compare with scale...Error!|no reply at PLU U3"},
        {"a backup cannot be read", Download, false, true, 3 + 1, 4,
         "Failed|Download PLU...Error!|the backup could not be read: no reply at PLU M1; nothing was written to "
         "the scale"},
        {"a backup cannot be saved", Download, false, true, -1, 2 + 78,
         "Failed|Download PLU...Error!|the backup could not be saved: Cannot make the backup folder %1 (a file of "
         "that name is in the way); nothing was written to the scale"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bus.Requests.clear();
        Progress.Calls.clear();
        Commands.VerifyAfterDownload = c.verify;
        Commands.BackupBeforeDownload = c.backup;
        Bus.FailAt = qMax(c.failAt, 0);
        if (c.failAt < 0)
            Home.write("backups", "not a folder");
        const CommandOutcome out = (Commands.*c.click)();
        EXPECT_EQ(Ended(out), QString(c.ended).replace("%1", BackupsDir()).toStdString());
        EXPECT_EQ(LinesOf(Commands.Differences).join('\n'), c.differences);
        EXPECT_EQ(Bus.Requests.size(), c.requests);
        EXPECT_NE(RequestLines().last(), "S 33 00 0000 0") << "no disconnect";
        EXPECT_EQ(Progress.Calls.mid(Progress.Calls.size() - 3),
                  (QStringList{"Error:" + out.text, "Cause:" + out.cause, "Wait"}));
        EXPECT_TRUE(Dialogs.Boxes.isEmpty()) << "no success box";
        EXPECT_TRUE(!c.backup || !SentAnyWrite());
    }
}

TEST_F(Nets, WithTheNetsOffTheDownloadIsUnchanged)
{
    const CommandOutcome out = Commands.DownloadItemClick();
    ASSERT_EQ(out.kind, CommandOutcome::Succeeded);
    EXPECT_EQ(RequestLines().size(), 84);
    EXPECT_FALSE(QDir(BackupsDir()).exists());
}

TEST(VerifyCause, NamesTheFirstDifferenceAndBothValues)
{
    MessageTexts.resetToBuiltIn();
    const PluDifference price{19, "U12", "3.99", "kg", "4.99", "kg"};
    const PluDifference unit{1, "M1", "1.00", "kg", "1.00", "g"};
    const PluDifference mode{0, "mode", "3", {}, "11", {}};
    const PluDifference highNibble{0, "mode", "3", {}, "3", {}};
    const struct { QList<PluDifference> differences; const char* cause; } cases[] = {
        {{price}, "U12: sent 3.99, the scale holds 4.99"},
        {{unit}, "M1: sent 1.00 kg, the scale holds 1.00 g"},
        {{mode, price, unit}, "mode: sent code 3, the scale holds code 11 (and 2 more)"},
        {{highNibble}, "mode: sent code 3, the scale holds code 3 with other bits"},
        {{}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VerifyCause(c.differences).toStdString(), c.cause);
}

TEST(CompareWithSent, ComparesEveryByte)
{
    MessageTexts.resetToBuiltIn();
    regional::setDecimalSeparator('.');
    ScaleTable sent, held;
    sent.ModeByte = held.ModeByte = 0xA3;
    sent.Records[5] = {1, 0, 0, 7};
    held.Records[5] = {2, 0, 0, 7};   // both "g" to an upload, yet not what was sent
    const QList<PluDifference> d = CompareWithSent(sent, held, 2);
    ASSERT_EQ(d.size(), 1);
    EXPECT_EQ(d[0].line().toStdString(), "M5\t0.07 g\t0.07 g");
    held.ModeByte = 0xB3;
    EXPECT_EQ(CompareWithSent(sent, held, 2).value(0).Key.toStdString(), "mode");
    regional::useLocaleSeparator();
}

// ------------------------------------------------------------ compare

// The table against a scale that holds it, with one thing changed.
struct TableChange {
    const char* name;
    std::function<void(Workbook&, ScaleTable&)> change;
    QStringList lines;
};

class TableAgainstScale : public Nets, public testing::WithParamInterface<TableChange> {};

TEST_P(TableAgainstScale, FindsPricesUnitsAndTheMode)
{
    SCOPED_TRACE(GetParam().name);
    ScaleTable scale;
    scale.ModeByte = Bus.Mem(0x83, 3);
    for (int i = 1; i <= PluCount; ++i)
        std::memcpy(scale.Records[size_t(i)].data(), Bus.MemBlock(0xF9, pluAddress(i), 4).constData(), 4);
    GetParam().change(Wb, scale);
    EXPECT_EQ(LinesOf(CompareWithTable(Wb, Codec, scale)), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Changes, TableAgainstScale, testing::Values(
    TableChange{"the same table", [](Workbook&, ScaleTable&) {}, {}},
    TableChange{"a price", [](Workbook& wb, ScaleTable&) { wb.Table.setCell(colPrice, 1, "12.34"); },
                {"M1\t12.34 kg\t1.01 kg"}},
    TableChange{"a unit",
                [](Workbook& wb, ScaleTable&) {
                    wb.Table.PluRecords[8].UnitIndex = -1;
                    wb.Table.setCell(colUnit, 8, "g");
                },
                {"U1\t8.08 g\t8.08 kg"}},
    // The upload reads any flag but 0 as g, and so does the compare.
    TableChange{"flag 2 against g",
                [](Workbook& wb, ScaleTable& s) { s.Records[77][0] = 2; wb.Table.PluRecords[77].UnitIndex = -1; }, {}},
    TableChange{"an empty unit goes out as kg", [](Workbook&, ScaleTable& s) { s.Records[2][0] = 1; },
                {"M2\t2.02 kg\t2.02 g"}},
    TableChange{"the mode", [](Workbook&, ScaleTable& s) { s.ModeByte = 0xAB; }, {"mode\t3\t11"}},
    TableChange{"the scale's half of the mode byte", [](Workbook&, ScaleTable& s) { s.ModeByte = 0x53; }, {}},
    TableChange{"past the last decimal", [](Workbook& wb, ScaleTable&) { wb.Table.setCell(colPrice, 3, "3.034"); }, {}},
    TableChange{"an empty cell is 0", [](Workbook& wb, ScaleTable&) { wb.Table.setCell(colPrice, 70, ""); },
                {"U63\t0.00 kg\t70.70 kg"}},
    TableChange{"whole numbers",
                [](Workbook& wb, ScaleTable& s) {
                    wb.Options.PriceDot = 0;
                    wb.Options.PriceDecimal = 0;
                    s.ModeByte = 0xA0;
                    for (int i = 1; i <= PluCount; ++i)
                        wb.Table.setCell(colPrice, i, QByteArray::number(101 * i));
                    s.Records[77] = {0, 0, 0x1E, 0x62};   // 7778
                },
                {"U70\t7777 kg\t7778 kg"}}));

TEST_F(Nets, CompareSendsTheUploadsRequestsAndChangesNothing)
{
    Wb.Table.setCell(colPrice, 1, "12.34");
    Wb.Modified = false;
    const QByteArray before = Wb.Table.cell(colPrice, 1);

    const CommandOutcome out = Commands.CompareItemClick();

    QStringList expected{"S 44 00 0000 0", "S 11 00 0000 0", "R 55 F4 0000 11"};
    expected << ReadBackLines() << "S 77 F9 0000 4 [00 00 30 39]" << "S 33 00 0000 0";
    EXPECT_EQ(RequestLines(), expected);
    EXPECT_EQ(out.kind, CommandOutcome::Differs);
    EXPECT_EQ(LinesOf(Commands.Differences), QStringList{"M1\t12.34 kg\t1.01 kg"});
    EXPECT_EQ(Wb.Table.cell(colPrice, 1), before);
    EXPECT_FALSE(Wb.Modified);
    EXPECT_FALSE(QFile::exists(Wb.ConfigFileName)) << "the scale's mode is not taken over";
    EXPECT_TRUE(Dialogs.Boxes.isEmpty()) << "the window shows the differences itself";
    EXPECT_FALSE(Progress.Visible);
}

TEST_F(Nets, CompareOfAScaleThatHoldsTheTable)
{
    const CommandOutcome out = Commands.CompareItemClick();
    EXPECT_EQ(out.kind, CommandOutcome::Succeeded);
    EXPECT_EQ(Dialogs.Boxes.value(0).text, "The scale holds the table.");
    EXPECT_EQ(Dialogs.Boxes.value(0).icon, MsgIcon::Information);
}

// ------------------------------------------------------------ backup

TEST_F(Nets, BackupIsSavedBeforeAnythingIsWritten)
{
    Commands.BackupBeforeDownload = true;
    Bus.SetMem(0x83, 3, Hex("F7"));   // three decimals
    Bus.SetMem(0xF9, pluAddress(1), Record(0, 1234));
    Bus.SetMem(0xF9, pluAddress(2), Record(1, 5));
    Wb.Table.setCell(colName, 1, "Apple");
    Bus.FailAt = 2 + 78 + 2;   // the write of the price mode

    const CommandOutcome out = Commands.DownloadItemClick();

    EXPECT_EQ(out.kind, CommandOutcome::Failed);
    QStringList expected{"S 44 00 0000 0", "S 11 00 0000 0"};
    expected << ReadBackLines() << "R 55 83 0003 1" << "S 77 83 0003 1 [F3]";
    EXPECT_EQ(RequestLines().join('\n').toStdString(), expected.join('\n').toStdString());
    const QString path = BackupsDir() + "20240305-140709-mode7.KYR";
    EXPECT_EQ(Commands.LastBackup, path);
    const QList<QByteArray> lines = SplitPluLines(Home.read("backups/20240305-140709-mode7.KYR"), 80);
    ASSERT_EQ(lines.size(), 77);
    EXPECT_EQ(lines[0] + "\r\n", PluFileLine("1.234", "Apple", "kg"));
    EXPECT_EQ(lines[1] + "\r\n", PluFileLine("0.005", "", "g"));
    EXPECT_EQ(lines[76] + "\r\n", PluFileLine("7.777", "", "kg"));
}

TEST(Backups, NamesCarryThePriceMode)
{
    const struct { const char* name; int code; } cases[] = {
        {"20240305-140709-mode7.KYR", 7},
        {"/home/shop/backups/20240305-140709-mode11-2.kyr", 11},
        {"20240305-140709-mode0.KYR", 0},
        {"PRICES.KYR", -1},
        {"20240305-140709-mode.KYR", -1},
        {"20240305-1407-mode3.KYR", -1},
        {"20240305-140709-mode3.KYR.bak", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BackupModeCode(c.name), c.code) << c.name;
    EXPECT_EQ(BackupFileName(Stamp, 15), "20240305-140709-mode15.KYR");
}

QStringList BackupNames()
{
    return QDir(BackupsDir()).entryList({"*.KYR"}, QDir::Files, QDir::Name);
}

TEST(Backups, TheNewestHundredAreKept)
{
    ScopedHome home;
    QDir().mkpath(BackupsDir());
    home.write("backups/PRICES.KYR", "the operator's own file\r\n");
    for (int k = 0; k < 102; ++k)
        SaveBackup("x", 3, Stamp.addSecs(k));
    QStringList names = BackupNames();
    EXPECT_EQ(names.size(), 101);
    EXPECT_TRUE(names.contains("PRICES.KYR")) << "only backups are removed";
    EXPECT_FALSE(names.contains("20240305-140709-mode3.KYR"));
    EXPECT_FALSE(names.contains("20240305-140710-mode3.KYR"));
    EXPECT_TRUE(names.contains("20240305-140711-mode3.KYR"));

    // Within one second the names are numbered; a clock set back does not
    // make the new backup the first to go.
    const QString second = SaveBackup("y", 3, Stamp.addSecs(101));
    EXPECT_TRUE(second.endsWith("/20240305-140850-mode3-2.KYR")) << second.toStdString();
    const QString early = SaveBackup("z", 9, Stamp.addDays(-1));
    names = BackupNames();
    EXPECT_EQ(names.size(), 101);
    EXPECT_TRUE(names.contains("20240304-140709-mode9.KYR"));
    EXPECT_FALSE(names.contains("20240305-140712-mode3.KYR"));
    EXPECT_EQ(home.read("backups/20240304-140709-mode9.KYR"), "z");
}

TEST(SafetyOptionsFile, DefaultsAndValues)
{
    const struct {
        const char* name;
        QByteArray file;   // empty: no config.ini
        bool verify, backup;
    } cases[] = {
        {"no file", {}, true, false},
        {"other sections only", "[default]\r\nPrice Dot=3\r\n", true, false},
        {"both set", "[Options]\r\nVerify after download=0\r\nBackup before download=1\r\n", false, true},
        {"letter case and blanks", "[options]\r\nverify AFTER download = 0 \r\n", false, false},
        {"anything but 0 checks", "[Options]\r\nVerify after download=no\r\n", true, false},
        {"empty value is the default", "[Options]\r\nVerify after download=\r\n", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedHome home;
        if (!c.file.isEmpty())
            home.write("config.ini", c.file);
        const SafetyOptions o = SafetyOptions::Load(home.file("config.ini"));
        EXPECT_EQ(o.VerifyAfterDownload, c.verify);
        EXPECT_EQ(o.BackupBeforeDownload, c.backup);
    }
    ScopedHome home;
    home.write("config.ini", "[default]\r\nPrice Dot=7\r\n");
    SafetyOptions::SaveVerify(home.file("config.ini"), false);
    SafetyOptions::SaveBackup(home.file("config.ini"), true);
    EXPECT_EQ(home.read("config.ini"),
              "[default]\r\nPrice Dot=7\r\n\r\n[Options]\r\nVerify after download=0\r\nBackup before download=1\r\n");
}

// ------------------------------------------------------------ restore

// A backup is read in the mode its name carries, which the program takes
// over; one with no PLU line changes nothing.
TEST_F(Nets, RestoreTakesOverTheModeOfTheName)
{
    QDir().mkpath(BackupsDir());
    const QString backup = BackupsDir() + "20240305-140709-mode7.KYR";
    Home.write("backups/20240305-140709-mode7.KYR", "");
    Dialogs.OpenAnswers = {backup};
    EXPECT_THROW(RestoreBackupItemClick(Wb), EInOutError);
    EXPECT_EQ(Options.PriceDot, 3);
    EXPECT_FALSE(QFile::exists(Wb.ConfigFileName));
    EXPECT_EQ(Wb.Table.cell(colPrice, 1), "1.01");

    Home.write("backups/20240305-140709-mode7.KYR", PluFileLine("1.234", "Apple", "kg"));
    Dialogs.OpenAnswers = {backup};
    RestoreBackupItemClick(Wb);
    EXPECT_EQ(Dialogs.OpenDir, BackupsDir());
    EXPECT_EQ(Options.PriceDot, 7);
    EXPECT_EQ(Options.PriceDecimal, 3);
    EXPECT_TRUE(Home.read("config.ini").contains("Price Dot=7"));
    EXPECT_EQ(Wb.Table.cell(colPrice, 1), "1.234") << "read in the backup's mode";
    EXPECT_EQ(Wb.Table.cell(colPrice, 2), "0.000");
    EXPECT_EQ(Wb.CurrentFileName, backup);
}

} // namespace
