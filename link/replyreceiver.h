#pragma once
#include "busmaster.h"
#include "protocol.h"
#include <cstdint>

// Collects the reply to one request from the chunks the port delivers and
// decides when it is complete. Plain state, no waiting: the engine feeds
// it, and the fuzzer drives it directly.
class ReplyReceiver {
public:
    enum class State {
        Open,         // nothing decided yet, or more bytes are needed
        Complete,
        ShortFrame,   // a whole frame ended before MinAllValuesFrame bytes
    };

    // A command's reply: decided by its first byte, or a whole frame.
    void ExpectCommandReply(ReplyForm form);
    // A read's reply: 0x02, this header echoed, the data, the checksum.
    void ExpectDataReply(const uint8_t (&header)[kyr::HeaderLength]);
    // The request being sent, which the reply then overwrites from index 0.
    void Hold(const uint8_t* frame, int count);
    void Feed(const uint8_t* data, int count);

    State state() const { return Decided; }
    bool decided() const { return Decided != State::Open; }
    // The first byte of a complete command reply (0 for a frame that never ended).
    uint8_t firstByte() const { return First; }
    // Bytes dropped for not starting this data reply (noise, other replies).
    int wrongBytes() const { return Wrong; }
    // A complete data reply's data when its checksum holds.
    bool checkedData(QByteArray* data) const;
    // The whole frame as it came (complete or short).
    QByteArray frame() const;
    // The stored bytes from index 0, and how many are counted as held.
    const uint8_t* raw() const { return Bytes; }
    int count() const { return Count; }
    // Bytes a complete reply has when known in advance (0: not known).
    int expectedBytes() const;

    // The data bytes' checksum check over an expected length; false outside
    // the stored bytes.
    bool checksumHolds(int expectedLength) const;

private:
    void Reset();
    bool CommandReplyDecided();
    bool HeaderMatchesAt(int start) const;
    void ResyncDataReply();

    uint8_t Bytes[kyr::MaxReply + 1] = {};
    int Count = 0;
    int ExpectedLength = 0;   // data reply: length + 6; 0: a command reply
    ReplyForm Form = ReplyForm::Acknowledgement;
    uint8_t Header[kyr::HeaderLength] = {};
    State Decided = State::Open;
    bool Started = false;     // a chunk has come since the expectation was set
    uint8_t First = 0;
    int FrameLength = 0;
    int Wrong = 0;
};
