#include "pricemode.h"
#include "wbtest.h"
#include <functional>

class Editing : public SepTest {};
INSTANTIATE_SEPARATORS(Editing);

TEST_P(Editing, ResetTableEmptiesEveryRow)
{
    Bench b;
    b.wb.Table.setCell(colName, 5, "Apple");
    b.wb.Table.PluRecords[5].UnitIndex = -1;
    b.wb.Modified = true;
    b.wb.CurrentFileName = "/x.KYR";
    b.wb.ResetTable();
    for (int r = 1; r <= PluCount; ++r) {
        ASSERT_EQ(b.row(r), n("0.00|0.00||kg")) << r;
        ASSERT_EQ(b.wb.Table.PluRecords[r].UnitIndex, 0) << r;
    }
    EXPECT_TRUE(b.wb.CurrentFileName.isEmpty());
    EXPECT_FALSE(b.wb.Modified);
}

TEST_P(Editing, PriceKeysByMode)
{
    const struct {
        int mode;
        const char* allowed;   // of the probe keys "7", sep, other sep, "a", "-", " "
    } cases[] = {{0, "100000"}, {1, "110000"}, {2, "110000"}, {3, "110000"}, {5, "111111"}};
    const char probes[] = {'7', GetParam(), otherSep(), 'a', '-', ' '};
    for (const auto& c : cases) {
        Bench b;
        b.opts.PriceDecimal = c.mode;
        for (int i = 0; i < 6; ++i) {
            b.wb.PriceTyped = false;
            const bool pass = b.wb.KeyPress(colPrice, 1, QLatin1Char(probes[i]), "1", false);
            EXPECT_EQ(pass, c.allowed[i] == '1') << "mode " << c.mode << " key '" << probes[i] << "'";
            EXPECT_EQ(b.wb.PriceTyped, pass);
        }
    }
}

// A price takes no key at its length unless the text is selected; a name
// none at 13 bytes, selected or not; Backspace always passes.
TEST_P(Editing, KeysAtTheLengthLimit)
{
    const QByteArray full = n("12345.00"), twelve(12, 'x'), thirteen(13, 'x');
    const QByteArray gbk6 = QByteArray("\xC6\xBB\xB9\xFB").repeated(3);   // six GBK characters, 12 bytes
    const struct {
        int col, priceLength;
        QChar key;
        QByteArray text;
        bool selected, passes;
    } cases[] = {
        {colPrice, 8, '1', full, false, false}, {colPrice, 8, '1', full, true, true},
        {colPrice, 8, '1', "1234567", false, true}, {colPrice, 8, QChar(8), full + "999", false, true},
        {colPrice, 3, '1', "123", false, false},
        {colName, 8, 'a', twelve, false, true}, {colName, 8, 'a', thirteen, false, false},
        {colName, 8, 'a', thirteen, true, false}, {colName, 8, QChar(8), thirteen, false, true},
        {colName, 8, QChar(0x82F9), twelve, false, true},   // any character kind
        {colName, 8, 'a', gbk6, false, true}, {colName, 8, 'a', gbk6 + "\xC6\xBB", false, false},
    };
    for (const auto& c : cases) {
        Bench b;
        b.opts.PriceLength = c.priceLength;
        EXPECT_EQ(b.wb.KeyPress(c.col, 1, c.key, c.text, c.selected), c.passes) << c.col << " " << c.text.constData();
        if (!c.passes || c.col == colName) {
            EXPECT_FALSE(b.wb.PriceTyped) << c.text.constData();
        }
    }
    // Typing over a full cell works because opening the editor selects it.
    Bench b;
    b.wb.Table.setCell(colPrice, 2, full);
    EXPECT_EQ(b.type(2, "42"), 2);
    EXPECT_EQ(b.price(2), "42");
}

TEST_P(Editing, LeavingAPriceCellValidates)
{
    const struct {
        const char* text;
        const char* shown;   // nullptr: refused
    } cases[] = {
        {"1.2.3", nullptr}, {"", nullptr}, {"abc", nullptr}, {"  ", nullptr}, {"100000", nullptr},
        {"99999.991", nullptr}, {"-5", nullptr}, {"-0.001", nullptr},   // nothing below 0
        {"99999.99", "99999.99"}, {" 7 ", "7.00"}, {"0.005", "0.01"}, {"-0", "0.00"}, {"1e2", "100.00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Bench b;
        b.paste(4, n(c.text));
        EXPECT_EQ(b.wb.SelectCell(colPrice, 4), c.shown != nullptr);
        EXPECT_EQ(b.price(4), n(c.shown ? c.shown : c.text)) << "a refused text stays";
        ASSERT_EQ(b.dlg.Boxes.size(), c.shown ? 0 : 1);
        if (!c.shown) {
            EXPECT_EQ(b.dlg.Boxes[0].text, "Ranging between 0 and " + QString::fromLatin1(n("99999.99")));
            EXPECT_EQ(b.dlg.Boxes[0].icon, MsgIcon::Error);
            EXPECT_EQ(b.dlg.Boxes[0].buttons, MsgButtons::Ok);
        }
    }
}

// Other columns move freely; opening any editor marks the table modified.
TEST_P(Editing, OtherColumnsMoveFreely)
{
    Bench b;
    b.paste(1, "junk");
    EXPECT_TRUE(b.wb.SelectCell(colName, 1));
    EXPECT_TRUE(b.wb.SelectCell(colNumber, 1));
    b.wb.ExitGrid(colName, 1);
    EXPECT_EQ(b.price(1), "junk");
    EXPECT_TRUE(b.dlg.Boxes.isEmpty());
    EXPECT_EQ(b.dlg.Beeps, 0);
    EXPECT_FALSE(b.wb.Modified);
    b.wb.GetEditText(colName, 9);
    EXPECT_TRUE(b.wb.Modified);
}

TEST_P(Editing, WholePriceModeNamesSevenNinesButChecksPriceMax)
{
    Bench b;
    b.wb.PriceDecimalCommand(0);
    b.opts.PriceMax = 99999.99;   // no mode has it; only a test can set it
    EXPECT_EQ(b.wb.PriceFormat, "%d");
    EXPECT_EQ(b.wb.RangeMessage(), "Ranging between 0 and 9999999");
    b.paste(1, "100000");
    EXPECT_FALSE(b.wb.SelectCell(colPrice, 1));
    b.paste(1, n("2.5"));   // pasted: the key filter would have dropped the separator
    EXPECT_TRUE(b.wb.SelectCell(colPrice, 1));
    EXPECT_EQ(b.price(1), "2");
    EXPECT_EQ(b.type(2, n("7.")), 1);
    EXPECT_TRUE(b.wb.SelectCell(colPrice, 2));
    EXPECT_EQ(b.price(2), "7");
}

TEST_P(Editing, LeavingTheGridZeroesWithABeep)
{
    const struct {
        int command;
        const char* text;
        const char* shown;
        int beeps;
    } cases[] = {
        {3, "abc", "0", 1}, {3, "", "0", 1}, {3, "1.2.3", "0", 1},
        {3, "100000", "0.00", 1}, {3, "-5", "0.00", 1}, {3, "12.5", "12.50", 0},
        {0, "abc", "0", 1}, {0, "-1", "0", 1}, {0, "12.5", "12", 0},
        {1, "x", "0", 1}, {1, "999999.95", "0.0", 1}, {1, "3", "3.0", 0},
        {5, "x", "0", 1}, {5, "1.23456", "1.235", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.command) + " " + c.text);
        Bench b;
        b.wb.PriceDecimalCommand(c.command);
        b.paste(6, n(c.text));
        b.wb.Table.setStoredPrice(6, "stored");
        b.wb.PriceTyped = true;
        b.wb.ExitGrid(colPrice, 6);
        // The store follows: the zero that replaced a bad price, or the
        // accepted text with its own decimals.
        EXPECT_EQ(b.price(6) + '|' + b.stored(6), n(c.shown) + '|' + (c.beeps ? n(c.shown) : n(c.text)));
        EXPECT_EQ(b.dlg.Beeps, c.beeps);
        EXPECT_TRUE(b.wb.PriceTyped);
        EXPECT_TRUE(b.dlg.Boxes.isEmpty());
    }
}

TEST_P(Editing, RangeMessageTreatsPercentAsText)
{
    Bench b;
    MessageTexts.set(mtRange, "100% %s%n%d %");
    EXPECT_EQ(b.wb.RangeMessage(), "100% %s%n%d %" + QString::fromLatin1(n("99999.99")));
    b.paste(1, "x");
    EXPECT_FALSE(b.wb.SelectCell(colPrice, 1));
    EXPECT_EQ(b.dlg.Boxes.value(0).text, b.wb.RangeMessage());
}

TEST_P(Editing, ModeOutsideTheTableHasNoPriceTexts)
{
    Bench b;   // config.ini cannot give such a mode any more; only a test can
    b.opts.PriceDecimal = 5;
    b.wb.PriceFormat = "";
    b.wb.ResetTable();
    EXPECT_EQ(b.wb.PriceFormat, "");
    EXPECT_EQ(b.price(1) + '|' + b.unit(1), "|kg");
    EXPECT_EQ(b.wb.RangeMessage(), "Ranging between 0 and ");
    EXPECT_TRUE(b.wb.KeyPress(colPrice, 1, QLatin1Char('z'), "", false));
    b.paste(1, "12");
    EXPECT_TRUE(b.wb.SelectCell(colPrice, 1));
    EXPECT_EQ(b.price(1), "");
}

TEST_P(Editing, EveryCellChangeIsSignalled)
{
    Bench b;
    QList<QPair<int, int>> seen;
    QObject::connect(&b.wb.Table, &PluTable::cellChanged, [&](int row, int col) { seen.append({row, col}); });
    b.paste(3, "5");
    b.wb.SelectCell(colPrice, 3);
    EXPECT_EQ(seen, (QList<QPair<int, int>>{{3, colPrice}, {3, colPrice}}));
    seen.clear();
    b.wb.Table.setCell(colName, 77, "x");
    b.wb.ResetTable();
    EXPECT_TRUE(seen.contains(qMakePair(3, int(colPrice))));
    EXPECT_TRUE(seen.contains(qMakePair(77, int(colName))));
}

