#include "commandfixture.h"
#include <cstring>

namespace {

// STX, sign, weight(5), gap, unit price(6), gap, total(6), ETX: 22 bytes.
QByteArray ValuesFrame(char sign, const char* weight, const char* unitPrice, const char* total)
{
    QByteArray f;
    f += '\x02';
    f += sign;
    f += weight;
    f += ' ';
    f += unitPrice;
    f += ' ';
    f += total;
    f += '\x03';
    return f;
}

QByteArray StateFrame(char c) { return '\x02' + QByteArray(20, c) + '\x03'; }

class Values : public CommandTest {
protected:
    Values()
    {
        Commands.AppendMemoLine = [this](const QString& line) { Memo << line; };
    }
    QStringList Memo;
};

TEST_F(Values, LogsWeightUnitPriceAndTotal)
{
    Bus.AllValuesFrame = ValuesFrame('-', "01234", "000150", "000185");

    const CommandOutcome out = Commands.Salereport1Click();

    ASSERT_EQ(Bus.Requests.size(), 1);
    EXPECT_EQ(Bus.Requests[0].command, 0x05);
    EXPECT_TRUE(Bus.Requests[0].frameMode);
    EXPECT_EQ(Memo, QStringList{"-1.234kg;1.50;1.85"});
    EXPECT_EQ(out.kind, CommandOutcome::Succeeded);
    EXPECT_EQ(out.line, "-1.234kg;1.50;1.85");
    EXPECT_EQ(Progress.Calls,
              (QStringList{"Show", "Status:Connect...", "Status:Disconnect...", "Close"}));
    EXPECT_TRUE(Dialogs.Boxes.isEmpty());
}

TEST_F(Values, Frames)
{
    struct {
        const char* name;
        QByteArray frame;
        char sep;
        const char* line;
    } const cases[] = {
        {"positive", ValuesFrame('+', "01234", "000150", "000185"), '.', "1.234kg;1.50;1.85"},
        {"any other sign byte", ValuesFrame(' ', "99999", "999999", "999999"), '.',
         "99.999kg;9999.99;9999.99"},
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
        Memo.clear();
        regional::setDecimalSeparator(c.sep);
        Bus.AllValuesFrame = c.frame;
        const CommandOutcome out = Commands.Salereport1Click();
        EXPECT_EQ(out.kind, CommandOutcome::Succeeded);
        EXPECT_EQ(Memo, QStringList{c.line});
    }
}

TEST_F(Values, StateTextsComeFromTheMessageTable)
{
    MessageTexts.set(mtLiftedError, "Platte angehoben");
    Bus.AllValuesFrame = StateFrame('N');
    EXPECT_EQ(Commands.Salereport1Click().line, "Platte angehoben");
}

TEST_F(Values, SecondReadoutAddsASecondLine)
{
    Bus.AllValuesFrame = StateFrame('I');
    Commands.Salereport1Click();
    Bus.AllValuesFrame = ValuesFrame('+', "00500", "000100", "000050");
    Commands.Salereport1Click();
    EXPECT_EQ(Memo, (QStringList{"scale indication is unstable", "0.500kg;1.00;0.50"}));
}

TEST_F(Values, ShortFrameIsAProtocolError)
{
    Bus.AllValuesFrame = '\x02' + QByteArray(10, '0') + '\x03';   // 12 bytes

    const CommandOutcome out = Commands.Salereport1Click();

    EXPECT_EQ(out.kind, CommandOutcome::Failed);
    EXPECT_EQ(out.text, "Protocol...Error!");
    EXPECT_TRUE(Memo.isEmpty());
    EXPECT_EQ(Progress.Calls, (QStringList{"Show", "Status:Connect...", "Error:Protocol...Error!",
                                           "Cause:short frame", "Wait",
                                           "Status:Disconnect...", "Close"}));
}

TEST_F(Values, NoReplyIsAConnectError)
{
    Bus.AllValuesFrame = StateFrame('N');
    Bus.FailAt = 1;
    const CommandOutcome out = Commands.Salereport1Click();
    EXPECT_EQ(out.text, "Connect...Error!");
    EXPECT_TRUE(Memo.isEmpty());
    EXPECT_EQ(Progress.Calls.last(), "Close");
}

TEST_F(Values, CancelShowsNoErrorButStillCloses)
{
    Bus.AllValuesFrame = StateFrame('N');
    Bus.CancelAt = 1;
    const CommandOutcome out = Commands.Salereport1Click();
    EXPECT_EQ(out.kind, CommandOutcome::Cancelled);
    EXPECT_FALSE(HasErrorForm());
    EXPECT_EQ(Count("Wait"), 0);
    EXPECT_EQ(Progress.Calls.mid(Progress.Calls.size() - 2), (QStringList{"Status:Disconnect...", "Close"}));
    EXPECT_TRUE(Memo.isEmpty());
}

} // namespace
