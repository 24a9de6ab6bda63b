#include "dialogs.h"
#include "exedir.h"
#include "scripteddialogs.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>

namespace {

TEST(ExeDir, PrecedenceIsHomeOptionThenEnvironmentThenExecutable)
{
    unsetenv("VARLO_HOME");
    EXPECT_EQ(ResolveExeDir({}, "/opt/varlo/bin/varlo-manager"), "/opt/varlo/bin/");
    setenv("VARLO_HOME", "/srv/scale", 1);
    EXPECT_EQ(ResolveExeDir({}, "/opt/varlo/bin/varlo-manager"), "/srv/scale/");
    EXPECT_EQ(ResolveExeDir("/home/op/shop/", "/opt/varlo/bin/varlo-manager"), "/home/op/shop/");
    unsetenv("VARLO_HOME");
    // A relative --home is taken from the working directory, once.
    EXPECT_EQ(ResolveExeDir("shop", "/x/y"), QDir::currentPath() + "/shop/");
}

TEST(ExeDir, DefaultsToTheTestBinarysDirectory)
{
    SetExeDir({});
    unsetenv("VARLO_HOME");
    EXPECT_EQ(ExeDir(), QFileInfo(QFile::symLinkTarget("/proc/self/exe")).absolutePath() + "/");
}

TEST(Dialogs, FallbackRefusesAndSetDialogsNullRestoresIt)
{
    QString path = "unchanged";
    auto refuses = [&] {
        EXPECT_EQ(dialogs().messageBox("Save?", "Varlo", MsgIcon::Warning, MsgButtons::YesNoCancel), MsgResult::Cancel);
        EXPECT_EQ(dialogs().messageBox("Go?", "Varlo", MsgIcon::None, MsgButtons::OkCancel), MsgResult::Cancel);
        EXPECT_EQ(dialogs().messageBox("Done", "Varlo", MsgIcon::Information, MsgButtons::Ok), MsgResult::Ok);
        EXPECT_FALSE(dialogs().openFileName(&path));
        EXPECT_FALSE(dialogs().saveFileName(&path));
        EXPECT_EQ(path, "unchanged");
    };
    refuses();
    ScriptedDialogs r;   // installs itself
    r.Answers = {MsgResult::Yes};
    EXPECT_EQ(dialogs().messageBox("Save?", "Varlo", MsgIcon::Warning, MsgButtons::YesNoCancel), MsgResult::Yes);
    dialogs().beep();
    EXPECT_EQ(r.Boxes.size() + r.Beeps, 2);
    setDialogs(nullptr);
    refuses();
    EXPECT_EQ(r.Boxes.size() + r.Beeps + r.OpenAsked + r.SaveAsked, 2);
}

} // namespace
