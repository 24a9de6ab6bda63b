// The network port against a peer in the test: the port contract the engine
// relies on, the Telnet set-up, and every way a connection cannot be made.
#include "comm.h"
#include "linkport.h"
#include "linktools.h"
#include "netport.h"
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace {

// A listening socket on the loopback; accept() gives the server's end.
class Listener {
public:
    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, 4) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("no loopback listener");
        port = ntohs(a.sin_port);
    }
    ~Listener()
    {
        dropPeer();
        ::close(fd);
    }
    QString url(const char* scheme) const { return QString("%1://127.0.0.1:%2").arg(scheme).arg(port); }
    void accept()
    {
        pollfd p = {fd, POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, 5000), 0);
        peer = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(peer, 0);
    }
    void send(const QByteArray& b) const { ASSERT_EQ(::send(peer, b.constData(), size_t(b.size()), MSG_NOSIGNAL), b.size()); }
    // What the peer received within `ms`, up to `count` bytes.
    QByteArray receive(qsizetype count, int ms = 3000) const { return ReadFd(peer, count, ms); }
    void dropPeer()
    {
        if (peer >= 0)
            ::close(peer);
        peer = -1;
    }
    int fd = -1, peer = -1;
    uint16_t port = 0;
};

class NetPort : public ::testing::Test {
protected:
    Listener Server;
    TNetPort Port;
    PortEvents Seen{Port};
};

TEST_F(NetPort, RawStreamKeepsThePortContract)
{
    Port.SetCommName(Server.url("tcp"));
    Port.SetReadIntervalTimeout(1);
    Port.OpenPort();
    Server.accept();
    ASSERT_TRUE(RunUntil([&] { return Seen.Drains.size() == 1; }, 3000));
    EXPECT_EQ(Seen.Drains, QList<uint64_t>{0});   // one notice after opening

    const QByteArray frame = Hex("55 FF 00 03 01 A8");
    ASSERT_TRUE(Send(Port, frame));
    EXPECT_EQ(Port.WriteSequence(), 1u);
    EXPECT_EQ(Server.receive(6), frame);   // raw: no escaping
    ASSERT_TRUE(RunUntil([&] { return Seen.Drains.size() == 2; }, 3000));
    EXPECT_EQ(Seen.Drains.last(), 1u);

    Server.send(Hex("02 FF 0D"));
    ASSERT_TRUE(RunUntil([&] { return Seen.Data.size() == 3; }, 3000));
    EXPECT_EQ(Seen.Data, Hex("02 FF 0D"));
    EXPECT_EQ(Seen.Stamps.value(0), 1u);   // after block 1 had started
    EXPECT_FALSE(Send(Port, {}));

    // Numbers go on across a reopen.
    Port.ClosePort();
    EXPECT_FALSE(Send(Port, frame));
    Port.OpenPort();
    ASSERT_TRUE(Send(Port, frame));
    EXPECT_EQ(Port.WriteSequence(), 2u);
    EXPECT_EQ(Seen.Hangups, 0);
}

TEST_F(NetPort, BytesTheOwnerHasNotTakenAreBounded)
{
    Port.SetCommName(Server.url("tcp"));
    Port.OpenPort();
    Server.accept();
    ExpectWhatWaitsForTheOwnerBounded(Port, Seen, [&](const QByteArray& b) { Server.send(b); });
}

TEST_F(NetPort, ADroppedConnectionIsOneHangUp)
{
    Port.SetCommName(Server.url("tcp"));
    Port.OpenPort();
    Server.accept();
    Server.dropPeer();
    ASSERT_TRUE(RunUntil([&] { return Seen.Hangups > 0; }, 3000));
    Turn(100);
    EXPECT_EQ(Seen.Hangups, 1);
    Port.ClosePort();   // no second notice after the close
    Turn(50);
    EXPECT_EQ(Seen.Hangups, 1);
}

