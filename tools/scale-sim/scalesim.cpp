#include "scalesim.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace varlo::sim {

using namespace std::chrono_literals;
using std::chrono::duration_cast;
using std::chrono::nanoseconds;

namespace {

[[noreturn]] void throwErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// Length of the frame that starts buf, 0 while not yet known.
std::size_t frameLength(const Bytes& buf)
{
    if (buf.empty())
        return 0;
    if (kyr::isSingleByteCommand(buf[0]))
        return 1;
    // The header, the data (none in a read request), the checksum.
    constexpr std::size_t framing = kyr::HeaderLength + 1;
    if (buf[0] == kyr::CmdRead)
        return framing;
    return buf.size() >= kyr::HeaderLength ? std::size_t{buf[kyr::HeaderLength - 1]} + framing : 0;
}

bool applies(const FaultRule& r, const Bytes& frame)
{
    const std::uint8_t cmd = frame[0];
    switch (r.kind) {
    case FaultKind::BadChecksum:
        if (cmd != kyr::CmdRead)
            return false;
        break;
    case FaultKind::AckOnly:
        if (cmd != kyr::CmdWrite)
            return false;
        break;
    case FaultKind::ShortFrame:
    case FaultKind::StateI:
    case FaultKind::StateN:
    case FaultKind::StateS:
        if (cmd != kyr::CmdAllValues)
            return false;
        break;
    default: break;
    }
    if (r.command && *r.command != cmd)
        return false;
    const bool addressed = frame.size() >= kyr::HeaderLength;
    if (r.bank && (!addressed || *r.bank != frame[1]))
        return false;
    if (r.address && (!addressed || *r.address != ((frame[2] << 8) | frame[3])))
        return false;
    return true;
}

int paramOr(const FaultRule& r, int fallback) { return r.param >= 0 ? r.param : fallback; }

void flipBit(Bytes& bytes, int param)
{
    const std::size_t bit = static_cast<std::size_t>(param) % (bytes.size() * 8);
    bytes[bit / 8] = static_cast<std::uint8_t>(bytes[bit / 8] ^ (1u << (bit % 8)));
}

void hex(std::string& out, std::span<const std::uint8_t> bytes)
{
    char b[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        out += b;
    }
}

timespec toTimespec(Clock::time_point t)
{
    // steady_clock is CLOCK_MONOTONIC on Linux.
    const auto ns = duration_cast<nanoseconds>(t.time_since_epoch()).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

void sleepUntil(Clock::time_point t)
{
    const timespec ts = toTimespec(t);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

int pollTimeoutMs(Clock::duration d)
{
    if (d <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::min<long long>(
        std::chrono::ceil<std::chrono::milliseconds>(d).count(), 60000));
}

} // namespace

// The rules that fire on one request.
struct Firing {
    std::vector<const FaultRule*> rules;
    bool has(FaultKind k) const
    {
        return std::any_of(rules.begin(), rules.end(), [k](auto* r) { return r->kind == k; });
    }
    int param(FaultKind k, int fallback) const
    {
        for (auto* r : rules)
            if (r->kind == k)
                return paramOr(*r, fallback);
        return fallback;
    }
};

ScaleSim::ScaleSim(Options options)
    : options_(std::move(options)), random_(options_.seed)
{
    bank(kyr::BankPriceMode)[kyr::PriceModeAddress] = options_.priceMode;
    bank(kyr::BankUnit);
    bank(kyr::BankSaleFigures);
    bank(kyr::BankPlu);
}

ScaleSim::~ScaleSim() { stop(); }

std::vector<std::uint8_t>& ScaleSim::bank(std::uint8_t number)
{
    auto& b = banks_[number];
    if (b.empty())
        b.resize(kBankSize);
    return b;
}

const std::vector<std::uint8_t>* ScaleSim::findBank(std::uint8_t number) const
{
    auto it = banks_.find(number);
    return it == banks_.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------- lifecycle

std::string ScaleSim::start()
{
    std::lock_guard lock(mutex_);
    if (started_)
        throw std::logic_error("ScaleSim::start called twice");

    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        throwErrno("posix_openpt");
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        int e = errno;
        ::close(master);
        errno = e;
        throwErrno("pty set-up");
    }
    // Raw from the first open on: with the default ECHO the client would
    // read back its own requests.
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        int e = errno;
        ::close(master);
        errno = e;
        throwErrno(name);
    }
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(slave, TCSANOW, &tio);
    }
    // Not kept open: a client's TIOCEXCL would outlive its close while we
    // held the tty, and its reopen would fail with EBUSY.
    ::close(slave);
    if (int fl = fcntl(master, F_GETFL); fl >= 0)
        fcntl(master, F_SETFL, fl | O_NONBLOCK);
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        int e = errno;
        ::close(master);
        errno = e;
        throwErrno("pipe2");
    }

    master_ = master;
    slavePath_ = name;
    started_ = true;
    startTime_ = Clock::now();
    worker_ = std::thread([this] { run(); });
    return slavePath_;
}

