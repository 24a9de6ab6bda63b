// The program installed into a temporary prefix by its own install rules:
// its files go to the user's data directory (never beside the executable),
// --home and VARLO_HOME still win, a directory that cannot be made is named,
// and the desktop's files are where a desktop looks for them.
#include "scalesim.h"
#include "programrun.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList Entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

class Installed : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Prefix = std::make_unique<QTemporaryDir>();
        const Result r = RunProgram(VARLO_CMAKE, {"--install", BuildDir(), "--prefix", Prefix->path()},
                                    QProcessEnvironment::systemEnvironment(), {}, 120000);
        InstallOutput = r.err;
        Ok = r.status == 0;
        // "nobody" needs the way in to run the program.
        ::chmod(QFile::encodeName(Prefix->path()).constData(), 0755);
    }
    static void TearDownTestSuite() { Prefix.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(Ok) << S(InstallOutput);
        ASSERT_TRUE(Work.isValid());
        ::chmod(QFile::encodeName(Work.path()).constData(), 0755);
    }
    static QString P(const QString& rel) { return Prefix->path() + "/" + rel; }
    static QString Manager() { return P("bin/varlo-manager"); }
    QString W(const QString& rel) const { return Work.path() + "/" + rel; }

    // A user's session: a home of its own, nothing inherited that moves the files.
    static QProcessEnvironment Session(const QString& home)
    {
        QProcessEnvironment env = ScriptEnvironment();
        env.remove("XDG_DATA_HOME");
        env.insert("HOME", home);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }

    static inline std::unique_ptr<QTemporaryDir> Prefix;
    static inline bool Ok = false;
    static inline QByteArray InstallOutput;
    QTemporaryDir Work;
};

TEST_F(Installed, DesktopFilesAreWhereADesktopLooks)
{
    QStringList expected{"bin/varlo-manager", "bin/varlo-scale-sim", "share/applications/varlo-manager.desktop",
                         "share/icons/hicolor/scalable/apps/varlo-manager.svg",
                         "share/icons/hicolor/48x48/apps/varlo-manager.png",
                         "share/metainfo/org.varlo.manager.metainfo.xml",
                         "share/bash-completion/completions/varlo-manager"};
    if (VARLO_HAVE_MAN)
        expected << "share/man/man1/varlo-manager.1.gz";
    for (const QString& rel : expected)
        EXPECT_TRUE(QFileInfo(P(rel)).isFile()) << S(rel);
    EXPECT_TRUE(QFileInfo(P("share/varlo-manager")).isDir());
    const QStringList modules = QDir(Prefix->path()).entryList({"lib*"}, QDir::Dirs);
    bool printModule = false;
    for (const QString& lib : modules)
        printModule |= !QDir(P(lib)).entryList({"varlo-print.so"}, QDir::Files, QDir::NoSort).isEmpty()
                       || QFileInfo::exists(P(lib + "/varlo-manager/varlo-print.so"))
                       || QFileInfo::exists(P(lib + "/x86_64-linux-gnu/varlo-manager/varlo-print.so"));
    EXPECT_TRUE(printModule) << S(modules.join(' '));

    const QByteArray entry = ReadFile(P("share/applications/varlo-manager.desktop"));
    EXPECT_TRUE(entry.contains("\nExec=varlo-manager\n"));
    EXPECT_TRUE(entry.contains("\nIcon=varlo-manager\n"));
}

// The directory rule as the installed program applies it, by --version,
// which only says where and makes nothing.
TEST_F(Installed, VersionNamesTheDirectoryOfEachRule)
{
    const QString data = W("home/.local/share/varlo-manager/");
    struct Case {
        const char* what;
        QStringList args;
        QStringList env;   // name, value, ...
        QString files;
    };
    const QList<Case> cases{
        {"default", {}, {}, data + " (this user's data directory)"},
        {"XDG_DATA_HOME", {}, {"XDG_DATA_HOME", W("xdg")}, W("xdg/varlo-manager/") + " (this user's data directory)"},
        {"VARLO_HOME", {}, {"VARLO_HOME", W("shop")}, W("shop/") + " (VARLO_HOME)"},
        {"--home", {"--home", W("shop2")}, {"VARLO_HOME", W("shop")}, W("shop2/") + " (--home)"},
    };
    for (const Case& c : cases) {
        QProcessEnvironment env = Session(W("home"));
        for (int i = 0; i + 1 < c.env.size(); i += 2)
            env.insert(c.env[i], c.env[i + 1]);
        const Result r = RunProgram(Manager(), c.args + QStringList{"--version"}, env);
        EXPECT_EQ(r.status, 0) << c.what << S(r.err);
        EXPECT_EQ(S(r.out), "varlo-manager " VARLO_VERSION_TEXT "\nFiles: " + S(c.files) + "\n") << c.what;
    }
    EXPECT_TRUE(Entries(Work.path()).isEmpty()) << S(Entries(Work.path()).join(' '));
}

