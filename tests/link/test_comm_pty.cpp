// The serial port on pseudo-terminals, and the bus engine on the real port
// against the simulated scale.
#include "comm.h"
#include "kyrbuscomm.h"
#include "linktools.h"
#include "protocol.h"
#include "testdirs.h"
#include "unprivileged.h"
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QThread>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <type_traits>
#include <chrono>
#include <thread>
#include <vector>
#include "scalesim.h"

namespace {

class SerialPort : public ::testing::Test {
protected:
    // Opens the port on the pseudo-terminal; with `settle`, true once the
    // notice every open sends has come.
    bool Open(bool settle = true)
    {
        Port.SetCommName(Tty.slave);
        Port.OpenPort();
        return !settle || RunUntil([&] { return Ev.Drains.size() == 1; });
    }
    termios Line() const
    {
        termios t = {};
        ::tcgetattr(Tty.master, &t);   // a pty master reports its slave's settings
        return t;
    }

    Pty Tty;
    TComm Port;
    PortEvents Ev{Port};
};

TEST_F(SerialPort, WritesDrainReceiveAndGoOnAcrossAReopen)
{
    EXPECT_FALSE(Send(Port, "x"));   // closed
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Port.isOpen());
    EXPECT_EQ(Port.DevicePath(), Tty.slave);
    EXPECT_EQ(Ev.Drains, QList<uint64_t>{0});   // once after opening

    // Bytes before any write carry stamp 0.
    Tty.write(Hex("AA 55"));
    ASSERT_TRUE(RunUntil([&] { return Ev.Data.size() == 2; }));
    EXPECT_EQ(Ev.Stamps.value(0), 0u);

    EXPECT_FALSE(Send(Port, {}));
    EXPECT_TRUE(Send(Port, "0123456789"));
    EXPECT_EQ(Port.WriteSequence(), 1u);
    EXPECT_EQ(Tty.read(10), "0123456789");
    ASSERT_TRUE(RunUntil([&] { return Ev.Drains.size() == 2; }));
    EXPECT_EQ(Ev.Drains.last(), 1u);

    // The answer comes after block 1 was written.
    Tty.write(Hex("02"));
    ASSERT_TRUE(RunUntil([&] { return Ev.Data.size() == 3; }));
    EXPECT_EQ(Ev.Stamps.last(), 1u);

    Port.OpenPort();   // a second open is a no-op: no session, no notice
    Tty.write("ab");
    ASSERT_TRUE(RunUntil([&] { return Ev.Data.endsWith("ab"); }));
    EXPECT_EQ(Ev.Drains.size(), 2);

    // Closing twice is harmless; the numbers go on after a reopen.
    Port.ClosePort();
    Port.ClosePort();
    EXPECT_FALSE(Port.isOpen());
    Port.OpenPort();
    ASSERT_TRUE(RunUntil([&] { return Ev.Drains.size() == 3; }));
    EXPECT_TRUE(Send(Port, "z"));
    EXPECT_EQ(Tty.read(1), "z");
    ASSERT_TRUE(RunUntil([&] { return Ev.Drains.size() == 4; }));
    EXPECT_EQ(Ev.Drains.last(), 2u);
    EXPECT_EQ(Ev.Hangups, 0);
}

TEST_F(SerialPort, BurstArrivesInOrderInBoundedChunks)
{
    Port.SetReadIntervalTimeout(1);
    Port.SetOutx_XonXoffFlow(false);   // the burst holds 0x11 and 0x13
    Open(false);
    QByteArray burst;
    for (int i = 0; i < 3000; ++i)
        burst += char((i * 7) % 251);
    Tty.write(burst);
    ASSERT_TRUE(RunUntil([&] { return Ev.Data.size() >= 3000; }));
    EXPECT_EQ(Ev.Data, burst);
    EXPECT_GE(Ev.Chunks.size(), 2);
    for (const QByteArray& c : Ev.Chunks)
        EXPECT_LE(c.size(), 2048);
}

TEST_F(SerialPort, BytesTheOwnerHasNotTakenAreBounded)
{
    Port.SetOutx_XonXoffFlow(false);
    Open(false);
    ExpectWhatWaitsForTheOwnerBounded(Port, Ev, [&](const QByteArray& b) { Tty.write(b); });
}

