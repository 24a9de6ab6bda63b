#include "netport.h"
#include "iosession.h"
#include "receivequeue.h"
#include "comm.h"
#include "rfc2217.h"
#include <QRegularExpression>
#include <QtGlobal>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/sockios.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr size_t MaxChunk = ReceiveQueue::MaxChunk;   // as the serial port hands them on
constexpr int AckPollMs = 1;                // how often the drain looks at the send queue
constexpr int AckGiveUpMs = 2000;           // a peer that acknowledges nothing: drained anyway

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<int64_t>(0, left.count()));
}

ComPortSettings SettingsOf(uint32_t baud, TByteSize size, TParity parity, TStopBits stop)
{
    ComPortSettings s;
    s.baud = baud;
    s.dataBits = uint8_t(5 + int(size));
    static const uint8_t parities[] = {comport::ParityNone, comport::ParityOdd, comport::ParityEven,
                                       comport::ParityMark, comport::ParitySpace};
    s.parity = parities[int(parity)];
    s.stopSize = stop == TStopBits::_1   ? comport::StopOne
                 : stop == TStopBits::_2 ? comport::StopTwo
                                         : comport::StopOneAndHalf;
    return s;
}

[[noreturn]] void Fail(const QString& detail)
{
    throw ECommsError(comm_messages::OpenFailed, detail);
}

} // namespace

QString NetAddress::text() const
{
    const QString h = host.contains(':') ? "[" + host + "]" : host;
    return QString(kind == Raw ? "tcp://" : "rfc2217://") + h + ":" + QString::number(port);
}

bool IsNetworkPortName(const QString& name)
{
    const QString n = name.trimmed();
    return n.startsWith("tcp://", Qt::CaseInsensitive) || n.startsWith("rfc2217://", Qt::CaseInsensitive);
}

std::optional<NetAddress> ParseNetAddress(const QString& name, QString* why)
{
    static const QRegularExpression form(
        QStringLiteral("^(tcp|rfc2217)://(\\[([^\\]]+)\\]|([^:/\\[\\]]+)):([0-9]{1,5})/?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(name.trimmed());
    const int port = m.hasMatch() ? m.captured(5).toInt() : 0;
    if (!m.hasMatch() || port < 1 || port > 65535) {
        if (why)
            *why = name.trimmed() + ": expected tcp://HOST:PORT or rfc2217://HOST:PORT "
                                    "with a port number from 1 to 65535";
        return std::nullopt;
    }
    NetAddress a;
    a.kind = m.captured(1).compare("tcp", Qt::CaseInsensitive) == 0 ? NetAddress::Raw : NetAddress::Rfc2217;
    a.host = m.captured(3).isEmpty() ? m.captured(4) : m.captured(3);
    a.port = uint16_t(port);
    return a;
}

// What the reader and the writer of one connection share with the owner.
// Its write queue also carries Telnet answers and settings, as blocks
// numbered 0: they are no writes of the engine's.
struct TNetPort::NetSession : IoSession {
    bool telnet = false;
    std::mutex codecMutex;   // the reader feeds it, the owner changes the settings
    Rfc2217Codec codec;
};

TNetPort::TNetPort(QObject* parent) : TSessionPort(parent) {}

TNetPort::~TNetPort() { ClosePort(); }

void TNetPort::OpenPort()
{
    if (Session)
        return;
    QString why;
    const std::optional<NetAddress> a = ParseNetAddress(FCommName, &why);
    if (!a)
        Fail(why);
    const int fd = Connect(*a);
    QByteArray early;
    SettingsAccepted = true;
    auto s = std::make_unique<NetSession>();
    s->fd = fd;
    s->socket = true;
    s->telnet = a->kind == NetAddress::Rfc2217;
    if (!Install(std::move(s)))
        throw ECommsError(comm_messages::NoEvent, a->text() + ": " + qt_error_string(errno));
    SetQuietTime(FReadIntervalTimeout);
    if (SessionAs<NetSession>()->telnet) {
        try {
            Negotiate(fd, *a, &early);
        } catch (...) {
            DropSession();
            throw;
        }
    }
    StartThreads(early);
}

// Connects within NetConnectTimeoutMs, trying each address of the host.
int TNetPort::Connect(const NetAddress& a)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(NetConnectTimeoutMs);
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int g = ::getaddrinfo(a.host.toUtf8().constData(), QByteArray::number(a.port).constData(),
                                &hints, &found);
    if (g != 0)
        Fail(a.text() + ": unknown host " + a.host + " (" + QString::fromLocal8Bit(gai_strerror(g)) +
             "); check the name, or give the device server's IP address");
    int lastError = ETIMEDOUT;
    for (addrinfo* ai = found; ai; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int e = ::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 ? 0 : errno;
        if (e == EINPROGRESS) {
            pollfd p = {fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, MsLeft(deadline));
            socklen_t len = sizeof e;
            if (r <= 0)
                e = ETIMEDOUT;
            else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &len) != 0)
                e = errno;
        }
        if (e == 0) {
            ::freeaddrinfo(found);
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);   // frames are small
            ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
            return fd;
        }
        ::close(fd);
        lastError = e;
        if (MsLeft(deadline) == 0)
            break;
    }
    ::freeaddrinfo(found);
    if (lastError == ETIMEDOUT)
        Fail(a.text() + QStringLiteral(": no answer within %1 s; check that the device server is "
                                       "on and reachable, and its address")
                            .arg(NetConnectTimeoutMs / 1000));
    if (lastError == ECONNREFUSED)
        Fail(a.text() + ": connection refused; nothing listens on port " + QString::number(a.port) +
             " of " + a.host + " (is the device server's port configured and on?)");
    Fail(a.text() + ": " + qt_error_string(lastError));
}

