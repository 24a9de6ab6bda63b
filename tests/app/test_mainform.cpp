// The main window driven as the operator drives it, offscreen, alone or with
// the link open to a simulated scale.
#include "../presentation/recordingcanvas.h"
#include "appenvironment.h"
#include "codepage.h"
#include "kyrbuscomm.h"
#include "mainform.h"
#include "plugrid.h"
#include "pricecsv.h"
#include "progressform.h"
#include "regional.h"
#include "safetymenu.h"
#include "scalecommands.h"
#include "scalesim.h"
#include "tablesnapshot.h"
#include <QTest>
#include <QtWidgets>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

namespace {

const QString Range = "Ranging between 0 and 99999.99";

// One window per case, alone or with the link open to a simulated scale.
struct Window : ::testing::Test, AppEnvironment {
    std::unique_ptr<varlo::sim::ScaleSim> scale;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TProgressForm> progress;
    QTimer watcher;

    void open(char separator = '.')
    {
        regional::setDecimalSeparator(separator);
        MessageTexts.resetToBuiltIn();
        form = std::make_unique<TMainForm>();
        progress = std::make_unique<TProgressForm>();
        form->SetSecondaryForms(progress.get(), nullptr);
        form->show();
        QApplication::setActiveWindow(form.get());
        form->StringGrid1->setFocus();
        QApplication::processEvents();
    }
    void openWithScale(const std::vector<std::string>& faults = {})
    {
        scale = std::make_unique<varlo::sim::ScaleSim>();
        for (const std::string& f : faults)
            scale->addFault(f);
        LinkSettings::setDemoDevice("COM2", QString::fromStdString(scale->start()));
        open();
        form->KYRBusComm1->RetryInterval = 200;
        form->ToolbarButton972Click();
        ASSERT_TRUE(dialogs.Errors.isEmpty()) << dialogs.Errors.value(0).toStdString();
        ASSERT_TRUE(form->DownloadItem->isEnabled());
    }
    void TearDown() override
    {
        watcher.disconnect();   // its steps see the test's own variables
        watcher.stop();
        if (form && form->KYRBusComm1->isActive())
            form->ToolbarButton973Click();
        if (form)
            form->Wb.Modified = false;   // no save question on the way out
        form.reset();
        regional::useLocaleSeparator();
        scale.reset();
        LinkSettings::setDemoDevice("COM2", {});
        cp::useLocaleCodePage();
    }
    // A case of a table starts afresh: no window, files or answers from the one before.
    void restart()
    {
        TearDown();
        for (const QString& name : QDir(home.path()).entryList(QDir::Files))
            QFile::remove(home.file(name));
        dialogs.Boxes.clear();
        dialogs.Errors.clear();
        dialogs.Beeps = dialogs.SaveAsked = dialogs.OpenAsked = 0;
    }

    QModelIndex at(int col, int row) { return form->GridModel->index(row - 1, col); }
    QByteArray cell(int col, int row) { return form->Wb.Table.cell(col, row); }
    void go(int col, int row) { form->StringGrid1->setCurrentIndex(at(col, row)); }
    // Keys one at a time to whatever has the focus, as the operator types
    // them (the first opens the editor, which then has it). "{Down}",
    // "{Ctrl+Z}": a key by name; "{Paste:7.50}": that text pasted; "{X11Del}":
    // Delete with the text 0x7F, as X11 delivers it; "{Leave}": the focus
    // moves to the right pane.
    void play(const QString& keys)
    {
        for (qsizetype i = 0; i < keys.size(); ++i) {
            QWidget* to = QApplication::focusWidget();
            if (keys[i] != '{') {
                QTest::keyClicks(to, QString(keys[i]));
                continue;
            }
            const qsizetype end = keys.indexOf('}', i);
            const QString name = keys.mid(i + 1, end - i - 1);
            i = end;
            if (name.startsWith("Paste:")) {
                QApplication::clipboard()->setText(name.mid(6));
                QTest::keyClick(to, Qt::Key_V, Qt::ControlModifier);
            } else if (name == "X11Del") {
                QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7F)));
                QApplication::sendEvent(to, &del);
            } else if (name == "Leave") {
                form->Memo2->setFocus();
                QApplication::processEvents();
            } else {
                const QKeyCombination k = QKeySequence::fromString(name)[0];
                ASSERT_NE(k.toCombined(), 0) << name.toStdString();
                QTest::keyClick(to, k.key(), k.keyboardModifiers());
            }
        }
    }
    void edit(int col, int row, const QString& keys)
    {
        go(col, row);
        play(keys);
    }
    // Runs `step` every 10 ms while a command runs, as the operator watching it.
    void watch(const std::function<void()>& step)
    {
        QObject::connect(&watcher, &QTimer::timeout, step);
        watcher.start(10);
    }
    // The one message box shown so far.
    void expectBox(const QString& text, std::optional<MsgIcon> icon = {})
    {
        ASSERT_EQ(dialogs.Boxes.size(), 1) << dialogs.Boxes.value(0).text.toStdString();
        EXPECT_EQ(dialogs.Boxes[0].text, text);
        EXPECT_EQ(dialogs.Boxes[0].icon, icon.value_or(dialogs.Boxes[0].icon));
    }
};
using WindowWithScale = Window;

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
    EXPECT_FALSE(form->ReportItem->isVisible());
    EXPECT_FALSE(form->Printkeysheet1->isVisible());
    EXPECT_EQ(form->Pricedecimal[3]->text(), "Price decimal (2)");
    for (int i : {0, 1, 2, 4, 5})
        EXPECT_FALSE(form->Pricedecimal[i]->isVisible());
    EXPECT_EQ(home.read("Record.txt"), QByteArray::fromHex("D6D8C1BF09B5A5D6D809CAFDC1BF0D0A"));

    // The price title's button follows its title cell.
    QTest::qWait(50);
    ASSERT_TRUE(form->PriceTitleButton->isVisible());
    const int before = form->PriceTitleButton->x();
    EXPECT_EQ(form->PriceTitleButton->text(), "Unit Price");
    form->StringGrid1->setColumnWidth(0, 200);
    QTest::qWait(50);
    EXPECT_EQ(form->PriceTitleButton->x(), before + 80);
}

namespace {
// One edit in a fresh window: the cell, the keys, and what the grid shows after.
struct GridEdit {
    const char* name;
    int col, row;
    QString keys;
    QByteArray cell;
    int rowAfter;                   // where the cursor ends
    QString box = {};               // the one error box; none when empty
    bool editing = false, modified = true, beeps = false;
    QByteArray stored = {};         // what the store keeps, when checked
    QByteArray threeDecimals = {};  // the cell after a change to three decimals, when checked
    int mode = 3;                   // the price decimal item in force
    char separator = '.';
    QByteArray preset = {};         // in the cell before, as an accepted edit leaves it
};
const GridEdit GridEdits[] = {
    {"typed price", colPrice, 1, "12.5{Down}", "12.50", 2, {}, false, true, false, "12.5", "12.500"},
    {"typed price, comma", colPrice, 1, "12,5{Down}", "12,50", 2, {}, false, true, false, "12,5", "12,500", 3, ','},
    {"letters dropped", colPrice, 2, "a7b{Down}", "7.00", 3},
    {"separator dropped in mode 0", colPrice, 3, "4.5{Down}", "45", 4, {}, false, true, false, {}, {}, 0},
    {"over the maximum", colPrice, 4, "1000000{Down}", "1000000", 4, Range, true},
    {"name of 16 letters", colName, 1, "ABCDEFGHIJKLMNOP{Down}", "ABCDEFGHIJKLM", 2},
    {"bad price, focus leaves", colPrice, 5, "1.2.3{Leave}", "0", 5, {}, false, true, true},
    {"bad price, Tab", colPrice, 7, "1.2.3{Tab}", "0", 7, {}, false, true, true},
    {"Delete as X11 sends it", colPrice, 6, "789{Home}{X11Del}", "89", 6, {}, true},
    {"Enter opens the editor", colName, 3, "{Return}", "", 3, {}, true},
    {"Enter closes it", colName, 3, "{Return}Pears{Return}", "Pears", 3},
    {"refused first key", colPrice, 8, "x", "0.00", 8, {}, true},
    {"refused move from a closed cell", colPrice, 9, "{Down}", "123456.78", 9, Range, false, false, false, {}, {},
     3, '.', "123456.78"},
    {"Backspace", colPrice, 1, "125{Backspace}{Down}", "12.00", 2, {}, false, true, false, {}, "12.000"},
    {"pasted", colPrice, 2, "3{Down}{Up}{Return}{Paste:7.50}{Down}", "7.50", 3, {}, false, true, false, {}, "7.500"},
    {"Delete", colPrice, 3, "456{Home}{Del}{Down}", "56.00", 4, {}, false, true, false, {}, "56.000"},
};
} // namespace

TEST_F(Window, EditsInTheGridAreFilteredCheckedAndFormatted)
{
    for (const GridEdit& c : GridEdits) {
        SCOPED_TRACE(c.name);
        restart();
        open(c.separator);
        if (!c.preset.isEmpty())
            form->Wb.Table.setCell(c.col, c.row, c.preset);
        if (c.mode != 3)
            form->PriceDecimalClick(c.mode);
        else
            EXPECT_FALSE(form->Wb.Modified);
        go(c.col, c.row);
        play(c.keys);
        QApplication::processEvents();   // an editor closes on the next turn of the loop
        EXPECT_EQ(cell(c.col, c.row), c.cell);
        EXPECT_EQ(c.stored.isEmpty() ? c.stored : form->Wb.Table.storedPrice(c.row), c.stored);
        EXPECT_EQ(form->StringGrid1->currentIndex(), at(c.col, c.rowAfter));
        EXPECT_EQ(form->StringGrid1->IsEditing(), c.editing);
        EXPECT_EQ(form->Wb.Modified, c.modified);
        EXPECT_EQ(dialogs.Beeps > 0, c.beeps) << dialogs.Beeps;
        EXPECT_EQ(form->StringGrid1->hasFocus() || c.editing, !c.keys.endsWith("{Leave}") && !c.keys.endsWith("{Tab}"));
        if (c.box.isEmpty())
            EXPECT_TRUE(dialogs.Boxes.isEmpty()) << dialogs.Boxes.value(0).text.toStdString();
        else
            expectBox(c.box, MsgIcon::Error);
        if (!c.threeDecimals.isEmpty()) {
            form->PriceDecimalClick(5);
            EXPECT_EQ(cell(c.col, c.row), c.threeDecimals);
            EXPECT_TRUE(dialogs.Boxes.isEmpty());
        }
    }
}

TEST_F(Window, ClosingAChangedTableAsksAndCancelKeepsTheWindowOpen)
{
    open();
    form->Wb.Modified = true;
    dialogs.Answers = {MsgResult::Cancel};
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    expectBox("File has not been saved, save it now?");
    dialogs.Answers = {MsgResult::No};
    EXPECT_TRUE(form->close());
}

TEST_F(Window, ScaleKeysDoNothingWhileTheLinkIsClosed)
{
    open();
    for (Qt::Key k : {Qt::Key_F7, Qt::Key_F9, Qt::Key_F8})
        QTest::keyClick(form.get(), k);
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
    EXPECT_EQ(form->Salereport1->statusTip(), "");   // "Get AllValue" has no hint to translate
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

TEST_F(Window, AModeChangeThatAPriceDoesNotFitNamesTheKeyAndChangesNothing)
{
    open();
    form->PriceDecimalClick(0);
    edit(colPrice, 19, "999999{Down}");
    ASSERT_EQ(cell(colPrice, 19), "999999");
    const QByteArray iniBefore = home.read("config.ini");
    form->Pricedecimal[3]->trigger();   // "Price decimal (2)"
    expectBox(Range + "\nU12: 999999", MsgIcon::Error);
    EXPECT_EQ(options.PriceDecimal, 0);
    EXPECT_EQ(home.read("config.ini"), iniBefore);
    EXPECT_EQ(cell(colPrice, 19), "999999");
    EXPECT_EQ(cell(colPrice, 1), "0");
    EXPECT_EQ(cell(colPrice, 77), "0");
    edit(colPrice, 20, "1.5");   // still refused: the mode in force is 0
    EXPECT_EQ(cell(colPrice, 20), "15");
}

TEST_F(Window, SafetyOptionsAreKeptInTheSettings)
{
    open();
    EXPECT_TRUE(form->VerifyItem->isChecked()) << "verify is on until the operator turns it off";
    EXPECT_FALSE(form->BackupItem->isChecked());
    form->VerifyItem->trigger();
    form->BackupItem->trigger();
    const QByteArray ini = home.read("config.ini");
    for (const char* line : {"[Options]", "Verify after download=0", "Backup before download=1"})
        EXPECT_TRUE(ini.contains(line)) << line << " in " << ini.constData();
    EXPECT_FALSE(form->Commands->VerifyAfterDownload) << "the next download goes without";
    EXPECT_TRUE(form->Commands->BackupBeforeDownload);
    TearDown();
    open();
    EXPECT_FALSE(form->VerifyItem->isChecked());
    EXPECT_TRUE(form->BackupItem->isChecked());
    EXPECT_FALSE(form->Commands->VerifyAfterDownload);
    EXPECT_TRUE(form->Commands->BackupBeforeDownload);
}

// A directory in config.ini's place: the setting is refused with its reason,
// and neither the menu nor the next download takes it.
TEST_F(Window, ASafetySettingThatCannotBeSavedIsNotTaken)
{
    ASSERT_TRUE(QDir(home.path()).mkdir("config.ini"));
    open();
    for (QAction* item : {form->VerifyItem, form->BackupItem}) {
        SCOPED_TRACE(item->text().toStdString());
        const bool was = item->isChecked();
        item->trigger();
        EXPECT_EQ(item->isChecked(), was);
    }
    EXPECT_TRUE(form->Commands->VerifyAfterDownload);
    EXPECT_FALSE(form->Commands->BackupBeforeDownload);
    ASSERT_EQ(dialogs.Errors.size(), 2);
    EXPECT_TRUE(dialogs.Errors[0].contains("config.ini")) << dialogs.Errors[0].toStdString();
}

// ---------------------------------------------------------------- scale commands from the window

TEST_F(WindowWithScale, DownloadFromTheMenuWritesTheTableIntoTheScale)
{
    openWithScale();
    form->Wb.Table.setCell(colPrice, 1, "12.34");
    form->Wb.Table.setCell(colPrice, 77, "0.05");
    form->DownloadItem->trigger();
    expectBox("Download PLU OK!", MsgIcon::Information);
    EXPECT_EQ(scale->plu(1), (varlo::sim::PluRecord{0, 1234}));
    EXPECT_EQ(scale->plu(77), (varlo::sim::PluRecord{0, 5}));
    EXPECT_FALSE(progress->isVisible());
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(scale->requests().back().frame, (varlo::sim::Bytes{0x33, 0, 0, 0, 0, 0xCD}));
}

TEST_F(WindowWithScale, FailedWriteShowsTheErrorFormAtItsPackageAndSendsNothingMore)
{
    openWithScale({"aa@cmd=77,bank=F9,addr=00D0,count=always"});
    QString errorShown, packageShown;
    watch([&] {   // the operator confirms the error form
        if (progress->ProgressState() == 1 && errorShown.isEmpty()) {
            errorShown = progress->StatusLabel->text();
            packageShown = progress->CurLabel->text();
            progress->OKBtn->click();
        }
    });
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
    watch([&] {
        errorFormSeen |= progress->ProgressState() == 1;
        if (scale->requests().size() >= 5 && progress->CancelBtn->isVisible())
            progress->CancelBtn->click();
    });
    QElapsedTimer clock;
    clock.start();
    form->DownloadItem->trigger();
    EXPECT_LT(clock.elapsed(), 4000);   // well before the first time-out would end
    EXPECT_FALSE(errorFormSeen);
    EXPECT_TRUE(dialogs.Boxes.isEmpty());
    EXPECT_FALSE(progress->isVisible());
    EXPECT_TRUE(form->isEnabled());
}

TEST_F(WindowWithScale, F7RunsTheHiddenSaleReportAndF8RunsUpload)
{
    openWithScale();
    scale->setSaleFigures({185, 150, 1234});
    QTest::keyClick(form.get(), Qt::Key_F7);
    ASSERT_EQ(form->Commands->ReportGrid.RowCount(), 3);
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
    expectBox("Upload PLU OK!");
    EXPECT_EQ(cell(colPrice, 5), "9.99");
    EXPECT_TRUE(form->Memo2->toPlainText().isEmpty());   // F8 is never "Get AllValue"
}

TEST_F(WindowWithScale, GetAllValueAddsALineToTheRightPane)
{
    openWithScale();
    scale->setIndication({.weightGrams = -1234, .unitPrice = 150, .totalPrice = 185});
    form->Salereport1->trigger();
    form->Salereport1->trigger();
    EXPECT_EQ(form->Memo2->toPlainText(), "-1.234kg;1.50;1.85\n-1.234kg;1.50;1.85");
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
    expectBox("Download PLU OK!");
}

TEST_F(WindowWithScale, CompareShowsTheDifferencesAndChangesNothing)
{
    openWithScale();
    scale->setPlu(3, {0, 1234});   // M3: 12.34 kg in the scale
    form->UploadItemClick();
    ASSERT_EQ(cell(colPrice, 3), "12.34");
    dialogs.Boxes.clear();
    form->CompareItem->trigger();
    expectBox("The scale holds the table.");
    form->Wb.Table.setCell(colPrice, 3, "9.99");   // as an accepted edit leaves it
    const QByteArray iniBefore = home.read("config.ini");
    QStringList rowShown;
    watch([&] {   // the dialog comes after the transfer's own waits
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<CompareDialog*>(w); box && box->isVisible()) {
                for (int c = 0; c < box->DifferenceGrid->columnCount(); ++c)
                    rowShown << box->DifferenceGrid->item(0, c)->text();
                EXPECT_EQ(box->DifferenceGrid->rowCount(), 1);
                box->accept();
            }
    });
    form->CompareItem->trigger();
    EXPECT_EQ(rowShown, QStringList({"M3", "9.99", "kg", "12.34", "kg"}));
    EXPECT_EQ(cell(colPrice, 3), "9.99");
    EXPECT_EQ(home.read("config.ini"), iniBefore);
    EXPECT_EQ(scale->plu(3), (varlo::sim::PluRecord{0, 1234}));
}

