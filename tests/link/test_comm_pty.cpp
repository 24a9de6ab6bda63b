// The serial port on pseudo-terminals, and the bus engine on the real port
// against the simulated scale.
#include "comm.h"
#include "kyrbuscomm.h"
#include "protocol.h"
#include "ptytools.h"
#include "testdirs.h"
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <atomic>
#if VARLO_HAVE_SCALESIM
#include "scalesim.h"
#endif

namespace {

QByteArray Hex(const char* spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }

// Records what a port raises.
struct Events {
    explicit Events(TComm& c)
    {
        c.OnReceiveData = [this](const uint8_t* d, int n, uint64_t seen) {
            Chunks << QByteArray(reinterpret_cast<const char*>(d), n);
            Stamps << seen;
        };
        c.OnSendDataEmpty = [this](uint64_t done) { Drains << done; };
        c.OnRequestHangup = [this] { ++Hangups; };
    }
    QByteArray All() const
    {
        QByteArray a;
        for (const QByteArray& c : Chunks)
            a += c;
        return a;
    }
    QList<QByteArray> Chunks;
    QList<uint64_t> Stamps;
    QList<uint64_t> Drains;
    int Hangups = 0;
};

termios SlaveSettings(const Pty& pty)
{
    termios t = {};
    ::tcgetattr(pty.master, &t);   // a pty master reports its slave's settings
    return t;
}

TEST(SerialPort, WritesDrainAndReceives)
{
    Pty pty;
    TComm port;
    Events ev(port);
    EXPECT_FALSE(port.WriteData(reinterpret_cast<const uint8_t*>("x"), 1));   // closed
    port.SetCommName(pty.slave);
    port.OpenPort();
    ASSERT_TRUE(port.isOpen());
    EXPECT_EQ(port.DevicePath(), pty.slave);
    ASSERT_TRUE(RunUntil([&] { return ev.Drains.size() == 1; }));   // once after opening
    EXPECT_EQ(ev.Drains, QList<uint64_t>{0});

    // Bytes before any write carry stamp 0.
    pty.write(Hex("AA 55"));
    ASSERT_TRUE(RunUntil([&] { return ev.All().size() == 2; }));
    EXPECT_EQ(ev.Stamps.value(0), 0u);

    const QByteArray ten = "0123456789";
    EXPECT_FALSE(port.WriteData(reinterpret_cast<const uint8_t*>(ten.constData()), 0));
    EXPECT_TRUE(port.WriteData(reinterpret_cast<const uint8_t*>(ten.constData()), 10));
    EXPECT_EQ(port.WriteSequence(), 1u);
    EXPECT_EQ(pty.read(10), ten);
    ASSERT_TRUE(RunUntil([&] { return ev.Drains.size() == 2; }));
    EXPECT_EQ(ev.Drains.last(), 1u);

    // The answer comes after block 1 was written.
    pty.write(Hex("02"));
    ASSERT_TRUE(RunUntil([&] { return ev.All().size() == 3; }));
    EXPECT_EQ(ev.Stamps.last(), 1u);
    EXPECT_EQ(ev.Hangups, 0);
}

TEST(SerialPort, BurstArrivesInOrderInBoundedChunks)
{
    Pty pty;
    TComm port;
    Events ev(port);
    port.SetCommName(pty.slave);
    port.SetReadIntervalTimeout(1);
    port.SetOutx_XonXoffFlow(false);   // the burst holds 0x11 and 0x13
    port.OpenPort();
    QByteArray burst;
    for (int i = 0; i < 3000; ++i)
        burst += char((i * 7) % 251);
    pty.write(burst);
    ASSERT_TRUE(RunUntil([&] { return ev.All().size() >= 3000; }));
    EXPECT_EQ(ev.All(), burst);
    EXPECT_GE(ev.Chunks.size(), 2);
    for (const QByteArray& c : ev.Chunks)
        EXPECT_LE(c.size(), 2048);
}

// A device that talks faster than the owner takes the bytes: what waits
// for the owner stays bounded and the rest is counted as dropped.
TEST(SerialPort, BytesTheOwnerHasNotTakenAreBounded)
{
    Pty pty;
    TComm port;
    Events ev(port);
    port.SetCommName(pty.slave);
    port.SetOutx_XonXoffFlow(false);
    port.OpenPort();
    const QByteArray block(4096, char(0x55));
    const int blocks = 256;   // 1 MiB while the owner's thread does not turn
    std::thread talker([&] {
        for (int i = 0; i < blocks; ++i)
            pty.write(block);
    });
    talker.join();
    // What had piled up comes in one go, before the loop turns again.
    qsizetype firstGo = -1;
    auto record = port.OnReceiveData;
    port.OnReceiveData = [&](const uint8_t* d, int n, uint64_t seen) {
        if (ev.Chunks.isEmpty())
            QTimer::singleShot(0, [&] { firstGo = ev.All().size(); });
        record(d, n, seen);
    };
    ASSERT_TRUE(RunUntil([&] {
        return firstGo >= 0 && ev.All().size() + port.DroppedBytes() >= uint64_t(blocks) * 4096;
    }));
    EXPECT_GT(firstGo, 0);
    EXPECT_LE(firstGo, 64 * 1024);
    EXPECT_GT(port.DroppedBytes(), 0u);
    for (const QByteArray& c : ev.Chunks)
        EXPECT_LE(c.size(), 2048);
}

TEST(SerialPort, OpenTwiceCloseTwiceAndReopen)
{
    Pty pty;
    TComm port;
    Events ev(port);
    port.SetCommName(pty.slave);
    port.OpenPort();
    port.OpenPort();
    ASSERT_TRUE(RunUntil([&] { return ev.Drains.size() == 1; }));
    pty.write("ab");
    ASSERT_TRUE(RunUntil([&] { return ev.All() == "ab"; }));
    EXPECT_EQ(ev.Drains.size(), 1);   // the second open started nothing

    port.ClosePort();
    port.ClosePort();
    EXPECT_FALSE(port.isOpen());
    port.OpenPort();
    ASSERT_TRUE(RunUntil([&] { return ev.Drains.size() == 2; }));
    EXPECT_TRUE(port.WriteData(reinterpret_cast<const uint8_t*>("z"), 1));
    EXPECT_EQ(pty.read(1), "z");
    ASSERT_TRUE(RunUntil([&] { return ev.Drains.size() == 3; }));
    EXPECT_EQ(ev.Drains.last(), 1u);
}

TEST(SerialPort, OpenFailuresRaiseTheFixedMessages)
{
    ScopedHome home;
    home.write("plain.txt", "not a device");
    struct Case {
        QString name;
        const char* message;
        QString detail;
    };
    const QList<Case> cases{
        {"/dev/varlo-no-such-port", "Error opening serial port", "No such file"},
        {home.file("plain.txt"), "File handle is not a comm handle ", "not a character device"},
        {"/dev/null", "Cannot setup comm buffer", "/dev/null"},
        {"COM77", "Error opening serial port", "/dev/ttyS76"},
    };
    for (const Case& c : cases) {
        TComm port;
        port.SetCommName(c.name);
        try {
            port.OpenPort();
            ADD_FAILURE() << "opened " << c.name.toStdString();
        } catch (const ECommsError& e) {
            EXPECT_EQ(e.Message, c.message) << c.name.toStdString();
            EXPECT_TRUE(e.Detail.contains(c.detail)) << e.Detail.toStdString();
        }
        EXPECT_FALSE(port.isOpen());
    }
}

TEST(SerialPort, DeviceNames)
{
    EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(SerialDevicePath("com4"), "/dev/ttyS3");
    EXPECT_EQ(SerialDevicePath("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(SerialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
}

TEST(SerialPort, LineSettingsFollowTheProperties)
{
    Pty pty;
    TComm port;
    port.SetCommName(pty.slave);
    port.OpenPort();
    termios t = SlaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));   // the port's own defaults

    // A pty keeps CS8 without parity whatever it is told; the rest it keeps.
    port.SetBaudRate(2400);
    port.SetStopBits(TStopBits::_2);
    port.SetOutx_CtsFlow(true);
    port.SetOutx_XonXoffFlow(false);
    t = SlaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B2400));
    EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), tcflag_t(CSTOPB | CRTSCTS));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), tcflag_t(IXOFF));
    port.SetParity(TParity::Even);   // refused by the pty, and not reported
    port.SetByteSize(TByteSize::_7);

    // Setting the value it already has applies nothing ...
    cfsetospeed(&t, B4800);
    cfsetispeed(&t, B4800);
    ASSERT_EQ(::tcsetattr(pty.master, TCSANOW, &t), 0);
    port.SetBaudRate(2400);
    t = SlaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    // ... another value applies the whole setting.
    t.c_cflag &= ~CSTOPB;
    ::tcsetattr(pty.master, TCSANOW, &t);
    port.SetBaudRate(19200);
    t = SlaveSettings(pty);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
}

