// Where the files of a run live: beside the program in a build tree or a
// portable folder, in the user's data directory when installed, or where
// --home / VARLO_HOME say.
#include "exedir.h"
#include "qtprint.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>

namespace {

void Touch(const QString& path, const QByteArray& bytes = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

class ProgramDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Root.isValid());
        R = Root.path();
        // An installed layout, a bin directory that is not one, a build tree,
        // a portable folder, and a prefix whose share entry is a file.
        for (const char* dir : {"/usr/bin", "/usr/share/varlo-manager", "/opt/bin", "/opt/share", "/build/app", "/shop",
                                "/odd/bin"})
            ASSERT_TRUE(QDir().mkpath(R + dir));
        Touch(R + "/odd/share/varlo-manager");
    }
    QTemporaryDir Root;
    QString R;
};

TEST_F(ProgramDir, RuleForEachLayoutAndOverride)
{
    using P = ProgramDirChoice;
    struct Case {
        const char* what;
        QString home, exe;
        DirEnvironment env;
        P::Source source;
        QString dir;
    };
    const QString installed = R + "/usr/bin/varlo-manager";
    const DirEnvironment plain{{}, {}, R + "/home/op"};
    const QList<Case> cases{
        {"build tree", {}, R + "/build/app/varlo-manager", plain, P::BesideProgram, R + "/build/app/"},
        {"portable folder", {}, R + "/shop/varlo-manager", plain, P::BesideProgram, R + "/shop/"},
        {"bin without the shipped files", {}, R + "/opt/bin/varlo-manager", plain, P::BesideProgram, R + "/opt/bin/"},
        {"share entry that is a file", {}, R + "/odd/bin/varlo-manager", plain, P::BesideProgram, R + "/odd/bin/"},
        {"installed, default", {}, installed, plain, P::UserData, R + "/home/op/.local/share/varlo-manager/"},
        {"installed, XDG_DATA_HOME", {}, installed, {{}, R + "/data", R + "/home/op"}, P::UserData,
         R + "/data/varlo-manager/"},
        {"installed, relative XDG_DATA_HOME is ignored", {}, installed, {{}, "data", R + "/home/op"},
         P::UserData, R + "/home/op/.local/share/varlo-manager/"},
        {"installed, no home at all", {}, installed, {}, P::UserData, {}},
        {"installed, VARLO_HOME", {}, installed, {R + "/shop", R + "/data", R + "/home/op"},
         P::HomeVariable, R + "/shop/"},
        {"installed, --home", R + "/shop", installed, {R + "/data", {}, R + "/home/op"}, P::HomeOption, R + "/shop/"},
        {"build tree, VARLO_HOME", {}, R + "/build/app/varlo-manager", {R + "/shop", {}, {}},
         P::HomeVariable, R + "/shop/"},
        {"build tree, --home beats VARLO_HOME", R + "/shop/", R + "/build/app/varlo-manager",
         {R + "/data", {}, {}}, P::HomeOption, R + "/shop/"},
    };
    for (const Case& c : cases) {
        const ProgramDirChoice got = ChooseProgramDir(c.home, c.exe, c.env);
        EXPECT_EQ(got.source, c.source) << c.what;
        EXPECT_EQ(got.dir, c.dir) << c.what;
    }
    // Choosing never makes anything.
    EXPECT_FALSE(QFileInfo::exists(R + "/home"));
    EXPECT_FALSE(QFileInfo::exists(R + "/data"));
}

TEST_F(ProgramDir, SharedFilesOnlyForTheInstalledLayout)
{
    EXPECT_EQ(SharedDataDir(R + "/usr/bin/varlo-manager"), R + "/usr/share/varlo-manager/");
    for (const QString& exe : {R + "/opt/bin/varlo-manager", R + "/odd/bin/varlo-manager",
                              R + "/build/app/varlo-manager", QString()})
        EXPECT_EQ(SharedDataDir(exe), "") << exe.toStdString();
}

