#include "vemraencode.h"
#include "codepage.h"
#include "dialogs.h"
#include "regional.h"
#include "texthelpers.h"
#include <QDate>
#include <QTime>
#include <cmath>
#include <cstring>

namespace {

uint8_t ByteAt(QByteArrayView data, qsizetype index)
{
    return index >= 0 && index < data.size() ? uint8_t(data[index]) : 0;
}

const char HexDigits[] = "0123456789ABCDEF";

// -1 when `c` is no hexadecimal digit.
int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool IsIntegerType(int typeId)
{
    switch (typeId) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong:
    case QMetaType::ULongLong: case QMetaType::Short: case QMetaType::UShort:
    case QMetaType::Long: case QMetaType::ULong: case QMetaType::Char:
    case QMetaType::SChar: case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

// The value as 8-bit text: texts as they are, numbers as the program writes
// them (general format with the regional separator), empty for no value.
QByteArray ValueToText(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return {};
    const int type = value.typeId();
    if (type == QMetaType::QByteArray)
        return value.toByteArray();
    if (type == QMetaType::QString)
        return cp::encode(value.toString());
    if (type == QMetaType::Double || type == QMetaType::Float)
        return regional::formatGeneral(value.toDouble());
    if (type == QMetaType::ULongLong || type == QMetaType::ULong || type == QMetaType::UInt)
        return QByteArray::number(value.toULongLong());
    if (IsIntegerType(type))
        return QByteArray::number(value.toLongLong());
    return cp::encode(value.toString());
}

// The value as a number; integers stay exact (long double holds 64 bits).
bool ValueToFloat(const QVariant& value, long double* out)
{
    if (!value.isValid() || value.isNull())
        return false;
    const int type = value.typeId();
    if (type == QMetaType::ULongLong || type == QMetaType::ULong || type == QMetaType::UInt) {
        *out = static_cast<long double>(value.toULongLong());
        return true;
    }
    if (IsIntegerType(type)) {
        *out = static_cast<long double>(value.toLongLong());
        return true;
    }
    if (type == QMetaType::Double || type == QMetaType::Float) {
        *out = value.toDouble();
        return true;
    }
    double d = 0;
    if (!regional::parseFloat(ValueToText(value), &d))
        return false;
    *out = d;
    return true;
}


void Put(QByteArray& data, qsizetype index, uint8_t b)
{
    if (index >= 0 && index < data.size())
        data[index] = char(b);
}

// Fields longer than 8 bytes keep their last 8.
uint64_t BigEndian(QByteArrayView data, int position, int count, bool invert)
{
    uint64_t u = 0;
    for (int k = 0; k < count; ++k) {
        const uint8_t b = ByteAt(data, qsizetype(position) + k);
        u = (u << 8) | uint8_t(invert ? ~b : b);
    }
    return u;
}

QByteArray CutAtZero(QByteArrayView data, int position, int count)
{
    QByteArray text;
    for (int k = 0; k < count; ++k) {
        const uint8_t b = ByteAt(data, qsizetype(position) + k);
        if (b == 0)
            break;
        text += char(b);
    }
    return text;
}

const QDate DayZero(1899, 12, 30);

} // namespace

long double RoundHalfEven(long double v)
{
    long double r = std::floor(v);
    const long double frac = v - r;
    if (frac > 0.5L || (frac == 0.5L && std::fmod(r, 2.0L) != 0.0L))
        r += 1.0L;
    return r;
}

// ---------------------------------------------------------------- helpers

int TVemraencode::BcdByte(uint8_t b)
{
    if ((b >> 4) > 9 || (b & 0x0F) > 9) {
        const char digits[3] = {HexDigits[b >> 4], HexDigits[b & 0x0F], 0};
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(QLatin1String(digits)));
    }
    return (b >> 4) * 10 + (b & 0x0F);
}

TDateTime TVemraencode::EncodeDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1
        || day > QDate(year, month, 1).daysInMonth())
        throw EConvertError(QStringLiteral("Invalid argument to date encode"));
    return double(DayZero.daysTo(QDate(year, month, day)));
}

