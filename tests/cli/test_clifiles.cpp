// The file sub-commands as a script runs them: exit status, output, and
// what is left in the files. The checks of each row are unit-tested in
// tests/workbook, the arguments in test_cliargs.cpp; here the contract of
// the command line.
#include "clirun.h"

namespace {

QByteArray pluLine(const char* price, const char* name)
{
    return QByteArray(price).rightJustified(8) + '\t' + QByteArray(name).leftJustified(13) + "\tkg\r\n";
}

QByteArray table(const QByteArray& firstLines, int lines)
{
    QByteArray t = firstLines;
    for (int i = lines; i < 77; ++i)
        t += pluLine("0.00", "");
    return t;
}

} // namespace

TEST(CliFiles, ExitStatusOutputAndFiles)
{
    const QByteArray plu = table(pluLine("12.50", "Apple") + pluLine("1.00", "Pear"), 2);
    struct Case {
        const char* what;
        QStringList args;
        QByteArray csv;          // written to in.csv first
        int status;
        const char* out;         // stdout starts with this
        const char* err;         // stderr contains this
        QByteArray pluAfter;     // a.KYR afterwards
    };
    const QList<Case> cases = {
        {"export to stdout", {"export", "a.KYR"}, {}, 0, "\xEF\xBB\xBFKey,Unit Price,Name,Unit\r\nM1,12.50,Apple,kg\r\n", "", plu},
        {"export to a file", {"export", "a.KYR", "out.csv", "--separator", ";"}, {}, 0, "", "", plu},
        {"a missing PLU file", {"export", "none.KYR"}, {}, 2, "", "none.KYR", plu},
        {"a bad row refuses the import", {"import", "in.csv", "a.KYR"}, "Key,Unit Price\nM1,3\nU1,-1\n", 2, "",
         "line 3, U1: the price is negative", plu},
        {"a good import", {"import", "in.csv", "a.KYR"}, "Key,Unit Price\nM1,3\nM2,1.0\n", 0, "1 row(s) changed.", "",
         table(pluLine("3.00", "Apple") + pluLine("1.00", "Pear"), 2)},
        {"reprice", {"reprice", "a.KYR", "--percent", "10", "--keys", "M2-U1"}, {}, 0, "M2   Pear", "",
         table(pluLine("12.50", "Apple") + pluLine("1.10", "Pear"), 2)},
        {"a refused reprice", {"reprice", "a.KYR", "--amount", "-5"}, {}, 2, "", "M2   Pear", plu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedHome home;
        home.write("a.KYR", plu);
        if (!c.csv.isEmpty())
            home.write("in.csv", c.csv);
        const Result r = RunManager(c.args, home.path());
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        EXPECT_TRUE(r.out.startsWith(c.out)) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
        EXPECT_EQ(home.read("a.KYR"), c.pluAfter);
        EXPECT_FALSE(QFile::exists(home.file("DEBUG.LOG")));   // no link was opened
    }
    ScopedHome home;
    home.write("in.csv", "Key;Unit Price;Name\nU70;2;Nut\n");
    EXPECT_EQ(RunManager({"import", "in.csv", "new.KYR"}, home.path()).status, 0);
    EXPECT_EQ(home.read("new.KYR"), table({}, 0).replace(76 * 27, 27, pluLine("2.00", "Nut")));
}
