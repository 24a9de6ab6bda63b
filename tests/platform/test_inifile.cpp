#include "atomicfile.h"
#include "errors.h"
#include "inifile.h"
#include "testdirs.h"
#include "unprivileged.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <thread>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using namespace std::chrono_literals;

// What `f` throws as E, as "message|detail".
template <class E>
QString thrown(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.Message + "|" + e.Detail;
    }
    return "no error";
}
QString why(int err) { return QString::fromLocal8Bit(strerror(err)); }
QStringList files(const QString& dir) { return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System); }
mode_t modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// The same lines with CR LF, LF, a lone CR, and a mix: all read alike.
class LineEnds : public ::testing::TestWithParam<const char*> {};
INSTANTIATE_TEST_SUITE_P(Ini, LineEnds, ::testing::Values("\r\n", "\n", "\r", "mixed"));

TEST_P(LineEnds, ReadRules)
{
    const QByteArrayList lines = {
        "orphan=before any section", "[Default]", "Price Dot=3", "  Price Max  =  99999.99  ", "tabbed=\t7\t",
        "lang=\"Ranging between 0 and \"", "single='x'", "unpaired=\"x'", "lone=\"", "empty=\"\"",
        "inner= \"  q \" ", "none=", ";commented=1", "no equals sign", "=no key", "price dot=second",
        "gbk=\xD6\xD8\xC1\xBF", "[ other ]", "only=in other", "[DEFAULT]", "late=in the second copy",
        "[\xC4]", "k=1",   // Latin-1 capital A umlaut: only ASCII letters fold
        "[s]", "long=" + QByteArray(3000, 'v'), "quoted=\"" + QByteArray(2046, 'q') + "xy\"",
        "exact=" + QByteArray(2047, 'e'), "a=12", "b= -7 ", "c=+3", "d=12abc", "e=1.5", "f=",
        "g=99999999999999999999", "h=\"42\"",
    };
    const QByteArray mode = GetParam();
    QByteArray data;
    for (int i = 0; i < lines.size(); ++i)
        data += lines[i] + (mode != "mixed" ? mode : QByteArrayList{"\r\n", "\n", "\r"}[i % 3]);
    ScopedHome home;
    home.write("t.ini", data);
    const IniFile ini(home.file("t.ini"));
    ASSERT_TRUE(ini.exists());

    const struct { const char* section; const char* key; QByteArray value; } found[] = {
        {"Default", "Price Dot", "3"},   // first key wins
        {"default", "PRICE DOT", "3"}, {"DEFAULT", "price max", "99999.99"}, {"Default", "tabbed", "7"},
        {"Default", "lang", "Ranging between 0 and "}, {"Default", "single", "x"},
        {"Default", "unpaired", "\"x'"}, {"Default", "lone", "\""}, {"Default", "empty", ""},
        {"Default", "inner", "  q "}, {"Default", "none", ""}, {"Default", "gbk", "\xD6\xD8\xC1\xBF"},
        {"Other", "ONLY", "in other"}, {"\xC4", "K", "1"},
        {"s", "long", QByteArray(2047, 'v')}, {"s", "quoted", QByteArray(2046, 'q') + 'x'},
        {"s", "exact", QByteArray(2047, 'e')},
    };
    for (const auto& c : found) {
        bool ok = false;
        EXPECT_EQ(ini.readString(c.section, c.key, "def", &ok), c.value) << c.key;
        EXPECT_TRUE(ok) << c.key;
    }
    const struct { const char* section; const char* key; } absent[] = {
        {"Default", "orphan"}, {"Default", ";commented"}, {"Default", "commented"},
        {"Default", "no equals sign"}, {"Default", ""}, {"Default", "late"},   // only the first [Default] counts
        {"Missing", "Price Dot"}, {"Other", "Price Dot"}, {"\xE4", "k"},
    };
    for (const auto& c : absent) {
        bool ok = true;
        EXPECT_EQ(ini.readString(c.section, c.key, "def", &ok), "def") << c.section << "/" << c.key;
        EXPECT_FALSE(ok) << c.key;
    }
    const struct { const char* key; long long v; } ints[] = {
        {"a", 12}, {"b", -7}, {"c", 3}, {"d", -1}, {"e", -1}, {"f", -1}, {"g", -1}, {"h", 42}, {"missing", -1},
    };
    for (const auto& c : ints)
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
    const QString path = home.file("KYR.CFG");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
    auto reading = std::async(std::launch::async, [&] { return IniFile(path).readInt("COMM", "Port", 2); });
    auto writing = std::async(std::launch::async,
                              [&] { return thrown<EIniError>([&] { IniFile::writeString(path, "COMM", "Port", "3"); }); });
    const bool readEnded = reading.wait_for(5s) == std::future_status::ready;
    const bool writeEnded = writing.wait_for(5s) == std::future_status::ready;
    // A blocked open ends once the pipe's other side has come and gone.
    for (int i = 0; i < 4 && !(reading.wait_for(0s) == std::future_status::ready
                               && writing.wait_for(0s) == std::future_status::ready); ++i) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(readEnded) << "reading a pipe waited for a writer";
    EXPECT_TRUE(writeEnded) << "writing a pipe waited for the other side";
    EXPECT_EQ(reading.get(), 2);
    EXPECT_EQ(writing.get(), "Unable to write to " + path + "|not a regular file");
    EXPECT_TRUE(S_ISFIFO(modeOf(path)));
}

