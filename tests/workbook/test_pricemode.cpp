#include "errors.h"
#include "pricemode.h"
#include "wbtest.h"
#include <cstdlib>

enum { cmd0, cmd1, cmd2No, cmd2Yes, cmd3No, cmd3Yes };

class PriceModeCommands : public SepTest {};
INSTANTIATE_SEPARATORS(PriceModeCommands);

TEST(PriceModeTable, CodesAndRows)
{
    struct Row {
        int code, decimals, length;
        double max;
        const char* format;
    } rows[] = {{0, 0, 7, 9999999, "%d"},       {9, 1, 8, 999999.9, "%.1f"},  {11, 2, 8, 99999.99, "%.2f"},
                {3, 2, 8, 99999.99, "%.2f"},    {15, 3, 8, 9999.999, "%.3f"}, {7, 3, 8, 9999.999, "%.3f"}};
    for (int i = 0; i < 6; ++i) {
        const PriceModeRow* m = FindPriceMode(uint8_t(rows[i].code));
        ASSERT_EQ(m, &PriceModes[i]) << rows[i].code;
        EXPECT_EQ(m->Decimals, rows[i].decimals);
        EXPECT_EQ(m->Length, rows[i].length);
        EXPECT_DOUBLE_EQ(m->Max, rows[i].max);
        EXPECT_STREQ(m->Format, rows[i].format);
        EXPECT_EQ(PriceFormatFor(m->Decimals, "old"), rows[i].format);
    }
    for (int code : {1, 2, 4, 5, 6, 8, 10, 12, 13, 14, 16, 0x5B, 255})
        EXPECT_EQ(FindPriceMode(uint8_t(code)), nullptr) << code;
    EXPECT_EQ(PriceFormatFor(5, "old"), "old");
    EXPECT_EQ(PriceFormatFor(-1, ""), "");
}

TEST_P(PriceModeCommands, ReformatFromTheStoredPrice)
{
    Bench b;
    b.type(1, n("12.5"));
    ASSERT_TRUE(b.wb.SelectCell(colPrice, 1));
    b.wb.Modified = false;
    const struct { int command; const char* mode; const char* row1; const char* row2; const char* max; } steps[] = {
        {cmd0, "0/0/9999999/7/%d", "12", "0", "9999999"},   // half to even
        {cmd3Yes, "7/3/9999.999/8/%.3f", "12.500", "0.000", "9999.999"},
        {cmd1, "9/1/999999.9/8/%.1f", "12.5", "0.0", "999999.9"},
    };
    for (const auto& s : steps) {
        b.wb.PriceDecimalCommand(s.command);
        EXPECT_EQ(b.mode(), s.mode);
        EXPECT_EQ(b.price(1) + '|' + b.price(2) + '|' + b.stored(1), n(s.row1) + '|' + n(s.row2) + '|' + n("12.5"));
        EXPECT_EQ(b.wb.RangeMessage(), "Ranging between 0 and " + QString::fromLatin1(n(s.max)));
    }
    EXPECT_EQ(b.dlg.Beeps, 0);
    EXPECT_FALSE(b.wb.Modified);   // a command marks nothing: closing asks nothing
    EXPECT_TRUE(b.wb.QuerySave());
    EXPECT_TRUE(b.dlg.Boxes.isEmpty());
}

