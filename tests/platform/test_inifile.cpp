#include "atomicfile.h"
#include "errors.h"
#include "inifile.h"
#include "testdirs.h"
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <thread>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The same lines with CR LF, LF, a lone CR, and a mix: all read alike.
class LineEnds : public ::testing::TestWithParam<const char*> {};
INSTANTIATE_TEST_SUITE_P(Ini, LineEnds, ::testing::Values("\r\n", "\n", "\r", "mixed"));

TEST_P(LineEnds, ReadRules)
{
    const QByteArrayList lines = {
        "orphan=before any section",
        "[Default]",
        "Price Dot=3",
        "  Price Max  =  99999.99  ",
        "tabbed=\t7\t",
        "lang=\"Ranging between 0 and \"",
        "single='x'",
        "unpaired=\"x'",
        "lone=\"",
        "empty=\"\"",
        "inner= \"  q \" ",
        "none=",
        ";commented=1",
        "no equals sign",
        "=no key",
        "price dot=second",
        "gbk=\xD6\xD8\xC1\xBF",
        "[ other ]",
        "only=in other",
        "[DEFAULT]",
        "late=in the second copy",
    };
    const QByteArray mode = GetParam();
    QByteArray data;
    for (int i = 0; i < lines.size(); ++i)
        data += lines[i] + (mode != "mixed" ? mode : QByteArrayList{"\r\n", "\n", "\r"}[i % 3]);
    ScopedHome home;
    home.write("t.ini", data);
    const IniFile ini(home.file("t.ini"));
    ASSERT_TRUE(ini.exists());

    const struct { const char* section; const char* key; const char* value; } found[] = {
        {"Default", "Price Dot", "3"},        // first key wins
        {"default", "PRICE DOT", "3"},
        {"DEFAULT", "price max", "99999.99"},
        {"Default", "tabbed", "7"},
        {"Default", "lang", "Ranging between 0 and "},
        {"Default", "single", "x"},
        {"Default", "unpaired", "\"x'"},
        {"Default", "lone", "\""},
        {"Default", "empty", ""},
        {"Default", "inner", "  q "},
        {"Default", "none", ""},
        {"Default", "gbk", "\xD6\xD8\xC1\xBF"},
        {"Other", "ONLY", "in other"},
    };
    for (const auto& c : found) {
        bool ok = false;
        EXPECT_EQ(ini.readString(c.section, c.key, "def", &ok), QByteArray(c.value)) << c.key;
        EXPECT_TRUE(ok) << c.key;
    }
    const struct { const char* section; const char* key; } absent[] = {
        {"Default", "orphan"}, {"Default", ";commented"}, {"Default", "commented"},
        {"Default", "no equals sign"}, {"Default", ""}, {"Default", "late"},   // only the first [Default] counts
        {"Missing", "Price Dot"}, {"Other", "Price Dot"},
    };
    for (const auto& c : absent) {
        bool ok = true;
        EXPECT_EQ(ini.readString(c.section, c.key, "def", &ok), "def") << c.section << "/" << c.key;
        EXPECT_FALSE(ok) << c.key;
    }
}

TEST(Ini, NamesFoldOnlyAsciiLetters)
{
    ScopedHome home;
    home.write("t.ini", "[\xC4]\r\nk=1\r\n");   // Latin-1 capital A umlaut
    const IniFile ini(home.file("t.ini"));
    EXPECT_EQ(ini.readString("\xC4", "K", "def"), "1");
    EXPECT_EQ(ini.readString("\xE4", "k", "def"), "def");
}

TEST(Ini, ValuesAreCutTo2047Bytes)
{
    ScopedHome home;
    const QByteArray longValue(3000, 'v');
    const QByteArray quoted = '"' + QByteArray(2046, 'q') + "xy\"";
    home.write("t.ini", "[s]\r\nlong=" + longValue + "\r\nquoted=" + quoted + "\r\nexact=" + QByteArray(2047, 'e') + "\r\n");
    const IniFile ini(home.file("t.ini"));
    EXPECT_EQ(ini.readString("s", "long", {}), QByteArray(2047, 'v'));
    EXPECT_EQ(ini.readString("s", "quoted", {}), QByteArray(2046, 'q') + 'x');
    EXPECT_EQ(ini.readString("s", "exact", {}), QByteArray(2047, 'e'));
}

