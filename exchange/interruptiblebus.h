#pragma once
#include "busmaster.h"
#include <functional>

// A bus that sends nothing more once the operator has interrupted. The
// engine's Cancel ends a wait in progress; an interrupt that comes between
// two requests would otherwise reach it only in the next wait, after that
// request's frame had already gone out.
class InterruptibleBus : public IBusMaster {
public:
    // `interrupted` answers whether an interrupt is pending; it may act on
    // it (cancel, note it) before answering.
    InterruptibleBus(IBusMaster& inner, std::function<bool()> interrupted)
        : Inner(inner), Interrupted(std::move(interrupted))
    {
    }

    bool SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) override
    {
        return Forward([&] { return Inner.SendCommand(command, bank, address, length); });
    }
    bool ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) override
    {
        return Forward([&] { return Inner.ReadBlock(command, bank, address, length); });
    }
    void Cancel() override { Inner.Cancel(); }

private:
    // The callers fill and read this object's buffers; the engine uses its own.
    template <class Op> bool Forward(Op op)
    {
        if (Interrupted && Interrupted())
            return false;
        std::memcpy(Inner.Buffer, Buffer, sizeof Buffer);
        Inner.FrameMode = FrameMode;
        const bool ok = op();
        std::memcpy(Buffer, Inner.Buffer, sizeof Buffer);
        std::memcpy(ReceiveBuffer, Inner.ReceiveBuffer, sizeof ReceiveBuffer);
        FrameMode = Inner.FrameMode;
        FrameError = Inner.FrameError;
        return ok;
    }

    IBusMaster& Inner;
    std::function<bool()> Interrupted;
};
