#include "inioptions.h"
#include "mainform.h"
#include "messagetexts.h"
#include "plugrid.h"
#include "progressform.h"
#include "regional.h"
#include "scripteddialogs.h"
#include "testdirs.h"
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace {

// One window per test, in a fresh program directory, answered by a script.
struct Window : ::testing::Test {
    ScopedHome home;
    ScriptedDialogs dialogs;
    TIniOptions options;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TProgressForm> progress;

    void open(char separator = '.')
    {
        regional::setDecimalSeparator(separator);
        MessageTexts.resetToBuiltIn();
        IniOptions = &options;
        form = std::make_unique<TMainForm>();
        progress = std::make_unique<TProgressForm>();
        form->SetSecondaryForms(progress.get(), nullptr);
        form->show();
        QApplication::setActiveWindow(form.get());
        form->StringGrid1->setFocus();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        if (form)
            form->Wb.Modified = false;   // no save question on the way out
        form.reset();
        regional::useLocaleSeparator();
    }

    QModelIndex at(int col, int row) { return form->GridModel->index(row - 1, col); }
    QByteArray cell(int col, int row) { return form->Wb.Table.cell(col, row); }
    void go(int col, int row) { form->StringGrid1->setCurrentIndex(at(col, row)); }
    // Key by key, as the operator types: the first key opens the editor,
    // which then has the focus.
    void type(const QString& keys)
    {
        for (QChar c : keys)
            QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
    void key(Qt::Key k) { QTest::keyClick(QApplication::focusWidget(), k); }
};

} // namespace

TEST_F(Window, StartsWithLabelledTableTitlesAndTheLinkClosed)
{
    open();
    EXPECT_EQ(form->windowTitle(), "Qv8 Manager");
    EXPECT_EQ(form->GridModel->rowCount(), 77);
    EXPECT_EQ(at(0, 7).data().toString(), "M7");
    EXPECT_EQ(at(0, 8).data().toString(), "U1");
    EXPECT_EQ(at(0, 77).data().toString(), "U70");
    EXPECT_TRUE(form->StringGrid1->isColumnHidden(colUnit));
    EXPECT_FALSE(form->StringGrid1->isColumnHidden(colName));
    EXPECT_EQ(cell(colPrice, 1), "0.00");
    EXPECT_EQ(cell(colUnit, 77), "kg");

    // The link starts closed: only OpenPort and the offline commands work.
    EXPECT_TRUE(form->ToolbarButton972->isEnabled());
    EXPECT_FALSE(form->ToolbarButton973->isEnabled());
    for (QAction* a : {form->DownloadItem, form->UploadItem, form->ReportItem, form->Salereport1})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_FALSE(form->DownBtn->isEnabled());
    EXPECT_EQ(form->CommBtn->text(), "COM2");
    EXPECT_EQ(form->BaudRateBtn->text(), "9600bps");

    // Start-up layout.
    EXPECT_FALSE(form->ReportItem->isVisible());
    EXPECT_FALSE(form->Printkeysheet1->isVisible());
    EXPECT_EQ(form->Pricedecimal[3]->text(), "Price decimal (2)");
    for (int i : {0, 1, 2, 4, 5})
        EXPECT_FALSE(form->Pricedecimal[i]->isVisible());
    EXPECT_EQ(home.read("Record.txt"), QByteArray::fromHex("D6D8C1BF09B5A5D6D809CAFDC1BF0D0A"));
}

TEST_F(Window, PriceTitleButtonFollowsItsTitleCell)
{
    open();
    QTest::qWait(50);
    ASSERT_TRUE(form->PriceTitleButton->isVisible());
    const int before = form->PriceTitleButton->x();
    EXPECT_EQ(form->PriceTitleButton->text(), "Unit Price");
    form->StringGrid1->setColumnWidth(0, 200);
    QTest::qWait(50);
    EXPECT_EQ(form->PriceTitleButton->x(), before + 80);
}

TEST_F(Window, TypedPriceIsFormattedOnMoveWhileTheStoreKeepsTheTypedText)
{
    for (char sep : {'.', ','}) {
        SCOPED_TRACE(sep);
        open(sep);
        go(colPrice, 1);
        type(QStringLiteral("12") + QChar(sep) + "5");
        key(Qt::Key_Down);
        EXPECT_EQ(cell(colPrice, 1), QByteArray("12") + sep + "50");
        EXPECT_EQ(form->Wb.Table.storedPrice(1), QByteArray("12") + sep + "5");
        EXPECT_TRUE(form->Wb.Modified);
        EXPECT_EQ(form->StringGrid1->currentIndex().row(), 1);
        TearDown();
    }
}

TEST_F(Window, KeyFilterDropsLettersAndTheSeparatorInModeZero)
{
    open();
    go(colPrice, 2);
    type("a7b");
    key(Qt::Key_Down);
    EXPECT_EQ(cell(colPrice, 2), "7.00");
    form->PriceDecimalClick(0);
    go(colPrice, 3);
    type("4.5");
    key(Qt::Key_Down);
    EXPECT_EQ(cell(colPrice, 3), "45");
}

TEST_F(Window, OverLimitPriceIsRefusedWithTheRangeMessageAndTheCursorStays)
{
    open();
    go(colPrice, 4);
    type("1000000");
    key(Qt::Key_Down);
    ASSERT_EQ(dialogs.Boxes.size(), 1);
    EXPECT_EQ(dialogs.Boxes[0].text, "Ranging between 0 and 99999.99");
    EXPECT_EQ(dialogs.Boxes[0].icon, MsgIcon::Error);
    EXPECT_EQ(form->StringGrid1->currentIndex(), at(colPrice, 4));
    EXPECT_EQ(cell(colPrice, 4), "1000000");
}

TEST_F(Window, NameCellTakesThirteenBytesAtMost)
{
    open();
    go(colName, 1);
    type("ABCDEFGHIJKLMNOP");
    key(Qt::Key_Down);
    EXPECT_EQ(cell(colName, 1), "ABCDEFGHIJKLM");
}

TEST_F(Window, LeavingTheGridTurnsABadPriceIntoZeroWithABeep)
{
    open();
    go(colPrice, 5);
    type("1.2.3");
    form->Memo2->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(cell(colPrice, 5), "0");
    EXPECT_GE(dialogs.Beeps, 1);
    EXPECT_TRUE(dialogs.Boxes.isEmpty());
}

TEST_F(Window, ClosingAChangedTableAsksAndCancelKeepsTheWindowOpen)
{
    open();
    form->Wb.Modified = true;
    dialogs.Answers = {MsgResult::Cancel};
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    ASSERT_EQ(dialogs.Boxes.size(), 1);
    EXPECT_EQ(dialogs.Boxes[0].text, "File has not been saved, save it now?");
    dialogs.Answers = {MsgResult::No};
    EXPECT_TRUE(form->close());
}

TEST_F(Window, ScaleKeysDoNothingWhileTheLinkIsClosed)
{
    open();
    QTest::keyClick(form.get(), Qt::Key_F7);
    QTest::keyClick(form.get(), Qt::Key_F9);
    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_FALSE(progress->isVisible());
    EXPECT_TRUE(dialogs.Boxes.isEmpty());
}

TEST_F(Window, OpeningAMissingPortShowsTheErrorAndStaysClosed)
{
    home.write("KYR.CFG", "[COMM]\r\nPort=2\r\n[Devices]\r\nCOM2=/dev/varlo-no-such-device\r\n");
    open();
    form->ToolbarButton972Click();
    ASSERT_EQ(dialogs.Errors.size(), 1);
    EXPECT_TRUE(dialogs.Errors[0].startsWith("Error opening serial port")) << dialogs.Errors[0].toStdString();
    EXPECT_TRUE(dialogs.Errors[0].contains("/dev/varlo-no-such-device"));
    EXPECT_TRUE(form->ToolbarButton972->isEnabled());
    EXPECT_FALSE(form->DownloadItem->isEnabled());
}

// Settings that contradict each other or are not understood: one warning at
// start-up, and the window runs in the mode Price Dot names.
TEST_F(Window, SettingsProblemsAreShownOnceAtStartUp)
{
    home.write("config.ini", "[default]\r\nPrice Dot=0\r\nprice decimal=3\r\n");
    home.write("KYR.CFG", "[COMM]\r\nPort=COM3\r\nBaudRate=x\r\n");
    open();
    ASSERT_EQ(dialogs.Boxes.size(), 1);
    EXPECT_EQ(dialogs.Boxes[0].icon, MsgIcon::Warning);
    const QString text = dialogs.Boxes[0].text;
    EXPECT_TRUE(text.startsWith("The price settings in \"" + home.file("config.ini") + "\"")) << text.toStdString();
    EXPECT_TRUE(text.contains("\n  price decimal=0 (the file has 3)\n")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("\n\n" + home.file("KYR.CFG")
                              + " [COMM] BaudRate=x is not understood (2400 or 9600 is expected); 9600bps is used."))
        << text.toStdString();
    EXPECT_EQ(form->CommBtn->text(), "COM3");
    EXPECT_EQ(cell(colPrice, 1), "0");
}

TEST_F(Window, PortAndSpeedChoicesAreKeptKeyByKey)
{
    open();
    form->COM1ItemClick(3);
    EXPECT_EQ(form->CommBtn->text(), "COM3");
    EXPECT_EQ(home.read("KYR.CFG"), "[COMM]\r\nPort=3\r\n");
    form->BaudRate2Click(2400);
    EXPECT_EQ(form->BaudRateBtn->text(), "2400bps");
    EXPECT_EQ(home.read("KYR.CFG"), "[COMM]\r\nPort=3\r\nBaudRate=2400\r\n");
}

// ---------------------------------------------------------------- scale commands from the window

#include "kyrbuscomm.h"
#include "scalecommands.h"
#include "scalesim.h"
#include <QLabel>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

namespace {
struct WindowWithScale : Window {
    std::unique_ptr<varlo::sim::ScaleSim> scale;
    void openWithScale(std::vector<std::string> faults = {})
    {
        scale = std::make_unique<varlo::sim::ScaleSim>();
        for (const std::string& f : faults)
            scale->addFault(f);
        const QString path = QString::fromStdString(scale->start());
        LinkSettings::setDemoDevice("COM2", path);
        open();
        form->KYRBusComm1->RetryInterval = 200;
        form->ToolbarButton972Click();
        ASSERT_TRUE(dialogs.Errors.isEmpty()) << dialogs.Errors.value(0).toStdString();
        ASSERT_TRUE(form->DownloadItem->isEnabled());
    }
    void TearDown() override
    {
        if (form && form->KYRBusComm1->isActive())
            form->ToolbarButton973Click();
        Window::TearDown();
        scale.reset();
        LinkSettings::setDemoDevice("COM2", {});
    }
    // The operator confirms the error form; records what it showed.
    QString errorShown, packageShown;
    void confirmErrorFormWhenShown()
    {
        auto* poll = new QTimer(form.get());
        QObject::connect(poll, &QTimer::timeout, form.get(), [this, poll] {
            if (progress->ProgressState() == 1) {
                errorShown = progress->StatusLabel->text();
                packageShown = progress->CurLabel->text();
                progress->OKBtn->click();
                poll->deleteLater();
            }
        });
        poll->start(10);
    }
};
} // namespace

TEST_F(WindowWithScale, DownloadFromTheMenuWritesTheTableIntoTheScale)
{
    openWithScale();
    form->Wb.Table.setCell(colPrice, 1, "12.34");
    form->Wb.Table.setCell(colPrice, 77, "0.05");
    form->DownloadItem->trigger();
    ASSERT_EQ(dialogs.Boxes.size(), 1);
    EXPECT_EQ(dialogs.Boxes[0].text, "Download PLU OK!");
    EXPECT_EQ(dialogs.Boxes[0].icon, MsgIcon::Information);
    EXPECT_EQ(scale->plu(1), (varlo::sim::PluRecord{0, 1234}));
    EXPECT_EQ(scale->plu(77), (varlo::sim::PluRecord{0, 5}));
    EXPECT_FALSE(progress->isVisible());
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(scale->requests().back().frame, (varlo::sim::Bytes{0x33, 0, 0, 0, 0, 0xCD}));
}

TEST_F(WindowWithScale, FailedWriteShowsTheErrorFormAtItsPackageAndSendsNothingMore)
{
    openWithScale({"aa@cmd=77,bank=F9,addr=00D0,count=always"});
    confirmErrorFormWhenShown();
    form->DownloadItem->trigger();
    EXPECT_EQ(errorShown, "Download PLU...Error!");
    EXPECT_EQ(packageShown, "4");
    EXPECT_TRUE(dialogs.Boxes.isEmpty());
    EXPECT_TRUE(form->isEnabled());
    const auto log = scale->requests();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().frame[2], 0x00);
    EXPECT_EQ(log.back().frame[3], 0xD0);   // the last frame is the 7th try of PLU 4
}

