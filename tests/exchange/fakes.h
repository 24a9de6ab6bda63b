#pragma once
#include "busmaster.h"
#include "progress.h"
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>

// One request as the scale saw it.
struct BusRequest {
    enum Kind { Send, Read } kind;
    uint8_t command;
    uint8_t bank;
    uint16_t address;
    uint8_t length;
    QByteArray data;        // a write's data bytes (Buffer[0..length-1])
    bool frameMode;         // the reply asked for was a whole frame
};

// A bus whose far end acts like the scale's memory: 0x55 reads a block,
// 0x77 writes one, 0x44/0x11/0x33 are acknowledged, 0x05 in FrameMode
// answers AllValuesFrame. Request n (1-based) can be made to fail, or to be
// cancelled by the operator.
class FakeScaleBus : public IBusMaster {
public:
    FakeScaleBus();

    BusResult SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length,
                          ReplyForm reply = ReplyForm::Acknowledgement) override;
    BusResult ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) override;
    void Cancel() override {}

    // Scale memory, 64 KiB per bank.
    uint8_t& Mem(uint8_t bank, uint16_t address);
    QByteArray MemBlock(uint8_t bank, uint16_t address, int length);
    void SetMem(uint8_t bank, uint16_t address, const QByteArray& bytes);

    QList<BusRequest> Requests;
    int FailAt = 0;                     // this request fails so
    BusResult Failure{BusFailure::NoReply, {}, "no reply"};
    int CancelAt = 0;                   // the operator presses Cancel during this one
    std::function<void()> OnCancelPressed;   // what the dialog's Cancel does
    QByteArray AllValuesFrame;          // STX ... ETX; fewer than 20 bytes is a protocol error
    // Writes to these bank 0xF9 addresses are acknowledged but not stored.
    QList<uint16_t> IgnoredPluWrites;

private:
    // The failure of request n, if it is to fail; runs the Cancel press when scripted.
    std::optional<BusResult> Failed();
    std::map<uint8_t, QByteArray> Banks;
};

// Records what a command tells its progress dialog and acts as the dialog
// would: SetStatus does nothing once the operator has closed it, and the
// operator presses OK as soon as the command waits.
struct RecordingProgress : IProgress {
    void Show() override
    {
        Calls << "Show";
        Visible = true;
        State = Current = 0;
    }
    void Close() override { Calls << "Close"; Visible = false; }
    void SetStatus(const QString& text, bool error) override
    {
        Calls << (error ? "Error:" : "Status:") + text;
        if (State != 2)
            State = error ? 1 : 0;
    }
    void ShowCause(const QString& cause) override { Calls << "Cause:" + cause; }
    void SetTotal(int count) override
    {
        Calls << QStringLiteral("Total:%1").arg(count);
        Current = 0;
    }
    void SetCurrent(int number) override { Calls << QStringLiteral("Current:%1").arg(number); Current = number; }
    int ProgressState() const override { return State; }
    // The operator reads the error and presses OK (unless already closed).
    void WaitUntilClosed() override { Calls << "Wait"; PressCancel(); }
    // The Cancel button: state 2, dialog closed.
    void PressCancel() { State = 2; Visible = false; }

    QStringList Calls;       // "Show", "Status:<t>", "Error:<t>", "Cause:<t>", "Total:n", "Current:n", "Wait", "Close"
    int State = 0;
    bool Visible = false;
    int Current = 0;
};

QByteArray Hex(const char* spaced);   // "00 04 D2" -> bytes
