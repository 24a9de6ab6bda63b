#pragma once
#include "errors.h"
#include "awaitedreply.h"
#include "port.h"
#include <QObject>
#include <atomic>
#include <memory>
#include <vector>

// Failure to open the serial port. Message is one of the fixed texts below;
// Detail names the device and the system's reason.
class ECommsError : public AppError {
public:
    using AppError::AppError;
};

namespace comm_messages {
inline const char* const OpenFailed = "Error opening serial port";
inline const char* const NotComm = "File handle is not a comm handle ";
inline const char* const NoBuffer = "Cannot setup comm buffer";
inline const char* const NoEvent = "Unable to create event";
inline const char* const NoReadThread = "Unable to create read thread";
inline const char* const NoWriteThread = "Unable to create write thread";
}

// The device behind a port name: "COMn" is /dev/ttyS<n-1> (KYR.CFG's
// [Devices] is looked up before, by the link settings); an absolute path
// stands as it is; any other name is looked up under /dev.
QString SerialDevicePath(const QString& commName);

// What a serial driver counts of the line's events (the kernel's
// serial_icounter_struct, the fields that matter here).
struct LineCounters {
    uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    uint32_t dcd = 0, rng = 0;
};
// Reads the counters of the tty `fd`; false when the device keeps none, as
// a pseudo-terminal, which then is not watched at all.
bool ReadTtyLineCounters(int fd, LineCounters& out);

// Line error flags of OnReceiveError, combined by OR.
enum : uint32_t {
    LineErrRxOver = 0x01,    // the driver's receive buffer overflowed
    LineErrOverrun = 0x02,   // the UART lost a byte
    LineErrParity = 0x04,
    LineErrFrame = 0x08,
    LineErrBreak = 0x10,
};
// Values of OnModemStateChange, combined by OR.
enum : uint32_t { ModemRing = 4, ModemCarrierChanged = 8 };

// A serial port on a tty: exclusive open, raw mode with the line settings of
// the properties, a reader and a writer thread. Every event runs on the
// thread that created the object, in the order the threads posted them.
class TComm : public QObject, public IPort {
    Q_OBJECT
public:
    explicit TComm(QObject* parent = nullptr);
    ~TComm() override;

    void OpenPort() override;
    void ClosePort() override;
    bool isOpen() const override { return Session != nullptr; }
    bool WriteData(const uint8_t* data, uint16_t count) override;
    uint64_t WriteSequence() const override { return WriteSeq; }
    // Numbers the opens from 1; 0 while closed. Notices of an earlier open are dropped.
    uint64_t sessionGeneration() const;
    void ExpectReply(int bytes) override;
    // The device path in use while open.
    QString DevicePath() const { return OpenPath; }
    // Received bytes dropped because the owner had not taken the bytes
    // before them (a device that talks faster than they are handled).
    uint64_t DroppedBytes() const { return Dropped.load(); }

