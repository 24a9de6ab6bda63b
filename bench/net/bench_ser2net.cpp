// Full PLU download through the real engine at 9600 bit/s against
// varlo-scale-sim, over the pty and through ser2net, one after the other in
// one run. The device server must cost no more than 5 % over the pty.
//   bench_ser2net [--sim PATH] [--rounds N] [--chardelay: keep the server's default batching]
#include "loopback.h"
#include "../benchsupport.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <optional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr unsigned Baud = 9600;


double WireSeconds = 0;

// Seconds one download takes on `port`; negative when it failed.
double Download(const QString& port)
{
    std::optional<BenchDownload> station;
    try {
        station.emplace(port, Baud);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_ser2net: %s: %s\n", qPrintable(port), e.what());
        return -1;
    }
    QElapsedTimer wall;
    wall.start();
    const CommandOutcome out = station->Commands.DownloadItemClick();
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    WireSeconds = double(station->Bus.Bytes()) * 10 / Baud;
    station->Engine.SetActive(false);
    QThread::msleep(300);   // the device server lets go of the line
    return out.kind == CommandOutcome::Succeeded ? elapsed : -1;
}

} // namespace

int main(int argc, char** argv)
{
    BenchProcess bench(argc, argv);
    QString& simPath = bench.SimPath;
    int rounds = 3;
    bool chardelay = false;
    const bool understood = bench.Parse({{"--rounds", [&](const QString& v) { rounds = qMax(1, v.toInt()); }}},
                                        {{"--chardelay", &chardelay}});
    if (!understood) {
        std::fprintf(stderr, "usage: bench_ser2net [--sim PATH] [--rounds N] [--chardelay]\n");
        return 2;
    }
    QProcess sim;
    const QString pty = StartBenchSim(sim, simPath, Baud);
    if (pty.isEmpty())
        return 2;

    QTemporaryDir dir;
    const uint16_t raw = FreeLoopbackPort(), telnet = FreeLoopbackPort();
    QFile cfg(dir.filePath("ser2net.yaml"));
    cfg.open(QIODevice::WriteOnly);
    // As a shop sets a device server up for a request-reply device: nodelay
    // (no Nagle on its side, which holds a reply's second byte back until
    // the first is acknowledged) and chardelay off (by default it waits two
    // character times to send bigger packets). --chardelay keeps the latter.
    const QString options = chardelay ? "" : "  options:\n    chardelay: false\n";
    cfg.write(QString("connection: &raw\n  accepter: tcp(nodelay),127.0.0.1,%1\n  connector: serialdev,%3,9600n81,local\n%4"
                      "connection: &tel\n  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,%2\n"
                      "  connector: serialdev,%3,9600n81,local\n%4").arg(raw).arg(telnet).arg(pty, options).toUtf8());
    cfg.close();
    QProcess server;
    server.start("ser2net", {"-n", "-u", "-c", cfg.fileName(), "-P", dir.filePath("pid")});
    if (!server.waitForStarted(5000)) {
        std::fprintf(stderr, "bench_ser2net: cannot start ser2net\n");
        return 2;
    }
    QThread::msleep(500);

    // Best of `rounds` for each road, the roads taking turns.
    const QStringList roads{pty, QString("tcp://127.0.0.1:%1").arg(raw), QString("rfc2217://127.0.0.1:%1").arg(telnet)};
    QList<double> best(roads.size(), 1e9);
    for (int r = 0; r < rounds; ++r)
        for (int k = 0; k < roads.size(); ++k) {
            const double s = Download(roads[k]);
            if (s < 0)
                return 1;
            best[k] = qMin(best[k], s);
        }
    server.kill();
    server.waitForFinished(5000);
    sim.closeWriteChannel();
    if (!sim.waitForFinished(5000))
        sim.kill();

    const char* names[] = {"pty", "ser2net raw", "ser2net telnet"};
    for (int k = 0; k < roads.size(); ++k)
        std::printf("download %u bit/s over %-14s %.3f s, elapsed/wire %.3f, %.3f of the pty\n", Baud, names[k],
                    best[k], best[k] / WireSeconds, best[k] / best[0]);
    const double ratio = best[1] / best[0];
    std::printf("ser2net raw / pty: %.3f (%s 5 %%)\n", ratio, ratio <= 1.05 ? "within" : "NOT within");
    return ratio <= 1.05 ? 0 : 1;
}