TEST_F(NetPort, TelnetSetsTheLineAndEscapesData)
{
    Port.SetCommName(Server.url("rfc2217"));
    Port.SetBaudRate(2400);
    Port.SetReadIntervalTimeout(1);
    // The server agrees and confirms from another thread while OpenPort waits.
    std::thread peer([&] {
        Server.accept();
        Server.receive(15);   // the offers
        Server.send(Hex("FF FD 2C FF FD 00 FF FB 00 FF FD 03 FF FB 03"));
        const QByteArray settings = Server.receive(35);
        EXPECT_TRUE(settings.startsWith(Hex("FF FA 2C 01 00 00 09 60 FF F0"))) << settings.toHex().data();
        Server.send(Hex("FF FA 2C 65 00 00 09 60 FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0"
                        "FF FA 2C 68 01 FF F0 FF FA 2C 69 01 FF F0 41"));
    });
    Port.OpenPort();
    peer.join();
    EXPECT_TRUE(Port.LineSettingsAccepted());
    ASSERT_TRUE(Send(Port, Hex("77 FF 01")));
    EXPECT_EQ(Server.receive(4), Hex("77 FF FF 01"));
    Server.send(Hex("02 FF FF 03 FF FD 18"));   // data with IAC, and a question
    ASSERT_TRUE(RunUntil([&] { return Seen.Data.size() >= 4; }, 3000));
    EXPECT_EQ(Seen.Data, Hex("41 02 FF 03"));   // the byte sent with the confirmations is kept
    EXPECT_EQ(Server.receive(3), Hex("FF FC 18"));

    // A speed change while open goes to the server at once.
    Port.SetBaudRate(9600);
    EXPECT_TRUE(Server.receive(10).startsWith(Hex("FF FA 2C 01 00 00 25 80 FF F0")));
}

TEST_F(NetPort, AServerThatRefusesTheOptionStillCarriesData)
{
    Port.SetCommName(Server.url("rfc2217"));
    std::thread peer([&] {
        Server.accept();
        Server.receive(15);
        Server.send(Hex("FF FE 2C FF FE 00 FF FC 00"));
    });
    Port.OpenPort();
    peer.join();
    EXPECT_FALSE(Port.LineSettingsAccepted());
    ASSERT_TRUE(Send(Port, Hex("44")));
    EXPECT_EQ(Server.receive(1), Hex("44"));
}

TEST_F(NetPort, ConnectionsThatCannotBeMadeNameTheCause)
{
    const uint16_t closedPort = Listener().port;   // free again: nothing listens there
    struct Case { QString name; const char* cause; int maxMs; };
    const Case cases[] = {
        {QString("tcp://127.0.0.1:%1").arg(closedPort), "connection refused; nothing listens on port", 1000},
        {"tcp://no-such-host.invalid:4001", "unknown host no-such-host.invalid", 3500},
        {"tcp://127.0.0.1", "expected tcp://HOST:PORT or rfc2217://HOST:PORT", 100},
        {"rfc2217://127.0.0.1:70000", "with a port number from 1 to 65535", 100},
        // The server accepts the connection but never speaks Telnet.
        {Server.url("rfc2217"), "no Telnet answer within 3 s; if the device server's port is a raw TCP port, use tcp://", 3500},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name.toStdString());
        TNetPort port;
        port.SetCommName(k.name);
        QElapsedTimer t;
        t.start();
        const auto [message, detail] = OpenFailure(port);
        EXPECT_LT(t.elapsed(), k.maxMs);
        EXPECT_EQ(message, "Error opening serial port");
        EXPECT_TRUE(detail.contains(k.cause)) << detail.toStdString();
        EXPECT_FALSE(port.isOpen());
    }
}

// The engine's port: a network address opens the network port, and block numbers go on across both kinds.
TEST(LinkPort, ChoosesByTheNameAndKeepsOneSeriesOfBlocks)
{
    Listener server;
    Pty pty;
    EXPECT_EQ(NetworkNameFor(server.url("tcp")), server.url("tcp"));
    EXPECT_EQ(NetworkNameFor(pty.slave), QString());
    EXPECT_EQ(NetworkNameFor("COM3"), QString());
    EXPECT_EQ(NetworkNameFor(" rfc2217://h:1 "), "rfc2217://h:1");

    TLinkPort port;
    PortEvents seen(port);
    port.SetCommName(pty.slave);
    port.OpenPort();
    EXPECT_EQ(port.Current()->WriteSequence(), 0u);
    ASSERT_TRUE(Send(port, Hex("44")));
    ASSERT_TRUE(Send(port, Hex("44")));
    EXPECT_EQ(pty.read(2), Hex("44 44"));
    port.ClosePort();

    port.SetCommName(server.url("tcp"));
    port.OpenPort();
    server.accept();
    EXPECT_TRUE(port.isOpen());
    ASSERT_TRUE(Send(port, Hex("44")));
    EXPECT_EQ(port.WriteSequence(), 3u);
    EXPECT_EQ(server.receive(1), Hex("44"));
    server.send(Hex("06"));
    ASSERT_TRUE(RunUntil([&] { return !seen.Stamps.isEmpty() && seen.Drains.contains(3); }, 3000));
    EXPECT_EQ(seen.Stamps.last(), 3u);
    port.ClosePort();
}

} // namespace
