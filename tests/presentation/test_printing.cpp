#include "codepage.h"
#include "errors.h"
#include "messagetexts.h"
#include "printercanvas.h"
#include "printing.h"
#include "recordingcanvas.h"
#include "scripteddialogs.h"
#include "testdirs.h"
#include <QDir>
#include <QFile>
#include <QPrinter>
#include <gtest/gtest.h>

namespace {

using RC = RecordingCanvas;

const QList<PriceListRow> FullTable(77, PriceListRow{"0.00", ""});

// "N1".."N70" for PLU rows 1..70.
QList<QByteArray> KeyNames()
{
    QList<QByteArray> names{QByteArray()};
    for (int n = 1; n <= 70; ++n)
        names.append("N" + QByteArray::number(n));
    return names;
}

// ------------------------------------------------------------ price list lines

TEST(PriceListLine, LabelsHaveTwoDigits)
{
    const struct { int row; const char* label; } cases[] = {
        {1, "M01"}, {7, "M07"}, {8, "U01"}, {16, "U09"}, {17, "U10"}, {77, "U70"}, {107, "U100"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PriceListLabel(c.row), c.label) << c.row;
}

TEST(PriceListLine, FieldsAreTrimmedAndPaddedInBytes)
{
    const struct { const char* price; const char* name; const char* line; } cases[] = {
        {"12.50", "Apple", "M03 12.50    Apple        "},
        {"  1.00 ", "\tPear \r", "M03 1.00     Pear         "},
        {"", "", "M03                       "},   // 1 + 8 + 1 + 13 blanks
        {"123456.78", "Apple", "M03 123456.78 Apple        "},
        {"1.00", "Fourteen chars", "M03 1.00     Fourteen chars"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PriceListLine(3, {c.price, c.name}), c.line) << c.name;
}

// ------------------------------------------------------------ price list layout

class PriceList : public ::testing::Test {
protected:
    void TearDown() override { cp::useLocaleCodePage(); }
    RecordingCanvas C;   // 1000 x 600, characters 10 x 20
};

TEST_F(PriceList, FullTableBreaksIntoColumnsAndPages)
{
    PrintPriceList(C, FullTable, QFont("Courier"), 2);
    const auto texts = C.all(RC::Text);
    ASSERT_EQ(texts.size(), 77);

    // Row step 25 (20 + 5). The first page's first column starts one line
    // down; later columns start at the margin. Column step 1000 / 2 + 30.
    const struct { int row; TRect rect; int page; } at[] = {
        {1, {30, 55, 560, 600}, 1},    {20, {30, 530, 560, 600}, 1},
        {21, {560, 30, 1090, 600}, 1}, {41, {560, 530, 1090, 600}, 1},
        {42, {30, 30, 1090, 600}, 2},  {62, {30, 530, 1090, 600}, 2},
        {63, {560, 30, 1090, 600}, 2}, {77, {560, 380, 1090, 600}, 2},
    };
    for (const auto& a : at) {
        const auto& t = texts[a.row - 1];
        EXPECT_EQ(t.rect, a.rect) << a.row;
        EXPECT_EQ(t.page, a.page) << a.row;
        EXPECT_EQ(t.flags, unsigned(dtVCenter));
        EXPECT_TRUE(t.text.startsWith(QString::fromLatin1(PriceListLabel(a.row)) + ' '));
    }
    EXPECT_EQ(C.count(RC::NewPage), 1);
    const auto fills = C.all(RC::Fill);
    ASSERT_EQ(fills.size(), 3);
    EXPECT_EQ(fills[0].rect, (TRect{30, 30, 560, 600}));
    EXPECT_EQ(fills[1].rect, (TRect{560, 30, 1090, 600}));
    EXPECT_EQ(fills[2].page, 2);
    EXPECT_EQ(C.Ops.front().kind, RC::Begin);
    EXPECT_EQ(C.Ops.back().kind, RC::End);
    EXPECT_EQ(C.all(RC::Font).value(0).text, "Courier");
}

// Neither clipped by its column (a long name, a 9-byte price) nor run past
// the page's bottom (a tall font).
TEST_F(PriceList, EveryLineFitsItsColumnAndPage)
{
    QList<PriceListRow> wide = FullTable;
    wide[21].Name = QByteArray(40, 'N');   // second line of the second column
    wide[24].Price = "123456.78";
    for (const auto& [lineHeight, rows] : {std::pair{20, wide}, std::pair{80, FullTable}}) {
        RecordingCanvas c;
        c.LineHeight = lineHeight;
        PrintPriceList(c, rows, QFont(), 2);
        const auto texts = c.all(RC::Text);
        ASSERT_EQ(texts.size(), 77) << lineHeight;
        for (const auto& t : texts) {
            EXPECT_GE(t.rect.width(), int(t.text.size()) * c.CharWidth) << lineHeight << t.text.toStdString();
            EXPECT_LE(t.rect.Top + lineHeight, c.Page.height()) << lineHeight << t.text.toStdString();
        }
        if (rows[24].Price != FullTable[24].Price) {
            EXPECT_EQ(texts[24].text.size(), texts[23].text.size() + 1);
        }
    }
}

TEST_F(PriceList, OneColumnOrNoneStillPrints)
{
    for (int columns : {1, 0, -3}) {
        RecordingCanvas c;
        PrintPriceList(c, FullTable, QFont(), columns);
        EXPECT_EQ(c.count(RC::Text), 77) << columns;
        // 20 lines on page 1, then 21 a page.
        EXPECT_EQ(c.count(RC::NewPage), 3) << columns;
    }
    PrintPriceList(C, {}, QFont(), 2);   // an empty table prints no sheet
    EXPECT_TRUE(C.Ops.isEmpty());
}

TEST_F(PriceList, DoubleByteNameIsDecodedForDrawing)
{
    cp::setName("GBK");
    // 重量: 4 bytes, so 9 blanks fill it to 13.
    PrintPriceList(C, {{"0.00", "\xD6\xD8\xC1\xBF"}}, QFont(), 2);
    ASSERT_EQ(C.count(RC::Text), 1);
    EXPECT_EQ(C.all(RC::Text)[0].text, QString::fromUtf8("M01 0.00     重量") + QString(9, ' '));
}

// A canvas that fails ends the document, and the failure reaches the caller
// as it was: the printer's as an AppError, the canvas's own unchanged.
TEST(PrintFailures, EndTheDocumentAndReachTheCaller)
{
    const struct {
        const char* what;
        bool keySheet, failBegin, failNewPage;
        int throwOnText;
        bool appError;
        int texts, ends;   // -1: not checked
    } cases[] = {
        {"price list, no start", false, true, false, -1, true, 0, -1},
        {"price list, no new page", false, false, true, -1, true, 41, 1},
        {"price list, drawing fails", false, false, false, 5, false, 5, 1},
        {"key sheet, no start", true, true, false, -1, true, 0, -1},
        {"key sheet, drawing fails", true, false, false, 3, false, 3, 1},
    };
    for (const auto& c : cases) {
        RecordingCanvas canvas;
        canvas.FailBegin = c.failBegin;
        canvas.FailNewPage = c.failNewPage;
        canvas.ThrowOnText = c.throwOnText;
        try {
            c.keySheet ? PrintKeySheet(canvas, KeyNames(), QFont()) : PrintPriceList(canvas, FullTable, QFont(), 2);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const AppError&) {
            EXPECT_TRUE(c.appError) << c.what;
        } catch (const std::runtime_error& e) {
            EXPECT_FALSE(c.appError) << c.what << ": " << e.what();
        }
        EXPECT_EQ(canvas.count(RC::Text), c.texts) << c.what;
        if (c.ends >= 0) {
            EXPECT_EQ(canvas.count(RC::End), c.ends) << c.what;
            EXPECT_EQ(canvas.Ops.back().kind, RC::End) << c.what;
        }
    }
}

// ------------------------------------------------------------ key sheet

class KeySheet : public ::testing::Test {
protected:
    KeySheet()
    {
        C.DpiX = 300;   // different per axis, so an axis mix-up shows
        C.DpiY = 600;
    }
    void TearDown() override { cp::useLocaleCodePage(); }
    TRect rectOf(const QString& text) const { return C.all(RC::Text, text).value(0).rect; }
    RecordingCanvas C;
    QList<QByteArray> Names = KeyNames();
};

TEST_F(KeySheet, ThirtyFiveKeysWithTwoNamesEach)
{
    PrintKeySheet(C, Names, QFont("Sans"));
    EXPECT_EQ(C.count(RC::Text), 70);
    const auto lines = C.all(RC::Line);
    ASSERT_EQ(lines.size(), 35);

    // key 1: 35 mm, 19.7 mm -> (413, 465), 16.5 mm -> 195 x 390; halves
    // of 195, text 20 high, so 87 pixels to spare above and below.
    EXPECT_EQ(lines[0].rect, (TRect{413, 660, 608, 660}));
    EXPECT_EQ(rectOf("N1"), (TRect{413, 552, 608, 573}));
    EXPECT_EQ(rectOf("N36"), (TRect{413, 747, 608, 768}));
    // key 35: 134 mm, 85.7 mm -> (1583, 2024); not 465 + 4 x 390.
    EXPECT_EQ(lines[34].rect, (TRect{1583, 2219, 1778, 2219}));
    EXPECT_EQ(rectOf("N35"), (TRect{1583, 2111, 1778, 2132}));
    EXPECT_EQ(rectOf("N70"), (TRect{1583, 2306, 1778, 2327}));

    for (const auto& t : C.all(RC::Text))
        EXPECT_EQ(t.flags, unsigned(dtWordBreak | dtCenter));
    for (const auto& m : C.all(RC::Measure))
        EXPECT_EQ(m.flags, unsigned(dtWordBreak));

    // Frame: 30, 15 mm, 127 x 93.6 mm; drawn last.
    ASSERT_EQ(C.count(RC::Frame), 1);
    EXPECT_EQ(C.all(RC::Frame)[0].rect, (TRect{354, 354, 1854, 2565}));
    EXPECT_EQ(C.Ops[C.Ops.size() - 2].kind, RC::Frame);
    EXPECT_EQ(C.Ops.back().kind, RC::End);
    EXPECT_LT(C.indexOf(RC::BrushClear), C.indexOf(RC::Text));
    EXPECT_LT(C.indexOf(RC::Font), C.indexOf(RC::Text));
}

TEST_F(KeySheet, DividingLineOnlyUnderAnExistingName)
{
    Names[40].clear();   // key 5's lower name
    Names[70].clear();
    Names[1].clear();    // upper empty, lower kept
    PrintKeySheet(C, Names, QFont());
    const auto lines = C.all(RC::Line);
    EXPECT_EQ(lines.size(), 33);
    // key 5: 101 mm -> 1193; N5 alone over the whole 390-high key.
    for (const auto& l : lines)
        EXPECT_FALSE(l.rect.Left == 1193 && l.rect.Top == 660);
    EXPECT_EQ(rectOf("N5"), (TRect{1193, 650, 1388, 670}));
    EXPECT_EQ(rectOf("N36"), (TRect{413, 747, 608, 768}));
    EXPECT_EQ(lines[0].rect, (TRect{413, 660, 608, 660}));
}

TEST_F(KeySheet, WrappedTextIsCentredByItsHeight)
{
    Names[36].clear();
    Names[1] = QByteArray(40, 'W');   // 19 a line in 195 pixels: 3 lines, 60 high
    PrintKeySheet(C, Names, QFont());
    EXPECT_EQ(rectOf(QString(40, 'W')), (TRect{413, 630, 608, 690}));

    // Taller than its key: drawn from the key's top.
    RecordingCanvas small;
    small.DpiX = small.DpiY = 72;      // 16.5 mm -> 47 pixels, 4 characters a line
    Names[2] = QByteArray(60, 'T');
    Names[37].clear();
    PrintKeySheet(small, Names, QFont());
    const auto tall = small.all(RC::Text, QString(60, 'T'));
    ASSERT_EQ(tall.size(), 1);
    EXPECT_EQ(tall[0].rect.height(), 47);
}

TEST_F(KeySheet, NamesAreCutAt80Bytes)
{
    cp::setName("GBK");
    Names[1] = QByteArray(100, 'A');
    Names[2] = QByteArray(80, 'B');
    // 'a' and 50 x 重: byte 80 would split a character.
    Names[3] = 'a' + QByteArray("\xD6\xD8").repeated(50);
    PrintKeySheet(C, Names, QFont());
    for (const QString& cut : {QString(80, 'A'), QString(80, 'B'), 'a' + QString::fromUtf8("重").repeated(39)})
        EXPECT_EQ(C.all(RC::Text, cut).size(), 1) << cut.toStdString();
    for (const auto& o : C.all(RC::Text) + C.all(RC::Measure))
        EXPECT_LE(cp::byteLength(o.text), 80);
}

TEST_F(KeySheet, PortraitTurnsLandscapeAndStays)
{
    PrintKeySheet(C, Names, QFont());
    ASSERT_EQ(C.count(RC::Orientation), 1);
    EXPECT_LT(C.indexOf(RC::Orientation), C.indexOf(RC::Begin));
    EXPECT_EQ(C.Orient, QPageLayout::Landscape);
    C.Ops.clear();
    PrintKeySheet(C, Names, QFont());
    EXPECT_EQ(C.count(RC::Orientation), 0);
}

TEST_F(KeySheet, ShortListIsSafe)
{
    PrintKeySheet(C, {QByteArray(), "only one"}, QFont());
    EXPECT_EQ(C.all(RC::Text, "only one").size(), 1);
    EXPECT_EQ(C.count(RC::Line), 0);
}

// ------------------------------------------------------------ commands on a real printer

// The commands on a PDF printer whose dialogs answer as the test says.
class Commands : public ::testing::Test, public PrintDevice {
protected:
    Commands()
    {
        // VARLO_PRINT_OUT keeps the PDFs for a look.
        const QString keep = qEnvironmentVariable("VARLO_PRINT_OUT");
        Out = keep.isEmpty() ? Tmp.path() : keep;
        QDir().mkpath(Out);
        Printer.setOutputFormat(QPrinter::PdfFormat);
        Printer.setResolution(300);
        Printer.setPageSize(QPageSize(QPageSize::A4));
        Printer.setPageOrientation(QPageLayout::Portrait);
        MessageTexts.resetToBuiltIn();
        cp::setName("GBK");
        for (int n = 1; n <= 77; ++n) {
            const QByteArray name = n % 5 ? "Item " + QByteArray::number(n) : "\xD6\xD8\xC1\xBF";   // 重量
            Rows.append({QByteArray::number(n * 1.25, 'f', 2), name});
        }
        for (int n = 1; n <= 70; ++n)
            Names.append(n == 40 ? QByteArray() : Rows[n - 1].Name);
    }
    ~Commands() override { cp::useLocaleCodePage(); }
    bool printDialog() override
    {
        ++PrintAsked;
        return PrintAnswer;
    }
    bool fontDialog(QFont& f) override
    {
        FontSeen = f;
        if (FontAnswer)
            f = QFont("DejaVu Sans", 10);
        return FontAnswer;
    }
    std::unique_ptr<PrintCanvas> canvas() override { return std::make_unique<PrinterCanvas>(Printer); }
    QString pdf(const char* name)
    {
        const QString path = Out + "/" + name;
        QFile::remove(path);
        Printer.setOutputFileName(path);
        return path;
    }

    QTemporaryDir Tmp;
    QString Out;
    QPrinter Printer{QPrinter::HighResolution};
    bool PrintAnswer = true, FontAnswer = true;
    int PrintAsked = 0;
    QFont FontSeen;
    ScriptedDialogs Boxes;
    QList<PriceListRow> Rows;
    QList<QByteArray> Names{QByteArray()};
};

TEST_F(Commands, PriceListOnlyAfterThePrintDialog)
{
    const QString cancelled = pdf("cancelled.pdf");
    PrintAnswer = false;
    Print1Click(*this, Rows, QFont("DejaVu Sans Mono", 10));
    EXPECT_EQ(PrintAsked, 1);
    EXPECT_FALSE(QFile::exists(cancelled));

    const QString path = pdf("pricelist.pdf");
    PrintAnswer = true;
    Print1Click(*this, Rows, QFont("DejaVu Sans Mono", 10));
    EXPECT_EQ(ReadFile(path).left(5), "%PDF-");
}

TEST_F(Commands, KeySheetAsksFontThenConfirmation)
{
    QFont font = KeySheetDesignFont();
    const QString path = pdf("keysheet.pdf");

    FontAnswer = false;
    Printkeysheet1Click(*this, Names, font);
    EXPECT_EQ(FontSeen.family(), QString::fromUtf8("黑体"));
    EXPECT_EQ(FontSeen.pixelSize(), 11);
    EXPECT_TRUE(Boxes.Boxes.isEmpty());
    EXPECT_FALSE(QFile::exists(path));

    FontAnswer = true;
    Boxes.Answers = {MsgResult::Cancel};
    Printkeysheet1Click(*this, Names, font);
    ASSERT_EQ(Boxes.Boxes.size(), 1);
    EXPECT_EQ(Boxes.Boxes[0].text, "Print ?");
    EXPECT_EQ(Boxes.Boxes[0].caption, "Information");
    EXPECT_EQ(Boxes.Boxes[0].icon, MsgIcon::Information);
    EXPECT_EQ(Boxes.Boxes[0].buttons, MsgButtons::OkCancel);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(font.family(), "DejaVu Sans");   // the dialog keeps its choice

    MessageTexts.set(mtPrintMsg, "Imprimir ?");
    Boxes.Answers = {MsgResult::Ok};
    Printkeysheet1Click(*this, Names, font);
    EXPECT_EQ(Boxes.Boxes.value(1).text, "Imprimir ?");
    EXPECT_EQ(ReadFile(path).left(5), "%PDF-");
    EXPECT_EQ(Printer.pageLayout().orientation(), QPageLayout::Landscape);

    // The price list that follows prints landscape too.
    const QString list = pdf("pricelist-landscape.pdf");
    Print1Click(*this, Rows, QFont("DejaVu Sans Mono", 10));
    EXPECT_EQ(ReadFile(list).left(5), "%PDF-");
    PrinterCanvas after(Printer);
    EXPECT_GT(after.pageSize().width(), after.pageSize().height());
}

TEST_F(Commands, ScreenPixelFontKeepsItsSizeOnPaper)
{
    pdf("font.pdf");
    PrinterCanvas c(Printer);
    ASSERT_TRUE(c.beginDoc());
    QFont px("DejaVu Sans");
    px.setPixelSize(11);          // 11 screen pixels, about 34 at 300 dpi
    c.setFont(px);
    const int h = c.textHeight("Hg");
    QFont pt("DejaVu Sans");
    pt.setPointSizeF(8.25);       // the same size in points
    c.setFont(pt);
    EXPECT_EQ(h, c.textHeight("Hg"));
    EXPECT_GT(h, 30);
    // Word-break measuring grows with the lines the text needs.
    EXPECT_GT(c.measureText("many words that wrap over lines", {0, 0, 200, 1000}, dtWordBreak), 2 * h);
    EXPECT_TRUE(c.endDoc());
}

TEST_F(Commands, PrinterThatCannotStartIsAnError)
{
    Printer.setOutputFileName(Out + "/no such dir/x.pdf");
    try {
        Print1Click(*this, Rows, QFont());
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Message, "Unable to print");
        EXPECT_TRUE(e.Detail.contains("no such dir"));
    }
}

} // namespace
