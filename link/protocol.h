#pragma once
// The scale's bus protocol: command and reply bytes, memory banks and
// addresses, frame sizes. Plain C++ (the simulated scale uses it too).
#include <cstdint>

namespace kyr {

// Commands. Hello and the all-values enquiry go out as their single byte;
// the others as command, bank, address (high byte first), length, data,
// checksum.
inline constexpr std::uint8_t CmdHello = 0x44;       // connect, first step
inline constexpr std::uint8_t CmdConnect = 0x11;     // connect, second step
inline constexpr std::uint8_t CmdRead = 0x55;
inline constexpr std::uint8_t CmdWrite = 0x77;
inline constexpr std::uint8_t CmdDisconnect = 0x33;
inline constexpr std::uint8_t CmdAllValues = 0x05;

constexpr bool isSingleByteCommand(std::uint8_t command)
{
    return command == CmdHello || command == CmdAllValues;
}

// Replies: the acknowledgement (also the start of a data reply and of the
// all-values frame), the refusal, the end of the all-values frame.
inline constexpr std::uint8_t Ack = 0x02;
inline constexpr std::uint8_t Refused = 0xAA;
inline constexpr std::uint8_t Etx = 0x03;

// Scale memory.
inline constexpr std::uint8_t BankPriceMode = 0x83;   // one byte at PriceModeAddress
inline constexpr std::uint16_t PriceModeAddress = 3;
inline constexpr std::uint8_t BankSaleFigures = 0xF4;   // SaleFiguresLength bytes at 0
inline constexpr std::uint8_t SaleFiguresLength = 11;
inline constexpr std::uint8_t BankUnit = 0xF0;          // one byte at 0
inline constexpr std::uint8_t BankPlu = 0xF9;           // current unit price at 0, PLU i at pluAddress(i)
inline constexpr std::uint16_t CurrentPriceAddress = 0;
inline constexpr std::uint8_t PluRecordLength = 4;      // unit flag, 3-byte price
inline constexpr int PluRecords = 77;   // at pluAddress(1 .. PluRecords)

constexpr std::uint16_t pluAddress(int i) { return static_cast<std::uint16_t>(0x00C0 + 4 * i); }

// Frame sizes.
inline constexpr int HeaderLength = 5;        // command, bank, address high, address low, length
inline constexpr int MaxReply = 64;           // bytes a reply may have
inline constexpr int MaxWriteLength = 59;     // 6 + 59 = 65 bytes of frame
inline constexpr int MaxReadLength = 57;      // its reply, length + 7 bytes, within MaxReply
inline constexpr int MinAllValuesFrame = 20;  // shorter frames are protocol errors

// A read's reply: 0x02, the echoed header, the data, the checksum.
constexpr int readReplyLength(int length) { return length + HeaderLength + 2; }

} // namespace kyr