// ---------------------------------------------------------------- painting

namespace {
// The first and last columns of `r` where navy text was painted, counted from
// its left edge; -1 where none was.
std::pair<int, int> navy(const QImage& image, const QRect& r)
{
    std::pair<int, int> span{-1, -1};
    for (int x = r.left(); x <= r.right(); ++x)
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() > c.red() + 60 && c.blue() > c.green() + 60) {
                span.second = x - r.left();
                if (span.first < 0)
                    span.first = span.second;
            }
        }
    return span;
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
    const int longTitle = navy(header, section(colName)).first;
    EXPECT_GE(longTitle, 0);
    EXPECT_LT(longTitle, 8);
    EXPECT_GT(navy(header, section(colNumber)).first, 30);   // "No." in 120 pixels
    MessageTexts.resetToBuiltIn();

    // Key labels follow the same rule and are never cut short with an ellipsis.
    PluGridDelegate delegate(form->Wb, nullptr);
    const QFont font = form->StringGrid1->font();
    const QModelIndex u70 = at(colNumber, 77);
    const QImage wide = paintedCell(delegate, u70, font, 120);
    const int labelWidth = QFontMetrics(font).horizontalAdvance("U70");
    const auto [wideLeft, wideRight] = navy(wide, wide.rect());
    EXPECT_NEAR(wideLeft, (120 - labelWidth) / 2, 3);
    EXPECT_NEAR(120 - 1 - wideRight, (120 - labelWidth) / 2, 4);

    // A cell three pixels narrower than the label (text margins of 3 and the
    // grid line): it starts at the left edge and runs into the cell's right
    // margin, clipped; an ellipsis would have stopped short of it.
    const int narrowWidth = labelWidth + 4;
    const QImage narrow = paintedCell(delegate, u70, font, narrowWidth);
    const auto [from, to] = navy(narrow, narrow.rect());
    EXPECT_LE(from, 5);
    EXPECT_GE(to, narrowWidth - 5);
    // ...showing the label's own glyphs up to the clip: column for column
    // the same pixels as the whole label in the wide cell.
    int differing = 0;
    for (int x = 0; from + x < narrowWidth - 4; ++x)
        for (int y = 0; y < 19; ++y)
            differing += narrow.pixel(from + x, y) != wide.pixel(wideLeft + x, y);
    EXPECT_EQ(differing, 0);
    const QImage centredIfFit = paintedCell(delegate, u70, font, labelWidth + 40);
    EXPECT_NEAR(navy(centredIfFit, centredIfFit.rect()).first, 20, 3);
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
    edit(colPrice, 3, "{Return}");
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->geometry(), form->StringGrid1->visualRect(at(colPrice, 3)).adjusted(0, 0, -1, -1));
}

