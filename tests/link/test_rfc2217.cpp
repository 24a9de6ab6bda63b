// The Telnet COM port codec on byte streams: what it offers, how it answers
// a server, what it takes out of the data, whole or byte by byte.
#include "linktools.h"
#include "rfc2217.h"
#include <gtest/gtest.h>

namespace {

using State = Rfc2217Codec::ComPortState;

// The server's agreement to what the client offers.
const QByteArray Agree = Hex("FF FD 2C FF FD 00 FF FB 00 FF FD 03 FF FB 03");
// The settings for 9600 8N1 without flow control, as the server must get them.
const QByteArray Settings9600 = Hex("FF FA 2C 01 00 00 25 80 FF F0  FF FA 2C 02 08 FF F0  FF FA 2C 03 01 FF F0"
                                    "  FF FA 2C 04 01 FF F0  FF FA 2C 05 01 FF F0");
// The server's confirmations of them.
const QByteArray Confirmed9600 = Hex("FF FA 2C 65 00 00 25 80 FF F0  FF FA 2C 66 08 FF F0  FF FA 2C 67 01 FF F0"
                                     "  FF FA 2C 68 01 FF F0  FF FA 2C 69 01 FF F0");

struct Fed { QByteArray data, reply; };
Fed Feed(Rfc2217Codec& c, const QByteArray& bytes, bool oneByOne = false)
{
    Fed f;
    for (qsizetype at = 0; at < bytes.size(); at += oneByOne ? 1 : bytes.size())
        c.Feed(reinterpret_cast<const uint8_t*>(bytes.constData() + at), oneByOne ? 1 : size_t(bytes.size()),
               f.data, f.reply);
    return f;
}

// Each case: a started codec is fed `before` (answers not checked), then
// `server`, whole and one byte at a time; both must answer alike.
TEST(Rfc2217, AnswersAndDataInAnySplit)
{
    struct Case {
        const char* name;
        QByteArray before, server;
        QByteArray reply, data;
        State state;
        bool settled;
        uint32_t baud;
    };
    const QByteArray unasked = Hex("FF FD 2C FF FD 00 FF FB 00");
    const QByteArray overlong = Hex("FF FA 2C 65") + QByteArray(Rfc2217Codec::MaxSubnegotiation * 4, '\x01');
    const QList<Case> cases{
        // Agreement to what was asked is not answered again; the settings follow.
        {"agreement brings the settings", {}, Agree, Settings9600, {}, State::Accepted, false, 0},
        {"confirmations settle the line", Agree, Confirmed9600, {}, {}, State::Accepted, true, 9600},
        {"a second DO sends nothing", Agree + Confirmed9600, Hex("FF FD 2C"), {}, {}, State::Accepted, true, 9600},
        {"negotiation, a question and data in one go", {}, unasked + Hex("FF FD 18") + Confirmed9600 + Hex("30 FF FF 31"),
         Settings9600 + Hex("FF FC 18"), Hex("30 FF 31"), State::Accepted, true, 9600},
        // A server that refuses the option: the link goes on with its line as it is.
        {"refuses com port", {}, Hex("FF FE 2C"), {}, {}, State::Refused, true, 0},
        {"refuses binary too", {}, Hex("FF FE 2C FF FE 00 FF FC 00"), {}, {}, State::Refused, true, 0},
        {"refuses, then asks for terminal type", {}, Hex("FF FE 2C FF FD 18"), Hex("FF FC 18"), {}, State::Refused, true, 0},
        {"refuses, offers echo", {}, Hex("FF FE 2C FF FB 01"), Hex("FF FE 01"), {}, State::Refused, true, 0},
        // Options never asked for are refused once per request; a withdrawal
        // of something enabled is acknowledged once.
        {"asked for terminal type", unasked, Hex("FF FD 18"), Hex("FF FC 18"), {}, State::Accepted, false, 0},
        {"offers echo", unasked, Hex("FF FB 01"), Hex("FF FE 01"), {}, State::Accepted, false, 0},
        {"he stops binary", unasked, Hex("FF FC 00"), Hex("FF FE 00"), {}, State::Accepted, false, 0},
        {"he stops binary again", unasked + Hex("FF FC 00"), Hex("FF FC 00"), {}, {}, State::Accepted, false, 0},
        {"we stop binary", unasked, Hex("FF FE 00"), Hex("FF FC 00"), {}, State::Accepted, false, 0},
        {"we stop binary again", unasked + Hex("FF FE 00"), Hex("FF FE 00"), {}, {}, State::Accepted, false, 0},
        // Data comes out unescaped.
        {"plain", {}, Hex("02 55 F9 00 C0 04"), {}, Hex("02 55 F9 00 C0 04"), State::Offered, false, 0},
        {"doubled IAC is one data byte", {}, Hex("41 FF FF 42 FF FF"), {}, Hex("41 FF 42 FF"), State::Offered, false, 0},
        {"no-operation and go-ahead vanish", {}, Hex("41 FF F1 42 FF F9 43"), {}, Hex("41 42 43"), State::Offered, false, 0},
        {"notifications vanish", {}, Hex("01 FF FA 2C 6B 30 FF F0 02 FF FA 2C 6A 60 FF F0 03"), {}, Hex("01 02 03"),
         State::Offered, false, 0},
        {"IAC inside a subnegotiation", {}, Hex("01 FF FA 2C 6B FF FF FF F0 02"), {}, Hex("01 02"), State::Offered, false, 0},
        {"CR and NUL kept (binary)", {}, Hex("0D 00 0D 0A"), {}, Hex("0D 00 0D 0A"), State::Offered, false, 0},
        {"a broken subnegotiation ends at the next command", {}, Hex("01 FF FA 2C 6B FF F1 02"), {}, Hex("01 02"),
         State::Offered, false, 0},
        // Not taken as a confirmation.
        {"an overlong subnegotiation is dropped", Hex("FF FD 2C"), overlong + Hex("FF F0 41"), {}, Hex("41"),
         State::Accepted, false, 0},
    };
    for (const Case& k : cases) {
        for (bool oneByOne : {false, true}) {
            SCOPED_TRACE(std::string(k.name) + (oneByOne ? ", byte by byte" : ", whole"));
            Rfc2217Codec c;
            c.Start({});
            Feed(c, k.before);
            const Fed f = Feed(c, k.server, oneByOne);
            EXPECT_EQ(Spaced(f.reply), Spaced(k.reply));
            EXPECT_EQ(Spaced(f.data), Spaced(k.data));
            EXPECT_EQ(c.State(), k.state);
            EXPECT_EQ(c.Settled(), k.settled);
            EXPECT_EQ(c.ConfirmedBaud(), k.baud);
        }
    }
}

TEST(Rfc2217, OffersTheOptionHoldsSettingsUntilTheServerAgreesAndEscapesIac)
{
    Rfc2217Codec c;
    EXPECT_EQ(Spaced(c.Start({})), Spaced(Hex("FF FB 2C FF FB 00 FF FB 03 FF FD 00 FF FD 03")));
    EXPECT_FALSE(c.Settled());
    ComPortSettings s;
    s.baud = 2400;
    EXPECT_TRUE(c.Change(s).isEmpty());   // not agreed yet
    EXPECT_TRUE(Feed(c, Hex("FF FD 2C")).reply.startsWith(Hex("FF FA 2C 01 00 00 09 60 FF F0")));
    s.baud = 9600;
    EXPECT_TRUE(c.Change(s).startsWith(Hex("FF FA 2C 01 00 00 25 80 FF F0")));

    // Data and a setting whose value holds 0xFF are escaped.
    const QByteArray in = Hex("FF 00 FF FF 0D");
    EXPECT_EQ(Spaced(Rfc2217Codec::Escape(reinterpret_cast<const uint8_t*>(in.constData()), size_t(in.size()))),
              Spaced(Hex("FF FF 00 FF FF FF FF 0D")));
    Rfc2217Codec d;
    s.baud = 0x0001FF00;
    d.Start(s);
    EXPECT_TRUE(Feed(d, Hex("FF FD 2C")).reply.startsWith(Hex("FF FA 2C 01 00 01 FF FF 00 FF F0")));
}

} // namespace