TEST_F(SerialPort, OpenFailuresRaiseTheFixedMessagesAndLeaveNoDescriptors)
{
    auto descriptors = [] {
        return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    };
    ScopedHome home;
    home.write("plain.txt", "not a device");
    const auto before = descriptors();
    struct Case { QString name; const char* message; QString detail; };
    const QList<Case> cases{
        {"/dev/varlo-no-such-port", "Error opening serial port", "No such file"},
        {home.file("plain.txt"), "File handle is not a comm handle ", "not a character device"},
        {"/dev/null", "Cannot setup comm buffer", "/dev/null"},
        {"COM77", "Error opening serial port", "/dev/ttyS76"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        TComm port;
        port.SetCommName(c.name);
        const auto [message, detail] = OpenFailure(port);
        EXPECT_EQ(message, c.message);
        EXPECT_TRUE(detail.contains(c.detail)) << detail.toStdString();
        EXPECT_FALSE(port.isOpen());
    }
    {
        TComm port;
        port.SetCommName(Tty.slave);
        for (int i = 0; i < 20; ++i) {
            port.OpenPort();
            port.ClosePort();
        }
        port.OpenPort();   // the destructor closes it
    }
    EXPECT_EQ(descriptors(), before);
}

TEST_F(SerialPort, DeviceNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"}, {"com4", "/dev/ttyS3"}, {"/dev/pts/7", "/dev/pts/7"}, {"ttyUSB0", "/dev/ttyUSB0"}};
    for (const auto& [name, path] : cases)
        EXPECT_EQ(SerialDevicePath(name), path) << name;
}

// One published property of the port, its type erased: the getter holds the
// default or the other value; the setter stores one of them.
struct Property {
    const char* name;
    std::function<bool(const TComm&, bool other)> holds;
    std::function<void(TComm&, bool other)> set;
};
template <class T>
Property Prop(const char* name, T (TComm::*get)() const, void (TComm::*set)(T), std::type_identity_t<T> def,
              std::type_identity_t<T> other)
{
    return {name, [=](const TComm& p, bool o) { return (p.*get)() == (o ? other : def); },
            [=](TComm& p, bool o) { (p.*set)(o ? other : def); }};
}
#define PROP(Name, def, other) Prop(#Name, &TComm::Name, &TComm::Set##Name, def, other)

// Every property: its default, that the setter stores, and what the value
// makes of the line at the open and at once while open. A pty keeps CS8
// without PARENB whatever it is told, so the byte size leaves no trace and
// parity shows in PARODD and CMSPAR only; settings a tty has no equivalent
// of show nothing.
TEST_F(SerialPort, PropertiesHaveTheirDefaultsAndReachTheLine)
{
    auto cflag = [this](tcflag_t mask) { return [this, mask] { return unsigned(Line().c_cflag & mask); }; };
    auto iflag = [this](tcflag_t mask) { return [this, mask] { return unsigned(Line().c_iflag & mask); }; };
    auto cc = [this](int at) { return [this, at] { return unsigned(Line().c_cc[at]); }; };
    auto speed = [this] {
        const termios t = Line();
        return unsigned(cfgetospeed(&t));
    };
    auto received = [this] {   // what is left of NUL a NUL NUL b
        Ev.Data.clear();
        Tty.write(QByteArray("\0a\0\0b", 5));
        RunUntil([&] { return Ev.Data.endsWith('b'); });
        return unsigned(Ev.Data.size());
    };
    struct Row {
        Property p;
        std::function<unsigned()> line = nullptr;   // nothing to see
        unsigned lineDefault = 0, lineOther = 0;
    };
    const Row rows[] = {
        {PROP(BaudRate, 9600, 2400), speed, B9600, B2400},
        {PROP(ParityCheck, false, true), iflag(INPCK), 0, INPCK},
        {PROP(Outx_CtsFlow, false, true), cflag(CRTSCTS), 0, CRTSCTS},
        {PROP(Outx_DsrFlow, false, true)},
        {PROP(DtrControl, DtrEnable, DtrDisable)},
        {PROP(DsrSensitivity, false, true)},
        {PROP(TxContinueOnXoff, true, false)},
        {PROP(Outx_XonXoffFlow, true, false), iflag(IXON), IXON, 0},
        {PROP(Inx_XonXoffFlow, true, false), iflag(IXOFF), IXOFF, 0},
        {PROP(ReplaceWhenParityError, false, true)},
        {PROP(IgnoreNullChar, false, true), received, 5, 2},
        {PROP(RtsControl, RtsEnable, RtsHandshake), cflag(CRTSCTS), 0, CRTSCTS},
        {PROP(XonLimit, 500, 100)},
        {PROP(XoffLimit, 500, 100)},
        {PROP(ByteSize, TByteSize::_8, TByteSize::_7)},
        {PROP(Parity, TParity::None, TParity::Even), cflag(PARODD | CMSPAR), 0, 0},   // neither odd nor sticky
        {PROP(Parity, TParity::None, TParity::Odd), cflag(PARODD | CMSPAR), 0, PARODD},
        {PROP(Parity, TParity::None, TParity::Mark), cflag(PARODD | CMSPAR), 0, PARODD | CMSPAR},
        {PROP(Parity, TParity::None, TParity::Space), cflag(PARODD | CMSPAR), 0, CMSPAR},
        {PROP(StopBits, TStopBits::_1, TStopBits::_2), cflag(CSTOPB), 0, CSTOPB},
        {PROP(StopBits, TStopBits::_1, TStopBits::_1_5), cflag(CSTOPB), 0, CSTOPB},   // a tty has two
        {PROP(XonChar, 0x11, 0x01), cc(VSTART), 0x11, 0x01},
        {PROP(XoffChar, 0x13, 0x02), cc(VSTOP), 0x13, 0x02},
        {PROP(ReplacedChar, 0x00, '?')},
        {PROP(ReadIntervalTimeout, 100, 1)},
        {PROP(ReadTotalTimeoutMultiplier, 0, 5)},
        {PROP(ReadTotalTimeoutConstant, 0, 5)},
        {PROP(WriteTotalTimeoutMultiplier, 0, 5)},
        {PROP(WriteTotalTimeoutConstant, 0, 5)},
    };
    const TComm fresh;
    Port.SetCommName(Tty.slave);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.p.name);
        EXPECT_TRUE(r.p.holds(fresh, false)) << "default";
        Port.OpenPort();
        EXPECT_EQ(r.line ? r.line() : 0, r.lineDefault) << "the default at the open";
        Port.ClosePort();
        r.p.set(Port, true);
        EXPECT_TRUE(r.p.holds(Port, true)) << "stored";
        Port.OpenPort();
        if (r.line) {
            EXPECT_EQ(r.line(), r.lineOther) << "set before the open";
            r.p.set(Port, false);
            EXPECT_EQ(r.line(), r.lineDefault) << "set back while open";
            r.p.set(Port, true);
            EXPECT_EQ(r.line(), r.lineOther) << "set again while open";
        }
        Port.ClosePort();
        r.p.set(Port, false);
    }
}
#undef PROP