TEST(Ini, ReadInt)
{
    ScopedHome home;
    home.write("t.ini", "[s]\na=12\nb= -7 \nc=+3\nd=12abc\ne=1.5\nf=\ng=99999999999999999999\nh=\"42\"\n");
    const IniFile ini(home.file("t.ini"));
    const struct { const char* key; long long v; } cases[] = {
        {"a", 12}, {"b", -7}, {"c", 3}, {"d", -1}, {"e", -1}, {"f", -1}, {"g", -1}, {"h", 42}, {"missing", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini.readInt("s", c.key, -1), c.v) << c.key;
}

TEST(Ini, MissingFileIsEmpty)
{
    ScopedHome home;
    const IniFile ini(home.file("none.ini"));
    EXPECT_FALSE(ini.exists());
    EXPECT_EQ(ini.readString("s", "k", "def"), "def");
    EXPECT_EQ(ini.readInt("s", "k", 5), 5);
}

// A settings file that is a pipe (or a device) reads as missing and is not
// written: opening it would wait for a writer that never comes.
TEST(Ini, PipeReadsAsMissingAndIsNotWritten)
{
    ScopedHome home;
    const QByteArray fifo = QFile::encodeName(home.file("KYR.CFG"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0666), 0);
    auto reading = std::async(std::launch::async, [&] {
        const IniFile ini(home.file("KYR.CFG"));
        return ini.readInt("COMM", "Port", 2);
    });
    auto writing = std::async(std::launch::async, [&] {
        try {
            IniFile::writeString(home.file("KYR.CFG"), "COMM", "Port", "3");
        } catch (const EIniError& e) {
            return e.Message + "|" + e.Detail;
        }
        return QString("no error");
    });
    const bool readEnded = reading.wait_for(5s) == std::future_status::ready;
    const bool writeEnded = writing.wait_for(5s) == std::future_status::ready;
    // A blocked open ends once the pipe's other side has come and gone.
    for (int i = 0; i < 4 && !(reading.wait_for(0s) == std::future_status::ready
                               && writing.wait_for(0s) == std::future_status::ready); ++i) {
        const int fd = ::open(fifo.constData(), O_RDWR | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(readEnded) << "reading a pipe waited for a writer";
    EXPECT_TRUE(writeEnded) << "writing a pipe waited for the other side";
    EXPECT_EQ(reading.get(), 2);
    EXPECT_EQ(writing.get(), "Unable to write to " + home.file("KYR.CFG") + "|not a regular file");
    struct stat st {};
    ASSERT_EQ(::stat(fifo.constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A settings file saved by an editor as UTF-8 with a byte-order mark: the
// first section is still found, and a write keeps the mark and adds no
// second section.
TEST(Ini, ByteOrderMarkBeforeTheFirstSection)
{
    ScopedHome home;
    home.write("KYR.CFG", "\xEF\xBB\xBF[COMM]\r\nPort=3\r\n");
    EXPECT_EQ(IniFile(home.file("KYR.CFG")).readInt("COMM", "Port", 2), 3);
    IniFile::writeString(home.file("KYR.CFG"), "COMM", "BaudRate", "2400");
    EXPECT_EQ(home.read("KYR.CFG"), "\xEF\xBB\xBF[COMM]\r\nPort=3\r\nBaudRate=2400\r\n");
}

TEST(IniWrite, DefaultFileFromNothing)
{
    ScopedHome home;
    IniFile::writeStrings(home.file("KYR.CFG"), "default",
                          {{"Price Dot", "3"}, {"Price Max", "99999.99"},
                           {"price length", "8"}, {"price decimal", "2"}});
    EXPECT_EQ(home.read("KYR.CFG"),
              "[default]\r\nPrice Dot=3\r\nPrice Max=99999.99\r\nprice length=8\r\nprice decimal=2\r\n");
}

TEST(IniWrite, ReplacesInPlaceAndKeepsEveryOtherLine)
{
    ScopedHome home;
    home.write("t.ini",
               "; settings\r\n"
               "[Default]\r\n"
               "  Foreign Key =  'x'  \r\n"
               "PRICE DOT = 2\r\n"
               ";Price Max=1\r\n"
               "\tindented=\xD6\xD8\r\n"
               "\r\n"
               "[Other]\r\n"
               "Price Dot=9\r\n");
    IniFile::writeString(home.file("t.ini"), "default", "Price Dot", "3");
    IniFile::writeString(home.file("t.ini"), "DEFAULT", "Price Max", "99999.99");   // appended to its section
    IniFile::writeString(home.file("t.ini"), "Other", "price dot", "4");
    EXPECT_EQ(home.read("t.ini"),
              "; settings\r\n"
              "[Default]\r\n"
              "  Foreign Key =  'x'  \r\n"
              "Price Dot=3\r\n"
              ";Price Max=1\r\n"
              "\tindented=\xD6\xD8\r\n"
              "Price Max=99999.99\r\n"
              "\r\n"
              "[Other]\r\n"
              "price dot=4\r\n");
}

TEST(IniWrite, AppendsTheSectionAndRewritesLineEnds)
{
    ScopedHome home;
    home.write("t.ini", "[a]\nx=1\rlast=no line end");
    IniFile::writeStrings(home.file("t.ini"), "b", {{"k", "v"}, {"K", "w"}});   // second write of the same key replaces
    EXPECT_EQ(home.read("t.ini"), "[a]\r\nx=1\r\nlast=no line end\r\n\r\n[b]\r\nK=w\r\n");

    home.write("u.ini", "[a]\r\nx=1\r\n\r\n");
    IniFile::writeString(home.file("u.ini"), "b", "k", "v");
    EXPECT_EQ(home.read("u.ini"), "[a]\r\nx=1\r\n\r\n[b]\r\nk=v\r\n");
}

TEST(IniWrite, WrittenValuesReadBackTheSame)
{
    ScopedHome home;
    const QByteArray values[] = {"plain", " leading", "trailing\t", "\"quoted\"", "'q'", "", "a=b;c", "\xD6\xD8\xC1\xBF"};
    int i = 0;
    for (const QByteArray& v : values)
        IniFile::writeString(home.file("t.ini"), "s", "k" + QByteArray::number(i++), v);
    IniFile::writeString(home.file("t.ini"), "s", "nl", "first\r\n[s]\r\nk0=injected");
    const IniFile ini(home.file("t.ini"));
    i = 0;
    for (const QByteArray& v : values)
        EXPECT_EQ(ini.readString("s", "k" + QByteArray::number(i++), "def"), v);
    EXPECT_EQ(ini.readString("s", "nl", "def"), "first");   // a value cannot add lines
}

TEST(IniWrite, FailureIsUnableToWriteWithTheReason)
{
    ScopedHome home;
    const QString path = home.file("no/such/dir/t.ini");
    try {
        IniFile::writeString(path, "s", "k", "v");
        FAIL() << "no error";
    } catch (const EIniError& e) {
        EXPECT_EQ(e.Message, "Unable to write to " + path);
        EXPECT_EQ(e.Detail, QString::fromLocal8Bit(strerror(ENOENT)));
    }
}

// A full disk: the write fails after the temporary file was created.
TEST(AtomicWrite, FailedWriteKeepsTheOldFileWhole)
{
    ScopedHome home;
    const QByteArray old = "[s]\r\nk=old\r\n";
    home.write("t.ini", old);
    SetAtomicWriteFailure(1, ENOSPC);
    try {
        IniFile::writeString(home.file("t.ini"), "s", "k", "new");
        FAIL() << "no error";
    } catch (const EIniError& e) {
        EXPECT_EQ(e.Message, "Unable to write to " + home.file("t.ini"));
        EXPECT_EQ(e.Detail, QString::fromLocal8Bit(strerror(ENOSPC)));
    }
    EXPECT_EQ(home.read("t.ini"), old);
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"t.ini"});   // no temporary left

    SetAtomicWriteFailure(2, ENOSPC);   // the countdown: the 1st write passes, the 2nd fails
    WriteFileAtomically(home.file("a.txt"), "one");
    EXPECT_THROW(WriteFileAtomically(home.file("a.txt"), "two"), EInOutError);
    EXPECT_EQ(home.read("a.txt"), "one");
    WriteFileAtomically(home.file("a.txt"), "three");   // the hook fired once only
    EXPECT_EQ(home.read("a.txt"), "three");
}

TEST(AtomicWrite, MessagesNameThePath)
{
    const QString path = "/nonexistent-dir/x.txt";
    try {
        WriteFileAtomically(path, "x");
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message, "Cannot create file " + path);
        EXPECT_EQ(e.Detail, QString::fromLocal8Bit(strerror(ENOENT)));
    }
}

TEST(AtomicWrite, PermissionsOfTheOldFileOrTheUmask)
{
    ScopedHome home;
    const QByteArray path = QFile::encodeName(home.file("p.txt"));
    const mode_t mask = ::umask(022);
    WriteFileAtomically(home.file("p.txt"), "new");
    struct stat st {};
    ASSERT_EQ(::stat(path.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    ASSERT_EQ(::chmod(path.constData(), 0640), 0);
    WriteFileAtomically(home.file("p.txt"), "again");
    ASSERT_EQ(::stat(path.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ::umask(mask);
}

TEST(AtomicWrite, WritesThroughASymbolicLink)
{
    ScopedHome home;
    home.write("real.txt", "old");
    ASSERT_TRUE(QFile::link(home.file("real.txt"), home.file("link.txt")));
    WriteFileAtomically(home.file("link.txt"), "new");
    EXPECT_TRUE(QFileInfo(home.file("link.txt")).isSymLink());
    EXPECT_EQ(home.read("real.txt"), "new");
}

TEST(AtomicWrite, LinkToAMissingFileCreatesTheFileAndKeepsTheLink)
{
    ScopedHome home;
    ASSERT_TRUE(QDir().mkpath(home.file("sub")));
    ASSERT_TRUE(QFile::link("sub/real.txt", home.file("link.txt")));   // relative, dangling
    WriteFileAtomically(home.file("link.txt"), "new");
    EXPECT_TRUE(QFileInfo(home.file("link.txt")).isSymLink());
    EXPECT_EQ(home.read("sub/real.txt"), "new");

    ASSERT_TRUE(QFile::link(home.file("loop2"), home.file("loop1")));
    ASSERT_TRUE(QFile::link(home.file("loop1"), home.file("loop2")));
    EXPECT_THROW(WriteFileAtomically(home.file("loop1"), "x"), EInOutError);
    EXPECT_TRUE(QFileInfo(home.file("loop1")).isSymLink());
}

// A save onto a pipe or a device (directly or through a link, as with
// /dev/null) must not put a plain file in its place.
TEST(AtomicWrite, OnlyPlainFilesAreReplaced)
{
    ScopedHome home;
    const QByteArray fifo = QFile::encodeName(home.file("pipe.KYR"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0666), 0);
    ASSERT_TRUE(QFile::link(home.file("pipe.KYR"), home.file("link.KYR")));
    ASSERT_TRUE(QDir().mkpath(home.file("dir.KYR")));
    for (const char* name : {"pipe.KYR", "link.KYR", "dir.KYR"}) {
        const QString path = home.file(name);
        try {
            WriteFileAtomically(path, "new");
            ADD_FAILURE() << name << ": no error";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Message, "Cannot create file " + path);
            EXPECT_FALSE(e.Detail.isEmpty()) << name;
        }
    }
    struct stat st {};
    ASSERT_EQ(::stat(fifo.constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_TRUE(QFileInfo(home.file("link.KYR")).isSymLink());
    EXPECT_TRUE(QFileInfo(home.file("dir.KYR")).isDir());
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{"link.KYR", "pipe.KYR"}));
}

// The directory refuses new files but the file itself is writable: an
// in-place rewrite would succeed, the atomic one must fail and change nothing.
// Root ignores permissions, so then the case runs again as "nobody".
constexpr const char* ChildMark = "VARLO_UNWRITABLE_DIR";

TEST(AtomicWrite, UnwritableDirectoryKeepsTheOldFile)
{
    const QByteArray child = qgetenv(ChildMark);
    if (!child.isEmpty()) {
        const QString path = QString::fromLocal8Bit(child) + "/t.ini";
        try {
            IniFile::writeString(path, "s", "k", "new");
            FAIL() << "no error";
        } catch (const EIniError& e) {
            EXPECT_EQ(e.Message, "Unable to write to " + path);
            EXPECT_EQ(e.Detail, QString::fromLocal8Bit(strerror(EACCES)));
        }
        return;
    }
    QTemporaryDir tmp;
    const QString dir = tmp.path() + "/locked";
    ASSERT_TRUE(QDir().mkpath(dir));
    const QByteArray old = "[s]\r\nk=old\r\n";
    {
        QFile f(dir + "/t.ini");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    const QByteArray d = QFile::encodeName(dir);
    ASSERT_EQ(::chmod(QFile::encodeName(dir + "/t.ini").constData(), 0666), 0);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(d.constData(), 0555), 0);
        qputenv(ChildMark, d);
        TestBody();
        qunsetenv(ChildMark);
        ::chmod(d.constData(), 0755);
    } else {
        ASSERT_EQ(::chmod(QFile::encodeName(tmp.path()).constData(), 0755), 0);
        ASSERT_EQ(::chmod(d.constData(), 0755), 0);   // root's: nobody may not add files
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(ChildMark, dir);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                            QCoreApplication::applicationFilePath(),
                            "--gtest_filter=AtomicWrite.UnwritableDirectoryKeepsTheOldFile"});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
    }
    EXPECT_EQ(readFile(dir + "/t.ini"), old);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"t.ini"});
}

// A read-only file is not replaced, although the directory would let a new
// file take its place: the write fails as an in-place write would. Root may
// write any file, so the case runs as "nobody".
constexpr const char* ReadOnlyMark = "VARLO_READONLY_FILE_DIR";

TEST(AtomicWrite, ReadOnlyFileIsNotReplaced)
{
    const QByteArray child = qgetenv(ReadOnlyMark);
    if (!child.isEmpty()) {
        const QString dir = QString::fromLocal8Bit(child);
        try {
            IniFile::writeString(dir + "/t.ini", "s", "k", "new");
            FAIL() << "no error";
        } catch (const EIniError& e) {
            EXPECT_EQ(e.Detail, QString::fromLocal8Bit(strerror(EACCES)));
        }
        EXPECT_THROW(WriteFileAtomically(dir + "/t.KYR", "new"), EInOutError);
        return;
    }
    QTemporaryDir tmp;
    const QString dir = tmp.path() + "/open";
    ASSERT_TRUE(QDir().mkpath(dir));
    const QByteArray old = "[s]\r\nk=old\r\n";
    for (const char* name : {"/t.ini", "/t.KYR"}) {
        QFile f(dir + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old);
        f.close();
        ASSERT_EQ(::chmod(QFile::encodeName(dir + name).constData(), 0444), 0);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(tmp.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0777), 0);
    if (::geteuid() != 0) {
        qputenv(ReadOnlyMark, QFile::encodeName(dir));
        TestBody();
        qunsetenv(ReadOnlyMark);
    } else {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(ReadOnlyMark, dir);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                            QCoreApplication::applicationFilePath(),
                            "--gtest_filter=AtomicWrite.ReadOnlyFileIsNotReplaced"});
        if (!p.waitForStarted(10000))
            GTEST_SKIP() << "setpriv is not available";
        ASSERT_TRUE(p.waitForFinished(30000));
        const QByteArray out = p.readAll();
        EXPECT_EQ(p.exitCode(), 0) << out.constData();
        EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.constData();
    }
    EXPECT_EQ(readFile(dir + "/t.ini"), old);
    EXPECT_EQ(readFile(dir + "/t.KYR"), old);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), (QStringList{"t.ini", "t.KYR"}));
}

} // namespace

