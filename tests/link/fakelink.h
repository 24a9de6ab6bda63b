#pragma once
// A scripted serial port and a manual clock for the bus engine: time moves
// only when the engine's wait has nothing else to do, so no test waits for
// real. Plain C++ over the link headers (the fuzzer uses it too).
#include "port.h"
#include "kyrbuscomm.h"
#include <QByteArray>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

class ManualClock : public IWaitClock {
public:
    int64_t Now = 0;                 // ms
    bool Armed = false;
    int64_t Deadline = 0;
    QList<int> Started;              // interval of every StartTimer
    int Stalls = 0;                  // turns with nothing scheduled and no timer
    int Turns = 0;
    // Runs on a stall; a wait with nothing to come would sleep for ever.
    std::function<void()> OnStall;

    void At(int64_t delayMs, std::function<void()> fn) { Queue.emplace(Now + delayMs, std::move(fn)); }
    bool Idle() const { return Queue.empty(); }
    // Lets everything scheduled happen.
    void RunOut()
    {
        while (!Idle())
            ProcessEvents();
    }

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
        if (++Turns > 100000)
            throw std::runtime_error("manual clock: too many turns");
        auto next = Queue.begin();
        if (Armed && (next == Queue.end() || Deadline < next->first)) {
            Now = Deadline;
            Armed = false;
            if (OnTimer)
                OnTimer();
        } else if (next != Queue.end()) {
            Now = std::max(Now, next->first);
            auto fn = std::move(next->second);
            Queue.erase(next);
            fn();
        } else {
            ++Stalls;
            if (!OnStall)
                throw std::runtime_error("manual clock: the wait would never end");
            OnStall();
        }
    }

private:
    std::multimap<int64_t, std::function<void()>> Queue;   // equal times keep their order
};

class FakePort : public IPort {
public:
    explicit FakePort(ManualClock& clock) : Clock(clock) {}

    ManualClock& Clock;
    bool Open = false;
    std::function<void()> OpenHook;           // may throw, as a failing open does
    QList<QByteArray> Frames;                 // every block accepted by WriteData
    uint64_t Seq = 0;
    bool AutoDrain = true;                    // drain notice right after each write
    // The scale: called after each accepted write with the frame and its index.
    std::function<void(const QByteArray& frame, int index)> Scale;
    QString CommName;
    std::map<std::string, int> Line;          // the last value of every line setting
    QStringList Log;                          // "open", "close", "dtr:N" in order

    void OpenPort() override
    {
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
    void SetBaudRate(uint32_t v) override { Line["baud"] = int(v); }
    void SetDtrControl(TDtrControl v) override
    {
        Line["dtr"] = v;
        Log << QString("dtr:%1").arg(int(v));
    }
    void SetRtsControl(TRtsControl v) override { Line["rts"] = v; }
    void SetTxContinueOnXoff(bool v) override { Line["txContinueOnXoff"] = v; }
    void SetOutx_XonXoffFlow(bool v) override { Line["xonXoff"] = v; }
    void SetIgnoreNullChar(bool v) override { Line["ignoreNull"] = v; }
    void SetByteSize(TByteSize v) override { Line["byteSize"] = int(v); }
    void SetParity(TParity v) override { Line["parity"] = int(v); }
    void SetStopBits(TStopBits v) override { Line["stopBits"] = int(v); }
    void SetReadIntervalTimeout(uint32_t v) override { Line["readInterval"] = int(v); }

    // Port events are dropped once the port is closed, as TComm does.

    // Schedules a drain notice covering every block written so far.
    void Drain(int64_t delayMs)
    {
        Clock.At(delayMs, [this, done = Seq] {
            if (Open && OnSendDataEmpty)
                OnSendDataEmpty(done);
        });
    }
    // Schedules received bytes as read after the last block written so far
    // had started: they may answer it.
    void Reply(const QByteArray& bytes, int64_t delayMs = 0) { Deliver(bytes, delayMs, Seq); }
    // Bytes stamped with an explicit "writes started" number; without one,
    // stamped when they arrive, as a late reply is: with the last block
    // written by then, which may be a later frame than theirs.
    void Deliver(const QByteArray& bytes, int64_t delayMs, std::optional<uint64_t> writesStarted)
    {
        Clock.At(delayMs, [this, bytes, writesStarted] {
            if (Open && OnReceiveData)
                OnReceiveData(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()),
                              writesStarted.value_or(Seq));
        });
    }
    void Arrive(const QByteArray& bytes, int64_t delayMs) { Deliver(bytes, delayMs, std::nullopt); }
    void HangUp(int64_t delayMs = 0)
    {
        Clock.At(delayMs, [this] {
            if (Open && OnRequestHangup)
                OnRequestHangup();
        });
    }
};
