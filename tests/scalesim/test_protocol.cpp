// The simulator over a real pseudo-terminal: frames, memory, stream handling,
// pacing and the client's close and reopen.

#include "client.h"

#include <ctime>
#include <thread>

#include <gtest/gtest.h>

namespace varlo::sim::test {
namespace {

class SimTest : public ::testing::Test {
protected:
    Options quiet()
    {
        Options o;
        o.maxLatency = 0ms;
        return o;
    }
    void startSim(Options o)
    {
        sim = std::make_unique<ScaleSim>(std::move(o));
        path = sim->start();
        client = std::make_unique<Client>(path);
        ASSERT_TRUE(client->isOpen());
    }
    void SetUp() override { startSim(quiet()); }

    std::unique_ptr<ScaleSim> sim;
    std::string path;
    std::unique_ptr<Client> client;
};

// Each request and its reply on the wire, then the memory and the log.
TEST_F(SimTest, AnswersRequestsFromItsMemory)
{
    sim->setPlu(77, {0x01, 0xFFFFFF});
    sim->setSaleFigures({1234567, 150, 1234});
    sim->setIndication({Indication::State::Values, -1234, 150, 185});
    const struct { const char* request; const char* reply; } talk[] = {
        {"44", "02"},
        {"11 00 00 00 00 EF", "02"},
        {"77 F9 00 C4 04 00 00 04 D2 F2", "02"},
        {"55 F9 00 C4 04 EA", "02 55 F9 00 C4 04 00 00 04 D2 14"},
        {"55 F9 01 F4 04 B9", "02 55 F9 01 F4 04 01 FF FF FF BB"},
        {"55 83 00 03 01 24", "02 55 83 00 03 01 03 21"},
        {"77 83 00 03 01 AB 57", "02"},
        {"55 F4 00 00 0B AC", "02 55 F4 00 00 0B 00 00 12 D6 87 00 00 00 96 04 D2 D1"},
        // STX '-' "01234" ' ' "000150" ' ' "000185" ETX
        {"05", "02 2D 30 31 32 33 34 20 30 30 30 31 35 30 20 30 30 30 31 38 35 03"},
        {"33 00 00 00 00 CD", "02"},
    };
    for (const auto& t : talk)
        EXPECT_EQ(client->exchange(t.request, replyLength(t.reply)), t.reply) << t.request;
    sim->setIndication({Indication::State::Lifted, 0, 0, 0});
    EXPECT_EQ(client->exchange("05", 22), "02 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 4E 03");

    EXPECT_EQ(sim->plu(1), (PluRecord{0, 1234}));
    EXPECT_EQ(hex(sim->read(kyr::BankPlu, 0x00C4, 4)), "00 00 04 D2");
    EXPECT_EQ(sim->plu(2), (PluRecord{}));   // neighbours untouched
    EXPECT_EQ(sim->plu(76), (PluRecord{}));
    EXPECT_EQ(sim->priceMode(), 0xAB);
    const std::string dump = sim->dumpText();
    for (const char* line : {"price-mode AB\n", "plu 01 00 00 04 D2\n", "plu 77 01 FF FF FF\n",
                             " 77 F9 00 C4 04 00 00 04 D2 F2 -> 02\n"})
        EXPECT_NE(dump.find(line), std::string::npos) << line << " in\n" << dump;

    auto log = sim->requests();
    ASSERT_EQ(log.size(), std::size(talk) + 1);
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].seq, i + 1);
        EXPECT_TRUE(log[i].checksumOk);
        EXPECT_LE(log[i ? i - 1 : 0].received, log[i].received);
        if (i < std::size(talk)) {
            EXPECT_EQ(hex(log[i].frame), talk[i].request);
            EXPECT_EQ(hex(log[i].reply), talk[i].reply);
        }
    }
}

TEST(SimMemory, SaleFiguresKeepAllFortyBits)
{
    ScaleSim sim;
    const SaleFigures max{0xFFFFFFFFFFull, 0xFFFFFFFF, 0xFFFF};
    sim.setSaleFigures(max);
    EXPECT_EQ(sim.saleFigures(), max);
    EXPECT_EQ(hex(sim.read(kyr::BankSaleFigures, 0, 12)), "FF FF FF FF FF FF FF FF FF FF FF 00");
}

TEST(SimMemory, AccessPastTheBankEndIsCut)
{
    ScaleSim sim;
    sim.write(0x10, 0xFFFE, bytes("01 02 03 04"));
    EXPECT_EQ(hex(sim.read(0x10, 0xFFFC, 8)), "00 00 01 02");
    EXPECT_EQ(hex(sim.read(0x10, 0x0000, 2)), "00 00"); // no wrap-around
    EXPECT_THROW(sim.plu(0), std::out_of_range);
    EXPECT_THROW(sim.setPlu(78, {}), std::out_of_range);
}

TEST(SimMemory, PriceModeOptionSetsTheByte)
{
    Options o;
    o.priceMode = 0x5B;
    ScaleSim sim(o);
    EXPECT_EQ(sim.byte(kyr::BankPriceMode, 3), 0x5B);
}