// Each write keeps every line it does not own, byte for byte.
TEST(IniWrite, ExactBytesAfterTheWrites)
{
    const struct { const char* what; QByteArray before; std::function<void(const QString&)> write; QByteArray after; } cases[] = {
        {"default file from nothing", {},
         [](const QString& p) {
             IniFile::writeStrings(p, "default", {{"Price Dot", "3"}, {"Price Max", "99999.99"},
                                                  {"price length", "8"}, {"price decimal", "2"}});
         },
         "[default]\r\nPrice Dot=3\r\nPrice Max=99999.99\r\nprice length=8\r\nprice decimal=2\r\n"},
        {"replaced in place, appended to its section",
         "; settings\r\n[Default]\r\n  Foreign Key =  'x'  \r\nPRICE DOT = 2\r\n;Price Max=1\r\n\tindented=\xD6\xD8\r\n"
         "\r\n[Other]\r\nPrice Dot=9\r\n",
         [](const QString& p) {
             IniFile::writeString(p, "default", "Price Dot", "3");
             IniFile::writeString(p, "DEFAULT", "Price Max", "99999.99");
             IniFile::writeString(p, "Other", "price dot", "4");
         },
         "; settings\r\n[Default]\r\n  Foreign Key =  'x'  \r\nPrice Dot=3\r\n;Price Max=1\r\n\tindented=\xD6\xD8\r\n"
         "Price Max=99999.99\r\n\r\n[Other]\r\nprice dot=4\r\n"},
        {"section appended, line ends rewritten, a key written twice", "[a]\nx=1\rlast=no line end",
         [](const QString& p) { IniFile::writeStrings(p, "b", {{"k", "v"}, {"K", "w"}}); },
         "[a]\r\nx=1\r\nlast=no line end\r\n\r\n[b]\r\nK=w\r\n"},
        {"no second blank line", "[a]\r\nx=1\r\n\r\n", [](const QString& p) { IniFile::writeString(p, "b", "k", "v"); },
         "[a]\r\nx=1\r\n\r\n[b]\r\nk=v\r\n"},
        // An editor's UTF-8 byte-order mark: the mark stays, no second section.
        {"byte-order mark", "\xEF\xBB\xBF[COMM]\r\nPort=3\r\n",
         [](const QString& p) {
             EXPECT_EQ(IniFile(p).readInt("COMM", "Port", 2), 3);
             IniFile::writeString(p, "COMM", "BaudRate", "2400");
         },
         "\xEF\xBB\xBF[COMM]\r\nPort=3\r\nBaudRate=2400\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedHome home;
        if (!c.before.isNull())
            home.write("t.ini", c.before);
        c.write(home.file("t.ini"));
        EXPECT_EQ(home.read("t.ini"), c.after);
    }
}

TEST(IniWrite, WrittenValuesReadBackTheSame)
{
    ScopedHome home;
    const QByteArray values[] = {"plain", " leading", "trailing\t", "\"quoted\"", "'q'", "", "a=b;c", "\xD6\xD8\xC1\xBF"};
    for (int i = 0; i < int(std::size(values)); ++i)
        IniFile::writeString(home.file("t.ini"), "s", "k" + QByteArray::number(i), values[i]);
    IniFile::writeString(home.file("t.ini"), "s", "nl", "first\r\n[s]\r\nk0=injected");
    const IniFile ini(home.file("t.ini"));
    for (int i = 0; i < int(std::size(values)); ++i)
        EXPECT_EQ(ini.readString("s", "k" + QByteArray::number(i), "def"), values[i]);
    EXPECT_EQ(ini.readString("s", "nl", "def"), "first");   // a value cannot add lines
}

// Failures name the path and the reason. A full disk: the write fails after
// the temporary file was created, and the old file stays whole.
TEST(AtomicWrite, FailedWriteKeepsTheOldFileWhole)
{
    ScopedHome home;
    const QString missing = home.file("no/such/dir/t.ini");
    EXPECT_EQ(thrown<EIniError>([&] { IniFile::writeString(missing, "s", "k", "v"); }),
              "Unable to write to " + missing + "|" + why(ENOENT));
    EXPECT_EQ(thrown<EInOutError>([] { WriteFileAtomically("/nonexistent-dir/x.txt", "x"); }),
              "Cannot create file /nonexistent-dir/x.txt|" + why(ENOENT));
    const QByteArray old = "[s]\r\nk=old\r\n";
    home.write("t.ini", old);
    SetAtomicWriteFailure(1, ENOSPC);
    EXPECT_EQ(thrown<EIniError>([&] { IniFile::writeString(home.file("t.ini"), "s", "k", "new"); }),
              "Unable to write to " + home.file("t.ini") + "|" + why(ENOSPC));
    EXPECT_EQ(home.read("t.ini"), old);
    EXPECT_EQ(files(home.path()), QStringList{"t.ini"});   // no temporary left

    SetAtomicWriteFailure(2, ENOSPC);   // the countdown: the 1st write passes, the 2nd fails
    WriteFileAtomically(home.file("a.txt"), "one");
    EXPECT_THROW(WriteFileAtomically(home.file("a.txt"), "two"), EInOutError);
    EXPECT_EQ(home.read("a.txt"), "one");
    WriteFileAtomically(home.file("a.txt"), "three");   // the hook fired once only
    EXPECT_EQ(home.read("a.txt"), "three");
}

TEST(AtomicWrite, PermissionsOfTheOldFileOrTheUmask)
{
    ScopedHome home;
    const mode_t mask = ::umask(022);
    WriteFileAtomically(home.file("p.txt"), "new");
    EXPECT_EQ(modeOf(home.file("p.txt")) & 07777, 0644u);
    ASSERT_EQ(::chmod(QFile::encodeName(home.file("p.txt")).constData(), 0640), 0);
    WriteFileAtomically(home.file("p.txt"), "again");
    EXPECT_EQ(modeOf(home.file("p.txt")) & 07777, 0640u);
    ::umask(mask);
}

// A save through a link writes its target and keeps the link, even when the
// target does not exist yet; a loop of links is an error.
TEST(AtomicWrite, SymbolicLinksStay)
{
    ScopedHome home;
    home.write("real.txt", "old");
    ASSERT_TRUE(QFile::link(home.file("real.txt"), home.file("link.txt")));
    ASSERT_TRUE(QDir().mkpath(home.file("sub")));
    ASSERT_TRUE(QFile::link("sub/real.txt", home.file("dangling.txt")));   // relative
    for (const char* link : {"link.txt", "dangling.txt"}) {
        WriteFileAtomically(home.file(link), "new");
        EXPECT_TRUE(QFileInfo(home.file(link)).isSymLink()) << link;
    }
    EXPECT_EQ(home.read("real.txt"), "new");
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
    ASSERT_EQ(::mkfifo(QFile::encodeName(home.file("pipe.KYR")).constData(), 0666), 0);
    ASSERT_TRUE(QFile::link(home.file("pipe.KYR"), home.file("link.KYR")));
    ASSERT_TRUE(QDir().mkpath(home.file("dir.KYR")));
    for (const char* name : {"pipe.KYR", "link.KYR", "dir.KYR"}) {
        const QString error = thrown<EInOutError>([&] { WriteFileAtomically(home.file(name), "new"); });
        EXPECT_TRUE(error.startsWith("Cannot create file " + home.file(name) + "|")) << error.toStdString();
        EXPECT_FALSE(error.endsWith('|')) << name << ": no reason";
    }
    EXPECT_TRUE(S_ISFIFO(modeOf(home.file("pipe.KYR"))));
    EXPECT_TRUE(QFileInfo(home.file("link.KYR")).isSymLink());
    EXPECT_TRUE(QFileInfo(home.file("dir.KYR")).isDir());
    EXPECT_EQ(files(home.path()), (QStringList{"link.KYR", "pipe.KYR"}));
}

// Where the directory refuses new files but the file is writable, an in-place
// rewrite would succeed; where the file is read-only, a new file could take its
// place. The atomic write must fail in both, as an in-place one would, and
// change nothing.
TEST(AtomicWrite, RefusedWritesKeepTheOldFile)
{
    const struct { const char* dir; mode_t dirMode, fileMode; } cases[] = {
        {"lockeddir/", 0555, 0666}, {"readonly/", 0777, 0444},
    };
    const auto refused = [&cases](const QString& home) {
        for (const auto& c : cases) {
            const QString dir = home + c.dir;
            EXPECT_EQ(thrown<EIniError>([&] { IniFile::writeString(dir + "t.ini", "s", "k", "new"); }),
                      "Unable to write to " + dir + "t.ini|" + why(EACCES));
            EXPECT_THROW(WriteFileAtomically(dir + "t.KYR", "new"), EInOutError) << c.dir;
        }
    };
    if (!UnprivilegedDir().isEmpty())
        return refused(UnprivilegedDir());
    ScopedHome home;
    const QByteArray old = "[s]\r\nk=old\r\n";
    for (const auto& c : cases) {
        ASSERT_TRUE(QDir(home.path()).mkdir(c.dir));
        for (const char* name : {"t.ini", "t.KYR"}) {
            home.write(c.dir + QString(name), old);
            ASSERT_EQ(::chmod(QFile::encodeName(home.file(c.dir + QString(name))).constData(), c.fileMode), 0);
        }
        ASSERT_EQ(::chmod(QFile::encodeName(home.file(c.dir)).constData(), c.dirMode), 0);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(home.path()).constData(), 0755), 0);
    RunUnprivileged(home.path(), refused);
    for (const auto& c : cases) {
        ::chmod(QFile::encodeName(home.file(c.dir)).constData(), 0700);
        EXPECT_EQ(home.read(c.dir + QString("t.ini")) + home.read(c.dir + QString("t.KYR")), old + old);
        EXPECT_EQ(files(home.file(c.dir)), (QStringList{"t.ini", "t.KYR"})) << c.dir;
    }
}

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
    const struct { QByteArray name; bool removed; } cases[] = {
        {".a.txt.tmp" + dead + ".0", true}, {".a.txt.tmp" + dead + ".17", true},
        {".a.txt.tmp" + self + ".99", false},   // a running process may be saving
        {".a.txt.tmp1.0", false}, {".b.txt.tmp" + dead + ".0", false},   // another file's
        {".a.txt.tmp" + dead, false}, {".a.txt.tmpx.0", false}, {"a.txt.tmp" + dead + ".0", false},
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

} // namespace
