// The network port against a peer in the test: the port contract the engine
// relies on, the Telnet set-up, and every way a connection cannot be made.
#include "comm.h"
#include "linkport.h"
#include "netport.h"
#include "ptytools.h"
#include "testdirs.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

QByteArray Hex(const char* spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }

// A listening socket on the loopback; accept() gives the server's end.
class Listener {
public:
    explicit Listener(int backlog = 4)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, backlog) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("no loopback listener");
        port = ntohs(a.sin_port);
    }
    ~Listener()
    {
        if (peer >= 0)
            ::close(peer);
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
    QByteArray receive(qsizetype count, int ms = 3000) const
    {
        QByteArray out;
        char buf[4096];
        while (out.size() < count) {
            pollfd p = {peer, POLLIN, 0};
            if (::poll(&p, 1, ms) <= 0)
                break;
            const ssize_t n = ::recv(peer, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            out.append(buf, n);
        }
        return out;
    }
    void dropPeer()
    {
        ::close(peer);
        peer = -1;
    }
    int fd = -1, peer = -1;
    uint16_t port = 0;
};

struct Seen {
    QByteArray data;
    QList<uint64_t> stamps, drains;
    int hangups = 0;
};
void Watch(IPort& p, Seen& s)
{
    p.OnReceiveData = [&s](const uint8_t* d, int n, uint64_t stamp) {
        s.data.append(reinterpret_cast<const char*>(d), n);
        s.stamps << stamp;
    };
    p.OnSendDataEmpty = [&s](uint64_t done) { s.drains << done; };
    p.OnRequestHangup = [&s] { ++s.hangups; };
}

TEST(NetPort, RawStreamKeepsThePortContract)
{
    Listener server;
    TNetPort port;
    Seen seen;
    Watch(port, seen);
    port.SetCommName(server.url("tcp"));
    port.SetReadIntervalTimeout(1);
    port.OpenPort();
    server.accept();
    ASSERT_TRUE(RunUntil([&] { return seen.drains.size() == 1; }, 3000));
    EXPECT_EQ(seen.drains, QList<uint64_t>{0});   // one notice after opening

    const uint8_t frame[] = {0x55, 0xFF, 0x00, 0x03, 0x01, 0xA8};
    ASSERT_TRUE(port.WriteData(frame, sizeof frame));
    EXPECT_EQ(port.WriteSequence(), 1u);
    EXPECT_EQ(server.receive(6), Hex("55 FF 00 03 01 A8"));   // raw: no escaping
    ASSERT_TRUE(RunUntil([&] { return seen.drains.size() == 2; }, 3000));
    EXPECT_EQ(seen.drains.last(), 1u);

    server.send(Hex("02 FF 0D"));
    ASSERT_TRUE(RunUntil([&] { return seen.data.size() == 3; }, 3000));
    EXPECT_EQ(seen.data, Hex("02 FF 0D"));
    EXPECT_EQ(seen.stamps.value(0), 1u);   // after block 1 had started
    EXPECT_FALSE(port.WriteData(frame, 0));

    // Numbers go on across a reopen.
    port.ClosePort();
    EXPECT_FALSE(port.WriteData(frame, sizeof frame));
    port.OpenPort();
    ASSERT_TRUE(port.WriteData(frame, sizeof frame));
    EXPECT_EQ(port.WriteSequence(), 2u);
    EXPECT_EQ(seen.hangups, 0);
}

TEST(NetPort, ADroppedConnectionIsOneHangUp)
{
    Listener server;
    TNetPort port;
    Seen seen;
    Watch(port, seen);
    port.SetCommName(server.url("tcp"));
    port.OpenPort();
    server.accept();
    server.dropPeer();
    ASSERT_TRUE(RunUntil([&] { return seen.hangups > 0; }, 3000));
    RunUntil([] { return false; }, 100);
    EXPECT_EQ(seen.hangups, 1);
    port.ClosePort();   // no second notice after the close
    RunUntil([] { return false; }, 50);
    EXPECT_EQ(seen.hangups, 1);
}

TEST(NetPort, TelnetSetsTheLineAndEscapesData)
{
    Listener server;
    TNetPort port;
    Seen seen;
    Watch(port, seen);
    port.SetCommName(server.url("rfc2217"));
    port.SetBaudRate(2400);
    port.SetReadIntervalTimeout(1);
    // The server agrees and confirms from another thread while OpenPort waits.
    std::thread peer([&] {
        server.accept();
        server.receive(15);   // the offers
        server.send(Hex("FF FD 2C FF FD 00 FF FB 00 FF FD 03 FF FB 03"));
        const QByteArray settings = server.receive(35);
        EXPECT_TRUE(settings.startsWith(Hex("FF FA 2C 01 00 00 09 60 FF F0"))) << settings.toHex().data();
        server.send(Hex("FF FA 2C 65 00 00 09 60 FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0"
                        "FF FA 2C 68 01 FF F0 FF FA 2C 69 01 FF F0 41"));
    });
    port.OpenPort();
    peer.join();
    EXPECT_TRUE(port.LineSettingsAccepted());
    const uint8_t block[] = {0x77, 0xFF, 0x01};
    ASSERT_TRUE(port.WriteData(block, sizeof block));
    EXPECT_EQ(server.receive(4), Hex("77 FF FF 01"));
    server.send(Hex("02 FF FF 03 FF FD 18"));   // data with IAC, and a question
    ASSERT_TRUE(RunUntil([&] { return seen.data.size() >= 4; }, 3000));
    EXPECT_EQ(seen.data, Hex("41 02 FF 03"));   // the byte sent with the confirmations is kept
    EXPECT_EQ(server.receive(3), Hex("FF FC 18"));

    // A speed change while open goes to the server at once.
    port.SetBaudRate(9600);
    EXPECT_TRUE(server.receive(10).startsWith(Hex("FF FA 2C 01 00 00 25 80 FF F0")));
}

TEST(NetPort, AServerThatRefusesTheOptionStillCarriesData)
{
    Listener server;
    TNetPort port;
    port.SetCommName(server.url("rfc2217"));
    std::thread peer([&] {
        server.accept();
        server.receive(15);
        server.send(Hex("FF FE 2C FF FE 00 FF FC 00"));
    });
    port.OpenPort();
    peer.join();
    EXPECT_FALSE(port.LineSettingsAccepted());
    const uint8_t b[] = {0x44};
    ASSERT_TRUE(port.WriteData(b, 1));
    EXPECT_EQ(server.receive(1), Hex("44"));
}

TEST(NetPort, ConnectionsThatCannotBeMadeNameTheCause)
{
    const uint16_t closedPort = [] {
        Listener l;
        return l.port;
    }();   // free again: nothing listens there
    Listener silent;   // accepts the connection but never speaks Telnet
    struct Case {
        QString name;
        const char* cause;
        int maxMs;
    };
    const Case cases[] = {
        {QString("tcp://127.0.0.1:%1").arg(closedPort), "connection refused; nothing listens on port", 1000},
        {"tcp://no-such-host.invalid:4001", "unknown host no-such-host.invalid", 3500},
        {"tcp://127.0.0.1", "expected tcp://HOST:PORT or rfc2217://HOST:PORT", 100},
        {"rfc2217://127.0.0.1:70000", "with a port number from 1 to 65535", 100},
        {silent.url("rfc2217"), "no Telnet answer within 3 s; if the device server's port is a raw TCP port, use tcp://", 3500},
    };
    for (const Case& k : cases) {
        TNetPort port;
        port.SetCommName(k.name);
        QElapsedTimer t;
        t.start();
        try {
            port.OpenPort();
            ADD_FAILURE() << k.name.toStdString() << " opened";
        } catch (const ECommsError& e) {
            EXPECT_EQ(e.Message, "Error opening serial port") << k.name.toStdString();
            EXPECT_TRUE(e.Detail.contains(k.cause)) << e.Detail.toStdString();
        }
        EXPECT_LT(t.elapsed(), k.maxMs) << k.name.toStdString();
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
    Seen seen;
    Watch(port, seen);
    const uint8_t b[] = {0x44};
    port.SetCommName(pty.slave);
    port.OpenPort();
    EXPECT_EQ(port.Current()->WriteSequence(), 0u);
    ASSERT_TRUE(port.WriteData(b, 1));
    ASSERT_TRUE(port.WriteData(b, 1));
    EXPECT_EQ(pty.read(2), Hex("44 44"));
    port.ClosePort();

    port.SetCommName(server.url("tcp"));
    port.OpenPort();
    server.accept();
    EXPECT_TRUE(port.isOpen());
    ASSERT_TRUE(port.WriteData(b, 1));
    EXPECT_EQ(port.WriteSequence(), 3u);
    EXPECT_EQ(server.receive(1), Hex("44"));
    server.send(Hex("06"));
    ASSERT_TRUE(RunUntil([&] { return !seen.stamps.isEmpty() && seen.drains.contains(3); }, 3000));
    EXPECT_EQ(seen.stamps.last(), 3u);
    port.ClosePort();
}

} // namespace
