#pragma once
// A bus that counts what each request puts on the wire, both ways, so that
// a bench can set its time against the time those bytes need at the line's
// speed.
#include "busmaster.h"
#include "protocol.h"

class CountingBus : public IBusMaster {
public:
    explicit CountingBus(IBusMaster& inner) : IBusMaster(inner), Inner(inner) {}
    BusResult SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length,
                          ReplyForm reply = ReplyForm::Acknowledgement) override
    {
        BusResult r = Inner.SendCommand(command, bank, address, length, reply);
        Sent += kyr::isSingleByteCommand(command) ? 1 : length + kyr::HeaderLength + 1;
        Received += 1;
        ++Requests;
        return r;
    }
    BusResult ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) override
    {
        BusResult r = Inner.ReadBlock(command, bank, address, length);
        Sent += kyr::HeaderLength + 1;
        Received += kyr::readReplyLength(length);
        ++Requests;
        return r;
    }
    void Cancel() override { Inner.Cancel(); }
    long long Bytes() const { return Sent + Received; }

    IBusMaster& Inner;
    long long Sent = 0, Received = 0;
    int Requests = 0;
};
