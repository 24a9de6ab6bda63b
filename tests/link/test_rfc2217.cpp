// The Telnet COM port codec on byte streams: what it offers, how it answers
// a server, what it takes out of the data, in any split.
#include "rfc2217.h"
#include <gtest/gtest.h>

namespace {

QByteArray Hex(const char* spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }
std::string Spaced(const QByteArray& b) { return b.toHex(' ').toUpper().toStdString(); }

struct Fed {
    QByteArray data, reply;
};
Fed Feed(Rfc2217Codec& c, const QByteArray& bytes)
{
    Fed f;
    c.Feed(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()), f.data, f.reply);
    return f;
}
Fed FeedByteByByte(Rfc2217Codec& c, const QByteArray& bytes)
{
    Fed f;
    for (char ch : bytes) {
        const uint8_t b = uint8_t(ch);
        c.Feed(&b, 1, f.data, f.reply);
    }
    return f;
}

// The settings for 9600 8N1 without flow control, as the server must get them.
const char* const Settings9600 = "FF FA 2C 01 00 00 25 80 FF F0  FF FA 2C 02 08 FF F0  FF FA 2C 03 01 FF F0"
                                 "  FF FA 2C 04 01 FF F0  FF FA 2C 05 01 FF F0";
// The server's confirmations of them.
const char* const Confirmed9600 = "FF FA 2C 65 00 00 25 80 FF F0  FF FA 2C 66 08 FF F0  FF FA 2C 67 01 FF F0"
                                  "  FF FA 2C 68 01 FF F0  FF FA 2C 69 01 FF F0";

TEST(Rfc2217, OffersTheOptionThenSetsTheLineOnceTheServerAgrees)
{
    Rfc2217Codec c;
    EXPECT_EQ(Spaced(c.Start({})), Spaced(Hex("FF FB 2C FF FB 00 FF FB 03 FF FD 00 FF FD 03")));
    EXPECT_FALSE(c.Settled());

    // Agreement to what was asked is not answered again; the settings follow.
    Fed f = Feed(c, Hex("FF FD 2C FF FD 00 FF FB 00 FF FD 03 FF FB 03"));
    EXPECT_EQ(Spaced(f.reply), Spaced(Hex(Settings9600)));
    EXPECT_TRUE(f.data.isEmpty());
    EXPECT_EQ(c.State(), Rfc2217Codec::ComPortState::Accepted);
    EXPECT_FALSE(c.Settled());

    f = Feed(c, Hex(Confirmed9600));
    EXPECT_TRUE(f.reply.isEmpty());
    EXPECT_TRUE(c.Settled());
    EXPECT_EQ(c.ConfirmedBaud(), 9600u);

    // A second DO changes nothing and sends nothing.
    EXPECT_TRUE(Feed(c, Hex("FF FD 2C")).reply.isEmpty());
}

TEST(Rfc2217, ChangedSettingsWaitForTheAgreement)
{
    Rfc2217Codec c;
    c.Start({});
    ComPortSettings s;
    s.baud = 2400;
    EXPECT_TRUE(c.Change(s).isEmpty());   // not agreed yet
    const Fed f = Feed(c, Hex("FF FD 2C"));
    EXPECT_TRUE(f.reply.startsWith(Hex("FF FA 2C 01 00 00 09 60 FF F0")));
    s.baud = 9600;
    EXPECT_TRUE(c.Change(s).startsWith(Hex("FF FA 2C 01 00 00 25 80 FF F0")));
}

// A server that refuses the option: the link goes on with its line as it is.
TEST(Rfc2217, AServerThatRefusesTheOption)
{
    struct Case {
        const char* name;
        const char* server;
        const char* reply;
    };
    const Case cases[] = {
        {"refuses com port", "FF FE 2C", ""},
        {"refuses binary too", "FF FE 2C FF FE 00 FF FC 00", ""},
        {"refuses, then asks for terminal type", "FF FE 2C FF FD 18", "FF FC 18"},
        {"offers echo", "FF FE 2C FF FB 01", "FF FE 01"},
    };
    for (const Case& k : cases) {
        Rfc2217Codec c;
        c.Start({});
        const Fed f = Feed(c, Hex(k.server));
        EXPECT_EQ(Spaced(f.reply), Spaced(Hex(k.reply))) << k.name;
        EXPECT_EQ(c.State(), Rfc2217Codec::ComPortState::Refused) << k.name;
        EXPECT_TRUE(c.Settled()) << k.name;
    }
}