    // Properties. A setter stores a changed value and, while the port is
    // open, applies it at once (CommName takes effect at the next open).
    QString CommName() const { return FCommName; }
    void SetCommName(const QString& v) override { FCommName = v; }
    uint32_t BaudRate() const { return FBaudRate; }
    void SetBaudRate(uint32_t v) override { SetLine(FBaudRate, v); }
    bool ParityCheck() const { return FParityCheck; }
    void SetParityCheck(bool v) { SetLine(FParityCheck, v); }
    bool Outx_CtsFlow() const { return FOutx_CtsFlow; }
    void SetOutx_CtsFlow(bool v) { SetLine(FOutx_CtsFlow, v); }
    bool Outx_DsrFlow() const { return FOutx_DsrFlow; }
    void SetOutx_DsrFlow(bool v) { SetLine(FOutx_DsrFlow, v); }
    TDtrControl DtrControl() const { return FDtrControl; }
    void SetDtrControl(TDtrControl v) override { SetLine(FDtrControl, v); }
    bool DsrSensitivity() const { return FDsrSensitivity; }
    void SetDsrSensitivity(bool v) { SetLine(FDsrSensitivity, v); }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    void SetTxContinueOnXoff(bool v) override { SetLine(FTxContinueOnXoff, v); }
    bool Outx_XonXoffFlow() const { return FOutx_XonXoffFlow; }
    void SetOutx_XonXoffFlow(bool v) override { SetLine(FOutx_XonXoffFlow, v); }
    bool Inx_XonXoffFlow() const { return FInx_XonXoffFlow; }
    void SetInx_XonXoffFlow(bool v) { SetLine(FInx_XonXoffFlow, v); }
    bool ReplaceWhenParityError() const { return FReplaceWhenParityError; }
    void SetReplaceWhenParityError(bool v) { SetLine(FReplaceWhenParityError, v); }
    bool IgnoreNullChar() const { return FIgnoreNullChar; }
    void SetIgnoreNullChar(bool v) override { SetLine(FIgnoreNullChar, v); }
    TRtsControl RtsControl() const { return FRtsControl; }
    void SetRtsControl(TRtsControl v) override { SetLine(FRtsControl, v); }
    uint16_t XonLimit() const { return FXonLimit; }
    void SetXonLimit(uint16_t v) { SetLine(FXonLimit, v); }
    uint16_t XoffLimit() const { return FXoffLimit; }
    void SetXoffLimit(uint16_t v) { SetLine(FXoffLimit, v); }
    TByteSize ByteSize() const { return FByteSize; }
    void SetByteSize(TByteSize v) override { SetLine(FByteSize, v); }
    TParity Parity() const { return FParity; }
    void SetParity(TParity v) override { SetLine(FParity, v); }
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits v) override { SetLine(FStopBits, v); }
    char XonChar() const { return FXonChar; }
    void SetXonChar(char v) { SetLine(FXonChar, v); }
    char XoffChar() const { return FXoffChar; }
    void SetXoffChar(char v) { SetLine(FXoffChar, v); }
    char ReplacedChar() const { return FReplacedChar; }
    void SetReplacedChar(char v) { SetLine(FReplacedChar, v); }
    uint32_t ReadIntervalTimeout() const { return FReadIntervalTimeout; }
    void SetReadIntervalTimeout(uint32_t v) override { SetTimeout(FReadIntervalTimeout, v); }
    uint32_t ReadTotalTimeoutMultiplier() const { return FReadTotalTimeoutMultiplier; }
    void SetReadTotalTimeoutMultiplier(uint32_t v) { SetTimeout(FReadTotalTimeoutMultiplier, v); }
    uint32_t ReadTotalTimeoutConstant() const { return FReadTotalTimeoutConstant; }
    void SetReadTotalTimeoutConstant(uint32_t v) { SetTimeout(FReadTotalTimeoutConstant, v); }
    uint32_t WriteTotalTimeoutMultiplier() const { return FWriteTotalTimeoutMultiplier; }
    void SetWriteTotalTimeoutMultiplier(uint32_t v) { SetTimeout(FWriteTotalTimeoutMultiplier, v); }
    uint32_t WriteTotalTimeoutConstant() const { return FWriteTotalTimeoutConstant; }
    void SetWriteTotalTimeoutConstant(uint32_t v) { SetTimeout(FWriteTotalTimeoutConstant, v); }

    // Raised when the driver's counters of line errors, carrier changes or
    // rings move. Devices without such counters (pseudo-terminals) raise
    // neither, and their reader never wakes for them.
    std::function<void(uint32_t eventMask)> OnReceiveError;
    std::function<void(uint32_t modemEvent)> OnModemStateChange;
    // How the reader reads the counters; taken at each open. Tests replace it.
    std::function<bool(int fd, LineCounters& out)> LineCounterSource = ReadTtyLineCounters;
    // How often the reader looks at the counters.
    static constexpr int LineWatchMs = 50;

private:
    struct PortSession;
    struct LineWatch;

    template <class T> void SetLine(T& field, T value)
    {
        if (field == value)
            return;
        field = value;
        if (isOpen())
            ApplyLineSettings();
    }
    template <class T> void SetTimeout(T& field, T value)
    {
        if (field == value)
            return;
        field = value;
        if (isOpen())
            ApplyTimeouts();
    }
    void ApplyLineSettings();
    void ApplyTimeouts();
    void StopSession();
    void ReadLoop(PortSession* s);
    void LookAtLine(PortSession* s, LineWatch& w);
    void WriteLoop(PortSession* s, uint64_t drainedUpTo);
    bool WriteAll(PortSession* s, const QByteArray& block);
    // Hand a notification to the owner's thread; dropped if the session ends first.
    void Post(PortSession* s, std::function<void()> fn);
    void PostHangup(PortSession* s);
    bool QueueReceived(PortSession* s, const std::vector<uint8_t>& chunk, uint64_t stamp);
    void DeliverReceived();
    void PostLineEvents(PortSession* s, const LineCounters& before, const LineCounters& now);

    std::unique_ptr<PortSession> Session;
    QString OpenPath;
    uint64_t Generation = 0;   // numbers the sessions; stale notifications are dropped
    uint64_t WriteSeq = 0;     // last block number WriteData handed out
    std::atomic<uint64_t> WritesStarted{0};
    std::atomic<uint64_t> Dropped{0};
    AwaitedReply Awaited;

    QString FCommName = QStringLiteral("COM2");
    uint32_t FBaudRate = 9600;
    bool FParityCheck = false;
    bool FOutx_CtsFlow = false;
    bool FOutx_DsrFlow = false;
    TDtrControl FDtrControl = DtrEnable;
    bool FDsrSensitivity = false;
    bool FTxContinueOnXoff = true;
    bool FOutx_XonXoffFlow = true;
    bool FInx_XonXoffFlow = true;
    bool FReplaceWhenParityError = false;
    bool FIgnoreNullChar = false;
    TRtsControl FRtsControl = RtsEnable;
    uint16_t FXonLimit = 500;
    uint16_t FXoffLimit = 500;
    TByteSize FByteSize = TByteSize::_8;
    TParity FParity = TParity::None;
    TStopBits FStopBits = TStopBits::_1;
    char FXonChar = 0x11;
    char FXoffChar = 0x13;
    char FReplacedChar = 0x00;
    uint32_t FReadIntervalTimeout = 100;
    uint32_t FReadTotalTimeoutMultiplier = 0;
    uint32_t FReadTotalTimeoutConstant = 0;
    uint32_t FWriteTotalTimeoutMultiplier = 0;
    uint32_t FWriteTotalTimeoutConstant = 0;
};
