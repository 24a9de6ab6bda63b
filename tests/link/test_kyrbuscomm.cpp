// The bus engine on a scripted port and a manual clock: frames, replies,
// retries, time-outs, Cancel, hang-up and the trace, with no real waiting.
#include "comm.h"
#include "errors.h"
#include "exedir.h"
#include "fakelink.h"
#include "kyrbuscomm.h"
#include "linktools.h"
#include "testdirs.h"
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// A data reply: leading byte, the request's header echoed (command, bank,
// address, length), data, checksum over bytes 1..end.
QByteArray DataReply(const QByteArray& data, const QByteArray& request = Hex("55 F4 00 00"), uint8_t lead = 0x02)
{
    QByteArray r = char(lead) + request.left(4) + char(data.size()) + data;
    uint8_t sum = 0;
    for (int i = 1; i < r.size(); ++i)
        sum = uint8_t(sum + uint8_t(r[i]));
    return r + char(uint8_t(-sum));
}

class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        Bus.TraceEnabled = -1;
        Bus.CommName = "COM2";
        Bus.SetActive(true);
    }
    // From now on frame i gets the pieces replies[i], 1 ms apart from 20 ms
    // after it (nothing once the list is used up).
    void Script(const QList<QList<QByteArray>>& replies)
    {
        Port.Frames.clear();
        Port.Scale = [this, replies](const QByteArray&, int i) {
            for (int k = 0; k < replies.value(i).size(); ++k)
                if (!replies[i][k].isEmpty())
                    Port.Reply(replies[i][k], 20 + k);
        };
    }
    // Each frame gets the next reply of the list, whole.
    void Answer(const QList<QByteArray>& replies)
    {
        QList<QList<QByteArray>> script;
        for (const QByteArray& r : replies)
            script << QList<QByteArray>{r};
        Script(script);
    }
    // Every frame gets `reply`, `delayMs` after it.
    void Always(const QByteArray& reply, int64_t delayMs = 5)
    {
        Port.Scale = [this, reply, delayMs](const QByteArray&, int) { Port.Reply(reply, delayMs); };
    }
    // Commands are acknowledged, reads get a data reply holding `data`.
    void Serve(const QByteArray& data)
    {
        Port.Scale = [this, data](const QByteArray& f, int) {
            Port.Reply(f[0] == char(0x55) ? DataReply(data, f) : Hex("02"), 5);
        };
    }
    QByteArray Payload() const { return QByteArray(reinterpret_cast<const char*>(Bus.Buffer), 64); }

    ScopedHome Home;
    ManualClock Clock;
    FakePort Port{Clock};
    TraceLog Log;
    TKYRBusComm Bus{&Port, &Clock, &Log};
};

TEST_F(Engine, ConstructionSetsUpThePort)
{
    ManualClock clock;
    FakePort port(clock);
    TKYRBusComm bus(&port, &clock);
    EXPECT_EQ(port.Line, (std::map<std::string, int>{
                             {"baud", 2400}, {"dtr", DtrDisable}, {"rts", RtsEnable}, {"txContinueOnXoff", 0},
                             {"xonXoff", 0}, {"ignoreNull", 0}, {"byteSize", int(TByteSize::_8)},
                             {"parity", int(TParity::None)}, {"stopBits", int(TStopBits::_1)}, {"readInterval", 1}}));
    EXPECT_EQ(bus.RetryCount, 6);
    EXPECT_EQ(bus.RetryInterval, 800);
    EXPECT_FALSE(bus.isActive());
    bus.SetBaudRate(9600);
    EXPECT_EQ(port.Line["baud"], 9600);
    EXPECT_EQ(bus.BaudRate(), 9600u);
}