// Offers the COM port option and waits, within the connect time, until the
// server has agreed and confirmed the line settings, or refused the option.
void TNetPort::Negotiate(int fd, const NetAddress& a, QByteArray* early)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(NetConnectTimeoutMs);
    NetSession* s = SessionAs<NetSession>();   // its threads do not run yet
    QByteArray out = s->codec.Start(SettingsOf(FBaudRate, FByteSize, FParity, FStopBits));
    while (!s->codec.Settled()) {
        while (!out.isEmpty()) {
            const ssize_t n = ::send(fd, out.constData(), size_t(out.size()), MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                Fail(a.text() + ": " + qt_error_string(errno));
            if (n > 0)
                out.remove(0, qsizetype(n));
            else if (n < 0 && errno == EAGAIN) {
                pollfd p = {fd, POLLOUT, 0};
                ::poll(&p, 1, MsLeft(deadline));
            }
            if (MsLeft(deadline) == 0)
                break;
        }
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, MsLeft(deadline)) <= 0)
            Fail(a.text() + QStringLiteral(": no Telnet answer within %1 s; if the device server's "
                                           "port is a raw TCP port, use tcp://%2:%3")
                                .arg(NetConnectTimeoutMs / 1000)
                                .arg(a.host)
                                .arg(a.port));
        uint8_t buf[512];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            Fail(a.text() + ": the device server closed the connection (its serial port may be "
                            "in use by another client)");
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            Fail(a.text() + ": " + qt_error_string(errno));
        if (n > 0)
            s->codec.Feed(buf, size_t(n), *early, out);
    }
    if (!out.isEmpty())
        QueueControl(s, out);
    SettingsAccepted = s->codec.State() == Rfc2217Codec::ComPortState::Accepted;
    if (!SettingsAccepted)
        qWarning("%s: the device server refused the COM port option; its serial line keeps "
                 "its own settings", qPrintable(a.text()));
}

void TNetPort::StartThreads(const QByteArray& early)
{
    NetSession* s = SessionAs<NetSession>();
    WritesStarted.store(WriteSeq);
    Burst first{early, WriteSeq};
    HandOn(s, first);
    try {
        s->reader = std::thread(&TNetPort::ReadLoop, this, s);
        s->writer = std::thread(&TNetPort::WriteBlocks, this, s, WriteSeq);
    } catch (const std::system_error& e) {
        const QString detail = FCommName + ": " + QString::fromLocal8Bit(e.what());
        const bool readerRuns = s->reader.joinable();
        StopSession();
        throw ECommsError(readerRuns ? comm_messages::NoWriteThread : comm_messages::NoReadThread, detail);
    }
}

QByteArray TNetPort::Wire(const uint8_t* data, uint16_t count) const
{
    return SessionAs<NetSession>()->telnet ? Rfc2217Codec::Escape(data, count) : TSessionPort::Wire(data, count);
}

void TNetPort::QueueControl(NetSession* s, const QByteArray& bytes)
{
    s->enqueue(0, bytes);
}

void TNetPort::SendLineSettings()
{
    NetSession* s = SessionAs<NetSession>();
    if (!s || !s->telnet)
        return;
    QByteArray out;
    {
        std::lock_guard lock(s->codecMutex);
        out = s->codec.Change(SettingsOf(FBaudRate, FByteSize, FParity, FStopBits));
    }
    if (!out.isEmpty())
        QueueControl(s, out);
}

void TNetPort::SetReadIntervalTimeout(uint32_t ms)
{
    FReadIntervalTimeout = ms;
    SetQuietTime(ms);
}

// Like the serial reader: a burst is handed on once the line has been quiet
// for the inter-byte time-out, or at once when it holds the awaited reply,
// in chunks of at most MaxChunk bytes, each
// stamped with the last block whose writing had begun.
void TNetPort::ReadLoop(NetSession* s)
{
    Burst burst;
    uint8_t buf[MaxChunk];
    for (;;) {
        pollfd p[2] = {{s->fd, POLLIN, 0}, {s->wake, POLLIN, 0}};
        const int r = ::poll(p, 2, burst.bytes.isEmpty() ? -1 : s->quietMs.load());
        if (r < 0 && errno == EINTR)
            continue;
        if (r > 0 && p[1].revents)
            break;
        if (r == 0) {
            HandOn(s, burst);
            continue;
        }
        const ssize_t n = r > 0 ? ::recv(s->fd, buf, MaxChunk - size_t(burst.bytes.size()), 0) : -1;
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {   // 0: the server closed the connection; else it broke
            HandOn(s, burst);
            PostHangup(s);
            break;
        }
        Restamp(s, burst);
        if (!s->telnet) {
            burst.bytes.append(reinterpret_cast<const char*>(buf), qsizetype(n));
        } else {
            QByteArray answer;
            {
                std::lock_guard lock(s->codecMutex);
                s->codec.Feed(buf, size_t(n), burst.bytes, answer);
            }
            if (!answer.isEmpty())
                QueueControl(s, answer);
        }
        HandOnWhenDone(s, burst);
    }
}

bool TNetPort::WaitDrained(IoSession* s)
{
    const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(AckGiveUpMs);
    for (;;) {
        int unsent = 0;
        if (::ioctl(s->fd, SIOCOUTQ, &unsent) != 0 || unsent == 0 || Clock::now() >= giveUp)
            return true;
        pollfd w = {s->wake, POLLIN, 0};
        if (::poll(&w, 1, AckPollMs) > 0)
            return false;
    }
}
