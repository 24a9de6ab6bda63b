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

    std::function<void()> OnTimer;
};

class TQtWaitClock : public QObject, public IWaitClock {
    Q_OBJECT
public:
    explicit TQtWaitClock(QObject* parent = nullptr);
    void StartTimer(int ms) override;
    void StopTimer() override;
    void ProcessEvents() override;

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

private:
    void Init();
    void TraceBytes(const char* header, const uint8_t* data, int count);
    void TraceRetry(int attempt);
    int Retries() const;

    std::unique_ptr<TComm> OwnedComm;
    std::unique_ptr<TQtWaitClock> OwnedClock;
    IPort* PortRef = nullptr;
    IWaitClock* Clock = nullptr;
    bool Active = false;
    uint32_t FBaudRate = 2400;
    uint64_t FrameSeq = 0;   // port block number of the frame last sent
};