TEST_F(Engine, RequestFramesOnTheWire)
{
    struct Case {
        const char* name;
        uint8_t command, bank;
        uint16_t address;
        uint8_t length;
        QByteArray buffer;
        const char* frame;
    };
    const QList<Case> cases{
        {"connect", 0x11, 0, 0, 0, {}, "11 00 00 00 00 EF"},
        {"hello ignores its arguments", 0x44, 0x83, 0x1234, 5, {}, "44"},
        {"values enquiry", 0x05, 1, 2, 3, {}, "05"},
        {"disconnect", 0x33, 0, 0, 0, {}, "33 00 00 00 00 CD"},
        {"write one byte", 0x77, 0x83, 3, 1, Hex("12"), "77 83 00 03 01 12 F0"},
        {"write, address high byte first", 0x77, 0xF9, 0x00C4, 4, Hex("00 00 04 D2"), "77 F9 00 C4 04 00 00 04 D2 F2"},
        {"read", 0x55, 0x83, 3, 1, {}, "55 83 00 03 01 24"},
    };
    Serve(Hex("A5"));
    for (const Case& c : cases) {
        Port.Frames.clear();
        std::memcpy(Bus.Buffer, c.buffer.constData(), size_t(c.buffer.size()));
        EXPECT_TRUE(c.command == 0x55 ? Bus.ReadBlock(c.command, c.bank, c.address, c.length)
                                      : Bus.SendCommand(c.command, c.bank, c.address, c.length))
            << c.name;
        EXPECT_EQ(Hexes(Port.Frames), QStringList{c.frame}) << c.name;
    }
}

TEST_F(Engine, SilentScaleGetsRetryCountPlusOneFrames)
{
    EXPECT_FALSE(Bus.SendCommand(0x11, 0, 0, 0));
    EXPECT_EQ(Port.Frames.size(), 7);
    EXPECT_EQ(Bus.Failure(), BusFailure::NoReply);
    // Between attempts the line is let fall quiet: 20 characters at 2400 bit/s.
    EXPECT_EQ(Clock.Started, QList<int>({800, 84, 800, 84, 800, 84, 800, 84, 800, 84, 800, 84, 800}));
    EXPECT_EQ(Clock.Now, 7 * 800 + 6 * 84);
    EXPECT_EQ(Bus.FailureCause(), "no reply from the scale after 7 attempts (800 ms each)");

    QStringList retries, expected;
    for (int i = 0; i < Log.Lines().size(); ++i)
        if (Log.Lines()[i].startsWith("Retry"))
            retries << Log.Lines()[i - 1] + "|" + Log.Lines()[i] + "|" + Log.Lines()[i + 1];
    for (int i = 1; i <= 6; ++i)
        expected << QString("|Retry:%1|>>>>>>Send data<<<<<<<<").arg(i);
    EXPECT_EQ(retries, expected);
}

// Wrong replies are retried, up to RetryCount (0..10) more attempts.
TEST_F(Engine, RetriesUntilAnAcknowledgementOrTheLastAttempt)
{
    struct Case { int retryCount; QList<QByteArray> replies; bool result; int frames; };
    const QByteArray aa = Hex("AA");
    const QList<Case> cases{
        {6, {aa, Hex("02")}, true, 2},
        {6, {Hex("41"), Hex("00"), Hex("02 41")}, true, 3},
        {6, {Hex("03 02")}, false, 7},   // only the first byte counts
        {6, {aa, aa, aa, aa, aa, aa, aa, Hex("02")}, false, 7},
        {0, {}, false, 1},
        {0, {Hex("02")}, true, 1},
        {0, {aa, Hex("02")}, false, 1},
        {2, {}, false, 3},
        {-5, {}, false, 1},
        {25, {}, false, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.retryCount << " retries, " << Hexes(c.replies).join('|').toStdString());
        Bus.RetryCount = c.retryCount;
        Answer(c.replies);
        EXPECT_EQ(bool(Bus.SendCommand(0x33, 0, 0, 0)), c.result);
        EXPECT_EQ(Port.Frames.size(), c.frames);
    }
}

// Reads of one bank and address: the result and Buffer for every kind of
// reply. A reply that is not taken leaves Buffer as it was and is retried.
TEST_F(Engine, ReadReplies)
{
    const QByteArray request = Hex("55 83 00 03");
    const QByteArray eleven = Hex("01 02 03 04 05 06 07 08 09 0A 0B");
    const QByteArray good = DataReply(Hex("5A"), request);
    struct Case {
        std::string name;
        int retryCount;
        uint8_t length;
        QList<QList<QByteArray>> replies;   // pieces, per frame
        QByteArray data;
        BusFailure failure;
        QString cause;
        int frames;
    };
    QList<Case> cases;
    // Complete at length + 7 bytes however they are split.
    const QByteArray whole = DataReply(eleven, request);
    for (int piece : {18, 1, 5}) {
        QList<QByteArray> pieces;
        for (int at = 0; at < whole.size(); at += piece)
            pieces << whole.mid(at, piece);
        cases << Case{"pieces of " + std::to_string(piece), 6, 11, {pieces}, eleven, BusFailure::None, "", 1};
    }
    // Noise before the reply, in any split, does not shift it.
    for (const QByteArray& n : {Hex("00"), Hex("02"), Hex("02 55"), Hex("AA"), Hex("FF FF FF"),
                                DataReply(Hex("77"), Hex("55 83 00 07")), Hex("02 55 83 00 03 02")}) {
        for (int split : {0, 1, int(n.size())}) {
            const QByteArray all = n + good;
            cases << Case{"noise " + Spaced(n).toStdString() + " split " + std::to_string(split), 6, 1,
                          {{all.left(n.size() + split), all.mid(n.size() + split)}}, Hex("5A"), BusFailure::None, "", 1};
        }
    }
    const QString noEcho = "the scale's replies did not start with the request's header (02 55 83 00 "
                           "03 01); a scale whose replies never echo it cannot be read";
    const std::tuple<const char*, QByteArray, BusFailure, QString> untaken[] = {
        {"bad checksum", good.left(7) + char(good[7] + 1), BusFailure::BadFrame, "the scale's reply failed its checksum"},
        {"another bank", DataReply(Hex("5A"), Hex("55 84 00 03")), BusFailure::WrongReply, noEcho},
        {"another address", DataReply(Hex("5A"), Hex("55 83 00 07")), BusFailure::WrongReply, noEcho},
        {"another command", DataReply(Hex("5A"), Hex("77 83 00 03")), BusFailure::WrongReply, noEcho},
        {"lead byte not 0x02", DataReply(Hex("5A"), request, 0x99), BusFailure::WrongReply, noEcho},
    };
    for (const auto& [name, reply, failure, cause] : untaken) {
        cases << Case{name, 0, 1, {{reply}}, {}, failure, cause, 1};
        cases << Case{std::string(name) + ", retried", 6, 1, {{reply}, {good}}, Hex("5A"), BusFailure::None, "", 2};
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bus.RetryCount = c.retryCount;
        std::memset(Bus.Buffer, 0xEE, 64);
        Script(c.replies);
        const BusResult r = Bus.ReadBlock(0x55, 0x83, 3, c.length);
        EXPECT_EQ(r.failure, c.failure);
        EXPECT_EQ(r.cause, c.cause);
        EXPECT_EQ(Bus.FailureCause(), c.cause);
        EXPECT_EQ(r.bytes, c.data);
        EXPECT_EQ(Payload(), c.data + QByteArray(64 - c.data.size(), char(0xEE)));
        EXPECT_EQ(Port.Frames.size(), c.frames);
    }
}

TEST_F(Engine, ReadOneByteShortTimesOutAndRetries)
{
    const QByteArray data = Hex("10 20 30 40 50 60 70 80 90 A0 B0");
    const QByteArray reply = DataReply(data);
    Log.Clear();
    Answer({reply.left(17), reply});
    EXPECT_TRUE(Bus.ReadBlock(0x55, 0xF4, 0, 11));
    EXPECT_EQ(Port.Frames.size(), 2);
    EXPECT_EQ(Payload().left(11), data);
    EXPECT_EQ(Clock.Started, QList<int>({800, 84, 800, 84}));   // quiet after the retry too
    EXPECT_TRUE(Log.Lines().contains("Retry:1"));
    // 18 received bytes in one chunk: 16 to a line, then the rest.
    const int at = int(Log.Lines().lastIndexOf(">>>>>>Receive data<<<<<<<<"));
    EXPECT_EQ(Log.Lines().mid(at + 1), QStringList({"02 55 F4 00 00 0B 10 20 30 40 50 60 70 80 90 A0 ",
                                                  "B0 " + Spaced(reply.right(1)) + " ", ""}));
}

