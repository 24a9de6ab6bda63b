#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>

// Why a request failed.
enum class BusFailure {
    None,
    NoReply,      // nothing acceptable came within the retries
    Refused,      // the scale answered 0xAA
    BadFrame,     // a reply with a bad checksum, or an all-values frame too short
    WrongReply,   // some other byte, or data replies that never echoed the request
    HungUp,       // the line hung up (device gone)
    Cancelled,
    NotOpen,      // the link was not open
    TooLong,      // the request would not fit a frame; nothing was sent
};

// What a command's reply is: the acknowledgement, or a whole 0x02 ... 0x03
// frame of at least 20 bytes (the all-values readout).
enum class ReplyForm { Acknowledgement, WholeFrame };

// The outcome of one request.
struct BusResult {
    BusFailure failure = BusFailure::None;
    // A read's data bytes; a whole frame's bytes (as many as were kept).
    QByteArray bytes;
    // Why it failed, in the operator's words; empty on success.
    QString cause;

    explicit operator bool() const { return failure == BusFailure::None; }
};

// What the scale commands use of the bus protocol engine. TKYRBusComm is the
// real one; tests may put a scripted bus in its place.
class IBusMaster {
public:
    virtual ~IBusMaster() = default;
    IBusMaster(const IBusMaster&) = delete;
    IBusMaster& operator=(const IBusMaster&) = delete;

    // Sends one command frame (a write's data from Buffer) and waits for its
    // reply, with retries.
    virtual BusResult SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length,
                                  ReplyForm reply = ReplyForm::Acknowledgement) = 0;
    // Sends a read request and collects `length` checksummed data bytes,
    // with retries; they are returned and also left in Buffer.
    virtual BusResult ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) = 0;
    // Ends the wait in progress at its next turn; no further attempts.
    virtual void Cancel() = 0;

    // The payload area: a write's data are taken from its start, a read's
    // data are copied to its start. A wrapping bus shares its inner one's.
    uint8_t (&Buffer)[64];

protected:
    IBusMaster() : Buffer(OwnBuffer) {}
    explicit IBusMaster(IBusMaster& shareBufferOf) : Buffer(shareBufferOf.Buffer) {}

private:
    uint8_t OwnBuffer[64] = {};
};
