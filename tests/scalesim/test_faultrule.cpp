// Pure parts: fault rule syntax, request frames, the all-values frame.

#include "client.h"

#include <gtest/gtest.h>

namespace varlo::sim::test {
namespace {

TEST(FaultRuleSyntax, AcceptedForms)
{
    FaultRule r = parseFaultRule("silence@cmd=77,bank=F9,addr=00D0");
    EXPECT_EQ(r.kind, FaultKind::Silence);
    EXPECT_EQ(r.command, std::optional<std::uint8_t>(0x77));
    EXPECT_EQ(r.bank, std::optional<std::uint8_t>(0xF9));
    EXPECT_EQ(r.address, std::optional<std::uint16_t>(0x00D0));
    EXPECT_EQ(r.nth, 1u);
    EXPECT_EQ(r.fromSeq, 1u);
    EXPECT_EQ(r.count, 1);

    r = parseFaultRule("aa@n=4");
    EXPECT_EQ(r.kind, FaultKind::ReplyNak);
    EXPECT_EQ(r.nth, 4u);
    EXPECT_FALSE(r.command.has_value());

    r = parseFaultRule("late:1200@n=2");
    EXPECT_EQ(r.kind, FaultKind::Late);
    EXPECT_EQ(r.param, 1200);

    r = parseFaultRule("hangup@seq=5,count=always");
    EXPECT_EQ(r.kind, FaultKind::HangUp);
    EXPECT_EQ(r.fromSeq, 5u);
    EXPECT_LT(r.count, 0);

    EXPECT_EQ(parseFaultRule("stray:0xFF").param, 0xFF);
    EXPECT_EQ(parseFaultRule("trunc:3").param, 3);
    EXPECT_EQ(parseFaultRule("short:19@cmd=05").param, 19);
    EXPECT_EQ(parseFaultRule("badsum@cmd=55").kind, FaultKind::BadChecksum);
    EXPECT_EQ(parseFaultRule("state:N").kind, FaultKind::StateN);
    EXPECT_EQ(parseFaultRule("silence@count=3").count, 3);
    EXPECT_EQ(parseFaultRule("flip:17").param, 17);
    EXPECT_EQ(parseFaultRule("garble").kind, FaultKind::Garble);
    EXPECT_EQ(parseFaultRule("split:40").param, 40);
    EXPECT_EQ(parseFaultRule("ackonly@addr=00C4").kind, FaultKind::AckOnly);
    EXPECT_EQ(parseFaultRule("flood:0x7E").param, 0x7E);
}

TEST(FaultRuleSyntax, RejectedForms)
{
    for (const char* ruleText : {"", "bogus", "late:", "late:abc", "aa:3", "silence@cmd=777",
                             "silence@addr=10000", "silence@n=0", "silence@seq=0", "silence@cmd",
                             "silence@colour=1", "state:X", "state", "short:1", "short:22",
                             "badsum@cmd=77", "state:I@cmd=44", "stray:100", "aa@n=-1",
                             "ackonly@cmd=55", "flood:100", "flip:x", "ackonly:3"}) {
        EXPECT_THROW(parseFaultRule(ruleText), std::invalid_argument) << '"' << ruleText << '"';
    }
}

TEST(RequestFrames, MatchTheWire)
{
    EXPECT_EQ(hex(commandFrame(kyr::CmdConnect, 0, 0)), "11 00 00 00 00 EF");
    EXPECT_EQ(hex(commandFrame(kyr::CmdDisconnect, 0, 0)), "33 00 00 00 00 CD");
    EXPECT_EQ(hex(commandFrame(kyr::CmdHello, 0x12, 0x3456, bytes("01"))), "44");
    EXPECT_EQ(hex(commandFrame(kyr::CmdWrite, kyr::BankPlu, kyr::pluAddress(1), bytes("00 00 04 D2"))),
              "77 F9 00 C4 04 00 00 04 D2 F2");
    EXPECT_EQ(hex(commandFrame(kyr::CmdWrite, kyr::BankPriceMode, 3, bytes("AB"))), "77 83 00 03 01 AB 57");
    EXPECT_EQ(hex(readFrame(kyr::BankPlu, kyr::pluAddress(77), 4)), "55 F9 01 F4 04 B9");
    EXPECT_EQ(hex(readFrame(kyr::BankSaleFigures, 0, 11)), "55 F4 00 00 0B AC");
    EXPECT_EQ(hex(readFrame(kyr::BankPriceMode, 3, 1)), "55 83 00 03 01 24");
    EXPECT_EQ(checksumFor(bytes("")), 0);
}

TEST(AllValuesFrame, Layout)
{
    const Bytes f = allValuesFrame({Indication::State::Values, -1234, 150, 185});
    ASSERT_EQ(f.size(), 22u);
    EXPECT_EQ(std::string(f.begin() + 1, f.end() - 1), "-01234 000150 000185");
    EXPECT_EQ(f.front(), 0x02);
    EXPECT_EQ(f.back(), 0x03);

    const Bytes big = allValuesFrame({Indication::State::Values, 123456, 1000000, 999999});
    EXPECT_EQ(std::string(big.begin() + 1, big.end() - 1), " 99999 999999 999999");

    const Bytes over = allValuesFrame({Indication::State::Overflow, 1, 2, 3});
    ASSERT_EQ(over.size(), 22u);
    EXPECT_EQ(std::string(over.begin() + 1, over.end() - 1), std::string(20, 'S'));
    const Bytes unstable = allValuesFrame({Indication::State::Unstable, 0, 0, 0});
    EXPECT_EQ(std::string(unstable.begin() + 1, unstable.end() - 1), std::string(20, 'I'));
}

} // namespace
} // namespace varlo::sim::test
