#include "languagecases.h"
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

namespace {

// A main window with a menu, one control of each kind and, inside it, an
// about box whose components are its own.
struct Window {
    QMainWindow Form;
    QDialog* About = new QDialog(&Form);
    QAction* Separator;
    Window()
    {
        Form.setObjectName("MainForm");
        Form.setWindowTitle("Qv8 Manager");
        QMenu* file = Form.menuBar()->addMenu("&File");
        file->setObjectName("File1");
        QAction* item = file->addAction("&New");
        item->setObjectName("NewItem");
        item->setToolTip("New");
        item->setStatusTip("New");
        file->addAction("Save &as...")->setObjectName("SaveasItem");
        Separator = file->addSeparator();
        Separator->setObjectName("N1");

        auto* central = child<QWidget>(&Form, "Panel1");
        central->setToolTip("panel hint");
        Form.setCentralWidget(central);
        child<QLabel>(central, "Label1")->setText("Weight");
        child<QLabel>(central, "Label2");
        auto* button = child<QPushButton>(central, "Button1");
        button->setText("&OK");
        button->setToolTip("Press");
        child<QLineEdit>(central, "Edit1")->setText("abc");
        child<QPlainTextEdit>(central, "Memo1")->setPlainText("memo text");
        child<QGroupBox>(central, "Group1")->setTitle("Box");
        child<QLabel>(central, "qt_label")->setText("internal");
        child<QToolButton>(central, "PriceTitleButton")->setText("Unit Price");
        (new QTimer(&Form))->setObjectName("Timer1");

        About->setObjectName("AboutBox");
        About->setWindowTitle("About");
        child<QPushButton>(About, "OKButton")->setText("OK");
        child<QLabel>(About, "Version")->setText("Version 1.002");
    }
    template <class W> static W* child(QWidget* parent, const char* name)
    {
        auto* w = new W(parent);
        w->setObjectName(name);
        return w;
    }
};

TEST(LanguageWidgets, FileTexts)
{
    const LanguageCase cases[] = {
        {"captions of every kind of control",
         "[MainForm]\r\nCaption=Gestor\r\nFile1.Caption=&Archivo\r\nNewItem.Caption=&Nuevo\r\nLabel1.Caption=Peso\r\n"
         "Button1.Caption=&Aceptar\r\nEdit1.Caption=xyz\r\nMemo1.Caption=nota\r\nGroup1.Caption=Caja\r\n", {},
         {{"MainForm.windowTitle", "Gestor"}, {"File1.title", "&Archivo"}, {"NewItem.text", "&Nuevo"},
          {"Label1.text", "Peso"}, {"Button1.text", "&Aceptar"}, {"Edit1.text", "xyz"},
          {"Memo1.plainText", "nota"}, {"Group1.title", "Caja"}}},
        // The action's tool tip only falls back to its text.
        {"hints of controls and menu items",
         "[MainForm]\r\nNewItem.Hint=Nuevo archivo\r\nButton1.Hint=Pulsar\r\nPanel1.Caption=no caption here\r\n"
         "Panel1.Hint=panel\r\nLabel1.Hint=label has no hint\r\nSaveasItem.Hint=item has no hint\r\n", {},
         {{"NewItem.toolTip", "Nuevo archivo"}, {"NewItem.statusTip", "Nuevo archivo"}, {"Button1.toolTip", "Pulsar"},
          {"Panel1.toolTip", "panel"}, {"Label1.toolTip", ""}, {"SaveasItem.statusTip", ""},
          {"SaveasItem.toolTip", "Save as"}}},
        {"empty texts and internals are never looked up",
         "[MainForm]\r\nLabel2.Caption=given\r\nN1.Caption=-\r\nqt_label.Caption=changed\r\nTimer1.Caption=changed\r\n",
         {}, {{"Label2.text", ""}, {"N1.text", ""}, {"qt_label.text", "internal"}}},
        {"emptied text stays empty", "[MainForm]\r\nLabel1.Caption=\r\nButton1.Hint=\r\n",
         "[MainForm]\r\nLabel1.Caption=Peso\r\nButton1.Hint=Pulsar\r\n", {{"Label1.text", ""}, {"Button1.toolTip", ""}}},
        {"price title button ends with entry one",
         "[MainForm]\r\nPriceTitleButton.Caption=from the form\r\n[PLU Grid Titles]\r\n1=Precio\r\n", {},
         {{"PriceTitleButton.text", "Precio"}}, {{mtPluTitlePrice, "Precio"}}},
        // The about box is a child of the main window, yet the main window's
        // section reaches neither it nor its components.
        {"a form inside another keeps its own section",
         "[MainForm]\r\nOKButton.Caption=from the main form\r\nVersion.Caption=from the main form\r\n"
         "Label1.Caption=Peso\r\n[AboutBox]\r\nCaption=Acerca de\r\nVersion.Caption=Version 2\r\n"
         "Label1.Caption=from the about box\r\n", {},
         {{"OKButton.text", "OK"}, {"Version.text", "Version 2"}, {"AboutBox.windowTitle", "Acerca de"},
          {"Label1.text", "Peso"}, {"MainForm.windowTitle", "Qv8 Manager"}}},
    };
    ScopedHome home;
    for (const LanguageCase& c : cases) {
        Window w;
        RunLanguageCase(c, {&w.Form, w.About}, home);
        EXPECT_TRUE(w.Separator->isSeparator()) << c.name;
    }
    MessageTexts.resetToBuiltIn();
}

} // namespace
