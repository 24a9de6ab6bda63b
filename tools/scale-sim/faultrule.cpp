#include "scalesim.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace varlo::sim {

namespace {

struct KindName {
    std::string_view name;
    FaultKind kind;
};

constexpr KindName kKinds[] = {
    {"silence", FaultKind::Silence},   {"aa", FaultKind::ReplyNak},
    {"badsum", FaultKind::BadChecksum}, {"stray", FaultKind::StrayByte},
    {"trunc", FaultKind::Truncate},    {"late", FaultKind::Late},
    {"short", FaultKind::ShortFrame},  {"state:I", FaultKind::StateI},
    {"state:N", FaultKind::StateN},    {"state:S", FaultKind::StateS},
    {"hangup", FaultKind::HangUp},     {"flip", FaultKind::FlipBit},
    {"garble", FaultKind::Garble},     {"split", FaultKind::Split},
    {"ackonly", FaultKind::AckOnly},   {"flood", FaultKind::Flood},
};

[[noreturn]] void fail(std::string_view ruleText, std::string_view why)
{
    throw std::invalid_argument("fault \"" + std::string(ruleText) + "\": " + std::string(why));
}

unsigned long long number(std::string_view ruleText, std::string_view text, int base,
                          unsigned long long max)
{
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X")))
        text.remove_prefix(2);
    unsigned long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max)
        fail(ruleText, "bad number \"" + std::string(text) + "\"");
    return value;
}

// The KEY=VALUE list after the '@'.
void parseFilters(std::string_view ruleText, std::string_view tail, FaultRule& rule)
{
    while (!tail.empty()) {
        std::string_view item = tail.substr(0, tail.find(','));
        tail.remove_prefix(std::min(tail.size(), item.size() + 1));
        auto eq = item.find('=');
        if (eq == std::string_view::npos)
            fail(ruleText, "expected KEY=VALUE, got \"" + std::string(item) + "\"");
        std::string_view key = item.substr(0, eq), value = item.substr(eq + 1);
        if (key == "cmd")
            rule.command = static_cast<std::uint8_t>(number(ruleText, value, 16, 0xFF));
        else if (key == "bank")
            rule.bank = static_cast<std::uint8_t>(number(ruleText, value, 16, 0xFF));
        else if (key == "addr")
            rule.address = static_cast<std::uint16_t>(number(ruleText, value, 16, 0xFFFF));
        else if (key == "seq")
            rule.fromSeq = number(ruleText, value, 10, ~0ULL);
        else if (key == "n")
            rule.nth = number(ruleText, value, 10, ~0ULL);
        else if (key == "count")
            rule.count = value == "always" ? -1 : static_cast<int>(number(ruleText, value, 10, 1000000));
        else
            fail(ruleText, "unknown key \"" + std::string(key) + "\"");
    }
}

bool findKind(std::string_view name, FaultKind* kind)
{
    for (const auto& k : kKinds)
        if (k.name == name) {
            *kind = k.kind;
            return true;
        }
    return false;
}

} // namespace

std::string_view faultName(FaultKind kind)
{
    for (const auto& k : kKinds)
        if (k.kind == kind)
            return k.name;
    return "?";
}

FaultRule parseFaultRule(std::string_view ruleText)
{
    FaultRule rule;
    std::string_view head = ruleText.substr(0, ruleText.find('@'));
    std::string_view tail = head.size() < ruleText.size() ? ruleText.substr(head.size() + 1) : "";

    if (head.starts_with("state:")) {
        if (!findKind(head, &rule.kind))
            fail(ruleText, "state must be I, N or S");
    } else {
        std::string_view name = head.substr(0, head.find(':'));
        std::string_view param = name.size() < head.size() ? head.substr(name.size() + 1) : "";
        if (!findKind(name, &rule.kind))
            fail(ruleText, "unknown kind \"" + std::string(name) + "\"");
        if (!param.empty()) {
            switch (rule.kind) {
            case FaultKind::StrayByte: rule.param = static_cast<int>(number(ruleText, param, 16, 0xFF)); break;
            case FaultKind::Truncate: rule.param = static_cast<int>(number(ruleText, param, 10, 0xFFFF)); break;
            case FaultKind::Late:
            case FaultKind::Split: rule.param = static_cast<int>(number(ruleText, param, 10, 3600000)); break;
            case FaultKind::FlipBit:
            case FaultKind::Garble: rule.param = static_cast<int>(number(ruleText, param, 10, 1 << 20)); break;
            case FaultKind::Flood: rule.param = static_cast<int>(number(ruleText, param, 16, 0xFF)); break;
            case FaultKind::ShortFrame:
                rule.param = static_cast<int>(number(ruleText, param, 10, 21));
                if (rule.param < 2)
                    fail(ruleText, "a frame has at least STX and ETX");
                break;
            default: fail(ruleText, "takes no parameter");
            }
        } else if (head.find(':') != std::string_view::npos) {
            fail(ruleText, "empty parameter");
        }
    }

    parseFilters(ruleText, tail, rule);
    if (rule.fromSeq == 0 || rule.nth == 0)
        fail(ruleText, "seq and n count from 1");

    auto implied = [&](std::uint8_t cmd) {
        if (rule.command && *rule.command != cmd)
            fail(ruleText, "this kind applies to one command only");
    };
    switch (rule.kind) {
    case FaultKind::BadChecksum: implied(kyr::CmdRead); break;
    case FaultKind::AckOnly: implied(kyr::CmdWrite); break;
    case FaultKind::ShortFrame:
    case FaultKind::StateI:
    case FaultKind::StateN:
    case FaultKind::StateS: implied(kyr::CmdAllValues); break;
    default: break;
    }
    return rule;
}

} // namespace varlo::sim
