// The reply receiver on arbitrary chunk sequences: the receive state stays
// within its buffers whatever the scale sends.
#include "../link/fakelink.h"
#include "fuzzing.h"
#include "kyrbuscomm.h"

namespace {

// Input: mode byte, two parameter bytes, then chunks as a length byte
// (low 7 bits; the high bit resets the reply state first) and its bytes.
struct Reader {
    const uint8_t* p;
    size_t left;
    const uint8_t* chunk = nullptr;
    int n = 0;
    bool reset = false;
    bool next()
    {
        if (left == 0)
            return false;
        reset = (*p & 0x80) != 0;
        n = int(std::min<size_t>(*p & 0x7F, left - 1));
        chunk = p + 1;
        p += 1 + size_t(n);
        left -= 1 + size_t(n);
        return true;
    }
};

// The receiver alone, any header and reply form.
void feedReceiver(uint8_t mode, const uint8_t* params, Reader& in)
{
    ReplyReceiver rx;
    const uint8_t header[5] = {0x55, 0xF4, 0, params[0], uint8_t(params[1] % 64)};
    auto expect = [&] {
        if (mode & 8)
            rx.ExpectDataReply(header);
        else
            rx.ExpectCommandReply((mode & 2) ? ReplyForm::WholeFrame : ReplyForm::Acknowledgement);
    };
    expect();
    while (in.next()) {
        if (in.reset)
            expect();
        rx.Feed(in.chunk, in.n);
        Require(rx.count() >= 0 && rx.count() <= 64);
        QByteArray data;
        Require(!rx.checkedData(&data) || data.size() <= 57);
    }
    rx.checksumHolds(int(int8_t(params[1])));
    rx.checksumHolds(int(params[1]));
    rx.frame();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint8_t mode = data[0];
    Reader in{data + 3, size - 3};
    if ((mode & 4) == 0) {
        feedReceiver(mode, data + 1, in);
        return 0;
    }

    ManualClock clock;
    FakePort port(clock);
    TraceLog log([] { return QString(); });
    TKYRBusComm bus(&port, &clock, &log);
    clock.OnStall = [&bus] { bus.Cancel(); };
    bus.TraceEnabled = mode & 1;

    // Whole requests: each frame is answered by the next chunks, some of
    // them stale (from before the frame), some late.
    bus.SetActive(true);
    bus.RetryCount = data[1] % 3;
    bus.RetryInterval = (data[1] >> 2) % 4 * 100;   // 0: only a reply or a stall ends the wait
    port.Scale = [&](const QByteArray&, int) {
        int64_t at = 0;
        for (int k = 0; k < 3 && in.next(); ++k) {
            at += in.n * 7 % 500;
            const QByteArray bytes = Bytes(in.chunk, size_t(in.n));
            if (in.reset)
                port.Deliver(bytes, at, port.Seq - 1);
            else
                port.Reply(bytes, at);
        }
    };
    const uint8_t length = data[2] % 64;
    const ReplyForm form = (mode & 2) ? ReplyForm::WholeFrame : ReplyForm::Acknowledgement;
    const BusResult r = (mode & 8) ? bus.ReadBlock(0x55, 0xF4, 0, length)
                                   : bus.SendCommand((mode & 16) ? 0x05 : 0x77, 0xF9, 0x00C0, length, form);
    Require(bool(r) == (bus.Failure() == BusFailure::None));
    Require(r.bytes.size() <= 64);
    return 0;
}