TDateTime TVemraencode::EncodeTime(int hour, int minute, int second, int msec)
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59
        || msec < 0 || msec > 999)
        throw EConvertError(QStringLiteral("Invalid argument to time encode"));
    return (((hour * 60 + minute) * 60 + second) * 1000 + msec) / 86400000.0;
}

QDateTime TVemraencode::ToQDateTime(TDateTime t)
{
    if (!std::isfinite(t))
        return {};
    double days = std::floor(t);
    long long ms = std::llround((t - days) * 86400000.0);
    if (ms >= 86400000) {
        days += 1;
        ms = 0;
    }
    return QDateTime(DayZero.addDays(qint64(days)), QTime::fromMSecsSinceStartOfDay(int(ms)), Qt::UTC);
}

QByteArray TVemraencode::TrimDigits(const QByteArray& text)
{
    qsizetype zeros = 0;
    while (zeros < text.size() && text[zeros] == '0')
        ++zeros;
    QByteArray rest = text.mid(zeros);
    for (qsizetype i = 0; i < rest.size() && rest[i] == 'F'; ++i)
        rest[i] = '0';
    return rest;
}

// ---------------------------------------------------------------- encoding

bool TVemraencode::EncodeField(uint8_t code, const QVariant& value, uint8_t* dest, int size,
                               int& position, int width, int decimals)
{
    QByteArray field(qMax(width, 0), '\0');
    int inner = 0;
    const bool ok = EncodeInto(code, value, field, inner, width, decimals);
    // Callers keep position + width within size; the bound only guards.
    for (int k = 0; k < field.size(); ++k) {
        const long long index = (long long)position + k;
        if (dest && index >= 0 && index < size)
            dest[index] = uint8_t(field[k]);
    }
    if (AutoAdvance)
        position += width;
    return ok;
}

bool TVemraencode::EncodeInto(uint8_t code, const QVariant& value, QByteArray& data, int& position,
                              int width, int decimals)
{
    bool ok = false;
    switch (code) {
    case fcBcd: ok = EncodeBcd(value, data, position, width); break;
    case fcBcdPadF: ok = EncodeBcdPadF(value, data, position, width); break;
    case fcBinary: ok = EncodeBinary(value, data, position, width, decimals); break;
    case fcText: ok = EncodeText(value, data, position, width); break;
    case fcBlank: ok = EncodeBlank(value, data, position, width, decimals); break;
    default: break;
    }
    if (AutoAdvance)
        position += width;
    return ok;
}

bool TVemraencode::PackBcd(const QByteArray& text, QByteArray& data, int position, int width)
{
    qsizetype i = text.size();
    for (int k = width - 1; k >= 0 && i > 0; --k, i -= 2) {
        const int hi = i >= 2 ? HexValue(text[i - 2]) : 0;
        const int lo = HexValue(text[i - 1]);
        if (hi < 0 || lo < 0)
            return false;
        Put(data, qsizetype(position) + k, uint8_t(hi << 4 | lo));
    }
    return true;
}

bool TVemraencode::EncodeBcd(const QVariant& value, QByteArray& data, int& position, int width)
{
    return PackBcd(trimBlanks(ValueToText(value)), data, position, width);
}

// Leading zeros become F in whole bytes: 00123 packs as FF 01 23, a text of
// zeros as all FF.
bool TVemraencode::EncodeBcdPadF(const QVariant& value, QByteArray& data, int& position, int width)
{
    QByteArray text = ValueToText(value);
    if (text.size() % 2)
        text.prepend('0');
    for (qsizetype i = 0; i + 1 < text.size() && text[i] == '0' && text[i + 1] == '0'; i += 2)
        text[i] = text[i + 1] = 'F';
    return PackBcd(text, data, position, width);
}

bool TVemraencode::EncodeBinary(const QVariant& value, QByteArray& data, int& position, int width,
                                int decimals)
{
    long double x = 0;
    if (!ValueToFloat(value, &x))
        return false;
    const long double scaled = RoundHalfEven(x * std::pow(10.0L, decimals));
    // Outside 64 bits there is no two's-complement form to take digits from.
    if (!std::isfinite(scaled) || scaled >= 0x1p63L || scaled < -0x1p63L)
        return false;
    const qint64 n = static_cast<qint64>(scaled);
    QByteArray hex = QByteArray::number(static_cast<quint64>(n), 16).toUpper();
    if (hex.size() < 2 * width)
        hex.prepend(QByteArray(2 * width - hex.size(), '0'));
    for (int k = 0; k < width; ++k)
        Put(data, qsizetype(position) + k, uint8_t(HexValue(hex[2 * k]) << 4 | HexValue(hex[2 * k + 1])));
    return true;
}

bool TVemraencode::EncodeText(const QVariant& value, QByteArray& data, int& position, int width)
{
    QByteArray text = ValueToText(value);
    const qsizetype zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    if (width <= 0)
        return true;
    const qsizetype n = qMin<qsizetype>(text.size(), width - 1) + 1;   // with the terminator
    for (qsizetype k = 0; k < n; ++k)
        Put(data, position + k, k < text.size() ? uint8_t(text[k]) : 0);
    return true;
}

bool TVemraencode::EncodeBlank(const QVariant&, QByteArray&, int&, int, int)
{
    return true;
}

// ---------------------------------------------------------------- decode slots

QByteArray TVemraencode::BytesToHex(QByteArrayView data, int position, int count)
{
    QByteArray hex;
    for (int k = 0; k < count; ++k) {
        const uint8_t b = ByteAt(data, qsizetype(position) + k);
        hex += HexDigits[b >> 4];
        hex += HexDigits[b & 0x0F];
    }
    return hex;
}

QVariant TVemraencode::DecodeInverted(QByteArrayView data, int position, int count, int decimals)
{
    const auto v = static_cast<qint64>(BigEndian(data, position, count, true));
    return double(v) / std::pow(10.0, decimals);
}

// Two's complement over the field's width (0xFF reads -1, 0xFF 0xFE reads -2).
QVariant TVemraencode::DecodeSigned(QByteArrayView data, int position, int count, int decimals)
{
    if (count <= 0)
        return 0.0 / std::pow(10.0, decimals);
    const int kept = qMin(count, 8);
    const int first = position + count - kept;
    const uint64_t u = BigEndian(data, first, kept, false);
    qint64 v = static_cast<qint64>(u);
    if (kept < 8 && (ByteAt(data, first) & 0x80))
        v = static_cast<qint64>(u - (uint64_t(1) << (8 * kept)));
    return double(v) / std::pow(10.0, decimals);
}

QByteArray TVemraencode::BytesToText(QByteArrayView data, int position, int count)
{
    return CutAtZero(data, position, count);
}

TDateTime TVemraencode::DecodeDateTime(QByteArrayView data, int position)
{
    try {
        const TDateTime date = EncodeDate(2000 + BcdByte(ByteAt(data, position)),
                                          BcdByte(ByteAt(data, qsizetype(position) + 1)),
                                          BcdByte(ByteAt(data, qsizetype(position) + 2)));
        return date + EncodeTime(BcdByte(ByteAt(data, qsizetype(position) + 3)),
                                 BcdByte(ByteAt(data, qsizetype(position) + 4)),
                                 BcdByte(ByteAt(data, qsizetype(position) + 5)), 0);
    } catch (const EConvertError&) {
        return 0;
    }
}

TDateTime TVemraencode::DecodeDate(QByteArrayView data, int position)
{
    try {
        return EncodeDate(2000 + BcdByte(ByteAt(data, position)),
                          BcdByte(ByteAt(data, qsizetype(position) + 1)),
                          BcdByte(ByteAt(data, qsizetype(position) + 2)));
    } catch (const EConvertError&) {
        return 0;
    }
}

