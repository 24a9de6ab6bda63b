#include "rfc2217.h"

using namespace telnet;

namespace {

QByteArray Verb3(uint8_t verb, uint8_t option)
{
    QByteArray b;
    b += char(IAC);
    b += char(verb);
    b += char(option);
    return b;
}

void AppendEscaped(QByteArray& out, uint8_t byte)
{
    out += char(byte);
    if (byte == IAC)
        out += char(IAC);
}

QByteArray SubCommand(uint8_t code, const QByteArray& value)
{
    QByteArray b;
    b += char(IAC);
    b += char(SB);
    b += char(OptComPort);
    b += char(code);
    for (char c : value)
        AppendEscaped(b, uint8_t(c));
    b += char(IAC);
    b += char(SE);
    return b;
}

} // namespace

// Binary both ways keeps CR and NUL bytes of the scale's data as they are.
bool Rfc2217Codec::WeMay(uint8_t option)
{
    return option == OptComPort || option == OptBinary || option == OptSuppressGoAhead;
}

bool Rfc2217Codec::HeMay(uint8_t option)
{
    return option == OptBinary || option == OptSuppressGoAhead;
}

QByteArray Rfc2217Codec::Start(const ComPortSettings& settings)
{
    Wanted = settings;
    QByteArray out;
    for (uint8_t option : {OptComPort, OptBinary, OptSuppressGoAhead}) {
        Us[option].asked = true;
        out += Verb3(WILL, option);
    }
    for (uint8_t option : {OptBinary, OptSuppressGoAhead}) {
        Him[option].asked = true;
        out += Verb3(DO, option);
    }
    return out;
}

QByteArray Rfc2217Codec::Change(const ComPortSettings& settings)
{
    Wanted = settings;
    return Com == ComPortState::Accepted ? SettingsCommands() : QByteArray();
}

QByteArray Rfc2217Codec::SettingsCommands()
{
    using namespace comport;
    QByteArray baud;
    for (int shift = 24; shift >= 0; shift -= 8)
        baud += char((Wanted.baud >> shift) & 0xFF);   // network order
    QByteArray out = SubCommand(SetBaudRate, baud);
    out += SubCommand(SetDataSize, QByteArray(1, char(Wanted.dataBits)));
    out += SubCommand(SetParity, QByteArray(1, char(Wanted.parity)));
    out += SubCommand(SetStopSize, QByteArray(1, char(Wanted.stopSize)));
    out += SubCommand(SetControl, QByteArray(1, char(ControlNoFlow)));
    for (uint8_t code : {SetBaudRate, SetDataSize, SetParity, SetStopSize, SetControl})
        Unconfirmed |= 1u << code;
    return out;
}

QByteArray Rfc2217Codec::Escape(const uint8_t* data, size_t count)
{
    QByteArray out;
    out.reserve(qsizetype(count + count / 16 + 1));
    for (size_t i = 0; i < count; ++i)
        AppendEscaped(out, data[i]);
    return out;
}

void Rfc2217Codec::Feed(const uint8_t* bytes, size_t count, QByteArray& data, QByteArray& reply)
{
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (P) {
        case Parse::Data:
            if (b == IAC)
                P = Parse::Iac;
            else
                data += char(b);
            break;
        case Parse::Iac:
            if (b == IAC) {
                data += char(IAC);
                P = Parse::Data;
            } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                Verb = b;
                P = Parse::Option;
            } else if (b == SB) {
                Sub.clear();
                SubOverflow = false;
                P = Parse::Sub;
            } else {
                P = Parse::Data;   // NOP, GA, a stray SE ...: nothing to do
            }
            break;
        case Parse::Option:
            Command(Verb, b, reply);
            P = Parse::Data;
            break;
        case Parse::Sub:
            if (b == IAC)
                P = Parse::SubIac;
            else if (Sub.size() < MaxSubnegotiation)
                Sub += char(b);
            else
                SubOverflow = true;
            break;
        case Parse::SubIac:
            if (b == SE) {
                if (!SubOverflow)
                    Subnegotiation();
                P = Parse::Data;
            } else if (b == IAC) {
                if (Sub.size() < MaxSubnegotiation)
                    Sub += char(IAC);
                else
                    SubOverflow = true;
                P = Parse::Sub;
            } else {
                P = Parse::Data;   // a broken subnegotiation ends at any other command
            }
            break;
        }
    }
}

// Answers only what changes a state, so that two sides never loop.
void Rfc2217Codec::Command(uint8_t verb, uint8_t option, QByteArray& reply)
{
    if (verb == WILL || verb == WONT) {
        Agree(Him[option], verb == WILL, HeMay(option), DO, DONT, option, reply);
        return;
    }
    const bool wanted = Agree(Us[option], verb == DO, WeMay(option), WILL, WONT, option, reply);
    if (option == OptComPort) {
        const ComPortState before = Com;
        Com = wanted ? ComPortState::Accepted : ComPortState::Refused;
        if (wanted && before != ComPortState::Accepted)
            reply += SettingsCommands();
        if (!wanted)
            Unconfirmed = 0;
    }
}

// One side of an option, asked to turn it on (`on`) or off: `yes` and `no`
// are this side's answers. An answer goes out only when a request is
// refused or the state changes at the peer's request; a reply to our own
// request is only taken note of. True when the option is now on.
bool Rfc2217Codec::Agree(Side& s, bool on, bool may, uint8_t yes, uint8_t no, uint8_t option,
                         QByteArray& reply)
{
    const bool wanted = on && may;
    if (on && !wanted) {
        reply += Verb3(no, option);
    } else if (s.enabled != wanted || s.asked) {
        if (!s.asked)
            reply += Verb3(wanted ? yes : no, option);
        s.enabled = wanted;
        s.asked = false;
    }
    return wanted;
}

void Rfc2217Codec::Subnegotiation()
{
    if (Sub.size() < 2 || uint8_t(Sub[0]) != OptComPort)
        return;
    const uint8_t code = uint8_t(Sub[1]);
    if (code <= comport::ServerOffset || code > comport::ServerOffset + comport::SetControl)
        return;   // notifications and answers to commands this client never sends
    const uint8_t asked = code - comport::ServerOffset;
    Unconfirmed &= ~(1u << asked);
    if (asked == comport::SetBaudRate && Sub.size() >= 6) {
        uint32_t v = 0;
        for (int k = 2; k < 6; ++k)
            v = (v << 8) | uint8_t(Sub[k]);
        ServerBaud = v;
    }
}