TEST_F(ProgramDir, UserDataDirectoryIsMadeOnFirstStartAndOnlyThen)
{
    const ProgramDirChoice fresh{ProgramDirChoice::UserData, R + "/home/op/.local/share/varlo-manager/"};
    EXPECT_EQ(PrepareProgramDir(fresh), "");
    QFileInfo made(fresh.dir);
    ASSERT_TRUE(made.isDir());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(fresh.dir).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Second start: the directory and what is in it stay.
    Touch(fresh.dir + "config.ini", "[default]\r\n");
    EXPECT_EQ(PrepareProgramDir(fresh), "");
    EXPECT_TRUE(QFileInfo::exists(fresh.dir + "config.ini"));

    // A directory named by the operator is used as it is, never made.
    for (auto source : {ProgramDirChoice::HomeOption, ProgramDirChoice::HomeVariable,
                        ProgramDirChoice::BesideProgram}) {
        EXPECT_EQ(PrepareProgramDir({source, R + "/nowhere/"}), "");
        EXPECT_FALSE(QFileInfo::exists(R + "/nowhere"));
    }
}

TEST_F(ProgramDir, DirectoryThatCannotBeMadeNamesItAndWhatToDo)
{
    Touch(R + "/file");
    const QString cannot = "Cannot create the data directory " + R;
    struct Case { QString dir, first, reason; };
    const QList<Case> cases{
        {R + "/file/varlo-manager/", cannot + "/file/varlo-manager/", "Not a directory"},
        {R + "/odd/share/varlo-manager/x/", cannot + "/odd/share/varlo-manager/x/", "Not a directory"},
        {{}, "There is no place for this user's files: neither XDG_DATA_HOME nor HOME names a directory.", ""},
    };
    for (const Case& c : cases) {
        const QStringList lines = PrepareProgramDir({ProgramDirChoice::UserData, c.dir}).split('\n');
        ASSERT_GE(lines.size(), 2) << c.dir.toStdString();
        EXPECT_EQ(lines[0], c.first);
        if (!c.reason.isEmpty()) {
            EXPECT_EQ(lines[1], c.reason);
        }
        EXPECT_TRUE(lines.last().contains("--home DIR or VARLO_HOME")) << lines.join('|').toStdString();
    }
}

// The language file is named after the program and lives in its directory;
// a shipped one stands in while the own one is missing.
TEST_F(ProgramDir, LanguageFileOwnBeforeShipped)
{
    const QString before = ExeDir();
    SetExeDir(R + "/home/op/data");
    EXPECT_EQ(ExeDir(), R + "/home/op/data/");
    SetSharedDir(R + "/usr/share/varlo-manager");
    const QString own = R + "/home/op/data/varlo-manager.LNG";
    const QString shipped = R + "/usr/share/varlo-manager/varlo-manager.LNG";
    EXPECT_EQ(LanguageFilePath(), own) << "neither: the own path, which is missing";
    Touch(shipped);
    EXPECT_EQ(LanguageFilePath(), shipped);
    Touch(own);
    EXPECT_EQ(LanguageFilePath(), own);
    SetProgramBaseName("scale");
    EXPECT_EQ(LanguageFilePath(), R + "/home/op/data/scale.LNG");
    SetProgramBaseName({});
    SetSharedDir({});
    SetExeDir(before);
    EXPECT_EQ(ExeDir(), before);
}

TEST(ProgramDirText, SaysWhereAndWhy)
{
    using P = ProgramDirChoice;
    const struct { P::Source source; const char* text; } cases[] = {
        {P::HomeOption, "/a/ (--home)"}, {P::HomeVariable, "/a/ (VARLO_HOME)"},
        {P::UserData, "/a/ (this user's data directory)"}, {P::BesideProgram, "/a/ (the program's directory)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribeProgramDir({c.source, "/a/"}), c.text);
}

} // namespace
