// The bus engine and the serial port on a pseudo-terminal whose master end
// is served by a minimal in-process scale (answers at once, no pacing), so
// what is measured is the link's own cost.
//   bench_link [--exchanges N]
#include "comm.h"
#include "exedir.h"
#include "kyrbuscomm.h"
#include "protocol.h"
#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

double Now(clockid_t clock)
{
    timespec ts = {};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
double Wall() { return Now(CLOCK_MONOTONIC); }
double Cpu() { return Now(CLOCK_PROCESS_CPUTIME_ID); }

// Answers 0x44 with 0x02 and a 6-byte read request with a checksummed
// reply of the asked length; stays silent while `Silent` is set.
class MiniScale {
public:
    MiniScale()
    {
        Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(Master);
        unlockpt(Master);
        Slave = QString::fromLocal8Bit(ptsname(Master));
        Wake = eventfd(0, EFD_CLOEXEC);
        Worker = std::thread([this] { Run(); });
    }
    ~MiniScale()
    {
        Stop = true;
        Signal();
        Worker.join();
        if (Master >= 0)
            close(Master);
        close(Wake);
    }
    // The worker closes the master itself: a close from here would not take
    // effect while its poll still holds the file.
    void HangUp()
    {
        HangUpRequested = true;
        Signal();
    }

    QString Slave;
    std::atomic<bool> Silent{false};
    std::atomic<long> Frames{0};

private:
    void Signal()
    {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(Wake, &one, sizeof one);
    }
    void Run()
    {
        std::vector<uint8_t> in;
        uint8_t buf[512];
        for (;;) {
            const int fd = Master;
            pollfd p[2] = {{fd, POLLIN, 0}, {Wake, POLLIN, 0}};
            if (poll(p, 2, -1) < 0)   // a negative fd is ignored
                return;
            if (p[1].revents) {
                uint64_t v;
                [[maybe_unused]] ssize_t r = read(Wake, &v, sizeof v);
                if (Stop)
                    return;
                if (HangUpRequested.exchange(false) && Master >= 0) {
                    close(Master);
                    Master = -1;
                }
                continue;
            }
            if (p[0].revents & (POLLHUP | POLLERR) && !(p[0].revents & POLLIN)) {
                usleep(1000);   // no client yet (or gone): the master reports a hang-up
                continue;
            }
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) {
                usleep(1000);
                continue;
            }
            in.insert(in.end(), buf, buf + n);
            while (!in.empty()) {
                const size_t need = in[0] == 0x44 ? 1 : 6;
                if (in.size() < need)
                    break;
                ++Frames;
                std::vector<uint8_t> reply;
                if (need == 1) {
                    reply = {0x02};
                } else {
                    const uint8_t len = in[4];
                    reply = {0x02, in[0], in[1], in[2], in[3], len};
                    for (int i = 0; i < len; ++i)
                        reply.push_back(uint8_t(i));
                    uint8_t sum = 0;
                    for (size_t i = 1; i < reply.size(); ++i)
                        sum = uint8_t(sum + reply[i]);
                    reply.push_back(uint8_t(-sum));
                }
                in.erase(in.begin(), in.begin() + long(need));
                if (!Silent)
                    [[maybe_unused]] ssize_t w = write(fd, reply.data(), reply.size());
            }
        }
    }

    int Master = -1;   // the worker's once started
    int Wake = -1;
    std::atomic<bool> Stop{false}, HangUpRequested{false};
    std::thread Worker;
};

void Idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int exchanges = 2000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--exchanges") == 0)
            exchanges = std::max(1, std::atoi(argv[i + 1]));
    QTemporaryDir home;
    SetExeDir(home.path() + "/");

    MiniScale scale;
    TKYRBusComm bus;
    bus.CommName = scale.Slave;
    bus.SetBaudRate(9600);
    bus.TraceEnabled = -1;
    bus.RetryInterval = 1000;
    bus.SetActive(true);

    // Time of each drain notice, chained in front of the engine's handler.
    double drainedAt = 0;
    auto engineDrain = bus.Port()->OnSendDataEmpty;
    bus.Port()->OnSendDataEmpty = [&](uint64_t done) {
        drainedAt = Wall();
        engineDrain(done);
    };

    // 1. Per-exchange overhead.
    for (const bool read : {false, true}) {
        int failed = 0;
        const double w0 = Wall(), c0 = Cpu();
        for (int i = 0; i < exchanges; ++i) {
            const bool ok = read ? bool(bus.ReadBlock(kyr::CmdRead, kyr::BankSaleFigures, 0, kyr::SaleFiguresLength))
                                 : bool(bus.SendCommand(kyr::CmdHello, 0, 0, 0));
            failed += ok ? 0 : 1;
        }
        const double wall = Wall() - w0, cpu = Cpu() - c0;
        std::printf("exchange %-22s %7.0f exchanges/s  %7.1f us/exchange  cpu/wall %.2f  failed %d\n",
                    read ? "read 11 bytes (6+18 B)" : "command 0x44 (1+1 B)", exchanges / wall,
                    wall / exchanges * 1e6, cpu / wall, failed);
    }

    // 2. Time-out against RetryInterval, from the drain notice to the end of the wait.
    scale.Silent = true;
    bus.RetryCount = 0;
    bool allWithin = true;
    for (const int interval : {20, 50, 100, 200, 800}) {
        bus.RetryInterval = interval;
        double lo = 1e9, hi = 0;
        const int runs = interval >= 800 ? 3 : 10;
        for (int k = 0; k < runs; ++k) {
            bus.SendCommand(kyr::CmdHello, 0, 0, 0);
            const double ratio = (Wall() - drainedAt) * 1000.0 / interval;
            lo = std::min(lo, ratio);
            hi = std::max(hi, ratio);
        }
        const bool within = lo >= 1.0 && hi <= 1.02;
        allWithin = allWithin && within;
        std::printf("time-out %4d ms          measured/RetryInterval min %.4f max %.4f  %s\n", interval, lo,
                    hi, within ? "ok (never early, <= 2 % late)" : "OUT OF BOUNDS");
    }

    // 3. CPU time against wall time: a wait that times out ...
    bus.RetryInterval = 2000;
    double w0 = Wall(), c0 = Cpu();
    bus.SendCommand(kyr::CmdHello, 0, 0, 0);
    std::printf("cpu/wall during a 2 s wait       %.5f\n", (Cpu() - c0) / (Wall() - w0));

    // ... and after the scale hangs up mid-request.
    QTimer::singleShot(200, [&] { scale.HangUp(); });
    w0 = Wall();
    const bool ok = bool(bus.SendCommand(kyr::CmdHello, 0, 0, 0));
    std::printf("hang-up mid-request: result %s after %.0f ms (RetryInterval 2000, HungUp %s)\n",
                ok ? "True" : "False", (Wall() - w0) * 1000, bus.isHungUp() ? "yes" : "no");
    w0 = Wall();
    c0 = Cpu();
    Idle(1000);
    std::printf("cpu/wall 1 s after the hang-up   %.5f\n", (Cpu() - c0) / (Wall() - w0));

    bus.SetActive(false);
    return allWithin ? 0 : 1;
}