TEST_F(Engine, WholeFrameReplies)
{
    const QByteArray frame20 = Hex("02") + QByteArray("+01234 000150 0001") + Hex("03");
    const QByteArray longer = Hex("02") + QByteArray(20, '7') + Hex("03") + QByteArray(3, '8') + Hex("03");
    const QByteArray over64 = Hex("02") + QByteArray(68, 'x') + Hex("03");
    const QByteArray ends64 = over64.left(63) + Hex("03") + over64.mid(64);
    const QString tooShort = "the scale's frame was shorter than 20 bytes";
    struct Case {
        const char* name;
        int retryCount;
        QList<QList<QByteArray>> replies;   // pieces, per frame
        BusFailure failure;
        QByteArray bytes;
        int frames;
        QString cause;
    };
    const QList<Case> cases{
        {"20 bytes in pieces: complete at the ETX", 6, {{frame20.left(7), frame20.mid(7)}}, BusFailure::None, frame20, 1, ""},
        {"19 bytes: a bad frame at once, no retry", 6, {{frame20.left(18) + Hex("03")}}, BusFailure::BadFrame, {}, 1,
         tooShort},
        {"a chunk ending on a data byte 0x03 ends the frame there", 6, {{longer.left(22), longer.mid(22)}},
         BusFailure::None, longer.left(22), 1, ""},
        {"... too short when that is before the 20th byte", 6, {{Hex("02 30 31 03"), QByteArray(20, '9') + Hex("03")}},
         BusFailure::BadFrame, {}, 1, tooShort},
        {"another first byte is some other reply: retried", 6, {{Hex("58 03")}, {frame20}}, BusFailure::None, frame20, 2,
         ""},
        // Longer than 64 bytes: whole only if the 64th byte stored is 0x03.
        {"over 64 bytes", 0, {{over64}}, BusFailure::WrongReply, {}, 1, "the scale gave a wrong reply"},
        {"over 64 bytes, the 64th is 0x03", 0, {{ends64}}, BusFailure::None, ends64.left(64), 1, ""},
    };
    ASSERT_EQ(frame20.size(), 20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bus.RetryCount = c.retryCount;
        Clock.Started.clear();
        Script(c.replies);
        const BusResult r = Bus.SendCommand(0x05, 0, 0, 0, ReplyForm::WholeFrame);
        EXPECT_EQ(r.failure, c.failure);
        EXPECT_EQ(r.cause, c.cause);
        EXPECT_EQ(r.bytes, c.bytes);
        EXPECT_EQ(Port.Frames.size(), c.frames);
        if (c.frames == 1) {
            EXPECT_EQ(Clock.Started.size(), 1);   // no quiet spell after the only attempt
        }
        Clock.RunOut();   // let the rest arrive before the next case
    }
    // The form belongs to that request: the next command's 0x02 is its acknowledgement.
    Answer({Hex("02")});
    EXPECT_EQ(Bus.SendCommand(0x11, 0, 0, 0).bytes, Hex("02"));
}

TEST_F(Engine, CancelEndsTheWaitAtTheNextTurn)
{
    int turnsAtCancel = -1;
    Port.Scale = [&](const QByteArray&, int) {
        Clock.At(300, [&] {
            Bus.Cancel();
            turnsAtCancel = Clock.Turns;
        });
    };
    EXPECT_EQ(Bus.SendCommand(0x11, 0, 0, 0).failure, BusFailure::Cancelled);
    EXPECT_EQ(Clock.Turns, turnsAtCancel);
    EXPECT_EQ(Clock.Now, 300);
    EXPECT_EQ(Port.Frames.size(), 1);

    // Also while still waiting for the drain notice, and for reads.
    Port.AutoDrain = false;
    Port.Frames.clear();
    Port.Scale = [&](const QByteArray&, int) { Clock.At(50, [&] { Bus.Cancel(); }); };
    EXPECT_FALSE(Bus.ReadBlock(0x55, 0x83, 3, 1));
    EXPECT_EQ(Port.Frames.size(), 1);
    EXPECT_EQ(Clock.Started.size(), 1);
}