TEST(SerialPort, HangUpIsReportedOnceAndCostsNoCpu)
{
    Pty pty;
    TComm port;
    Events ev(port);
    port.SetCommName(pty.slave);
    port.OpenPort();
    ASSERT_TRUE(RunUntil([&] { return ev.Drains.size() == 1; }));
    pty.closeMaster();
    ASSERT_TRUE(RunUntil([&] { return ev.Hangups > 0; }));

    const double cpu = CpuSeconds();
    RunUntil([] { return false; }, 300);
    EXPECT_LT(CpuSeconds() - cpu, 0.1);
    EXPECT_LE(ev.Hangups, 2);   // reader, and the writer if it noticed too
    port.ClosePort();
}

// A real UART counts line errors, carrier changes and rings; here the test
// moves the counters as a driver would.
TEST(SerialPort, LineErrorsAndModemChangesComeFromTheDriversCounters)
{
    Pty pty;
    TComm port;
    Events ev(port);
    QList<uint32_t> errors, modem;
    port.OnReceiveError = [&](uint32_t m) { errors << m; };
    port.OnModemStateChange = [&](uint32_t m) { modem << m; };
    std::mutex mutex;
    LineCounters driver;
    driver.frame = 7;   // counts from before the open are not events
    driver.dcd = 3;
    port.LineCounterSource = [&](int, LineCounters& out) {
        std::lock_guard lock(mutex);
        out = driver;
        return true;
    };
    auto move = [&](const std::function<void(LineCounters&)>& change) {
        std::lock_guard lock(mutex);
        change(driver);
    };
    port.SetCommName(pty.slave);
    port.OpenPort();
    ASSERT_TRUE(RunUntil([&] { return ev.Drains.size() == 1; }));
    RunUntil([] { return false; }, 3 * TComm::LineWatchMs);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(modem.isEmpty());

    move([](LineCounters& c) { c.frame += 1; c.parity += 2; });
    ASSERT_TRUE(RunUntil([&] { return !errors.isEmpty(); }));
    EXPECT_EQ(errors, QList<uint32_t>{LineErrFrame | LineErrParity});
    EXPECT_TRUE(modem.isEmpty());

    move([](LineCounters& c) { ++c.dcd; });
    ASSERT_TRUE(RunUntil([&] { return !modem.isEmpty(); }));
    EXPECT_EQ(modem, QList<uint32_t>{ModemCarrierChanged});

    move([](LineCounters& c) { ++c.rng; ++c.dcd; ++c.brk; ++c.overrun; ++c.bufOverrun; });
    ASSERT_TRUE(RunUntil([&] { return errors.size() == 2 && modem.size() == 2; }));
    EXPECT_EQ(errors[1], uint32_t(LineErrRxOver | LineErrOverrun | LineErrBreak));
    EXPECT_EQ(modem[1], uint32_t(ModemCarrierChanged | ModemRing));

    // Data still flows, and counters that stand still raise nothing.
    pty.write("ok");
    ASSERT_TRUE(RunUntil([&] { return ev.All() == "ok"; }));
    RunUntil([] { return false; }, 3 * TComm::LineWatchMs);
    EXPECT_EQ(errors.size(), 2);
    EXPECT_EQ(modem.size(), 2);

    port.ClosePort();
    move([](LineCounters& c) { ++c.frame; });
    RunUntil([] { return false; }, 3 * TComm::LineWatchMs);
    EXPECT_EQ(errors.size(), 2) << "nothing is raised after the close";
    EXPECT_EQ(ev.Hangups, 0);
}

