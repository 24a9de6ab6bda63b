// The reply receiver on arbitrary chunk sequences: the receive state stays
// within its buffers whatever the scale sends.
#include "../link/fakelink.h"
#include "kyrbuscomm.h"
#include <cstddef>
#include <cstdint>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

void CheckState(const ReplyReceiver& rx)
{
    Check(rx.count() >= 0 && rx.count() <= 64);
    QByteArray data;
    if (rx.checkedData(&data))
        Check(data.size() <= 57);
}

// Input: mode byte, two parameter bytes, then chunks as a length byte
// (low 7 bits; the high bit resets the reply state first) and its bytes.
struct Reader {
    const uint8_t* p;
    size_t left;
    bool next(const uint8_t** chunk, int* n, bool* reset)
    {
        if (left == 0)
            return false;
        *reset = (*p & 0x80) != 0;
        *n = int(std::min<size_t>(*p & 0x7F, left - 1));
        *chunk = p + 1;
        p += 1 + size_t(*n);
        left -= 1 + size_t(*n);
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint8_t mode = data[0];
    Reader in{data + 3, size - 3};
    const uint8_t* chunk = nullptr;
    int n = 0;
    bool reset = false;

    if ((mode & 4) == 0) {
        // The receiver alone, any header and reply form.
        ReplyReceiver rx;
        const uint8_t header[5] = {0x55, 0xF4, 0, data[1], uint8_t(data[2] % 64)};
        auto expect = [&] {
            if (mode & 8)
                rx.ExpectDataReply(header);
            else
                rx.ExpectCommandReply((mode & 2) ? ReplyForm::WholeFrame : ReplyForm::Acknowledgement);
        };
        expect();
        while (in.next(&chunk, &n, &reset)) {
            if (reset)
                expect();
            rx.Feed(chunk, n);
            CheckState(rx);
        }
        rx.checksumHolds(int(int8_t(data[2])));
        rx.checksumHolds(int(data[2]));
        rx.frame();
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
        for (int k = 0; k < 3 && in.next(&chunk, &n, &reset); ++k) {
            at += n * 7 % 500;
            const QByteArray bytes(reinterpret_cast<const char*>(chunk), n);
            if (reset)
                port.Deliver(bytes, at, port.Seq - 1);
            else
                port.Reply(bytes, at);
        }
    };
    const uint8_t length = data[2] % 64;
    const ReplyForm form = (mode & 2) ? ReplyForm::WholeFrame : ReplyForm::Acknowledgement;
    const BusResult r = (mode & 8) ? bus.ReadBlock(0x55, 0xF4, 0, length)
                                   : bus.SendCommand((mode & 16) ? 0x05 : 0x77, 0xF9, 0x00C0, length, form);
    Check(bool(r) == (bus.Failure() == BusFailure::None));
    Check(r.bytes.size() <= 64);
    return 0;
}
