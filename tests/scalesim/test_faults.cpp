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
    // The reply to `request`, waiting for as many bytes as `expected` has
    // (an expected silence waits 200 ms).
    std::string talk(std::string_view request, std::string_view expected)
    {
        return expected.empty() ? client->exchange(request, 1, 200ms)
                                : client->exchange(request, replyLength(expected));
    }
    std::unique_ptr<ScaleSim> sim;
    std::unique_ptr<Client> client;
};

const char kReadMode[] = "55 83 00 03 01 24";
const char kModeReply[] = "02 55 83 00 03 01 03 21";
const char kConnect[] = "11 00 00 00 00 EF";
const char kWritePlu1[] = "77 F9 00 C4 04 00 00 04 D2 F2";   // 1234
const char kZeroValues[] = "02 20 30 30 30 30 30 20 30 30 30 30 30 30 20 30 30 30 30 30 30 03";

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
    EXPECT_EQ(run.talk(c.request, c.faulty), c.faulty);
    EXPECT_EQ(hex(run.client->receive(1, 30ms)), "") << "nothing after the faulty reply";
    EXPECT_EQ(run.talk(c.request, c.normal), c.normal);

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
        ReplyCase{"short", "05", "02 20 30 30 30 30 30 20 30 30 30 03", kZeroValues},
        ReplyCase{"state:I", "05", "02 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 49 03", kZeroValues},
        ReplyCase{"state:N", "05", "02 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 03", kZeroValues},
        ReplyCase{"state:S", "05", "02 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 53 03", kZeroValues}),
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
    o.faults = {parseFaultRule("short@count=always")};
    for (int length : {0, 1, 40}) {
        o.faults[0].param = length;
        ScaleSim sim(o);
        Client client(sim.start());
        EXPECT_EQ(client.exchange("05", 22), length < 2 ? "02 03" : hex(allValuesFrame({}))) << length;
    }
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

// Which requests a rule picks, and what a picked write leaves in memory:
// each request with the reply it gets ("" none).
TEST(Faults, RulesPickTheirRequests)
{
    using Talk = std::vector<std::pair<const char*, const char*>>;
    const struct {
        const char* name;
        std::vector<std::string_view> rules;
        Talk talk;
        PluRecord plu1, plu2;   // afterwards
        int fired = -1;         // of the first rule; -1 not checked
    } cases[] = {
        {"a refused write stores nothing, a lost reply's write is stored",
         {"aa@cmd=77,addr=00C4", "silence@cmd=77,addr=00C8"},
         {{kWritePlu1, "AA"}, {"77 F9 00 C8 04 00 00 00 05 BF", ""}}, {}, {0, 5}},
        {"an acknowledged write that is not stored", {"ackonly@addr=00C4"},
         {{kWritePlu1, "02"}}, {}, {}},
        {"ackonly fires once", {"ackonly@addr=00C4"}, {{kWritePlu1, "02"}, {kWritePlu1, "02"}}, {0, 1234}, {}},
        {"command, bank and address", {"silence@cmd=77,bank=F9,addr=00D0"},
         {{"77 83 00 D0 01 00 35", "02"},            // other bank
          {"77 F9 00 CC 04 00 00 00 01 BF", "02"},   // PLU 3
          {"77 F9 00 D0 04 00 00 00 01 BB", ""},     // PLU 4
          {"77 F9 00 D0 04 00 00 00 01 BB", "02"}}, {}, {}},
        {"the nth match, count times", {"aa@cmd=44,n=2,count=2"},
         {{kConnect, "02"}, {"44", "02"}, {kConnect, "02"}, {"44", "AA"}, {kConnect, "02"}, {"44", "AA"},
          {kConnect, "02"}, {"44", "02"}, {kConnect, "02"}, {"44", "02"}}, {}, {}, 2},
        {"from a sequence number on, always", {"aa@seq=3,count=always"},
         {{"44", "02"}, {"44", "02"}, {"44", "AA"}, {"44", "AA"}, {"44", "AA"}}, {}, {}, 3},
        {"bank and address never match single bytes", {"aa@bank=00,count=always", "badsum@count=always"},
         {{"44", "02"}, {"05", kZeroValues}, {kConnect, "AA"}, {kReadMode, "02 55 83 00 03 01 03 22"}}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimRun run(c.rules);
        for (const auto& [request, reply] : c.talk)
            EXPECT_EQ(run.talk(request, reply), reply) << request;
        EXPECT_EQ(run.sim->plu(1), c.plu1);
        EXPECT_EQ(run.sim->plu(2), c.plu2);
        EXPECT_TRUE(c.fired < 0 || run.sim->faults()[0].fired == c.fired) << run.sim->faults()[0].fired;
    }
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

// By a rule on the second request (left unanswered), or when asked.
TEST(Faults, HangUpEndsServing)
{
    for (const bool byRule : {true, false}) {
        SCOPED_TRACE(byRule ? "by a rule" : "asked");
        SimRun run(byRule ? std::vector<std::string_view>{"hangup@n=2"} : std::vector<std::string_view>{});
        EXPECT_EQ(run.client->exchange("44", 1), "02");
        byRule ? run.client->send("44") : run.sim->hangUp();
        EXPECT_TRUE(run.client->waitHangUp(1500ms));
        EXPECT_TRUE(run.sim->hungUp());
        EXPECT_FALSE(run.sim->running());
        const auto log = run.sim->requests();
        ASSERT_EQ(log.size(), byRule ? 2u : 1u);
        EXPECT_EQ(log.back().reply.empty(), byRule);
        run.sim->stop(); // still fine afterwards
    }
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
