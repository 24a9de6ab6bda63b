#include "codepage.h"
#include "language.h"
#include "messagetexts.h"
#include "testdirs.h"
#include <QDir>
#include <QObject>
#include <QTimer>
#include <QVariant>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Forms as the loader sees them: named objects with a windowTitle.
struct Forms {
    std::unique_ptr<QObject> main = std::make_unique<QObject>();
    std::unique_ptr<QObject> progress = std::make_unique<QObject>();
    QObject* grid;
    QObject* priceButton;
    QObject* plain;
    QTimer* timer;

    Forms()
    {
        main->setObjectName("MainForm");
        main->setProperty("windowTitle", QString("Qv8 Manager"));
        progress->setObjectName("ProgressForm");
        progress->setProperty("windowTitle", QString());
        grid = new QObject(main.get());
        grid->setObjectName("StringGrid1");
        priceButton = new QObject(grid);
        priceButton->setObjectName("PriceTitleButton");
        priceButton->setProperty("text", QString("old"));
        // Neither a control nor a menu item: never touched.
        plain = new QObject(main.get());
        plain->setObjectName("Plain1");
        plain->setProperty("text", QString("plain"));
        plain->setProperty("toolTip", QString("tip"));
        timer = new QTimer(main.get());
        timer->setObjectName("Timer1");
    }
    QList<QObject*> list() const { return {main.get(), progress.get()}; }
    QString title(QObject* f) const { return f->property("windowTitle").toString(); }
};

class Language : public ::testing::Test {
protected:
    void SetUp() override { MessageTexts.resetToBuiltIn(); }
    void TearDown() override
    {
        MessageTexts.resetToBuiltIn();
        cp::useLocaleCodePage();
    }
    QString write(const QByteArray& bytes)
    {
        Home.write("varlo-manager.LNG", bytes);
        return Home.file("varlo-manager.LNG");
    }
    ScopedHome Home;
    Forms F;
};

TEST_F(Language, MissingFileChangesNoText)
{
    LoadLanguage(F.list(), Home.file("none.LNG"));
    EXPECT_EQ(F.title(F.main.get()), "Qv8 Manager");
    for (int i = 0; i < MessageCount; ++i)
        EXPECT_EQ(MessageTexts[i], TMessageTexts::builtIn(i)) << i;
    // The title button always shows entry 1.
    EXPECT_EQ(F.priceButton->property("text").toString(), "Unit Price");
}

TEST_F(Language, DefaultPathIsTheProgramsLngFile)
{
    Home.write("varlo-manager.LNG", "[String]\r\nConnect=Verbinden\r\n");
    LoadLanguage(F.list());
    for (int i = 0; i < MessageCount; ++i)
        EXPECT_EQ(MessageTexts[i], i == mtConnect ? "Verbinden" : TMessageTexts::builtIn(i)) << i;
    EXPECT_EQ(F.title(F.main.get()), "Qv8 Manager");
}

TEST_F(Language, EveryMessageKeyReachesItsEntry)
{
    QByteArray file = "[PLU Grid Titles]\r\n";
    for (int i = 0; i < 4; ++i)
        file += QByteArray::number(i) + "=P" + QByteArray::number(i) + "\r\n";
    file += "4=not an entry\r\n[Dep Grid Titles]\r\n";
    for (int i = 0; i < 4; ++i)
        file += QByteArray::number(i) + "=D" + QByteArray::number(i) + "\r\n";
    file += "[String]\r\n8=no key for entry 8\r\n";
    for (int i = mtConnect; i < MessageCount; ++i)
        file += QByteArray(TMessageTexts::languageKey(i)) + "=S" + QByteArray::number(i) + "\r\n";
    LoadLanguage(F.list(), write(file));

    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(MessageTexts[i], QString("P%1").arg(i));
        EXPECT_EQ(MessageTexts[4 + i], QString("D%1").arg(i));
    }
    for (int i = 8; i < mtConnect; ++i)
        EXPECT_EQ(MessageTexts[i], TMessageTexts::builtIn(i)) << i;
    for (int i = mtConnect; i < MessageCount; ++i)
        EXPECT_EQ(MessageTexts[i], QString("S%1").arg(i)) << i;
    EXPECT_EQ(F.priceButton->property("text").toString(), "P1");
}