// Options the client never asked for: refused once per request, and a
// withdrawal of something enabled is acknowledged once.
TEST(Rfc2217, UnaskedNegotiationIsAnsweredWithoutLoops)
{
    Rfc2217Codec c;
    c.Start({});
    Feed(c, Hex("FF FD 2C FF FD 00 FF FB 00"));
    EXPECT_EQ(Spaced(Feed(c, Hex("FF FD 18")).reply), Spaced(Hex("FF FC 18")));
    EXPECT_EQ(Spaced(Feed(c, Hex("FF FB 01")).reply), Spaced(Hex("FF FE 01")));
    EXPECT_EQ(Spaced(Feed(c, Hex("FF FC 00")).reply), Spaced(Hex("FF FE 00")));   // he stops binary
    EXPECT_TRUE(Feed(c, Hex("FF FC 00")).reply.isEmpty());                       // ... already off
    EXPECT_EQ(Spaced(Feed(c, Hex("FF FE 00")).reply), Spaced(Hex("FF FC 00")));   // we stop binary
    EXPECT_TRUE(Feed(c, Hex("FF FE 00")).reply.isEmpty());
}

TEST(Rfc2217, DataComesOutUnescapedInAnySplit)
{
    struct Case {
        const char* name;
        const char* wire;
        const char* data;
    };
    const Case cases[] = {
        {"plain", "02 55 F9 00 C0 04", "02 55 F9 00 C0 04"},
        {"doubled IAC is one data byte", "41 FF FF 42 FF FF", "41 FF 42 FF"},
        {"no-operation and go-ahead vanish", "41 FF F1 42 FF F9 43", "41 42 43"},
        {"notifications vanish", "01 FF FA 2C 6B 30 FF F0 02 FF FA 2C 6A 60 FF F0 03", "01 02 03"},
        {"IAC inside a subnegotiation", "01 FF FA 2C 6B FF FF FF F0 02", "01 02"},
        {"CR and NUL kept (binary)", "0D 00 0D 0A", "0D 00 0D 0A"},
        {"a broken subnegotiation ends at the next command", "01 FF FA 2C 6B FF F1 02", "01 02"},
    };
    for (const Case& k : cases) {
        Rfc2217Codec whole, bytewise;
        whole.Start({});
        bytewise.Start({});
        EXPECT_EQ(Spaced(Feed(whole, Hex(k.wire)).data), Spaced(Hex(k.data))) << k.name;
        EXPECT_EQ(Spaced(FeedByteByByte(bytewise, Hex(k.wire)).data), Spaced(Hex(k.data))) << k.name;
    }
}

TEST(Rfc2217, NegotiationSplitAcrossReadsGivesTheSameAnswers)
{
    const QByteArray server = Hex("FF FD 2C FF FD 00 FF FB 00 FF FD 18") + Hex(Confirmed9600) + Hex("30 FF FF 31");
    Rfc2217Codec whole, bytewise;
    whole.Start({});
    bytewise.Start({});
    const Fed a = Feed(whole, server);
    const Fed b = FeedByteByByte(bytewise, server);
    EXPECT_EQ(Spaced(a.reply), Spaced(b.reply));
    EXPECT_EQ(Spaced(a.data), Spaced(Hex("30 FF 31")));
    EXPECT_EQ(Spaced(b.data), Spaced(a.data));
    EXPECT_TRUE(whole.Settled());
    EXPECT_TRUE(bytewise.Settled());
}

TEST(Rfc2217, EscapeDoublesEveryIac)
{
    const QByteArray in = Hex("FF 00 FF FF 0D");
    EXPECT_EQ(Spaced(Rfc2217Codec::Escape(reinterpret_cast<const uint8_t*>(in.constData()), size_t(in.size()))),
              Spaced(Hex("FF FF 00 FF FF FF FF 0D")));
    // A setting whose value holds 0xFF is escaped inside the subnegotiation too.
    Rfc2217Codec c;
    ComPortSettings s;
    s.baud = 0x0001FF00;
    c.Start(s);
    EXPECT_TRUE(Feed(c, Hex("FF FD 2C")).reply.startsWith(Hex("FF FA 2C 01 00 01 FF FF 00 FF F0")));
}

TEST(Rfc2217, AnOverlongSubnegotiationIsDroppedAndTheStreamGoesOn)
{
    Rfc2217Codec c;
    c.Start({});
    Feed(c, Hex("FF FD 2C"));
    QByteArray wire = Hex("FF FA 2C 65");
    wire += QByteArray(Rfc2217Codec::MaxSubnegotiation * 4, '\x01');
    wire += Hex("FF F0 41");
    const Fed f = Feed(c, wire);
    EXPECT_EQ(Spaced(f.data), Spaced(Hex("41")));
    EXPECT_EQ(c.ConfirmedBaud(), 0u);   // not taken as a confirmation
}

} // namespace