void ScaleSim::stop()
{
    {
        std::lock_guard lock(mutex_);
        if (!started_ || stopping_)
            return;
        stopping_ = true;
    }
    if (wake_[1] >= 0)
        (void)!::write(wake_[1], "s", 1);
    if (worker_.joinable())
        worker_.join();
    std::lock_guard lock(mutex_);
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    for (int& fd : wake_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    changed_.notify_all();
}

std::string ScaleSim::slavePath() const
{
    std::lock_guard lock(mutex_);
    return slavePath_;
}

bool ScaleSim::running() const
{
    std::lock_guard lock(mutex_);
    return started_ && !stopping_ && !hungUp_;
}

void ScaleSim::hangUp()
{
    {
        std::lock_guard lock(mutex_);
        if (!started_ || stopping_ || hungUp_)
            return;
        hangUpRequested_ = true;
        (void)!::write(wake_[1], "h", 1);
    }
}

bool ScaleSim::hungUp() const
{
    std::lock_guard lock(mutex_);
    return hungUp_;
}

void ScaleSim::closeMaster()
{
    std::lock_guard lock(mutex_);
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
    hungUp_ = true;
    changed_.notify_all();
}

// ---------------------------------------------------------------- worker

void ScaleSim::dropInput(WorkerState& w)
{
    if (w.pending.empty())
        return;
    std::lock_guard lock(mutex_);
    discarded_.push_back(w.pending);
    w.pending.clear();
    changed_.notify_all();
}

// Writes what it can of the reply due first; the last stretch is slept precisely.
ScaleSim::WriteStep ScaleSim::writeDue(int fd, WorkerState& w, Clock::time_point now, nanoseconds byteTime)
{
    auto& item = queue_.front();
    if (item.due - now > 2ms)
        return WriteStep::NotDue;
    sleepUntil(item.due);
    if (item.hangUp)
        return WriteStep::HangUp;
    ssize_t n = ::write(fd, item.bytes.data() + w.written, item.bytes.size() - w.written);
    if (n < 0 && errno == EAGAIN) {
        w.writeBlocked = true;
    } else if (n < 0 && errno != EINTR) {
        queue_.pop_front(); // no reader: the bytes are lost on the line
        w.written = 0;
    } else if (n > 0 && (w.written += static_cast<std::size_t>(n)) == item.bytes.size()) {
        const bool flood = item.flood;
        if (flood) // the next block follows when this one has crossed the line
            queue_.push_back({Clock::now() + byteTime * static_cast<long long>(item.bytes.size()),
                              item.bytes, false, true});
        queue_.pop_front();
        w.written = 0;
        if (flood)
            return WriteStep::Flooded; // a flood must not keep the requests from being read
    }
    return WriteStep::Wrote;
}

// Reads request bytes and answers each complete frame; false when the
// client has closed the slave.
bool ScaleSim::readInput(int fd, short revents, WorkerState& w, nanoseconds byteTime)
{
    if (!(revents & POLLIN))
        return !(revents & (POLLHUP | POLLERR));
    std::uint8_t buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (n <= 0)
        return false; // EIO or EOF: the client closed the slave
    const Clock::time_point now = Clock::now();
    if (!w.pending.empty() && now - w.lastRx >= options_.resyncGap)
        dropInput(w);
    {
        std::lock_guard lock(mutex_);
        bytesReceived_ += static_cast<std::uint64_t>(n);
        changed_.notify_all();
    }
    // The request occupies the line for its wire time; it is complete only
    // when its last byte would have arrived.
    const Clock::time_point chunkStart = std::max(rxWireFree_, now);
    rxWireFree_ = chunkStart + byteTime * n;
    w.lastRx = now;
    for (ssize_t i = 0; i < n; ++i) {
        w.pending.push_back(buf[i]);
        const std::size_t len = frameLength(w.pending);
        if (len && w.pending.size() == len) {
            process(w.pending, now, chunkStart + byteTime * (i + 1));
            w.pending.clear();
        }
    }
    return true;
}

void ScaleSim::run()
{
    const bool paced = options_.baud > 0;
    const nanoseconds byteTime = paced ? nanoseconds(10'000'000'000LL / options_.baud) : 0ns;
    const int fd = master_; // only the worker closes it while running
    WorkerState w;

    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            if (hangUpRequested_)
                break;
        }
        const auto now = Clock::now();
        if (!w.pending.empty() && now - w.lastRx >= options_.resyncGap)
            dropInput(w);

        // Due output first.
        if (!queue_.empty() && !w.writeBlocked && !w.peerClosed) {
            const WriteStep step = writeDue(fd, w, now, byteTime);
            if (step == WriteStep::HangUp)
                break;
            if (step == WriteStep::Wrote)
                continue;
        }

        Clock::duration wait = 1h;
        if (w.peerClosed)
            wait = 10ms; // POLLHUP stays set until the slave is reopened
        if (!w.pending.empty())
            wait = std::min<Clock::duration>(wait, w.lastRx + options_.resyncGap - now);
        if (!queue_.empty() && !w.writeBlocked && !w.peerClosed)
            wait = std::min<Clock::duration>(wait, queue_.front().due - now - 1ms);

        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {fd, 0, 0}};
        if (!w.peerClosed)
            fds[1].events = static_cast<short>(POLLIN | (w.writeBlocked ? POLLOUT : 0));
        const nfds_t nfds = w.peerClosed ? 1 : 2;
        int rc = ::poll(fds, nfds, pollTimeoutMs(wait));
        if (rc < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            char drain[16];
            while (::read(wake_[0], drain, sizeof drain) > 0) {
            }
            continue;
        }

        if (w.peerClosed) {
            pollfd probe{fd, POLLIN, 0};
            if (::poll(&probe, 1, 0) < 0 || (probe.revents & (POLLHUP | POLLERR | POLLNVAL)))
                continue;
            w.peerClosed = false;
            fds[1].revents = probe.revents;
        }
        if (fds[1].revents & POLLOUT)
            w.writeBlocked = false;
        if (readInput(fd, fds[1].revents, w, byteTime))
            continue;
        w = WorkerState{};
        w.peerClosed = true;
        queue_.clear();
    }
    closeMaster();
}

