#include "atomicfile.h"
#include "codepage.h"
#include "errors.h"
#include "plufile.h"
#include "unprivileged.h"
#include "wbtest.h"
#include <QStringEncoder>
#include <cerrno>
#include <sys/stat.h>

TEST(PluFormat, PaddingCountsBytesAndNeverCuts)
{
    EXPECT_EQ(padLeft("0.00", 8), "    0.00");
    EXPECT_EQ(padLeft("123456789", 8), "123456789");
    EXPECT_EQ(padLeft("", 3), "   ");
    EXPECT_EQ(padRight("Apple", 13), "Apple        ");
    EXPECT_EQ(padRight("\xC6\xBB\xB9\xFB", 6), "\xC6\xBB\xB9\xFB  ");
    EXPECT_EQ(padRight("abc", -1), "abc");
    EXPECT_EQ(trimBlanks(" \t\x01 a b\x1F\r "), "a b");
    EXPECT_EQ(PluKeyName(1) + PluKeyName(7) + PluKeyName(8) + PluKeyName(77), "M1M7U1U70");
}

TEST(PluFormat, LineEnds)
{
    using L = QList<QByteArray>;
    const struct { QByteArray file; int most; L lines; } cases[] = {
        {"a\r\nb\nc\rd", 77, {"a", "b", "c", "d"}}, {"a\r\r\nb\n\n", 77, {"a", "", "b", ""}},
        {"\r\n\r\n", 77, {"", ""}}, {"\n\r", 77, {"", ""}},   // LF then a lone CR: two ends
        {"", 77, {}}, {"a\nb\nc", 2, {"a", "b"}},
        // Ctrl-Z: an end-of-file mark at the very end, data elsewhere.
        {"a\r\n\x1A\x1A", 77, {"a"}}, {"a\x1A\x1A", 77, {"a"}}, {"a\x1A" "b\r\n\x1A\r\n", 77, {"a\x1A" "b", "\x1A"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitPluLines(c.file, c.most), c.lines) << c.file.toHex().constData();
}

class PluFile : public SepTest {};
INSTANTIATE_SEPARATORS(PluFile);

TEST_P(PluFile, SavedLineBytes)
{
    Bench b;
    b.wb.Modified = true;
    const QByteArray empty = "    " + n("0.00") + "\t" + QByteArray(13, ' ') + "\tkg\r\n";
    EXPECT_EQ(b.saved(), empty.repeated(77));
    EXPECT_FALSE(b.wb.Modified);
    EXPECT_TRUE(b.wb.CurrentFileName.isEmpty());
    EXPECT_EQ(b.titles, 0);

    b.wb.Table.setCell(colPrice, 1, n("12.50"));
    b.wb.Table.setCell(colName, 1, "Apple");
    QByteArray line = QByteArray::fromHex("20202031322e3530094170706c65") + QByteArray(8, ' ') + "\x09kg\x0d\x0a";
    line.replace('.', GetParam());
    EXPECT_EQ(b.saved(), line + empty.repeated(76));
}

TEST_P(PluFile, SaveLoadSaveKeepsEveryByte)
{
    Bench b;
    const QByteArray gbk = "\xC6\xBB\xB9\xFB";                  // two GBK characters
    const QByteArray cp1252 = "Caf\xE9 cr\xE8me";               // not UTF-8
    b.wb.Table.setCell(colPrice, 1, n("12.50"));
    b.wb.Table.setCell(colName, 1, "Apple");
    b.wb.Table.setCell(colName, 2, gbk);
    b.wb.Table.setCell(colName, 3, cp1252);
    b.wb.Table.setCell(colName, 4, " \tpadded \x01");
    b.wb.Table.setCell(colName, 5, "fifteen-bytes!!");
    b.wb.Table.setCell(colPrice, 6, n("123456.78"));             // over the limit on reload
    b.wb.Table.setCell(colUnit, 7, "lb");
    b.wb.Table.setCell(colName, 8, "a\x1A" "b");
    const QByteArray first = b.saved();
    EXPECT_EQ(first.count("\r\n"), 77);
    EXPECT_TRUE(first.contains("\t" + cp1252 + "   \tkg\r\n"));

    Bench c;
    c.load(first);
    c.expectRow(1, n("12.50"), "Apple        ", "kg");
    c.expectRow(2, n("0.00"), gbk + QByteArray(9, ' '), "kg");
    EXPECT_EQ(c.name(4), "padded       ");
    EXPECT_EQ(c.name(5), "fifteen-bytes!!");
    EXPECT_EQ(c.price(6), n("0.00"));
    EXPECT_EQ(c.wb.Table.PluRecords[7].UnitIndex, -1);
    EXPECT_EQ(c.wb.Table.PluRecords[1].UnitIndex, 0);
    c.wb.Table.setCell(colPrice, 6, n("123456.78"));   // what the first table held
    EXPECT_EQ(c.saved(), first);
}

TEST_P(PluFile, ShortLongAndMalformedFiles)
{
    Bench b;
    b.load(n("1.5\tA\tkg\r\n2\tB\tkg\r\n3\tC\tkg\r\n"));
    b.expectRow(3, n("3.00"), "C", "kg");
    b.expectRow(4, n("0.00"), "", "");
    b.expectRow(77, n("0.00"), "", "");

    b.load(n("12.5\r\n12.5\tApple\r\n\r\n  7  \tX\t  \r\n9\t\tKG\r\n9\t\tlb\r\nabc\tY\tkg\tmore\r\n"));
    b.expectRow(1, n("0.00"), n("12.5"), "");   // no TAB: all of it is the name
    b.expectRow(2, n("12.50"), "Apple", "");
    b.expectRow(3, n("0.00"), "", "");          // a blank line takes a row
    b.expectRow(4, n("7.00"), "X", "");         // a blank unit leaves it unset
    b.expectRow(5, n("9.00"), "", "KG");
    b.expectRow(6, n("9.00"), "", "lb");
    b.expectRow(7, n("0.00"), "Y", "kg\tmore");
    const TPluRecord* r = b.wb.Table.PluRecords;
    EXPECT_EQ(QList<int>({r[4].UnitIndex, r[5].UnitIndex, r[6].UnitIndex, r[7].UnitIndex}), QList<int>({0, 0, -1, -1}));
    EXPECT_DOUBLE_EQ(r[2].Price, 12.5);

    // A byte-order mark is no part of the first line and is not saved.
    b.load("\xEF\xBB\xBF" + n("    1.50") + "\tApple\tkg\r\n" + n("2.00") + "\tPear\r\n");
    EXPECT_TRUE(b.wb.LastLoadCheck.clean());
    b.expectRow(1, n("1.50"), "Apple", "kg");
    b.expectRow(2, n("2.00"), "Pear", "");
    EXPECT_TRUE(b.saved().startsWith("    " + n("1.50") + "\tApple        \tkg\r\n"));
}

// Lines after the 77th, however many, no longer count; a device that never
// ends is refused, not read into memory.
TEST_P(PluFile, OnlyTheFirstLinesAreReadFromAHugeOrEndlessFile)
{
    QByteArray file;
    for (int i = 1; i <= 77; ++i)
        file += QByteArray::number(i) + "\tN" + QByteArray::number(i) + "\tkg\r\n";
    for (const QByteArray& more : {QByteArray("78\tN78\tkg\r\n79\tN79\tkg\r\n80\tN80\tkg\r\n"),
                                   QByteArray(3 * 1024 * 1024, 'x')}) {
        Bench b;
        b.load(file + more);
        b.expectRow(1, n("1.00"), "N1", "kg");
        b.expectRow(77, n("77.00"), "N77", "kg");
        EXPECT_EQ(b.saved().count("\r\n"), 77);
    }
    Bench b;
    EXPECT_THROW(b.wb.LoadPluFile("/dev/zero"), EInOutError);
    EXPECT_EQ(b.name(1), "");
    EXPECT_FALSE(b.wb.Modified);
}

TEST_P(PluFile, LoadedPricesOutsideTheRangeShowZero)
{
    const struct {
        int command;   // price decimal command
        const char* file;
        const char* shown;
    } cases[] = {
        {3, "100000", "0.00"}, {3, "99999.99", "99999.99"}, {3, "-5", "0.00"}, {3, "-0.001", "0.00"},
        {3, "1e999", "0.00"},
        {0, "9999999", "9999999"}, {0, "9999999.5", "0"}, {0, "10000000", "0"}, {0, "1e300", "0"},
        {0, "-5", "0"}, {0, "-0.4", "0"}, {0, "2.5", "2"}, {0, "3.5", "4"},
        {5, "1234.56789", "1234.568"}, {5, "10000", "0.000"},
    };
    for (const auto& c : cases) {
        Bench b;
        b.wb.PriceDecimalCommand(c.command);
        b.load(n(c.file) + "\tx\r\n");
        EXPECT_EQ(b.price(1) + '|' + b.stored(1), n(c.shown) + '|' + n(c.shown)) << c.command << " " << c.file;
        EXPECT_EQ(b.dlg.Beeps, 0);
    }
}

TEST_P(PluFile, OpenSetsFileTitleAndClearsModified)
{
    Bench b;
    b.home.write("a.KYR", "5\tFive\tkg\r\n");
    b.dlg.OpenAnswers = {b.home.file("a.KYR")};
    b.wb.Modified = true;
    b.dlg.Answers = {MsgResult::No};
    b.wb.OpenItemClick();
    EXPECT_EQ(b.state(), "modified 0, file a.KYR, titles 1, memos 0, boxes 1, asked open 1 save 0");
    EXPECT_EQ(b.lastTitle, "Varlo Manager~[" + b.home.file("a.KYR") + "]");
    EXPECT_EQ(b.wb.WindowTitle(), b.lastTitle);
    EXPECT_EQ(b.price(1), n("5.00"));

    // A relative name is completed with the current directory.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(b.home.path());
    b.wb.LoadPluFile("a.KYR");
    QDir::setCurrent(cwd);
    EXPECT_EQ(b.wb.CurrentFileName, b.home.file("a.KYR"));

    // Cancelling the dialog changes nothing.
    b.wb.Table.setCell(colName, 1, "kept");
    b.wb.OpenItemClick();
    EXPECT_EQ(b.name(1), "kept");
    EXPECT_EQ(b.state(), "modified 0, file a.KYR, titles 2, memos 0, boxes 1, asked open 2 save 0");
}

TEST_P(PluFile, FailedOpenLeavesTheTableResetAndNamesThePath)
{
    Bench b;
    b.wb.Table.setCell(colName, 1, "old");
    b.dlg.OpenAnswers = {b.home.file("missing.KYR")};
    EXPECT_THROW(b.wb.OpenItemClick(), EInOutError);
    EXPECT_EQ(b.state(), "modified 0, file missing.KYR, titles 0, memos 0, boxes 0, asked open 1 save 0");
    EXPECT_EQ(b.name(1) + '|' + b.price(1), '|' + n("0.00"));

    QDir(b.home.path()).mkdir("dir.KYR");   // a directory cannot be read as a file
    b.dlg.OpenAnswers = {b.home.file("dir.KYR")};
    EXPECT_THROW(b.wb.OpenItemClick(), EInOutError);
    EXPECT_EQ(b.titles, 0);
}

TEST_P(PluFile, SaveAsAndSave)
{
    Bench b;
    b.wb.Modified = true;
    b.wb.SaveItemClick();   // no current file: asks for a name; cancelled
    EXPECT_EQ(b.state(), "modified 1, file , titles 0, memos 0, boxes 0, asked open 0 save 1");
    b.dlg.SaveAnswers = {b.home.file("new.KYR")};
    b.wb.SaveItemClick();
    EXPECT_EQ(b.state(), "modified 0, file new.KYR, titles 1, memos 0, boxes 0, asked open 0 save 2");
    EXPECT_EQ(b.lastTitle, "Varlo Manager~[" + b.home.file("new.KYR") + "]");
    EXPECT_EQ(b.home.read("new.KYR").count("\r\n"), 77);

    b.wb.Table.setCell(colName, 1, "Pear");
    b.wb.Modified = true;
    b.wb.SaveItemClick();   // to the current file, no question, no new title
    EXPECT_EQ(b.state(), "modified 0, file new.KYR, titles 1, memos 0, boxes 0, asked open 0 save 2");
    EXPECT_TRUE(b.home.read("new.KYR").contains("\tPear         \t"));
}

// A full disk in the middle of the write: the old file stays whole and the
// flag stays as it was, whether or not the table was modified.
TEST_P(PluFile, FailedWriteKeepsOldFileAndFlag)
{
    for (const bool modified : {true, false}) {
        Bench b;
        const QByteArray old = b.saved();
        b.wb.CurrentFileName = b.home.file("out.KYR");
        b.wb.Table.setCell(colName, 1, "changed");
        b.wb.Modified = modified;
        SetAtomicWriteFailure(1, ENOSPC);
        EXPECT_THROW(b.wb.SaveItemClick(), EInOutError);
        SetAtomicWriteFailure(0, 0);
        EXPECT_EQ(b.home.read("out.KYR"), old);
        EXPECT_EQ(b.wb.Modified, modified);

        // Save as: the new name is taken, the title is not.
        b.dlg.SaveAnswers = {b.home.file("b.KYR")};
        SetAtomicWriteFailure(1, ENOSPC);
        EXPECT_THROW(b.wb.SaveasItemClick(), EInOutError);
        SetAtomicWriteFailure(0, 0);
        EXPECT_EQ(b.state(), QStringLiteral("modified %1, file b.KYR, titles 0, memos 0, boxes 0, asked open 0 save 1")
                                 .arg(int(modified)));
        EXPECT_FALSE(QFile::exists(b.home.file("b.KYR")));
    }
}

TEST(SaveFailure, UnwritableDirectoryKeepsTheOldFile)
{
    const auto refused = [](const QString& dir) {
        Bench b;
        b.wb.LoadPluFile(dir + "old.KYR");
        b.wb.Table.setCell(colName, 1, "changed");
        b.wb.Modified = true;
        EXPECT_THROW(b.wb.SaveItemClick(), EInOutError);
        EXPECT_TRUE(b.wb.Modified);
        EXPECT_EQ(ReadFile(dir + "old.KYR"), "    1.00\tOld          \tkg\r\n");
    };
    if (!UnprivilegedDir().isEmpty())
        return refused(UnprivilegedDir());
    ScopedHome home;
    home.write("old.KYR", "    1.00\tOld          \tkg\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(home.path()).constData(), 0555), 0);
    RunUnprivileged(home.path(), refused);
    ::chmod(QFile::encodeName(home.path()).constData(), 0700);
    EXPECT_EQ(home.read("old.KYR"), "    1.00\tOld          \tkg\r\n");
}

// ---- the save question and the file commands

TEST_P(PluFile, QuerySaveAnswers)
{
    const struct {
        const char* what;
        bool modified, hasFile;
        MsgResult answer;
        const char* picked;   // in the save dialog; nullptr: cancelled
        bool goesOn;          // what QuerySave returns
        int saveAsked;
        bool stillModified;
    } cases[] = {
        {"nothing changed: no question", false, false, MsgResult::Cancel, nullptr, true, 0, false},
        {"No", true, false, MsgResult::No, nullptr, true, 0, true},
        {"Cancel", true, false, MsgResult::Cancel, nullptr, false, 0, true},
        // The save dialog cancelled keeps the unsaved table, as Cancel would.
        {"Yes without a file, dialog cancelled", true, false, MsgResult::Yes, nullptr, false, 1, true},
        {"Yes without a file, a name picked", true, false, MsgResult::Yes, "picked.KYR", true, 1, false},
        {"Yes with a file", true, true, MsgResult::Yes, nullptr, true, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        if (c.hasFile)
            b.wb.CurrentFileName = b.home.file("cur.KYR");
        b.wb.Modified = c.modified;
        b.dlg.Answers = {c.answer};
        if (c.picked)
            b.dlg.SaveAnswers = {b.home.file(c.picked)};
        EXPECT_EQ(b.wb.QuerySave(), c.goesOn);
        ASSERT_EQ(b.dlg.Boxes.size(), c.modified ? 1 : 0);
        if (c.modified) {
            EXPECT_EQ(b.dlg.Boxes[0].text, "File has not been saved, save it now?");
            EXPECT_EQ(b.dlg.Boxes[0].icon, MsgIcon::Warning);
            EXPECT_EQ(b.dlg.Boxes[0].buttons, MsgButtons::YesNoCancel);
        }
        EXPECT_EQ(b.dlg.SaveAsked, c.saveAsked);
        EXPECT_EQ(b.wb.Modified, c.stillModified);
        if (c.modified && !c.stillModified) {
            EXPECT_EQ(b.home.read(c.hasFile ? "cur.KYR" : c.picked).count("\r\n"), 77);
        }
    }
}

TEST_P(PluFile, NewCommand)
{
    // Cancel, or Yes and the save dialog cancelled: nothing reset, the memo still emptied.
    for (const MsgResult answer : {MsgResult::Cancel, MsgResult::Yes}) {
        Bench b;
        b.wb.Table.setCell(colName, 1, "kept");
        b.wb.Modified = true;
        b.dlg.Answers = {answer};
        b.wb.NewItemClick();
        EXPECT_EQ(b.name(1), "kept");
        EXPECT_EQ(b.state(), QStringLiteral("modified 1, file , titles 0, memos 1, boxes 1, asked open 0 save %1")
                                 .arg(answer == MsgResult::Yes));
    }
    {   // No: reset; the title keeps naming the old file, Save asks for a name
        Bench b;
        b.wb.SaveasItemClick();
        b.dlg.SaveAnswers = {b.home.file("x.KYR")};
        b.wb.SaveasItemClick();
        b.wb.Table.setCell(colName, 1, "gone");
        b.wb.Modified = true;
        b.dlg.Answers = {MsgResult::No};
        b.wb.NewItemClick();
        EXPECT_EQ(b.name(1), "");
        EXPECT_EQ(b.state(), "modified 0, file , titles 1, memos 1, boxes 1, asked open 0 save 2");
        b.wb.SaveItemClick();
        EXPECT_EQ(b.dlg.SaveAsked, 3);
    }
    // Yes and the save fails: the command ends, nothing reset, memo kept.
    Bench b;
    b.wb.CurrentFileName = b.home.file("no/such/dir/x.KYR");
    b.wb.Table.setCell(colName, 1, "kept");
    b.wb.Modified = true;
    b.dlg.Answers = {MsgResult::Yes};
    EXPECT_THROW(b.wb.NewItemClick(), EInOutError);
    EXPECT_EQ(b.name(1), "kept");
    b.dlg.Answers = {MsgResult::Yes};
    b.dlg.OpenAnswers = {b.home.file("other.KYR")};
    EXPECT_THROW(b.wb.OpenItemClick(), EInOutError);
    EXPECT_EQ(b.state(), "modified 1, file no/such/dir/x.KYR, titles 0, memos 0, boxes 2, asked open 0 save 0");
}

// Pasted text may hold TABs and line breaks; the file must still have 77
// lines of three fields, so no row shifts and no unit changes on reload.
TEST_P(PluFile, PastedTabsAndLineBreaksKeepTheLayout)
{
    Bench b;
    b.wb.SetEditText(colName, 1, "Ap\tple\r\nPear");
    b.wb.SetEditText(colName, 2, "Plum\nFig\rLime");
    b.wb.SetEditText(colPrice, 3, "1\t2");
    b.wb.Table.setCell(colName, 77, "Last");
    b.wb.Table.setCell(colUnit, 4, "kg\r\nx");
    const QByteArray file = b.saved();
    EXPECT_EQ(file.count('\n'), 77);
    EXPECT_EQ(file.count('\r'), 77);
    EXPECT_EQ(file.count('\t'), 2 * 77);
    EXPECT_TRUE(file.startsWith("    " + n("0.00") + "\tAp ple  Pear \tkg\r\n")) << file.left(40).constData();
    EXPECT_TRUE(file.contains("\r\n     1 2\t")) << "the price field";
    EXPECT_TRUE(file.contains("\tkg  x\r\n")) << "the unit field";

    Bench c;
    c.load(file);
    EXPECT_EQ(c.unit(1), "kg");
    EXPECT_EQ(c.wb.Table.PluRecords[1].UnitIndex, 0);
    EXPECT_EQ(c.name(2), "Plum Fig Lime");
    EXPECT_EQ(c.name(77), "Last         ");
    // A unit field runs to the line end: a TAB in it loads and saves unchanged.
    c.load("1\tA\tkg\tmore\r\n");
    EXPECT_TRUE(c.saved().startsWith("    " + n("1.00") + "\tA            \tkg\tmore\r\n"));
}

// ---- files that are no price table, and prices a load cannot take
// ('.' is the separator in force, '#' the other one)

TEST_P(PluFile, WhatALoadCannotTakeIsReported)
{
    const QString utf16 = "it is UTF-16 text, not text in the code page " + QString::fromLatin1(cp::name());
    const QString text16 = "1\tA\tkg\r\n2\tB\tkg\r\n";
    const QByteArray le16 = QByteArray("\xFF\xFE") + QByteArray(QStringEncoder(QStringConverter::Utf16LE).encode(text16));
    const QByteArray be16 = QStringEncoder(QStringConverter::Utf16BE).encode(text16);
    const struct {
        const char* name;
        int command;   // price decimal command
        QByteArray file;
        QString notPluFile;
        QStringList resetRows;
    } cases[] = {
        {"empty", 3, "", "the file is empty", {}},
        {"only Ctrl-Z", 3, "\x1A", "the file is empty", {}},
        {"junk text", 3, "Dear customer,\r\nplease find our prices attached.\r\n", "no line has a price", {}},
        {"junk text with TABs", 3, "name\tprice\tunit\r\n\r\nfoo\tbar\r\n", "no line has a price",
         {"line 1 (M1): \"name\" is not a number", "line 3 (M3): \"foo\" is not a number"}},
        {"binary", 3, "\xFF\xD8\xFF\xE0\x10JFIF\x01\x02\xC3\x28\r\n\x89\x90", "no line has a price", {}},
        {"NUL bytes", 3, QByteArray("1\tA\tkg\r\n2\tB\0\tkg\r\n", 18), "line 2 holds NUL bytes, which no text file has", {}},
        {"UTF-16 with BOM", 3, le16, utf16, {}},
        {"UTF-16 big-endian", 3, be16, utf16, {}},
        {"1e300", 3, "   1e300\tA\tkg\r\n    2.00\tB\tkg\r\n", {},
         {"line 1 (M1): \"1e300\" is above the maximum 99999.99"}},
        {"-5", 3, "      -5\tA\tkg\r\n    2.00\tB\tkg\r\n", {}, {"line 1 (M1): \"-5\" is below 0"}},
        {"only -5", 3, "-5\tA\r\n", {}, {"line 1 (M1): \"-5\" is below 0"}},
        {"BOM", 3, "\xEF\xBB\xBF    1.50\tApple\tkg\r\n", {}, {}},
        {"empty price, no TAB", 3, "\tA\tkg\r\nName only\r\n3\tC\r\n", {}, {}},
        {"key of row 8", 3, QByteArray("1\tA\r\n").repeated(7) + "x\tY\r\n", {}, {"line 8 (U1): \"x\" is not a number"}},
        {"long and control", 3, "abcdefghijklmnopqrstuvwxyz0123\tA\r\na\x01" "b\tB\r\n1\tC\r\n", {},
         {"line 1 (M1): \"abcdefghijklmnopqrstuvwx...\" is not a number", "line 2 (M2): \"a?b\" is not a number"}},
        {"whole numbers", 0, "9999999.4\tA\r\n9999999.5\tB\r\n-0.5\tC\r\n-0.6\tD\r\n", {},
         {"line 2 (M2): \"9999999.5\" is above the maximum 9999999", "line 4 (M4): \"-0.6\" is below 0"}},
        {"three decimals", 5, "9999.999\tA\r\n9999.9991\tB\r\n", {},
         {"line 2 (M2): \"9999.9991\" is above the maximum 9999.999"}},
        {"the other separator", 3, "12#50\tA\r\n12\tB\r\n", {},
         {"line 1 (M1): \"12#50\" is not a number with the decimal separator \".\""}},
    };
    const auto local = [this](QByteArray text) { return text.replace('.', GetParam()).replace('#', otherSep()); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.wb.PriceDecimalCommand(c.command);
        b.load(local(c.file));
        const PluFileCheck& check = b.wb.LastLoadCheck;
        EXPECT_EQ(check.NotPluFile.toStdString(), c.notPluFile.toStdString());
        QStringList rows;
        for (const QString& r : c.resetRows)
            rows << QString::fromLatin1(local(r.toLatin1()).replace(",,,", "..."));
        EXPECT_EQ(check.ResetRows.join('\n').toStdString(), rows.join('\n').toStdString());
        // What is reported is what the table shows as 0.
        for (const QString& r : rows) {
            const int line = r.section(' ', 1, 1).toInt();
            EXPECT_EQ(b.price(line), b.wb.Table.cell(colPrice, 77)) << "line " << line;
        }
        EXPECT_FALSE(b.wb.Modified);
    }
}

TEST_P(PluFile, OpenRefusesAFileThatIsNoPluFileAndKeepsTheTable)
{
    Bench b;
    b.home.write("a.KYR", n("5") + "\tFive\tkg\r\n");
    b.home.write("notes.KYR", "Dear customer,\r\n");
    b.dlg.OpenAnswers = {b.home.file("a.KYR"), b.home.file("notes.KYR")};
    b.wb.OpenItemClick();
    try {
        b.wb.OpenItemClick();
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.fullText().toStdString(),
                  ("\"" + b.home.file("notes.KYR") + "\" is not a PLU file: no line has a price.\n"
                   "Nothing was loaded; the table is as it was.").toStdString());
    }
    EXPECT_EQ(b.name(1) + '|' + b.price(1), "Five|" + n("5.00"));
    EXPECT_EQ(b.state(), "modified 0, file a.KYR, titles 1, memos 0, boxes 0, asked open 2 save 0");
}

TEST_P(PluFile, OpenListsTheResetPricesOnce)
{
    Bench b;
    QByteArray file;
    for (int i = 1; i <= 25; ++i)
        file += "x" + QByteArray::number(i) + "\tN\r\n";
    b.home.write("bad.KYR", file + n("1.00") + "\tOK\r\n");
    b.home.write("good.KYR", n("1.00") + "\tOK\r\n");
    b.dlg.OpenAnswers = {b.home.file("bad.KYR"), b.home.file("good.KYR")};
    b.wb.OpenItemClick();
    ASSERT_EQ(b.dlg.Boxes.size(), 1);
    EXPECT_EQ(b.dlg.Boxes[0].icon, MsgIcon::Warning);
    QString expected = "25 prices in \"" + b.home.file("bad.KYR") + "\" cannot be read and were set to 0:\n";
    for (int i = 1; i <= 20; ++i)
        expected += QStringLiteral("line %1 (%2): \"x%1\" is not a number\n").arg(i).arg(PluKeyName(i));
    expected += "... and 5 more\nCorrect these prices before the next download.";
    EXPECT_EQ(b.dlg.Boxes[0].text.toStdString(), expected.toStdString());
    EXPECT_EQ(b.price(26), n("1.00"));
    EXPECT_EQ(b.wb.CurrentFileName, b.home.file("bad.KYR"));
    b.wb.OpenItemClick();   // a clean file: no box
    EXPECT_EQ(b.dlg.Boxes.size(), 1);
}
