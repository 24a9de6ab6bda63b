#pragma once
#include <QString>
#include <cstdint>
#include <functional>

// Line setting types of the serial port; the order gives the stored value.
enum TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };
enum class TByteSize { _5, _6, _7, _8 };
enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };

// What the bus protocol engine uses of a serial port. TComm is the real one;
// tests put a scripted port in its place.
//
// Write blocks are numbered 1, 2, 3 ... in the order WriteData accepts them,
// for the whole life of the port object (never reset on reopen). Events carry
// these numbers so that the engine can tell traffic that predates a frame
// from traffic that may answer it.
class IPort {
public:
    virtual ~IPort() = default;

    // Throws ECommsError when the device cannot be opened. No-op when open.
    virtual void OpenPort() = 0;
    virtual void ClosePort() = 0;
    virtual bool isOpen() const = 0;
    // Queues a copy of the bytes for the writer. False when closed, when
    // count is 0 or when the writer has stopped.
    virtual bool WriteData(const uint8_t* data, uint16_t count) = 0;
    // Number of the last block WriteData accepted (0 before the first).
    virtual uint64_t WriteSequence() const = 0;
    // The reply to the next block written will have this many bytes (0: not
    // known): the reader may hand them on as soon as it holds them instead
    // of waiting for the line to fall quiet.
    virtual void ExpectReply(int bytes) { (void)bytes; }

    virtual void SetCommName(const QString& name) = 0;
    virtual void SetBaudRate(uint32_t rate) = 0;
    virtual void SetDtrControl(TDtrControl value) = 0;
    virtual void SetRtsControl(TRtsControl value) = 0;
    virtual void SetTxContinueOnXoff(bool value) = 0;
    virtual void SetOutx_XonXoffFlow(bool value) = 0;
    virtual void SetIgnoreNullChar(bool value) = 0;
    virtual void SetByteSize(TByteSize value) = 0;
    virtual void SetParity(TParity value) = 0;
    virtual void SetStopBits(TStopBits value) = 0;
    virtual void SetReadIntervalTimeout(uint32_t ms) = 0;

    // Events; they run on the thread that created the port, in the order the
    // port's threads posted them. Unset events are skipped.
    //
    // A chunk of received bytes (valid only during the call). `writesStarted`
    // is the number of the last block whose writing had begun when the reader
    // held these bytes: a block numbered above it cannot have caused them.
    std::function<void(const uint8_t* data, int count, uint64_t writesStarted)> OnReceiveData;
    // The write queue has drained; every block up to `writesDone` is on the line.
    std::function<void(uint64_t writesDone)> OnSendDataEmpty;
    // A reader or writer met an I/O failure (device gone, hang-up) and stopped.
    std::function<void()> OnRequestHangup;
};