// The reply to a request as the firing rules make it; notes the request's checksum.
Bytes ScaleSim::faultedReply(const Bytes& frame, const Firing& f, RequestRecord& rec)
{
    Bytes heard = frame;
    if (f.has(FaultKind::Garble))
        flipBit(heard, f.param(FaultKind::Garble, 0));
    Bytes reply;
    if (f.has(FaultKind::ReplyNak)) {
        // Refused: nothing is stored.
        rec.checksumOk = heard.size() == 1 || checksumFor(heard) == 0;
        reply = {kyr::Refused};
    } else if (f.has(FaultKind::AckOnly)) {
        rec.checksumOk = checksumFor(heard) == 0;
        reply = {kyr::Ack};
    } else {
        reply = answer(heard, &rec.checksumOk);
    }
    if (f.has(FaultKind::BadChecksum) && reply.size() >= std::size_t{kyr::readReplyLength(0)})
        reply.back() = static_cast<std::uint8_t>(reply.back() + 1);
    for (auto [kind, fill] : {std::pair{FaultKind::StateI, 'I'}, std::pair{FaultKind::StateN, 'N'},
                              std::pair{FaultKind::StateS, 'S'}})
        if (f.has(kind)) {
            reply.assign(22, static_cast<std::uint8_t>(fill));
            reply.front() = kyr::Ack;
            reply.back() = kyr::Etx;
        }
    if (f.has(FaultKind::ShortFrame)) {
        Bytes full = allValuesFrame(indication_);
        // Rules built in code are not range-checked: keep STX and ETX.
        const std::size_t len = std::clamp<std::size_t>(
            static_cast<std::size_t>(std::max(f.param(FaultKind::ShortFrame, 12), 2)), 2, full.size());
        reply.assign(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len - 1));
        reply.push_back(kyr::Etx);
    }
    if (f.has(FaultKind::Truncate)) {
        const std::size_t k = static_cast<std::size_t>(f.param(FaultKind::Truncate, 1));
        reply.resize(reply.size() > k ? reply.size() - k : 0);
    }
    if (f.has(FaultKind::StrayByte))
        reply.insert(reply.begin(), static_cast<std::uint8_t>(f.param(FaultKind::StrayByte, 0x00)));
    if (f.has(FaultKind::FlipBit) && !reply.empty())
        flipBit(reply, f.param(FaultKind::FlipBit, 0));
    if (f.has(FaultKind::Silence) || f.has(FaultKind::HangUp))
        reply.clear();
    return reply;
}

