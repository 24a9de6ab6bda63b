#include "atomicfile.h"
#include "codepage.h"
#include "errors.h"
#include "exedir.h"
#include "plufile.h"
#include "wbtest.h"
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void load(Bench& b, const QByteArray& bytes)
{
    b.home.write("in.KYR", bytes);
    b.wb.ResetTable();
    b.wb.LoadPluFile(b.home.file("in.KYR"));
}

QByteArray saved(Bench& b)
{
    b.wb.SavePluFile(b.home.file("out.KYR"));
    return b.home.read("out.KYR");
}

#define EXPECT_ROW(b, r, p, nm, u)                   \
    do {                                             \
        EXPECT_EQ((b).price(r), p) << "row " << r;   \
        EXPECT_EQ((b).stored(r), p) << "row " << r;  \
        EXPECT_EQ((b).name(r), nm) << "row " << r;   \
        EXPECT_EQ((b).unit(r), u) << "row " << r;    \
    } while (0)

} // namespace

TEST(PluFormat, PaddingCountsBytesAndNeverCuts)
{
    EXPECT_EQ(padLeft("0.00", 8), "    0.00");
    EXPECT_EQ(padLeft("123456789", 8), "123456789");
    EXPECT_EQ(padLeft("", 3), "   ");
    EXPECT_EQ(padRight("Apple", 13), "Apple        ");
    EXPECT_EQ(padRight("\xC6\xBB\xB9\xFB", 6), "\xC6\xBB\xB9\xFB  ");
    EXPECT_EQ(padRight("abc", -1), "abc");
    EXPECT_EQ(trimBlanks(" \t\x01 a b\x1F\r "), "a b");
}

TEST(PluFormat, LineEnds)
{
    using L = QList<QByteArray>;
    EXPECT_EQ(SplitPluLines("a\r\nb\nc\rd", 77), (L{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitPluLines("a\r\r\nb\n\n", 77), (L{"a", "", "b", ""}));
    EXPECT_EQ(SplitPluLines("\r\n\r\n", 77), (L{"", ""}));
    EXPECT_EQ(SplitPluLines("\n\r", 77), (L{"", ""}));   // LF then a lone CR: two ends
    EXPECT_EQ(SplitPluLines("", 77), L{});
    EXPECT_EQ(SplitPluLines("a\nb\nc", 2), (L{"a", "b"}));
    // Ctrl-Z: an end-of-file mark at the very end, data elsewhere.
    EXPECT_EQ(SplitPluLines("a\r\n\x1A\x1A", 77), L{"a"});
    EXPECT_EQ(SplitPluLines("a\x1A\x1A", 77), L{"a"});
    EXPECT_EQ(SplitPluLines("a\x1A" "b\r\n\x1A\r\n", 77), (L{"a\x1A" "b", "\x1A"}));
}

class PluFile : public SepTest {};
INSTANTIATE_SEPARATORS(PluFile);

TEST_P(PluFile, ExampleLineBytes)
{
    Bench b;
    b.wb.Table.setCell(colPrice, 1, n("12.50"));
    b.wb.Table.setCell(colName, 1, "Apple");
    QByteArray line = QByteArray::fromHex("20202031322e3530094170706c65") + QByteArray(8, ' ')
        + QByteArray::fromHex("096b670d0a");
    line.replace('.', GetParam());
    EXPECT_EQ(saved(b).left(line.size()), line);
}

TEST_P(PluFile, UntouchedTableIs77IdenticalLines)
{
    Bench b;
    b.wb.Modified = true;
    const QByteArray line = "    " + n("0.00") + "\t" + QByteArray(13, ' ') + "\tkg\r\n";
    EXPECT_EQ(saved(b), line.repeated(77));
    EXPECT_FALSE(b.wb.Modified);
    EXPECT_TRUE(b.wb.CurrentFileName.isEmpty());
    EXPECT_EQ(b.titles, 0);
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
    const QByteArray first = saved(b);
    EXPECT_EQ(first.count("\r\n"), 77);
    EXPECT_TRUE(first.contains("\t" + cp1252 + "   \tkg\r\n"));

    Bench c;
    load(c, first);
    EXPECT_ROW(c, 1, n("12.50"), "Apple        ", "kg");
    EXPECT_ROW(c, 2, n("0.00"), gbk + QByteArray(9, ' '), "kg");
    EXPECT_EQ(c.name(4), "padded       ");
    EXPECT_EQ(c.name(5), "fifteen-bytes!!");
    EXPECT_EQ(c.price(6), n("0.00"));
    EXPECT_EQ(c.wb.Table.PluRecords[7].UnitIndex, -1);
    EXPECT_EQ(c.wb.Table.PluRecords[1].UnitIndex, 0);
    c.wb.Table.setCell(colPrice, 6, n("123456.78"));   // what the first table held
    EXPECT_EQ(saved(c), first);
}

TEST_P(PluFile, ShortLongAndMalformedFiles)
{
    {
        Bench b;
        load(b, n("1.5\tA\tkg\r\n2\tB\tkg\r\n3\tC\tkg\r\n"));
        EXPECT_ROW(b, 3, n("3.00"), "C", "kg");
        EXPECT_ROW(b, 4, n("0.00"), "", "");
        EXPECT_ROW(b, 77, n("0.00"), "", "");
    }
    {
        Bench b;
        QByteArray file;
        for (int i = 1; i <= 80; ++i)
            file += QByteArray::number(i) + "\tN" + QByteArray::number(i) + "\tkg\r\n";
        load(b, file);
        EXPECT_ROW(b, 77, n("77.00"), "N77", "kg");
        EXPECT_EQ(saved(b).count("\r\n"), 77);
    }
    {
        Bench b;
        load(b, n("12.5\r\n12.5\tApple\r\n\r\n  7  \tX\t  \r\n9\t\tKG\r\n9\t\tlb\r\nabc\tY\tkg\tmore\r\n"));
        EXPECT_ROW(b, 1, n("0.00"), n("12.5"), "");   // no TAB: all of it is the name
        EXPECT_ROW(b, 2, n("12.50"), "Apple", "");
        EXPECT_ROW(b, 3, n("0.00"), "", "");          // a blank line takes a row
        EXPECT_ROW(b, 4, n("7.00"), "X", "");         // a blank unit leaves it unset
        EXPECT_ROW(b, 5, n("9.00"), "", "KG");
        EXPECT_ROW(b, 6, n("9.00"), "", "lb");
        EXPECT_ROW(b, 7, n("0.00"), "Y", "kg\tmore");
        const TPluRecord* r = b.wb.Table.PluRecords;
        EXPECT_EQ(r[4].UnitIndex, 0);
        EXPECT_EQ(r[5].UnitIndex, 0);
        EXPECT_EQ(r[6].UnitIndex, -1);
        EXPECT_EQ(r[7].UnitIndex, -1);
        EXPECT_DOUBLE_EQ(r[2].Price, 12.5);
    }
}

TEST_P(PluFile, OtherSeparatorGivesZeroForDecimals)
{
    Bench b;
    QByteArray file = "12.50\tA\r\n12\tB\r\n";
    file.replace('.', otherSep());
    load(b, file);
    EXPECT_EQ(b.price(1), n("0.00"));
    EXPECT_EQ(b.price(2), n("12.00"));
}

TEST_P(PluFile, LoadedPricesOutsideTheRangeShowZero)
{
    struct Case {
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
    for (const Case& c : cases) {
        Bench b;
        b.wb.PriceDecimalCommand(c.command);
        load(b, n(c.file) + "\tx\r\n");
        EXPECT_EQ(b.price(1), n(c.shown)) << c.command << " " << c.file;
        EXPECT_EQ(b.stored(1), n(c.shown)) << c.command << " " << c.file;
        EXPECT_EQ(b.dlg.Beeps, 0);
    }
}

TEST_P(PluFile, OpenSetsFileTitleAndClearsModified)
{
    Bench b;
    b.home.write("a.KYR", "5\tFive\tkg\r\n");
    b.dlg.OpenAnswers = {b.home.file("a.KYR")};
    b.wb.OpenItemClick();
    EXPECT_EQ(b.wb.CurrentFileName, b.home.file("a.KYR"));
    EXPECT_EQ(b.titles, 1);
    EXPECT_EQ(b.lastTitle, "Varlo Manager~[" + b.home.file("a.KYR") + "]");
    EXPECT_EQ(b.wb.WindowTitle(), b.lastTitle);
    EXPECT_FALSE(b.wb.Modified);
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
    EXPECT_EQ(b.titles, 2);
}

TEST_P(PluFile, FailedOpenLeavesTheTableResetAndNamesThePath)
{
    Bench b;
    b.wb.Table.setCell(colName, 1, "old");
    b.dlg.OpenAnswers = {b.home.file("missing.KYR")};
    EXPECT_THROW(b.wb.OpenItemClick(), EInOutError);
    EXPECT_EQ(b.wb.CurrentFileName, b.home.file("missing.KYR"));
    EXPECT_FALSE(b.wb.Modified);
    EXPECT_EQ(b.name(1), "");
    EXPECT_EQ(b.price(1), n("0.00"));
    EXPECT_EQ(b.titles, 0);

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
    EXPECT_EQ(b.dlg.SaveAsked, 1);
    EXPECT_TRUE(b.wb.Modified);
    EXPECT_EQ(b.titles, 0);

    b.dlg.SaveAnswers = {b.home.file("new.KYR")};
    b.wb.SaveItemClick();
    EXPECT_EQ(b.wb.CurrentFileName, b.home.file("new.KYR"));
    EXPECT_EQ(b.lastTitle, "Varlo Manager~[" + b.home.file("new.KYR") + "]");
    EXPECT_FALSE(b.wb.Modified);
    EXPECT_EQ(b.home.read("new.KYR").count("\r\n"), 77);

    b.wb.Table.setCell(colName, 1, "Pear");
    b.wb.Modified = true;
    b.wb.SaveItemClick();   // to the current file, no question, no new title
    EXPECT_EQ(b.dlg.SaveAsked, 2);
    EXPECT_EQ(b.titles, 1);
    EXPECT_TRUE(b.home.read("new.KYR").contains("\tPear         \t"));
}

// A full disk in the middle of the write: the old file stays whole and the
// flag stays as it was, whether or not the table was modified.
TEST_P(PluFile, FailedWriteKeepsOldFileAndFlag)
{
    for (const bool modified : {true, false}) {
        Bench b;
        b.wb.SavePluFile(b.home.file("a.KYR"));
        const QByteArray old = b.home.read("a.KYR");
        b.wb.CurrentFileName = b.home.file("a.KYR");
        b.wb.Table.setCell(colName, 1, "changed");
        b.wb.Modified = modified;
        SetAtomicWriteFailure(1, ENOSPC);
        EXPECT_THROW(b.wb.SaveItemClick(), EInOutError);
        SetAtomicWriteFailure(0, 0);
        EXPECT_EQ(b.home.read("a.KYR"), old);
        EXPECT_EQ(b.wb.Modified, modified);

        // Save as: the new name is taken, the title is not.
        b.dlg.SaveAnswers = {b.home.file("b.KYR")};
        SetAtomicWriteFailure(1, ENOSPC);
        EXPECT_THROW(b.wb.SaveasItemClick(), EInOutError);
        SetAtomicWriteFailure(0, 0);
        EXPECT_EQ(b.wb.CurrentFileName, b.home.file("b.KYR"));
        EXPECT_EQ(b.titles, 0);
        EXPECT_EQ(b.wb.Modified, modified);
        EXPECT_FALSE(QFile::exists(b.home.file("b.KYR")));
    }
}

// ---- unwritable directory, as an unprivileged user (root ignores permissions)

namespace {
const char* const ChildDirEnv = "VARLO_WB_UNWRITABLE_DIR";

void saveIntoUnwritableDirectory(const QString& dir)
{
    ScriptedDialogs dlg;
    TIniOptions opts;
    Workbook wb(opts);
    SetExeDir(dir);
    wb.Initialise();
    const QString path = dir + "/old.KYR";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray old = f.readAll();
    f.close();
    wb.LoadPluFile(path);
    wb.Table.setCell(colName, 1, "changed");
    wb.Modified = true;
    EXPECT_THROW(wb.SaveItemClick(), EInOutError);
    EXPECT_TRUE(wb.Modified);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);
}
} // namespace

TEST(SaveFailure, UnwritableDirectoryKeepsTheOldFile)
{
    if (qEnvironmentVariableIsSet(ChildDirEnv)) {   // the re-executed, unprivileged run
        saveIntoUnwritableDirectory(qEnvironmentVariable(ChildDirEnv));
        return;
    }
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QByteArray old = "    1.00\tOld          \tkg\r\n";
    {
        QFile f(tmp.path() + "/old.KYR");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    const QByteArray dir = QFile::encodeName(tmp.path());
    ASSERT_EQ(::chmod(dir.constData(), 0555), 0);
    if (::geteuid() != 0) {
        saveIntoUnwritableDirectory(tmp.path());
    } else {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(ChildDirEnv, tmp.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                QCoreApplication::applicationFilePath(),
                                "--gtest_filter=SaveFailure.UnwritableDirectoryKeepsTheOldFile"});
        if (!child.waitForStarted(10000))
            GTEST_SKIP() << "setpriv is not available";
        ASSERT_TRUE(child.waitForFinished(60000));
        const QByteArray out = child.readAll();
        EXPECT_EQ(child.exitCode(), 0) << out.constData();
        EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.constData();
    }
    QFile f(tmp.path() + "/old.KYR");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);
    ::chmod(dir.constData(), 0700);
}

// ---- the save question and the file commands

TEST_P(PluFile, QuerySaveAnswers)
{
    {   // nothing changed: no question
        Bench b;
        EXPECT_TRUE(b.wb.QuerySave());
        EXPECT_TRUE(b.dlg.Boxes.isEmpty());
    }
    {   // No
        Bench b;
        b.wb.Modified = true;
        b.dlg.Answers = {MsgResult::No};
        EXPECT_TRUE(b.wb.QuerySave());
        ASSERT_EQ(b.dlg.Boxes.size(), 1);
        EXPECT_EQ(b.dlg.Boxes[0].text, "File has not been saved, save it now?");
        EXPECT_EQ(b.dlg.Boxes[0].icon, MsgIcon::Warning);
        EXPECT_EQ(b.dlg.Boxes[0].buttons, MsgButtons::YesNoCancel);
        EXPECT_EQ(b.dlg.SaveAsked, 0);
        EXPECT_TRUE(b.wb.Modified);
    }
    {   // Cancel
        Bench b;
        b.wb.Modified = true;
        b.dlg.Answers = {MsgResult::Cancel};
        EXPECT_FALSE(b.wb.QuerySave());
    }
    {   // Yes without a file: the save dialog; cancelling it keeps the
        // unsaved table, as Cancel would
        Bench b;
        b.wb.Modified = true;
        b.dlg.Answers = {MsgResult::Yes};
        EXPECT_FALSE(b.wb.QuerySave());
        EXPECT_EQ(b.dlg.SaveAsked, 1);
        EXPECT_TRUE(b.wb.Modified);
    }
    {   // Yes without a file, a name picked: saved there, the caller goes on
        Bench b;
        b.wb.Modified = true;
        b.dlg.Answers = {MsgResult::Yes};
        b.dlg.SaveAnswers = {b.home.file("picked.KYR")};
        EXPECT_TRUE(b.wb.QuerySave());
        EXPECT_FALSE(b.wb.Modified);
        EXPECT_EQ(b.home.read("picked.KYR").count("\r\n"), 77);
    }
    {   // Yes with a file: saved there
        Bench b;
        b.wb.CurrentFileName = b.home.file("cur.KYR");
        b.wb.Modified = true;
        b.dlg.Answers = {MsgResult::Yes};
        EXPECT_TRUE(b.wb.QuerySave());
        EXPECT_EQ(b.dlg.SaveAsked, 0);
        EXPECT_FALSE(b.wb.Modified);
        EXPECT_EQ(b.home.read("cur.KYR").count("\r\n"), 77);
    }
}

TEST_P(PluFile, NewCommand)
{
    {   // Cancel keeps the table and still empties the memo
        Bench b;
        b.wb.Table.setCell(colName, 1, "kept");
        b.wb.Modified = true;
        b.dlg.Answers = {MsgResult::Cancel};
        b.wb.NewItemClick();
        EXPECT_EQ(b.name(1), "kept");
        EXPECT_TRUE(b.wb.Modified);
        EXPECT_EQ(b.memos, 1);
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
        EXPECT_TRUE(b.wb.CurrentFileName.isEmpty());
        EXPECT_EQ(b.titles, 1);
        EXPECT_EQ(b.memos, 1);
        const int asked = b.dlg.SaveAsked;
        b.wb.SaveItemClick();
        EXPECT_EQ(b.dlg.SaveAsked, asked + 1);
    }
    {   // Yes and the save dialog cancelled: nothing reset, the memo still emptied
        Bench b;
        b.wb.Table.setCell(colName, 1, "kept");
        b.wb.Modified = true;
        b.dlg.Answers = {MsgResult::Yes};
        b.wb.NewItemClick();
        EXPECT_EQ(b.name(1), "kept");
        EXPECT_TRUE(b.wb.Modified);
        EXPECT_EQ(b.memos, 1);
    }
    {   // Yes and the save fails: the command ends, nothing reset, memo kept
        Bench b;
        b.wb.CurrentFileName = b.home.file("no/such/dir/x.KYR");
        b.wb.Table.setCell(colName, 1, "kept");
        b.wb.Modified = true;
        b.dlg.Answers = {MsgResult::Yes};
        EXPECT_THROW(b.wb.NewItemClick(), EInOutError);
        EXPECT_EQ(b.name(1), "kept");
        EXPECT_TRUE(b.wb.Modified);
        EXPECT_EQ(b.memos, 0);
        b.dlg.Answers = {MsgResult::Yes};
        b.dlg.OpenAnswers = {b.home.file("other.KYR")};
        EXPECT_THROW(b.wb.OpenItemClick(), EInOutError);
        EXPECT_EQ(b.dlg.OpenAsked, 0);
    }
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
    const QByteArray file = saved(b);
    EXPECT_EQ(file.count('\n'), 77);
    EXPECT_EQ(file.count('\r'), 77);
    EXPECT_EQ(file.count('\t'), 2 * 77);
    EXPECT_TRUE(file.startsWith("    " + n("0.00") + "\tAp ple  Pear \tkg\r\n")) << file.left(40).constData();
    EXPECT_TRUE(file.contains("\r\n     1 2\t")) << "the price field";
    EXPECT_TRUE(file.contains("\tkg  x\r\n")) << "the unit field";

    Bench c;
    load(c, file);
    EXPECT_EQ(c.unit(1), "kg");
    EXPECT_EQ(c.wb.Table.PluRecords[1].UnitIndex, 0);
    EXPECT_EQ(c.name(2), "Plum Fig Lime");
    EXPECT_EQ(c.name(77), "Last         ");
    // A unit field runs to the line end: a TAB in it loads and saves unchanged.
    load(c, "1\tA\tkg\tmore\r\n");
    EXPECT_TRUE(saved(c).startsWith("    " + n("1.00") + "\tA            \tkg\tmore\r\n"));
}

TEST_P(PluFile, OnlyTheFirstLinesAreReadFromAHugeOrEndlessFile)
{
    {
        // 77 lines, then megabytes that no longer count.
        Bench b;
        QByteArray file;
        for (int i = 1; i <= 77; ++i)
            file += QByteArray::number(i) + "\tN" + QByteArray::number(i) + "\tkg\r\n";
        file += QByteArray(3 * 1024 * 1024, 'x');
        load(b, file);
        EXPECT_ROW(b, 1, n("1.00"), "N1", "kg");
        EXPECT_ROW(b, 77, n("77.00"), "N77", "kg");
    }
    {
        // A device that never ends: refused, not read into memory.
        Bench b;
        EXPECT_THROW(b.wb.LoadPluFile("/dev/zero"), EInOutError);
        EXPECT_EQ(b.name(1), "");
        EXPECT_FALSE(b.wb.Modified);
    }
}

// ---- files that are no price table, and prices a load cannot take

namespace {
QByteArray Utf16(const QString& text, bool bigEndian, bool bom)
{
    QByteArray out = bom ? QByteArray(bigEndian ? "\xFE\xFF" : "\xFF\xFE", 2) : QByteArray();
    for (QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out += bigEndian ? QByteArray{&hi, 1} + QByteArray{&lo, 1} : QByteArray{&lo, 1} + QByteArray{&hi, 1};
    }
    return out;
}
} // namespace

TEST_P(PluFile, WhatALoadCannotTakeIsReported)
{
    const QString utf16 = "it is UTF-16 text, not text in the code page " + QString::fromLatin1(cp::name());
    QByteArray lines8;
    for (int i = 1; i <= 7; ++i)
        lines8 += "1\tA\r\n";
    struct Case {
        const char* name;
        int command;   // price decimal command
        QByteArray file;
        QString notPluFile;
        QStringList resetRows;
    } const cases[] = {
        {"empty", 3, "", "the file is empty", {}},
        {"only Ctrl-Z", 3, "\x1A", "the file is empty", {}},
        {"junk text", 3, "Dear customer,\r\nplease find our prices attached.\r\n", "no line has a price", {}},
        {"junk text with TABs", 3, "name\tprice\tunit\r\n\r\nfoo\tbar\r\n", "no line has a price",
         {"line 1 (M1): \"name\" is not a number", "line 3 (M3): \"foo\" is not a number"}},
        {"binary", 3, "\xFF\xD8\xFF\xE0\x10JFIF\x01\x02\xC3\x28\r\n\x89\x90", "no line has a price", {}},
        {"NUL bytes", 3, QByteArray("1\tA\tkg\r\n2\tB\0\tkg\r\n", 18), "line 2 holds NUL bytes, which no text file has", {}},
        {"UTF-16 with BOM", 3, Utf16("1\tA\tkg\r\n2\tB\tkg\r\n", false, true), utf16, {}},
        {"UTF-16 big-endian", 3, Utf16("1\tA\tkg\r\n2\tB\tkg\r\n", true, false), utf16, {}},
        {"1e300", 3, "   1e300\tA\tkg\r\n    2.00\tB\tkg\r\n", {},
         {"line 1 (M1): \"1e300\" is above the maximum 99999.99"}},
        {"-5", 3, "      -5\tA\tkg\r\n    2.00\tB\tkg\r\n", {}, {"line 1 (M1): \"-5\" is below 0"}},
        {"only -5", 3, "-5\tA\r\n", {}, {"line 1 (M1): \"-5\" is below 0"}},
        {"BOM", 3, "\xEF\xBB\xBF    1.50\tApple\tkg\r\n", {}, {}},
        {"empty price, no TAB", 3, "\tA\tkg\r\nName only\r\n3\tC\r\n", {}, {}},
        {"key of row 8", 3, lines8 + "x\tY\r\n", {}, {"line 8 (U1): \"x\" is not a number"}},
        {"long and control", 3, "abcdefghijklmnopqrstuvwxyz0123\tA\r\na\x01" "b\tB\r\n1\tC\r\n", {},
         {"line 1 (M1): \"abcdefghijklmnopqrstuvwx...\" is not a number",
          "line 2 (M2): \"a?b\" is not a number"}},
        {"whole numbers", 0, "9999999.4\tA\r\n9999999.5\tB\r\n-0.5\tC\r\n-0.6\tD\r\n", {},
         {"line 2 (M2): \"9999999.5\" is above the maximum 9999999", "line 4 (M4): \"-0.6\" is below 0"}},
        {"three decimals", 5, "9999.999\tA\r\n9999.9991\tB\r\n", {},
         {"line 2 (M2): \"9999.9991\" is above the maximum 9999.999"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.wb.PriceDecimalCommand(c.command);
        QByteArray file = c.file;
        if (GetParam() == ',')
            file.replace('.', ',');
        load(b, file);
        const PluFileCheck& check = b.wb.LastLoadCheck;
        EXPECT_EQ(check.NotPluFile.toStdString(), c.notPluFile.toStdString());
        QStringList rows;
        for (const QString& r : c.resetRows)
            rows << QString(r).replace('.', QLatin1Char(GetParam())).replace(",,,", "...");
        EXPECT_EQ(check.ResetRows.join('\n').toStdString(), rows.join('\n').toStdString());
        // What is reported is what the table shows as 0.
        for (const QString& r : rows) {
            const int line = r.section(' ', 1, 1).toInt();
            EXPECT_EQ(b.price(line), b.wb.Table.cell(colPrice, 77)) << "line " << line;
        }
        EXPECT_FALSE(b.wb.Modified);
    }
}

TEST_P(PluFile, AByteOrderMarkIsNoPartOfTheFirstLine)
{
    Bench b;
    load(b, "\xEF\xBB\xBF" + n("    1.50") + "\tApple\tkg\r\n" + n("2.00") + "\tPear\r\n");
    EXPECT_TRUE(b.wb.LastLoadCheck.clean());
    EXPECT_ROW(b, 1, n("1.50"), "Apple", "kg");
    EXPECT_ROW(b, 2, n("2.00"), "Pear", "");
    EXPECT_TRUE(saved(b).startsWith("    " + n("1.50") + "\tApple        \tkg\r\n"));
}

TEST_P(PluFile, ThePriceOfAnotherSeparatorIsNamed)
{
    Bench b;
    QByteArray file = "12.50\tA\r\n12\tB\r\n";
    file.replace('.', otherSep());
    load(b, file);
    EXPECT_EQ(b.wb.LastLoadCheck.ResetRows,
              QStringList{"line 1 (M1): \"12" + QString(QLatin1Char(otherSep())) +
                          "50\" is not a number with the decimal separator \"" + QLatin1Char(GetParam()) + "\""});
}

TEST_P(PluFile, OpenRefusesAFileThatIsNoPluFileAndKeepsTheTable)
{
    Bench b;
    b.home.write("a.KYR", n("5") + "\tFive\tkg\r\n");
    b.dlg.OpenAnswers = {b.home.file("a.KYR")};
    b.wb.OpenItemClick();
    b.home.write("notes.KYR", "Dear customer,\r\n");
    b.dlg.OpenAnswers = {b.home.file("notes.KYR")};
    try {
        b.wb.OpenItemClick();
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.fullText().toStdString(),
                  ("\"" + b.home.file("notes.KYR") + "\" is not a PLU file: no line has a price.\n"
                   "Nothing was loaded; the table is as it was.").toStdString());
    }
    EXPECT_EQ(b.name(1), "Five");
    EXPECT_EQ(b.price(1), n("5.00"));
    EXPECT_EQ(b.wb.CurrentFileName, b.home.file("a.KYR"));
    EXPECT_EQ(b.titles, 1);
    EXPECT_TRUE(b.dlg.Boxes.isEmpty());
}

TEST_P(PluFile, OpenListsTheResetPricesOnce)
{
    Bench b;
    QByteArray file;
    for (int i = 1; i <= 25; ++i)
        file += "x" + QByteArray::number(i) + "\tN\r\n";
    file += n("1.00") + "\tOK\r\n";
    b.home.write("bad.KYR", file);
    b.dlg.OpenAnswers = {b.home.file("bad.KYR")};
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

    // A clean file: no box.
    b.home.write("good.KYR", n("1.00") + "\tOK\r\n");
    b.dlg.OpenAnswers = {b.home.file("good.KYR")};
    b.wb.OpenItemClick();
    EXPECT_EQ(b.dlg.Boxes.size(), 1);
}

TEST(PluFormat, KeyNames)
{
    EXPECT_EQ(PluKeyName(1), "M1");
    EXPECT_EQ(PluKeyName(7), "M7");
    EXPECT_EQ(PluKeyName(8), "U1");
    EXPECT_EQ(PluKeyName(77), "U70");
}
