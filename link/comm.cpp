#include "comm.h"
#include "iosession.h"
#include "receivequeue.h"
#include "portinfo.h"
#include <QFile>
#include <QRegularExpression>
#include <QtGlobal>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <latch>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <algorithm>
#include <iterator>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr size_t MaxChunk = ReceiveQueue::MaxChunk;

void ReleaseDevice(int fd)
{
    ::ioctl(fd, TIOCNXCL);   // the tty keeps the flag while anyone else holds it open
    ::close(fd);              // also drops the flock
}

speed_t SpeedFor(uint32_t rate)
{
    switch (rate) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    default: return B0;   // not a standard rate: the device keeps its speed
    }
}

} // namespace

QString SerialDevicePath(const QString& commName)
{
    const QString name = commName.trimmed();
    if (name.startsWith('/'))
        return name;
    static const QRegularExpression com(QStringLiteral("^COM([0-9]+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = com.match(name);
    if (m.hasMatch() && m.captured(1).toInt() >= 1)
        return "/dev/ttyS" + QString::number(m.captured(1).toInt() - 1);
    return "/dev/" + name;
}

bool ReadTtyLineCounters(int fd, LineCounters& out)
{
    serial_icounter_struct c = {};
    if (::ioctl(fd, TIOCGICOUNT, &c) != 0)
        return false;
    out.frame = uint32_t(c.frame);
    out.overrun = uint32_t(c.overrun);
    out.parity = uint32_t(c.parity);
    out.brk = uint32_t(c.brk);
    out.bufOverrun = uint32_t(c.buf_overrun);
    out.dcd = uint32_t(c.dcd);
    out.rng = uint32_t(c.rng);
    return true;
}

namespace {
// The reader runs two steps, the writer one step above the program, so that
// a busy window never makes the line wait. Only a privileged user may raise
// a priority; for anyone else the threads simply keep the program's.
void RaiseThisThread(int steps)
{
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, 0);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, pid_t(::gettid()), current - steps);
}
} // namespace

// What the window thread shares with the reader and the writer of one open.
struct TComm::PortSession : IoSession {
    std::atomic<bool> dropNulls{false};
    std::function<bool(int, LineCounters&)> lineCounters;   // fixed while open

    std::mutex doneMutex;
    std::condition_variable doneCv;
    int running = 0;
    std::latch started{2};          // both threads run at their priority

    void finished()
    {
        std::lock_guard lock(doneMutex);
        --running;
        doneCv.notify_all();
    }
};

TComm::TComm(QObject* parent) : TSessionPort(parent) {}

TComm::~TComm() { ClosePort(); }

void TComm::OpenPort()
{
    using namespace comm_messages;
    if (Session)
        return;
    const QString path = SerialDevicePath(FCommName);
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw ECommsError(OpenFailed, OpenFailureHint(path, errno));

    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(fd);
        throw ECommsError(NotComm, path + ": not a character device");
    }
    termios tio = {};
    if (::tcgetattr(fd, &tio) != 0) {
        const int e = errno;
        ::close(fd);
        throw ECommsError(NoBuffer, OpenFailureHint(path, e) + " (not a serial device)");
    }
    // TIOCEXCL alone does not stop root or an open that came first; the
    // flock is what two cooperating programs see.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        throw ECommsError(OpenFailed, OpenFailureHint(path, e));
    }
    ::ioctl(fd, TIOCEXCL);
    ::tcflush(fd, TCIOFLUSH);

    auto s = std::make_unique<PortSession>();
    s->fd = fd;
    s->lineCounters = LineCounterSource;
    if (!Install(std::move(s)))
        throw ECommsError(NoEvent, OpenFailureHint(path, errno));
    OpenPath = path;
    ApplyTimeouts();
    ApplyLineSettings();
    WritesStarted.store(WriteSeq);
    StartThreads(SessionAs<PortSession>());
}