void ScaleSim::process(const Bytes& frame, Clock::time_point at, Clock::time_point wireDone)
{
    std::unique_lock lock(mutex_);
    RequestRecord rec;
    rec.seq = ++seq_;
    rec.received = at;
    rec.frame = frame;

    Firing firing;
    for (auto& r : options_.faults) {
        if (rec.seq < r.fromSeq || !applies(r, frame))
            continue;
        ++r.passed;
        if (r.passed >= r.nth && (r.count < 0 || r.fired < r.count)) {
            ++r.fired;
            firing.rules.push_back(&r);
            rec.faults.push_back(r.kind);
        }
    }
    Bytes reply = faultedReply(frame, firing, rec);

    Clock::duration delay = options_.minLatency;
    if (options_.maxLatency > options_.minLatency) {
        std::uniform_int_distribution<long long> jitter(0, (options_.maxLatency - options_.minLatency).count());
        delay += std::chrono::microseconds(jitter(random_));
    }
    const Clock::duration latency = delay;
    if (firing.has(FaultKind::Late))
        delay += std::chrono::milliseconds(firing.param(FaultKind::Late, 1000));

    const bool hangUp = firing.has(FaultKind::HangUp);
    const int splitMs = firing.has(FaultKind::Split) ? firing.param(FaultKind::Split, 100) : -1;
    const int floodByte = firing.has(FaultKind::Flood) ? firing.param(FaultKind::Flood, 0x55) : -1;
    rec.reply = reply;
    log_.push_back(std::move(rec));
    changed_.notify_all();
    lock.unlock();

    // Replies leave one after another, each when the line is free; one
    // held back behind a late reply still takes its own latency after it,
    // as a scale behind a slow adapter does.
    Clock::time_point startAt = std::max(std::max(at, wireDone) + delay, txWireFree_);
    if (!queue_.empty())
        startAt = std::max(startAt, queue_.back().due + latency);
    if (hangUp) {
        queue_.push_back({startAt, {}, true});
        return;
    }
    if (splitMs >= 0 && reply.size() >= 2) {
        const auto half = reply.begin() + static_cast<std::ptrdiff_t>(reply.size() / 2);
        enqueue(Bytes(reply.begin(), half), startAt);
        enqueue(Bytes(half, reply.end()), txWireFree_ + std::chrono::milliseconds(splitMs));
    } else {
        enqueue(std::move(reply), startAt);
    }
    if (floodByte >= 0) {
        Pending p{std::max(startAt, txWireFree_), Bytes(64, static_cast<std::uint8_t>(floodByte)), false, true};
        queue_.push_back(std::move(p));
    }
}

// Queues reply bytes from `startAt` on; paced, in chunks of about 2 ms, each
// due when its last byte has crossed the line.
void ScaleSim::enqueue(Bytes reply, Clock::time_point startAt)
{
    if (reply.empty())
        return;
    if (options_.baud == 0) {
        queue_.push_back({startAt, std::move(reply), false});
        txWireFree_ = startAt;
        return;
    }
    const nanoseconds byteTime(10'000'000'000LL / options_.baud);
    const std::size_t perChunk = std::max<std::size_t>(1, static_cast<std::size_t>(2ms / byteTime));
    std::size_t sent = 0;
    while (sent < reply.size()) {
        const std::size_t n = std::min(perChunk, reply.size() - sent);
        sent += n;
        queue_.push_back({startAt + byteTime * static_cast<long long>(sent),
                          Bytes(reply.begin() + static_cast<std::ptrdiff_t>(sent - n),
                                reply.begin() + static_cast<std::ptrdiff_t>(sent)),
                          false});
    }
    txWireFree_ = queue_.back().due;
}

// Called with mutex_ held.
Bytes ScaleSim::answer(const Bytes& frame, bool* checksumOk)
{
    const std::uint8_t cmd = frame[0];
    if (cmd == kyr::CmdHello)
        return {kyr::Ack};
    if (cmd == kyr::CmdAllValues)
        return allValuesFrame(indication_);

    *checksumOk = checksumFor(frame) == 0;
    if (!*checksumOk)
        return {kyr::Refused};
    const std::uint8_t bankNo = frame[1];
    const std::uint16_t address = static_cast<std::uint16_t>((frame[2] << 8) | frame[3]);
    const std::size_t length = frame[4];
    const bool fits = address + length <= kBankSize;
    switch (cmd) {
    case kyr::CmdConnect:
    case kyr::CmdDisconnect: return {kyr::Ack};
    case kyr::CmdWrite: {
        if (!fits)
            return {kyr::Refused};
        auto& b = bank(bankNo);
        const auto data = frame.begin() + kyr::HeaderLength;
        std::copy(data, data + static_cast<std::ptrdiff_t>(length),
                  b.begin() + address);
        return {kyr::Ack};
    }
    case kyr::CmdRead: {
        if (!fits)
            return {kyr::Refused};
        Bytes reply{kyr::Ack, kyr::CmdRead, bankNo, frame[2], frame[3], static_cast<std::uint8_t>(length)};
        if (const auto* b = findBank(bankNo))
            reply.insert(reply.end(), b->begin() + address,
                         b->begin() + address + static_cast<std::ptrdiff_t>(length));
        else
            reply.insert(reply.end(), length, 0);
        reply.push_back(checksumFor(std::span(reply).subspan(1)));
        return reply;
    }
    default: return {kyr::Refused};
    }
}

// ---------------------------------------------------------------- memory

Bytes ScaleSim::read(std::uint8_t bankNo, std::uint16_t address, std::size_t length) const
{
    std::lock_guard lock(mutex_);
    length = std::min(length, kBankSize - address);
    const auto* b = findBank(bankNo);
    if (!b)
        return Bytes(length, 0);
    return Bytes(b->begin() + address, b->begin() + address + static_cast<std::ptrdiff_t>(length));
}

void ScaleSim::write(std::uint8_t bankNo, std::uint16_t address, std::span<const std::uint8_t> data)
{
    std::lock_guard lock(mutex_);
    const std::size_t length = std::min(data.size(), kBankSize - address);
    std::copy_n(data.begin(), length, bank(bankNo).begin() + address);
}

std::uint8_t ScaleSim::byte(std::uint8_t bankNo, std::uint16_t address) const
{
    return read(bankNo, address, 1)[0];
}

PluRecord ScaleSim::plu(int i) const
{
    if (i < 1 || i > kyr::PluRecords)
        throw std::out_of_range("PLU number");
    Bytes r = read(kyr::BankPlu, kyr::pluAddress(i), kyr::PluRecordLength);
    return {r[0], (std::uint32_t{r[1]} << 16) | (std::uint32_t{r[2]} << 8) | r[3]};
}

void ScaleSim::setPlu(int i, PluRecord record)
{
    if (i < 1 || i > kyr::PluRecords)
        throw std::out_of_range("PLU number");
    const std::uint8_t r[kyr::PluRecordLength] = {record.unitFlag, static_cast<std::uint8_t>(record.price >> 16),
                               static_cast<std::uint8_t>(record.price >> 8),
                               static_cast<std::uint8_t>(record.price)};
    write(kyr::BankPlu, kyr::pluAddress(i), r);
}

SaleFigures ScaleSim::saleFigures() const
{
    Bytes b = read(kyr::BankSaleFigures, 0, kyr::SaleFiguresLength);
    SaleFigures f;
    for (int i = 0; i < 5; ++i)
        f.total = (f.total << 8) | b[static_cast<std::size_t>(i)];
    for (int i = 5; i < 9; ++i)
        f.unitPrice = (f.unitPrice << 8) | b[static_cast<std::size_t>(i)];
    f.weight = static_cast<std::uint16_t>((b[9] << 8) | b[10]);
    return f;
}

void ScaleSim::setSaleFigures(SaleFigures f)
{
    std::uint8_t b[kyr::SaleFiguresLength];
    for (int i = 4; i >= 0; --i, f.total >>= 8)
        b[i] = static_cast<std::uint8_t>(f.total);
    for (int i = 8; i >= 5; --i, f.unitPrice >>= 8)
        b[i] = static_cast<std::uint8_t>(f.unitPrice);
    b[9] = static_cast<std::uint8_t>(f.weight >> 8);
    b[10] = static_cast<std::uint8_t>(f.weight);
    write(kyr::BankSaleFigures, 0, b);
}

std::uint8_t ScaleSim::priceMode() const { return byte(kyr::BankPriceMode, kyr::PriceModeAddress); }

void ScaleSim::setPriceMode(std::uint8_t mode)
{
    write(kyr::BankPriceMode, kyr::PriceModeAddress, std::span(&mode, 1));
}

void ScaleSim::setUnitByte(std::uint8_t unit) { write(kyr::BankUnit, 0, std::span(&unit, 1)); }

Indication ScaleSim::indication() const
{
    std::lock_guard lock(mutex_);
    return indication_;
}

void ScaleSim::setIndication(Indication indication)
{
    std::lock_guard lock(mutex_);
    indication_ = indication;
}

void ScaleSim::loadDemoState()
{
    // Two-decimal prices of a small greengrocer's.
    static constexpr std::uint32_t kPrices[] = {
        150, 249, 399, 129, 1590, 845, 2100, 675, 320, 1250, 89, 499, 1899, 560,
    };
    constexpr std::size_t n = std::size(kPrices);
    for (std::size_t i = 0; i < kyr::PluRecords; ++i)
        setPlu(static_cast<int>(i + 1), {0, kPrices[i % n] + 10 * static_cast<std::uint32_t>(i / n)});
    setUnitByte(0);
    // 1.234 kg at 1.50 a kg.
    setSaleFigures({185, 150, 1234});
    const std::uint8_t current[kyr::PluRecordLength] = {0, 0, 0, 150};
    write(kyr::BankPlu, kyr::CurrentPriceAddress, current);
    setIndication({Indication::State::Values, 1234, 150, 185});
}

// ---------------------------------------------------------------- faults and log

void ScaleSim::addFault(FaultRule rule)
{
    std::lock_guard lock(mutex_);
    options_.faults.push_back(rule);
}

void ScaleSim::clearFaults()
{
    std::lock_guard lock(mutex_);
    options_.faults.clear();
}

std::vector<FaultRule> ScaleSim::faults() const
{
    std::lock_guard lock(mutex_);
    return options_.faults;
}

std::vector<RequestRecord> ScaleSim::requests() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<Bytes> ScaleSim::discarded() const
{
    std::lock_guard lock(mutex_);
    return discarded_;
}

std::uint64_t ScaleSim::bytesReceived() const
{
    std::lock_guard lock(mutex_);
    return bytesReceived_;
}

void ScaleSim::clearLog()
{
    std::lock_guard lock(mutex_);
    log_.clear();
    discarded_.clear();
}

bool ScaleSim::waitForRequests(std::size_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return log_.size() >= n; });
}

bool ScaleSim::waitForDiscards(std::size_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return discarded_.size() >= n; });
}

bool ScaleSim::waitForBytes(std::uint64_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return bytesReceived_ >= n; });
}

std::string ScaleSim::dumpText() const
{
    std::string out;
    auto line = [&](const char* label, std::span<const std::uint8_t> bytes) {
        out += label;
        out += ' ';
        hex(out, bytes);
        out += '\n';
    };
    line("price-mode", read(kyr::BankPriceMode, kyr::PriceModeAddress, 1));
    line("sale-figures", read(kyr::BankSaleFigures, 0, kyr::SaleFiguresLength));
    line("unit", read(kyr::BankUnit, 0, 1));
    line("current-unit-price", read(kyr::BankPlu, kyr::CurrentPriceAddress, kyr::PluRecordLength));
    for (int i = 1; i <= kyr::PluRecords; ++i) {
        char label[16];
        std::snprintf(label, sizeof label, "plu %02d", i);
        line(label, read(kyr::BankPlu, kyr::pluAddress(i), kyr::PluRecordLength));
    }
    std::lock_guard lock(mutex_);
    char head[64];
    for (const auto& r : log_) {
        const double ms = std::chrono::duration<double, std::milli>(r.received - startTime_).count();
        std::snprintf(head, sizeof head, "request %llu %.3f ", static_cast<unsigned long long>(r.seq), ms);
        out += head;
        hex(out, r.frame);
        out += " ->";
        if (!r.reply.empty())
            out += ' ';
        hex(out, r.reply);
        for (std::size_t i = 0; i < r.faults.size(); ++i) {
            out += i ? "," : " [";
            out += faultName(r.faults[i]);
        }
        if (!r.faults.empty())
            out += ']';
        if (!r.checksumOk)
            out += " bad-checksum";
        out += '\n';
    }
    for (const auto& d : discarded_) {
        out += "discarded ";
        hex(out, d);
        out += '\n';
    }
    return out;
}

} // namespace varlo::sim