TEST_P(PriceModeCommands, APriceTheNewModeCannotHoldChangesNothing)
{
    struct Case {
        int from, to;
        int row;               // where the bad price is stored
        const char* stored;
        const char* named;     // the line naming the key
        const char* range;     // the new mode's limit in the message
    } cases[] = {
        {cmd0, cmd2Yes, 19, "999999", "U12: 999999", "99999.99"},
        {cmd0, cmd3No, 1, "10000", "M1: 10000", "9999.999"},
        {cmd1, cmd2No, 77, "100000.5", "U70: 100000.5", "99999.99"},
        {cmd2Yes, cmd0, 8, "-5", "U1: -5", "9999999"},
        {cmd2Yes, cmd3Yes, 7, "-0.001", "M7: -0.001", "9999.999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        Bench b;
        ASSERT_TRUE(b.wb.PriceDecimalCommand(c.from));
        for (int r = 1; r <= PluCount; ++r) {
            b.wb.Table.setStoredPrice(r, "7");
            b.wb.Table.setCell(colPrice, r, PriceText(7, b.opts.PriceDecimal));
        }
        b.wb.Table.setStoredPrice(2, "junk");   // does not convert: 0, which fits
        for (const int r : {c.row, PluCount}) {   // only the first key that does not fit is named
            b.wb.Table.setStoredPrice(r, n(c.stored));
            b.wb.Table.setCell(colPrice, r, PriceText(atof(c.stored), b.opts.PriceDecimal));
        }
        const QByteArray iniBefore = b.home.read("config.ini");
        const QString modeBefore = b.mode();
        QList<QByteArray> tableBefore;
        for (int r = 1; r <= PluCount; ++r)
            tableBefore.append(b.price(r));

        EXPECT_FALSE(b.wb.PriceDecimalCommand(c.to));
        ASSERT_EQ(b.dlg.Boxes.size(), 1);
        QString named = QString::fromLatin1(c.named);
        named.replace('.', QLatin1Char(GetParam()));
        EXPECT_EQ(b.dlg.Boxes[0].text, "Ranging between 0 and " + QString::fromLatin1(n(c.range)) + "\n" + named);
        EXPECT_EQ(b.dlg.Boxes[0].icon, MsgIcon::Error);
        EXPECT_EQ(b.dlg.Beeps, 0);
        // Mode, config.ini and table as they were.
        EXPECT_EQ(b.mode(), modeBefore);
        EXPECT_EQ(b.home.read("config.ini"), iniBefore);
        for (int r = 1; r <= PluCount; ++r)
            ASSERT_EQ(b.price(r), tableBefore[r - 1]) << r;
        EXPECT_EQ(b.stored(c.row), n(c.stored));
    }
}

TEST_P(PriceModeCommands, APriceAtTheMaximumFits)
{
    Bench b;
    b.wb.PriceDecimalCommand(cmd0);
    b.wb.Table.setStoredPrice(9, n("99999.99"));
    EXPECT_TRUE(b.wb.PriceDecimalCommand(cmd2Yes));
    EXPECT_EQ(b.price(9) + '|' + b.price(30), n("99999.99|0.00"));
    EXPECT_EQ(b.opts.PriceDecimal, 2);
}

TEST_P(PriceModeCommands, TwoDecimalVariantsDifferOnlyInPriceDot)
{
    Bench yes, no;
    for (Bench* b : {&yes, &no}) {
        b->type(5, n("3.456"));
        b->wb.SelectCell(colPrice, 5);
    }
    yes.wb.PriceDecimalCommand(cmd2Yes);
    no.wb.PriceDecimalCommand(cmd2No);
    for (int r = 1; r <= PluCount; ++r)
        ASSERT_EQ(yes.price(r), no.price(r)) << r;
    EXPECT_EQ(yes.price(5), n("3.46"));
    QByteArray yesIni = yes.home.read("config.ini"), noIni = no.home.read("config.ini");
    EXPECT_EQ(yesIni, "[default]\r\nPrice Dot=3\r\nPrice Max=" + n("99999.99") + "\r\nprice length=8\r\nprice decimal=2\r\n");
    EXPECT_EQ(noIni.replace("Price Dot=11", "Price Dot=3"), yesIni);

    Bench three;
    three.wb.PriceDecimalCommand(cmd3No);
    EXPECT_TRUE(three.home.read("config.ini").startsWith("[default]\r\nPrice Dot=15\r\n"));
}

TEST_P(PriceModeCommands, ConfigKeepsForeignKeysAndComments)
{
    const QByteArray before = "; price options\r\n[default]\r\nprice decimal=3\r\nmine=1\r\n[other]\r\nx=y\r\n";
    Bench b(before);
    b.wb.PriceDecimalCommand(cmd1);
    const QByteArray after = b.home.read("config.ini");
    EXPECT_TRUE(after.startsWith("; price options\r\n[default]\r\n")) << after.constData();
    for (const QByteArray& part : {QByteArray("price decimal=1\r\n"), QByteArray("mine=1\r\n"),
                                   "Price Max=" + n("999999.9") + "\r\n"})
        EXPECT_TRUE(after.contains(part)) << part.constData();
    EXPECT_TRUE(after.endsWith("[other]\r\nx=y\r\n"));
    TIniOptions back;
    back.LoadOptions(b.home.file("config.ini"));
    EXPECT_EQ(back.PriceDot, 9);
    EXPECT_EQ(back.PriceLength, 8);
}

TEST_P(PriceModeCommands, FailedConfigWriteLeavesTheTable)
{
    Bench b;
    b.type(1, n("12.5"));
    b.wb.SelectCell(colPrice, 1);
    QDir(b.home.path()).mkdir("config.ini");   // cannot be replaced by a file
    EXPECT_THROW(b.wb.PriceDecimalCommand(cmd0), EIniError);
    EXPECT_EQ(b.mode(), "0/0/9999999/7/%d");
    EXPECT_EQ(b.price(1), n("12.50"));
}

TEST_P(PriceModeCommands, AdoptScalePriceMode)
{
    Bench b;
    b.type(1, "5");
    b.wb.SelectCell(colPrice, 1);
    EXPECT_FALSE(b.wb.AdoptScalePriceMode(2));
    EXPECT_FALSE(QFile::exists(b.wb.ConfigFileName));
    EXPECT_EQ(b.mode(), "3/2/99999.99/8/%.2f");
    EXPECT_TRUE(b.wb.AdoptScalePriceMode(0x5B & 0x0F));
    EXPECT_EQ(b.mode(), "11/2/99999.99/8/%.2f");
    EXPECT_TRUE(b.home.read("config.ini").contains("Price Dot=11\r\n"));
    EXPECT_TRUE(b.wb.AdoptScalePriceMode(7));
    EXPECT_EQ(b.mode(), "7/3/9999.999/8/%.3f");
    EXPECT_EQ(b.price(1), n("5.00")) << "the table is not re-formatted";
}
