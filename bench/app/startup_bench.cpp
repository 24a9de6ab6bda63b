// Start-up to the first painted window and peak memory of varlo-manager,
// each as a ratio to a bare Qt window started the same way in the same run.
//   bench_startup [pairs]     (default 31; QT_QPA_PLATFORM decides the display,
//                              default offscreen)
#include "firstpaint.h"
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Sample {
    double seconds;
    long maxRssKb;
};

// Time from fork to the first painted window (the child's byte on the
// pipe; its tear-down is not start-up), and the child's peak memory.
Sample runOnce(const std::vector<std::string>& argv)
{
    int painted[2];
    if (pipe(painted) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(painted[0]);
        setenv("VARLO_FIRST_PAINT_FD", std::to_string(painted[1]).c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(painted[1]);
    char byte = 0;
    const bool reported = read(painted[0], &byte, 1) == 1;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(painted[0]);
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    if (!reported || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv[0].c_str(), status);
        std::exit(1);
    }
    return {s, usage.ru_maxrss};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--bare") == 0) {
        QApplication app(argc, argv);
        // The bare window: one line of text (so it pays for the font system,
        // as any window with text does), reporting its first paint as
        // varlo-manager does.
        QMainWindow w;
        quitAfterFirstPaint(&w);
        w.setCentralWidget(new QLabel("Varlo Manager", &w));
        w.resize(899, 486);
        w.show();
        return app.exec();
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
    setenv("QT_QPA_PLATFORM", getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "offscreen", 1);
    setenv("VARLO_EXIT_AFTER_FIRST_PAINT", "1", 1);
    char home[] = "/tmp/varlo-bench-XXXXXX";
    if (!mkdtemp(home))
        return 1;

    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 1;
    self[n] = 0;

    // Both programs run in turns, the order alternating, after one pair
    // that only warms the caches. The time ratio is the median of the pairs'
    // ratios: a busy moment of the machine slows both runs of a pair alike.
    (void)runOnce({self, "--bare"});
    (void)runOnce({VARLO_MANAGER_PATH, "--home", home});
    std::vector<double> bareT, appT, ratioT, bareM, appM;
    for (int i = 0; i < runs; ++i) {
        Sample a, b;
        if (i % 2 == 0) {
            b = runOnce({self, "--bare"});
            a = runOnce({VARLO_MANAGER_PATH, "--home", home});
        } else {
            a = runOnce({VARLO_MANAGER_PATH, "--home", home});
            b = runOnce({self, "--bare"});
        }
        bareT.push_back(b.seconds);
        appT.push_back(a.seconds);
        ratioT.push_back(a.seconds / b.seconds);
        bareM.push_back(double(b.maxRssKb));
        appM.push_back(double(a.maxRssKb));
    }
    std::printf("runs: %d pairs (medians)\n", runs);
    std::printf("start-up to first paint: bare %.1f ms, varlo-manager %.1f ms, ratio %.2f (goal <= 1.30)\n",
                median(bareT) * 1e3, median(appT) * 1e3, median(ratioT));
    std::printf("  fastest runs: bare %.1f ms, varlo-manager %.1f ms, ratio %.2f\n",
                *std::min_element(bareT.begin(), bareT.end()) * 1e3,
                *std::min_element(appT.begin(), appT.end()) * 1e3,
                *std::min_element(appT.begin(), appT.end()) / *std::min_element(bareT.begin(), bareT.end()));
    std::printf("peak memory: bare %.0f KiB, varlo-manager %.0f KiB, ratio %.2f (goal <= 1.30)\n",
                median(bareM), median(appM), median(appM) / median(bareM));
    std::string rm = std::string("rm -rf ") + home;
    return std::system(rm.c_str()) == 0 ? 0 : 1;
}
