#include "fakes.h"
#include "protocol.h"
#include <cstring>

FakeScaleBus::FakeScaleBus() = default;

uint8_t& FakeScaleBus::Mem(uint8_t bank, uint16_t address)
{
    QByteArray& b = Banks[bank];
    if (b.isEmpty())
        b = QByteArray(0x10000, '\0');
    return reinterpret_cast<uint8_t&>(b[address]);
}

QByteArray FakeScaleBus::MemBlock(uint8_t bank, uint16_t address, int length)
{
    QByteArray out;
    for (int k = 0; k < length; ++k)
        out += char(Mem(bank, uint16_t(address + k)));
    return out;
}

void FakeScaleBus::SetMem(uint8_t bank, uint16_t address, const QByteArray& bytes)
{
    for (int k = 0; k < bytes.size(); ++k)
        Mem(bank, uint16_t(address + k)) = uint8_t(bytes[k]);
}

std::optional<BusResult> FakeScaleBus::Failed()
{
    const int n = Requests.size();
    if (n == CancelAt) {
        if (OnCancelPressed)
            OnCancelPressed();
        return BusResult{BusFailure::Cancelled, {}, "cancelled"};
    }
    if (n == FailAt)
        return Failure;
    return std::nullopt;
}

BusResult FakeScaleBus::SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length,
                                    ReplyForm reply)
{
    const bool single = kyr::isSingleByteCommand(command);
    const bool wholeFrame = reply == ReplyForm::WholeFrame;
    BusRequest r{BusRequest::Send, command, single ? uint8_t(0) : bank, single ? uint16_t(0) : address,
                 single ? uint8_t(0) : length, {}, wholeFrame};
    if (!single)
        r.data = QByteArray(reinterpret_cast<const char*>(Buffer), length);
    Requests.append(r);
    if (auto failed = Failed())
        return *failed;
    if (command == kyr::CmdAllValues) {
        if (!wholeFrame || AllValuesFrame.isEmpty())
            return {BusFailure::NoReply, {}, "no reply"};   // a plain command reply is no frame
        if (AllValuesFrame.size() < kyr::MinAllValuesFrame)
            return {BusFailure::BadFrame, {}, "short frame"};
        return {BusFailure::None, AllValuesFrame.left(kyr::MaxReply), {}};
    }
    if (command == kyr::CmdWrite && !(bank == kyr::BankPlu && IgnoredPluWrites.contains(address)))
        SetMem(bank, address, r.data);
    return {};
}

BusResult FakeScaleBus::ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    Requests.append({BusRequest::Read, command, bank, address, length, {}, false});
    if (auto failed = Failed())
        return *failed;
    if (command != kyr::CmdRead)
        return {BusFailure::NoReply, {}, "no reply"};
    const QByteArray block = MemBlock(bank, address, length);
    std::memcpy(Buffer, block.constData(), length);
    return {BusFailure::None, block, {}};
}

QByteArray Hex(const char* spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }
