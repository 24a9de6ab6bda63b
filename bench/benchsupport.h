#pragma once
// What the transfer benches share: a bus that counts the bytes on the wire,
// a progress that shows nothing, and the table they download.
#include "busmaster.h"
#include "plutable.h"
#include "progress.h"
#include "protocol.h"
#include "workbook.h"

// Counts what each request puts on the wire, both ways, so that a bench can
// set its time against the time those bytes need at the line's speed.

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

class NullProgress : public IProgress {
public:
    void Show() override { State = 0; }
    void Close() override {}
    void SetStatus(const QString&, bool error) override { State = error ? 1 : State; }
    void SetTotal(int) override {}
    void SetCurrent(int) override {}
    int ProgressState() const override { return State; }
    void WaitUntilClosed() override { State = 2; }
    int State = 0;
};

// The table the benches download: a price on every PLU.
inline void FillBenchTable(Workbook& wb)
{
    wb.Initialise();
    for (int r = 1; r <= PluCount; ++r)
        wb.Table.setCell(colPrice, r, QByteArray::number(r * 1.25, 'f', 2));
}
