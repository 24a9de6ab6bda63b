#include "scalesim.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace varlo::sim {

std::uint8_t checksumFor(std::span<const std::uint8_t> bytes)
{
    unsigned sum = 0;
    for (std::uint8_t b : bytes)
        sum += b;
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

Bytes commandFrame(std::uint8_t cmd, std::uint8_t bank, std::uint16_t address,
                   std::span<const std::uint8_t> data)
{
    if (kyr::isSingleByteCommand(cmd))
        return {cmd};
    Bytes frame{cmd, bank, static_cast<std::uint8_t>(address >> 8),
                static_cast<std::uint8_t>(address & 0xFF),
                static_cast<std::uint8_t>(data.size())};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(checksumFor(frame));
    return frame;
}

Bytes readFrame(std::uint8_t bank, std::uint16_t address, std::uint8_t length)
{
    Bytes frame{kyr::CmdRead, bank, static_cast<std::uint8_t>(address >> 8),
                static_cast<std::uint8_t>(address & 0xFF), length};
    frame.push_back(checksumFor(frame));
    return frame;
}

namespace {

void appendDigits(Bytes& out, std::uint64_t value, int width)
{
    std::uint64_t limit = 1;
    for (int i = 0; i < width; ++i)
        limit *= 10;
    value = std::min(value, limit - 1);
    char text[24];
    std::snprintf(text, sizeof text, "%0*llu", width, static_cast<unsigned long long>(value));
    out.insert(out.end(), text, text + width);
}

} // namespace

Bytes allValuesFrame(const Indication& ind)
{
    Bytes frame;
    frame.reserve(22);
    frame.push_back(kyr::Ack);
    char fill = 0;
    switch (ind.state) {
    case Indication::State::Values: break;
    case Indication::State::Unstable: fill = 'I'; break;
    case Indication::State::Lifted: fill = 'N'; break;
    case Indication::State::Overflow: fill = 'S'; break;
    }
    if (fill) {
        frame.insert(frame.end(), 20, static_cast<std::uint8_t>(fill));
    } else {
        frame.push_back(ind.weightGrams < 0 ? '-' : ' ');
        appendDigits(frame, static_cast<std::uint64_t>(std::llabs(ind.weightGrams)), 5);
        frame.push_back(' ');
        appendDigits(frame, ind.unitPrice, 6);
        frame.push_back(' ');
        appendDigits(frame, ind.totalPrice, 6);
    }
    frame.push_back(kyr::Etx);
    return frame;
}

} // namespace varlo::sim
