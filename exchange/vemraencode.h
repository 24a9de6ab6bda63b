#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <stdexcept>

// Field encodings of the scale's data. Encoding and decoding share the code
// space; not every code exists in both directions.
enum FieldCode : uint8_t {
    fcBcd = 0,            // encode: digit text, two digits a byte, right-aligned
    fcBcdPadF = 1,        // encode: as fcBcd, leading "0" digits turned into "F"
    fcBinary = 2,         // both: big-endian integer scaled by 10^decimals
    fcText = 4,           // both: characters, zero-terminated when shorter
    fcDate = 6,           // decode: BCD year-2000, month, day
    fcTime = 7,           // decode: BCD hour, minute[, second]
    fcBlank = 8,          // encode: zero bytes
    fcHexText = 9,        // decode: two hex digits a byte
    fcDecimalText = 10,   // decode: ASCII digits, point before the last two
    fcDateDMY = 12,       // decode: BCD day, month, year-2000
};

// Days since 1899-12-30 00:00; the fraction is the time of day.
using TDateTime = double;

// A conversion inside the codec failed; what() is the operator's text.
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const QString& message)
        : std::runtime_error(message.toStdString()), Message(message) {}
    QString Message;
};

// The field codec. Texts are 8-bit (the code page's bytes), as the model
// keeps them. The decode slots read `data` only inside its bounds: a byte
// beyond the view reads as 0.
class TVemraencode {
public:
    TVemraencode() = default;
    virtual ~TVemraencode() = default;

    bool AutoAdvance = true;

    // Writes exactly `width` bytes at dest[position..] (those inside `size`)
    // and advances `position` by `width`. The encoder's success flag.
    bool EncodeField(uint8_t code, const QVariant& value, uint8_t* dest, int size, int& position,
                     int width, int decimals);
    // Runs the encoder of `code` on `data` at `position`; advances `position`
    // by `width` when AutoAdvance. False for a code without encoder.
    bool EncodeInto(uint8_t code, const QVariant& value, QByteArray& data, int& position, int width,
                    int decimals);

    // Drops leading "0"s, then turns leading "F"s into "0" (00FF12 -> 0012).
    static QByteArray TrimDigits(const QByteArray& text);

    // ---- decode slots
    virtual QByteArray BytesToHex(QByteArrayView data, int position, int count);
    virtual QVariant DecodeInverted(QByteArrayView data, int position, int count, int decimals);
    virtual QVariant DecodeSigned(QByteArrayView data, int position, int count, int decimals);
    virtual QByteArray BytesToText(QByteArrayView data, int position, int count);
    virtual TDateTime DecodeDateTime(QByteArrayView data, int position);
    virtual TDateTime DecodeDate(QByteArrayView data, int position);
    virtual TDateTime DecodeTime(QByteArrayView data, int position, int count);
    virtual double DecodeDouble(QByteArrayView data, int position, int count, int decimals);
    virtual QByteArray BytesToDigits(QByteArrayView data, int position, int count);
    // ---- encoder slots: write into `data` from `position`, `width` bytes at
    // most; bytes left alone stay as they are (zero in EncodeField).
    virtual bool EncodeBcd(const QVariant& value, QByteArray& data, int& position, int width);
    virtual bool EncodeBinary(const QVariant& value, QByteArray& data, int& position, int width,
                              int decimals);
    virtual bool EncodeText(const QVariant& value, QByteArray& data, int& position, int width);
    virtual bool EncodeBlank(const QVariant& value, QByteArray& data, int& position, int width,
                             int decimals);
    virtual bool EncodeBcdPadF(const QVariant& value, QByteArray& data, int& position, int width);

    // ---- helpers shared with DecodeField (throw EConvertError)
    // The byte as two hex digits read as a decimal number: 0x25 -> 25; a
    // nibble above 9 fails with "'1A' is not a valid integer value".
    static int BcdByte(uint8_t b);
    static TDateTime EncodeDate(int year, int month, int day);
    static TDateTime EncodeTime(int hour, int minute, int second, int msec);
    // The date-time as a QDateTime (UTC, so no daylight-saving gap shifts it).
    static QDateTime ToQDateTime(TDateTime t);

private:
    bool PackBcd(const QByteArray& text, QByteArray& data, int position, int width);
};

// Caption of the plain message boxes shown by DecodeField.
inline constexpr const char* CodecMessageCaption = "Varlo Manager";

// Reads one field of a received record. `size` bounds the reads (bytes at or
// beyond it read as 0). A failed conversion (fcDate, fcTime, fcDateDMY) is
// shown in a plain message box and gives the empty value; so does an
// unknown code (without a message). Texts come back as QByteArray, dates and
// times as QDateTime (UTC), fcBinary as double.
QVariant DecodeField(uint8_t code, const uint8_t* data, int size, int position, int count,
                     int decimals);

// Nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
long double RoundHalfEven(long double v);
