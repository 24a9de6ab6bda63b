// The scale commands through a real serial device server (ser2net) in raw
// TCP and in Telnet COM port mode, against the simulated scale on a pty:
// byte for byte what the same command does over the pty itself.
#include "loopback.h"
#include "comm.h"
#include "fakes.h"
#include "inioptions.h"
#include "kyrbuscomm.h"
#include "messagetexts.h"
#include "regional.h"
#include "scalecommands.h"
#include "scalesim.h"
#include "scripteddialogs.h"
#include "testdirs.h"
#include "vemraencode.h"
#include "workbook.h"
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using varlo::sim::ScaleSim;

bool Listening(uint16_t port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// ser2net in the foreground with both accepters on one serial device.
class DeviceServer {
public:
    explicit DeviceServer(const QString& device)
    {
        QFile f(Dir.filePath("ser2net.yaml"));
        f.open(QIODevice::WriteOnly);
        f.write(QString("%YAML 1.1\n---\n"
                        "connection: &raw\n  accepter: tcp,127.0.0.1,%1\n  connector: serialdev,%3,9600n81,local\n"
                        "connection: &telnet\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                        "  connector: serialdev,%3,9600n81,local\n")
                    .arg(RawPort).arg(TelnetPort).arg(device).toUtf8());
        f.close();
        Process.setProcessChannelMode(QProcess::MergedChannels);
        // -u: no UUCP lock files, the tests do not own /var/lock.
        Process.start("ser2net", {"-n", "-u", "-c", f.fileName(), "-P", Dir.filePath("pid")});
        Process.waitForStarted(5000);
        for (int i = 0; i < 100 && !(Listening(RawPort) && Listening(TelnetPort)); ++i)
            QThread::msleep(50);
        QThread::msleep(100);   // the probes' connections are gone from the device again
    }
    ~DeviceServer() { stop(); }
    void stop()
    {
        Process.kill();
        Process.waitForFinished(5000);
    }
    bool ready() const { return Process.state() == QProcess::Running && Listening(RawPort); }
    QString raw() const { return QString("tcp://127.0.0.1:%1").arg(RawPort); }
    QString telnet() const { return QString("rfc2217://127.0.0.1:%1").arg(TelnetPort); }
    QTemporaryDir Dir;
    QProcess Process;
    uint16_t RawPort = FreeLoopbackPort(), TelnetPort = FreeLoopbackPort();
};

// What one download and one upload did, for comparing the three roads.
struct RoadResult {
    CommandOutcome download, upload;
    QStringList frames, table;
    QByteArray memory, debugLog;
};

// The window's side of a transfer: the table, the engine on `port` and the
// scale commands, the link open.
struct Station {
    Station(const QString& port, int retryInterval)
    {
        wb.Initialise();
        bus.CommName = port;
        bus.RetryInterval = retryInterval;
        bus.TraceEnabled = -1;
        bus.SetBaudRate(9600);
        bus.SetActive(true);   // throws AppError
    }
    TIniOptions options;
    Workbook wb{options};
    TKYRBusComm bus;
    RecordingProgress progress;
    TVemraencode codec;
    ScaleCommands commands{bus, progress, wb, codec};
};

class ThroughDeviceServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("ser2net").isEmpty())
            GTEST_SKIP() << "ser2net is not installed (scripts/deps.sh test installs it)";
        regional::setDecimalSeparator('.');
        MessageTexts.resetToBuiltIn();
        Pty = QString::fromStdString(Sim.start());
        Server = std::make_unique<DeviceServer>(Pty);
        ASSERT_TRUE(Server->ready()) << Server->Process.readAll().toStdString();
    }
    void TearDown() override
    {
        Server.reset();
        Sim.stop();
        regional::useLocaleSeparator();
    }

    void ResetScale()
    {
        Sim.clearLog();
        Sim.setPriceMode(0xA2);
        Sim.setSaleFigures({1234567, 0x3039, 1234});
        for (int i = 1; i <= 77; ++i)
            Sim.setPlu(i, {0, 0});
    }
    // The engine on `port`, the scale's table reset; null when the link
    // does not open.
    std::unique_ptr<Station> Open(const QString& port, int retryInterval)
    {
        ResetScale();
        try {
            return std::make_unique<Station>(port, retryInterval);
        } catch (const AppError& e) {
            ADD_FAILURE() << e.fullText().toStdString();
            return nullptr;
        }
    }

    // A download of a table with awkward bytes (0xFF, 0x0D, 0x00 in the
    // prices' encodings), then an upload of it back, on `port`.
    RoadResult DownloadAndUpload(const QString& port)
    {
        // The server lets go of the serial device a moment after the last
        // client left; until then it turns a new client away.
        QThread::msleep(300);
        RoadResult r;
        const std::unique_ptr<Station> st = Open(port, 800);
        if (!st)
            return r;
        PluTable& table = st->wb.Table;
        st->options.PriceDot = 11;
        const char* prices[] = {"12.34", "0.05", "2.55", "652.80", "0.13", "99999.99", "0.00"};
        for (int i = 1; i <= 77; ++i)
            table.setCell(colPrice, i, prices[i % 7]);
        r.download = st->commands.DownloadItemClick();
        for (int i = 1; i <= 77; ++i)
            table.setCell(colPrice, i, "");
        r.upload = st->commands.UploadItemClick();
        st->bus.SetActive(false);
        for (const auto& request : Sim.requests())
            r.frames << QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(request.frame.data()),
                                                       qsizetype(request.frame.size())).toHex(' '));
        // The scale's memory, without the request log and its times.
        for (const QByteArray& line : QByteArray::fromStdString(Sim.dumpText()).split('\n'))
            if (!line.startsWith("request "))
                r.memory += line + '\n';
        r.debugLog = Home.read("DEBUG.LOG");
        for (int i = 1; i <= 77; ++i)
            r.table << table.cell(colPrice, i);
        return r;
    }

    ScopedHome Home;
    ScriptedDialogs Dialogs;
    ScaleSim Sim;
    QString Pty;
    std::unique_ptr<DeviceServer> Server;
};