TEST(SerialPort, APseudoTerminalKeepsNoLineCountersAndIsNotWatched)
{
    Pty pty;
    const int fd = ::open(QFile::encodeName(pty.slave).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    LineCounters c;
    EXPECT_FALSE(ReadTtyLineCounters(fd, c));
    ::close(fd);

    // With no counters the idle reader sleeps until a byte comes.
    TComm port;
    Events ev(port);
    std::atomic<int> looks{0};
    port.LineCounterSource = [&](int fd, LineCounters& out) {
        ++looks;
        return ReadTtyLineCounters(fd, out);
    };
    port.SetCommName(pty.slave);
    port.OpenPort();
    ASSERT_TRUE(RunUntil([&] { return ev.Drains.size() == 1; }));
    RunUntil([] { return false; }, 4 * TComm::LineWatchMs);
    EXPECT_EQ(looks.load(), 1) << "asked once at the open, never again";
    port.ClosePort();
}

// Nice values of this process's threads, from /proc.
QList<int> ThreadNiceValues()
{
    QList<int> values;
    const QDir tasks("/proc/self/task");
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(tid + "/stat"));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 16)
            values << fields[16].toInt();   // field 19 of the line: nice
    }
    return values;
}

TEST(SerialPort, ReaderAndWriterRunAboveTheProgram)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only a privileged user may raise a thread's priority";
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, 0);
    ASSERT_EQ(errno, 0);
    Pty pty;
    TComm port;
    Events ev(port);
    port.SetCommName(pty.slave);
    port.OpenPort();   // returns once both threads run at their priority
    const QList<int> open = ThreadNiceValues();
    EXPECT_TRUE(open.contains(base - 2)) << "reader";
    EXPECT_TRUE(open.contains(base - 1)) << "writer";
    port.ClosePort();
    const QList<int> closed = ThreadNiceValues();
    EXPECT_FALSE(closed.contains(base - 2));
    EXPECT_FALSE(closed.contains(base - 1));
}