TEST_F(WindowWithScale, CancelDuringAWaitEndsWithoutErrorFormOrMessage)
{
    openWithScale({"silence@cmd=55,bank=F4,count=always"});
    form->KYRBusComm1->RetryInterval = 5000;
    bool errorFormSeen = false;
    auto* poll = new QTimer(form.get());
    QObject::connect(poll, &QTimer::timeout, form.get(), [&] {
        if (progress->ProgressState() == 1)
            errorFormSeen = true;
        if (scale->requests().size() >= 5 && progress->CancelBtn->isVisible())
            progress->CancelBtn->click();
    });
    poll->start(10);
    QElapsedTimer clock;
    clock.start();
    form->DownloadItem->trigger();
    EXPECT_LT(clock.elapsed(), 4000);   // well before the first time-out would end
    EXPECT_FALSE(errorFormSeen);
    EXPECT_TRUE(dialogs.Boxes.isEmpty());
    EXPECT_FALSE(progress->isVisible());
    EXPECT_TRUE(form->isEnabled());
}

TEST_F(Window, LanguageFileRetitlesTheWindowItsCommandsAndTheGrid)
{
    home.write("varlo-manager.LNG",
               "[MainForm]\r\nCaption=Gestor\r\nDownloadItem.Caption=&Enviar PLU\r\n"
               "DownBtn.Hint=Enviar\r\nToolbarButton972.Caption=Abrir\r\nSalereport1.Hint=Valores\r\n"
               "[PLU Grid Titles]\r\n1=Precio\r\n[String]\r\nRange=\"Entre 0 y \"\r\n");
    open();
    EXPECT_EQ(form->windowTitle(), "Gestor");
    EXPECT_EQ(form->DownloadItem->text(), "&Enviar PLU");
    EXPECT_EQ(form->DownBtn->toolTip(), "Enviar");
    EXPECT_EQ(form->ToolbarButton972->text(), "Abrir");
    EXPECT_EQ(form->PriceTitleButton->text(), "Precio");
    EXPECT_EQ(form->Wb.RangeMessage(), "Entre 0 y 99999.99");
    // "Get AllValue" has no hint, so the file cannot give it one.
    EXPECT_EQ(form->Salereport1->statusTip(), "");
    // The one caption the layout sets after the language file.
    EXPECT_EQ(form->Pricedecimal[3]->text(), "Price decimal (2)");

    // The hidden language menu checks one item and loads the same file again.
    form->LanguageClick(form->Spanish1);
    EXPECT_TRUE(form->Spanish1->isChecked());
    EXPECT_FALSE(form->English1->isChecked());
    EXPECT_EQ(form->windowTitle(), "Gestor");
    EXPECT_FALSE(form->LanguageMenu->menuAction()->isVisible());
    MessageTexts.resetToBuiltIn();
}

