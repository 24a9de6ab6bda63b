#pragma once
#include "busmaster.h"
#include "port.h"
#include "replyreceiver.h"
#include "tracelog.h"
#include <QEventLoop>
#include <QObject>
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
// reply in a nested loop, retries, Cancel, and the traffic trace, which goes
// to its sink (DEBUG.LOG unless given another) when the link is closed.
// One engine per port; engines share nothing, so each may run on its own
// thread (its port, clock and sink created there).
class TKYRBusComm : public QObject, public IBusMaster {
    Q_OBJECT
public:
    // On the real serial port and the event loop.
    explicit TKYRBusComm(QObject* parent = nullptr);
    // On the given port, clock and trace sink (not owned; they must outlive
    // the engine). Without a sink the engine keeps its own TraceLog.
    TKYRBusComm(IPort* port, IWaitClock* clock, ITraceSink* trace = nullptr, QObject* parent = nullptr);
    ~TKYRBusComm() override;

    // The line counts as quiet after this long without a byte: 50 ms, or 20
    // characters of 10 bits at slow speeds (83 ms at 2400 bit/s).
    static constexpr int QuietMinMs = 50;
    static constexpr int QuietChars = 20;
    // Received bytes are traced up to this many between two frames, then
    // only counted (a reply is at most 64 bytes).
    static constexpr int SpellTraceBytes = 4096;

    BusResult SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length,
                          ReplyForm reply = ReplyForm::Acknowledgement) override;
    BusResult ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) override;
    void Cancel() override;

    // Opens (the port's ECommsError passes through) or closes the link;
    // closing hands the trace to its sink (EInOutError after the port is closed).
    void SetActive(bool value);
    bool isActive() const { return Active; }

    uint32_t BaudRate() const { return FBaudRate; }
    void SetBaudRate(uint32_t rate);

    // Settings, read when they are used.
    QString CommName;            // copied to the port when the link opens
    int RetryInterval = 800;     // ms per attempt, counted from the drain notice; 0: no time-out
    int RetryCount = 6;          // further attempts after the first, 0..10
    int TraceEnabled = 0;

    // How the last request ended; None after a success.
    BusFailure Failure() const { return LastFailure; }
    const QString& FailureCause() const { return LastCause; }
    // The port hung up: requests fail at once until the link is opened again.
    bool isHungUp() const { return HungUp; }
    // Bytes dropped because no request waited for them, since the link opened.
    uint64_t IdleBytesDropped() const { return IdleDropped; }
    // The engine's own trace (null when it was given a sink).
    TraceLog* OwnTrace() const { return OwnedTrace.get(); }
    IPort* Port() const { return PortRef; }
    int QuietGapMs() const;

private:
    enum class WaitState {
        Idle,       // no request
        Sending,    // the frame is going out (no drain notice yet)
        Waiting,    // for the reply, under the attempt's time-out
        Quieting,   // letting the line fall quiet; whatever comes is dropped
        Done,       // the attempt is decided
    };
    // How one attempt ended.
    enum class Attempt { Complete, TimedOut, Cancelled };

    void Init();
    void OnReceived(const uint8_t* data, int count, uint64_t writesStarted);
    BusResult Request(const uint8_t* frame, int count, const uint8_t (*header)[kyr::HeaderLength],
                      ReplyForm form);
    bool Accepted(bool read, ReplyForm form, QByteArray* bytes);
    BusFailure AttemptFailure(Attempt attempt, const uint8_t* header, int wrongBytes, QString* cause) const;
    QString NoReplyCause(int attempts) const;
    BusResult Finish(BusFailure failure, QString cause);
    Attempt WaitReply();
    bool WaitForQuiet();
    bool SendFrame(const uint8_t* bytes, int count, int replyBytes);
    void TraceLine(const QString& line);
    void TraceBytes(const char* header, const uint8_t* data, int count);
    void TraceRetry(int attempt);
    void TraceReceived(const uint8_t* data, int count);
    void CloseIdleSpell();
    int Retries() const;

    std::unique_ptr<IPort> OwnedComm;   // a serial line or a device server (linkport.h)
    std::unique_ptr<TQtWaitClock> OwnedClock;
    std::unique_ptr<TraceLog> OwnedTrace;
    IPort* PortRef = nullptr;
    IWaitClock* Clock = nullptr;
    ITraceSink* Sink = nullptr;
    bool Active = false;
    uint32_t FBaudRate = 2400;

    WaitState State = WaitState::Idle;
    ReplyReceiver Reply;
    bool Aborted = false;        // Cancel or hang-up during this wait
    bool HungUp = false;
    bool SendEmpty = true;
    bool TimedOut = false;
    bool QuietBroken = false;
    uint64_t FrameSeq = 0;       // port block number of the frame last sent
    BusFailure LastFailure = BusFailure::None;
    QString LastCause;
    uint64_t IdleDropped = 0;
    int64_t SpellTraced = 0;     // received bytes traced since the last frame
    int64_t SpellUntraced = 0;   // ... and those only counted
};