// ---------------------------------------------------------------- commands with the cell editor open

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

struct EditorOpen : Window {
    RecordingPrinter* printer = nullptr;
    QString savedAs;

    QList<TableCommand> commands()
    {
        auto questionAsked = [this] {
            return std::any_of(dialogs.Boxes.begin(), dialogs.Boxes.end(),
                               [](const ScriptedDialogs::Box& b) { return b.text == MessageTexts[mtSave]; });
        };
        auto saved = [](const QString& path) {
            QFile f(path);
            const QByteArray line = f.open(QIODevice::ReadOnly) ? f.readAll().split('\n').value(EditedRow - 1) : "";
            EXPECT_EQ(line, "   12.50\t             \tkg\r");
        };
        auto sent = [this] { return !scale->requests().empty(); };
        auto inScale = [this] { EXPECT_EQ(scale->plu(EditedRow), (varlo::sim::PluRecord{0, 1250})); };
        auto asked = [questionAsked] { EXPECT_TRUE(questionAsked()); };
        return {
            {"download (F9)", [this] { play("{F9}"); }, sent, inScale},
            {"download (button)", [this] { form->DownBtn->click(); }, sent, inScale},
            {"upload (F8)", [this] { play("{F8}"); }, sent, asked},
            {"save (Ctrl+S)", [this] { play("{Ctrl+S}"); }, [this] { return QFile::exists(home.file("current.KYR")); },
             [this, saved] { saved(home.file("current.KYR")); }},
            {"save as", [this] { form->SaveasItem->trigger(); }, [this] { return dialogs.SaveAsked > 0; },
             [this, saved] { saved(savedAs); }},
            {"print price list", [this] { form->Print1->trigger(); }, [this] { return printer->PrintAsked > 0; },
             [this] { EXPECT_EQ(printer->Drawn.filter("U12 12.50").size(), 1) << printer->Drawn.join('|').toStdString(); }},
            {"print key sheet", [this] { form->Printkeysheet1Click(); }, [this] { return printer->FontAsked > 0; },
             [] {}},
            {"price mode", [this] { form->PriceDecimalClick(5); }, [this] { return options.PriceDecimal == 3; },
             [this] { EXPECT_EQ(cell(colPrice, EditedRow), "12.500"); }},
            {"close window", [this] { form->close(); }, [this] { return !form->isVisible(); }, asked},
            {"new", [this] { form->NewItem->trigger(); }, questionAsked,
             [this] { EXPECT_EQ(cell(colPrice, EditedRow), "0.00"); }},
            {"open", [this] { form->OpenItem->trigger(); }, questionAsked, [this] { EXPECT_EQ(dialogs.OpenAsked, 1); }},
        };
    }

    // A window with the link open, a file name for "&Save", a printer, and
    // the operator answering No to the save question.
    void prepare()
    {
        restart();
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
};
} // namespace

TEST_F(EditorOpen, EveryCommandThatReadsTheTableChecksThePriceInTheEditorFirst)
{
    // Typed, or pasted over the whole text as Ctrl+V in the editor does, and
    // refused; or valid, and formatted before the command reads it.
    const std::pair<QString, QString> edits[] = {
        {"999999", "999999"}, {"{Return}{Paste:-5}", "-5"}, {"{Return}{Paste:1.2.3}", "1.2.3"}, {"12.5", {}}};
    for (const auto& [keys, refused] : edits)
        for (const TableCommand& c : commands()) {
            SCOPED_TRACE(c.name + (", " + keys).toStdString());
            prepare();
            play(keys);
            ASSERT_TRUE(form->StringGrid1->IsEditing());
            c.run();
            EXPECT_EQ(c.ran(), refused.isEmpty());
            if (refused.isEmpty()) {
                EXPECT_FALSE(form->StringGrid1->IsEditing());
                EXPECT_FALSE(std::any_of(dialogs.Boxes.begin(), dialogs.Boxes.end(),
                                         [](const ScriptedDialogs::Box& b) { return b.icon == MsgIcon::Error; }));
                c.readTheCheckedPrice();
                continue;
            }
            expectBox(Range, MsgIcon::Error);
            // The operator is back in the cell, the text as it was.
            EXPECT_TRUE(form->StringGrid1->IsEditing());
            EXPECT_EQ(form->StringGrid1->currentIndex(), at(colPrice, EditedRow));
            auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            ASSERT_NE(editor, nullptr);
            EXPECT_EQ(editor->text(), refused);
            EXPECT_EQ(cell(colPrice, EditedRow), refused.toLatin1());
            EXPECT_EQ(options.PriceDecimal, 2);
            EXPECT_TRUE(form->isVisible());
        }
}

// ------------------------------------------------------------------ undo

namespace {
// A window on a file that was just opened: the history is empty, the table
// unmodified, and row 3 holds a name that does not decode in UTF-8.
struct UndoWindow : Window {
    void openFile()
    {
        cp::setName("UTF-8");
        home.write("start.KYR", "   12.50\tApple        \tkg\r\n    1.00\tPear         \tkg\r\n"
                                "    2.00\tK\xE4se         \tlb\r\n");
        form->Wb.LoadPluFile(home.file("start.KYR"));
        ASSERT_FALSE(form->Wb.Modified);
        ASSERT_FALSE(form->UndoItem->isEnabled());
    }
    TableSnapshot now() { return CaptureTable(form->Wb); }
};
} // namespace

TEST_F(UndoWindow, EveryKindOfChangeIsUndoneAndRedoneWithTheModifiedFlag)
{
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"a typed price", [this] { edit(colPrice, 1, "7{Down}"); }},
        {"a typed name", [this] { edit(colName, 4, "Brie{Up}"); }},
        {"an import", [this] {
             home.write("in.csv", "Key,Unit Price,Name\nM2,3.5,Plum\nU1,1,Fig\n");
             int changed = 0;
             EXPECT_TRUE(form->ImportCsvFile(home.file("in.csv"), &changed).ok());
             EXPECT_EQ(changed, 2);
         }},
        {"a bulk change", [this] {
             form->ApplyPriceChange(PlanReprice(form->Wb, {.Value = "10", .Rows = {1, 2, 3}, .Ending = {}}));
         }},
        {"a pasted price", [this] { edit(colPrice, 2, "{Return}{Paste:7.50}{Down}"); }},
        {"Delete in a price", [this] { edit(colPrice, 1, "{Return}{Home}{Del}{Down}"); }},
        {"New", [this] { form->NewItemClick(); }},
        {"a price decimal mode", [this] { form->PriceDecimalClick(0); }},
        {"an upload", [this] {
             scale->setPlu(5, {0, 999});
             form->ToolbarButton972Click();
             form->UploadItemClick();
             form->ToolbarButton973Click();
         }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        restart();
        openWithScale();
        form->ToolbarButton973Click();
        openFile();
        const TableSnapshot before = now();
        change();
        const TableSnapshot after = now();
        ASSERT_FALSE(after == before);
        ASSERT_TRUE(form->UndoItem->isEnabled());
        form->UndoItem->trigger();
        EXPECT_TRUE(now() == before);
        EXPECT_EQ(cell(colName, 3), "K\xE4se         ");
        EXPECT_FALSE(form->Wb.Modified);
        ASSERT_TRUE(form->RedoItem->isEnabled());
        form->RedoItem->trigger();
        EXPECT_TRUE(now() == after);
        EXPECT_TRUE(form->Wb.Modified);
    }
}

TEST_F(UndoWindow, KeysSavingAndOpeningAFile)
{
    open();
    openFile();
    edit(colPrice, 1, "8{Down}");
    edit(colPrice, 2, "9{Down}{Ctrl+Z}");
    EXPECT_EQ(cell(colPrice, 2), "1.00");
    EXPECT_EQ(cell(colPrice, 1), "8.00");
    EXPECT_TRUE(form->Wb.Modified);
    form->SaveItemClick();
    EXPECT_FALSE(form->Wb.Modified);
    play("{Ctrl+Y}");
    EXPECT_EQ(cell(colPrice, 2), "9.00");
    EXPECT_TRUE(form->Wb.Modified);
    play("{Ctrl+Z}");
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
    EXPECT_EQ(form->ImportCsvFile(home.file("in.csv"), &changed).report(), "line 3, M9: unknown key");
    EXPECT_EQ(changed, 0);
    EXPECT_TRUE(now() == before);
    EXPECT_FALSE(form->UndoItem->isEnabled());
    EXPECT_FALSE(form->Wb.Modified);
}