TEST_F(SerialPort, TheLineIsRawAndAChangeAppliesTheWholeSetting)
{
    Port.SetStopBits(TStopBits::_2);
    Open(false);
    termios t = Line();
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | HUPCL), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);

    // Setting the value it already has applies nothing ...
    cfsetospeed(&t, B4800);
    cfsetispeed(&t, B4800);
    ASSERT_EQ(::tcsetattr(Tty.master, TCSANOW, &t), 0);
    Port.SetBaudRate(9600);
    t = Line();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    // ... another value applies the whole setting.
    t.c_cflag &= ~CSTOPB;
    ::tcsetattr(Tty.master, TCSANOW, &t);
    Port.SetBaudRate(19200);
    t = Line();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
}

TEST_F(SerialPort, AHangUpIsReportedOnceCostsNoCpuAndEndsTheWriter)
{
    ASSERT_TRUE(Open());
    Tty.closeMaster();
    ASSERT_TRUE(RunUntil([&] { return Ev.Hangups > 0; }));
    const double cpu = CpuSeconds();
    Turn(300);
    EXPECT_LT(CpuSeconds() - cpu, 0.1);
    EXPECT_LE(Ev.Hangups, 2);   // reader, and the writer if it noticed too
    // The writer meets the dead line with this block and ends; later
    // blocks are refused instead of queued for nobody.
    EXPECT_TRUE(Send(Port, "x"));
    ASSERT_TRUE(RunUntil([&] { return !Send(Port, "y"); }));
    EXPECT_EQ(Ev.Drains.size(), 1);
}

