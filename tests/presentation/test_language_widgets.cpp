#include "language.h"
#include "messagetexts.h"
#include "testdirs.h"
#include <QAction>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

class LanguageWidgets : public ::testing::Test {
protected:
    LanguageWidgets()
    {
        Form.setObjectName("MainForm");
        Form.setWindowTitle("Qv8 Manager");
        File = Form.menuBar()->addMenu("&File");
        File->setObjectName("File1");
        NewItem = item("NewItem", "&New", "New");
        SaveasItem = item("SaveasItem", "Save &as...", {});
        Separator = File->addSeparator();
        Separator->setObjectName("N1");

        auto* central = new QWidget(&Form);
        central->setObjectName("Panel1");
        central->setToolTip("panel hint");
        Form.setCentralWidget(central);
        Label = child<QLabel>(central, "Label1");
        Label->setText("Weight");
        EmptyLabel = child<QLabel>(central, "Label2");
        Button = child<QPushButton>(central, "Button1");
        Button->setText("&OK");
        Button->setToolTip("Press");
        Edit = child<QLineEdit>(central, "Edit1");
        Edit->setText("abc");
        Memo = child<QPlainTextEdit>(central, "Memo1");
        Memo->setPlainText("memo text");
        Group = child<QGroupBox>(central, "Group1");
        Group->setTitle("Box");
        Internal = child<QLabel>(central, "qt_label");
        Internal->setText("internal");
        PriceButton = child<QToolButton>(central, "PriceTitleButton");
        PriceButton->setText("Unit Price");
        auto* timer = new QTimer(&Form);
        timer->setObjectName("Timer1");
        MessageTexts.resetToBuiltIn();
    }
    ~LanguageWidgets() override { MessageTexts.resetToBuiltIn(); }

    template <class W> W* child(QWidget* parent, const char* name)
    {
        auto* w = new W(parent);
        w->setObjectName(name);
        return w;
    }
    QAction* item(const char* name, const QString& text, const QString& hint)
    {
        auto* a = new QAction(text, &Form);
        a->setObjectName(name);
        if (!hint.isEmpty()) {
            a->setToolTip(hint);
            a->setStatusTip(hint);
        }
        File->addAction(a);
        return a;
    }
    QString write(const QByteArray& body)
    {
        Home.write("v.LNG", "[MainForm]\r\n" + body);
        return Home.file("v.LNG");
    }

    ScopedHome Home;
    QMainWindow Form;
    QMenu* File;
    QAction *NewItem, *SaveasItem, *Separator;
    QLabel *Label, *EmptyLabel, *Internal;
    QPushButton* Button;
    QLineEdit* Edit;
    QPlainTextEdit* Memo;
    QGroupBox* Group;
    QToolButton* PriceButton;
};

TEST_F(LanguageWidgets, CaptionsOfEveryKindOfControl)
{
    LoadLanguage({&Form}, write("Caption=Gestor\r\n"
                                "File1.Caption=&Archivo\r\n"
                                "NewItem.Caption=&Nuevo\r\n"
                                "Label1.Caption=Peso\r\n"
                                "Button1.Caption=&Aceptar\r\n"
                                "Edit1.Caption=xyz\r\n"
                                "Memo1.Caption=nota\r\n"
                                "Group1.Caption=Caja\r\n"));
    EXPECT_EQ(Form.windowTitle(), "Gestor");
    EXPECT_EQ(File->title(), "&Archivo");
    EXPECT_EQ(NewItem->text(), "&Nuevo");
    EXPECT_EQ(Label->text(), "Peso");
    EXPECT_EQ(Button->text(), "&Aceptar");
    EXPECT_EQ(Edit->text(), "xyz");
    EXPECT_EQ(Memo->toPlainText(), "nota");
    EXPECT_EQ(Group->title(), "Caja");
}

TEST_F(LanguageWidgets, HintsOfControlsAndMenuItems)
{
    LoadLanguage({&Form}, write("NewItem.Hint=Nuevo archivo\r\n"
                                "Button1.Hint=Pulsar\r\n"
                                "Panel1.Caption=no caption here\r\n"
                                "Panel1.Hint=panel\r\n"
                                "Label1.Hint=label has no hint\r\n"
                                "SaveasItem.Hint=item has no hint\r\n"));
    EXPECT_EQ(NewItem->toolTip(), "Nuevo archivo");
    EXPECT_EQ(NewItem->statusTip(), "Nuevo archivo");
    EXPECT_EQ(Button->toolTip(), "Pulsar");
    EXPECT_EQ(Form.centralWidget()->toolTip(), "panel");
    EXPECT_EQ(Label->toolTip(), "");
    // The action's tool tip only falls back to its text.
    EXPECT_EQ(SaveasItem->statusTip(), "");
    EXPECT_EQ(SaveasItem->toolTip(), "Save as");
}

TEST_F(LanguageWidgets, EmptyTextsAndInternalsAreNeverLookedUp)
{
    LoadLanguage({&Form}, write("Label2.Caption=given\r\n"
                                "N1.Caption=-\r\n"
                                "qt_label.Caption=changed\r\n"
                                "Timer1.Caption=changed\r\n"));
    EXPECT_EQ(EmptyLabel->text(), "");
    EXPECT_EQ(Separator->text(), "");
    EXPECT_TRUE(Separator->isSeparator());
    EXPECT_EQ(Internal->text(), "internal");
}

TEST_F(LanguageWidgets, EmptiedTextStaysEmpty)
{
    const QString path = write("Label1.Caption=\r\nButton1.Hint=\r\n");
    LoadLanguage({&Form}, path);
    EXPECT_EQ(Label->text(), "");
    EXPECT_EQ(Button->toolTip(), "");
    write("Label1.Caption=Peso\r\nButton1.Hint=Pulsar\r\n");
    LoadLanguage({&Form}, path);
    EXPECT_EQ(Label->text(), "");
    EXPECT_EQ(Button->toolTip(), "");
}

TEST_F(LanguageWidgets, PriceTitleButtonEndsWithEntryOne)
{
    Home.write("v.LNG", "[MainForm]\r\nPriceTitleButton.Caption=from the form\r\n"
                        "[PLU Grid Titles]\r\n1=Precio\r\n");
    LoadLanguage({&Form}, Home.file("v.LNG"));
    EXPECT_EQ(PriceButton->text(), "Precio");
}

TEST_F(LanguageWidgets, AFormInsideAnotherKeepsItsOwnSection)
{
    // The about box is a child of the main window, yet its components are
    // its own: the main window's section reaches neither it nor them.
    auto* about = new QDialog(&Form);
    about->setObjectName("AboutBox");
    about->setWindowTitle("About");
    auto* ok = child<QPushButton>(about, "OKButton");
    ok->setText("OK");
    auto* version = child<QLabel>(about, "Version");
    version->setText("Version 1.002");
    Home.write("v.LNG", "[MainForm]\r\nOKButton.Caption=from the main form\r\n"
                        "Version.Caption=from the main form\r\nLabel1.Caption=Peso\r\n"
                        "[AboutBox]\r\nCaption=Acerca de\r\nVersion.Caption=Version 2\r\n"
                        "Label1.Caption=from the about box\r\n");
    LoadLanguage({&Form, about}, Home.file("v.LNG"));
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(version->text(), "Version 2");
    EXPECT_EQ(about->windowTitle(), "Acerca de");
    EXPECT_EQ(Label->text(), "Peso");
    EXPECT_EQ(Form.windowTitle(), "Qv8 Manager");
}

} // namespace
