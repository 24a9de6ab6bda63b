#pragma once
// A scripted serial port and a manual clock for the bus engine: time moves
// only when the engine's wait has nothing else to do, so no test waits for
// real. Plain C++ over the link headers (the fuzzer uses it too).
#include "port.h"
#include "kyrbuscomm.h"
#include <QByteArray>
#include <QList>
#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>

class ManualClock : public IWaitClock {
public:
    int64_t Now = 0;                 // ms
    bool Armed = false;
    int64_t Deadline = 0;
    QList<int> Started;              // interval of every StartTimer
    int Stalls = 0;                  // turns with nothing scheduled and no timer
    int Turns = 0;
    int MaxTurns = 100000;
    // Runs on a stall; a wait with nothing to come would sleep for ever.
    std::function<void()> OnStall;

    void At(int64_t delayMs, std::function<void()> fn) { Queue.emplace(Now + delayMs, std::move(fn)); }
    bool Idle() const { return Queue.empty(); }

    void StartTimer(int ms) override
    {
        Armed = true;
        Deadline = Now + ms;
        Started << ms;
    }
    void StopTimer() override { Armed = false; }
    int64_t NowMs() const override { return Now; }
    void ProcessEvents() override
    {
        if (++Turns > MaxTurns)
            throw std::runtime_error("manual clock: too many turns");
        auto next = Queue.begin();
        if (Armed && (next == Queue.end() || Deadline < next->first)) {
            Now = Deadline;
            Armed = false;
            if (OnTimer)
                OnTimer();
            return;
        }
        if (next == Queue.end()) {
            ++Stalls;
            if (OnStall)
                OnStall();
            else
                throw std::runtime_error("manual clock: the wait would never end");
            return;
        }
        Now = std::max(Now, next->first);
        auto fn = std::move(next->second);
        Queue.erase(next);
        fn();
    }

private:
    std::multimap<int64_t, std::function<void()>> Queue;   // equal times keep their order
};

class FakePort : public IPort {
public:
    explicit FakePort(ManualClock& clock) : Clock(clock) {}

    ManualClock& Clock;
    bool Open = false;
    int OpenCalls = 0, CloseCalls = 0;
    std::function<void()> OpenHook;           // may throw, as a failing open does
    QList<QByteArray> Frames;                 // every block accepted by WriteData
    uint64_t Seq = 0;
    bool AutoDrain = true;                    // drain notice right after each write
    // The scale: called after each accepted write with the frame and its index.
    std::function<void(const QByteArray& frame, int index)> Scale;

    QString CommName;
    uint32_t Baud = 0;
    TDtrControl Dtr = DtrEnable;
    TRtsControl Rts = RtsDisable;
    bool TxContinueOnXoff = true, OutxXonXoff = true, IgnoreNull = true;
    TByteSize ByteSize = TByteSize::_5;
    TParity Parity = TParity::Odd;
    TStopBits StopBits = TStopBits::_2;
    uint32_t ReadInterval = 0;
    QList<TDtrControl> DtrHistory;
    QList<QString> Log;                       // "open", "close", "dtr:N" in order

    void OpenPort() override
    {
        ++OpenCalls;
        if (OpenHook)
            OpenHook();
        if (Open)
            return;
        Open = true;
        Log << "open";
        Drain(0);   // the writer reports its empty queue once after opening
    }
    void ClosePort() override
    {
        ++CloseCalls;
        Open = false;
        Log << "close";
    }
    bool isOpen() const override { return Open; }
    bool WriteData(const uint8_t* data, uint16_t count) override
    {
        if (!Open || count == 0)
            return false;
        Frames << QByteArray(reinterpret_cast<const char*>(data), count);
        ++Seq;
        if (AutoDrain)
            Drain(0);
        if (Scale)
            Scale(Frames.last(), int(Frames.size()) - 1);
        return true;
    }
    uint64_t WriteSequence() const override { return Seq; }

    void SetCommName(const QString& v) override { CommName = v; }
    void SetBaudRate(uint32_t v) override { Baud = v; }
    void SetDtrControl(TDtrControl v) override
    {
        Dtr = v;
        DtrHistory << v;
        Log << QString("dtr:%1").arg(int(v));
    }
    void SetRtsControl(TRtsControl v) override { Rts = v; }
    void SetTxContinueOnXoff(bool v) override { TxContinueOnXoff = v; }
    void SetOutx_XonXoffFlow(bool v) override { OutxXonXoff = v; }
    void SetIgnoreNullChar(bool v) override { IgnoreNull = v; }
    void SetByteSize(TByteSize v) override { ByteSize = v; }
    void SetParity(TParity v) override { Parity = v; }
    void SetStopBits(TStopBits v) override { StopBits = v; }
    void SetReadIntervalTimeout(uint32_t v) override { ReadInterval = v; }

    // Port events are dropped once the port is closed, as TComm does.

    // Schedules a drain notice covering every block written so far.
    void Drain(int64_t delayMs)
    {
        const uint64_t done = Seq;
        Clock.At(delayMs, [this, done] {
            if (Open && OnSendDataEmpty)
                OnSendDataEmpty(done);
        });
    }
    // Schedules received bytes as read after the last block written so far
    // had started: they may answer it.
    void Reply(const QByteArray& bytes, int64_t delayMs = 0) { Deliver(bytes, delayMs, Seq); }
    // Bytes stamped with an explicit "writes started" number.
    void Deliver(const QByteArray& bytes, int64_t delayMs, uint64_t writesStarted)
    {
        Clock.At(delayMs, [this, bytes, writesStarted] {
            if (Open && OnReceiveData)
                OnReceiveData(reinterpret_cast<const uint8_t*>(bytes.constData()),
                              int(bytes.size()), writesStarted);
        });
    }
    // Bytes read whenever they come, as a late reply is: stamped with the
    // last block written by then, which may be a later frame than theirs.
    void Arrive(const QByteArray& bytes, int64_t delayMs)
    {
        Clock.At(delayMs, [this, bytes] {
            if (Open && OnReceiveData)
                OnReceiveData(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()), Seq);
        });
    }
    void HangUp(int64_t delayMs = 0)
    {
        Clock.At(delayMs, [this] {
            if (Open && OnRequestHangup)
                OnRequestHangup();
        });
    }
};
