// The about box names the directory of the shop's files and opens it.
#include "appenvironment.h"
#include "mainform.h"
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Opened;
public slots:
    void open(const QUrl& url) { Opened.append(url); }
};

QStringList LabelTexts(const QWidget& w)
{
    QStringList texts;
    for (const QLabel* l : w.findChildren<QLabel*>())
        texts << l->text();
    return texts;
}

TEST(AboutBox, NamesTheFilesDirectoryAndOpensIt)
{
    AppEnvironment env;
    TAboutBox about;
    EXPECT_TRUE(LabelTexts(about).contains("Files: " + env.home.path())) << LabelTexts(about).join('|').toStdString();
    EXPECT_GE(about.width(), 298);
    EXPECT_GE(about.height(), 160);
    auto* open = about.findChild<QPushButton*>("OpenFolderButton");
    ASSERT_NE(open, nullptr);
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    open->click();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.Opened.size(), 1);
    EXPECT_EQ(catcher.Opened[0].toLocalFile(), env.home.path());
    EXPECT_TRUE(env.dialogs.Errors.isEmpty());

    // Nothing to show folders with (the offscreen platform has none): say so.
    open->click();
    ASSERT_EQ(env.dialogs.Errors.size(), 1);
    EXPECT_TRUE(env.dialogs.Errors[0].startsWith("Cannot open the folder " + env.home.path() + "\n"))
        << env.dialogs.Errors[0].toStdString();
}

} // namespace

#include "test_aboutbox.moc"