// A real UART counts line errors, carrier changes and rings; here the test
// moves the counters as a driver would.
TEST_F(SerialPort, LineErrorsAndModemChangesComeFromTheDriversCounters)
{
    // std::vector: comparing two empty QLists hands memcmp a null pointer.
    std::vector<uint32_t> errors, modem;
    Port.OnReceiveError = [&](uint32_t m) { errors.push_back(m); };
    Port.OnModemStateChange = [&](uint32_t m) { modem.push_back(m); };
    std::mutex mutex;
    LineCounters driver;
    driver.frame = 7;   // counts from before the open are not events
    driver.dcd = 3;
    Port.LineCounterSource = [&](int, LineCounters& out) {
        std::lock_guard lock(mutex);
        out = driver;
        return true;
    };
    struct Step {
        const char* name;
        std::function<void(LineCounters&)> move;
        uint32_t error, modem;   // 0: nothing raised
    };
    const Step steps[] = {
        {"opened", [](LineCounters&) {}, 0, 0},
        {"frame and parity", [](LineCounters& c) { c.frame += 1; c.parity += 2; }, LineErrFrame | LineErrParity, 0},
        {"carrier", [](LineCounters& c) { ++c.dcd; }, 0, ModemCarrierChanged},
        {"all at once", [](LineCounters& c) { ++c.rng; ++c.dcd; ++c.brk; ++c.overrun; ++c.bufOverrun; },
         LineErrRxOver | LineErrOverrun | LineErrBreak, ModemCarrierChanged | ModemRing},
        {"standing still", [](LineCounters&) {}, 0, 0},
        {"after the close", [&](LineCounters& c) { Port.ClosePort(); ++c.frame; }, 0, 0},
    };
    ASSERT_TRUE(Open());
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        errors.clear();
        modem.clear();
        {
            std::lock_guard lock(mutex);
            step.move(driver);
        }
        if (step.error || step.modem)
            ASSERT_TRUE(RunUntil([&] { return errors.size() == !!step.error && modem.size() == !!step.modem; }));
        else
            Turn(3 * TComm::LineWatchMs);
        EXPECT_EQ(errors, step.error ? std::vector<uint32_t>{step.error} : std::vector<uint32_t>{});
        EXPECT_EQ(modem, step.modem ? std::vector<uint32_t>{step.modem} : std::vector<uint32_t>{});
        if (Port.isOpen()) {   // data still flows
            Tty.write("ok");
            ASSERT_TRUE(RunUntil([&] { return Ev.Data.endsWith("ok"); }));
        }
    }
    EXPECT_EQ(Ev.Hangups, 0);
}

TEST_F(SerialPort, APseudoTerminalKeepsNoLineCountersAndIsNotWatched)
{
    const int fd = ::open(QFile::encodeName(Tty.slave).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    LineCounters c;
    EXPECT_FALSE(ReadTtyLineCounters(fd, c));
    ::close(fd);

    // With no counters the idle reader sleeps until a byte comes.
    std::atomic<int> looks{0};
    Port.LineCounterSource = [&](int fd, LineCounters& out) {
        ++looks;
        return ReadTtyLineCounters(fd, out);
    };
    ASSERT_TRUE(Open());
    Turn(4 * TComm::LineWatchMs);
    EXPECT_EQ(looks.load(), 1) << "asked once at the open, never again";
}

// Nice values of this process's threads, from /proc.
QList<int> ThreadNiceValues()
{
    QList<int> values;
    const QDir tasks("/proc/self/task");
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = ReadFile(tasks.filePath(tid + "/stat"));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 16)
            values << fields[16].toInt();   // field 19 of the line: nice
    }
    return values;
}