void TComm::StartThreads(PortSession* s)
{
    using namespace comm_messages;
    s->running = 2;
    try {
        s->reader = std::thread(&TComm::ReadLoop, this, s);
    } catch (const std::system_error& e) {
        const QString path = OpenPath;
        DropSession();
        throw ECommsError(NoReadThread, path + ": " + QString::fromLocal8Bit(e.what()));
    }
    try {
        s->writer = std::thread(&TComm::WriteLoop, this, s, WriteSeq);
    } catch (const std::system_error& e) {
        const QString path = OpenPath;
        s->finished();   // the writer never ran; the reader may have ended already
        StopSession();
        throw ECommsError(NoWriteThread, path + ": " + QString::fromLocal8Bit(e.what()));
    }
    s->started.wait();
}

void TComm::AwaitThreads(IoSession& io)
{
    auto& s = static_cast<PortSession&>(io);
    // Discard what is pending; this also frees a writer waiting in tcdrain
    // behind a stopped flow control.
    ::tcflush(s.fd, TCIOFLUSH);
    {
        std::unique_lock lock(s.doneMutex);
        if (!s.doneCv.wait_for(lock, std::chrono::seconds(10), [&s] { return s.running == 0; })) {
            qWarning("serial port %s: I/O threads did not stop within 10 s; still waiting",
                     qPrintable(OpenPath));
            s.doneCv.wait(lock, [&s] { return s.running == 0; });
        }
    }
    s.joinThreads();
    // A block the writer put out after the first flush must not hold up the
    // close behind a stopped line.
    ::tcflush(s.fd, TCOFLUSH);
}

void TComm::CloseDevice(int fd)
{
    ReleaseDevice(fd);
    OpenPath.clear();
}

