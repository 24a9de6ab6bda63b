#include "codepage.h"
#include "csvfile.h"
#include "golden.h"
#include "plufile.h"
#include "pricecsv.h"
#include "wbtest.h"

namespace {

// The code page and decimal separator of one case, restored afterwards.
struct Locale {
    Locale(const char* codePage, char sep)
    {
        cp::setName(codePage);
        regional::setDecimalSeparator(sep);
        MessageTexts.resetToBuiltIn();
    }
    ~Locale()
    {
        cp::useLocaleCodePage();
        regional::setDecimalSeparator('.');
    }
};

int import(Bench& b, const QByteArray& csv, CsvImport* out = nullptr)
{
    const CsvImport in = ReadPluCsv(csv, b.wb);
    if (out)
        *out = in;
    return in.ok() ? ApplyPluCsv(in, b.wb) : -1;
}

} // namespace

TEST(Csv, RecordsKeepTheirStartLineAcrossQuotedBreaksAndBlankLines)
{
    const QList<CsvRecord> r = ParseCsv("a,b\r\n\r\n\"x\r\ny\",\"q\"\"\"\n\nlast,\"open\n", ',');
    ASSERT_EQ(r.size(), 3);
    EXPECT_EQ(r[0].Line, 1);
    EXPECT_EQ(r[1].Line, 3);
    EXPECT_EQ(r[1].Fields, (QList<QByteArray>{"x\r\ny", "q\""}));
    EXPECT_EQ(r[2].Line, 6);
    EXPECT_EQ(r[2].Fields, (QList<QByteArray>{"last", "open\n"}));   // an unclosed quote runs to the end
    EXPECT_EQ(ParseCsv("k;p\rM1;2", ';')[1].Line, 2);                  // a lone CR ends a line too
}

TEST(Csv, WriterQuotesOnlyWhatMustBeQuoted)
{
    EXPECT_EQ(CsvLine({"M1", "12.50", "Ham, \"smoked\"", " kg"}, ','), "M1,12.50,\"Ham, \"\"smoked\"\"\",\" kg\"\r\n");
    EXPECT_EQ(CsvLine({"M1", "12,50", "a;b", ""}, ';'), "M1;12,50;\"a;b\";\r\n");
    EXPECT_EQ(CsvLine({"x\ny", "1,5"}, '\t'), "\"x\ny\"\t1,5\r\n");
}

TEST(PriceCsv, ExportHasTheMarkTheHeaderAndUnpaddedNames)
{
    Locale l("UTF-8", ',');
    Bench b;
    b.wb.Table.setCell(colName, 1, "Apple        ");
    const QByteArray csv = ExportPluCsv(b.wb.Table, DefaultCsvSeparator());
    EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBFKey;Unit Price;Name;Unit\r\nM1;0,00;Apple;kg\r\nM2;0,00;;kg\r\n"));
    EXPECT_TRUE(csv.endsWith("U70;0,00;;kg\r\n"));
    EXPECT_EQ(csv.count("\r\n"), 78);
}

// Every golden file comes back byte for byte through CSV, under every separator.
TEST(PriceCsv, ExportImportRoundTripKeepsEveryByteOfTheGoldenFiles)
{
    struct Case { const char* file; int mode; char sep; const char* codePage; };
    const Case cases[] = {
        {"mode2_point.KYR", 3, '.', "UTF-8"},     {"mode2_comma.KYR", 3, ',', "UTF-8"},
        {"mode0.KYR", 0, '.', "UTF-8"},           {"mode3_latin1.KYR", 5, '.', "ISO-8859-1"},
        {"mode3_latin1.KYR", 5, ',', "CP1252"},   {"gbk.KYR", 3, '.', "GBK"},
    };
    for (const Case& c : cases) {
        Locale l(c.codePage, c.sep);
        QByteArray original = ReadFile(GoldenPath(c.file));
        ASSERT_FALSE(original.isEmpty()) << c.file;
        if (c.sep == ',' && QByteArray(c.file) != "mode2_comma.KYR")
            original.replace('.', ',');
        for (char csvSep : {',', ';', '\t'}) {
            SCOPED_TRACE(std::string(c.file) + " " + c.codePage + " sep " + c.sep + " csv " + csvSep);
            if (csvSep == ',' && c.sep == ',')
                continue;   // a ',' decimal is not read from a ',' file
            Bench b;
            b.wb.PriceDecimalCommand(c.mode);
            b.load(original);
            const QByteArray csv = ExportPluCsv(b.wb.Table, csvSep);
            b.wb.ResetTable();
            CsvImport in;
            EXPECT_GE(import(b, csv, &in), 0) << in.report().toStdString();
            EXPECT_EQ(b.saved(), original);
        }
    }
}

// What real files look like, and the table they give.
TEST(PriceCsv, RealLookingFilesImportIntoTheExpectedTable)
{
    struct Row { int row; const char* price; const char* name; const char* unit; };
    struct Case {
        const char* what; const char* codePage; char sep; QByteArray csv; int changed; QList<Row> rows;
    };
    const QList<Case> cases = {
        {"spreadsheet, ';' and ',' decimals, with the mark", "UTF-8", ',',
         "\xEF\xBB\xBFKey;Unit Price;Name;Unit\r\nM1;12,5;\xC3\x84pfel;kg\r\nU3;0,99;Milch;\r\n;;;\r\nU4;1.230;  Brot ;St\xC3\xBC" "ck\r\n", 3,
         {{1, "12,50", "\xC3\x84pfel", "kg"}, {10, "0,99", "Milch", "kg"}, {11, "1,23", "Brot", "St\xC3\xBC" "ck"}}},
        {"till export: extra columns, any order and case, quoted names", "UTF-8", '.',
         "\"Dept\",\"key\",\"NAME\",\"UNIT PRICE\",\"Barcode\"\n\"Deli\",\"U1\",\"Ham, smoked\",\"4.99\",\"4001\"\n"
         "\"Deli\",\"u2\",\"6\"\" Sub\",\"3.5\",\"\"\n\n", 2,
         {{8, "4.99", "Ham, smoked", "kg"}, {9, "3.50", "6\" Sub", "kg"}}},
        {"Latin-1 file with TABs", "ISO-8859-1", '.', "Key\tUnit Price\tName\tUnit\r\nM2\t1.5\tK\xE4se\tSt\xFC" "ck\r\n", 1,
         {{2, "1.50", "K\xE4se", "St\xFC" "ck"}}},
        {"keys as numbers, no name column", "UTF-8", '.', "Unit Price,Key\n2,1\n3.5,77\n1,8\n0,2\n", 3,
         {{1, "2.00", "", "kg"}, {77, "3.50", "", "kg"}, {8, "1.00", "", "kg"}, {2, "0.00", "", "kg"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Locale l(c.codePage, c.sep);
        Bench b;
        const QByteArray before = b.saved();
        CsvImport in;
        EXPECT_EQ(import(b, c.csv, &in), c.changed) << in.report().toStdString();
        QList<int> named;
        for (const Row& r : c.rows) {
            named << r.row;
            EXPECT_EQ(b.price(r.row) + '|' + b.stored(r.row) + '|' + trimBlanks(b.name(r.row)) + '|' + b.unit(r.row),
                      QByteArray(r.price) + '|' + r.price + '|' + r.name + '|' + r.unit) << r.row;
        }
        const QList<QByteArray> lines = before.split('\n'), after = b.saved().split('\n');
        for (int r = 1; r <= PluCount; ++r) {
            if (!named.contains(r)) {
                EXPECT_EQ(after[r - 1], lines[r - 1]) << "row " << r << " was not named";
            }
        }
    }
}

// One bad row refuses the whole import and is named by line and key.
TEST(PriceCsv, EachBadRowRefusesTheWholeImport)
{
    struct Case {
        QByteArray body; int line; const char* key; const char* what;
        const char* codePage = "UTF-8"; char sep = '.';
    };
    const QList<Case> cases = {
        {"M1,1\nM8,2\n", 3, "M8", "unknown key"}, {"M1,1\nU0,2\n", 3, "U0", "unknown key"},
        {"M1,1\n78,2\n", 3, "78", "unknown key"}, {"U1,1\n\nu1,2\n", 4, "u1", "repeated key (first on line 2)"},
        {"U1,1\n8,2\n", 3, "8", "repeated key"}, {"M1,abc\n", 2, "M1", "not a number"},
        {"M1,\n", 2, "M1", "not a number"}, {"M1,1e3\n", 2, "M1", "not a number"}, {"M1,-0.5\n", 2, "M1", "negative"},
        {"M1,100000\n", 2, "M1", "above the maximum 99999.99"}, {"M1,1.234\n", 2, "M1", "more than 2 decimals"},
        {"M1,\"1,5\"\n", 2, "M1", "not a number", "UTF-8", ','},
        {"M1,1,ABCDEFGHIJKLMN\n", 2, "M1", "longer than 13 bytes"},
        {"M1,1,\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\n", 2, "M1", "longer than 13 bytes"},
        {"M1,1,\xE6\x97\xA5\xE6\x9C\xAC\n", 2, "M1", "not representable", "ISO-8859-1"},
        {"M1,1,\"a\nb\"\nM2,x\n", 2, "M1", "TAB or line break"}, {"M1,1,a,\"k\tg\"\n", 2, "M1", "unit holds a TAB"},
        {"M1,1,a,ABCDEFGHIJKLMN\n", 2, "M1", "unit is longer than 13"},
        {"M1,1,K\xE4se\n", 2, "M1", "not text in the code page"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        Locale l(c.codePage, c.sep);
        Bench b;
        b.wb.Table.setCell(colName, 3, "keep");
        const QByteArray before = b.saved();
        CsvImport in;
        EXPECT_EQ(import(b, "Key,Unit Price,Name,Unit\n" + c.body + "M3,5,,\n", &in), -1);
        ASSERT_FALSE(in.Problems.isEmpty());
        EXPECT_EQ(QString::number(in.Problems[0].Line) + ' ' + in.Problems[0].Key, QString::number(c.line) + ' ' + c.key);
        EXPECT_TRUE(in.Problems[0].What.contains(QLatin1String(c.what))) << in.report().toStdString();
        EXPECT_EQ(ApplyPluCsv(in, b.wb), 0);
        EXPECT_EQ(b.saved(), before);
    }
    Bench b;
    CsvImport in;
    EXPECT_EQ(import(b, "Price,Name\n1,a\n", &in), -1);
    EXPECT_EQ(in.report(), "file: no header row naming the columns Key and Unit Price");
}

TEST(PriceCsv, AMergeKeepsUnchangedRowsAndNamesThatDoNotDecode)
{
    Locale l("UTF-8", '.');
    Bench b;
    b.wb.Table.setCell(colName, 1, "K\xE4se        ");   // Latin-1 bytes: no UTF-8 text
    b.wb.Table.setCell(colPrice, 2, "3.00");
    b.wb.Table.setCell(colUnit, 2, "lb");
    const QByteArray before = b.saved();
    EXPECT_EQ(import(b, ExportPluCsv(b.wb.Table, ',')), 0);
    EXPECT_EQ(b.name(1), "K\xE4se        ");
    EXPECT_EQ(b.saved(), before);
    // A unit "KG" is kg; an empty Unit cell keeps the row's unit.
    EXPECT_EQ(import(b, "Key,Unit Price,Unit\nM2,3,KG\nM3,0, \n"), 1);
    EXPECT_EQ(b.unit(2), "KG");
    EXPECT_EQ(b.wb.Table.PluRecords[2].UnitIndex, 0);
    EXPECT_EQ(b.unit(3), "kg");
}
