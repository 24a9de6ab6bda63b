// Start-up to the first painted window and peak memory of varlo-manager,
// each as a ratio to a bare Qt window started the same way in the same run.
//   bench_startup [runs]      (QT_QPA_PLATFORM decides the display; default offscreen)
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
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

// The bare window: one line of text (so it pays for the font system, as any
// window with text does), quits as soon as it has been painted once.
class BareWindow : public QMainWindow {
protected:
    void paintEvent(QPaintEvent* e) override
    {
        QMainWindow::paintEvent(e);
        QTimer::singleShot(0, qApp, &QApplication::quit);
    }
};

struct Sample {
    double seconds;
    long maxRssKb;
};

Sample runOnce(const std::vector<std::string>& argv)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
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
        BareWindow w;
        w.setCentralWidget(new QLabel("Varlo Manager", &w));
        w.resize(899, 486);
        w.show();
        return app.exec();
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
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

    std::vector<double> bareT, appT, bareM, appM;
    for (int i = 0; i < runs; ++i) {
        const Sample b = runOnce({self, "--bare"});
        const Sample a = runOnce({VARLO_MANAGER_PATH, "--home", home});
        bareT.push_back(b.seconds);
        appT.push_back(a.seconds);
        bareM.push_back(double(b.maxRssKb));
        appM.push_back(double(a.maxRssKb));
    }
    std::printf("runs: %d (median of each)\n", runs);
    std::printf("start-up to first paint: bare %.1f ms, varlo-manager %.1f ms, ratio %.2f (goal <= 1.30)\n",
                median(bareT) * 1e3, median(appT) * 1e3, median(appT) / median(bareT));
    std::printf("peak memory: bare %.0f KiB, varlo-manager %.0f KiB, ratio %.2f (goal <= 1.30)\n",
                median(bareM), median(appM), median(appM) / median(bareM));
    std::string rm = std::string("rm -rf ") + home;
    return std::system(rm.c_str()) == 0 ? 0 : 1;
}