TEST_F(Engine, RetryIntervalZeroNeverTimesOut)
{
    Bus.RetryInterval = 0;
    Clock.OnStall = [this] { Bus.Cancel(); };
    EXPECT_FALSE(Bus.SendCommand(0x11, 0, 0, 0));
    EXPECT_EQ(Clock.Stalls, 1);
    EXPECT_TRUE(Clock.Started.isEmpty());
    EXPECT_EQ(Port.Frames.size(), 1);

    Always(Hex("02"), 3600 * 1000);
    EXPECT_TRUE(Bus.SendCommand(0x11, 0, 0, 0));
    EXPECT_EQ(Clock.Stalls, 1);
}

// The time-out counts from this frame's drain notice: not from the write,
// nor from a late notice of an earlier frame; a reply before it counts.
TEST_F(Engine, TimeOutCountsFromTheDrainNotice)
{
    struct Case {
        const char* name;
        bool staleNotice;
        int drainMs;
        QList<int> replyMs;   // per attempt, from the write
        int frames;
    };
    const QList<Case> cases{
        {"timed from the notice", false, 300, {1200, 1000}, 2},   // 900 ms, then 700 ms after it
        {"a stale notice starts nothing", true, 500, {1200}, 1},
        {"a reply before the notice", false, 50, {0}, 1},
    };
    Port.AutoDrain = false;
    for (const Case& c : cases) {
        Port.Frames.clear();
        if (c.staleNotice)
            Port.Drain(0);   // belongs to what was written before
        Port.Scale = [&](const QByteArray&, int i) {
            Port.Drain(c.drainMs);
            Port.Reply(Hex("02"), c.replyMs.value(i, 0));
        };
        EXPECT_TRUE(Bus.SendCommand(0x11, 0, 0, 0)) << c.name;
        EXPECT_EQ(Port.Frames.size(), c.frames) << c.name;
        Clock.RunOut();
    }
}

TEST_F(Engine, BytesFromBeforeTheFrameAreNotItsReply)
{
    Bus.RetryCount = 0;
    // A stray acknowledgement still queued when the frame goes out: traced, not taken.
    Port.Reply(Hex("02"));
    Log.Clear();
    EXPECT_FALSE(Bus.SendCommand(0x11, 0, 0, 0));
    EXPECT_EQ(Log.Lines().mid(3), QStringList({">>>>>>Receive data<<<<<<<<", "02 ", ""}));

    // A stale 0xAA does not spoil the real acknowledgement.
    Port.Reply(Hex("AA"));
    Answer({Hex("02")});
    EXPECT_TRUE(Bus.SendCommand(0x11, 0, 0, 0));

    // A stale half of a data reply does not shift the real one.
    const QByteArray reply = DataReply(Hex("77"), Hex("55 83 00 03"));
    Port.Reply(reply.left(4));
    Answer({reply});
    EXPECT_TRUE(Bus.ReadBlock(0x55, 0x83, 3, 1));
    EXPECT_EQ(Bus.Buffer[0], 0x77);
}

// A reply that comes after its time-out (USB adapters and device servers
// hold bytes back) must answer neither the retry nor the next request.
TEST_F(Engine, LateRepliesAnswerNoLaterRequest)
{
    struct Case {
        const char* name;
        QList<std::pair<QByteArray, int>> replies;   // per frame: reply and its delay
        int framesForSecond;
    };
    const QList<Case> cases{
        // The late acknowledgement lands in the quiet spell before the retry;
        // the second request's refusal is then seen and retried.
        {"late within the quiet spell", {{Hex("02"), 850}, {Hex("02"), 20}, {Hex("AA"), 20}, {Hex("02"), 20}}, 2},
        // The late one answers the retry, whose own acknowledgement comes
        // after it: the quiet spell after a retried request swallows it.
        {"late after the quiet spell", {{Hex("02"), 900}, {Hex("02"), 60}, {Hex("AA"), 20}, {Hex("02"), 20}}, 2},
        {"in time", {{Hex("02"), 20}, {Hex("AA"), 20}, {Hex("02"), 20}}, 2},
    };
    for (const Case& c : cases) {
        Port.Frames.clear();
        Port.Scale = [&](const QByteArray&, int i) {
            if (i < c.replies.size())
                Port.Arrive(c.replies[i].first, c.replies[i].second);
        };
        ASSERT_TRUE(Bus.SendCommand(0x77, 0xF9, 0x00C0, 4)) << c.name;
        const qsizetype first = Port.Frames.size();
        EXPECT_TRUE(Bus.SendCommand(0x77, 0xF9, 0x00C4, 4)) << c.name;
        EXPECT_EQ(Port.Frames.size() - first, c.framesForSecond) << c.name;
        Clock.RunOut();
    }
}