TDateTime TVemraencode::DecodeTime(QByteArrayView data, int position, int count)
{
    try {
        const int hour = BcdByte(ByteAt(data, position));
        const int minute = BcdByte(ByteAt(data, qsizetype(position) + 1));
        const int second = count > 2 ? BcdByte(ByteAt(data, qsizetype(position) + 2)) : 0;
        return EncodeTime(hour, minute, second, 0);
    } catch (const EConvertError&) {
        return 0;
    }
}

// A NaN or an infinity reads as 0 rather than faulting.
double TVemraencode::DecodeDouble(QByteArrayView data, int position, int /*count*/, int decimals)
{
    const uint64_t bits = BigEndian(data, position, 8, false);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    const double r = d / std::pow(10.0, decimals);
    return std::isfinite(r) ? r : 0.0;
}

QByteArray TVemraencode::BytesToDigits(QByteArrayView data, int position, int count)
{
    return TrimDigits(BytesToHex(data, position, count));
}

// ---------------------------------------------------------------- DecodeField

QVariant DecodeField(uint8_t code, const uint8_t* data, int size, int position, int count,
                     int decimals)
{
    const QByteArrayView view = data ? QByteArrayView(data, qMax(size, 0)) : QByteArrayView();
    auto at = [&](int k) { return ByteAt(view, qsizetype(position) + k); };
    QVariant result;
    try {
        switch (code) {
        case fcBinary: {
            // Per-term 32-bit arithmetic: a 4-byte field reads as signed.
            uint32_t sum = 0;
            for (int k = 0; k < count; ++k) {
                const int shift = 8 * (count - 1 - k);
                if (shift < 32)
                    sum += uint32_t(at(k)) << shift;
            }
            double v = static_cast<int32_t>(sum);
            for (int i = 0; i < decimals && v != 0; ++i)
                v /= 10.0;
            result = v;
            break;
        }
        case fcText:
            result = CutAtZero(view, position, count);
            break;
        case fcDate: {
            const int year = 2000 + TVemraencode::BcdByte(at(0));
            const int month = TVemraencode::BcdByte(at(1));
            const int day = TVemraencode::BcdByte(at(2));
            result = TVemraencode::ToQDateTime(TVemraencode::EncodeDate(year, month, day));
            break;
        }
        case fcTime: {
            const int hour = TVemraencode::BcdByte(at(0));
            const int minute = TVemraencode::BcdByte(at(1));
            const int second = count > 2 ? TVemraencode::BcdByte(at(2)) : 0;
            result = TVemraencode::ToQDateTime(TVemraencode::EncodeTime(hour, minute, second, 0));
            break;
        }
        case fcHexText: {
            QByteArray hex;
            for (int k = 0; k < count; ++k) {
                hex += HexDigits[at(k) >> 4];
                hex += HexDigits[at(k) & 0x0F];
            }
            result = hex;
            break;
        }
        case fcDecimalText: {
            QByteArray digits;
            for (int k = 0; k < count; ++k)
                digits += char(at(k));
            qsizetype zeros = 0;
            while (zeros < digits.size() && digits[zeros] == '0')
                ++zeros;
            digits.remove(0, zeros);
            switch (digits.size()) {
            case 0: result = QByteArray("0.00"); break;
            case 1: result = QByteArray("0.0") + digits; break;
            case 2: result = QByteArray("0.") + digits; break;
            default: result = digits.left(digits.size() - 2) + '.' + digits.right(2); break;
            }
            break;
        }
        case fcDateDMY: {
            const int day = TVemraencode::BcdByte(at(0));
            const int month = TVemraencode::BcdByte(at(1));
            const int year = 2000 + TVemraencode::BcdByte(at(2));
            result = TVemraencode::ToQDateTime(TVemraencode::EncodeDate(year, month, day));
            break;
        }
        default:
            break;
        }
    } catch (const EConvertError& e) {
        dialogs().messageBox(e.Message, QString::fromLatin1(CodecMessageCaption), MsgIcon::None,
                             MsgButtons::Ok);
    }
    return result;
}
