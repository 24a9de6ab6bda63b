#pragma once
// What the transfer benches share: a bus that counts the bytes on the wire,
// a progress that shows nothing, the table they download, the simulator and
// one download station.
#include "busmaster.h"
#include "exedir.h"
#include "inioptions.h"
#include "kyrbuscomm.h"
#include "plutable.h"
#include "progress.h"
#include "protocol.h"
#include "scalecommands.h"
#include "vemraencode.h"
#include "workbook.h"
#include "silentdialogs.h"
#include <QCoreApplication>
#include <QProcess>
#include <QStringList>
#include <functional>
#include <map>
#include <QTemporaryDir>

// Counts what each request puts on the wire, both ways, so that a bench can
// set its time against the time those bytes need at the line's speed.

class CountingBus : public IBusMaster {
public:
    explicit CountingBus(IBusMaster& inner) : IBusMaster(inner), Inner(inner) {}
    BusResult SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length,
                          ReplyForm reply = ReplyForm::Acknowledgement) override
    {
        BusResult r = Inner.SendCommand(command, bank, address, length, reply);
        Sent += kyr::isSingleByteCommand(command) ? 1 : length + kyr::HeaderLength + 1;
        Received += 1;
        ++Requests;
        return r;
    }
    BusResult ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) override
    {
        BusResult r = Inner.ReadBlock(command, bank, address, length);
        Sent += kyr::HeaderLength + 1;
        Received += kyr::readReplyLength(length);
        ++Requests;
        return r;
    }
    void Cancel() override { Inner.Cancel(); }
    long long Bytes() const { return Sent + Received; }

    IBusMaster& Inner;
    long long Sent = 0, Received = 0;
    int Requests = 0;
};

class NullProgress : public IProgress {
public:
    void Show() override { State = 0; }
    void Close() override {}
    void SetStatus(const QString&, bool error) override { State = error ? 1 : State; }
    void SetTotal(int) override {}
    void SetCurrent(int) override {}
    int ProgressState() const override { return State; }
    void WaitUntilClosed() override { State = 2; }
    int State = 0;
};

// The table the benches download: a price on every PLU.
inline void FillBenchTable(Workbook& wb)
{
    wb.Initialise();
    for (int r = 1; r <= PluCount; ++r)
        wb.Table.setCell(colPrice, r, QByteArray::number(r * 1.25, 'f', 2));
}

// Starts varlo-scale-sim unpaced on a pty of its own; its device path, or
// empty when it did not start.
inline QString StartBenchSim(QProcess& sim, const QString& simPath, unsigned baud)
{
    sim.start(simPath, {"--baud", QString::number(baud), "--latency", "0", "--demo", "--stdin-control"});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000))
        return {};
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

// A home directory of its own, set before the workbook reads its settings.
struct BenchHome {
    BenchHome() { SetExeDir(Dir.path() + "/"); }
    QTemporaryDir Dir;
};

// One download of the bench table through the real engine on `port`; the
// constructor opens the port and throws what the open throws.
struct BenchDownload {
    BenchDownload(const QString& port, unsigned baud)
    {
        FillBenchTable(Wb);
        Engine.CommName = port;
        Engine.SetBaudRate(baud);
        Engine.TraceEnabled = -1;
        Engine.SetActive(true);
    }
    BenchHome Home;
    TIniOptions Options;
    Workbook Wb{Options};
    TKYRBusComm Engine;
    CountingBus Bus{Engine};
    NullProgress Progress;
    TVemraencode Codec;
    ScaleCommands Commands{Bus, Progress, Wb, Codec};
};


// The process of a transfer bench: no dialog ever waits for a click, and the
// simulator is the one built beside it unless --sim names another.
struct BenchProcess {
    BenchProcess(int& argc, char** argv) : App(argc, argv) { setDialogs(&Dialogs); }
    QCoreApplication App;
    SilentDialogs Dialogs;
    QString SimPath = QStringLiteral(VARLO_SCALE_SIM);

    // Reads the arguments: --sim PATH, the options that take a value and
    // the flags of the bench; false when a word is not understood.
    bool Parse(std::map<QString, std::function<void(const QString&)>> valued,
               const std::map<QString, bool*>& flags)
    {
        valued["--sim"] = [this](const QString& v) { SimPath = v; };
        const QStringList args = App.arguments();
        for (qsizetype i = 1; i < args.size(); ++i) {
            if (const auto f = flags.find(args[i]); f != flags.end())
                *f->second = true;
            else if (const auto v = valued.find(args[i]); v != valued.end() && i + 1 < args.size())
                v->second(args[++i]);
            else
                return false;
        }
        return true;
    }
};
