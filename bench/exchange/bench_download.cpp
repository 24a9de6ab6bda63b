// Full PLU download through the real engine and port against varlo-scale-sim
// (a separate process, so this process's CPU time is the program's alone).
//   bench_download [--sim PATH] [--baud N]... [--verify]   (default: 9600 and 2400)
// --verify: the download reads the table back before it disconnects.
#include "../benchsupport.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int Run(const QString& simPath, unsigned baud, bool verify)
{
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString device = StartBenchSim(sim, simPath, baud);
    if (device.isEmpty()) {
        std::fprintf(stderr, "bench_download: cannot start %s\n", qPrintable(simPath));
        return 2;
    }
    BenchDownload station(device, baud);
    station.Commands.VerifyAfterDownload = verify;
    const CountingBus& bus = station.Bus;

    QElapsedTimer wall;
    const double cpu0 = CpuSeconds();
    wall.start();
    const CommandOutcome out = station.Commands.DownloadItemClick();
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const double cpu = CpuSeconds() - cpu0;
    station.Engine.SetActive(false);
    sim.closeWriteChannel();
    if (!sim.waitForFinished(5000))
        sim.kill();

    if (out.kind != CommandOutcome::Succeeded) {
        std::fprintf(stderr, "bench_download: %u bit/s: %s\n", baud, qPrintable(out.text));
        return 1;
    }
    const double wire = double(bus.Sent + bus.Received) * 10 / baud;
    std::printf("%s %5u bit/s: %d requests, %lld+%lld bytes, elapsed %.3f s, wire %.3f s, "
                "elapsed/wire %.3f, cpu/wall %.3f\n",
                verify ? "verified download" : "download", baud, bus.Requests, bus.Sent, bus.Received, elapsed, wire, elapsed / wire, cpu / elapsed);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    BenchProcess bench(argc, argv);
    QString& simPath = bench.SimPath;
    QList<unsigned> bauds;
    bool verify = false;
    const bool understood = bench.Parse({{"--baud", [&](const QString& v) { bauds << v.toUInt(); }}},
                                        {{"--verify", &verify}});
    if (!understood) {
        std::fprintf(stderr, "usage: bench_download [--sim PATH] [--baud N]... [--verify]\n");
        return 2;
    }
    if (bauds.isEmpty())
        bauds = {9600, 2400};
    int status = 0;
    for (unsigned baud : bauds)
        status = qMax(status, Run(simPath, baud, verify));
    return status;
}
