// The varlo-scale-sim program as scripts use it: first line, faults from the
// command line, the dump on exit, exit codes.

#include "client.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

extern char** environ;

namespace varlo::sim::test {
namespace {

std::string programPath()
{
    const char* dir = std::getenv("VARLO_BUILD_DIR");
    return std::string(dir ? dir : ".") + "/tools/scale-sim/varlo-scale-sim";
}

struct Program {
    explicit Program(std::vector<std::string> args)
    {
        int out[2], in[2];
        if (pipe(out) != 0 || pipe(in) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        args.insert(args.begin(), programPath());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        stdinFd = in[1];
        stdoutFd = out[0];
    }
    ~Program()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        closeStdin();
        if (stdoutFd >= 0)
            ::close(stdoutFd);
    }
    std::string firstLine()
    {
        std::string line;
        char c;
        pollfd p{stdoutFd, POLLIN, 0};
        while (::poll(&p, 1, 5000) == 1 && ::read(stdoutFd, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    void closeStdin()
    {
        if (stdinFd >= 0)
            ::close(stdinFd);
        stdinFd = -1;
    }
    int wait()
    {
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, 0) != pid)
            return -1;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    pid_t pid = -1;
    int stdinFd = -1, stdoutFd = -1;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Program, ServesFaultsAndDumpsOnExit)
{
    const std::string dump = ::testing::TempDir() + "scalesim-dump-" + std::to_string(getpid()) + ".txt";
    std::remove(dump.c_str());
    Program sim({"--demo", "--stdin-control", "--dump", dump, "--fault", "aa@n=2",
                 "--price-mode", "0B", "--latency", "0"});
    ASSERT_GT(sim.pid, 0);
    const std::string path = sim.firstLine();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    {
        Client client(path);
        ASSERT_TRUE(client.isOpen());
        EXPECT_EQ(client.exchange("44", 1), "02");
        EXPECT_EQ(client.exchange("44", 1), "AA");
        EXPECT_EQ(client.exchange("55 83 00 03 01 24", 8), "02 55 83 00 03 01 0B 19");
        EXPECT_EQ(client.exchange("77 F9 00 C4 04 00 00 04 D2 F2", 1), "02");
    }
    sim.closeStdin();
    EXPECT_EQ(sim.wait(), 0);

    const std::string text = readFile(dump);
    EXPECT_NE(text.find("price-mode 0B\n"), std::string::npos) << text;
    EXPECT_NE(text.find("plu 01 00 00 04 D2\n"), std::string::npos);
    EXPECT_NE(text.find("plu 02 00 00 00 F9\n"), std::string::npos) << "demo price 2.49";
    EXPECT_NE(text.find("current-unit-price 00 00 00 96\n"), std::string::npos);
    EXPECT_NE(text.find(" 44 -> AA [aa]\n"), std::string::npos);
    EXPECT_NE(text.find("request 4 "), std::string::npos);
    std::remove(dump.c_str());
}

TEST(Program, SigtermEndsIt)
{
    Program sim({});
    ASSERT_GT(sim.pid, 0);
    ASSERT_FALSE(sim.firstLine().empty());
    ::kill(sim.pid, SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
}

TEST(Program, HangUpFaultEndsIt)
{
    Program sim({"--fault", "hangup"});
    ASSERT_GT(sim.pid, 0);
    Client client(sim.firstLine());
    client.send("44");
    EXPECT_TRUE(client.waitHangUp(1500ms));
    EXPECT_EQ(sim.wait(), 0);
}

TEST(Program, BadUsageExitsWithTwo)
{
    for (std::vector<std::string> args : {std::vector<std::string>{"--fault", "bogus"},
                                          {"--baud"}, {"--baud", "fast"}, {"--latency", "5-2"},
                                          {"--price-mode", "100"}, {"--whatever"}}) {
        Program sim(args);
        ASSERT_GT(sim.pid, 0);
        EXPECT_EQ(sim.firstLine(), "") << args[0];
        EXPECT_EQ(sim.wait(), 2) << args[0];
    }
}

} // namespace
} // namespace varlo::sim::test