TEST_F(Engine, HangUpFailsTheRequestAtOnce)
{
    Port.Scale = [this](const QByteArray&, int) { Port.HangUp(100); };
    EXPECT_FALSE(Bus.SendCommand(0x11, 0, 0, 0));
    EXPECT_TRUE(Bus.isHungUp());
    EXPECT_EQ(Port.Frames.size(), 1);
    EXPECT_EQ(Clock.Now, 100);

    // Later requests do not wait for a port that is gone.
    Port.Scale = nullptr;
    EXPECT_FALSE(Bus.ReadBlock(0x55, 0x83, 3, 1));
    EXPECT_EQ(Clock.Now, 100);
    EXPECT_EQ(Clock.Started.size(), 1);

    // Opening the link again clears it.
    Bus.SetActive(true);
    EXPECT_FALSE(Bus.isHungUp());
    Answer({Hex("02")});
    EXPECT_TRUE(Bus.SendCommand(0x11, 0, 0, 0));
}

// Every way a request fails names its cause, in the result and on the bus.
TEST_F(Engine, FailureCauses)
{
    struct Case { const char* name; std::function<void()> scale; BusFailure failure; QString cause; };
    const QList<Case> cases{
        {"silent", [] {}, BusFailure::NoReply, "no reply from the scale after 7 attempts (800 ms each)"},
        {"refused", [this] { Always(Hex("AA")); }, BusFailure::Refused, "the scale refused the request (0xAA)"},
        {"other byte", [this] { Always(Hex("41")); }, BusFailure::WrongReply, "the scale gave a wrong reply"},
        {"hang-up", [this] { Port.Scale = [this](const QByteArray&, int) { Port.HangUp(5); }; },
         BusFailure::HungUp, "the line hung up"},
        {"cancelled",
         [this] { Port.Scale = [this](const QByteArray&, int) { Clock.At(5, [this] { Bus.Cancel(); }); }; },
         BusFailure::Cancelled, "cancelled"},
        // A closed link fails at once, with nothing on the wire.
        {"not open", [this] { Bus.SetActive(false); }, BusFailure::NotOpen, "the link to the scale is not open"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bus.SetActive(true);
        Port.Scale = nullptr;
        c.scale();
        Port.Frames.clear();
        const BusResult r = Bus.SendCommand(0x11, 0, 0, 0);
        EXPECT_EQ(r.failure, c.failure);
        EXPECT_EQ(r.cause, c.cause);
        EXPECT_EQ(Bus.Failure(), c.failure);
        EXPECT_EQ(Bus.FailureCause(), c.cause);
        EXPECT_EQ(Port.Frames.isEmpty(), c.failure == BusFailure::NotOpen);
        Clock.RunOut();
    }
}

TEST_F(Engine, OversizedRequestsAreRefusedUnsent)
{
    EXPECT_EQ(Bus.SendCommand(0x77, 0xF9, 0, 60).failure, BusFailure::TooLong);
    EXPECT_EQ(Bus.ReadBlock(0x55, 0xF9, 0, 58).cause, "the request is too long (58 data bytes)");
    EXPECT_TRUE(Port.Frames.isEmpty());

    // The largest ones still go out whole: 6 + 59 = 65.
    Serve(QByteArray(57, char(0x42)));
    EXPECT_TRUE(Bus.SendCommand(0x77, 0xF9, 0, 59));
    EXPECT_TRUE(Bus.ReadBlock(0x55, 0xF9, 0, 57));
    EXPECT_EQ(Port.Frames.value(0).size(), 65);
    EXPECT_EQ(Payload().left(57), QByteArray(57, char(0x42)));
}

TEST(ReplyReceiver, FillRules)
{
    ReplyReceiver rx;
    const uint8_t header[5] = {0x55, 0xF4, 0x00, 0x00, 0x01};
    const QByteArray reply = DataReply(Hex("11"));
    auto feed = [&rx](const QByteArray& b) { rx.Feed(reinterpret_cast<const uint8_t*>(b.constData()), int(b.size())); };

    // Incomplete data reply: open until length + 7 bytes.
    rx.ExpectDataReply(header);
    EXPECT_EQ(rx.expectedBytes(), 8);
    feed(reply.left(7));
    EXPECT_EQ(rx.state(), ReplyReceiver::State::Open);
    EXPECT_EQ(rx.count(), 7);

    // After a data completion further bytes land from index 32 on.
    rx.ExpectDataReply(header);
    feed(reply);
    EXPECT_EQ(rx.state(), ReplyReceiver::State::Complete);
    EXPECT_EQ(rx.count(), 32);
    feed(Hex("C1 C2"));
    EXPECT_EQ(rx.state(), ReplyReceiver::State::Complete);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(rx.raw()), 8), reply);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(rx.raw()) + 32, 2), Hex("C1 C2"));
    QByteArray data;
    EXPECT_TRUE(rx.checkedData(&data));
    EXPECT_EQ(data, Hex("11"));

    // The checksum check never reads outside the 64 stored bytes.
    for (int e : {-1, 0, 5, 64, 255})
        EXPECT_FALSE(rx.checksumHolds(e)) << e;

    // What the port is told to wait for: one byte, or not known for a whole frame.
    rx.ExpectCommandReply(ReplyForm::Acknowledgement);
    EXPECT_EQ(rx.expectedBytes(), 1);
    rx.ExpectCommandReply(ReplyForm::WholeFrame);
    EXPECT_EQ(rx.expectedBytes(), 0);
}