TEST(SerialPort, WriterStopsAfterAHangUp)
{
    Pty pty;
    TComm port;
    Events ev(port);
    port.SetCommName(pty.slave);
    port.OpenPort();
    ASSERT_TRUE(RunUntil([&] { return ev.Drains.size() == 1; }));
    pty.closeMaster();
    ASSERT_TRUE(RunUntil([&] { return ev.Hangups > 0; }));
    // The writer meets the dead line with this block and ends; later
    // blocks are refused instead of queued for nobody.
    EXPECT_TRUE(port.WriteData(reinterpret_cast<const uint8_t*>("x"), 1));
    ASSERT_TRUE(RunUntil([&] { return !port.WriteData(reinterpret_cast<const uint8_t*>("y"), 1); }));
    EXPECT_EQ(ev.Drains.size(), 1);
}

TEST(SerialPort, IgnoreNullCharDropsZeroBytes)
{
    Pty pty;
    TComm port;
    Events ev(port);
    port.SetCommName(pty.slave);
    port.SetIgnoreNullChar(true);
    port.OpenPort();
    pty.write(QByteArray("\0a\0\0b\0", 6));
    ASSERT_TRUE(RunUntil([&] { return ev.All().size() >= 2; }));
    EXPECT_EQ(ev.All(), "ab");
}

