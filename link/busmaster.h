#pragma once
#include <cstdint>
#include <cstring>

// What the scale commands use of the bus protocol engine. TKYRBusComm is the
// real one; tests may put a scripted bus in its place.
class IBusMaster {
public:
    virtual ~IBusMaster() = default;

    // Sends one command frame (data for a write from Buffer) and waits for
    // the acknowledgement 0x02, with retries. False on failure or Cancel.
    virtual bool SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) = 0;
    // Sends a read request and collects `length` checksummed data bytes into
    // Buffer, with retries. False on failure or Cancel.
    virtual bool ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length) = 0;
    // Ends the wait in progress at its next turn; no further attempts.
    virtual void Cancel() = 0;

    uint8_t Buffer[64] = {};           // payload shared with the callers
    uint8_t ReceiveBuffer[65] = {};    // the raw reply from index 0
    bool FrameMode = false;            // next command's reply is a whole STX..ETX frame
    bool FrameError = false;           // FrameMode frame shorter than 20 bytes arrived
};
