#pragma once
// Helpers of the link tests: bytes written as hex, what a port raises, a
// pseudo-terminal, reads with a time limit and a bounded event loop.
#include "comm.h"
#include "port.h"
#include "qtprint.h"
#include "sessionport.h"
#include <QByteArray>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <utility>

inline QByteArray Hex(const char* spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }
inline QString Spaced(const QByteArray& b) { return QString::fromLatin1(b.toHex(' ').toUpper()); }
inline QStringList Hexes(const QList<QByteArray>& frames)
{
    QStringList out;
    for (const QByteArray& f : frames)
        out << Spaced(f);
    return out;
}
inline bool Send(IPort& port, const QByteArray& b)
{
    return port.WriteData(reinterpret_cast<const uint8_t*>(b.constData()), uint16_t(b.size()));
}

// The message and detail of a failing open; "opened" when the port opened.
inline std::pair<QString, QString> OpenFailure(IPort& port)
{
    try {
        port.OpenPort();
    } catch (const ECommsError& e) {
        return {e.Message, e.Detail};
    }
    return {"opened", {}};
}

// Reads from `fd` until `count` bytes came or `timeoutMs` passed without one.
inline QByteArray ReadFd(int fd, qsizetype count, int timeoutMs)
{
    QByteArray out;
    char buf[4096];
    while (out.size() < count) {
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            break;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

// Records what a port raises.
struct PortEvents {
    explicit PortEvents(IPort& p)
    {
        p.OnReceiveData = [this](const uint8_t* d, int n, uint64_t stamp) {
            Chunks << QByteArray(reinterpret_cast<const char*>(d), n);
            Data += Chunks.last();
            Stamps << stamp;
        };
        p.OnSendDataEmpty = [this](uint64_t done) { Drains << done; };
        p.OnRequestHangup = [this] { ++Hangups; };
    }
    QByteArray Data;
    QList<QByteArray> Chunks;
    QList<uint64_t> Stamps, Drains;
    int Hangups = 0;
};

// The master end in the test; the code under test opens `slave`.
class Pty {
public:
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slave = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void write(const QByteArray& bytes) const
    {
        const char* p = bytes.constData();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(master, p, size_t(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw std::runtime_error("pty write failed");
            p += n;
            left -= n;
        }
    }
    QByteArray read(qsizetype count, int timeoutMs = 5000) const { return ReadFd(master, count, timeoutMs); }

    int master = -1;
    QString slave;
};

// Turns the event loop until `done` holds or `timeoutMs` passed (the watchdog).
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QEventLoop loop;
    bool expired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { expired = true; });
    watchdog.start(timeoutMs);
    while (!done() && !expired)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}
inline void Turn(int ms) { RunUntil([] { return false; }, ms); }

// Process CPU time, in seconds.
inline double CpuSeconds()
{
    timespec ts = {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A device that talks faster than the owner takes the bytes: `talk` sends
// 1 MiB while the owner's thread does not turn. Once the reader has read it
// all, what waits for the owner holds its bound and comes in one go; the
// rest is counted as dropped.
inline void ExpectWhatWaitsForTheOwnerBounded(TSessionPort& port, PortEvents& ev,
                                              const std::function<void(const QByteArray&)>& talk)
{
    const uint64_t total = 256 * 4096, bound = 64 * 1024;
    for (uint64_t sent = 0; sent < total; sent += 4096)
        talk(QByteArray(4096, char(0x55)));
    QDeadlineTimer readAll(5000);
    while (port.DroppedBytes() < total - bound && !readAll.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    qsizetype firstGo = -1;
    auto record = port.OnReceiveData;
    port.OnReceiveData = [&](const uint8_t* d, int n, uint64_t seen) {
        if (ev.Chunks.isEmpty())
            QTimer::singleShot(0, [&] { firstGo = ev.Data.size(); });
        record(d, n, seen);
    };
    ASSERT_TRUE(RunUntil([&] { return firstGo >= 0 && ev.Data.size() + port.DroppedBytes() >= total; }));
    EXPECT_EQ(firstGo, qsizetype(bound));
    EXPECT_EQ(port.DroppedBytes(), total - bound);
    for (const QByteArray& c : ev.Chunks)
        EXPECT_LE(c.size(), 2048);
}