TEST_F(SerialPort, ReaderAndWriterRunAboveTheProgram)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only a privileged user may raise a thread's priority";
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, 0);
    ASSERT_EQ(errno, 0);
    Open(false);   // returns once both threads run at their priority
    const QList<int> open = ThreadNiceValues();
    EXPECT_TRUE(open.contains(base - 2)) << "reader";
    EXPECT_TRUE(open.contains(base - 1)) << "writer";
    Port.ClosePort();
    const QList<int> closed = ThreadNiceValues();
    EXPECT_FALSE(closed.contains(base - 2));
    EXPECT_FALSE(closed.contains(base - 1));
}

// Bytes the reader handed on just before the close must not reach the owner
// afterwards, nor the drain notice of the closed session.
TEST_F(SerialPort, NothingIsRaisedAfterClose)
{
    Open(false);
    Tty.write("abc");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));   // posted, not yet handled
    Port.ClosePort();
    Turn(200);
    EXPECT_TRUE(Ev.Chunks.isEmpty());
    EXPECT_TRUE(Ev.Drains.isEmpty());
}

// Nobody reads the other end: the writer is stuck on a full line. Closing
// must still end it (a hang here runs into the CTest time-out).
TEST_F(SerialPort, CloseEndsAWriterStuckOnAFullLine)
{
    Open(false);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(Send(Port, QByteArray(60000, 'x')));
    Turn(100);
    Port.ClosePort();
    EXPECT_FALSE(Port.isOpen());
    EXPECT_LE(Ev.Drains.size(), 1);
}

// ------------------------------------------------------------ unprivileged

// Root bypasses both the permission bits and TIOCEXCL: the opens run as
// nobody then.
TEST(SerialPortUnprivileged, PermissionDeniedAndBusyPort)
{
    // "device|message|detail pattern": opens the device, expects that outcome.
    const auto open = [](const QString& told) {
        const QStringList t = told.split('|');
        TComm port;
        port.SetCommName(t[0]);
        const auto [message, detail] = OpenFailure(port);
        EXPECT_EQ(message, t[1]);
        EXPECT_TRUE(QRegularExpression(t[2], QRegularExpression::DotMatchesEverythingOption).match(detail).hasMatch())
            << detail.toStdString();
    };
    if (!UnprivilegedDir().isEmpty())
        return open(UnprivilegedDir());
    Pty pty;
    const QByteArray device = QFile::encodeName(pty.slave);
    int holder = -1;
    TComm other;
    other.SetCommName(pty.slave);
    const QString busy = "the port is in use by another program";
    struct Case {
        const char* name;
        std::function<void()> setUp;
        const char* message;
        QString detail;   // a pattern
    };
    const QList<Case> cases{
        {"no permission", [&] { ASSERT_EQ(::chmod(device, ::geteuid() == 0 ? 0600 : 0000), 0); },
         "Error opening serial port", "^" + QRegularExpression::escape(pty.slave) + ": .*dialout"},
        {"another program holds the lock",
         [&] {
             ASSERT_EQ(::chmod(device, 0666), 0);
             holder = ::open(device.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
             ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
         },
         "Error opening serial port", busy},
        // ... which also sets TIOCEXCL.
        {"another port of ours", [&] { ::close(holder); other.OpenPort(); }, "Error opening serial port", busy},
        {"free again", [&] { other.ClosePort(); }, "opened", "^$"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(c.setUp());
        RunUnprivileged(pty.slave + "|" + c.message + "|" + c.detail, open);
    }
}

// ------------------------------------------------------------ engine on a pty

using varlo::sim::ScaleSim;

QByteArray Bytes(const std::vector<uint8_t>& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())); }

// Retries every 2 s: a loaded machine must not cause retries.
void Connect(TKYRBusComm& bus, const std::string& device)
{
    bus.CommName = QString::fromStdString(device);
    bus.SetBaudRate(9600);
    bus.RetryInterval = 2000;
    bus.TraceEnabled = -1;
    bus.SetActive(true);
}

class EngineOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        Connect(Bus, Sim.start());
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
    bool Traced(const char* line) const { return Bus.OwnTrace()->Lines().contains(line); }

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

    EXPECT_TRUE(Bus.SendCommand(0x44, 0, 0, 0));
    EXPECT_TRUE(Bus.SendCommand(0x11, 0, 0, 0));
    EXPECT_TRUE(Bus.ReadBlock(0x55, 0x83, 3, 1));
    EXPECT_EQ(Bus.Buffer[0], 0x5B);
    Bus.Buffer[0] = 0x12;
    EXPECT_TRUE(Bus.SendCommand(0x77, 0x83, 3, 1));
    EXPECT_EQ(Sim.priceMode(), 0x12);
    EXPECT_EQ(Bus.SendCommand(0x05, 0, 0, 0, ReplyForm::WholeFrame).bytes, Bytes(varlo::sim::allValuesFrame(ind)));
    EXPECT_TRUE(Bus.SendCommand(0x33, 0, 0, 0));
    QStringList wire;
    for (const auto& r : Sim.requests())
        wire << Spaced(Bytes(r.frame));
    EXPECT_EQ(wire, QStringList({"44", "11 00 00 00 00 EF", "55 83 00 03 01 24", "77 83 00 03 01 12 F0", "05",
                                 "33 00 00 00 00 CD"}));
    EXPECT_FALSE(Traced("Retry:1"));

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
    EXPECT_TRUE(Traced("Retry:6"));
    EXPECT_FALSE(Traced("Retry:7"));
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
    Turn(300);
    EXPECT_LT(CpuSeconds() - cpu, 0.25);
}

// The command line turns SIGINT into Cancel through a self-pipe and a socket
// notifier; the nested wait must let that through.
int SignalPipe[2] = {-1, -1};
void OnSigint(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(SignalPipe[1], &c, 1);
}

TEST_F(EngineOnPty, SigintCancelsTheWait)
{
    Sim.addFault("silence@count=always");
    Bus.RetryInterval = 60000;
    ASSERT_EQ(::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK), 0);
    {
        QSocketNotifier notifier(SignalPipe[0], QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] {
            char c;
            while (::read(SignalPipe[0], &c, 1) > 0) {}
            Bus.Cancel();
        });
        struct sigaction sa = {}, old = {};
        sa.sa_handler = OnSigint;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGINT, &sa, &old);
        std::thread raiser([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ::kill(::getpid(), SIGINT);
        });
        EXPECT_EQ(Bus.SendCommand(0x11, 0, 0, 0).failure, BusFailure::Cancelled);
        raiser.join();
        ::sigaction(SIGINT, &old, nullptr);
    }
    ::close(SignalPipe[0]);
    ::close(SignalPipe[1]);
    EXPECT_EQ(Sim.requests().size(), 1u);
}

// A reply of known length goes on as soon as it is whole; a frame of
// unknown length still waits for the line to fall quiet.
TEST_F(EngineOnPty, AKnownReplyLengthEndsTheWaitBeforeTheQuietGap)
{
    Sim.setIndication({varlo::sim::Indication::State::Values, 1234, 150, 185});
    Bus.Port()->SetReadIntervalTimeout(300);
    struct Case { const char* name; std::function<BusResult()> request; bool early; };
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
        Connect(bus, sim->slavePath());
        for (int i = 1; i <= kyr::PluRecords && problem->isEmpty(); ++i) {
            const uint8_t price[4] = {0, 0, 0, uint8_t(i + priceOffset)};
            std::memcpy(bus.Buffer, price, 4);
            if (const BusResult r = bus.SendCommand(kyr::CmdWrite, kyr::BankPlu, kyr::pluAddress(i), 4); !r)
                *problem = r.cause;
            else if (const BusResult back = bus.ReadBlock(kyr::CmdRead, kyr::BankPlu, kyr::pluAddress(i), 4);
                     back.bytes != QByteArray(reinterpret_cast<const char*>(price), 4) || !back)
                *problem = "read back " + back.bytes.toHex() + " " + back.cause;
        }
        bus.SetActive(false);
    };
    ScaleSim a, b;
    a.start();
    b.start();
    QString problemA, problemB;
    std::unique_ptr<QThread> ta(QThread::create(run, &a, home.file("A.LOG"), 0, &problemA));
    std::unique_ptr<QThread> tb(QThread::create(run, &b, home.file("B.LOG"), 100, &problemB));
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

} // namespace