// Bytes the reader handed on just before the close must not reach the owner
// afterwards, nor the drain notice of the closed session.
TEST(SerialPort, NothingIsRaisedAfterClose)
{
    Pty pty;
    TComm port;
    Events ev(port);
    port.SetCommName(pty.slave);
    port.OpenPort();
    pty.write("abc");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));   // posted, not yet handled
    port.ClosePort();
    RunUntil([] { return false; }, 200);
    EXPECT_TRUE(ev.Chunks.isEmpty());
    EXPECT_TRUE(ev.Drains.isEmpty());
}

TEST(SerialPort, OpenCloseCyclesLeaveNoDescriptors)
{
    auto descriptors = [] {
        return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    };
    Pty pty;
    const auto before = descriptors();
    {
        TComm port;
        port.SetCommName(pty.slave);
        for (int i = 0; i < 20; ++i) {
            port.OpenPort();
            port.ClosePort();
        }
        port.OpenPort();   // the destructor closes it
    }
    for (const char* name : {"/dev/null", "/dev/varlo-no-such-port"}) {
        TComm port;
        port.SetCommName(name);
        EXPECT_THROW(port.OpenPort(), ECommsError);
    }
    EXPECT_EQ(descriptors(), before);
}

// Nobody reads the other end: the writer is stuck on a full line. Closing
// must still end it (a hang here runs into the CTest time-out).
TEST(SerialPort, CloseEndsAWriterStuckOnAFullLine)
{
    Pty pty;
    TComm port;
    Events ev(port);
    port.SetCommName(pty.slave);
    port.OpenPort();
    const QByteArray block(60000, 'x');
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(port.WriteData(reinterpret_cast<const uint8_t*>(block.constData()), uint16_t(block.size())));
    RunUntil([] { return false; }, 100);
    port.ClosePort();
    EXPECT_FALSE(port.isOpen());
    EXPECT_LE(ev.Drains.size(), 1);
}

// ------------------------------------------------------------ unprivileged

// Child half of the permission tests (run only by them): opens the device
// the parent names.
TEST(PortChild, DISABLED_OpenFromEnvironment)
{
    const QByteArray device = qgetenv("VARLO_LINK_CHILD_DEVICE");
    ASSERT_FALSE(device.isEmpty());
    TComm port;
    port.SetCommName(QString::fromLocal8Bit(device));
    try {
        port.OpenPort();
        std::printf("MESSAGE:opened\n");
    } catch (const ECommsError& e) {
        std::printf("MESSAGE:%s\nDETAIL:%s\n", e.Message.toLocal8Bit().constData(),
                    e.Detail.toLocal8Bit().constData());
    }
    std::fflush(stdout);
}

struct ChildOutcome {
    QString message, detail, output;
};

// Root bypasses both the permission bits and TIOCEXCL, so the child runs
// as nobody when the suite runs as root.
ChildOutcome OpenInUnprivilegedChild(const QString& device)
{
    const QString self = QFileInfo("/proc/self/exe").canonicalFilePath();
    QStringList args{"--gtest_also_run_disabled_tests", "--gtest_filter=PortChild.*"};
    QString program = self;
    if (::geteuid() == 0) {
        program = "setpriv";
        args = QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", self} + args;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VARLO_LINK_CHILD_DEVICE", device);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(program, args);
    ChildOutcome out;
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished();
    }
    out.output = QString::fromLocal8Bit(child.readAll());
    for (const QString& line : out.output.split('\n')) {
        if (line.startsWith("MESSAGE:"))
            out.message = line.mid(8);
        else if (line.startsWith("DETAIL:"))
            out.detail = line.mid(7);
    }
    return out;
}

TEST(SerialPortUnprivileged, PermissionDenied)
{
    Pty pty;
    ASSERT_EQ(::chmod(QFile::encodeName(pty.slave).constData(), ::geteuid() == 0 ? 0600 : 0000), 0);
    const ChildOutcome out = OpenInUnprivilegedChild(pty.slave);
    EXPECT_EQ(out.message, "Error opening serial port") << out.output.toStdString();
    EXPECT_TRUE(out.detail.startsWith(pty.slave + ": ")) << out.detail.toStdString();
    EXPECT_TRUE(out.detail.contains("dialout")) << out.detail.toStdString();
}

