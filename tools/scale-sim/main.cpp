// varlo-scale-sim: a simulated scale on a pseudo-terminal. Prints the slave
// device path as its first line and serves until SIGINT/SIGTERM.

#include "scalesim.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

const char kUsage[] = R"(Usage: varlo-scale-sim [options]
Opens a pseudo-terminal, prints the device path of its slave side as the
first line on stdout and answers requests on it as a scale would, until
SIGINT or SIGTERM (or a hang-up fault).

Options:
  --baud N            pace bytes at N bit/s, 10 bits a byte, both ways (default: off)
  --latency MS|A-B    reply latency in ms, fixed or uniform in A..B (default 0-2)
  --resync MS         drop a partial request after MS ms of silence (default 50)
  --price-mode HEX    price mode byte, bank 83 address 3 (default 03)
  --demo              fill PLU prices, sale figures and the indication
  --fault RULE        inject a fault; repeatable, checked in the order given
  --dump FILE         on exit write memory and the request log to FILE as hex text
  --stdin-control     also exit when stdin reaches end of file
  --seed N            seed of the latency jitter (default 1)
  -h, --help          this text

Fault RULE:  KIND[:PARAM][@KEY=VALUE[,KEY=VALUE...]]
  KIND  silence        no reply (a write is still stored)
        aa             reply 0xAA (a write is not stored)
        badsum         read reply with a wrong checksum (command 55 only)
        stray[:HEX]    one stray byte (default 00) before the reply
        trunc[:K]      drop the last K bytes of the reply (default 1)
        late:MS        reply MS ms later (default 1000)
        short[:LEN]    all-values frame of LEN bytes STX..ETX (default 12; command 05 only)
        state:I|N|S    state frame: unstable, plate lifted, overflow (command 05 only)
        hangup         close the pty instead of replying; the client sees
                       POLLHUP/EIO, the device disappears and the program exits
        flip[:BIT]     flip bit BIT (default 0) of the reply, line noise
        garble[:BIT]   flip bit BIT (default 0) of the request before answering it
        split[:MS]     send the reply's second half MS ms (default 100) later
        ackonly        acknowledge a write but keep the old bytes (command 77 only)
        flood[:HEX]    after the reply, send byte HEX (default 55) without pause
  KEY   cmd=HEX bank=HEX addr=HEX   the request must match (bank and addr
                                    never match the single bytes 44 and 05)
        seq=N          only requests from the Nth since start (1-based)
        n=N            fire at the Nth matching request (default 1)
        count=N|always fire that many times (default 1)
  Examples:  silence@cmd=77,bank=F9,addr=00D0   aa@n=4   late:1200@n=2
             hangup@seq=5   badsum@count=always   state:N@cmd=05
)";

[[noreturn]] void usageError(const std::string& why)
{
    std::fprintf(stderr, "varlo-scale-sim: %s\nTry --help.\n", why.c_str());
    std::exit(2);
}

long long parseNumber(std::string_view text, int base, long long max, const char* what)
{
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X")))
        text.remove_prefix(2);
    long long v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < 0 || v > max)
        usageError(std::string("bad ") + what + " \"" + std::string(text) + "\"");
    return v;
}

struct Args {
    varlo::sim::Options options;
    bool demo = false, stdinControl = false;
    std::string dumpFile;
};

// The options; --help prints the usage and ends the program.
Args parseArgs(int argc, char** argv)
{
    using namespace varlo::sim;
    Args a;
    Options& options = a.options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc)
                usageError(std::string(arg) + " needs a value");
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--baud") {
            options.baud = static_cast<unsigned>(parseNumber(value(), 10, 4000000, "baud rate"));
        } else if (arg == "--latency") {
            std::string_view v = value();
            auto dash = v.find('-');
            auto lo = parseNumber(v.substr(0, dash), 10, 600000, "latency");
            auto hi = dash == std::string_view::npos ? lo : parseNumber(v.substr(dash + 1), 10, 600000, "latency");
            if (hi < lo)
                usageError("latency range runs backwards");
            options.minLatency = std::chrono::milliseconds(lo);
            options.maxLatency = std::chrono::milliseconds(hi);
        } else if (arg == "--resync") {
            options.resyncGap = std::chrono::milliseconds(parseNumber(value(), 10, 600000, "resync gap"));
        } else if (arg == "--price-mode") {
            options.priceMode = static_cast<std::uint8_t>(parseNumber(value(), 16, 0xFF, "price mode"));
        } else if (arg == "--fault") {
            try {
                options.faults.push_back(parseFaultRule(value()));
            } catch (const std::invalid_argument& e) {
                usageError(e.what());
            }
        } else if (arg == "--demo") {
            a.demo = true;
        } else if (arg == "--dump") {
            a.dumpFile = value();
        } else if (arg == "--stdin-control") {
            a.stdinControl = true;
        } else if (arg == "--seed") {
            options.seed = static_cast<std::uint32_t>(parseNumber(value(), 10, 0xFFFFFFFF, "seed"));
        } else {
            usageError("unknown option \"" + std::string(arg) + "\"");
        }
    }
    return a;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace varlo::sim;
    const Args args = parseArgs(argc, argv);
    const bool demo = args.demo, stdinControl = args.stdinControl;
    const std::string& dumpFile = args.dumpFile;
    const Options& options = args.options;

    // Blocked before the worker starts so that only signalfd sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int sigFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (sigFd < 0) {
        std::fprintf(stderr, "varlo-scale-sim: signalfd: %s\n", std::strerror(errno));
        return 2;
    }

    ScaleSim sim(options);
    if (demo)
        sim.loadDemoState();
    std::string path;
    try {
        path = sim.start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varlo-scale-sim: cannot open a pseudo-terminal: %s\n", e.what());
        return 2;
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    for (bool done = false; !done && !sim.hungUp();) {
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, stdinControl ? 2 : 1, 100) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            done = true;
        if (stdinControl && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[256];
            ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0 && !(n < 0 && errno == EINTR))
                done = true;
        }
    }
    sim.stop();
    ::close(sigFd);

    if (!dumpFile.empty()) {
        std::ofstream out(dumpFile, std::ios::binary | std::ios::trunc);
        out << sim.dumpText();
        out.close();
        if (!out) {
            std::fprintf(stderr, "varlo-scale-sim: cannot write %s\n", dumpFile.c_str());
            return 1;
        }
    }
    return 0;
}
