// varlo-manager as a shop's script runs it: exit status, stdout, stderr and
// the files in the program directory, against the simulated scale on a
// pseudo-terminal, which tells what reached it.
#include "programrun.h"
#include "scalesim.h"
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

QByteArray Hex(const QByteArray& bytes) { return bytes.toHex(' ').toUpper(); }

// ------------------------------------------------------------ the simulated scale

// What the scale holds and received.
struct Dump {
    QByteArray priceMode;
    QList<QByteArray> plus, requests;   // PLU i at i - 1: unit flag, then the price in 24 bits

    QByteArray plu(int i) const { return plus.value(i - 1); }
    QByteArrayList frames() const
    {
        QByteArrayList out;
        for (const QByteArray& r : requests)
            out << Hex(r);
        return out;
    }
    bool sawCommand(uint8_t command) const
    {
        for (const QByteArray& r : requests)
            if (!r.isEmpty() && uint8_t(r[0]) == command)
                return true;
        return false;
    }
};

// The simulated scale in this process, set up with varlo-scale-sim's
// options (--demo, --price-mode HEX, --baud N, --fault RULE); its device is
// `Path`.
class SimProgram {
public:
    explicit SimProgram(const QStringList& args)
    {
        varlo::sim::Options options;
        bool demo = false;
        for (qsizetype i = 0; i < args.size(); ++i) {
            if (args[i] == "--demo")
                demo = true;
            else if (args[i] == "--price-mode")
                options.priceMode = uint8_t(args.value(++i).toUInt(nullptr, 16));
            else if (args[i] == "--baud")
                options.baud = args.value(++i).toUInt();
            else if (args[i] == "--fault")
                options.faults.push_back(varlo::sim::parseFaultRule(args.value(++i).toStdString()));
        }
        Sim = std::make_unique<varlo::sim::ScaleSim>(options);
        if (demo)
            Sim->loadDemoState();
        Path = QString::fromStdString(Sim->start());
    }
    Dump Stop()
    {
        Sim->stop();
        Dump d;
        d.priceMode = QByteArray(1, char(Sim->priceMode()));
        for (int i = 1; i <= 77; ++i) {
            const varlo::sim::PluRecord r = Sim->plu(i);
            d.plus << QByteArray(1, char(r.unitFlag)) + char(r.price >> 16) + char(r.price >> 8) + char(r.price);
        }
        for (const auto& r : Sim->requests())
            d.requests << QByteArray(reinterpret_cast<const char*>(r.frame.data()), qsizetype(r.frame.size()));
        return d;
    }

    QString Path;

private:
    std::unique_ptr<varlo::sim::ScaleSim> Sim;
};

// ------------------------------------------------------------ fixture

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(BuildDir().isEmpty()) << "VARLO_BUILD_DIR is not set";
        ASSERT_TRUE(QFile::exists(ManagerPath())) << S(ManagerPath());
    }

    // Starts the simulated scale (it throws when it cannot).
    std::unique_ptr<SimProgram> StartSim(const QStringList& args) { return std::make_unique<SimProgram>(args); }

    Result Run(const QStringList& args, int limitMs = 60000) { return RunManager(args, Home.path(), limitMs); }
    QString File(const QString& name) const { return Home.file(name); }

    ScopedHome Home;
};

// The price text of PLU row i in the download fixture file; the count in
// hundredths is `Hundredths(i)`. Row 76 is blank, rows 2 and 3 are halves
// for the whole-number mode.
int Hundredths(int i)
{
    switch (i) {
    case 1: return 1234;
    case 2: return 1250;
    case 3: return 1350;
    case 76: return 0;
    default: return i * 1111 % 1000000;
    }
}
QByteArray PriceText(int i)
{
    if (i == 76)
        return {};
    return QByteArray::number(Hundredths(i) / 100) + '.' + QByteArray::number(Hundredths(i) % 100).rightJustified(2, '0');
}
QByteArray UnitText(int i) { return i % 10 == 0 ? "g" : "kg"; }

// One PLU file line: price right-aligned in 8, name left-aligned in 13.
QByteArray PluLine(const QByteArray& price, const QByteArray& name, const QByteArray& unit)
{
    return price.rightJustified(8, ' ') + '\t' + name.leftJustified(13, ' ') + '\t' + unit + "\r\n";
}

QByteArray DownloadFixture()
{
    QByteArray file;
    for (int i = 1; i <= 77; ++i)
        file += PluLine(PriceText(i), "Item " + QByteArray::number(i), UnitText(i));
    return file;
}

QByteArray Be24(uint32_t v)
{
    const char b[3] = {char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 3);
}

QByteArray ConfigFor(int priceDot, const char* priceMax, int decimals)
{
    return "[default]\r\nPrice Dot=" + QByteArray::number(priceDot) + "\r\nPrice Max=" + priceMax +
           "\r\nprice length=" + (decimals ? "8" : "7") + "\r\nprice decimal=" + QByteArray::number(decimals) +
           "\r\n";
}

// ------------------------------------------------------------ download

struct DownloadCase {
    const char* name;
    QByteArray config;       // config.ini, empty: none (the default mode 3)
    const char* scaleMode;   // the scale's price mode byte before
    const char* modeAfter;   // ... and after
    int decimals;
};

class CliDownload : public Cli, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(CliDownload, WritesEveryPluAndThePriceMode)
{
    const DownloadCase& c = GetParam();
    if (!c.config.isEmpty())
        WriteFile(File("config.ini"), c.config);
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    auto sim = StartSim({"--demo", "--price-mode", c.scaleMode});

    // The frames of the download itself: no read-back after it.
    const Result r = Run({"download", File("PRICES.KYR"), "--port", sim->Path, "--no-verify"});
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_EQ(S(r.out), "Download PLU OK!\n");
    EXPECT_EQ(S(r.err), "") << "no progress output when stderr is no terminal";

    const Dump d = sim->Stop();
    EXPECT_EQ(S(Hex(d.priceMode)), c.modeAfter);
    for (int i = 1; i <= 77; ++i) {
        // Count of the last decimal, halves to even.
        const auto count = uint32_t(std::nearbyint(Hundredths(i) * std::pow(10.0, c.decimals) / 100));
        const char flag = UnitText(i) == "kg" ? 0 : 1;
        EXPECT_EQ(S(Hex(d.plu(i))), S(Hex(flag + Be24(count)))) << "PLU " << i;
    }
    // Connect, price mode read and write, sale figures, 77 PLUs, the saved
    // unit price, disconnect; one session.
    ASSERT_EQ(d.requests.size(), 84) << S(d.frames().join('\n'));
    EXPECT_EQ(S(d.frames().first()), "44");
    EXPECT_EQ(S(d.frames().last()), "33 00 00 00 00 CD");