TEST_F(Language, ValuesKeepQuotedBlanksAndMayBeEmpty)
{
    LoadLanguage(F.list(), write("[String]\r\n"
                                 "Range=\"Rango entre 0 y \"\r\n"
                                 "Save=Guardar ahora?   \r\n"
                                 "PrintMsg='Imprimir ?'\r\n"
                                 "Connect=\r\n"
                                 "[plu grid titles]\r\n"
                                 "2=\r\n"));
    EXPECT_EQ(MessageTexts[mtRange], "Rango entre 0 y ");
    EXPECT_EQ(MessageTexts[mtSave], "Guardar ahora?");
    EXPECT_EQ(MessageTexts[mtPrintMsg], "Imprimir ?");
    EXPECT_EQ(MessageTexts[mtConnect], "");
    EXPECT_EQ(MessageTexts[mtPluTitleName], "");
    EXPECT_EQ(MessageTexts[mtPluTitleUnit], "Unit");
}

TEST_F(Language, FormCaptionAndSectionNamesIgnoreCase)
{
    LoadLanguage(F.list(), write("[mainform]\r\ncaption=Gestor\r\n"
                                 "[ProgressForm]\r\nCaption=never shown\r\n"));
    EXPECT_EQ(F.title(F.main.get()), "Gestor");
    // An empty caption is never looked up.
    EXPECT_EQ(F.title(F.progress.get()), "");
}

TEST_F(Language, EmptiedCaptionIsNotLookedUpAgain)
{
    const QString path = write("[MainForm]\r\nCaption=\r\n");
    LoadLanguage(F.list(), path);
    EXPECT_EQ(F.title(F.main.get()), "");
    write("[MainForm]\r\nCaption=Back again\r\n");
    LoadLanguage(F.list(), path);
    EXPECT_EQ(F.title(F.main.get()), "");
}

TEST_F(Language, LoadingTwiceGivesTheSameTexts)
{
    const QString path = write("[MainForm]\r\nCaption=Gestor\r\n[String]\r\nConnect=C1\r\n"
                               "[PLU Grid Titles]\r\n1=Precio\r\n");
    LoadLanguage(F.list(), path);
    LoadLanguage(F.list(), path);
    EXPECT_EQ(F.title(F.main.get()), "Gestor");
    EXPECT_EQ(MessageTexts[mtConnect], "C1");
    EXPECT_EQ(F.priceButton->property("text").toString(), "Precio");
}

TEST_F(Language, ObjectsThatAreNoControlsAreSkipped)
{
    LoadLanguage(F.list(), write("[MainForm]\r\nPlain1.Caption=x\r\nPlain1.Hint=y\r\n"
                                 "Timer1.Caption=z\r\nStringGrid1.Caption=w\r\n"));
    EXPECT_EQ(F.plain->property("text").toString(), "plain");
    EXPECT_EQ(F.plain->property("toolTip").toString(), "tip");
    EXPECT_FALSE(F.timer->property("text").isValid());
    EXPECT_FALSE(F.grid->property("text").isValid());
}

TEST_F(Language, PriceTitleButtonOnlyUnderMainForm)
{
    QObject other;
    other.setObjectName("AboutBox");
    auto* b = new QObject(&other);
    b->setObjectName("PriceTitleButton");
    b->setProperty("text", QString("keep"));
    LoadLanguage({&other}, write("[PLU Grid Titles]\r\n1=Precio\r\n"));
    EXPECT_EQ(b->property("text").toString(), "keep");
    EXPECT_EQ(MessageTexts[mtPluTitlePrice], "Precio");
}

TEST_F(Language, GbkFileGivesChineseTexts)
{
    cp::setName("GBK");
    // 重量 D6 D8 C1 BF, 单重 B5 A5 D6 D8, 数量 CA FD C1 BF
    LoadLanguage(F.list(), write("[MainForm]\r\nCaption=\xD6\xD8\xC1\xBF\r\n"
                                 "[PLU Grid Titles]\r\n1=\xB5\xA5\xD6\xD8\r\n"
                                 "[String]\r\nRange=\"\xCA\xFD\xC1\xBF \"\r\n"));
    EXPECT_EQ(F.title(F.main.get()), QString::fromUtf8("重量"));
    EXPECT_EQ(MessageTexts[mtPluTitlePrice], QString::fromUtf8("单重"));
    EXPECT_EQ(F.priceButton->property("text").toString(), QString::fromUtf8("单重"));
    EXPECT_EQ(MessageTexts[mtRange], QString::fromUtf8("数量 "));
}

TEST_F(Language, UnreadableFileChangesNothing)
{
    // A directory where the file should be.
    const QString path = Home.file("dir.LNG");
    ASSERT_TRUE(QDir().mkpath(path));
    LoadLanguage(F.list(), path);
    EXPECT_EQ(F.title(F.main.get()), "Qv8 Manager");
    EXPECT_EQ(MessageTexts[mtConnect], "Connect...");
}

} // namespace