TEST_F(ThroughDeviceServer, RawAndTelnetDoWhatThePtyDoes)
{
    const RoadResult pty = DownloadAndUpload(Pty);
    ASSERT_EQ(pty.download.kind, CommandOutcome::Succeeded) << pty.download.text.toStdString();
    ASSERT_EQ(pty.upload.kind, CommandOutcome::Succeeded) << pty.upload.text.toStdString();
    ASSERT_EQ(pty.frames.size(), 84 + 83);
    EXPECT_EQ(pty.table.value(1), "2.55");   // 0xFF on the wire

    for (const QString& port : {Server->raw(), Server->telnet()}) {
        SCOPED_TRACE(port.toStdString());
        const RoadResult net = DownloadAndUpload(port);
        EXPECT_EQ(net.download.kind, CommandOutcome::Succeeded) << net.download.text.toStdString();
        EXPECT_EQ(net.upload.kind, CommandOutcome::Succeeded) << net.upload.text.toStdString();
        EXPECT_EQ(net.frames, pty.frames);
        EXPECT_EQ(net.memory.toStdString(), pty.memory.toStdString());
        EXPECT_EQ(net.table, pty.table);
        EXPECT_EQ(net.debugLog, pty.debugLog);
    }
}

// The device server goes away in the middle of a download: the command
// ends as it does when a serial line hangs up, without waiting out retries.
TEST_F(ThroughDeviceServer, ADroppedConnectionEndsAsAHangUp)
{
    for (const bool telnet : {false, true}) {
        if (!Server->ready())
            Server = std::make_unique<DeviceServer>(Pty);
        const QString port = telnet ? Server->telnet() : Server->raw();
        SCOPED_TRACE(port.toStdString());
        const std::unique_ptr<Station> st = Open(port, 5000);   // a hang-up must not wait for it
        ASSERT_TRUE(st);
        QTimer drop;
        QObject::connect(&drop, &QTimer::timeout, [&] {
            if (Sim.requests().size() >= 20) {
                drop.stop();
                Server->stop();
            }
        });
        drop.start(2);
        QElapsedTimer t;
        t.start();
        const CommandOutcome out = st->commands.DownloadItemClick();
        EXPECT_EQ(out.kind, CommandOutcome::Failed);
        EXPECT_EQ(out.text, "Download PLU...Error!");
        EXPECT_EQ(st->bus.Failure(), BusFailure::HungUp);
        EXPECT_TRUE(out.cause.startsWith("the line hung up")) << out.cause.toStdString();
        EXPECT_LT(t.elapsed(), 4000);
        EXPECT_LT(Sim.requests().size(), 84u);
        st->bus.SetActive(false);
    }
}

} // namespace
