#pragma once
#include "fakes.h"
#include "inioptions.h"
#include "messagetexts.h"
#include "regional.h"
#include "scalecommands.h"
#include "scripteddialogs.h"
#include "testdirs.h"
#include "vemraencode.h"
#include "workbook.h"
#include <gtest/gtest.h>

// The boxes shown, one a line: "Information|Ok|Varlo Manager|Download PLU OK!".
inline std::string Shown(const ScriptedDialogs& dialogs)
{
    static const char* const icons[] = {"None", "Information", "Warning", "Error"};
    static const char* const buttons[] = {"Ok", "OkCancel", "YesNoCancel"};
    QStringList out;
    for (const ScriptedDialogs::Box& b : dialogs.Boxes)
        out << QStringLiteral("%1|%2|%3|%4").arg(icons[int(b.icon)], buttons[int(b.buttons)], b.caption, b.text);
    return out.join('\n').toStdString();
}

// How a command ended, in one line: "Failed|Download PLU...Error!|no reply at PLU M4".
inline std::string Ended(const CommandOutcome& o)
{
    static const char* const kinds[] = {"Succeeded", "Failed", "Cancelled", "NotStarted", "Refused", "Differs"};
    return QStringLiteral("%1|%2|%3").arg(kinds[o.kind], o.text, o.cause).toStdString();
}

// A workbook in a fresh program directory (no config.ini: mode 2, PriceDot
// 3), a scale behind `BusT` (a fake here, the real engine end to end), a
// recording progress dialog.
template <class BusT> class CommandFixture : public ::testing::Test {
protected:
    CommandFixture() : Wb(Options), Commands(Bus, Progress, Wb, Codec)
    {
        regional::setDecimalSeparator('.');
        MessageTexts.resetToBuiltIn();
        Wb.Initialise();
    }
    ~CommandFixture() override { regional::useLocaleSeparator(); }

    int Count(const QString& call) const { return Progress.Calls.count(call); }
    bool HasErrorForm() const
    {
        for (const QString& c : Progress.Calls)
            if (c.startsWith("Error:"))
                return true;
        return false;
    }

    ScopedHome Home;
    ScriptedDialogs Dialogs;
    TIniOptions Options;
    Workbook Wb;
    BusT Bus;
    RecordingProgress Progress;
    TVemraencode Codec;
    ScaleCommands Commands;
};

// The scale's memory behind a fake bus.
class CommandTest : public CommandFixture<FakeScaleBus> {
protected:
    CommandTest()
    {
        Bus.OnCancelPressed = [this] { Progress.PressCancel(); };
        Commands.AppendMemoLine = [this](const QString& line) { Memo << line; };
        Commands.Today = [this] { return Date; };
    }

    // The scale's price mode byte (bank 83, address 3) and sale figures (bank F4).
    void SetScale(const char* modeByte, const char* saleFigures)
    {
        Bus.SetMem(0x83, 3, Hex(modeByte));
        Bus.SetMem(0xF4, 0, Hex(saleFigures));
    }

    // Requests as "S 77 F9 00C4 4 [00 00 04 D2]" / "R 55 83 0003 1".
    QStringList RequestLines() const
    {
        QStringList out;
        for (const BusRequest& r : Bus.Requests) {
            QString s = QString::asprintf("%c %02X %02X %04X %d", r.kind == BusRequest::Send ? 'S' : 'R',
                                          r.command, r.bank, r.address, r.length);
            if (!r.data.isEmpty())
                s += " [" + QString::fromLatin1(r.data.toHex(' ').toUpper()) + "]";
            out << s;
        }
        return out;
    }

    QStringList Memo;           // the all-values readout's lines
    QDate Date{2024, 3, 9};     // the sale report's day
};