TEST_F(Window, StartUpGoesOnWhenRecordFileCannotBeCreated)
{
    // A dangling link: the file does not exist, and it cannot be created.
    ASSERT_EQ(::symlink("/nonexistent-varlo-dir/Record.txt", home.file("Record.txt").toLocal8Bit().constData()), 0);
    open();
    ASSERT_EQ(dialogs.Errors.size(), 1);
    EXPECT_TRUE(dialogs.Errors[0].contains("Record.txt")) << dialogs.Errors[0].toStdString();
    EXPECT_TRUE(form->ToolbarButton972->isEnabled());
    EXPECT_FALSE(form->ToolbarButton973->isEnabled());
    EXPECT_FALSE(form->DownloadItem->isEnabled());
    EXPECT_EQ(form->CommBtn->text(), "COM2");
}

TEST_F(WindowWithScale, F7RunsTheHiddenSaleReportAndF8RunsUpload)
{
    openWithScale();
    scale->setSaleFigures({185, 150, 1234});
    QTest::keyClick(form.get(), Qt::Key_F7);
    ASSERT_EQ(form->Commands->ReportGrid.RowCount(), 3);
    EXPECT_EQ(form->Commands->ReportGrid.Row(1), (QStringList{"1.50", "1.234kg", "1.85"}));
    EXPECT_TRUE(dialogs.Boxes.isEmpty());
    // The report grid is made by its first report, and stays hidden.
    ASSERT_NE(form->StringGrid2, nullptr);
    EXPECT_FALSE(form->StringGrid2->isVisible());
    ASSERT_NE(form->StringGrid2->item(0, 3), nullptr);
    EXPECT_EQ(form->StringGrid2->item(0, 0)->text(), "1");
    EXPECT_EQ(form->StringGrid2->item(0, 3)->text(), "1.85");

    scale->setPlu(5, {0, 999});
    QApplication::processEvents();   // the event loop runs between two commands
    QTest::keyClick(form.get(), Qt::Key_F8);
    ASSERT_EQ(dialogs.Boxes.size(), 1);
    EXPECT_EQ(dialogs.Boxes[0].text, "Upload PLU OK!");
    EXPECT_EQ(cell(colPrice, 5), "9.99");
    EXPECT_TRUE(form->Memo2->toPlainText().isEmpty());   // F8 is never "Get AllValue"
}

TEST_F(WindowWithScale, GetAllValueAddsALineToTheRightPane)
{
    openWithScale();
    varlo::sim::Indication reading;
    reading.weightGrams = -1234;
    reading.unitPrice = 150;
    reading.totalPrice = 185;
    scale->setIndication(reading);
    form->Salereport1->trigger();
    form->Salereport1->trigger();
    EXPECT_EQ(form->Memo2->toPlainText(), "-1.234kg;1.50;1.85\n-1.234kg;1.50;1.85");
}

TEST_F(Window, DeleteAndTabBehaveAsEditingAndLeavingKeys)
{
    open();
    go(colPrice, 6);
    type("789");
    key(Qt::Key_Home);
    // Delete as X11 delivers it, with the text 0x7F: an editing key, never filtered.
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7F)));
    QApplication::sendEvent(QApplication::focusWidget(), &del);
    EXPECT_EQ(cell(colPrice, 6), "89");

    // Tab leaves the grid: the exit rule runs, no cell move and no message.
    go(colPrice, 7);
    type("1.2.3");
    key(Qt::Key_Tab);
    EXPECT_EQ(cell(colPrice, 7), "0");
    EXPECT_TRUE(dialogs.Boxes.isEmpty());
    EXPECT_FALSE(form->StringGrid1->hasFocus());
}

TEST_F(Window, EnterOpensTheEditorAndClosesItAgain)
{
    open();
    go(colName, 3);
    EXPECT_FALSE(form->StringGrid1->IsEditing());
    key(Qt::Key_Return);
    EXPECT_TRUE(form->StringGrid1->IsEditing());
    EXPECT_TRUE(form->Wb.Modified);   // opening the editor counts as an edit
    type("Pears");
    key(Qt::Key_Return);
    QApplication::processEvents();   // the editor closes on the next turn of the loop
    EXPECT_FALSE(form->StringGrid1->IsEditing());
    EXPECT_EQ(cell(colName, 3), "Pears");
    EXPECT_EQ(form->StringGrid1->currentIndex().row(), 2) << "Enter moves nowhere";
}

TEST_F(Window, ARefusedFirstKeyStillOpensTheEditorAndMarksTheTable)
{
    open();
    go(colPrice, 8);
    EXPECT_FALSE(form->Wb.Modified);
    type("x");
    EXPECT_TRUE(form->Wb.Modified);
    EXPECT_TRUE(form->StringGrid1->IsEditing());
    EXPECT_EQ(cell(colPrice, 8), "0.00");
}

TEST_F(Window, ARefusedMoveFromAClosedCellOpensNoEditor)
{
    open();
    form->Wb.Table.setCell(colPrice, 9, "123456.78");
    go(colPrice, 9);
    QTest::keyClick(form->StringGrid1, Qt::Key_Down);
    ASSERT_EQ(dialogs.Boxes.size(), 1);
    EXPECT_FALSE(form->StringGrid1->IsEditing());
    EXPECT_FALSE(form->Wb.Modified);
    EXPECT_EQ(form->StringGrid1->currentIndex(), at(colPrice, 9));
}

TEST_F(WindowWithScale, TheWindowDoesNotCloseUnderARunningCommand)
{
    openWithScale({"late:400@cmd=77,bank=F9,addr=00C4"});
    form->KYRBusComm1->RetryInterval = 2000;
    bool closed = true;
    QTimer::singleShot(100, form.get(), [&] { closed = form->close(); });
    form->DownloadItem->trigger();
    EXPECT_FALSE(closed);
    EXPECT_TRUE(form->isVisible());
    ASSERT_EQ(dialogs.Boxes.size(), 1);
    EXPECT_EQ(dialogs.Boxes[0].text, "Download PLU OK!");
}

namespace {
// Where navy text was painted in `r` of `image`: the leftmost column, or -1.
int leftmostNavy(const QImage& image, const QRect& r)
{
    for (int x = r.left(); x <= r.right(); ++x)
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() > c.red() + 60 && c.blue() > c.green() + 60)
                return x - r.left();
        }
    return -1;
}

// One cell painted by the grid's delegate alone, on white.
QImage paintedCell(const PluGridDelegate& delegate, const QModelIndex& index, const QFont& font, int width)
{
    QImage image(width, 19, QImage::Format_RGB32);
    image.fill(Qt::white);
    QStyleOptionViewItem o;
    o.font = font;
    o.fontMetrics = QFontMetrics(font);
    o.rect = image.rect();
    o.state = QStyle::State_Enabled | QStyle::State_Active;
    QPainter p(&image);
    delegate.paint(&p, o, index);
    return image;
}

// Rightmost column holding a navy pixel, or -1.
int rightmostNavy(const QImage& image)
{
    for (int x = image.width() - 1; x >= 0; --x)
        for (int y = 0; y < image.height(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() > c.red() + 60 && c.blue() > c.green() + 60)
                return x;
        }
    return -1;
}
} // namespace

TEST_F(Window, TitlesAndKeyLabelsAreCentredOnlyWhenTheyFit)
{
    open();
    // A title wider than its column starts at the cell's left edge; centred,
    // only the blanks in its middle would show.
    MessageTexts.set(mtPluTitleName, "W" + QString(300, ' ') + "W");
    form->GridModel->refreshTitles();
    form->GridHeader->viewport()->update();
    QApplication::processEvents();
    const QImage header = form->GridHeader->viewport()->grab().toImage();
    auto section = [&](int c) {
        return QRect(form->GridHeader->sectionViewportPosition(c), 0, form->GridHeader->sectionSize(c),
                     form->GridHeader->height());
    };
    const int longTitle = leftmostNavy(header, section(colName));
    EXPECT_GE(longTitle, 0);
    EXPECT_LT(longTitle, 8);
    const int shortTitle = leftmostNavy(header, section(colNumber));   // "No." in 120 pixels
    EXPECT_GT(shortTitle, 30);
    MessageTexts.resetToBuiltIn();

    // Key labels follow the same rule and are never cut short with an ellipsis.
    PluGridDelegate delegate(form->Wb, nullptr);
    const QFont font = form->StringGrid1->font();
    const QModelIndex u70 = at(colNumber, 77);
    const QImage wide = paintedCell(delegate, u70, font, 120);
    const int labelWidth = QFontMetrics(font).horizontalAdvance("U70");
    const int wideLeft = leftmostNavy(wide, wide.rect());
    EXPECT_NEAR(wideLeft, (120 - labelWidth) / 2, 3);
    EXPECT_NEAR(120 - 1 - rightmostNavy(wide), (120 - labelWidth) / 2, 4);

    // A cell three pixels narrower than the label (text margins of 3 and the
    // grid line): it starts at the left edge and runs into the cell's right
    // margin, clipped; an ellipsis would have stopped short of it.
    const int narrowWidth = labelWidth + 4;
    const QImage narrow = paintedCell(delegate, u70, font, narrowWidth);
    EXPECT_LE(leftmostNavy(narrow, narrow.rect()), 5);
    EXPECT_GE(rightmostNavy(narrow), narrowWidth - 5);
    // ...showing the label's own glyphs up to the clip: column for column
    // the same pixels as the whole label in the wide cell.
    const int from = leftmostNavy(narrow, narrow.rect());
    int differing = 0;
    for (int x = 0; from + x < narrowWidth - 4; ++x)
        for (int y = 0; y < 19; ++y)
            differing += narrow.pixel(from + x, y) != wide.pixel(wideLeft + x, y);
    EXPECT_EQ(differing, 0);
    const QImage narrowCentredIfFit = paintedCell(delegate, u70, font, labelWidth + 40);
    EXPECT_NEAR(leftmostNavy(narrowCentredIfFit, narrowCentredIfFit.rect()), 20, 3);
    EXPECT_EQ(paintedCell(delegate, at(colNumber, 1), font, 120).pixelColor(60, 0),
              QApplication::palette().color(QPalette::Active, QPalette::Button))
        << "key labels sit on the fixed cells' button face";
}

TEST_F(Window, EveryCellDrawsItsGridLinesAndTheEditorStaysInsideThem)
{
    open();
    PluGridDelegate delegate(form->Wb, nullptr);
    const QImage price = paintedCell(delegate, at(colPrice, 5), form->StringGrid1->font(), 60);
    QStyleOption withPalette;
    withPalette.palette = QApplication::palette();
    const QColor line = QColor::fromRgba(static_cast<QRgb>(
        QApplication::style()->styleHint(QStyle::SH_Table_GridLineColor, &withPalette, nullptr)));
    ASSERT_NE(line, QColor(Qt::white));
    for (int y = 0; y < 19; ++y)
        EXPECT_EQ(price.pixelColor(59, y), line) << "right edge, y " << y;
    for (int x = 0; x < 59; ++x)
        EXPECT_EQ(price.pixelColor(x, 18), line) << "bottom edge, x " << x;
    EXPECT_EQ(price.pixelColor(58, 1), QColor(Qt::white)) << "a line one pixel wide";

    // The view no longer reserves a pixel for its own lines: the delegate's
    // are the only ones, and the in-place editor covers the cell inside them.
    EXPECT_FALSE(form->StringGrid1->showGrid());
    go(colPrice, 3);
    key(Qt::Key_Return);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    const QRect cell = form->StringGrid1->visualRect(at(colPrice, 3));
    EXPECT_EQ(editor->geometry(), cell.adjusted(0, 0, -1, -1));
}

// ---------------------------------------------------------------- commands with the cell editor open

#include "../presentation/recordingcanvas.h"
#include <QClipboard>
#include <functional>

namespace {
// The run's printer, recording what a print command asked and drew.
class RecordingPrinter : public PrintDevice {
public:
    int PrintAsked = 0, FontAsked = 0;
    QStringList Drawn;
    bool printDialog() override { ++PrintAsked; return true; }
    bool fontDialog(QFont&) override { ++FontAsked; return false; }
    std::unique_ptr<PrintCanvas> canvas() override { return std::make_unique<Canvas>(Drawn); }

private:
    struct Canvas : RecordingCanvas {
        explicit Canvas(QStringList& sink) : Sink(sink) {}
        ~Canvas() override
        {
            for (const Op& o : Ops)
                if (o.kind == Text)
                    Sink.append(o.text);
        }
        QStringList& Sink;
    };
};

// One command that reads the table: how the operator starts it, whether it
// ran, and what it read after a valid edit of row U12.
struct TableCommand {
    const char* name;
    std::function<void()> run;
    std::function<bool()> ran;
    std::function<void()> readTheCheckedPrice;
};

constexpr int EditedRow = 19;   // U12

struct EditorOpen : WindowWithScale {
    RecordingPrinter* printer = nullptr;
    QString savedAs;

    QList<TableCommand> commands()
    {
        const QString asked = MessageTexts[mtSave];
        auto questionAsked = [this, asked] {
            return std::any_of(dialogs.Boxes.begin(), dialogs.Boxes.end(),
                               [&](const ScriptedDialogs::Box& b) { return b.text == asked; });
        };
        auto savedLine = [this](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll().split('\n').value(EditedRow - 1) : QByteArray();
        };
        return {
            {"download (F9)", [this] { key(Qt::Key_F9); }, [this] { return !scale->requests().empty(); },
             [this] { EXPECT_EQ(scale->plu(EditedRow), (varlo::sim::PluRecord{0, 1250})); }},
            {"download (button)", [this] { form->DownBtn->click(); }, [this] { return !scale->requests().empty(); },
             [this] { EXPECT_EQ(scale->plu(EditedRow), (varlo::sim::PluRecord{0, 1250})); }},
            {"upload (F8)", [this] { key(Qt::Key_F8); }, [this] { return !scale->requests().empty(); },
             [questionAsked] { EXPECT_TRUE(questionAsked()); }},
            {"save (Ctrl+S)", [this] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier); },
             [this] { return QFile::exists(home.file("current.KYR")); },
             [this, savedLine] { EXPECT_EQ(savedLine(home.file("current.KYR")), "   12.50\t             \tkg\r"); }},
            {"save as", [this] { form->SaveasItem->trigger(); }, [this] { return dialogs.SaveAsked > 0; },
             [this, savedLine] { EXPECT_EQ(savedLine(savedAs), "   12.50\t             \tkg\r"); }},
            {"print price list", [this] { form->Print1->trigger(); }, [this] { return printer->PrintAsked > 0; },
             [this] { EXPECT_EQ(printer->Drawn.filter("U12 12.50").size(), 1) << printer->Drawn.join('|').toStdString(); }},
            {"print key sheet", [this] { form->Printkeysheet1Click(); }, [this] { return printer->FontAsked > 0; },
             [] {}},
            {"price mode", [this] { form->PriceDecimalClick(5); }, [this] { return options.PriceDecimal == 3; },
             [this] { EXPECT_EQ(cell(colPrice, EditedRow), "12.500"); }},
            {"close window", [this] { form->close(); }, [this] { return !form->isVisible(); },
             [questionAsked] { EXPECT_TRUE(questionAsked()); }},
            {"new", [this] { form->NewItem->trigger(); }, questionAsked,
             [this] { EXPECT_EQ(cell(colPrice, EditedRow), "0.00"); }},
            {"open", [this] { form->OpenItem->trigger(); }, questionAsked, [this] { EXPECT_EQ(dialogs.OpenAsked, 1); }},
        };
    }

    // A window with the link open, a file name for "&Save", a printer, and
    // the operator answering No to the save question.
    void prepare()
    {
        // Each case starts afresh: no files or answers from the one before.
        for (const char* name : {"config.ini", "current.KYR", "other.KYR"})
            QFile::remove(home.file(name));
        dialogs.Boxes.clear();
        dialogs.Errors.clear();
        dialogs.SaveAsked = dialogs.OpenAsked = 0;
        openWithScale();
        form->Wb.CurrentFileName = home.file("current.KYR");
        savedAs = home.file("other.KYR");
        dialogs.SaveAnswers = {savedAs};
        dialogs.Answers = {MsgResult::No};
        auto p = std::make_unique<RecordingPrinter>();
        printer = p.get();
        form->Printer = std::move(p);
        go(colPrice, EditedRow);
    }
    // Pasted over the whole text, as Ctrl+V in the editor does.
    void paste(const QString& text)
    {
        key(Qt::Key_Return);   // opens the editor with the text selected
        QApplication::clipboard()->setText(text);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
    }
};
} // namespace

TEST_F(EditorOpen, ARefusedPriceInTheEditorStopsEveryCommandThatReadsTheTable)
{
    struct Edit {
        const char* what;
        bool typed;
        const char* text;
    } edits[] = {{"typed over the maximum", true, "999999"}, {"pasted negative", false, "-5"},
                 {"pasted junk", false, "1.2.3"}};
    for (const Edit& e : edits) {
        const int count = int(commands().size());
        for (int i = 0; i < count; ++i) {
            prepare();
            const TableCommand c = commands()[i];
            SCOPED_TRACE(std::string(c.name) + ", " + e.what);
            if (e.typed)
                type(e.text);
            else
                paste(e.text);
            ASSERT_TRUE(form->StringGrid1->IsEditing());
            c.run();
            EXPECT_FALSE(c.ran());
            ASSERT_EQ(dialogs.Boxes.size(), 1);
            EXPECT_EQ(dialogs.Boxes[0].text, "Ranging between 0 and 99999.99");
            EXPECT_EQ(dialogs.Boxes[0].icon, MsgIcon::Error);
            // The operator is back in the cell, the text as it was.
            EXPECT_TRUE(form->StringGrid1->IsEditing());
            EXPECT_EQ(form->StringGrid1->currentIndex(), at(colPrice, EditedRow));
            auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            ASSERT_NE(editor, nullptr);
            EXPECT_EQ(editor->text(), e.text);
            EXPECT_EQ(cell(colPrice, EditedRow), e.text);
            EXPECT_EQ(options.PriceDecimal, 2);
            EXPECT_TRUE(form->isVisible());
            TearDown();
        }
    }
}

TEST_F(EditorOpen, AValidPriceInTheEditorIsCheckedAndFormattedBeforeTheCommandReadsIt)
{
    const int count = int(commands().size());
    for (int i = 0; i < count; ++i) {
        prepare();
        const TableCommand c = commands()[i];
        SCOPED_TRACE(c.name);
        type("12.5");
        ASSERT_TRUE(form->StringGrid1->IsEditing());
        c.run();
        EXPECT_TRUE(c.ran());
        EXPECT_FALSE(form->StringGrid1->IsEditing());
        EXPECT_FALSE(std::any_of(dialogs.Boxes.begin(), dialogs.Boxes.end(),
                                 [](const ScriptedDialogs::Box& b) { return b.icon == MsgIcon::Error; }));
        c.readTheCheckedPrice();
        TearDown();
    }
}

// ---------------------------------------------------------------- price mode changes from the window

TEST_F(Window, PricesChangedByPasteBackspaceOrDeleteSurviveAModeChange)
{
    open();
    go(colPrice, 1);
    type("125");
    key(Qt::Key_Backspace);
    key(Qt::Key_Down);
    EXPECT_EQ(cell(colPrice, 1), "12.00");

    go(colPrice, 2);
    type("3");
    key(Qt::Key_Down);
    go(colPrice, 2);
    key(Qt::Key_Return);   // the editor opens with the text selected
    QApplication::clipboard()->setText("7.50");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
    key(Qt::Key_Down);
    EXPECT_EQ(cell(colPrice, 2), "7.50");

    go(colPrice, 3);
    type("456");
    key(Qt::Key_Home);
    key(Qt::Key_Delete);
    key(Qt::Key_Down);
    EXPECT_EQ(cell(colPrice, 3), "56.00");

    form->PriceDecimalClick(5);
    EXPECT_EQ(cell(colPrice, 1), "12.000");
    EXPECT_EQ(cell(colPrice, 2), "7.500");
    EXPECT_EQ(cell(colPrice, 3), "56.000");
    EXPECT_TRUE(dialogs.Boxes.isEmpty());
}

TEST_F(Window, AModeChangeThatAPriceDoesNotFitNamesTheKeyAndChangesNothing)
{
    open();
    form->PriceDecimalClick(0);
    go(colPrice, 19);
    type("999999");
    key(Qt::Key_Down);
    ASSERT_EQ(cell(colPrice, 19), "999999");
    const QByteArray iniBefore = home.read("config.ini");

    form->Pricedecimal[3]->trigger();   // "Price decimal (2)"
    ASSERT_EQ(dialogs.Boxes.size(), 1);
    EXPECT_EQ(dialogs.Boxes[0].text, "Ranging between 0 and 99999.99\nU12: 999999");
    EXPECT_EQ(dialogs.Boxes[0].icon, MsgIcon::Error);
    EXPECT_EQ(options.PriceDecimal, 0);
    EXPECT_EQ(home.read("config.ini"), iniBefore);
    EXPECT_EQ(cell(colPrice, 19), "999999");
    EXPECT_EQ(cell(colPrice, 1), "0");
    EXPECT_EQ(cell(colPrice, 77), "0");
    // Typing a 2 decimals key is still refused: the mode in force is 0.
    go(colPrice, 20);
    type("1.5");
    EXPECT_EQ(cell(colPrice, 20), "15");
}

// ------------------------------------------------------------------ undo

#include "codepage.h"
#include "pricecsv.h"
#include "tablehistory.h"
#include "tablesnapshot.h"

namespace {
// A window on a file that was just opened: the history is empty, the table
// unmodified, and row 3 holds a name that does not decode in UTF-8.
struct UndoWindow : WindowWithScale {
    void openFile()
    {
        cp::setName("UTF-8");
        home.write("start.KYR", "   12.50\tApple        \tkg\r\n    1.00\tPear         \tkg\r\n"
                                "    2.00\tK\xE4se         \tlb\r\n");
        form->Wb.LoadPluFile(home.file("start.KYR"));
        ASSERT_FALSE(form->Wb.Modified);
        ASSERT_FALSE(form->UndoItem->isEnabled());
    }
    void TearDown() override
    {
        WindowWithScale::TearDown();
        cp::useLocaleCodePage();
    }
    TableSnapshot now() { return CaptureTable(form->Wb); }
};
} // namespace

TEST_F(UndoWindow, EveryKindOfChangeIsUndoneAndRedoneWithTheModifiedFlag)
{
    struct Case {
        const char* what;
        std::function<void(UndoWindow&)> change;
        bool modifiedAfterUndo, modifiedAfterRedo;
    };
    const QList<Case> cases = {
        {"a typed price", [](UndoWindow& w) { w.go(colPrice, 1); w.type("7"); w.key(Qt::Key_Down); }, false, true},
        {"a typed name",
         [](UndoWindow& w) { w.go(colName, 4); w.type("Brie"); w.key(Qt::Key_Up); }, false, true},
        {"an import", [](UndoWindow& w) {
             w.home.write("in.csv", "Key,Unit Price,Name\nM2,3.5,Plum\nU1,1,Fig\n");
             int changed = 0;
             EXPECT_TRUE(w.form->ImportCsvFile(w.home.file("in.csv"), &changed).ok());
             EXPECT_EQ(changed, 2);
         }, false, true},
        {"a bulk change", [](UndoWindow& w) {
             RepriceRequest r;
             r.Value = "10";
             r.Rows = {1, 2, 3};
             w.form->ApplyPriceChange(PlanReprice(w.form->Wb, r));
         }, false, true},
        {"a pasted price", [](UndoWindow& w) {
             w.go(colPrice, 2);
             w.key(Qt::Key_Return);   // the editor opens with the text selected
             QApplication::clipboard()->setText("7.50");
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
             w.key(Qt::Key_Down);
         }, false, true},
        {"Delete in a price", [](UndoWindow& w) {
             w.go(colPrice, 1);
             w.key(Qt::Key_Return);
             w.key(Qt::Key_Home);
             w.key(Qt::Key_Delete);
             w.key(Qt::Key_Down);
         }, false, true},
        {"New", [](UndoWindow& w) { w.form->NewItemClick(); }, false, true},
        {"a price decimal mode", [](UndoWindow& w) { w.form->PriceDecimalClick(0); }, false, true},
        {"an upload", [](UndoWindow& w) {
             w.scale->setPlu(5, {0, 999});
             w.form->ToolbarButton972Click();
             w.form->UploadItemClick();
             w.form->ToolbarButton973Click();
         }, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        openWithScale();
        form->ToolbarButton973Click();
        openFile();
        const TableSnapshot before = now();
        c.change(*this);
        const TableSnapshot after = now();
        ASSERT_FALSE(after == before);
        ASSERT_TRUE(form->UndoItem->isEnabled());
        form->UndoItem->trigger();
        EXPECT_TRUE(now() == before);
        EXPECT_EQ(cell(colName, 3), "K\xE4se         ");
        EXPECT_EQ(form->Wb.Modified, c.modifiedAfterUndo);
        ASSERT_TRUE(form->RedoItem->isEnabled());
        form->RedoItem->trigger();
        EXPECT_TRUE(now() == after);
        EXPECT_EQ(form->Wb.Modified, c.modifiedAfterRedo);
        TearDown();
    }
}

TEST_F(UndoWindow, KeysSavingAndOpeningAFile)
{
    open();
    openFile();
    go(colPrice, 1);
    type("8");
    key(Qt::Key_Down);
    go(colPrice, 2);
    type("9");
    key(Qt::Key_Down);
    QTest::keyClick(form->StringGrid1, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(cell(colPrice, 2), "1.00");
    EXPECT_EQ(cell(colPrice, 1), "8.00");
    EXPECT_TRUE(form->Wb.Modified);
    form->SaveItemClick();
    EXPECT_FALSE(form->Wb.Modified);
    QTest::keyClick(form->StringGrid1, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(cell(colPrice, 2), "9.00");
    EXPECT_TRUE(form->Wb.Modified);
    QTest::keyClick(form->StringGrid1, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(form->Wb.Modified);   // back where it was saved
    form->Wb.LoadPluFile(home.file("start.KYR"));
    EXPECT_FALSE(form->UndoItem->isEnabled());
    EXPECT_FALSE(form->RedoItem->isEnabled());
}

TEST_F(UndoWindow, ARefusedImportChangesNothingAndLeavesNoStep)
{
    open();
    openFile();
    const TableSnapshot before = now();
    home.write("in.csv", "Key;Unit Price\nM1;2\nM9;3\n");
    int changed = -1;
    const CsvImport in = form->ImportCsvFile(home.file("in.csv"), &changed);
    EXPECT_EQ(in.report(), "line 3, M9: unknown key");
    EXPECT_EQ(changed, 0);
    EXPECT_TRUE(now() == before);
    EXPECT_FALSE(form->UndoItem->isEnabled());
    EXPECT_FALSE(form->Wb.Modified);
}

// ---------------------------------------------------------------- compare and the safety options

#include "safetymenu.h"

TEST_F(WindowWithScale, CompareShowsTheDifferencesAndChangesNothing)
{
    openWithScale();
    scale->setPlu(3, {0, 1234});   // M3: 12.34 kg in the scale
    form->UploadItemClick();
    ASSERT_EQ(cell(colPrice, 3), "12.34");
    dialogs.Boxes.clear();

    form->CompareItem->trigger();
    ASSERT_EQ(dialogs.Boxes.size(), 1);
    EXPECT_EQ(dialogs.Boxes[0].text, "The scale holds the table.");

    form->Wb.Table.setCell(colPrice, 3, "9.99");   // as an accepted edit leaves it
    const QByteArray tableBefore = cell(colPrice, 3), iniBefore = home.read("config.ini");
    QStringList rowShown;
    QTimer poll;   // the dialog comes after the transfer's own waits
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<CompareDialog*>(w); box && box->isVisible()) {
                poll.stop();
                for (int c = 0; c < box->DifferenceGrid->columnCount(); ++c)
                    rowShown << box->DifferenceGrid->item(0, c)->text();
                EXPECT_EQ(box->DifferenceGrid->rowCount(), 1);
                box->accept();
            }
    });
    poll.start(20);
    form->CompareItem->trigger();
    poll.stop();
    EXPECT_EQ(rowShown, QStringList({"M3", "9.99", "kg", "12.34", "kg"}));
    EXPECT_EQ(cell(colPrice, 3), tableBefore);
    EXPECT_EQ(home.read("config.ini"), iniBefore);
    EXPECT_EQ(scale->plu(3), (varlo::sim::PluRecord{0, 1234}));
}

TEST_F(Window, SafetyOptionsAreKeptInTheSettings)
{
    open();
    EXPECT_TRUE(form->VerifyItem->isChecked()) << "verify is on until the operator turns it off";
    EXPECT_FALSE(form->BackupItem->isChecked());
    form->VerifyItem->trigger();
    form->BackupItem->trigger();
    const QByteArray ini = home.read("config.ini");
    EXPECT_TRUE(ini.contains("[Options]")) << ini.constData();
    EXPECT_TRUE(ini.contains("Verify after download=0")) << ini.constData();
    EXPECT_TRUE(ini.contains("Backup before download=1")) << ini.constData();
    TearDown();
    open();
    EXPECT_FALSE(form->VerifyItem->isChecked());
    EXPECT_TRUE(form->BackupItem->isChecked());
}
