#include "fakes.h"
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

bool FakeScaleBus::Answered()
{
    const int n = Requests.size();
    if (n == CancelAt) {
        if (OnCancelPressed)
            OnCancelPressed();
        return false;
    }
    return n != FailAt;
}

bool FakeScaleBus::SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    const bool single = command == 0x44 || command == 0x05;
    BusRequest r{BusRequest::Send, command, single ? uint8_t(0) : bank, single ? uint16_t(0) : address,
                 single ? uint8_t(0) : length, {}, FrameMode};
    if (!single)
        r.data = QByteArray(reinterpret_cast<const char*>(Buffer), length);
    Requests.append(r);
    if (!Answered())
        return false;
    if (command == 0x05) {
        if (!FrameMode || AllValuesFrame.isEmpty())
            return false;   // a plain command reply is no frame
        std::memcpy(ReceiveBuffer, AllValuesFrame.constData(), qMin<qsizetype>(AllValuesFrame.size(), 64));
        if (AllValuesFrame.size() < 20) {
            FrameError = true;
            return false;
        }
        return true;
    }
    if (command == 0x77)
        SetMem(bank, address, r.data);
    return true;
}

bool FakeScaleBus::ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    Requests.append({BusRequest::Read, command, bank, address, length, {}, FrameMode});
    if (!Answered() || command != 0x55)
        return false;
    const QByteArray block = MemBlock(bank, address, length);
    std::memcpy(Buffer, block.constData(), length);
    return true;
}

void RecordingProgress::Show()
{
    Calls << "Show";
    Visible = true;
    State = 0;
    Total = Current = 0;
    ErrorForm = false;
}

void RecordingProgress::Close()
{
    Calls << "Close";
    Visible = false;
}

void RecordingProgress::SetStatus(const QString& text, bool error)
{
    Calls << (error ? "Error:" : "Status:") + text;
    if (State == 2)
        return;
    StatusText = text;
    ErrorForm = error;
    State = error ? 1 : 0;
}

void RecordingProgress::SetTotal(int count)
{
    Calls << QStringLiteral("Total:%1").arg(count);
    Current = 0;
    Total = count > 0 ? count : 0;
}

void RecordingProgress::SetCurrent(int number)
{
    Calls << QStringLiteral("Current:%1").arg(number);
    Current = number;
}

void RecordingProgress::WaitUntilClosed()
{
    Calls << "Wait";
    if (State != 2) {   // the operator reads the error and presses OK
        State = 2;
        Visible = false;
    }
}

void RecordingProgress::PressCancel()
{
    State = 2;
    Visible = false;
}

QByteArray Hex(const char* spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }
