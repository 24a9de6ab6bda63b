#include "commandfixture.h"
#include <cstring>

namespace {

class Codec : public ::testing::Test {
protected:
    void SetUp() override { regional::setDecimalSeparator('.'); }
    void TearDown() override { regional::useLocaleSeparator(); }

    TVemraencode C;
    ScriptedDialogs Dialogs;
};

// Exactly `width` bytes from the position on, which moves past them (unless
// AutoAdvance is off); nothing at or past the caller's size.
TEST_F(Codec, EncodeFieldWritesWidthBytesAndAdvances)
{
    struct {
        const char* name;
        uint8_t code;
        QVariant value;
        int width, decimals;
        const char* bytes;
        bool ok;
        char separator = '.';
        int size = 64;          // what the caller says the buffer holds
        bool advance = true;
    } const cases[] = {
        {"binary 1234", fcBinary, 1234, 3, 0, "00 04 D2", true},
        {"binary 1000", fcBinary, 1000, 3, 0, "00 03 E8", true},
        {"binary from text", fcBinary, QByteArray("12.34"), 3, 2, "00 04 D2", true},
        {"binary double 12.34", fcBinary, 12.34, 3, 2, "00 04 D2", true},
        {"half to even down", fcBinary, 0.125, 3, 2, "00 00 0C", true},
        {"half to even up", fcBinary, 0.375, 3, 2, "00 00 26", true},
        {"2.5 -> 2", fcBinary, 2.5, 3, 0, "00 00 02", true},
        {"3.5 -> 4", fcBinary, 3.5, 3, 0, "00 00 04", true},
        {"keeps leading digits", fcBinary, 20000000, 3, 0, "13 12 D0", true},
        {"-1 in 3 bytes", fcBinary, -1, 3, 0, "FF FF FF", true},
        {"-2 keeps the leading digits", fcBinary, -2, 4, 0, "FF FF FF FF", true},
        {"-2 in 8 bytes", fcBinary, -2, 8, 0, "FF FF FF FF FF FF FF FE", true},
        {"32-bit unsigned", fcBinary, QVariant::fromValue<uint>(0xFFFFFFFFu), 4, 0, "FF FF FF FF", true},
        {"64-bit exact", fcBinary, QVariant::fromValue<qint64>(0x123456789ABCDEF0LL), 8, 0,
         "12 34 56 78 9A BC DE F0", true},
        {"no number", fcBinary, QByteArray("abc"), 3, 0, "00 00 00", false},
        {"empty value", fcBinary, QVariant(), 2, 0, "00 00", false},
        {"beyond 64 bits", fcBinary, 1e30, 3, 0, "00 00 00", false},
        {"bcd 123 in 2", fcBcd, QByteArray("123"), 2, 0, "01 23", true},
        {"bcd 123456 in 2", fcBcd, QByteArray("123456"), 2, 0, "34 56", true},
        {"bcd empty", fcBcd, QByteArray(""), 2, 0, "00 00", true},
        {"bcd number 1234", fcBcd, 1234, 3, 0, "00 12 34", true},
        {"bcd number 12345", fcBcd, 12345, 3, 0, "01 23 45", true},
        {"bcd trims blanks", fcBcd, QByteArray(" 7\t"), 2, 0, "00 07", true},
        {"bcd hex letters pass", fcBcd, QByteArray("AB"), 1, 0, "AB", true},
        {"bcd stops at a point", fcBcd, QByteArray("12.34"), 3, 0, "00 00 34", false},
        {"bcd minus fails at once", fcBcd, QByteArray("-5"), 2, 0, "00 00", false},
        {"padF 00123", fcBcdPadF, QByteArray("00123"), 3, 0, "FF 01 23", true},
        {"padF all zeros", fcBcdPadF, QByteArray("000"), 2, 0, "FF FF", true},
        {"padF one zero", fcBcdPadF, QByteArray("0"), 1, 0, "FF", true},
        {"padF zero before a digit", fcBcdPadF, QByteArray("0123"), 2, 0, "01 23", true},
        {"padF inner zeros kept", fcBcdPadF, QByteArray("1200"), 2, 0, "12 00", true},
        {"padF not trimmed", fcBcdPadF, QByteArray(" 12"), 2, 0, "00 12", false},
        {"text shorter", fcText, QByteArray("AB"), 4, 0, "41 42 00 00", true},
        {"text longer", fcText, QByteArray("ABCDE"), 4, 0, "41 42 43 44", true},
        {"text exact", fcText, QByteArray("ABCD"), 4, 0, "41 42 43 44", true},
        {"text ends at zero", fcText, QByteArray("A\0B", 3), 3, 0, "41 00 00", true},
        {"text from QString", fcText, QString("Hi"), 3, 0, "48 69 00", true},
        {"blank", fcBlank, 1234, 3, 0, "00 00 00", true},
        {"unknown code 3", 3, 1234, 2, 0, "00 00", false},
        {"decode-only code", fcDate, 1234, 2, 0, "00 00", false},
        {"text number after a comma", fcBinary, QByteArray("12,34"), 3, 2, "00 04 D2", true, ','},
        {"a point is no separator then", fcBinary, QByteArray("12.34"), 3, 2, "00 00 00", false, ','},
        {"nothing written past the size", fcBinary, 0x010203, 3, 0, "01 02 EE", true, '.', 6},
        {"without auto-advance the position stays", fcBinary, 0x0102, 2, 0, "01 02", true, '.', 64, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        regional::setDecimalSeparator(c.separator);
        C.AutoAdvance = c.advance;
        uint8_t buf[64];
        std::memset(buf, 0xEE, sizeof buf);
        int pos = 4;
        EXPECT_EQ(C.EncodeField(c.code, c.value, buf, c.size, pos, c.width, c.decimals), c.ok);
        EXPECT_EQ(pos, c.advance ? 4 + c.width : 4);
        // The field and the untouched byte on either side of it.
        EXPECT_EQ(QByteArray(reinterpret_cast<char*>(buf + 3), c.width + 2).toHex(' '),
                  (Hex("EE") + Hex(c.bytes) + Hex("EE")).toHex(' '));
    }
}

TEST_F(Codec, RecordIsFilledFieldByFieldWithOnePositionCounter)
{
    uint8_t buf[64] = {};
    int pos = 0;
    buf[pos] = 0x01;
    pos = 1;
    C.EncodeField(fcBinary, 1234, buf, 64, pos, 3, 0);
    C.EncodeField(fcText, QByteArray("Apple"), buf, 64, pos, 6, 0);
    EXPECT_EQ(pos, 10);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(buf), 11), Hex("01 00 04 D2 41 70 70 6C 65 00 00"));
}