    const QByteArray log = ReadFile(File("DEBUG.LOG"));
    EXPECT_TRUE(log.startsWith(">>>>>>Send data<<<<<<<<\r\n44 \r\n")) << S(log.left(80));
    EXPECT_TRUE(log.contains("33 00 00 00 00 CD \r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CliDownload,
    ::testing::Values(
        DownloadCase{"DefaultTwoDecimals", {}, "F0", "F3", 2},
        DownloadCase{"TwoDecimalsNo", ConfigFor(11, "99999.99", 2), "A2", "AB", 2},
        DownloadCase{"ThreeDecimals", ConfigFor(7, "9999.999", 3), "00", "07", 3},
        DownloadCase{"WholeNumbers", ConfigFor(0, "9999999", 0), "35", "30", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Cli, DownloadThenUploadGivesThePricesAndUnitsBack)
{
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    auto sim = StartSim({"--demo"});

    const Result down = Run({"download", File("PRICES.KYR"), "--port", sim->Path});
    ASSERT_EQ(down.status, 0) << S(down.err);
    const Result up = Run({"upload", File("BACK.KYR"), "--port", sim->Path});
    ASSERT_EQ(up.status, 0) << S(up.err);
    EXPECT_EQ(S(up.out), "Upload PLU OK!\n");

    QByteArray expected;
    for (int i = 1; i <= 77; ++i)
        expected += PluLine(i == 76 ? "0.00" : PriceText(i), "", UnitText(i));   // names stay in the program
    EXPECT_EQ(S(ReadFile(File("BACK.KYR"))), S(expected));
    sim->Stop();
}

// ------------------------------------------------------------ upload

struct UploadCase {
    const char* name;
    const char* scaleMode;
    int decimals;              // of the prices in the file
    const char* configDot;     // "Price Dot=..." line in config.ini; empty: no config.ini
};

class CliUpload : public Cli, public ::testing::WithParamInterface<UploadCase> {};

QByteArray PriceIn(const QByteArray& record, int decimals)
{
    const uint32_t count = (uint8_t(record[1]) << 16) | (uint8_t(record[2]) << 8) | uint8_t(record[3]);
    if (decimals == 0)
        return QByteArray::number(count);
    return QByteArray::number(count / std::pow(10.0, decimals), 'f', decimals);
}

TEST_P(CliUpload, SavesTheScalesTableInItsPriceMode)
{
    const UploadCase& c = GetParam();
    auto sim = StartSim({"--demo", "--price-mode", c.scaleMode});

    const Result r = Run({"upload", File("SCALE.KYR"), "--port", sim->Path});
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_EQ(S(r.out), "Upload PLU OK!\n");
    EXPECT_EQ(S(r.err), "");

    const Dump d = sim->Stop();
    QByteArray expected;
    for (int i = 1; i <= 77; ++i)
        expected += PluLine(PriceIn(d.plu(i), c.decimals), "", "kg");
    const QByteArray file = ReadFile(File("SCALE.KYR"));
    EXPECT_EQ(file.count("\r\n"), 77);
    EXPECT_EQ(S(file), S(expected));

    const QByteArray config = ReadFile(File("config.ini"));
    if (*c.configDot) {
        EXPECT_TRUE(config.contains(QByteArray(c.configDot) + "\r\n")) << S(config);
    } else {
        EXPECT_FALSE(QFile::exists(File("config.ini"))) << "a code outside the table saves nothing";
    }
    EXPECT_EQ(S(d.frames().last()), "33 00 00 00 00 CD");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CliUpload,
    ::testing::Values(UploadCase{"TwoDecimalsNo", "0B", 2, "Price Dot=11"},
                      UploadCase{"HighNibbleIgnored", "5B", 2, "Price Dot=11"},
                      UploadCase{"ThreeDecimals", "07", 3, "Price Dot=7"},
                      UploadCase{"WholeNumbers", "00", 0, "Price Dot=0"},
                      UploadCase{"UnknownCodeKeepsTheDefault", "02", 2, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A destination that cannot be written is refused before the link opens:
// no transfer whose table is then thrown away, no price mode taken over.
TEST_F(Cli, UploadDestinationIsCheckedBeforeTheTransfer)
{
    QDir(Home.path()).mkdir("FOLDER.KYR");
    const QByteArray fifo = QFile::encodeName(File("PIPE.KYR"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0666), 0);
    auto sim = StartSim({"--demo", "--price-mode", "07"});
    const struct {
        QString file;
        const char* reason;
    } cases[] = {
        {File("no-such-dir/SCALE.KYR"), "No such file or directory"},
        {File("FOLDER.KYR"), "Is a directory"},
        {File("PIPE.KYR"), "not a regular file"},
    };
    for (const auto& c : cases) {
        const Result r = Run({"upload", c.file, "--port", sim->Path}, 20000);
        EXPECT_EQ(r.status, 2) << S(c.file) << "\n" << S(r.err);
        EXPECT_EQ(S(r.out), "");
        EXPECT_EQ(S(r.err), S("Cannot create file " + c.file + "\n" + c.reason + "\n"));
    }
    EXPECT_FALSE(QFile::exists(File("config.ini"))) << "the scale's price mode was taken over";
    EXPECT_FALSE(QFile::exists(File("DEBUG.LOG"))) << "the link was opened";
    const Dump d = sim->Stop();
    EXPECT_TRUE(d.requests.isEmpty()) << S(d.frames().join('\n'));
}

// ------------------------------------------------------------ report

struct ReportCase {
    const char* name;
    const char* scaleMode;
    const char* line;
};

class CliReport : public Cli, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(CliReport, PrintsAndAppendsTheDaysLine)
{
    const ReportCase& c = GetParam();
    auto sim = StartSim({"--demo", "--price-mode", c.scaleMode});

    const QDate before = QDate::currentDate();
    const Result first = Run({"report", "--port", sim->Path});
    const Result second = Run({"report", "--port", sim->Path});
    if (QDate::currentDate() != before)
        GTEST_SKIP() << "the date changed during the test";

    for (const Result* r : {&first, &second}) {
        EXPECT_EQ(r->status, 0) << S(r->err);
        EXPECT_EQ(S(r->out), std::string(c.line) + "\n");
        EXPECT_EQ(S(r->err), "");
    }
    const QString report = File(before.toString("yyyyMMdd") + ".TXT");
    EXPECT_EQ(S(ReadFile(report)), std::string(c.line) + "\r\n" + c.line + "\r\n");

    const Dump d = sim->Stop();
    // Two sessions of connect, three reads and disconnect.
    EXPECT_EQ(d.requests.size(), 12) << S(d.frames().join('\n'));
    EXPECT_EQ(S(d.frames().value(5)), "33 00 00 00 00 CD");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CliReport,
    ::testing::Values(ReportCase{"TwoDecimals", "03", "1.50\t1.234kg\t1.85"},
                      ReportCase{"WholeNumbers", "00", "150\t1.234kg\t185"},
                      ReportCase{"ThreeDecimals", "F7", "0.150\t1.234kg\t0.185"}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ values

struct ValuesCase {
    const char* name;
    const char* fault;   // empty: none
    int status;
    const char* out;
    const char* err;
    int requests;        // 0x05 enquiries that reached the scale
};

class CliValues : public Cli, public ::testing::WithParamInterface<ValuesCase> {};

TEST_P(CliValues, PrintsTheReadoutOrItsError)
{
    const ValuesCase& c = GetParam();
    QStringList simArgs{"--demo"};
    if (*c.fault)
        simArgs << "--fault" << c.fault;
    auto sim = StartSim(simArgs);

    const Result r = Run({"values", "--port", sim->Path});
    EXPECT_EQ(r.status, c.status) << S(r.err);
    EXPECT_EQ(S(r.out), c.out);
    EXPECT_EQ(S(r.err), c.err);

    const Dump d = sim->Stop();
    EXPECT_EQ(S(d.frames().join(',')), S(QByteArrayList(c.requests, "05").join(',')))
        << "the enquiry alone, nothing to close";
    EXPECT_FALSE(QFile::exists(File(QDate::currentDate().toString("yyyyMMdd") + ".TXT")));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, CliValues,
    ::testing::Values(
        ValuesCase{"Values", "", 0, "1.234kg;1.50;1.85\n", "", 1},
        ValuesCase{"Unstable", "state:I@cmd=05", 0, "scale indication is unstable\n", "", 1},
        ValuesCase{"Lifted", "state:N@cmd=05", 0, "scale plate is lifted\n", "", 1},
        ValuesCase{"Overflow", "state:S@cmd=05", 0, "scale indication is in overflow\n", "", 1},
        ValuesCase{"ShortFrameIsNotRetried", "short@cmd=05", 1, "",
                   "Protocol...Error!\nthe scale's frame was shorter than 20 bytes\n", 1},
        ValuesCase{"NoAnswerAfterRetries", "aa@cmd=05,count=always", 1, "",
                   "Connect...Error!\nthe scale refused the request (0xAA)\n", 7}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ scale failures

// Every reason a request can fail for that a scale can cause, each reached
// by a fault of the simulated scale, ends with the fixed text and its cause.

struct FailureCase {
    const char* name;
    const char* command;
    const char* fault;
    const char* error;
    const char* cause;       // the second line
    int requests;            // all that reached the scale
    const char* retried;     // the frame the last 7 requests repeat; null: not retried
    int pluWritten = -1;     // download: the PLUs written before the failure
};

class CliFailure : public Cli, public ::testing::WithParamInterface<FailureCase> {};
const char* const Refused = "the scale refused the request (0xAA)";

TEST_P(CliFailure, EndsWithOneAndSendsNothingMore)
{
    const FailureCase& c = GetParam();
    const QByteArray previous = "an earlier table\r\n";
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    WriteFile(File("OLD.KYR"), previous);
    auto sim = StartSim({"--demo", "--fault", c.fault});

    QStringList args{c.command};
    if (QByteArray(c.command) == "download")
        args << File("PRICES.KYR");
    if (QByteArray(c.command) == "upload")
        args << File("OLD.KYR");
    const Result r = Run(args << "--port" << sim->Path);
    EXPECT_EQ(r.status, 1) << S(r.err);
    EXPECT_EQ(S(r.out), "");
    EXPECT_EQ(S(r.err), std::string(c.error) + "\n" + c.cause + "\n");

    const Dump d = sim->Stop();
    const QByteArrayList frames = d.frames();
    ASSERT_EQ(frames.size(), c.requests) << S(frames.join('\n'));
    for (qsizetype k = frames.size() - 7; c.retried && k < frames.size(); ++k)
        EXPECT_TRUE(frames[k].startsWith(c.retried)) << "request " << k + 1 << ": " << S(frames[k]);
    if (QByteArray(c.error) != "Disconnect...Error!") {
        EXPECT_FALSE(d.sawCommand(0x33)) << "no disconnect after a failure";
    }

    // The link was closed all the same; the failed session is in the trace.
    const QByteArray log = ReadFile(File("DEBUG.LOG"));
    EXPECT_EQ(log.contains("\r\nRetry:6\r\n"), c.retried != nullptr) << S(log.right(200));
    EXPECT_EQ(S(ReadFile(File("OLD.KYR"))), S(previous)) << "a failed upload saves nothing";
    EXPECT_FALSE(QFile::exists(File(QDate::currentDate().toString("yyyyMMdd") + ".TXT")));
    if (c.pluWritten >= 0) {
        // PLUs before the failing one are written, it and the rest are not.
        for (int i = 1; i <= c.pluWritten + 1; ++i)
            EXPECT_EQ(d.plu(i) == QByteArray(1, 0) + Be24(Hundredths(i)), i <= c.pluWritten) << "PLU " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CliFailure,
    ::testing::Values(
        FailureCase{"DownloadConnect", "download", "aa@cmd=44,count=always", "Connect...Error!", Refused, 7, "44"},
        FailureCase{"DownloadPlu4", "download", "aa@cmd=77,bank=F9,addr=00D0,count=always",
                    "Download PLU...Error!", "the scale refused the request (0xAA) at PLU M4", 15,
                    "77 F9 00 D0 04", 3},
        FailureCase{"DownloadPlu12Silent", "download", "silence@cmd=77,bank=F9,addr=00F0,count=always",
                    "Download PLU...Error!", "no reply from the scale after 7 attempts (800 ms each) at PLU U5", 23,
                    "77 F9 00 F0 04"},
        FailureCase{"DownloadHangUp", "download", "hangup@cmd=77,bank=F9,addr=00C8", "Download PLU...Error!",
                    "the line hung up at PLU M2", 7, nullptr},
        FailureCase{"UploadPlu1", "upload", "badsum@bank=F9,addr=00C4,count=always", "Upload PLU...Error!",
                    "the scale's reply failed its checksum at PLU M1", 11, "55 F9 00 C4 04"},
        FailureCase{"UploadNoEcho", "upload", "flip:20@bank=F9,addr=00C4,count=always", "Upload PLU...Error!",
                    "the scale's replies did not start with the request's header (02 55 F9 00 C4 04); a scale "
                    "whose replies never echo it cannot be read at PLU M1",
                    11, "55 F9 00 C4 04"},
        FailureCase{"ReportUnitRead", "report", "badsum@bank=F0,count=always", "Sale report...Error!",
                    "the scale's reply failed its checksum", 11, "55 F0 00 00 01"},
        FailureCase{"ReportDisconnect", "report", "aa@cmd=33,count=always", "Disconnect...Error!", Refused, 12,
                    "33 00 00 00 00"},
        // A device that never stops sending: every attempt meets a wrong
        // reply, and the command still ends.
        FailureCase{"DownloadFlood", "download", "flood@cmd=44", "Connect...Error!", "the scale gave a wrong reply",
                    8, "11 00 00 00 00"}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ usage, files, ports

// The parser's verdicts are unit-tested (test_cliargs.cpp); here they reach
// the streams and the exit status, and nothing runs after them: no window,
// no link, no file written.
TEST_F(Cli, UsageAndHelpEndBeforeAnythingRuns)
{
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    auto sim = StartSim({"--demo"});
    QProcessEnvironment window = ScriptEnvironment();
    window.insert("QT_QPA_PLATFORM", "offscreen");
    // QProcess passes text; the shell's printf makes the raw byte C9.
    const QString raw = "exec \"$1\" download \"$(printf 'PR\\311IX.KYR')\" --port \"$2\" --home \"$3\"";
    const struct {
        QString program;
        QStringList args;
        QProcessEnvironment env;
        int status;
        const char* err;       // stderr starts with it
        const char* out;       // stdout starts with it
    } cases[] = {
        {ManagerPath(), {"download", "--port", sim->Path, "--home", Home.path()}, ScriptEnvironment(), 2,
         "download needs a PLU file\nusage: varlo-manager {download FILE.KYR [--force] [--verify", ""},
        {ManagerPath(), {"export", File("PRICES.KYR"), "--port", sim->Path}, ScriptEnvironment(), 2,
         "--port is not used by export: it opens no port\nusage: varlo-manager export", ""},
        {"/bin/sh", {"-c", raw, "sh", ManagerPath(), sim->Path, Home.path()}, ScriptEnvironment(), 2,
         "\"PR%C9IX.KYR\" is not UTF-8 text\nusage: varlo-manager", ""},
        {ManagerPath(), {"--demo", "--home", Home.path(), "--demo-fault", ""}, window, 2,
         "--demo-fault needs a value\nusage: varlo-manager [--demo", ""},
        {ManagerPath(), {"report", "--help", "--port", sim->Path, "--home", Home.path()}, ScriptEnvironment(), 0, "",
         "usage: varlo-manager {download"},
    };
    for (const auto& c : cases) {
        const Result r = RunProgram(c.program, c.args, c.env, {}, 20000);
        const std::string what = S(c.args.join(' '));
        EXPECT_EQ(r.status, c.status) << what << "\n" << S(r.err);
        EXPECT_TRUE(r.err.startsWith(c.err) && (*c.err || r.err.isEmpty())) << what << "\n" << S(r.err);
        EXPECT_TRUE(r.out.startsWith(c.out) && (*c.out || r.out.isEmpty())) << what << "\n" << S(r.out);
    }
    EXPECT_EQ(S(QDir(Home.path()).entryList(QDir::Files).join('|')), "PRICES.KYR") << "no window, link or file";
    const Dump d = sim->Stop();
    EXPECT_TRUE(d.requests.isEmpty()) << S(d.frames().join('\n'));
}

// Every command ends by writing DEBUG.LOG into the program directory. One
// that is missing, a file, or not writable ends the command before the link
// opens, instead of after the scale has been written with default settings.
TEST_F(Cli, ProgramDirectoryThatCannotBeUsedEndsWithTwoBeforeTheLinkOpens)
{
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    WriteFile(File("plain-file"), "x");
    auto sim = StartSim({"--demo"});
    const QByteArray device = sim->Path.toLocal8Bit();

    // Root may write anywhere: the read-only case runs as "nobody", who
    // needs the way to the directory and the device.
    QTemporaryDir outer;
    ASSERT_TRUE(outer.isValid());
    const QString locked = outer.path() + "/locked";
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(::chmod(QFile::encodeName(outer.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    ASSERT_EQ(::chmod(device.constData(), 0666), 0);
    QStringList asNobody;
    if (::geteuid() == 0)
        asNobody = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", ManagerPath()};

    struct Case {
        QString program;
        QStringList args;
        QString home;          // the directory named in the message
        QString environmentHome;
        const char* reason;
    };
    const QString missing = Home.path() + "no-such-dir";
    const QList<Case> cases{
        {ManagerPath(), {"download", File("PRICES.KYR"), "--home", missing}, missing, {}, "No such file or directory"},
        {ManagerPath(), {"values", "--home", File("plain-file")}, File("plain-file"), {}, "Not a directory"},
        {ManagerPath(), {"report"}, missing, missing, "No such file or directory"},
        {asNobody.isEmpty() ? ManagerPath() : "setpriv", asNobody + QStringList{"values", "--home", locked},
         locked, {}, "Permission denied"},
    };
    for (const Case& c : cases) {
        QProcessEnvironment env = ScriptEnvironment();
        if (!c.environmentHome.isEmpty())
            env.insert("VARLO_HOME", c.environmentHome);
        const Result r = RunProgram(c.program, c.args + QStringList{"--port", sim->Path}, env, {}, 20000);
        const std::string what = S(c.args.join(' '));
        EXPECT_EQ(r.status, 2) << what << "\n" << S(r.err);
        EXPECT_EQ(S(r.out), "") << what;
        EXPECT_EQ(S(r.err), S("Cannot use the program directory " + c.home + "/\n" + c.reason + "\n")) << what;
    }
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_TRUE(QDir(locked).isEmpty());
    const Dump d = sim->Stop();
    EXPECT_TRUE(d.requests.isEmpty()) << S(d.frames().join('\n'));
}

// A code page that is no 8-bit text stands aside for Latin-1, with a word
// on stderr; the file keeps single-byte ASCII (no "k\0g\0").
TEST_F(Cli, CodePageThatIsNot8BitTextIsReplacedWithAWarning)
{
    auto sim = StartSim({"--demo"});
    for (const char* codePage : {"UTF-16", "no-such-code-page"}) {
        QProcessEnvironment env = ScriptEnvironment();
        env.insert("VARLO_CODEPAGE", codePage);
        const QString file = File(QString("SCALE-%1.KYR").arg(codePage));
        const Result r = RunProgram(ManagerPath(), {"upload", file, "--port", sim->Path, "--home", Home.path()}, env);
        EXPECT_EQ(r.status, 0) << codePage << "\n" << S(r.err);
        EXPECT_EQ(S(r.out), "Upload PLU OK!\n") << codePage;
        EXPECT_EQ(S(r.err), std::string("varlo-manager: code page \"") + codePage
                                + "\" is unknown or not 8-bit text; ISO-8859-1 is used instead\n");
        const QByteArray saved = ReadFile(file);
        EXPECT_EQ(saved.count("\r\n"), 77) << codePage;
        EXPECT_FALSE(saved.contains('\0')) << codePage;
        EXPECT_TRUE(saved.startsWith(PluLine("1.50", "", "kg"))) << codePage << "\n" << S(saved.left(60));
    }
    sim->Stop();
}

TEST_F(Cli, UnreadablePluFileEndsWithTwoBeforeTheLinkOpens)
{
    QDir(Home.path()).mkdir("FOLDER.KYR");
    auto sim = StartSim({"--demo"});
    for (const QString& file : {File("MISSING.KYR"), File("FOLDER.KYR")}) {
        const Result r = Run({"download", file, "--port", sim->Path});
        EXPECT_EQ(r.status, 2) << S(file) << "\n" << S(r.err);
        EXPECT_EQ(S(r.out), "");
        EXPECT_FALSE(r.err.isEmpty()) << S(file);
    }
    EXPECT_FALSE(QFile::exists(File("DEBUG.LOG")));
    const Dump d = sim->Stop();
    EXPECT_TRUE(d.requests.isEmpty()) << S(d.frames().join('\n'));
}

TEST_F(Cli, PortThatCannotBeOpenedEndsWithTwoAndNamesTheDevice)
{
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    // Through --port, and through the configured port's device entry.
    Result r = Run({"download", File("PRICES.KYR"), "--port", "/dev/varlo-none"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(S(r.out), "");
    EXPECT_TRUE(r.err.startsWith("Error opening serial port")) << S(r.err);
    EXPECT_TRUE(r.err.contains("/dev/varlo-none")) << S(r.err);

    WriteFile(File("KYR.CFG"), "[COMM]\r\nPort=9\r\nBaudRate=9600\r\n[Devices]\r\nCOM9=/dev/varlo-none-9\r\n");
    r = Run({"values"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.startsWith("Error opening serial port")) << S(r.err);
    EXPECT_TRUE(r.err.contains("/dev/varlo-none-9")) << S(r.err);
}

TEST_F(Cli, PortInUseEndsWithTwo)
{
    auto sim = StartSim({"--demo"});
    // Another program holds the port.
    const int fd = ::open(sim->Path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const Result r = Run({"report", "--port", sim->Path});
    ::close(fd);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.startsWith("Error opening serial port")) << S(r.err);
    EXPECT_TRUE(r.err.contains(sim->Path.toLocal8Bit())) << S(r.err);
    const Dump d = sim->Stop();
    EXPECT_TRUE(d.requests.isEmpty());
}

// The port from KYR.CFG, COMn through its [Devices] entry, and --port
// COMn overriding the configured number.
TEST_F(Cli, PortFromTheConfiguration)
{
    auto sim = StartSim({"--demo", "--baud", "2400"});
    const QByteArray dev = sim->Path.toLocal8Bit();
    WriteFile(File("KYR.CFG"),
              "[COMM]\r\nPort=5\r\nBaudRate=2400\r\n[Devices]\r\nCOM5=" + dev + "\r\nCOM6=/dev/varlo-none\r\n");
    Result r = Run({"values"});
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_EQ(S(r.out), "1.234kg;1.50;1.85\n");

    WriteFile(File("KYR.CFG"),
              "[COMM]\r\nPort=6\r\nBaudRate=9600\r\n[Devices]\r\nCOM5=" + dev + "\r\nCOM6=/dev/varlo-none\r\n");
    r = Run({"values", "--port", "COM5", "--baud", "2400"});
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_EQ(S(r.out), "1.234kg;1.50;1.85\n");
    const Dump d = sim->Stop();
    EXPECT_EQ(d.requests.size(), 2);
}

// ------------------------------------------------------------ progress on a terminal

TEST_F(Cli, ProgressBarOnlyWhenStderrIsATerminal)
{
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    auto sim = StartSim({"--demo"});

    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    struct Closer {
        int a, b;
        ~Closer() { ::close(a), ::close(b); }
    } closer{master, slave};
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, O_NONBLOCK);

    QProcess p;
    p.setProcessEnvironment(ScriptEnvironment());
    p.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
    p.start(ManagerPath(), {"download", File("PRICES.KYR"), "--port", sim->Path, "--home", Home.path()});
    ASSERT_TRUE(p.waitForStarted(10000));
    QByteArray tty;
    auto drain = [&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            tty.append(buf, n);
    };
    QDeadlineTimer deadline(60000);
    while (!p.waitForFinished(20) && !deadline.hasExpired())
        drain();
    drain();
    ASSERT_EQ(p.state(), QProcess::NotRunning) << "still running";
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(S(p.readAllStandardOutput()), "Download PLU OK!\n");
    EXPECT_TRUE(tty.contains("Connect...")) << S(tty);
    EXPECT_TRUE(tty.contains("Download PLU... [")) << S(tty);
    EXPECT_TRUE(tty.contains("] 77/77")) << S(tty);
    EXPECT_TRUE(tty.endsWith("\r\033[K")) << "the bar is cleared before the program ends: " << S(tty.right(60));
    EXPECT_FALSE(tty.contains('\n')) << "one line, redrawn in place";
    sim->Stop();
}

// ------------------------------------------------------------ SIGINT

struct InterruptCase {
    const char* name;
    const char* command;
    const char* fault;
    std::size_t waitingOn;   // the request that gets no answer
};

class CliInterrupt : public Cli, public ::testing::WithParamInterface<InterruptCase> {};

// The simulator runs in this process here, so that the test sees the
// unanswered request arrive and signals while the program waits for it.
TEST_P(CliInterrupt, SigintCancelsTheWaitAndSendsNothingMore)
{
    const InterruptCase& c = GetParam();
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    varlo::sim::ScaleSim sim;
    sim.loadDemoState();
    sim.addFault(c.fault);
    const QString path = QString::fromStdString(sim.start());

    QStringList args{c.command};
    if (QByteArray(c.command) == "download")
        args << File("PRICES.KYR");
    QProcess p;
    p.setProcessEnvironment(ScriptEnvironment());
    p.start(ManagerPath(), args << "--port" << path << "--home" << Home.path());
    ASSERT_TRUE(p.waitForStarted(10000));
    ASSERT_TRUE(sim.waitForRequests(c.waitingOn, 20s)) << "the request never came";

    const std::size_t requests = sim.requests().size();
    const std::uint64_t bytes = sim.bytesReceived();
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    ASSERT_EQ(::kill(pid_t(p.processId()), SIGINT), 0);
    ASSERT_TRUE(p.waitForFinished(20000));
    const qint64 took = sinceSignal.elapsed();

    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "the signal must not kill it";
    EXPECT_EQ(p.exitCode(), 130) << S(p.readAllStandardError());
    // The unanswered request would be retried after 0.8 s, six times.
    EXPECT_LT(took, 4000) << "ms from the signal to the end";
    EXPECT_EQ(S(p.readAllStandardOutput()), "");
    // Give anything still in flight the time to arrive.
    EXPECT_FALSE(sim.waitForRequests(requests + 1, 300ms)) << "a request after the interrupt";
    EXPECT_EQ(sim.requests().size(), requests);
    EXPECT_EQ(sim.bytesReceived(), bytes);
    for (const auto& r : sim.requests())
        EXPECT_NE(r.frame.front(), kyr::CmdDisconnect);
    EXPECT_TRUE(QFile::exists(File("DEBUG.LOG"))) << "the link is closed on the way out";
    sim.stop();
}

INSTANTIATE_TEST_SUITE_P(
    Waits, CliInterrupt,
    ::testing::Values(InterruptCase{"DownloadPriceModeRead", "download", "silence@n=3,count=always", 3},
                      InterruptCase{"ValuesEnquiry", "values", "silence@cmd=05,count=always", 1},
                      InterruptCase{"Flood", "download", "flood@cmd=44", 2}),
    [](const auto& info) { return std::string(info.param.name); });

// A background job of a script has SIGINT ignored; a Ctrl-C meant for
// the foreground must not cancel it.
TEST_F(Cli, AnIgnoredSigintStaysIgnored)
{
    varlo::sim::ScaleSim sim;
    sim.loadDemoState();
    sim.addFault("late:600@cmd=05,count=always");
    const QString path = QString::fromStdString(sim.start());

    QProcess p;
    p.setProcessEnvironment(ScriptEnvironment());
    p.setChildProcessModifier([] { ::signal(SIGINT, SIG_IGN); });
    p.start(ManagerPath(), {"values", "--port", path, "--home", Home.path()});
    ASSERT_TRUE(p.waitForStarted(10000));
    ASSERT_TRUE(sim.waitForRequests(1, 20s)) << "the enquiry never came";
    ASSERT_EQ(::kill(pid_t(p.processId()), SIGINT), 0);
    ASSERT_TRUE(p.waitForFinished(20000));

    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << S(p.readAllStandardError());
    EXPECT_FALSE(S(p.readAllStandardOutput()).empty()) << "the late reply is still read";
    sim.stop();
}

} // namespace

// ------------------------------------------------------------ language file

TEST_F(Cli, TheLanguageFileSpeaksForTheCommandLineToo)
{
    WriteFile(File("varlo-manager.LNG"),
              "[String]\r\nConnectError=Sin conexion\r\nstableError=\"inestable \"\r\n");
    auto sim = StartSim({"--demo", "--fault", "aa@cmd=05,count=always"});
    const Result failed = Run({"values", "--port", sim->Path});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(S(failed.err), "Sin conexion\nthe scale refused the request (0xAA)\n");
    sim->Stop();

    auto unstable = StartSim({"--demo", "--fault", "state:I@cmd=05"});
    const Result r = Run({"values", "--port", unstable->Path});
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_EQ(S(r.out), "inestable \n");
}

// ------------------------------------------------------------ files the download must not send unasked

// A file that is no price table, or has prices a load resets, is refused
// with the list on stderr, before the link opens; --force sends it as read.
TEST_F(Cli, DownloadRefusesBadFilesUnlessForced)
{
    QByteArray resetFile = DownloadFixture();
    resetFile.replace(PluLine(PriceText(1), "Item 1", "kg"), PluLine("-5", "Item 1", "kg"));
    resetFile.replace(PluLine(PriceText(9), "Item 9", "kg"), PluLine("1e300", "Item 9", "kg"));
    resetFile.replace(PluLine(PriceText(12), "Item 12", "kg"), PluLine("junk", "Item 12", "kg"));
    struct Case {
        const char* name;
        QByteArray file;
        QByteArray message;   // %1 is the file's path
    } const cases[] = {
        {"empty", "", "\"%1\" is not a PLU file: the file is empty.\n"},
        {"UTF-16", QByteArray("1\0\t\0A\0\r\0\n\0", 10),
         "\"%1\" is not a PLU file: it is UTF-16 text, not text in the code page UTF-8.\n"},
        {"reset prices", resetFile,
         "%1: 3 prices cannot be read and would be sent as 0:\n"
         "line 1 (M1): \"-5\" is below 0\n"
         "line 9 (U2): \"1e300\" is above the maximum 99999.99\n"
         "line 12 (U5): \"junk\" is not a number\n"},
    };
    auto sim = StartSim({"--demo"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(File("BAD.KYR"), c.file);
        const Result r = Run({"download", File("BAD.KYR"), "--port", sim->Path});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(S(r.out), "");
        const QByteArray path = File("BAD.KYR").toLocal8Bit();
        QByteArray expected = c.message;
        expected.replace("%1", c.name == std::string("reset prices") ? "\"" + path + "\"" : path);
        EXPECT_EQ(S(r.err), S(expected + "Nothing was sent; correct the file, or give --force to send it as read.\n"));
    }
    EXPECT_FALSE(QFile::exists(File("DEBUG.LOG"))) << "the link was never opened";

    // Forced: the reset rows go out as 0, the list stays on stderr.
    WriteFile(File("BAD.KYR"), resetFile);
    const Result r = Run({"download", File("BAD.KYR"), "--force", "--port", sim->Path, "--no-verify"});
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_EQ(S(r.out), "Download PLU OK!\n");
    EXPECT_TRUE(r.err.contains("3 prices cannot be read and are sent as 0:\nline 1 (M1)")) << S(r.err);
    EXPECT_FALSE(r.err.contains("Nothing was sent")) << S(r.err);

    const Dump d = sim->Stop();
    EXPECT_EQ(d.requests.size(), 84) << "one download: the forced one";
    for (int i : {1, 9, 12})
        EXPECT_EQ(S(Hex(d.plu(i))), "00 00 00 00") << "PLU " << i;
    EXPECT_EQ(S(Hex(d.plu(2))), S(Hex(QByteArray(1, 0) + Be24(1250))));
}

// Settings that contradict each other or are not understood: stderr says
// which, the command runs in the mode Price Dot names, nothing is rewritten.
TEST_F(Cli, SettingsProblemsAreNamedOnStderr)
{
    const QByteArray config = "[default]\r\nPrice Dot=0\r\nprice decimal=3\r\n";
    WriteFile(File("config.ini"), config);
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    auto sim = StartSim({"--demo", "--price-mode", "F3"});
    WriteFile(File("KYR.CFG"), "[COMM]\r\nPort=COM1\r\nBaudRate=fast\r\n[Devices]\r\nCOM1=" + sim->Path.toLocal8Bit() + "\r\n");

    const Result r = Run({"download", File("PRICES.KYR")});
    EXPECT_EQ(r.status, 0) << S(r.err);
    const QString expected =
        "The price settings in \"" + File("config.ini") + "\" do not form one price mode.\n"
        "Price Dot=0 needs:\n"
        "  Price Max=9999999 (not in the file)\n"
        "  price length=7 (not in the file)\n"
        "  price decimal=0 (the file has 3)\n"
        "Prices are handled in that mode; the file stays as it is until a price decimal mode is chosen.\n"
        + File("KYR.CFG") + " [COMM] BaudRate=fast is not understood (2400 or 9600 is expected); 9600bps is used.\n";
    EXPECT_EQ(S(r.err), S(expected));
    EXPECT_EQ(ReadFile(File("config.ini")), config);

    const Dump d = sim->Stop();
    EXPECT_EQ(S(Hex(d.priceMode)), "F0") << "Price Dot 0";
    EXPECT_EQ(S(Hex(d.plu(1))), S(Hex(QByteArray(1, 0) + Be24(12)))) << "12.34 in whole numbers";
}

// ------------------------------------------------------------ file commands

// export, import and reprice as a script runs them: exit status, output,
// and what is left in the files. The checks of each row are unit-tested in
// tests/workbook, the arguments in test_cliargs.cpp.
TEST(CliFiles, ExitStatusOutputAndFiles)
{
    auto table = [](QByteArray t, int lines) {
        for (int i = lines; i < 77; ++i)
            t += PluLine("0.00", "", "kg");
        return t;
    };
    const QByteArray plu = table(PluLine("12.50", "Apple", "kg") + PluLine("1.00", "Pear", "kg"), 2);
    struct Case {
        const char* what;
        QStringList args;
        QByteArray csv;          // written to in.csv first
        int status;
        const char* out;         // stdout starts with this
        const char* err;         // stderr contains this
        QByteArray pluAfter;     // a.KYR afterwards
    };
    const QList<Case> cases = {
        {"export to stdout", {"export", "a.KYR"}, {}, 0, "\xEF\xBB\xBFKey,Unit Price,Name,Unit\r\nM1,12.50,Apple,kg\r\n", "", plu},
        {"export to a file", {"export", "a.KYR", "out.csv", "--separator", ";"}, {}, 0, "", "", plu},
        {"a missing PLU file", {"export", "none.KYR"}, {}, 2, "", "none.KYR", plu},
        {"a bad row refuses the import", {"import", "in.csv", "a.KYR"}, "Key,Unit Price\nM1,3\nU1,-1\n", 2, "",
         "line 3, U1: the price is negative", plu},
        {"a good import", {"import", "in.csv", "a.KYR"}, "Key,Unit Price\nM1,3\nM2,1.0\n", 0, "1 row(s) changed.", "",
         table(PluLine("3.00", "Apple", "kg") + PluLine("1.00", "Pear", "kg"), 2)},
        {"reprice", {"reprice", "a.KYR", "--percent", "10", "--keys", "M2-U1"}, {}, 0, "M2   Pear", "",
         table(PluLine("12.50", "Apple", "kg") + PluLine("1.10", "Pear", "kg"), 2)},
        {"a refused reprice", {"reprice", "a.KYR", "--amount", "-5"}, {}, 2, "", "M2   Pear", plu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedHome home;
        home.write("a.KYR", plu);
        if (!c.csv.isEmpty())
            home.write("in.csv", c.csv);
        const Result r = RunManager(c.args, home.path());
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        EXPECT_TRUE(r.out.startsWith(c.out)) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
        EXPECT_EQ(home.read("a.KYR"), c.pluAfter);
        EXPECT_FALSE(QFile::exists(home.file("DEBUG.LOG")));   // no link was opened
    }
    ScopedHome home;
    home.write("in.csv", "Key;Unit Price;Name\nU70;2;Nut\n");
    EXPECT_EQ(RunManager({"import", "in.csv", "new.KYR"}, home.path()).status, 0);
    EXPECT_EQ(home.read("new.KYR"), table({}, 0).replace(76 * 27, 27, PluLine("2.00", "Nut", "kg")));
}

// ------------------------------------------------------------ compare, verify, backup

namespace {

// The demo scale's prices of M1, U1 and U2 (hundredths).
constexpr const char* DemoM1 = "1.50";
constexpr const char* DemoU1 = "6.75";
constexpr const char* DemoU2 = "3.20";

bool WritesOnlyTheUnitPrice(const Dump& d)
{
    for (const QByteArray& frame : d.requests)
        if (!frame.isEmpty() && uint8_t(frame[0]) == 0x77 && !Hex(frame).startsWith("77 F9 00 00 04"))
            return false;
    return true;
}

QStringList BackupFiles(const QString& home)
{
    return QDir(home + "backups").entryList({"*.KYR"}, QDir::Files, QDir::Name);
}

} // namespace

TEST_F(Cli, CompareNamesEachDifferenceAndEndsWithThree)
{
    auto sim = StartSim({"--demo"});
    ASSERT_FALSE(sim->Path.isEmpty());
    ASSERT_EQ(Run({"upload", File("SCALE.KYR"), "--port", sim->Path}).status, 0);

    const Result same = Run({"compare", File("SCALE.KYR"), "--port", sim->Path});
    EXPECT_EQ(same.status, 0) << S(same.err);
    EXPECT_EQ(S(same.out), "");
    EXPECT_EQ(S(same.err), "");

    QByteArray file = ReadFile(File("SCALE.KYR"));
    file.replace(0, 8, "   99.99");                           // M1's price
    QList<QByteArray> lines = file.split('\n');
    lines[7].replace("\tkg\r", "\tg\r");                       // U1's unit
    WriteFile(File("CHANGED.KYR"), lines.join('\n'));
    WriteFile(File("config.ini"), ConfigFor(11, "99999.99", 2));
    const Result r = Run({"compare", File("CHANGED.KYR"), "--port", sim->Path});
    EXPECT_EQ(r.status, 3) << S(r.err);
    EXPECT_EQ(S(r.out), std::string("mode\t11\t3\n") + "M1\t99.99 kg\t" + DemoM1 + " kg\n" + "U1\t" + DemoU1
                            + " g\t" + DemoU1 + " kg\n");
    EXPECT_EQ(S(r.err), "");
    EXPECT_EQ(ReadFile(File("config.ini")), ConfigFor(11, "99999.99", 2)) << "the scale's mode is not taken over";

    const Dump d = sim->Stop();
    EXPECT_TRUE(WritesOnlyTheUnitPrice(d));
    EXPECT_EQ(S(Hex(d.priceMode)), "03");
}

TEST_F(Cli, VerifyCatchesAWriteTheScaleAcknowledgedButDidNotKeep)
{
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    {
        auto sim = StartSim({"--demo"});
        ASSERT_FALSE(sim->Path.isEmpty());
        const Result r = Run({"download", File("PRICES.KYR"), "--port", sim->Path});
        EXPECT_EQ(r.status, 0) << S(r.err);
        EXPECT_EQ(S(r.out), "Download PLU OK!\n");
        const Dump d = sim->Stop();
        EXPECT_EQ(d.requests.size(), 84 + 78) << "read back by default";
        EXPECT_EQ(S(d.frames().last()), "33 00 00 00 00 CD");
    }
    auto sim = StartSim({"--demo", "--fault", "ackonly@addr=00E4"});   // U2
    ASSERT_FALSE(sim->Path.isEmpty());
    const Result r = Run({"download", File("PRICES.KYR"), "--port", sim->Path});
    EXPECT_EQ(r.status, 3) << S(r.err);
    EXPECT_EQ(S(r.out), "");
    EXPECT_EQ(S(r.err), std::string("Download PLU...Error!\nU2: sent 99.99, the scale holds ") + DemoU2 + "\n"
                            + "U2\t99.99 kg\t" + DemoU2 + " kg\n");
    const Dump d = sim->Stop();
    EXPECT_FALSE(d.sawCommand(0x33)) << "no disconnect after a failed verify";
}

TEST_F(Cli, BackupHoldsTheScalesTableBeforeTheFirstWrite)
{
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    // Every write refused: what the backup read is still the untouched scale.
    auto sim = StartSim({"--demo", "--fault", "aa@cmd=77,count=always"});
    ASSERT_FALSE(sim->Path.isEmpty());
    const Result r = Run({"download", File("PRICES.KYR"), "--port", sim->Path, "--backup"});
    EXPECT_EQ(r.status, 1);
    const QStringList backups = BackupFiles(Home.path());
    ASSERT_EQ(backups.size(), 1);
    EXPECT_TRUE(backups[0].endsWith("-mode3.KYR")) << S(backups[0]);
    const Dump refused = sim->Stop();
    // The same demo scale, untouched, read by an upload.
    auto untouched = StartSim({"--demo"});
    const Result up = Run({"upload", File("UP.KYR"), "--port", untouched->Path});
    ASSERT_EQ(up.status, 0) << S(up.err);
    const Dump fresh = untouched->Stop();
    for (int i = 1; i <= 77; ++i)
        EXPECT_EQ(refused.plu(i), fresh.plu(i)) << "the refused writes changed nothing";

    const QList<QByteArray> saved = ReadFile(File("backups/" + backups[0])).split('\n');
    const QList<QByteArray> uploaded = ReadFile(File("UP.KYR")).split('\n');
    ASSERT_EQ(saved.size(), 78);
    for (int i = 0; i < 77; ++i) {
        const QList<QByteArray> b = saved[i].split('\t'), u = uploaded[i].split('\t');
        ASSERT_EQ(b.size(), 3) << i;
        EXPECT_EQ(S(b[0]), S(u[0])) << "price of line " << i + 1;
        EXPECT_EQ(S(b[2]), S(u[2])) << "unit of line " << i + 1;
        EXPECT_EQ(S(b[1].trimmed()), "Item " + std::to_string(i + 1)) << "names from the table";
    }
}

TEST_F(Cli, ABackupThatCannotBeSavedStopsTheDownloadBeforeAnyWrite)
{
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    WriteFile(File("backups"), "a file where the folder should be\n");
    auto sim = StartSim({"--demo"});
    ASSERT_FALSE(sim->Path.isEmpty());
    const Result r = Run({"download", File("PRICES.KYR"), "--port", sim->Path, "--backup"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.startsWith("Download PLU...Error!\nthe backup could not be saved: Cannot make the backup folder "))
        << S(r.err);
    const Dump d = sim->Stop();
    EXPECT_FALSE(d.sawCommand(0x77)) << "nothing written to the scale";
}

TEST_F(Cli, TheNewestHundredBackupsAreKept)
{
    WriteFile(File("PRICES.KYR"), DownloadFixture());
    QDir().mkpath(File("backups"));
    for (int k = 0; k < 100; ++k)
        WriteFile(File(QStringLiteral("backups/20000101-00%1%2-mode3.KYR")
                           .arg(k / 60, 2, 10, QChar('0')).arg(k % 60, 2, 10, QChar('0'))), "old\r\n");
    auto sim = StartSim({"--demo"});
    ASSERT_FALSE(sim->Path.isEmpty());
    const Result r = Run({"download", File("PRICES.KYR"), "--port", sim->Path, "--backup", "--no-verify"});
    EXPECT_EQ(r.status, 0) << S(r.err);
    const QStringList backups = BackupFiles(Home.path());
    EXPECT_EQ(backups.size(), 100);
    EXPECT_FALSE(backups.contains("20000101-000000-mode3.KYR"));
    EXPECT_TRUE(backups.contains("20000101-000001-mode3.KYR"));
    EXPECT_FALSE(backups.last().startsWith("2000")) << "the new one";
    const Dump d = sim->Stop();
    EXPECT_EQ(d.requests.size(), 84 + 78) << "backup read, then the download";
}

TEST_F(Cli, DownloadOfABackupTakesOverTheModeOfItsName)
{
    QDir().mkpath(File("backups"));
    WriteFile(File("backups/20240305-140709-mode7.KYR"), PluLine("1.234", "Apple", "kg"));
    auto sim = StartSim({"--demo", "--price-mode", "A3"});
    ASSERT_FALSE(sim->Path.isEmpty());
    const Result r = Run({"download", File("backups/20240305-140709-mode7.KYR"), "--port", sim->Path});
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_TRUE(ReadFile(File("config.ini")).contains("Price Dot=7\r\n"));
    const Dump d = sim->Stop();
    EXPECT_EQ(S(Hex(d.priceMode)), "A7");
    EXPECT_EQ(S(Hex(d.plu(1))), "00 00 04 D2");
}

TEST_F(Cli, SafetyOptionsBelongToDownload)
{
    for (const char* option : {"--verify", "--no-verify", "--backup"}) {
        const Result r = Run({"upload", File("X.KYR"), option});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.startsWith("--verify, --no-verify and --backup belong to download\nusage:")) << S(r.err);
    }
}
