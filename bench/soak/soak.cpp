// A seeded soak: many downloads and uploads through the real command line,
// the real serial port and engine, against a simulated scale that meets
// random faults on the line. Each run's ending is checked against what a
// fault-free run leaves in the scale (download) or in the file (upload):
// a run that reports success while they differ is the fault this hunts.
//
//   varlo-soak [--runs N] [--jobs J] [--seed S] [--baud B] [--keep DIR]
//
// Prints the counts; exits 1 when any run reported success wrongly, hung
// or ended some other way, 0 otherwise.
#include "scalesim.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace varlo::sim;
using namespace std::chrono_literals;

namespace {

struct Config {
    int runs = 1000;
    int jobs = 8;
    std::uint32_t seed = 1;
    unsigned baud = 0;
    std::string keep;   // where the directories of bad runs are copied
    std::string manager = VARLO_MANAGER;
};

enum class Ending { Meant, Failed, FalseSuccess, AckedNotStored, Other };

struct Tally {
    std::mutex mutex;
    int counts[5] = {};
    int downloads = 0, uploads = 0;
    std::vector<std::string> notes;
};

const std::uint8_t kModeCodes[] = {0, 9, 11, 3, 15, 7};

// ---------------------------------------------------------------- a child run

struct Child {
    int status = -1;   // exit status; -1: killed or crashed
};

Child runManager(const Config& cfg, const std::vector<std::string>& args, const fs::path& dir)
{
    std::vector<std::string> argv{cfg.manager};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);

    std::vector<std::string> env{"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"};
    std::vector<char*> cenv;
    for (auto& e : env)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, (dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, (dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, cfg.manager.c_str(), &fa, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&fa);
    Child child;
    if (rc != 0)
        return child;
    // Every fault ends within seconds; a minute is a hang.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    int ws = 0;
    for (;;) {
        const pid_t w = waitpid(pid, &ws, WNOHANG);
        if (w == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &ws, 0);
            return child;
        }
        std::this_thread::sleep_for(20ms);
    }
    if (WIFEXITED(ws))
        child.status = WEXITSTATUS(ws);
    return child;
}

// One command with its own program directory `home`, which also keeps its output.
Child runCommand(const Config& cfg, const char* command, const fs::path& file, const std::string& port,
                 const fs::path& home)
{
    fs::create_directories(home);
    return runManager(cfg, {command, file.string(), "--port", port, "--home", home.string()}, home);
}

// ---------------------------------------------------------------- faults

std::string randomFault(std::mt19937& rng, bool download)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const std::string at = "@n=" + std::to_string(pick(1, 84));
    // Now and then a fault that never goes away: the command must fail, and
    // say so, rather than report what it did not do.
    if (pick(0, 14) == 0)
        return std::string(pick(0, 1) ? "aa" : "silence") + "@n=" + std::to_string(pick(1, 84)) + ",count=always";
    switch (pick(0, download ? 9 : 7)) {
    case 0: return "silence" + at;
    case 1: return "flip:" + std::to_string(pick(0, 63)) + at;
    case 2: return "garble:" + std::to_string(pick(0, 63)) + at;
    case 3: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X", pick(0, 255));
        return std::string("stray:") + hex + at;
    }
    case 4: return "split:" + std::to_string(pick(1, 60)) + at;
    case 5: return "late:" + std::to_string(pick(700, 1000)) + at;
    case 6: return "trunc:" + std::to_string(pick(1, 3)) + at;
    case 7: return "late:" + std::to_string(pick(700, 1000)) + "@cmd=55,n=" + std::to_string(pick(1, 80));
    case 8: return "aa@cmd=77,n=" + std::to_string(pick(1, 79));
    default: return "ackonly@n=" + std::to_string(pick(1, 79));
    }
}

// ---------------------------------------------------------------- one run

std::string priceText(std::uint32_t hundredths)
{
    return std::to_string(hundredths / 100) + "." + (hundredths % 100 < 10 ? "0" : "") +
           std::to_string(hundredths % 100);
}

void writePluFile(const fs::path& path, std::mt19937& rng)
{
    std::ofstream f(path, std::ios::binary);
    for (int i = 1; i <= kyr::PluRecords; ++i) {
        const auto h = std::uniform_int_distribution<std::uint32_t>(0, 9999999)(rng);
        f << priceText(h) << '\t' << "Item " << i << '\t' << (rng() % 4 ? "kg" : "g") << "\r\n";
    }
}

