// What every scale command shares: how a failed, cancelled or unsaveable
// step ends it; and the all-values readout.
#include "commandfixture.h"
#include "errors.h"
#include <QDir>
#include <QFileInfo>

namespace {

using Click = CommandOutcome (ScaleCommands::*)();
const Click Download = &ScaleCommands::DownloadItemClick, Upload = &ScaleCommands::UploadItemClick,
            Report = &ScaleCommands::ReportItemClick, Readout = &ScaleCommands::Salereport1Click;

class AnyCommand : public CommandTest {
protected:
    // A scale in price mode 11 (0x0B); the options say mode 2 (Price Dot 3),
    // no config.ini, the workbook saved.
    void Reset()
    {
        Bus.SetMem(0x83, 3, Hex("0B"));
        Bus.Requests.clear();
        Progress.Calls.clear();
        Dialogs.Boxes.clear();
        Options.PriceDot = 3;
        QFile::remove(Home.file("config.ini"));
        Wb.Modified = false;
    }
    // The scale's mode 11 was taken over, and only then.
    void ExpectMode(bool takenOver)
    {
        EXPECT_EQ(Options.PriceDot, takenOver ? 11 : 3);
        EXPECT_EQ(Home.read("config.ini").contains("Price Dot=11"), takenOver);
    }
    // Nothing reached the report grid or the report file.
    void ExpectNoReportRow()
    {
        EXPECT_EQ(Commands.ReportGrid.RowCount(), 2);
        EXPECT_FALSE(QFileInfo::exists(Commands.ReportFileName(Date)));
    }
};

// Request n gets no reply: the error form names the step (and a PLU step
// its key), the operator confirms it, nothing more is sent.
TEST_F(AnyCommand, EachStepFailsWithItsOwnText)
{
    const struct { Click click; int request; const char* text; const char* cause; bool modeTaken; } cases[] = {
        {Download, 1, "Connect...Error!", "no reply", false},
        {Download, 2, "Connect...Error!", "no reply", false},
        {Download, 3, "Download PLU...Error!", "no reply", false},
        {Download, 4, "Download PLU...Error!", "no reply", false},
        {Download, 5, "Download PLU...Error!", "no reply", false},
        {Download, 6, "Download PLU...Error!", "no reply at PLU M1", false},
        {Download, 18, "Download PLU...Error!", "no reply at PLU U6", false},
        {Download, 82, "Download PLU...Error!", "no reply at PLU U70", false},
        {Download, 83, "Download PLU...Error!", "no reply", false},
        {Download, 84, "Disconnect...Error!", "no reply", false},
        {Upload, 1, "Connect...Error!", "no reply", false},
        {Upload, 2, "Connect...Error!", "no reply", false},
        {Upload, 3, "Upload PLU...Error!", "no reply", false},
        {Upload, 4, "Upload PLU...Error!", "no reply", false},
        {Upload, 5, "Upload PLU...Error!", "no reply at PLU M1", true},
        {Upload, 81, "Upload PLU...Error!", "no reply at PLU U70", true},
        {Upload, 82, "Upload PLU...Error!", "no reply", true},
        {Upload, 83, "Disconnect...Error!", "no reply", true},
        {Report, 1, "Connect...Error!", "no reply", false},
        {Report, 2, "Connect...Error!", "no reply", false},
        {Report, 3, "Sale report...Error!", "no reply", false},
        {Report, 4, "Sale report...Error!", "no reply", true},
        {Report, 5, "Sale report...Error!", "no reply", true},
        {Report, 6, "Disconnect...Error!", "no reply", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " at request " << c.request);
        Reset();
        Bus.FailAt = c.request;
        const CommandOutcome out = (Commands.*c.click)();
        EXPECT_EQ(Ended(out), std::string("Failed|") + c.text + "|" + c.cause);
        EXPECT_EQ(Bus.Requests.size(), c.request);
        EXPECT_EQ(Progress.Calls.mid(Progress.Calls.size() - 3),
                  (QStringList{QString("Error:") + c.text, QString("Cause:") + c.cause, "Wait"}));
        EXPECT_EQ(Count("Close"), 0);
        EXPECT_TRUE(Dialogs.Boxes.isEmpty());
        ExpectMode(c.modeTaken);
        ExpectNoReportRow();
    }
}

// Cancel while a request waits: no error form, no box, nothing waited on.
TEST_F(AnyCommand, CancelDuringAWaitShowsNothing)
{
    const struct { Click click; int request; const char* ended; bool modeTaken, modified; } cases[] = {
        {Download, 1, "Connect...Error!|cancelled", false, false},
        {Download, 4, "Download PLU...Error!|cancelled", false, false},
        {Download, 20, "Download PLU...Error!|cancelled at PLU U8", false, false},
        {Download, 84, "Disconnect...Error!|cancelled", false, false},
        {Upload, 30, "Upload PLU...Error!|cancelled at PLU U19", true, true},
        {Report, 4, "Sale report...Error!|cancelled", true, false},
        {Readout, 1, "Connect...Error!|cancelled", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        Reset();
        Bus.CancelAt = c.request;
        Bus.AllValuesFrame = Hex("02 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 03");
        EXPECT_EQ(Ended((Commands.*c.click)()), std::string("Cancelled|") + c.ended);
        if (c.click == Readout)   // its dialog closes as after a readout
            EXPECT_EQ(Progress.Calls.mid(Progress.Calls.size() - 2), (QStringList{"Status:Disconnect...", "Close"}));
        else
            EXPECT_EQ(Count("Close"), 0);
        EXPECT_EQ(Bus.Requests.size(), c.request);
        EXPECT_FALSE(HasErrorForm());
        EXPECT_EQ(Count("Wait"), 0);
        EXPECT_TRUE(Dialogs.Boxes.isEmpty());
        EXPECT_TRUE(Memo.isEmpty());
        EXPECT_EQ(Wb.Modified, c.modified) << "what came in before the cancel stays";
        ExpectMode(c.modeTaken);
        ExpectNoReportRow();
    }
}

// A config.ini that cannot be written ends the command with the INI error;
// the dialog must not stay up (it keeps the main window disabled).
TEST_F(AnyCommand, SettingsWriteFailureClosesTheDialog)
{
    Reset();
    ASSERT_TRUE(QDir(Home.path()).mkdir("config.ini"));
    for (const auto& [click, requests] : {std::pair{Upload, 4}, std::pair{Report, 3}}) {
        SCOPED_TRACE(requests);
        Bus.Requests.clear();
        EXPECT_THROW((Commands.*click)(), EIniError);
        EXPECT_EQ(Bus.Requests.size(), requests);
        EXPECT_EQ(Progress.Calls.last(), "Close");
        EXPECT_FALSE(Progress.Visible);
        ExpectNoReportRow();
    }
}

// ------------------------------------------------------------ all values

// STX, sign, weight(5), gap, unit price(6), gap, total(6), ETX: 22 bytes.
QByteArray ValuesFrame(char sign, const char* weight, const char* unitPrice, const char* total)
{
    return '\x02' + (sign + QByteArray(weight) + ' ' + unitPrice + ' ' + total) + '\x03';
}

QByteArray StateFrame(char c) { return '\x02' + QByteArray(20, c) + '\x03'; }

using Values = CommandTest;

TEST_F(Values, LogsWeightUnitPriceAndTotal)
{
    Bus.AllValuesFrame = ValuesFrame('-', "01234", "000150", "000185");

    const CommandOutcome out = Commands.Salereport1Click();

    EXPECT_EQ(RequestLines(), QStringList{"S 05 00 0000 0"});
    EXPECT_TRUE(Bus.Requests[0].frameMode);
    EXPECT_EQ(Memo, QStringList{"-1.234kg;1.50;1.85"});
    EXPECT_EQ(Ended(out), "Succeeded||");
    EXPECT_EQ(out.line, "-1.234kg;1.50;1.85");
    EXPECT_EQ(Progress.Calls, (QStringList{"Show", "Status:Connect...", "Status:Disconnect...", "Close"}));
    EXPECT_TRUE(Dialogs.Boxes.isEmpty());
}

// Each readout adds its own line.
TEST_F(Values, Frames)
{
    struct { const char* name; QByteArray frame; char sep; const char* line; } const cases[] = {
        {"positive", ValuesFrame('+', "01234", "000150", "000185"), '.', "1.234kg;1.50;1.85"},
        {"any other sign byte", ValuesFrame(' ', "99999", "999999", "999999"), '.', "99.999kg;9999.99;9999.99"},
        {"blank weight", ValuesFrame(' ', "     ", "000150", "000185"), '.', "0.000kg;1.50;1.85"},
        {"no number", ValuesFrame('-', "12a45", "00x150", "      "), '.', "-0.000kg;0.00;0.00"},
        {"comma", ValuesFrame('-', "01234", "000150", "000185"), ',', "-1,234kg;1,50;1,85"},
        {"unstable", StateFrame('I'), '.', "scale indication is unstable"},
        {"lifted", StateFrame('N'), '.', "scale plate is lifted"},
        {"overflow", StateFrame('S'), '.', "scale indication is in overflow"},
        {"19 of 20 alike is no state", '\x02' + QByteArray(19, 'S') + "0\x03", '.', "0.000kg;0.00;0.00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        regional::setDecimalSeparator(c.sep);
        Bus.AllValuesFrame = c.frame;
        const qsizetype before = Memo.size();
        EXPECT_EQ(Commands.Salereport1Click().kind, CommandOutcome::Succeeded);
        EXPECT_EQ(Memo.mid(before), QStringList{c.line});
    }
    MessageTexts.set(mtLiftedError, "Platte angehoben");   // read when shown
    Bus.AllValuesFrame = StateFrame('N');
    EXPECT_EQ(Commands.Salereport1Click().line, "Platte angehoben");
}

TEST_F(Values, FailuresLogNothing)
{
    Bus.AllValuesFrame = '\x02' + QByteArray(10, '0') + '\x03';   // 12 bytes
    EXPECT_EQ(Ended(Commands.Salereport1Click()), "Failed|Protocol...Error!|short frame");
    EXPECT_EQ(Progress.Calls, (QStringList{"Show", "Status:Connect...", "Error:Protocol...Error!",
                                           "Cause:short frame", "Wait", "Status:Disconnect...", "Close"}));
    Bus.FailAt = 2;   // no reply
    EXPECT_EQ(Ended(Commands.Salereport1Click()), "Failed|Connect...Error!|no reply");
    EXPECT_EQ(Progress.Calls.last(), "Close");
    EXPECT_TRUE(Memo.isEmpty());
}

} // namespace
