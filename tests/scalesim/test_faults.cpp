// Fault injection over the pseudo-terminal.

#include "client.h"

#include <cctype>

#include <gtest/gtest.h>

namespace varlo::sim::test {
namespace {

struct SimRun {
    explicit SimRun(std::vector<std::string_view> ruleTexts)
    {
        Options o;
        o.maxLatency = 0ms;
        for (auto s : ruleTexts)
            o.faults.push_back(parseFaultRule(s));
        sim = std::make_unique<ScaleSim>(std::move(o));
        client = std::make_unique<Client>(sim->start());
    }
    std::unique_ptr<ScaleSim> sim;
    std::unique_ptr<Client> client;
};

const char kReadMode[] = "55 83 00 03 01 24";
const char kModeReply[] = "02 55 83 00 03 01 03 21";

struct ReplyCase {
    const char* ruleText;
    const char* request;
    const char* faulty;       // the reply with the fault
    const char* normal;       // the same request once more: the fault fired once
};

class FaultReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(FaultReply, FiresOnceWithTheExpectedBytes)
{
    const ReplyCase& c = GetParam();
    SimRun run({c.ruleText});
    auto length = [](std::string_view h) { return (h.size() + 1) / 3; };
    const std::string_view faulty = c.faulty;
    if (faulty.empty())
        EXPECT_EQ(run.client->exchange(c.request, 1, 200ms), "");
    else
        EXPECT_EQ(run.client->exchange(c.request, length(faulty)), faulty);
    EXPECT_EQ(hex(run.client->receive(1, 30ms)), "") << "nothing after the faulty reply";
    EXPECT_EQ(run.client->exchange(c.request, length(c.normal)), c.normal);

    auto log = run.sim->requests();
    ASSERT_EQ(log.size(), 2u);
    ASSERT_EQ(log[0].faults.size(), 1u);
    EXPECT_EQ(log[0].faults[0], parseFaultRule(c.ruleText).kind);
    EXPECT_EQ(hex(log[0].reply), c.faulty);
    EXPECT_TRUE(log[1].faults.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FaultReply,
    ::testing::Values(
        ReplyCase{"silence", "44", "", "02"},
        ReplyCase{"aa", "11 00 00 00 00 EF", "AA", "02"},
        ReplyCase{"badsum", kReadMode, "02 55 83 00 03 01 03 22", kModeReply},
        ReplyCase{"stray:FF", "44", "FF 02", "02"},
        ReplyCase{"stray", kReadMode, "00 02 55 83 00 03 01 03 21", kModeReply},
        ReplyCase{"trunc:2", kReadMode, "02 55 83 00 03 01", kModeReply},
        ReplyCase{"trunc", "44", "", "02"},
        ReplyCase{"flip:1", "44", "00", "02"},
        ReplyCase{"flip:9", kReadMode, "02 57 83 00 03 01 03 21", kModeReply},
        ReplyCase{"garble:3", kReadMode, "AA", kModeReply},
        ReplyCase{"split:20", kReadMode, kModeReply, kModeReply},
        ReplyCase{"short", "05", "02 20 30 30 30 30 30 20 30 30 30 03",
                  "02 20 30 30 30 30 30 20 30 30 30 30 30 30 20 30 30 30 30 30 30 03"},
        ReplyCase{"state:I", "05",
                  "02 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 03",
                  "02 20 30 30 30 30 30 20 30 30 30 30 30 30 20 30 30 30 30 30 30 03"},
        ReplyCase{"state:N", "05",
                  "02 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 03",
                  "02 20 30 30 30 30 30 20 30 30 30 30 30 30 20 30 30 30 30 30 30 03"},
        ReplyCase{"state:S", "05",
                  "02 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 03",
                  "02 20 30 30 30 30 30 20 30 30 30 30 30 30 20 30 30 30 30 30 30 03"}),
    [](const auto& info) {
        std::string name;
        for (char c : std::string_view(info.param.ruleText))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

// Rules made in code skip the text form's checks: a length outside 2..22
// gives the nearest frame that has STX and ETX, never a crash.
TEST(Faults, ShortFrameLengthOutOfRange)
{
    Options o;
    o.maxLatency = 0ms;
    for (int length : {0, 1, 40}) {
        FaultRule r;
        r.kind = FaultKind::ShortFrame;
        r.param = length;
        r.count = -1;
        o.faults.push_back(r);
        ScaleSim sim(o);
        Client client(sim.start());
        const std::string full = hex(allValuesFrame({}));
        EXPECT_EQ(client.exchange("05", 22), length < 2 ? "02 03" : full) << length;
        o.faults.clear();
    }
}

TEST(Faults, RefusedWriteStoresNothingButALostReplyDoes)
{
    SimRun run({"aa@cmd=77,addr=00C4", "silence@cmd=77,addr=00C8"});
    EXPECT_EQ(run.client->exchange("77 F9 00 C4 04 00 00 04 D2 F2", 1), "AA");
    EXPECT_EQ(run.sim->plu(1), (PluRecord{}));
    EXPECT_EQ(run.client->exchange("77 F9 00 C8 04 00 00 00 05 BF", 1, 200ms), "");
    EXPECT_EQ(run.sim->plu(2), (PluRecord{0, 5}));
}

TEST(Faults, AcknowledgedWriteThatIsNotStored)
{
    SimRun run({"ackonly@addr=00C4"});
    EXPECT_EQ(run.client->exchange("77 F9 00 C4 04 00 00 04 D2 F2", 1), "02");
    EXPECT_EQ(run.sim->plu(1), (PluRecord{}));
    EXPECT_EQ(run.client->exchange("77 F9 00 C4 04 00 00 04 D2 F2", 1), "02");
    EXPECT_EQ(run.sim->plu(1), (PluRecord{0, 1234}));
}

TEST(Faults, SplitReplyComesInTwoHalves)
{
    SimRun run({"split:150"});
    run.client->send(kReadMode);
    EXPECT_EQ(hex(run.client->receive(8, 100ms)), "02 55 83 00");
    EXPECT_EQ(hex(run.client->receive(4, 500ms)), "03 01 03 21");
}

TEST(Faults, FloodNeverStopsUntilTheScaleDoes)
{
    SimRun run({"flood:5A"});
    EXPECT_EQ(run.client->exchange("44", 1), "02");
    const Bytes more = run.client->receive(64 * 40, 2000ms);
    ASSERT_EQ(more.size(), 64u * 40);
    EXPECT_TRUE(std::all_of(more.begin(), more.end(), [](std::uint8_t b) { return b == 0x5A; }));
    run.sim->stop();
}

TEST(Faults, FilterOnCommandBankAndAddress)
{
    SimRun run({"silence@cmd=77,bank=F9,addr=00D0"});
    EXPECT_EQ(run.client->exchange("77 83 00 D0 01 00 35", 1), "02"); // other bank
    EXPECT_EQ(run.client->exchange("77 F9 00 CC 04 00 00 00 01 BF", 1), "02"); // PLU 3
    EXPECT_EQ(run.client->exchange("77 F9 00 D0 04 00 00 00 01 BB", 1, 200ms), ""); // PLU 4
    EXPECT_EQ(run.client->exchange("77 F9 00 D0 04 00 00 00 01 BB", 1), "02");
}

TEST(Faults, NthMatchAndCount)
{
    SimRun run({"aa@cmd=44,n=2,count=2"});
    std::string replies;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(run.client->exchange("11 00 00 00 00 EF", 1), "02"); // never matches
        replies += run.client->exchange("44", 1) + " ";
    }
    EXPECT_EQ(replies, "02 AA AA 02 02 ");
    EXPECT_EQ(run.sim->faults()[0].fired, 2);
}

TEST(Faults, SequenceNumberAndAlways)
{
    SimRun run({"aa@seq=3,count=always"});
    std::string replies;
    for (int i = 0; i < 5; ++i)
        replies += run.client->exchange("44", 1) + " ";
    EXPECT_EQ(replies, "02 02 AA AA AA ");
}

TEST(Faults, AddressedFiltersNeverMatchSingleByteCommands)
{
    SimRun run({"aa@bank=00,count=always", "badsum@count=always"});
    EXPECT_EQ(run.client->exchange("44", 1), "02");
    EXPECT_EQ(run.client->exchange("05", 22).size(), 22u * 3 - 1);
    EXPECT_EQ(run.client->exchange("11 00 00 00 00 EF", 1), "AA");
    EXPECT_EQ(run.client->exchange(kReadMode, 8), "02 55 83 00 03 01 03 22");
}

TEST(Faults, LateReply)
{
    SimRun run({"late:300@n=2"});
    EXPECT_EQ(run.client->exchange("44", 1), "02");
    const auto begin = std::chrono::steady_clock::now();
    run.client->send("44");
    EXPECT_EQ(hex(run.client->receive(1, 1500ms)), "02");
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 280ms);
}

TEST(Faults, RepliesKeepTheirOrderBehindALateOne)
{
    SimRun run({"late:200@cmd=44"});
    run.client->send("44 11 00 00 00 00 EF");
    EXPECT_EQ(hex(run.client->receive(1, 1500ms)), "02");
    EXPECT_EQ(run.sim->requests().size(), 2u);
    EXPECT_EQ(hex(run.client->receive(1, 1500ms)), "02");
}

TEST(Faults, HangUpEndsServing)
{
    SimRun run({"hangup@n=2"});
    EXPECT_EQ(run.client->exchange("44", 1), "02");
    run.client->send("44");
    EXPECT_TRUE(run.client->waitHangUp(1500ms));
    EXPECT_TRUE(run.sim->hungUp());
    EXPECT_FALSE(run.sim->running());
    auto log = run.sim->requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[1].reply.empty());
    run.sim->stop(); // still fine afterwards
}

TEST(Faults, HangUpOnRequest)
{
    SimRun run({});
    EXPECT_EQ(run.client->exchange("44", 1), "02");
    run.sim->hangUp();
    EXPECT_TRUE(run.client->waitHangUp(1500ms));
    EXPECT_TRUE(run.sim->hungUp());
}

TEST(Faults, StopDoesNotWaitForALateReply)
{
    // A stop that waited for the reply would run into the CTest time-out.
    SimRun run({"late:600000"});
    run.client->send("44");
    ASSERT_TRUE(run.sim->waitForRequests(1, 1500ms));
    run.sim->stop();
    EXPECT_FALSE(run.sim->running());
    EXPECT_EQ(hex(run.client->receive(1, 20ms)), "");
}

TEST(Faults, AddedWhileRunning)
{
    SimRun run({});
    EXPECT_EQ(run.client->exchange("44", 1), "02");
    run.sim->addFault("aa");
    EXPECT_EQ(run.client->exchange("44", 1), "AA");
    run.sim->addFault("aa@count=always");
    run.sim->clearFaults();
    EXPECT_EQ(run.client->exchange("44", 1), "02");
}

} // namespace
} // namespace varlo::sim::test