// However a price got into the cell, a later price mode change starts from
// it, never from a text the operator replaced or a text only looked at.
TEST_P(Editing, ThePriceStoreFollowsEveryAcceptedValue)
{
    enum Leave { Move, ExitTheGrid };
    const struct {
        const char* what;
        std::function<void(Bench&)> edit;   // on row 5, which starts at 3.00
        Leave leave;
        const char* shown;           // "price|store" after leaving
        const char* threeDecimals;   // after "Price decimal (3+Yes)"
    } cases[] = {
        {"typed", [this](Bench& b) { b.type(5, n("12.5")); }, Move, "12.50|12.5", "12.500"},
        {"typed, more decimals than shown", [this](Bench& b) { b.type(5, n("3.456")); }, Move, "3.46|3.456", "3.456"},
        // A deletion reaches the store as well: no key was typed for it.
        {"Backspace", [](Bench& b) { b.type(5, "125"); b.backspace(5); }, Move, "12.00|12", "12.000"},
        {"Delete in the middle", [](Bench& b) { b.type(5, "125"); b.paste(5, "15"); }, Move, "15.00|15", "15.000"},
        {"pasted", [this](Bench& b) { b.paste(5, n("7.50")); }, Move, "7.50|7.50", "7.500"},
        // A key accepted but not yet copied: leaving the cell copies the formatted text.
        {"key not copied",
         [](Bench& b) {
             b.paste(5, "7");
             ASSERT_TRUE(b.wb.KeyPress(colPrice, 5, QLatin1Char('5'), "7", true));
         },
         Move, "7.00|7.00", "7.000"},
        // An editor commit reaches the cell without a change of the editor's text.
        {"committed", [this](Bench& b) { b.wb.Table.setCell(colPrice, 5, n("8.25")); }, Move, "8.25|8.25", "8.250"},
        {"committed, grid left", [this](Bench& b) { b.wb.Table.setCell(colPrice, 5, n("8.25")); }, ExitTheGrid,
         "8.25|8.25", "8.250"},
        {"pasted, grid left", [this](Bench& b) { b.paste(5, n("7.5")); }, ExitTheGrid, "7.50|7.5", "7.500"},
        {"refused, grid left", [](Bench& b) { b.paste(5, "999999"); }, ExitTheGrid, "0.00|0.00", "0.000"},
        {"junk, grid left", [](Bench& b) { b.paste(5, "x"); }, ExitTheGrid, "0|0", "0.000"},
        // Opening the editor and leaving the cell without a change, in either
        // way, changes no value: the store still knows 12.5.
        {"looked at in whole prices",
         [this](Bench& b) {
             b.type(5, n("12.5"));
             ASSERT_TRUE(b.wb.SelectCell(colPrice, 5));
             ASSERT_TRUE(b.wb.PriceDecimalCommand(0));
             EXPECT_EQ(b.price(5), "12");
             b.wb.GetEditText(colPrice, 5);
             ASSERT_TRUE(b.wb.SelectCell(colPrice, 5));
             b.wb.GetEditText(colPrice, 5);
         },
         ExitTheGrid, "12|12.5", "12.500"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        b.wb.Table.setCell(colPrice, 5, n("3.00"));
        b.wb.Table.setStoredPrice(5, n("3"));
        b.wb.GetEditText(colPrice, 5);
        c.edit(b);
        if (c.leave == Move) {
            ASSERT_TRUE(b.wb.SelectCell(colPrice, 5));
            EXPECT_FALSE(b.wb.PriceTyped);
        } else {
            b.wb.ExitGrid(colPrice, 5);
        }
        EXPECT_EQ(b.price(5) + '|' + b.stored(5), n(c.shown));
        EXPECT_TRUE(b.dlg.Boxes.isEmpty());
        ASSERT_TRUE(b.wb.PriceDecimalCommand(5));
        EXPECT_EQ(b.price(5), n(c.threeDecimals));
    }
}

// What a command does first with the cell being edited.
TEST_P(Editing, EndEditChecksThePendingPriceOnly)
{
    const struct {
        const char* what;
        std::function<void(Bench&)> edit;
        bool ends;
        const char* shown;   // price of row 7 afterwards
    } cases[] = {
        {"nothing edited", [](Bench&) {}, true, "0.00"},
        {"valid price", [this](Bench& b) { b.type(7, n("12.5")); }, true, "12.50"},
        {"over the maximum", [](Bench& b) { b.type(7, "999999"); }, false, "999999"},
        {"pasted negative", [](Bench& b) { b.wb.GetEditText(colPrice, 7); b.paste(7, "-5"); }, false, "-5"},
        {"pasted junk", [this](Bench& b) { b.wb.GetEditText(colPrice, 7); b.paste(7, n("1.2.3")); }, false, "1.2.3"},
        {"name cell", [](Bench& b) { b.wb.GetEditText(colName, 7); }, true, "0.00"},
        {"refused price left through the grid's exit",
         [](Bench& b) { b.type(7, "999999"); b.wb.ExitGrid(colPrice, 7); }, true, "0.00"},
        // A reset or a load leaves nothing pending.
        {"reset", [](Bench& b) { b.type(7, "999999"); b.wb.ResetTable(); }, true, "0.00"},
        {"load", [](Bench& b) { b.type(7, "999999"); b.wb.ShowRecords(); }, true, "0.00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        c.edit(b);
        EXPECT_EQ(b.wb.EndEdit(), c.ends);
        EXPECT_EQ(b.price(7), n(c.shown));
        if (c.ends) {
            EXPECT_TRUE(b.dlg.Boxes.isEmpty());
            EXPECT_EQ(b.wb.PendingPriceRow(), 0);
            EXPECT_TRUE(b.wb.EndEdit()) << "nothing left to check";
        } else {
            ASSERT_EQ(b.dlg.Boxes.size(), 1);
            EXPECT_EQ(b.dlg.Boxes[0].text, b.wb.RangeMessage());
            EXPECT_EQ(b.wb.PendingPriceRow(), 7) << "still pending: the next command asks again";
        }
    }
}
