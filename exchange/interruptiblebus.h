#pragma once
#include "busmaster.h"
#include <functional>

// A bus that sends nothing more once the operator has interrupted. The
// engine's Cancel ends a wait in progress; an interrupt that comes between
// two requests would otherwise reach it only in the next wait, after that
// request's frame had already gone out. It shares the engine's Buffer.
class InterruptibleBus : public IBusMaster {
public:
    // `interrupted` answers whether an interrupt is pending; it may act on
    // it (cancel, note it) before answering.
    InterruptibleBus(IBusMaster& inner, std::function<bool()> interrupted)
        : IBusMaster(inner), Inner(inner), Interrupted(std::move(interrupted))
    {
    }

    BusResult SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length,
                          ReplyForm reply = ReplyForm::Acknowledgement) override
    {
        if (Interrupted && Interrupted())
            return Stopped();
        return Inner.SendCommand(command, bank, address, length, reply);
    }
    BusResult ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) override
    {
        if (Interrupted && Interrupted())
            return Stopped();
        return Inner.ReadBlock(command, bank, address, length);
    }
    void Cancel() override { Inner.Cancel(); }

private:
    static BusResult Stopped() { return {BusFailure::Cancelled, {}, QStringLiteral("cancelled")}; }

    IBusMaster& Inner;
    std::function<bool()> Interrupted;
};