void randomScale(ScaleSim& sim, std::mt19937& rng)
{
    sim.setPriceMode(kModeCodes[rng() % 6]);
    for (int i = 1; i <= kyr::PluRecords; ++i)
        sim.setPlu(i, {static_cast<std::uint8_t>(rng() % 2),
                       std::uniform_int_distribution<std::uint32_t>(0, 9999999)(rng)});
    sim.setSaleFigures({1234, static_cast<std::uint32_t>(rng() % 100000), 500});
}

// What the scale holds that a download writes.
Bytes scaleImage(const ScaleSim& sim)
{
    Bytes image = sim.read(kyr::BankPlu, 0, kyr::pluAddress(kyr::PluRecords) + kyr::PluRecordLength);
    image.push_back(sim.priceMode());
    return image;
}

// Writes acknowledged but not stored: their bytes are taken from the
// reference, so that what is left to differ is what no read-back excuses.
bool onlyUnstoredWritesDiffer(const ScaleSim& sim, Bytes image, const Bytes& reference)
{
    for (const RequestRecord& r : sim.requests()) {
        if (std::find(r.faults.begin(), r.faults.end(), FaultKind::AckOnly) == r.faults.end())
            continue;
        if (r.frame.size() < 6)
            continue;
        const std::size_t at = static_cast<std::size_t>((r.frame[2] << 8) | r.frame[3]);
        if (r.frame[1] == kyr::BankPriceMode && at == kyr::PriceModeAddress)
            image.back() = reference.back();
        if (r.frame[1] != kyr::BankPlu)
            continue;
        for (std::size_t k = 0; k < r.frame[4] && at + k < image.size() - 1; ++k)
            image[at + k] = reference[at + k];
    }
    return image == reference;
}

std::string slurp(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

struct RunResult {
    Ending ending = Ending::Other;
    std::string note;
};

Options simOptions(const Config& cfg, std::uint32_t seed)
{
    Options o;
    o.baud = cfg.baud;
    o.seed = seed;
    // A scale's own pace, so that a reply held back behind a late one comes
    // apart from it, as it does behind USB adapters and device servers.
    o.minLatency = 5ms;
    o.maxLatency = 40ms;
    return o;
}

RunResult downloadRun(const Config& cfg, std::mt19937& rng, std::uint32_t seed, const fs::path& dir,
                      const std::vector<std::string>& faults)
{
    writePluFile(dir / "PRICES.KYR", rng);
    ScaleSim faulty(simOptions(cfg, seed)), clean(simOptions(cfg, seed));
    randomScale(faulty, rng);
    clean.write(kyr::BankPlu, 0, faulty.read(kyr::BankPlu, 0, kBankSize));
    clean.setPriceMode(faulty.priceMode());
    clean.setSaleFigures(faulty.saleFigures());
    for (const auto& f : faults)
        faulty.addFault(f);
    const Child c = runCommand(cfg, "download", dir / "PRICES.KYR", faulty.start(), dir / "run");
    faulty.stop();
    const Child r = runCommand(cfg, "download", dir / "PRICES.KYR", clean.start(), dir / "ref");
    clean.stop();
    if (r.status != 0)
        return {Ending::Other, "the fault-free download ended with " + std::to_string(r.status)};
    // 3: the read-back after the download found the scale holding other bytes.
    if (c.status == 1 || c.status == 3)
        return {Ending::Failed, {}};
    if (c.status != 0)
        return {Ending::Other, "ended with status " + std::to_string(c.status)};
    const Bytes got = scaleImage(faulty), want = scaleImage(clean);
    if (got == want)
        return {Ending::Meant, {}};
    if (onlyUnstoredWritesDiffer(faulty, got, want))
        return {Ending::AckedNotStored, {}};
    return {Ending::FalseSuccess, "\"Download PLU OK!\" but the scale differs"};
}

RunResult uploadRun(const Config& cfg, std::mt19937& rng, std::uint32_t seed, const fs::path& dir,
                    const std::vector<std::string>& faults)
{
    ScaleSim sim(simOptions(cfg, seed));
    randomScale(sim, rng);
    for (const auto& f : faults)
        sim.addFault(f);
    const std::string port = sim.start();
    const Child c = runCommand(cfg, "upload", dir / "GOT.KYR", port, dir / "run");
    sim.clearFaults();
    const Child r = runCommand(cfg, "upload", dir / "WANT.KYR", port, dir / "ref");
    sim.stop();
    if (r.status != 0)
        return {Ending::Other, "the fault-free upload ended with " + std::to_string(r.status)};
    if (c.status == 1)
        return {Ending::Failed, fs::exists(dir / "GOT.KYR") ? "a failed upload saved its file" : ""};
    if (c.status != 0)
        return {Ending::Other, "ended with status " + std::to_string(c.status)};
    if (slurp(dir / "GOT.KYR") == slurp(dir / "WANT.KYR") &&
        slurp(dir / "run" / "config.ini") == slurp(dir / "ref" / "config.ini"))
        return {Ending::Meant, {}};
    return {Ending::FalseSuccess, "\"Upload PLU OK!\" but the file differs"};
}

void oneRun(const Config& cfg, int index, Tally& tally)
{
    const std::uint32_t seed = cfg.seed * 100003u + static_cast<std::uint32_t>(index);
    std::mt19937 rng(seed);
    const bool download = rng() % 5 < 3;
    std::vector<std::string> faults;
    const int n = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < n; ++k)
        faults.push_back(randomFault(rng, download));

    const fs::path dir = fs::temp_directory_path() / ("varlo-soak-" + std::to_string(getpid()) + "-" +
                                                      std::to_string(index));
    fs::create_directories(dir);
    RunResult res = download ? downloadRun(cfg, rng, seed, dir, faults) : uploadRun(cfg, rng, seed, dir, faults);
    if (res.ending == Ending::Failed && !res.note.empty())
        res.ending = Ending::FalseSuccess;   // a failure that still wrote the file
    const bool bad = res.ending == Ending::FalseSuccess || res.ending == Ending::Other;
    if (bad && !cfg.keep.empty())
        fs::copy(dir, fs::path(cfg.keep) / dir.filename(), fs::copy_options::recursive);
    fs::remove_all(dir);

    std::lock_guard lock(tally.mutex);
    ++tally.counts[static_cast<int>(res.ending)];
    ++(download ? tally.downloads : tally.uploads);
    if (bad) {
        std::string line = "run " + std::to_string(index) + " (" + (download ? "download" : "upload") + "):";
        for (const auto& f : faults)
            line += " " + f;
        tally.notes.push_back(line + ": " + res.note);
    }
}

