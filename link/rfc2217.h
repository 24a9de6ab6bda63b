#pragma once
#include <QByteArray>
#include <cstdint>

// Telnet with the COM port control option, as spoken to a serial device
// server: pure byte-stream logic, no socket. The client offers the option,
// sets the server's line when the server agrees, doubles IAC in its data and
// takes Telnet commands out of what it receives.
namespace telnet {
constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t OptBinary = 0, OptSuppressGoAhead = 3, OptComPort = 44;
}

namespace comport {
// Client-to-server commands; the server answers with the same code + 100.
constexpr uint8_t SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4, SetControl = 5;
constexpr uint8_t ServerOffset = 100;
constexpr uint8_t ParityNone = 1, ParityOdd = 2, ParityEven = 3, ParityMark = 4, ParitySpace = 5;
constexpr uint8_t StopOne = 1, StopTwo = 2, StopOneAndHalf = 3;
constexpr uint8_t ControlNoFlow = 1;
}

struct ComPortSettings {
    uint32_t baud = 9600;
    uint8_t dataBits = 8;
    uint8_t parity = comport::ParityNone;
    uint8_t stopSize = comport::StopOne;
};

class Rfc2217Codec {
public:
    enum class ComPortState { Offered, Accepted, Refused };

    // What to send when the connection is up: the offers. The line settings
    // follow as soon as the server agrees to the option.
    QByteArray Start(const ComPortSettings& settings);
    // New line settings; the bytes to send now (empty while the server has
    // not agreed yet: they go out when it does).
    QByteArray Change(const ComPortSettings& settings);

    // Data for the wire: every 0xFF doubled.
    static QByteArray Escape(const uint8_t* data, size_t count);

    // Takes received bytes (any split): the data bytes are appended to
    // `data`, the answers the server must get to `reply`.
    void Feed(const uint8_t* bytes, size_t count, QByteArray& data, QByteArray& reply);

    ComPortState State() const { return Com; }
    // The server refused the option, or agreed and confirmed every setting sent.
    bool Settled() const { return Com == ComPortState::Refused || (Com == ComPortState::Accepted && Unconfirmed == 0); }
    // The speed the server last confirmed (0: none yet).
    uint32_t ConfirmedBaud() const { return ServerBaud; }

    // A subnegotiation longer than this is not one this client reads; it is dropped.
    static constexpr int MaxSubnegotiation = 64;

private:
    enum class Parse { Data, Iac, Option, Sub, SubIac };
    struct Side {
        bool enabled = false;
        bool asked = false;
    };
    static bool WeMay(uint8_t option);
    static bool HeMay(uint8_t option);
    QByteArray SettingsCommands();
    void Command(uint8_t verb, uint8_t option, QByteArray& reply);
    static bool Agree(Side& s, bool on, bool may, uint8_t yes, uint8_t no, uint8_t option, QByteArray& reply);
    void Subnegotiation();

    Parse P = Parse::Data;
    uint8_t Verb = 0;
    QByteArray Sub;
    bool SubOverflow = false;
    Side Us[256];    // options this side performs (WILL/WONT)
    Side Him[256];   // options the server performs (DO/DONT)
    ComPortState Com = ComPortState::Offered;
    ComPortSettings Wanted;
    uint32_t Unconfirmed = 0;   // bit per command code sent and not yet answered
    uint32_t ServerBaud = 0;
};