// The good frame first, then the same frame with one thing changed.
TEST_F(SimTest, RejectedRequestsStoreNothing)
{
    const struct { const char* what; const char* frame; } cases[] = {
        {"write checksum off by one", "77 F9 00 C4 04 00 00 04 D2 F3"},
        {"write data byte changed", "77 F9 00 C4 04 00 00 04 D3 F2"},
        {"read checksum off by one", "55 F9 01 F4 04 BA"},
        {"connect checksum wrong", "11 00 00 00 00 EE"},
        {"unknown command", "66 00 00 00 00 9A"},
        {"write past the bank end", "77 F9 FF FE 04 00 00 00 01 8E"},
        {"read past the bank end", "55 F9 FF FE 04 B1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(client->exchange(c.frame, 1), "AA");
        EXPECT_EQ(client->receive(1, 20ms).size(), 0u);
    }
    EXPECT_EQ(sim->plu(1), (PluRecord{}));
    EXPECT_EQ(hex(sim->read(kyr::BankPlu, 0xFFFE, 2)), "00 00");
    // Still in step with the stream.
    EXPECT_EQ(client->exchange("77 F9 00 C4 04 00 00 04 D2 F2", 1), "02");
    EXPECT_EQ(sim->plu(1), (PluRecord{0, 1234}));

    auto log = sim->requests();
    ASSERT_EQ(log.size(), std::size(cases) + 1);
    EXPECT_FALSE(log[0].checksumOk);
    EXPECT_TRUE(log[4].checksumOk); // unknown but well formed
    EXPECT_TRUE(log.back().checksumOk);
}

TEST_F(SimTest, FrameSplitAcrossReads)
{
    // A long resync gap: a slow test machine must not split the frame for us.
    Options o = quiet();
    o.resyncGap = 10s;
    startSim(o);
    const Bytes frame = bytes("77 F9 00 C4 04 00 00 04 D2 F2");
    std::size_t sent = 0;
    for (std::size_t cut : {1u, 5u, 7u, 10u}) {
        client->send(std::span(frame).subspan(sent, cut - sent));
        ASSERT_TRUE(sim->waitForBytes(cut, 1s)); // the sim has read this part
        if (cut < frame.size()) {
            EXPECT_EQ(client->receive(1, 10ms).size(), 0u) << "reply before the frame was whole";
        }
        sent = cut;
    }
    EXPECT_EQ(hex(client->receive(1)), "02");
    EXPECT_EQ(sim->plu(1), (PluRecord{0, 1234}));
    EXPECT_EQ(sim->requests().size(), 1u);
}

TEST_F(SimTest, GluedFramesAreAnsweredInOrder)
{
    client->send("44 11 00 00 00 00 EF 55 83 00 03 01 24 05 33 00 00 00 00 CD");
    EXPECT_EQ(hex(client->receive(2 + 8)), "02 02 02 55 83 00 03 01 03 21");
    EXPECT_EQ(client->receive(22).size(), 22u);
    EXPECT_EQ(hex(client->receive(1)), "02");
    auto log = sim->requests();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(hex(log[2].frame), "55 83 00 03 01 24");
    EXPECT_EQ(hex(log[3].frame), "05");
}

TEST_F(SimTest, SilenceDropsAStalePartialFrame)
{
    // A lone 0x77 would otherwise take the next request as its header.
    client->send("77 F9");
    ASSERT_TRUE(sim->waitForDiscards(1, 1s));
    EXPECT_EQ(client->exchange("44", 1), "02");
    auto dropped = sim->discarded();
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(hex(dropped[0]), "77 F9");
    EXPECT_EQ(sim->requests().size(), 1u);
}

TEST_F(SimTest, PacedReplyTakesItsWireTime)
{
    Options o = quiet();
    o.baud = 2400;
    startSim(o);
    sim->loadDemoState();
    const auto begin = std::chrono::steady_clock::now();
    client->send(readFrame(kyr::BankPlu, 0, 93)); // reply: 93 + 7 = 100 bytes
    Bytes reply = client->receive(100, 2000ms);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    ASSERT_EQ(reply.size(), 100u);
    EXPECT_EQ(checksumFor(std::span(reply).subspan(1)), 0) << "reply bytes 1..106 sum to 0";
    EXPECT_EQ(hex(std::span(reply).subspan(0, 10)), "02 55 F9 00 00 5D 00 00 00 96");
    // 106 bytes x 10 bits at 2400 bit/s are 442 ms on the wire.
    EXPECT_GE(elapsed, 350ms);
}

TEST_F(SimTest, ClientMayCloseAndReopen)
{
    EXPECT_EQ(client->exchange("44", 1), "02");
    client->close();
    // Left unanswered: the reply has no reader.
    for (int round = 0; round < 3; ++round) {
        Client again(path);
        ASSERT_TRUE(again.isOpen());
        EXPECT_EQ(again.exchange("11 00 00 00 00 EF", 1), "02") << "round " << round;
    }
    EXPECT_TRUE(sim->running());
}

TEST_F(SimTest, NoBusyLoopWhileNoClientIsOpen)
{
    client->close();
    timespec cpu0{}, cpu1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
    std::this_thread::sleep_for(300ms);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
    const double used = (cpu1.tv_sec - cpu0.tv_sec) + (cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
    // A loop spinning on POLLHUP would burn the whole 0.3 s.
    EXPECT_LT(used, 0.15);
    Client again(path);
    EXPECT_EQ(again.exchange("44", 1), "02");
}

} // namespace
} // namespace varlo::sim::test