TEST_F(Installed, CommandsKeepTheirFilesInTheUserDataDirectory)
{
    varlo::sim::ScaleSim sim;
    sim.loadDemoState();
    const QString port = QString::fromStdString(sim.start());
    const QStringList before = Entries(P("bin"));
    const QProcessEnvironment env = Session(W("home"));
    const QString data = W("home/.local/share/varlo-manager/");

    Result r = RunProgram(Manager(), {"upload", W("PRICES.KYR"), "--port", port}, env, Work.path());
    ASSERT_EQ(r.status, 0) << S(r.err);
    EXPECT_EQ(S(r.out), "Upload PLU OK!\n");
    r = RunProgram(Manager(), {"download", W("PRICES.KYR"), "--port", port}, env, Work.path());
    ASSERT_EQ(r.status, 0) << S(r.err);
    EXPECT_EQ(S(r.out), "Download PLU OK!\n");

    EXPECT_TRUE(QFileInfo(data + "DEBUG.LOG").size() > 0);
    EXPECT_EQ(Entries(P("bin")), before);
    EXPECT_EQ(S(Entries(Work.path()).join(' ')), "PRICES.KYR home");

    // --home still wins: nothing more lands in the data directory.
    QDir().mkpath(W("shop"));
    const QStringList dataBefore = Entries(data);
    r = RunProgram(Manager(), {"values", "--port", port, "--home", W("shop")}, env, Work.path());
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_TRUE(QFileInfo::exists(W("shop/DEBUG.LOG")));
    EXPECT_EQ(Entries(data), dataBefore);
}

// The window of an installed program starts without a word of complaint:
// a box at start-up would keep it from ever painting.
TEST_F(Installed, WindowStartsWithItsFilesInTheUserDataDirectory)
{
    QProcessEnvironment env = Session(W("home"));
    env.insert("VARLO_EXIT_AFTER_FIRST_PAINT", "1");
    const Result r = RunProgram(Manager(), {}, env, Work.path(), 60000);
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_TRUE(QFileInfo::exists(W("home/.local/share/varlo-manager/Record.txt")));
    EXPECT_FALSE(QFileInfo::exists(P("bin/Record.txt")));
}

// Root may make directories anywhere: the user here is "nobody".
TEST_F(Installed, DataDirectoryThatCannotBeMadeEndsWithItsNameAndWhatToDo)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run as nobody";
    QDir().mkpath(W("locked"));
    ::chmod(QFile::encodeName(W("locked")).constData(), 0555);
    QDir().mkpath(W("filehome"));
    ASSERT_TRUE(ReplaceFile(W("filehome/.local"), {}));
    struct Case {
        QString home;
        const char* reason;
    };
    for (const Case& c : {Case{W("locked"), "Permission denied"}, Case{W("filehome"), "Not a directory"}}) {
        const Result r = RunProgram("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", Manager(),
                                                "values", "--port", "/dev/null"}, Session(c.home));
        EXPECT_EQ(r.status, 2) << S(r.err);
        EXPECT_EQ(S(r.err), "Cannot create the data directory " + S(c.home)
                                + "/.local/share/varlo-manager/\n" + c.reason
                                + "\nName a directory with --home DIR or VARLO_HOME, or set "
                                  "XDG_DATA_HOME to a directory you may write.\n");
    }
    EXPECT_TRUE(Entries(W("locked")).isEmpty());
}

TEST_F(Installed, BashCompletionOffersCommandsOptionsFilesAndPorts)
{
    for (const char* name : {"A.KYR", "b.kyr", "notes.txt", "c.csv"})
        ASSERT_TRUE(ReplaceFile(W(name), {}));
    QDir().mkpath(W("sub"));
    struct Case {
        QStringList words;   // after "varlo-manager"; the last is the word completed
        QString expected;    // sorted, space-separated
    };
    const QList<Case> cases{
        {{""}, "compare download export import ports report reprice upload values"},
        {{"up"}, "upload"},
        {{"--b"}, "--baud"},
        {{"--"}, "--baud --demo --demo-fault --help --home --port --version"},
        {{"download", "A.KYR", "--"}, "--backup --baud --force --home --no-verify --port --verify"},
        {{"reprice", "A.KYR", "--p"}, "--percent"},
        {{"import", ""}, "c.csv sub"},
        {{"import", "c.csv", ""}, "A.KYR b.kyr sub"},
        {{"export", "A.KYR", "--separator", ""}, ", ; tab"},
        {{"values", "--baud", ""}, "2400 9600"},
        {{"download", ""}, "A.KYR b.kyr sub"},
        {{"--home", "sub", "upload", ""}, "A.KYR b.kyr sub"},
        {{"download", "A.KYR", ""}, ""},
        {{"report", ""}, ""},
        {{"values", "--port", "COM"}, "COM1 COM2 COM3 COM4"},
        {{"--home", "s"}, "sub"},
    };
    const QString script =
        "source \"$1\"; shift; COMP_WORDS=(varlo-manager \"$@\"); COMP_CWORD=$#;"
        " _varlo_manager 2>/dev/null; printf '%s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort | paste -sd ' '";
    const QString completion = P("share/bash-completion/completions/varlo-manager");
    auto complete = [&](const QStringList& words) {
        return RunProgram("bash", QStringList{"-c", script, "bash", completion} + words, Session(W("home")), Work.path());
    };
    for (const Case& c : cases) {
        const Result r = complete(c.words);
        EXPECT_EQ(r.status, 0) << S(r.err);
        EXPECT_EQ(S(r.out.trimmed()), S(c.expected)) << S(c.words.join(' '));
    }
    // Serial devices that exist are offered by path.
    const QStringList ttys = QDir("/dev").entryList({"ttyS*", "ttyUSB*", "ttyACM*"}, QDir::System);
    const Result r = complete({"--port", "/dev/tty"});
    for (const QString& tty : ttys)
        EXPECT_TRUE(r.out.contains("/dev/" + tty.toUtf8())) << S(tty);
}

} // namespace