TEST(SerialPortUnprivileged, BusyPort)
{
    Pty pty;
    ASSERT_EQ(::chmod(QFile::encodeName(pty.slave).constData(), 0666), 0);

    // Another program holding the lock only ...
    const int holder = ::open(QFile::encodeName(pty.slave).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ChildOutcome out = OpenInUnprivilegedChild(pty.slave);
    EXPECT_EQ(out.message, "Error opening serial port") << out.output.toStdString();
    EXPECT_TRUE(out.detail.contains("the port is in use by another program")) << out.detail.toStdString();
    ::close(holder);

    // ... and another port of ours, which also sets TIOCEXCL.
    TComm other;
    other.SetCommName(pty.slave);
    other.OpenPort();
    out = OpenInUnprivilegedChild(pty.slave);
    EXPECT_EQ(out.message, "Error opening serial port") << out.output.toStdString();
    EXPECT_TRUE(out.detail.contains("the port is in use by another program")) << out.detail.toStdString();

    // Once it is closed, the device is free again.
    other.ClosePort();
    out = OpenInUnprivilegedChild(pty.slave);
    EXPECT_EQ(out.message, "opened") << out.output.toStdString();
}

// ------------------------------------------------------------ engine on a pty

#if VARLO_HAVE_SCALESIM

using varlo::sim::ScaleSim;

class EngineOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        Bus.CommName = QString::fromStdString(Sim.start());
        Bus.SetBaudRate(9600);
        Bus.RetryInterval = 2000;   // generous: a loaded machine must not cause retries
        Bus.TraceEnabled = -1;
        Bus.SetActive(true);
        Watchdog.setSingleShot(true);
        QObject::connect(&Watchdog, &QTimer::timeout, [this] {
            ADD_FAILURE() << "watchdog fired";
            Bus.Cancel();
        });
        Watchdog.start(20000);
    }
    void TearDown() override
    {
        Watchdog.stop();
        if (Bus.isActive())
            Bus.SetActive(false);
        Sim.stop();
    }
    QStringList WireFrames() const
    {
        QStringList out;
        for (const auto& r : Sim.requests())
            out << QString::fromLatin1(
                QByteArray(reinterpret_cast<const char*>(r.frame.data()), qsizetype(r.frame.size()))
                    .toHex(' ')
                    .toUpper());
        return out;
    }

    ScopedHome Home;
    ScaleSim Sim;
    TKYRBusComm Bus;
    QTimer Watchdog;
};

TEST_F(EngineOnPty, EveryRequestKind)
{
    Sim.setPriceMode(0x5B);
    const varlo::sim::Indication ind{varlo::sim::Indication::State::Values, 1234, 150, 185};
    Sim.setIndication(ind);
    const auto frame = varlo::sim::allValuesFrame(ind);

    EXPECT_TRUE(Bus.SendCommand(0x44, 0, 0, 0));
    EXPECT_TRUE(Bus.SendCommand(0x11, 0, 0, 0));
    EXPECT_TRUE(Bus.ReadBlock(0x55, 0x83, 3, 1));
    EXPECT_EQ(Bus.Buffer[0], 0x5B);
    Bus.Buffer[0] = 0x12;
    EXPECT_TRUE(Bus.SendCommand(0x77, 0x83, 3, 1));
    EXPECT_EQ(Sim.priceMode(), 0x12);
    EXPECT_EQ(Bus.SendCommand(0x05, 0, 0, 0, ReplyForm::WholeFrame).bytes,
              QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size())));
    EXPECT_TRUE(Bus.SendCommand(0x33, 0, 0, 0));
    EXPECT_EQ(WireFrames(), QStringList({"44", "11 00 00 00 00 EF", "55 83 00 03 01 24", "77 83 00 03 01 12 F0",
                                         "05", "33 00 00 00 00 CD"}));
    EXPECT_FALSE(Bus.OwnTrace()->Lines().contains("Retry:1"));

    Bus.SetActive(false);
    EXPECT_TRUE(Home.read("DEBUG.LOG").startsWith(">>>>>>Send data<<<<<<<<\r\n44 \r\n\r\n"));
}