// Temporary files of interrupted saves (their process is gone) are removed by
// the next save of the same file; anything else stays.
TEST(AtomicWrite, LeftoversOfInterruptedSavesAreRemoved)
{
    ScopedHome home;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const QByteArray dead = QByteArray::number(child), self = QByteArray::number(::getpid());
    struct {
        QByteArray name;
        bool removed;
    } const cases[] = {
        {".a.txt.tmp" + dead + ".0", true},
        {".a.txt.tmp" + dead + ".17", true},
        {".a.txt.tmp" + self + ".99", false},   // a running process may be saving
        {".a.txt.tmp1.0", false},
        {".b.txt.tmp" + dead + ".0", false},    // another file's
        {".a.txt.tmp" + dead, false},
        {".a.txt.tmpx.0", false},
        {"a.txt.tmp" + dead + ".0", false},
    };
    for (const auto& c : cases)
        home.write(QString::fromLatin1(c.name), "partial");
    ASSERT_TRUE(QDir(home.path()).mkdir(".a.txt.tmp" + dead + ".5"));   // not a plain file
    WriteFileAtomically(home.file("a.txt"), "new");
    EXPECT_EQ(home.read("a.txt"), "new");
    for (const auto& c : cases)
        EXPECT_EQ(QFile::exists(home.file(QString::fromLatin1(c.name))), !c.removed) << c.name.constData();
    EXPECT_TRUE(QFileInfo(home.file(".a.txt.tmp" + dead + ".5")).isDir());
}
