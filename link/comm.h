#pragma once
#include "errors.h"
#include "sessionport.h"
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

// The published properties of TComm besides CommName: type, name, default,
// what a change applies at once while the port is open, and whether the
// setter belongs to IPort.
#define VARLO_TCOMM_PROPERTIES(P) \
    P(uint32_t, BaudRate, 9600, ApplyLineSettings, override) \
    P(bool, ParityCheck, false, ApplyLineSettings, ) \
    P(bool, Outx_CtsFlow, false, ApplyLineSettings, ) \
    P(bool, Outx_DsrFlow, false, ApplyLineSettings, ) \
    P(TDtrControl, DtrControl, DtrEnable, ApplyLineSettings, override) \
    P(bool, DsrSensitivity, false, ApplyLineSettings, ) \
    P(bool, TxContinueOnXoff, true, ApplyLineSettings, override) \
    P(bool, Outx_XonXoffFlow, true, ApplyLineSettings, override) \
    P(bool, Inx_XonXoffFlow, true, ApplyLineSettings, ) \
    P(bool, ReplaceWhenParityError, false, ApplyLineSettings, ) \
    P(bool, IgnoreNullChar, false, ApplyLineSettings, override) \
    P(TRtsControl, RtsControl, RtsEnable, ApplyLineSettings, override) \
    P(uint16_t, XonLimit, 500, ApplyLineSettings, ) \
    P(uint16_t, XoffLimit, 500, ApplyLineSettings, ) \
    P(TByteSize, ByteSize, TByteSize::_8, ApplyLineSettings, override) \
    P(TParity, Parity, TParity::None, ApplyLineSettings, override) \
    P(TStopBits, StopBits, TStopBits::_1, ApplyLineSettings, override) \
    P(char, XonChar, 0x11, ApplyLineSettings, ) \
    P(char, XoffChar, 0x13, ApplyLineSettings, ) \
    P(char, ReplacedChar, 0x00, ApplyLineSettings, ) \
    P(uint32_t, ReadIntervalTimeout, 100, ApplyTimeouts, override) \
    P(uint32_t, ReadTotalTimeoutMultiplier, 0, ApplyTimeouts, ) \
    P(uint32_t, ReadTotalTimeoutConstant, 0, ApplyTimeouts, ) \
    P(uint32_t, WriteTotalTimeoutMultiplier, 0, ApplyTimeouts, ) \
    P(uint32_t, WriteTotalTimeoutConstant, 0, ApplyTimeouts, )

#define VARLO_TCOMM_ACCESSORS(Type, Name, Default, Apply, Virtual) \
    Type Name() const { return F##Name; } \
    void Set##Name(Type v) Virtual { Store(F##Name, v, &TComm::Apply); }
#define VARLO_TCOMM_FIELD(Type, Name, Default, Apply, Virtual) Type F##Name = Default;

// A serial port on a tty: exclusive open, raw mode with the line settings of
// the properties, a reader and a writer thread. Every event runs on the
// thread that created the object, in the order the threads posted them.
class TComm : public TSessionPort {
    Q_OBJECT
public:
    explicit TComm(QObject* parent = nullptr);
    ~TComm() override;

    void OpenPort() override;
    // The device path in use while open.
    QString DevicePath() const { return OpenPath; }

    // Properties. A setter stores a changed value and, while the port is
    // open, applies it at once (CommName takes effect at the next open).
    QString CommName() const { return FCommName; }
    void SetCommName(const QString& v) override { FCommName = v; }
    VARLO_TCOMM_PROPERTIES(VARLO_TCOMM_ACCESSORS)

    // Raised when the driver's counters of line errors, carrier changes or
    // rings move. Devices without such counters (pseudo-terminals) raise
    // neither, and their reader never wakes for them.
    std::function<void(uint32_t eventMask)> OnReceiveError;
    std::function<void(uint32_t modemEvent)> OnModemStateChange;
    // How the reader reads the counters; taken at each open. Tests replace it.
    std::function<bool(int fd, LineCounters& out)> LineCounterSource = ReadTtyLineCounters;
    // How often the reader looks at the counters.
    static constexpr int LineWatchMs = 50;

protected:
    bool WaitDrained(IoSession* s) override;
    void AwaitThreads(IoSession& s) override;
    void CloseDevice(int fd) override;

private:
    struct PortSession;
    struct LineWatch;

    template <class T> void Store(T& field, T value, void (TComm::*apply)())
    {
        if (Changed(field, value) && isOpen())
            (this->*apply)();
    }
    void StartThreads(PortSession* s);
    void ApplyLineSettings();
    void ApplyTimeouts();
    void ReadLoop(PortSession* s);
    void LookAtLine(PortSession* s, LineWatch& w);
    void WriteLoop(PortSession* s, uint64_t drainedUpTo);
    void PostLineEvents(PortSession* s, const LineCounters& before, const LineCounters& now);

    QString OpenPath;
    QString FCommName = QStringLiteral("COM2");
    VARLO_TCOMM_PROPERTIES(VARLO_TCOMM_FIELD)
};

#undef VARLO_TCOMM_FIELD
#undef VARLO_TCOMM_ACCESSORS
#undef VARLO_TCOMM_PROPERTIES
