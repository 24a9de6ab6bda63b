#pragma once
// A simulated scale on a pseudo-terminal. Plain C++20 and POSIX, no Qt.
//
// The simulator owns the master side of a pty; the program under test opens
// the slave path returned by start() as its serial device. A worker thread
// reads request frames, answers them from the scale's memory banks, paces
// the reply at the chosen baud rate and applies the fault rules.
//
// Clients may close and reopen the slave. A client that sets TIOCEXCL must
// clear it (TIOCNXCL) before closing: the pty keeps the flag while the
// master is open, and an unprivileged reopen would fail with EBUSY.

#include "protocol.h"
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace varlo::sim {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Command and reply bytes, banks, addresses: protocol.h (kyr::).
inline constexpr std::size_t kBankSize = 0x10000;

// The byte that makes the sum of `bytes` plus itself 0 modulo 256.
std::uint8_t checksumFor(std::span<const std::uint8_t> bytes);

// Request frames as the master sends them (checksum appended).
Bytes commandFrame(std::uint8_t cmd, std::uint8_t bank, std::uint16_t address,
                   std::span<const std::uint8_t> data = {});
Bytes readFrame(std::uint8_t bank, std::uint16_t address, std::uint8_t length);

// What the 0x05 enquiry is answered with.
struct Indication {
    enum class State { Values, Unstable, Lifted, Overflow };
    State state = State::Values;
    int weightGrams = 0;            // |weight| shown in 5 digits, sign byte '-' when negative
    std::uint32_t unitPrice = 0;    // hundredths, 6 digits
    std::uint32_t totalPrice = 0;   // hundredths, 6 digits
};
// STX, sign, 5 weight digits, ' ', 6 unit price digits, ' ', 6 total digits,
// ETX: 22 bytes. A state gives STX + 20 x 'I' / 'N' / 'S' + ETX. Fields that
// do not fit their digits are clamped to all nines.
Bytes allValuesFrame(const Indication& indication);

// ---------------------------------------------------------------- faults

enum class FaultKind {
    Silence,     // no reply at all (a write is still stored: the reply is lost)
    ReplyNak,    // reply 0xAA instead (a write is not stored)
    BadChecksum, // read replies only: checksum byte off by one
    StrayByte,   // one byte (param, default 0x00) before the reply
    Truncate,    // drop the last param bytes (default 1) of the reply
    Late,        // delay the reply by param milliseconds (default 1000)
    ShortFrame,  // 0x05 only: STX ... ETX of param bytes in all (default 12)
    StateI,      // 0x05 only: state frames
    StateN,
    StateS,
    HangUp,      // close the master: the client sees POLLHUP / EIO; serving ends
    FlipBit,     // flip bit param (default 0) of the reply, counted from its first byte
    Garble,      // flip bit param (default 0) of the request before it is answered
    Split,       // send the reply's second half param ms (default 100) after its first
    AckOnly,     // acknowledge a write without storing it
    Flood,       // from this reply on, send byte param (default 55) without pause
};

// One rule. A request passes the filter when it matches every set field
// (bank and address never match the single-byte commands 0x44 and 0x05;
// BadChecksum implies command 0x55, ShortFrame and the states command 0x05)
// and its sequence number (1-based, all requests since start) is >= fromSeq.
// The rule fires on the nth passing request and the count - 1 after it.
struct FaultRule {
    FaultKind kind = FaultKind::Silence;
    int param = -1; // -1: the kind's default
    std::optional<std::uint8_t> command;
    std::optional<std::uint8_t> bank;
    std::optional<std::uint16_t> address;
    std::uint64_t fromSeq = 1;
    std::uint64_t nth = 1;
    int count = 1; // < 0: always

    // Runtime state.
    std::uint64_t passed = 0;
    int fired = 0;
};

// Textual form, as the program's --fault takes it:
//   KIND[:PARAM][@KEY=VALUE[,KEY=VALUE...]]
//   KIND   silence | aa | badsum | stray[:HEX] | trunc[:K] | late:MS |
//          short[:LEN] | state:I|N|S | hangup | flip[:BIT] | garble[:BIT] |
//          split[:MS] | ackonly | flood[:HEX]
//   KEY    cmd=HEX bank=HEX addr=HEX seq=N n=N count=N|always
// Examples: silence@cmd=77,bank=F9,addr=00D0   aa@n=4   late:1200@n=2
// Throws std::invalid_argument with the reason.
FaultRule parseFaultRule(std::string_view ruleText);
std::string_view faultName(FaultKind kind);

// ---------------------------------------------------------------- the scale

struct Options {
    unsigned baud = 0; // 0: no pacing; else every byte takes 10 / baud s, both ways
    std::chrono::microseconds minLatency{0};
    std::chrono::microseconds maxLatency{2000}; // uniform in [min, max] per reply
    // A partial frame followed by this much silence is dropped, so one
    // garbage byte cannot swallow the requests after it.
    std::chrono::milliseconds resyncGap{50};
    std::uint8_t priceMode = 0x03; // two decimals
    std::vector<FaultRule> faults;
    std::uint32_t seed = 1; // latency jitter
};

struct PluRecord {
    std::uint8_t unitFlag = 0;
    std::uint32_t price = 0; // count of the last price decimal, 24 bits
    bool operator==(const PluRecord&) const = default;
};

struct SaleFigures {
    std::uint64_t total = 0;     // 40 bits
    std::uint32_t unitPrice = 0;
    std::uint16_t weight = 0;    // grams
    bool operator==(const SaleFigures&) const = default;
};

struct Firing; // the fault rules that fire on one request

// One complete request frame and what was done with it.
struct RequestRecord {
    std::uint64_t seq = 0;       // 1-based
    Clock::time_point received;  // when its last byte was read
    Bytes frame;
    bool checksumOk = true;
    Bytes reply;                 // as sent (after faults); empty for silence
    std::vector<FaultKind> faults;
};

class ScaleSim {
public:
    explicit ScaleSim(Options options = {});
    ~ScaleSim();
    ScaleSim(const ScaleSim&) = delete;
    ScaleSim& operator=(const ScaleSim&) = delete;

    // Opens the pty (slave in raw mode), starts the worker and returns the
    // slave device path. Throws std::system_error. Once per object.
    std::string start();
    // Stops the worker and closes the master. Idempotent.
    void stop();
    std::string slavePath() const;
    bool running() const;
    // Closes the master now, as the HangUp fault does. The slave path goes
    // away with it; the object only serves its accessors afterwards.
    void hangUp();
    bool hungUp() const;

    // Memory, thread-safe. Banks are 64 KiB of zeros until written; reads
    // and writes past the end of a bank are cut off.
    Bytes read(std::uint8_t bank, std::uint16_t address, std::size_t length) const;
    void write(std::uint8_t bank, std::uint16_t address, std::span<const std::uint8_t> data);
    std::uint8_t byte(std::uint8_t bank, std::uint16_t address) const;

    PluRecord plu(int i) const; // i = 1..77
    void setPlu(int i, PluRecord record);
    SaleFigures saleFigures() const;
    void setSaleFigures(SaleFigures figures);
    std::uint8_t priceMode() const;
    void setPriceMode(std::uint8_t mode);
    void setUnitByte(std::uint8_t unit);
    Indication indication() const;
    void setIndication(Indication indication);
    // Two-decimal PLU prices; sale figures total 185, unit price 150, weight
    // 1234 g (1.234 kg at 1.50); 150 as current unit price; the same figures
    // as indication. The price mode byte is left as it is.
    void loadDemoState();

    // Faults, thread-safe; rules added later are checked after earlier ones.
    void addFault(FaultRule rule);
    void addFault(std::string_view ruleText) { addFault(parseFaultRule(ruleText)); }
    void clearFaults();
    std::vector<FaultRule> faults() const;

    // Record, thread-safe.
    std::vector<RequestRecord> requests() const;
    std::vector<Bytes> discarded() const; // partial frames dropped by resync
    std::uint64_t bytesReceived() const;
    void clearLog();
    // Block until at least n requests are logged (or n discards, or n bytes
    // received); false on time-out.
    bool waitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;
    bool waitForDiscards(std::size_t n, std::chrono::milliseconds timeout) const;
    bool waitForBytes(std::uint64_t n, std::chrono::milliseconds timeout) const;

    // Hex text: price mode, sale figures, unit byte, bank 0xF9 (current unit
    // price and the 77 PLU records), then the request log.
    std::string dumpText() const;

private:
    struct Pending { // reply bytes waiting for their time on the wire
        Clock::time_point due;
        Bytes bytes;
        bool hangUp = false;
        bool flood = false; // queued again as soon as it is written
    };
    struct WorkerState { // the worker loop's own
        Bytes pending;       // bytes of an incomplete frame
        Clock::time_point lastRx{};
        bool peerClosed = false; // no client has the slave open
        std::size_t written = 0; // of queue_.front()
        bool writeBlocked = false;
    };
    enum class WriteStep { NotDue, Wrote, Flooded, HangUp };
    void enqueue(Bytes bytes, Clock::time_point startAt);
    void run();
    void dropInput(WorkerState& w);
    WriteStep writeDue(int fd, WorkerState& w, Clock::time_point now, std::chrono::nanoseconds byteTime);
    bool readInput(int fd, short revents, WorkerState& w, std::chrono::nanoseconds byteTime);
    void process(const Bytes& frame, Clock::time_point at, Clock::time_point wireDone);
    Bytes faultedReply(const Bytes& frame, const Firing& firing, RequestRecord& rec);
    Bytes answer(const Bytes& frame, bool* checksumOk);
    std::vector<std::uint8_t>& bank(std::uint8_t number);
    const std::vector<std::uint8_t>* findBank(std::uint8_t number) const;
    void closeMaster();

    Options options_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::uint8_t, std::vector<std::uint8_t>> banks_;
    Indication indication_;
    std::vector<RequestRecord> log_;
    std::vector<Bytes> discarded_;
    std::uint64_t bytesReceived_ = 0;
    std::uint64_t seq_ = 0;
    std::mt19937 random_;
    Clock::time_point startTime_{};

    std::string slavePath_;
    int master_ = -1;
    int wake_[2] = {-1, -1}; // self-pipe: stop and hang-up requests
    bool started_ = false;
    bool stopping_ = false;
    bool hangUpRequested_ = false;
    bool hungUp_ = false;
    std::thread worker_;

    // Worker-only state.
    std::deque<Pending> queue_;
    Clock::time_point txWireFree_{};
    Clock::time_point rxWireFree_{};
};

} // namespace varlo::sim