TEST_F(Engine, OpeningAndClosingTheLink)
{
    Bus.SetActive(false);
    Port.Log.clear();
    Log.Add("left over");
    Bus.CommName = "COM3";
    Bus.SetActive(true);
    EXPECT_EQ(Port.CommName, "COM3");
    EXPECT_EQ(Port.Log, QStringList({"dtr:0", "open"}));
    EXPECT_TRUE(Log.Lines().isEmpty());
    EXPECT_TRUE(Bus.isActive());

    // Reopening an open link closes the port first.
    Bus.SetActive(true);
    EXPECT_EQ(Port.Log, QStringList({"dtr:0", "open", "dtr:0", "close", "open"}));

    Port.Log.clear();
    Bus.SetActive(false);
    EXPECT_EQ(Port.Log, QStringList({"dtr:1", "close"}));
    EXPECT_FALSE(Bus.isActive());

    // A failing open passes its error through and keeps the trace.
    Log.Add("kept");
    Port.OpenHook = [] { throw ECommsError("Error opening serial port", "/dev/ttyS1: No such file or directory"); };
    EXPECT_THROW(Bus.SetActive(true), ECommsError);
    EXPECT_FALSE(Bus.isActive());
    EXPECT_EQ(Log.Lines(), QStringList{"kept"});

    // A DEBUG.LOG that cannot be written fails after the port is closed.
    Port.OpenHook = nullptr;
    Bus.SetActive(true);
    QFile::remove(Home.file("DEBUG.LOG"));
    ASSERT_TRUE(QDir(Home.path()).mkdir("DEBUG.LOG"));   // a directory cannot be replaced by a file
    EXPECT_THROW(Bus.SetActive(false), EInOutError);
    EXPECT_FALSE(Bus.isActive());
    EXPECT_FALSE(Port.Open);
}