void TComm::ApplyLineSettings()
{
    const int fd = Session->fd;
    termios tio = {};
    if (::tcgetattr(fd, &tio) != 0)
        return;
    ::cfmakeraw(&tio);
    if (const speed_t sp = SpeedFor(FBaudRate); sp != B0) {
        ::cfsetispeed(&tio, sp);
        ::cfsetospeed(&tio, sp);
    }
    // Control: size, parity, stop bits, hardware flow; keep DTR up on close
    // (HUPCL off), ignore modem control lines (CLOCAL), enable the receiver.
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CLOCAL | CREAD;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[static_cast<int>(FByteSize)];
    switch (FParity) {
    case TParity::None: break;
    case TParity::Odd: tio.c_cflag |= PARENB | PARODD; break;
    case TParity::Even: tio.c_cflag |= PARENB; break;
    case TParity::Mark: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case TParity::Space: tio.c_cflag |= PARENB | CMSPAR; break;
    }
    if (FStopBits != TStopBits::_1)
        tio.c_cflag |= CSTOPB;   // a tty has no 1.5: two
    if (FOutx_CtsFlow || FRtsControl == RtsHandshake)
        tio.c_cflag |= CRTSCTS;
    // Input: parity check (a byte in error reads as 0x00), software flow.
    // DSR flow, DSR sensitivity, the XON/XOFF limits and continue-on-XOFF have
    // no tty equivalent.
    tio.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    if (FParityCheck)
        tio.c_iflag |= INPCK;
    if (FOutx_XonXoffFlow)
        tio.c_iflag |= IXON;
    if (FInx_XonXoffFlow)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(FXonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(FXoffChar);
    // VMIN 1: an empty non-blocking read gives EAGAIN, so a read of 0 is end of file.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);   // what the device refuses is not reported

    int dtr = TIOCM_DTR;
    ::ioctl(fd, FDtrControl == DtrDisable ? TIOCMBIC : TIOCMBIS, &dtr);
    int rts = TIOCM_RTS;
    ::ioctl(fd, FRtsControl == RtsDisable ? TIOCMBIC : TIOCMBIS, &rts);
    SessionAs<PortSession>()->dropNulls = FIgnoreNullChar;
}

void TComm::ApplyTimeouts()
{
    // Only the inter-byte time-out has a meaning for the poll reader; the
    // totals bound single reads and writes, which never block here.
    SetQuietTime(FReadIntervalTimeout);
}

void TComm::PostLineEvents(PortSession* s, const LineCounters& before, const LineCounters& now)
{
    uint32_t errors = 0;
    if (now.bufOverrun != before.bufOverrun)
        errors |= LineErrRxOver;
    if (now.overrun != before.overrun)
        errors |= LineErrOverrun;
    if (now.parity != before.parity)
        errors |= LineErrParity;
    if (now.frame != before.frame)
        errors |= LineErrFrame;
    if (now.brk != before.brk)
        errors |= LineErrBreak;
    uint32_t modem = 0;
    if (now.dcd != before.dcd)
        modem |= ModemCarrierChanged;
    if (now.rng != before.rng)
        modem |= ModemRing;
    if (errors)
        Post(s, [this, errors] {
            if (OnReceiveError)
                OnReceiveError(errors);
        });
    if (modem)
        Post(s, [this, modem] {
            if (OnModemStateChange)
                OnModemStateChange(modem);
        });
}

// Line errors and modem changes come as counters, not as poll events: the
// reader looks at them every LineWatchMs, and only on devices that keep them.
struct TComm::LineWatch {
    using Clock = std::chrono::steady_clock;
    LineCounters counters;
    bool counting = false;
    Clock::time_point nextLook;
};

void TComm::LookAtLine(PortSession* s, LineWatch& w)
{
    if (!w.counting || LineWatch::Clock::now() < w.nextLook)
        return;
    w.nextLook = LineWatch::Clock::now() + std::chrono::milliseconds(LineWatchMs);
    LineCounters now;
    if (!s->lineCounters(s->fd, now)) {
        w.counting = false;   // the device stopped counting; reading goes on
        return;
    }
    PostLineEvents(s, w.counters, now);
    w.counters = now;
}

void TComm::ReadLoop(PortSession* s)
{
    RaiseThisThread(2);
    s->started.count_down();
    Burst burst;
    uint8_t buf[MaxChunk];

    LineWatch watch;
    watch.counting = s->lineCounters && s->lineCounters(s->fd, watch.counters);
    watch.nextLook = LineWatch::Clock::now() + std::chrono::milliseconds(LineWatchMs);

    for (;;) {
        pollfd p[2] = {{s->fd, POLLIN, 0}, {s->wake, POLLIN, 0}};
        // Idle: sleep until a byte comes. Inside a burst: until the line
        // has been quiet for the inter-byte time-out.
        const int idle = watch.counting ? LineWatchMs : -1;
        const int r = ::poll(p, 2, burst.bytes.isEmpty() ? idle : s->quietMs.load());
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            HandOn(s, burst);
            PostHangup(s);
            break;
        }
        if (p[1].revents)
            break;
        LookAtLine(s, watch);
        if (r == 0) {
            HandOn(s, burst);
            continue;
        }
        if (p[0].revents & POLLIN) {
            const ssize_t n = ::read(s->fd, buf, MaxChunk - size_t(burst.bytes.size()));
            if (n > 0) {
                Restamp(s, burst);
                const auto* bytes = reinterpret_cast<const char*>(buf);
                if (s->dropNulls.load())
                    std::copy_if(bytes, bytes + n, std::back_inserter(burst.bytes), [](char c) { return c != 0; });
                else
                    burst.bytes.append(bytes, qsizetype(n));
                HandOnWhenDone(s, burst);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            // 0 is end of file on a hung-up tty; EIO: the other end is gone.
        } else if (!(p[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            continue;
        }
        HandOn(s, burst);
        PostHangup(s);
        break;
    }
    s->finished();
}

void TComm::WriteLoop(PortSession* s, uint64_t drainedUpTo)
{
    RaiseThisThread(1);
    s->started.count_down();
    WriteBlocks(s, drainedUpTo);
    s->finished();
}

bool TComm::WaitDrained(IoSession* s)
{
    while (::tcdrain(s->fd) != 0) {
        if (errno != EINTR) {
            PostHangup(s);
            return false;
        }
    }
    return true;
}