TEST_F(EngineOnPty, SilenceGivesRetryCountPlusOneFrames)
{
    Sim.addFault("silence@count=always");
    Bus.RetryInterval = 50;
    EXPECT_FALSE(Bus.SendCommand(0x11, 0, 0, 0));
    ASSERT_TRUE(Sim.waitForRequests(7, std::chrono::milliseconds(2000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(Sim.requests().size(), 7u);
    EXPECT_TRUE(Bus.OwnTrace()->Lines().contains("Retry:6"));
    EXPECT_FALSE(Bus.OwnTrace()->Lines().contains("Retry:7"));
}

TEST_F(EngineOnPty, HangUpFailsTheRequestWithoutSpinning)
{
    Bus.RetryInterval = 5000;
    Sim.addFault("hangup@cmd=11");
    const double cpu = CpuSeconds();
    EXPECT_TRUE(Bus.SendCommand(0x44, 0, 0, 0));
    EXPECT_FALSE(Bus.SendCommand(0x11, 0, 0, 0));
    EXPECT_TRUE(Bus.isHungUp());
    EXPECT_FALSE(Bus.ReadBlock(0x55, 0x83, 3, 1));   // fails at once, nothing to wait for
    RunUntil([] { return false; }, 300);
    EXPECT_LT(CpuSeconds() - cpu, 0.25);
    Bus.SetActive(false);
}

// The command line turns SIGINT into Cancel through a self-pipe and a socket
// notifier; the nested wait must let that through.
int SignalPipe[2] = {-1, -1};
void OnSigint(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(SignalPipe[1], &c, 1);
}

class SigintCancel {
public:
    explicit SigintCancel(TKYRBusComm& bus)
    {
        EXPECT_EQ(::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK), 0);
        Notifier = std::make_unique<QSocketNotifier>(SignalPipe[0], QSocketNotifier::Read);
        QObject::connect(Notifier.get(), &QSocketNotifier::activated, [&bus] {
            char c;
            while (::read(SignalPipe[0], &c, 1) > 0) {}
            bus.Cancel();
        });
        struct sigaction sa = {};
        sa.sa_handler = OnSigint;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGINT, &sa, &Old);
    }
    ~SigintCancel()
    {
        if (Raiser.joinable())
            Raiser.join();
        ::sigaction(SIGINT, &Old, nullptr);
        Notifier.reset();
        ::close(SignalPipe[0]);
        ::close(SignalPipe[1]);
    }
    void RaiseSoon()
    {
        Raiser = std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ::kill(::getpid(), SIGINT);
        });
    }

private:
    std::unique_ptr<QSocketNotifier> Notifier;
    struct sigaction Old = {};
    std::thread Raiser;
};

TEST_F(EngineOnPty, SigintCancelsTheWait)
{
    Sim.addFault("silence@count=always");
    Bus.RetryInterval = 60000;
    {
        SigintCancel cancel(Bus);
        cancel.RaiseSoon();
        EXPECT_EQ(Bus.SendCommand(0x11, 0, 0, 0).failure, BusFailure::Cancelled);
    }
    EXPECT_EQ(Sim.requests().size(), 1u);

}

