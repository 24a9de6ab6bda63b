#pragma once
// Pseudo-terminal and event-loop helpers for the serial port tests.
#include <QByteArray>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

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
    // Reads until `count` bytes came or `timeoutMs` passed without one.
    QByteArray read(qsizetype count, int timeoutMs = 5000) const
    {
        QByteArray out;
        char buf[4096];
        while (out.size() < count) {
            pollfd p = {master, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0)
                break;
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, n);
        }
        return out;
    }

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

// Process CPU time and wall time, in seconds.
inline double CpuSeconds()
{
    timespec ts = {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
inline double WallSeconds()
{
    timespec ts = {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