// EncodeInto reaches the encoders through their virtual slots.
TEST_F(Codec, EncoderSlotsCanBeOverridden)
{
    struct Custom : TVemraencode {
        QList<int> Widths;
        bool EncodeBinary(const QVariant&, QByteArray& data, int& position, int width, int) override
        {
            Widths << width;
            data[position] = char(0x5A);
            return true;
        }
    } custom;
    uint8_t buf[4] = {};
    int pos = 0;
    EXPECT_TRUE(custom.EncodeField(fcBinary, 1, buf, 4, pos, 2, 0));
    EXPECT_EQ(custom.Widths, QList<int>{2});
    EXPECT_EQ(buf[0], 0x5A);
    EXPECT_EQ(buf[1], 0x00);
}

// ---------------------------------------------------------------- DecodeField

QVariant Decode(uint8_t code, const QByteArray& bytes, int position, int count, int decimals = 0)
{
    uint8_t buf[64] = {};
    std::memcpy(buf, bytes.constData(), qMin<qsizetype>(bytes.size(), 64));
    return DecodeField(code, buf, 64, position, count, decimals);
}

QVariant At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// Binary decodes to a double, texts to bytes, dates and times to a
// QDateTime; a conversion failure shows its message and gives no value.
TEST_F(Codec, DecodeField)
{
    static_assert(((7.0 / 10) / 10) / 10 != 7.0 / 1000, "the two ways of dividing differ for 7");
    const char* const badDate = "Invalid argument to date encode";
    const char* const badTime = "Invalid argument to time encode";
    struct {
        uint8_t code;
        QByteArray bytes;
        int position, count, decimals;
        QVariant expected;
        const char* message = nullptr;
    } const cases[] = {
        {fcBinary, Hex("00 04 D2"), 0, 3, 2, 12.34},
        {fcBinary, Hex("00 04 D2"), 0, 3, 0, 1234.0},
        {fcBinary, Hex("FF FF FF"), 0, 3, 0, 16777215.0},
        {fcBinary, Hex("FF FF FF FE"), 0, 4, 0, -2.0},
        {fcBinary, Hex("FF FF FF FF"), 0, 4, 0, -1.0},
        {fcBinary, Hex("80 00 00 00"), 0, 4, 0, -2147483648.0},
        {fcBinary, Hex("01 00 04 D2"), 1, 3, 0, 1234.0},
        {fcBinary, Hex("FF"), 0, 1, 0, 255.0},
        {fcBinary, Hex("12 34"), 0, 0, 0, 0.0},
        {fcBinary, Hex("00 00 07"), 0, 3, 3, ((7.0 / 10) / 10) / 10},   // once for each decimal
        {fcText, QByteArray("AB\0CD", 5), 0, 5, 0, QByteArray("AB")},
        {fcText, "ABCDE", 0, 3, 0, QByteArray("ABC")},
        {fcText, "", 0, 4, 0, QByteArray("")},
        {fcHexText, Hex("01 AB FF"), 0, 3, 0, QByteArray("01ABFF")},
        {fcHexText, Hex("01"), 0, 0, 0, QByteArray("")},
        {fcDecimalText, "00012", 0, 5, 0, QByteArray("0.12")},
        {fcDecimalText, "0000", 0, 4, 0, QByteArray("0.00")},
        {fcDecimalText, "1205", 0, 4, 0, QByteArray("12.05")},
        {fcDecimalText, "007", 0, 3, 0, QByteArray("0.07")},
        {fcDecimalText, "05", 0, 2, 0, QByteArray("0.05")},
        {fcDecimalText, "100", 0, 3, 0, QByteArray("1.00")},
        {fcDecimalText, "0102030", 0, 7, 0, QByteArray("1020.30")},
        {fcDate, Hex("07 12 31"), 0, 3, 0, At(2007, 12, 31)},
        {fcDate, Hex("99 01 01"), 0, 3, 0, At(2099, 1, 1)},
        {fcDate, Hex("08 02 29"), 0, 3, 0, At(2008, 2, 29)},
        {fcDateDMY, Hex("31 12 07"), 0, 3, 0, At(2007, 12, 31)},
        {fcTime, Hex("23 59 58"), 0, 3, 0, At(1899, 12, 30, 23, 59, 58)},
        {fcTime, Hex("23 59 58"), 0, 2, 0, At(1899, 12, 30, 23, 59)},
        {fcTime, Hex("00 00 00"), 0, 3, 0, At(1899, 12, 30)},
        {fcTime, Hex("12 30 0B"), 0, 2, 0, At(1899, 12, 30, 12, 30)},   // the bad byte is not reached
        {fcDate, Hex("07 13 01"), 0, 3, 0, {}, badDate},
        {fcDate, Hex("07 02 29"), 0, 3, 0, {}, badDate},
        {fcDate, Hex("07 00 01"), 0, 3, 0, {}, badDate},
        {fcDate, Hex("0A 01 01"), 0, 3, 0, {}, "'0A' is not a valid integer value"},
        {fcDate, Hex("07 1A 01"), 0, 3, 0, {}, "'1A' is not a valid integer value"},
        {fcDateDMY, Hex("32 01 07"), 0, 3, 0, {}, badDate},
        {fcDateDMY, Hex("01 01 F0"), 0, 3, 0, {}, "'F0' is not a valid integer value"},
        {fcTime, Hex("24 00 00"), 0, 3, 0, {}, badTime},
        {fcTime, Hex("12 60"), 0, 2, 0, {}, badTime},
        {fcTime, Hex("12 30 0B"), 0, 3, 0, {}, "'0B' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.code) << ": " << c.bytes.toHex(' ').constData() << " count "
                                        << c.count);
        Dialogs.Boxes.clear();
        const QVariant v = Decode(c.code, c.bytes, c.position, c.count, c.decimals);
        EXPECT_EQ(v.typeId(), c.expected.typeId());
        if (c.expected.typeId() == QMetaType::Double)
            EXPECT_EQ(v.toDouble(), c.expected.toDouble());   // exactly
        else
            EXPECT_EQ(v, c.expected) << v.toString().toStdString();
        EXPECT_EQ(Shown(Dialogs), c.message ? std::string("None|Ok|Varlo Manager|") + c.message : "");
    }
    Dialogs.Boxes.clear();
    for (int code : {0, 1, 3, 5, 8, 11, 13, 255}) {   // unknown codes give no value
        SCOPED_TRACE(code);
        EXPECT_FALSE(Decode(uint8_t(code), Hex("07 12 31"), 0, 3).isValid());
    }
    EXPECT_TRUE(Dialogs.Boxes.isEmpty());
}

TEST_F(Codec, DecodeFieldReadsNothingBeyondSize)
{
    uint8_t buf[6] = {0, 0, 0, 0x12, 0x34, 0x56};
    // The caller's size is 5: the sixth byte must not count.
    EXPECT_EQ(DecodeField(fcBinary, buf, 5, 3, 3, 0).toDouble(), 0x123400);
    EXPECT_EQ(DecodeField(fcText, buf + 3, 2, 0, 8, 0).toByteArray(), Hex("12 34"));
    EXPECT_TRUE(DecodeField(fcText, nullptr, 64, 0, 4, 0).toByteArray().isEmpty());
}

// ---------------------------------------------------------------- slots

TEST_F(Codec, TrimDigits)
{
    const struct { const char* in; const char* out; } cases[] = {
        {"00FF12", "0012"}, {"FF00", "0000"}, {"0F5", "05"}, {"0000", ""}, {"", ""},
        {"123", "123"},     {"F", "0"},       {"0F0F", "00F"}, {"F1F", "01F"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TVemraencode::TrimDigits(c.in), QByteArray(c.out)) << c.in;
}

TEST_F(Codec, NumberSlots)
{
    struct {
        const char* name;
        char slot;   // Inverted, Signed, Double
        const char* bytes;
        int decimals;
        double expected;
        int position = 0, count = 0;   // 0: all the bytes
    } const cases[] = {
        {"inverted FF FE", 'I', "FF FE", 0, 1},
        {"inverted 00", 'I', "00", 0, 255},
        {"inverted with decimals", 'I', "FF 85", 2, 1.22},
        {"inverted 8 bytes of 00 read negative", 'I', "00 00 00 00 00 00 00 00", 0, -1},
        {"inverted 8 bytes", 'I', "FF FF FF FF FF FF FF FE", 0, 1},
        {"signed positive", 'S', "7F", 0, 127},
        {"signed FF", 'S', "FF", 0, -1},
        {"signed FF FE", 'S', "FF FE", 0, -2},
        {"signed 80 00", 'S', "80 00", 0, -32768},
        {"signed with decimals", 'S', "00 64", 2, 1},
        {"signed 8 bytes", 'S', "FF FF FF FF FF FF FF FD", 0, -3},
        {"double", 'D', "40 93 4A 00 00 00 00 00", 1, 123.45},
        {"double at 1", 'D', "AA 40 93 4A 00 00 00 00 00", 0, 1234.5, 1, 3},
        {"NaN", 'D', "7F F8 00 00 00 00 00 00", 0, 0},
        {"infinity", 'D', "7F F0 00 00 00 00 00 00", 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray b = Hex(c.bytes);
        const int count = c.count ? c.count : int(b.size());
        const double v = c.slot == 'I'   ? C.DecodeInverted(b, c.position, count, c.decimals).toDouble()
                         : c.slot == 'S' ? C.DecodeSigned(b, c.position, count, c.decimals).toDouble()
                                         : C.DecodeDouble(b, c.position, count, c.decimals);
        EXPECT_DOUBLE_EQ(v, c.expected);
    }
}

TEST_F(Codec, TextSlots)
{
    const QByteArray b = Hex("00 FF 12 41 42 00 43");
    EXPECT_EQ(C.BytesToHex(b, 0, 3), "00FF12");
    EXPECT_EQ(C.BytesToDigits(b, 0, 3), "0012");
    EXPECT_EQ(C.BytesToText(b, 3, 4), "AB");
    EXPECT_EQ(C.BytesToText(b, 3, 1), "A");
    EXPECT_EQ(C.BytesToHex(b, 6, 3), "430000");   // past the end reads zeros
}

TEST_F(Codec, DateSlots)
{
    const QByteArray b = Hex("07 12 31 23 59 58");
    const struct { double days; QVariant at; } cases[] = {
        {C.DecodeDateTime(b, 0), At(2007, 12, 31, 23, 59, 58)},
        {C.DecodeDate(b, 0), At(2007, 12, 31)},
        {C.DecodeTime(b, 3, 3), At(1899, 12, 30, 23, 59, 58)},
        {C.DecodeTime(b, 3, 2), At(1899, 12, 30, 23, 59)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TVemraencode::ToQDateTime(c.days), c.at.toDateTime());
    EXPECT_DOUBLE_EQ(C.DecodeDate(Hex("00 01 01"), 0), 36526);   // 2000-01-01

    // Failures are absorbed silently: 1899-12-30 00:00.
    EXPECT_EQ(C.DecodeDateTime(Hex("07 13 01 00 00 00"), 0), 0);
    EXPECT_EQ(C.DecodeDateTime(Hex("07 12 31 24 00 00"), 0), 0);
    EXPECT_EQ(C.DecodeDate(Hex("0A 01 01"), 0), 0);
    EXPECT_EQ(C.DecodeTime(Hex("12 60 00"), 0, 3), 0);
    EXPECT_TRUE(Dialogs.Boxes.isEmpty());
}

} // namespace