// A reply of known length goes on as soon as it is whole; a frame of
// unknown length still waits for the line to fall quiet.
TEST_F(EngineOnPty, AKnownReplyLengthEndsTheWaitBeforeTheQuietGap)
{
    Sim.setIndication({varlo::sim::Indication::State::Values, 1234, 150, 185});
    Bus.Port()->SetReadIntervalTimeout(300);
    struct Case {
        const char* name;
        std::function<BusResult()> request;
        bool early;
    };
    const QList<Case> cases{
        {"command", [this] { return Bus.SendCommand(0x44, 0, 0, 0); }, true},
        {"read", [this] { return Bus.ReadBlock(0x55, 0xF4, 0, 11); }, true},
        {"whole frame", [this] { return Bus.SendCommand(0x05, 0, 0, 0, ReplyForm::WholeFrame); }, false},
    };
    for (const Case& c : cases) {
        QElapsedTimer t;
        t.start();
        EXPECT_TRUE(c.request()) << c.name;
        EXPECT_EQ(t.elapsed() < 250, c.early) << c.name << " took " << t.elapsed() << " ms";
    }
}

// One engine per scale, each on its own thread with its own port, clock and
// trace: two downloads' worth of traffic at once, neither disturbing the other.
TEST(TwoEngines, RunOnTwoThreadsAgainstTwoScales)
{
    ScopedHome home;
    auto run = [](ScaleSim* sim, QString logName, int priceOffset, QString* problem) {
        TraceLog log([logName] { return logName; });
        TComm port;
        TQtWaitClock clock;
        TKYRBusComm bus(&port, &clock, &log);
        bus.CommName = QString::fromStdString(sim->slavePath());
        bus.SetBaudRate(9600);
        bus.RetryInterval = 2000;
        bus.TraceEnabled = -1;
        bus.SetActive(true);
        for (int i = 1; i <= kyr::PluRecords && problem->isEmpty(); ++i) {
            bus.Buffer[0] = 0;
            bus.Buffer[1] = 0;
            bus.Buffer[2] = 0;
            bus.Buffer[3] = uint8_t(i + priceOffset);
            if (const BusResult r = bus.SendCommand(kyr::CmdWrite, kyr::BankPlu, kyr::pluAddress(i), 4); !r)
                *problem = r.cause;
            else if (const BusResult back = bus.ReadBlock(kyr::CmdRead, kyr::BankPlu, kyr::pluAddress(i), 4);
                     back.bytes != QByteArray(reinterpret_cast<const char*>(bus.Buffer), 4) || !back)
                *problem = "read back " + back.bytes.toHex() + " " + back.cause;
        }
        bus.SetActive(false);
    };
    ScaleSim a, b;
    a.start();
    b.start();
    QString problemA, problemB;
    const QString logA = home.file("A.LOG"), logB = home.file("B.LOG");
    std::unique_ptr<QThread> ta(QThread::create(run, &a, logA, 0, &problemA));
    std::unique_ptr<QThread> tb(QThread::create(run, &b, logB, 100, &problemB));
    ta->start();
    tb->start();
    ASSERT_TRUE(ta->wait(60000));
    ASSERT_TRUE(tb->wait(60000));
    EXPECT_EQ(problemA, "");
    EXPECT_EQ(problemB, "");
    for (int i = 1; i <= kyr::PluRecords; ++i) {
        EXPECT_EQ(a.plu(i).price, uint32_t(i)) << i;
        EXPECT_EQ(b.plu(i).price, uint32_t(i + 100)) << i;
    }
    // Each trace holds its own scale's traffic only.
    const QByteArray traceA = home.read("A.LOG"), traceB = home.read("B.LOG");
    EXPECT_EQ(traceA.count("Send data"), 2 * kyr::PluRecords);
    EXPECT_EQ(traceB.count("Send data"), 2 * kyr::PluRecords);
    EXPECT_TRUE(traceA.contains("77 F9 00 C4 04 00 00 00 01 ")) << traceA.left(200).constData();
    EXPECT_FALSE(traceA.contains("77 F9 00 C4 04 00 00 00 65 "));
    EXPECT_TRUE(traceB.contains("77 F9 00 C4 04 00 00 00 65 "));
    EXPECT_FALSE(QFile::exists(home.file("DEBUG.LOG")));
}

#endif // VARLO_HAVE_SCALESIM

} // namespace