Config parse(int argc, char** argv)
{
    Config cfg;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v) {
            std::fprintf(stderr, "varlo-soak: %s needs a value\n", a.c_str());
            std::exit(2);
        }
        if (a == "--runs")
            cfg.runs = std::atoi(v);
        else if (a == "--jobs")
            cfg.jobs = std::max(1, std::atoi(v));
        else if (a == "--seed")
            cfg.seed = static_cast<std::uint32_t>(std::strtoul(v, nullptr, 10));
        else if (a == "--baud")
            cfg.baud = static_cast<unsigned>(std::atoi(v));
        else if (a == "--keep")
            cfg.keep = v;
        else if (a == "--manager")
            cfg.manager = v;
        else {
            std::fprintf(stderr, "varlo-soak: unknown option %s\n", a.c_str());
            std::exit(2);
        }
        ++i;
    }
    return cfg;
}

} // namespace

int main(int argc, char** argv)
{
    const Config cfg = parse(argc, argv);
    Tally tally;
    std::atomic<int> next{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int j = 0; j < cfg.jobs; ++j)
        workers.emplace_back([&] {
            for (int i = next++; i < cfg.runs; i = next++)
                oneRun(cfg, i, tally);
        });
    for (auto& w : workers)
        w.join();
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    for (const auto& n : tally.notes)
        std::printf("%s\n", n.c_str());
    std::printf("runs %d (downloads %d, uploads %d), seed %u, %d jobs, %.0f s\n", cfg.runs, tally.downloads,
                tally.uploads, cfg.seed, cfg.jobs, secs);
    std::printf("  success, scale or file as meant            %5d\n", tally.counts[0]);
    std::printf("  failure reported                           %5d\n", tally.counts[1]);
    std::printf("  SUCCESS REPORTED, NOT AS MEANT             %5d\n", tally.counts[2]);
    std::printf("  write acknowledged but not stored (success;\n"
                "    only a read-back after writing can tell)  %5d\n", tally.counts[3]);
    std::printf("  other endings (status 2, crash, hang)      %5d\n", tally.counts[4]);
    return tally.counts[2] == 0 && tally.counts[4] == 0 ? 0 : 1;
}
