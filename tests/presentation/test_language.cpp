#include "languagecases.h"
#include <QDir>
#include <QTimer>

namespace {

// Forms as the loader sees them: named objects with a windowTitle.
struct Forms {
    QObject main, progress;
    Forms()
    {
        main.setObjectName("MainForm");
        main.setProperty("windowTitle", QString("Qv8 Manager"));
        progress.setObjectName("ProgressForm");
        progress.setProperty("windowTitle", QString());
        child(child(&main, "StringGrid1"), "PriceTitleButton", "old");
        // Neither a control nor a menu item: never touched.
        child(&main, "Plain1", "plain")->setProperty("toolTip", QString("tip"));
        (new QTimer(&main))->setObjectName("Timer1");
    }
    static QObject* child(QObject* parent, const char* name, const char* text = nullptr)
    {
        auto* o = new QObject(parent);
        o->setObjectName(name);
        if (text)
            o->setProperty("text", QString(text));
        return o;
    }
    QList<QObject*> list() { return {&main, &progress}; }
    QString title() const { return main.property("windowTitle").toString(); }
    QString priceTitle() const { return main.findChild<QObject*>("PriceTitleButton")->property("text").toString(); }
};

class Language : public ::testing::Test {
protected:
    Language() { MessageTexts.resetToBuiltIn(); }
    void TearDown() override
    {
        MessageTexts.resetToBuiltIn();
        cp::useLocaleCodePage();
    }
    ScopedHome Home;
};

TEST_F(Language, FileTexts)
{
    const QByteArray twice = "[MainForm]\r\nCaption=Gestor\r\n[String]\r\nConnect=C1\r\n[PLU Grid Titles]\r\n1=Precio\r\n";
    // Grid titles by number (4 is none), texts by key (entry 8 has none).
    QByteArray everyKey = "[PLU Grid Titles]\r\n0=P0\r\n1=P1\r\n2=P2\r\n3=P3\r\n4=not an entry\r\n"
                          "[Dep Grid Titles]\r\n0=D0\r\n1=D1\r\n2=D2\r\n3=D3\r\n[String]\r\n8=no key for entry 8\r\n";
    QList<std::pair<int, QString>> everyEntry;
    for (int i = 0; i < 4; ++i)
        everyEntry << std::pair{i, QString("P%1").arg(i)} << std::pair{4 + i, QString("D%1").arg(i)};
    for (int i = mtConnect; i < MessageCount; ++i) {
        everyKey += QByteArray(TMessageTexts::languageKey(i)) + "=S" + QByteArray::number(i) + "\r\n";
        everyEntry << std::pair{i, QString("S%1").arg(i)};
    }
    const LanguageCase cases[] = {
        {"values keep quoted blanks and may be empty",
         "[String]\r\nRange=\"Rango entre 0 y \"\r\nSave=Guardar ahora?   \r\nPrintMsg='Imprimir ?'\r\n"
         "Connect=\r\n[plu grid titles]\r\n2=\r\n",
         {}, {}, {{mtRange, "Rango entre 0 y "}, {mtSave, "Guardar ahora?"}, {mtPrintMsg, "Imprimir ?"},
                  {mtConnect, ""}, {mtPluTitleName, ""}, {mtPluTitleUnit, "Unit"}}},
        // An empty caption is never looked up.
        {"form caption and section names ignore case",
         "[mainform]\r\ncaption=Gestor\r\n[ProgressForm]\r\nCaption=never shown\r\n", {},
         {{"MainForm.windowTitle", "Gestor"}, {"ProgressForm.windowTitle", ""}}},
        {"emptied caption is not looked up again", "[MainForm]\r\nCaption=\r\n",
         "[MainForm]\r\nCaption=Back again\r\n", {{"MainForm.windowTitle", ""}}},
        {"loading twice gives the same texts", twice, twice,
         {{"MainForm.windowTitle", "Gestor"}, {"PriceTitleButton.text", "Precio"}},
         {{mtConnect, "C1"}, {mtPluTitlePrice, "Precio"}}},
        {"objects that are no controls are skipped",
         "[MainForm]\r\nPlain1.Caption=x\r\nPlain1.Hint=y\r\nTimer1.Caption=z\r\nStringGrid1.Caption=w\r\n", {},
         {{"Plain1.text", "plain"}, {"Plain1.toolTip", "tip"}, {"Timer1.text", nullptr}, {"StringGrid1.text", nullptr}}},
        // 重量 D6 D8 C1 BF, 单重 B5 A5 D6 D8, 数量 CA FD C1 BF
        {"GBK file gives Chinese texts",
         "[MainForm]\r\nCaption=\xD6\xD8\xC1\xBF\r\n[PLU Grid Titles]\r\n1=\xB5\xA5\xD6\xD8\r\n"
         "[String]\r\nRange=\"\xCA\xFD\xC1\xBF \"\r\n",
         {}, {{"MainForm.windowTitle", "重量"}, {"PriceTitleButton.text", "单重"}},
         {{mtPluTitlePrice, "单重"}, {mtRange, "数量 "}}, "GBK"},
        {"every message key reaches its entry", everyKey, {}, {{"PriceTitleButton.text", "P1"}}, everyEntry},
    };
    for (const LanguageCase& c : cases) {
        Forms f;
        RunLanguageCase(c, f.list(), Home);
    }
}

TEST_F(Language, NothingToReadChangesNoText)
{
    ASSERT_TRUE(QDir().mkpath(Home.file("dir.LNG")));   // a directory where the file should be
    for (const char* name : {"none.LNG", "dir.LNG"}) {
        Forms f;
        LoadLanguage(f.list(), Home.file(name));
        EXPECT_EQ(f.title(), "Qv8 Manager") << name;
        for (int i = 0; i < MessageCount; ++i)
            EXPECT_EQ(MessageTexts[i], TMessageTexts::builtIn(i)) << name << i;
        // The title button always shows entry 1.
        EXPECT_EQ(f.priceTitle(), "Unit Price") << name;
    }
}

TEST_F(Language, DefaultPathIsTheProgramsLngFile)
{
    Forms f;
    Home.write("varlo-manager.LNG", "[String]\r\nConnect=Verbinden\r\n");
    LoadLanguage(f.list());
    for (int i = 0; i < MessageCount; ++i)
        EXPECT_EQ(MessageTexts[i], i == mtConnect ? "Verbinden" : TMessageTexts::builtIn(i)) << i;
    EXPECT_EQ(f.title(), "Qv8 Manager");
}

TEST_F(Language, PriceTitleButtonOnlyUnderMainForm)
{
    QObject other;
    other.setObjectName("AboutBox");
    QObject* b = Forms::child(&other, "PriceTitleButton", "keep");
    Home.write("v.LNG", "[PLU Grid Titles]\r\n1=Precio\r\n");
    LoadLanguage({&other}, Home.file("v.LNG"));
    EXPECT_EQ(b->property("text").toString(), "keep");
    EXPECT_EQ(MessageTexts[mtPluTitlePrice], "Precio");
}

} // namespace
