// The varlo-scale-sim program as scripts use it: first line, faults from the
// command line, the dump on exit, exit codes.

#include "client.h"
#include "programrun.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace varlo::sim::test {
namespace {

QString programPath() { return BuildDir() + "/tools/scale-sim/varlo-scale-sim"; }

// Started; its first line (the device path) read.
struct Program : QProcess {
    explicit Program(const QStringList& args)
    {
        start(programPath(), args);
        EXPECT_TRUE(waitForStarted(5000));
        EXPECT_TRUE(waitForReadyRead(5000));
        path = readLine().trimmed().toStdString();
    }
    ~Program() override
    {
        kill();
        waitForFinished(5000);
    }
    int ended()
    {
        return waitForFinished(5000) && exitStatus() == QProcess::NormalExit ? exitCode() : -1;
    }
    std::string path;
};

TEST(Program, ServesFaultsAndDumpsOnExit)
{
    QTemporaryDir dir;
    const QString dump = dir.filePath("dump.txt");
    Program sim({"--demo", "--stdin-control", "--dump", dump, "--fault", "aa@n=2", "--price-mode", "0B",
                 "--latency", "0"});
    ASSERT_EQ(sim.path.rfind("/dev/", 0), 0u) << sim.path;
    {
        Client client(sim.path);
        ASSERT_TRUE(client.isOpen());
        EXPECT_EQ(client.exchange("44", 1), "02");
        EXPECT_EQ(client.exchange("44", 1), "AA");
        EXPECT_EQ(client.exchange("55 83 00 03 01 24", 8), "02 55 83 00 03 01 0B 19");
        EXPECT_EQ(client.exchange("77 F9 00 C4 04 00 00 04 D2 F2", 1), "02");
    }
    sim.closeWriteChannel();
    EXPECT_EQ(sim.ended(), 0);

    const QByteArray text = ReadFile(dump);
    for (const char* line : {"price-mode 0B\n", "plu 01 00 00 04 D2\n", "plu 02 00 00 00 F9\n" /* demo price 2.49 */,
                             "current-unit-price 00 00 00 96\n", " 44 -> AA [aa]\n", "request 4 "})
        EXPECT_TRUE(text.contains(line)) << line << " in\n" << text.constData();
}

TEST(Program, SigtermEndsIt)
{
    Program sim({});
    ASSERT_FALSE(sim.path.empty());
    sim.terminate();
    EXPECT_EQ(sim.ended(), 0);
}

TEST(Program, HangUpFaultEndsIt)
{
    Program sim({"--fault", "hangup"});
    Client client(sim.path);
    client.send("44");
    EXPECT_TRUE(client.waitHangUp(1500ms));
    EXPECT_EQ(sim.ended(), 0);
}

TEST(Program, BadUsageExitsWithTwo)
{
    for (const QStringList& args : {QStringList{"--fault", "bogus"}, {"--baud"}, {"--baud", "fast"},
                                    {"--latency", "5-2"}, {"--price-mode", "100"}, {"--whatever"}}) {
        const Result r = RunProgram(programPath(), args, QProcessEnvironment::systemEnvironment());
        EXPECT_EQ(r.status, 2) << S(args.join(' '));
        EXPECT_EQ(r.out, "") << S(args.join(' '));
        EXPECT_TRUE(r.err.startsWith("varlo-scale-sim: ")) << S(r.err);
    }
}

} // namespace
} // namespace varlo::sim::test
