#pragma once
#include "busmaster.h"
#include "port.h"
#include <QEventLoop>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

class TComm;

// The engine's clock and nested loop. The real one sleeps in the event loop
// and times attempts with a single-shot timer; tests use a manual clock.
class IWaitClock {
public:
    virtual ~IWaitClock() = default;
    // One-shot: OnTimer runs once, `ms` after the start, unless stopped.
    virtual void StartTimer(int ms) = 0;
    virtual void StopTimer() = 0;
    // One turn of the nested loop: sleep until at least one event has been
    // handled (received data, the drain notice, the timer, user input).
    virtual void ProcessEvents() = 0;
    // Milliseconds on a monotonic clock.
    virtual int64_t NowMs() const = 0;

    std::function<void()> OnTimer;
};

class TQtWaitClock : public QObject, public IWaitClock {
    Q_OBJECT
public:
    explicit TQtWaitClock(QObject* parent = nullptr);
    void StartTimer(int ms) override;
    void StopTimer() override;
    void ProcessEvents() override;
    int64_t NowMs() const override;

    QTimer RetryTimer;

private:
    std::unique_ptr<QEventLoop> Loop;
};

// The bus protocol master: request frames with checksums, the wait for the
// reply in a nested loop, retries, Cancel, and the traffic trace that goes
// to DEBUG.LOG when the link is closed.
class TKYRBusComm : public QObject, public IBusMaster {
    Q_OBJECT
public:
    // On the real serial port and the event loop.
    explicit TKYRBusComm(QObject* parent = nullptr);
    // On the given port and clock (not owned; they must outlive the engine).
    TKYRBusComm(IPort* port, IWaitClock* clock, QObject* parent = nullptr);
    ~TKYRBusComm() override;

    // WaitReply outcomes.
    static constexpr int WaitCancelled = -3;
    static constexpr int WaitTimedOut = -2;
    static constexpr int ReplyAA = -1;
    static constexpr int ReplySTX = 1;
    static constexpr int ReplyOther = 2;

    static constexpr int MaxWriteLength = 59;   // 6 + 59 = 65 bytes of frame
    static constexpr int MaxReadLength = 57;    // length + 7 reply bytes within 64
    // The line counts as quiet after this long without a byte: 50 ms, or 20
    // characters of 10 bits at slow speeds (83 ms at 2400 bit/s).
    static constexpr int QuietMinMs = 50;
    static constexpr int QuietChars = 20;
    // The trace keeps the newest lines; DEBUG.LOG then opens with a line
    // that says how many went.
    static constexpr int TraceMaxLines = 65536;
    // Received bytes are traced up to this many between two frames, then
    // only counted (a reply is at most 64 bytes).
    static constexpr int SpellTraceBytes = 4096;

    bool SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) override;
    bool ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) override;
    void Cancel() override;

    // Opens (the port's ECommsError passes through) or closes the link;
    // closing writes the trace to DEBUG.LOG (EInOutError after the port is closed).
    void SetActive(bool value);
    bool isActive() const { return Active; }

    uint32_t BaudRate() const { return FBaudRate; }
    void SetBaudRate(uint32_t rate);

    QString CommName;            // copied to the port when the link opens
    int RetryInterval = 800;     // ms per attempt, counted from the drain notice; 0: no time-out
    int RetryCount = 6;          // further attempts after the first, 0..10
    int TraceEnabled = 0;

    bool Aborted = false;
    bool SendEmpty = true;
    QStringList Trace;
    uint8_t CommandFrame[65] = {};
    bool ChecksumError = false;
    int TimedOut = 0;
    uint8_t FirstByte = 0;
    int ReceiveCount = 0;
    int ReplyState = -1;
    int ExpectedLength = 0;
    // The port hung up (device gone): requests fail at once until the link
    // is opened again.
    bool HungUp = false;
    // Why the last failed request failed, in the operator's words; empty
    // after a success.
    QString FailureCause;
    // Bytes dropped because no request waited for them, since the link opened.
    uint64_t IdleBytesDropped = 0;
    // Trace lines dropped from the front to keep TraceMaxLines.
    int64_t TraceLinesDropped = 0;

    IPort* Port() const { return PortRef; }

    // Port and timer handlers.
    void CommReceiveData(const uint8_t* data, int count);
    void CommSendDataEmpty();
    void RetryTimerTimer();
    void CommRequestHangup();

    void CheckReply(int expectedLength);
    int WaitReply(int expectedLength, int interval);
    void ResetReply();
    void SendFrame(const uint8_t* bytes, int count);
    void SendReadRequest(uint8_t command, uint8_t bank, uint16_t address, uint8_t length);
    // The next data reply must be 0x02 and echo these five header bytes; its
    // whole length is length + 7 (ExpectedLength = length + 6).
    void ExpectReadReply(uint8_t command, uint8_t bank, uint16_t address, uint8_t length);
    // Discards what arrives until no byte came for QuietGapMs(), at most
    // RetryInterval in all, so that a late reply to an earlier attempt cannot
    // complete a later request.
    void WaitForQuiet();
    int QuietGapMs() const;

private:
    void Init();
    void TraceBytes(const char* header, const uint8_t* data, int count);
    void TraceRetry(int attempt);
    void TraceIdleBytes(const uint8_t* data, int count);
    void TraceReceived(const uint8_t* data, int count);
    void CloseIdleSpell();
    // Cuts in steps of an eighth by default, so that trimming costs little per line.
    void TrimTrace(int slack = TraceMaxLines / 8);
    void ResyncDataReply();
    bool CommandReplyDecided();
    bool HeaderMatchesAt(int start) const;
    void NoteFailure(const QString& cause);
    int Retries() const;

    std::unique_ptr<IPort> OwnedComm;   // a serial line or a device server (linkport.h)
    std::unique_ptr<TQtWaitClock> OwnedClock;
    IPort* PortRef = nullptr;
    IWaitClock* Clock = nullptr;
    bool Active = false;
    uint32_t FBaudRate = 2400;
    uint64_t FrameSeq = 0;   // port block number of the frame last sent
    bool Waiting = false;    // a request is between its frame and its outcome
    bool Quieting = false;   // WaitForQuiet is discarding what comes
    bool QuietBroken = false;
    uint8_t ReadHeader[5] = {};   // what a data reply must echo after its 0x02
    int WrongReplies = 0;    // bytes dropped for not starting this request's data reply
    int64_t SpellTraced = 0;     // received bytes traced since the last frame
    int64_t SpellUntraced = 0;   // ... and those only counted
};