TEST_F(Engine, DebugLogHoldsTheTraceWithCrLf)
{
    Home.write("DEBUG.LOG", "an older session\r\n");
    Bus.SetActive(false);
    EXPECT_TRUE(Home.read("DEBUG.LOG").isEmpty());
    EXPECT_TRUE(QFile::exists(Home.file("DEBUG.LOG")));

    Bus.SetActive(true);
    Bus.RetryCount = 1;
    Answer({Hex("AA"), Hex("02")});
    EXPECT_TRUE(Bus.SendCommand(0x44, 0, 0, 0));
    EXPECT_EQ(Bus.Failure(), BusFailure::None);
    Bus.SetActive(false);
    EXPECT_EQ(Home.read("DEBUG.LOG"), QByteArray(">>>>>>Send data<<<<<<<<\r\n44 \r\n\r\n"
                                                 ">>>>>>Receive data<<<<<<<<\r\nAA \r\n\r\n"
                                                 "\r\nRetry:1\r\n"
                                                 ">>>>>>Send data<<<<<<<<\r\n44 \r\n\r\n"
                                                 ">>>>>>Receive data<<<<<<<<\r\n02 \r\n\r\n"));

    // Tracing off: nothing recorded.
    Bus.SetActive(true);
    Bus.TraceEnabled = 0;
    Answer({Hex("02")});
    EXPECT_TRUE(Bus.SendCommand(0x44, 0, 0, 0));
    EXPECT_TRUE(Log.Lines().isEmpty());
}

// A device that never stops talking: what no request waits for is counted
// and dropped, the trace stays bounded, and every request still ends.
TEST_F(Engine, AFloodOfBytesIsBounded)
{
    const QByteArray burst(2048, char(0x55));
    std::function<void()> flood = [&] {
        Port.Arrive(burst, 10);
        Clock.At(10, [&] {
            if (Clock.Now < 20000)
                flood();
        });
    };
    flood();
    Clock.At(1000, [] {});
    while (Clock.Now < 1000)
        Clock.ProcessEvents();
    EXPECT_GE(Bus.IdleBytesDropped(), 99u * 2048);
    EXPECT_LE(Log.Lines().size(), 2 * (2 + 2048 / 16));   // two whole chunks fill the budget

    // Every attempt meets a wrong reply; the quiet spells are cut off at
    // the retry interval, so the request ends after 7 attempts.
    EXPECT_FALSE(Bus.SendCommand(0x11, 0, 0, 0));
    EXPECT_EQ(Port.Frames.size(), 7);
    EXPECT_LE(Clock.Now, 1000 + 7 * 10 + 6 * 800 + 50);
    EXPECT_TRUE(Log.Lines().contains(QRegularExpression(R"(^\(\d+ more bytes received were not traced\)$)")));

    // An all-values frame that never ends is a wrong reply at 64 bytes, not a time-out.
    Bus.RetryCount = 0;
    Always(Hex("02") + QByteArray(100, '7'));
    const int64_t before = Clock.Now;
    EXPECT_EQ(Bus.SendCommand(0x05, 0, 0, 0, ReplyForm::WholeFrame).failure, BusFailure::WrongReply);
    EXPECT_LT(Clock.Now - before, 800);
}

TEST_F(Engine, TraceKeepsTheNewestLinesAndSaysSo)
{
    Always(Hex("02"), 1);
    const int requests = TraceLog::MaxLines * 9 / 8 / 6 + 100;   // 6 lines each
    for (int i = 0; i < requests; ++i)
        ASSERT_TRUE(Bus.SendCommand(0x44, 0, 0, 0));
    EXPECT_LE(Log.Lines().size(), TraceLog::MaxLines + TraceLog::MaxLines / 8);
    Bus.SetActive(false);
    QFile log(ExeDir() + "DEBUG.LOG");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    EXPECT_TRUE(lines.first().startsWith("(")) << lines.first().constData();
    EXPECT_TRUE(lines.first().contains("earlier lines of this trace were dropped: it keeps the last 65536"));
    EXPECT_EQ(Log.Lines().size(), TraceLog::MaxLines);
    EXPECT_EQ(lines.size() - 2, Log.Lines().size());   // the note, the lines, the empty tail
    EXPECT_EQ(lines.value(lines.size() - 2), "\r");
}

} // namespace
