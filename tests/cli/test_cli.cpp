// varlo-manager as a shop's script runs it: exit status, stdout, stderr and
// the files in the program directory, against the simulated scale on a
// pseudo-terminal, which tells what reached it. What only the parser
// decides is unit-tested in test_cliargs.cpp.
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
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

QByteArray Hex(const QByteArray& bytes) { return bytes.toHex(' ').toUpper(); }
QByteArray Be24(uint32_t v) { return QByteArray{} + char(v >> 16) + char(v >> 8) + char(v); }

// The simulated scale in this process with the demo's table, in price mode
// `mode`, with the fault rules `faults`; its device is `Path`.
struct Scale : varlo::sim::ScaleSim {
    explicit Scale(uint8_t mode = 0x03, const QStringList& faults = {}, unsigned baud = 0)
        : ScaleSim(Options(mode, baud))
    {
        loadDemoState();
        for (const QString& f : faults)
            addFault(f.toStdString());
        Path = QString::fromStdString(start());
    }
    static varlo::sim::Options Options(uint8_t mode, unsigned baud)
    {
        varlo::sim::Options o;
        o.priceMode = mode;
        o.baud = baud;
        return o;
    }
    QByteArrayList frames() const
    {
        QByteArrayList out;
        for (const auto& r : requests())
            out << Hex(QByteArray(reinterpret_cast<const char*>(r.frame.data()), qsizetype(r.frame.size())));
        return out;
    }
    std::string log() const { return S(frames().join('\n')); }
    std::string modeHex() const { return S(Hex(QByteArray(1, char(priceMode())))); }
    std::string pluHex(int i) const { return S(Hex(char(plu(i).unitFlag) + Be24(plu(i).price))); }
    bool saw(uint8_t command) const
    {
        for (const auto& r : requests())
            if (!r.frame.empty() && r.frame[0] == command)
                return true;
        return false;
    }
    QString Path;
};

void ExpectRun(const Result& r, int status, const std::string& out, const std::string& err)
{
    EXPECT_EQ(r.status, status) << S(r.err);
    EXPECT_EQ(S(r.out), out);
    EXPECT_EQ(S(r.err), err);
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QFile::exists(ManagerPath())) << S(ManagerPath()) << " (VARLO_BUILD_DIR?)"; }
    Result Run(const QStringList& args, int limitMs = 60000) { return RunManager(args, Home.path(), limitMs); }
    QString File(const QString& name) const { return Home.file(name); }
    ScopedHome Home;
};

// The download fixture: PLU i costs Hundredths(i); row 76 is blank, rows 2
// and 3 are halves for the whole-number mode, every tenth row sells by g.
int Hundredths(int i) { return i == 1 ? 1234 : i == 2 ? 1250 : i == 3 ? 1350 : i == 76 ? 0 : i * 1111 % 1000000; }
QByteArray PriceText(int i)
{
    return i == 76 ? QByteArray()
                   : QByteArray::number(Hundredths(i) / 100) + '.'
            + QByteArray::number(Hundredths(i) % 100).rightJustified(2, '0');
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
// M1, U2 and U5 have prices that a load resets to 0.
QByteArray ResetPricesFile()
{
    QByteArray file = DownloadFixture();
    for (const auto& [i, price] : {std::pair{1, "-5"}, {9, "1e300"}, {12, "junk"}})
        file.replace(PluLine(PriceText(i), "Item " + QByteArray::number(i), "kg"),
                     PluLine(price, "Item " + QByteArray::number(i), "kg"));
    return file;
}
QByteArray ConfigFor(int priceDot, const char* priceMax, int decimals)
{
    return "[default]\r\nPrice Dot=" + QByteArray::number(priceDot) + "\r\nPrice Max=" + priceMax
        + "\r\nprice length=" + (decimals ? "8" : "7") + "\r\nprice decimal=" + QByteArray::number(decimals) + "\r\n";
}
std::string Name(const auto& info) { return info.param.name; }

// ------------------------------------------------------------ download, upload, report, values

struct ModeCase {
    const char* name;
    QByteArray config;       // config.ini, empty: none (the default mode 3)
    uint8_t scaleMode, modeAfter;
    int decimals;
    const char* reportLine;
};
class CliCommands : public Cli, public ::testing::WithParamInterface<ModeCase> {};

// A download in the mode config.ini names, an upload of what it wrote and a
// sale report, each a session of its own in the mode the download set.
TEST_P(CliCommands, DownloadUploadAndReportInThePriceMode)
{
    const ModeCase& c = GetParam();
    if (!c.config.isEmpty())
        Home.write("config.ini", c.config);
    Home.write("PRICES.KYR", DownloadFixture());
    Scale scale(c.scaleMode);
    // No read-back after the download; no progress output when stderr is
    // no terminal.
    ExpectRun(Run({"download", File("PRICES.KYR"), "--port", scale.Path, "--no-verify"}), 0, "Download PLU OK!\n", "");
    const QByteArray log = Home.read("DEBUG.LOG");
    EXPECT_TRUE(log.startsWith(">>>>>>Send data<<<<<<<<\r\n44 \r\n")) << S(log.left(80));
    EXPECT_TRUE(log.contains("33 00 00 00 00 CD \r\n"));
    ExpectRun(Run({"upload", File("BACK.KYR"), "--port", scale.Path}), 0, "Upload PLU OK!\n", "");
    const QDate day = QDate::currentDate();
    ExpectRun(Run({"report", "--port", scale.Path}), 0, std::string(c.reportLine) + "\n", "");
    if (QDate::currentDate() == day) {
        EXPECT_EQ(S(Home.read(day.toString("yyyyMMdd") + ".TXT")), std::string(c.reportLine) + "\r\n");
    }

    scale.stop();
    EXPECT_EQ(int(scale.priceMode()), int(c.modeAfter));
    QByteArray back;
    for (int i = 1; i <= 77; ++i) {
        // Count of the last decimal, halves to even.
        const auto count = uint32_t(std::nearbyint(Hundredths(i) * std::pow(10.0, c.decimals) / 100));
        EXPECT_EQ(scale.pluHex(i), S(Hex(char(UnitText(i) == "g") + Be24(count)))) << "PLU " << i;
        // The names stay in the program.
        back += PluLine(QByteArray::number(count / std::pow(10.0, c.decimals), 'f', c.decimals), "", UnitText(i));
    }
    EXPECT_EQ(S(Home.read("BACK.KYR")), S(back));
    const QByteArray priceDot = "Price Dot=" + QByteArray::number(c.modeAfter & 0x0F) + "\r\n";
    EXPECT_TRUE(Home.read("config.ini").contains(priceDot)) << S(Home.read("config.ini"));
    // Download: connect, price mode read and write, sale figures, 77 PLUs,
    // the saved unit price, disconnect. Upload: 83 requests. Report: 6.
    const QByteArrayList frames = scale.frames();
    ASSERT_EQ(frames.size(), 84 + 83 + 6) << scale.log();
    for (const qsizetype first : {0, 84, 167})
        EXPECT_EQ(S(frames[first]), "44") << "request " << first + 1;
    for (const qsizetype last : {83, 166, 172})
        EXPECT_EQ(S(frames[last]), "33 00 00 00 00 CD") << "request " << last + 1;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CliCommands,
    ::testing::Values(ModeCase{"DefaultTwoDecimals", {}, 0xF0, 0xF3, 2, "1.50\t1.234kg\t1.85"},
                      ModeCase{"TwoDecimalsNo", ConfigFor(11, "99999.99", 2), 0xA2, 0xAB, 2, "1.50\t1.234kg\t1.85"},
                      ModeCase{"ThreeDecimals", ConfigFor(7, "9999.999", 3), 0x00, 0x07, 3, "0.150\t1.234kg\t0.185"},
                      ModeCase{"WholeNumbers", ConfigFor(0, "9999999", 0), 0x35, 0x30, 0, "150\t1.234kg\t185"}),
    [](const auto& info) { return Name(info); });

struct ValuesCase {
    const char* name;
    const char* fault;   // empty: none
    int status;
    const char *out, *err;
    int requests;        // 0x05 enquiries that reached the scale
    const char* language = nullptr;   // varlo-manager.LNG; null: none
};
const char Spanish[] = "[String]\r\nConnectError=Sin conexion\r\nstableError=\"inestable \"\r\n";
class CliValues : public Cli, public ::testing::WithParamInterface<ValuesCase> {};

TEST_P(CliValues, PrintsTheReadoutOrItsError)
{
    const ValuesCase& c = GetParam();
    if (c.language)
        Home.write("varlo-manager.LNG", c.language);
    Scale scale(0x03, *c.fault ? QStringList{c.fault} : QStringList{});
    ExpectRun(Run({"values", "--port", scale.Path}), c.status, c.out, c.err);
    scale.stop();
    EXPECT_EQ(S(scale.frames().join(',')), S(QByteArrayList(c.requests, "05").join(',')))
        << "the enquiry alone, nothing to close";
    EXPECT_FALSE(QFile::exists(File(QDate::currentDate().toString("yyyyMMdd") + ".TXT")));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, CliValues,
    ::testing::Values(ValuesCase{"Values", "", 0, "1.234kg;1.50;1.85\n", "", 1},
                      ValuesCase{"Unstable", "state:I@cmd=05", 0, "scale indication is unstable\n", "", 1},
                      ValuesCase{"Lifted", "state:N@cmd=05", 0, "scale plate is lifted\n", "", 1},
                      ValuesCase{"Overflow", "state:S@cmd=05", 0, "scale indication is in overflow\n", "", 1},
                      ValuesCase{"ShortFrameIsNotRetried", "short@cmd=05", 1, "",
                                 "Protocol...Error!\nthe scale's frame was shorter than 20 bytes\n", 1},
                      ValuesCase{"NoAnswerAfterRetries", "aa@cmd=05,count=always", 1, "",
                                 "Connect...Error!\nthe scale refused the request (0xAA)\n", 7},
                      // The language file speaks for the command line too.
                      ValuesCase{"LanguageFileError", "aa@cmd=05,count=always", 1, "",
                                 "Sin conexion\nthe scale refused the request (0xAA)\n", 7, Spanish},
                      ValuesCase{"LanguageFileState", "state:I@cmd=05", 0, "inestable \n", "", 1, Spanish}),
    [](const auto& info) { return Name(info); });

// ------------------------------------------------------------ scale failures

// Every reason a request can fail for that a scale can cause, each reached
// by a fault of the simulated scale, ends with the fixed text and its cause.
struct FailureCase {
    const char *name, *command, *fault, *error;
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
    Home.write("PRICES.KYR", DownloadFixture());
    Home.write("OLD.KYR", previous);
    Scale scale(0x03, {c.fault});
    const QByteArray command = c.command;
    QStringList args{c.command};
    if (command == "download" || command == "upload")
        args << File(command == "download" ? "PRICES.KYR" : "OLD.KYR");
    ExpectRun(Run(args << "--port" << scale.Path), 1, "", std::string(c.error) + "\n" + c.cause + "\n");

    scale.stop();
    const QByteArrayList frames = scale.frames();
    ASSERT_EQ(frames.size(), c.requests) << scale.log();
    for (qsizetype k = frames.size() - 7; c.retried && k < frames.size(); ++k)
        EXPECT_TRUE(frames[k].startsWith(c.retried)) << "request " << k + 1 << ": " << S(frames[k]);
    EXPECT_TRUE(QByteArray(c.error) == "Disconnect...Error!" || !scale.saw(0x33)) << "no disconnect after a failure";
    // The link was closed all the same; the failed session is in the trace.
    const QByteArray log = Home.read("DEBUG.LOG");
    EXPECT_EQ(log.contains("\r\nRetry:6\r\n"), c.retried != nullptr) << S(log.right(200));
    EXPECT_EQ(S(Home.read("OLD.KYR")), S(previous)) << "a failed upload saves nothing";
    EXPECT_FALSE(QFile::exists(File(QDate::currentDate().toString("yyyyMMdd") + ".TXT")));
    // PLUs before the failing one are written, it and the rest are not.
    for (int i = 1; i <= c.pluWritten + 1; ++i)
        EXPECT_EQ(scale.pluHex(i) == S(Hex(QByteArray(1, 0) + Be24(Hundredths(i)))), i <= c.pluWritten) << "PLU " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CliFailure,
    ::testing::Values(
        FailureCase{"DownloadConnect", "download", "aa@cmd=44,count=always", "Connect...Error!", Refused, 7, "44"},
        FailureCase{"DownloadPlu4", "download", "aa@cmd=77,bank=F9,addr=00D0,count=always", "Download PLU...Error!",
                    "the scale refused the request (0xAA) at PLU M4", 15, "77 F9 00 D0 04", 3},
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
        FailureCase{"DownloadFlood", "download", "flood@cmd=44", "Connect...Error!", "the scale gave a wrong reply", 8,
                    "11 00 00 00 00"}),
    [](const auto& info) { return Name(info); });

// ------------------------------------------------------------ unreadable prices, settings problems

const char NothingSent[] = "Nothing was sent; correct the file, or give --force to send it as read.\n";

// Settings that contradict each other or are not understood: stderr says
// which, the command runs in the mode Price Dot names, nothing is rewritten.
// Forced: the rows a load resets go out as 0, the list stays on stderr.
TEST_F(Cli, ForcedDownloadUnderSettingsProblemsNamesBothOnStderr)
{
    const QByteArray config = "[default]\r\nPrice Dot=0\r\nprice decimal=3\r\n";
    Home.write("config.ini", config);
    Home.write("BAD.KYR", ResetPricesFile());
    Scale scale(0xF3);
    Home.write("KYR.CFG", "[COMM]\r\nPort=COM1\r\nBaudRate=fast\r\n[Devices]\r\nCOM1=" + scale.Path.toLocal8Bit() + "\r\n");
    const Result r = Run({"download", File("BAD.KYR"), "--force", "--no-verify"});
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_EQ(S(r.out), "Download PLU OK!\n");
    EXPECT_EQ(S(r.err), S("The price settings in \"" + File("config.ini") + "\" do not form one price mode.\n"
                          "Price Dot=0 needs:\n"
                          "  Price Max=9999999 (not in the file)\n"
                          "  price length=7 (not in the file)\n"
                          "  price decimal=0 (the file has 3)\n"
                          "Prices are handled in that mode; the file stays as it is until a price decimal mode is "
                          "chosen.\n" + File("KYR.CFG")
                          + " [COMM] BaudRate=fast is not understood (2400 or 9600 is expected); 9600bps is used.\n\""
                          + File("BAD.KYR") + "\": 3 prices cannot be read and are sent as 0:\n"
                          "line 1 (M1): \"-5\" is below 0\n"
                          "line 9 (U2): \"1e300\" is above the maximum 9999999\n"
                          "line 12 (U5): \"junk\" is not a number\n"));
    EXPECT_EQ(Home.read("config.ini"), config);
    scale.stop();
    EXPECT_EQ(scale.requests().size(), 84u);
    EXPECT_EQ(scale.modeHex(), "F0") << "Price Dot 0";
    for (int i : {1, 9, 12})
        EXPECT_EQ(scale.pluHex(i), "00 00 00 00") << "PLU " << i;
    EXPECT_EQ(scale.pluHex(2), S(Hex(QByteArray(1, 0) + Be24(12)))) << "12.50 in whole numbers, halves to even";
}

// ------------------------------------------------------------ ended before the link opens, code page, ports

// Each way a command ends with exit status 2 and its reason (0 and the usage
// for --help) before the link opens, and nothing runs after it: no window,
// no transfer whose table is then thrown away, no price mode taken over, no
// file written. A file that cannot be read or written; a PLU file the
// download must not send unasked; a port that cannot be opened; the parser's
// verdicts; a program directory that is missing, a file or not writable
// (every command ends by writing DEBUG.LOG there: it must be usable before
// the scale is written with default settings).
TEST_F(Cli, EndsBeforeTheLinkOpens)
{
    QDir(Home.path()).mkdir("FOLDER.KYR");
    ASSERT_EQ(::mkfifo(QFile::encodeName(File("PIPE.KYR")).constData(), 0666), 0);
    Home.write("EMPTY.KYR", "");
    Home.write("UTF16.KYR", QByteArray("1\0\t\0A\0\r\0\n\0", 10));
    Home.write("RESET.KYR", ResetPricesFile());
    Home.write("PRICES.KYR", DownloadFixture());
    Home.write("KYR.CFG", "[COMM]\r\nPort=9\r\nBaudRate=9600\r\n[Devices]\r\nCOM9=/dev/varlo-none-9\r\n");
    Home.write("plain-file", "x");
    Scale scale(0x07);
    // Root may write anywhere: the read-only case runs as "nobody", who
    // needs the way to the directory and the device.
    QTemporaryDir outer;
    const QString locked = outer.path() + "/locked";
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(::chmod(QFile::encodeName(outer.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    ASSERT_EQ(::chmod(scale.Path.toLocal8Bit().constData(), 0666), 0);
    QStringList asNobody;
    if (::geteuid() == 0)
        asNobody = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", ManagerPath()};
    const QString missing = Home.path() + "no-such-dir";
    const QProcessEnvironment script = ScriptEnvironment();
    QProcessEnvironment window = script, homeless = script;
    window.insert("QT_QPA_PLATFORM", "offscreen");
    homeless.insert("VARLO_HOME", missing);
    auto cannotUse = [](const QString& dir, const char* reason) {
        return "Cannot use the program directory " + dir + "/\n" + reason + "\n";
    };
    // QProcess passes text; the shell's printf makes the raw byte C9.
    const QString raw = "exec \"$1\" download \"$(printf 'PR\\311IX.KYR')\" --port \"$2\" --home \"$3\"";
    const QString manager = ManagerPath(), home = Home.path(), port = scale.Path;
    const struct {
        QString program;
        QStringList args;
        QString err;             // stderr to the letter; with `has` or `start`, its start
        QString has = {};        // and stderr contains this
        bool start = false;
        int status = 2;
        const char* out = "";    // stdout starts with this
        QProcessEnvironment env = ScriptEnvironment();
        bool busy = false;       // another program holds the scale's port
    } cases[] = {
        {manager, {"upload", home + "no-such-dir/SCALE.KYR", "--port", port, "--home", home},
         "Cannot create file " + home + "no-such-dir/SCALE.KYR\nNo such file or directory\n"},
        {manager, {"upload", home + "FOLDER.KYR", "--port", port, "--home", home},
         "Cannot create file " + home + "FOLDER.KYR\nIs a directory\n"},
        {manager, {"upload", home + "PIPE.KYR", "--port", port, "--home", home},
         "Cannot create file " + home + "PIPE.KYR\nnot a regular file\n"},
        {manager, {"download", home + "MISSING.KYR", "--port", port, "--home", home},
         "Cannot open file \"" + home + "MISSING.KYR\".\nNo such file or directory\n"},
        {manager, {"download", home + "FOLDER.KYR", "--port", port, "--home", home},
         "Cannot open file \"" + home + "FOLDER.KYR\".\nfile to open is a directory\n"},
        {manager, {"download", home + "EMPTY.KYR", "--port", port, "--home", home},
         "\"" + home + "EMPTY.KYR\" is not a PLU file: the file is empty.\n" + NothingSent},
        {manager, {"download", home + "UTF16.KYR", "--port", port, "--home", home},
         "\"" + home + "UTF16.KYR\" is not a PLU file: it is UTF-16 text, not text in the code page UTF-8.\n"
             + NothingSent},
        {manager, {"download", home + "RESET.KYR", "--port", port, "--home", home},
         "\"" + home + "RESET.KYR\": 3 prices cannot be read and would be sent as 0:\n"
                       "line 1 (M1): \"-5\" is below 0\n"
                       "line 9 (U2): \"1e300\" is above the maximum 99999.99\n"
                       "line 12 (U5): \"junk\" is not a number\n" + NothingSent},
        {manager, {"download", home + "PRICES.KYR", "--port", "/dev/varlo-none", "--home", home},
         "Error opening serial port\n", "/dev/varlo-none"},
        {manager, {"values", "--home", home}, "Error opening serial port\n", "/dev/varlo-none-9"},   // KYR.CFG's COM9
        {manager, {"report", "--port", port, "--home", home}, "Error opening serial port\n", port, false, 2,
         "", script, true},
        {manager, {"download", "--port", port, "--home", home},
         "download needs a PLU file\nusage: varlo-manager {download FILE.KYR [--force] [--verify", "", true},
        {manager, {"upload", home + "X.KYR", "--backup", "--home", home},
         "--verify, --no-verify and --backup belong to download\nusage:", "", true},
        {manager, {"export", home + "PRICES.KYR", "--port", port},
         "--port is not used by export: it opens no port\nusage: varlo-manager export", "", true},
        {"/bin/sh", {"-c", raw, "sh", manager, port, home}, "\"PR%C9IX.KYR\" is not UTF-8 text\nusage: varlo-manager",
         "", true},
        {manager, {"--demo", "--home", home, "--demo-fault", ""}, "--demo-fault needs a value\nusage: varlo-manager [--demo",
         "", true, 2, "", window},
        {manager, {"report", "--help", "--port", port, "--home", home}, "", "", false, 0, "usage: varlo-manager {download"},
        {manager, {"download", home + "PRICES.KYR", "--home", missing, "--port", port},
         cannotUse(missing, "No such file or directory")},
        {manager, {"values", "--home", home + "plain-file", "--port", port}, cannotUse(home + "plain-file", "Not a directory")},
        {manager, {"report", "--port", port}, cannotUse(missing, "No such file or directory"), "", false, 2, "", homeless},
        {asNobody.isEmpty() ? manager : "setpriv", asNobody + QStringList{"values", "--home", locked, "--port", port},
         cannotUse(locked, "Permission denied")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(S(c.args.join(' ')));
        const int fd = c.busy ? ::open(scale.Path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
        ASSERT_TRUE(!c.busy || ::flock(fd, LOCK_EX | LOCK_NB) == 0);
        const Result r = RunProgram(c.program, c.args, c.env, {}, 20000);
        if (fd >= 0)
            ::close(fd);
        EXPECT_EQ(r.status, c.status) << S(r.err);
        const bool whole = c.has.isEmpty() && !c.start;
        EXPECT_EQ(S(whole ? r.err : r.err.left(c.err.toLocal8Bit().size())), S(c.err));
        EXPECT_TRUE(r.err.contains(c.has.toLocal8Bit())) << S(r.err);
        EXPECT_TRUE(r.out.startsWith(c.out) && (*c.out || r.out.isEmpty())) << S(r.out);
    }
    EXPECT_EQ(S(QDir(Home.path()).entryList(QDir::Files).join('|')),
              "EMPTY.KYR|KYR.CFG|plain-file|PRICES.KYR|RESET.KYR|UTF16.KYR") << "no window, link or file";
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_TRUE(QDir(locked).isEmpty());
    scale.stop();
    EXPECT_TRUE(scale.requests().empty()) << scale.log();
}

// A code page that is no 8-bit text stands aside for Latin-1, with a word
// on stderr; the file keeps single-byte ASCII (no "k\0g\0").
TEST_F(Cli, CodePageThatIsNot8BitTextIsReplacedWithAWarning)
{
    Scale scale;
    for (const char* codePage : {"UTF-16", "no-such-code-page"}) {
        SCOPED_TRACE(codePage);
        QProcessEnvironment env = ScriptEnvironment();
        env.insert("VARLO_CODEPAGE", codePage);
        const QString file = File(QString("SCALE-%1.KYR").arg(codePage));
        ExpectRun(RunProgram(ManagerPath(), {"upload", file, "--port", scale.Path, "--home", Home.path()}, env), 0,
                  "Upload PLU OK!\n",
                  std::string("varlo-manager: code page \"") + codePage
                      + "\" is unknown or not 8-bit text; ISO-8859-1 is used instead\n");
        const QByteArray saved = ReadFile(file);
        EXPECT_EQ(saved.count("\r\n"), 77);
        EXPECT_FALSE(saved.contains('\0'));
        EXPECT_TRUE(saved.startsWith(PluLine("1.50", "", "kg"))) << S(saved.left(60));
    }
}

// The port from KYR.CFG, COMn through its [Devices] entry, and --port
// COMn overriding the configured number.
TEST_F(Cli, PortFromTheConfiguration)
{
    Scale scale(0x03, {}, 2400);
    const QByteArray devices = "[Devices]\r\nCOM5=" + scale.Path.toLocal8Bit() + "\r\nCOM6=/dev/varlo-none\r\n";
    Home.write("KYR.CFG", "[COMM]\r\nPort=5\r\nBaudRate=2400\r\n" + devices);
    ExpectRun(Run({"values"}), 0, "1.234kg;1.50;1.85\n", "");
    Home.write("KYR.CFG", "[COMM]\r\nPort=6\r\nBaudRate=9600\r\n" + devices);
    ExpectRun(Run({"values", "--port", "COM5", "--baud", "2400"}), 0, "1.234kg;1.50;1.85\n", "");
    scale.stop();
    EXPECT_EQ(scale.requests().size(), 2u);
}

// ------------------------------------------------------------ progress and SIGINT

TEST_F(Cli, ProgressBarOnlyWhenStderrIsATerminal)
{
    Home.write("PRICES.KYR", DownloadFixture());
    Scale scale;
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
    p.start(ManagerPath(), {"download", File("PRICES.KYR"), "--port", scale.Path, "--home", Home.path()});
    ASSERT_TRUE(p.waitForStarted(10000));
    QByteArray tty;
    char buf[4096];
    for (QDeadlineTimer deadline(60000); !deadline.hasExpired();) {
        const bool ended = p.waitForFinished(20);
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            tty.append(buf, n);
        if (ended)
            break;
    }
    ASSERT_EQ(p.state(), QProcess::NotRunning) << "still running";
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(S(p.readAllStandardOutput()), "Download PLU OK!\n");
    for (const char* part : {"Connect...", "Download PLU... [", "] 77/77"})
        EXPECT_TRUE(tty.contains(part)) << part << " in " << S(tty);
    EXPECT_TRUE(tty.endsWith("\r\033[K")) << "the bar is cleared before the program ends: " << S(tty.right(60));
    EXPECT_FALSE(tty.contains('\n')) << "one line, redrawn in place";
}

struct InterruptCase {
    const char *name, *command, *fault;
    std::size_t waitingOn;   // the request that gets no answer
    bool ignored = false;    // started with SIGINT ignored, as a script's background job
};
class CliInterrupt : public Cli, public ::testing::WithParamInterface<InterruptCase> {};

// The test sees the unanswered request arrive and signals while the
// program waits for it.
TEST_P(CliInterrupt, SigintCancelsTheWaitAndSendsNothingMore)
{
    const InterruptCase& c = GetParam();
    Home.write("PRICES.KYR", DownloadFixture());
    Scale scale(0x03, {c.fault});
    QStringList args{c.command};
    if (QByteArray(c.command) == "download")
        args << File("PRICES.KYR");
    QProcess p;
    p.setProcessEnvironment(ScriptEnvironment());
    if (c.ignored)
        p.setChildProcessModifier([] { ::signal(SIGINT, SIG_IGN); });
    p.start(ManagerPath(), args << "--port" << scale.Path << "--home" << Home.path());
    ASSERT_TRUE(p.waitForStarted(10000));
    ASSERT_TRUE(scale.waitForRequests(c.waitingOn, 20s)) << "the request never came";
    const std::size_t requests = scale.requests().size();
    const std::uint64_t bytes = scale.bytesReceived();
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    EXPECT_EQ(::kill(pid_t(p.processId()), SIGINT), 0);
    EXPECT_TRUE(p.waitForFinished(20000));
    const qint64 tookMs = sinceSignal.elapsed();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "the signal must not kill it";
    if (c.ignored) {
        // A Ctrl-C meant for the foreground must not cancel it.
        EXPECT_EQ(p.exitCode(), 0) << S(p.readAllStandardError());
        EXPECT_FALSE(S(p.readAllStandardOutput()).empty()) << "the late reply is still read";
        return;
    }
    EXPECT_EQ(p.exitCode(), 130) << S(p.readAllStandardError());
    // The unanswered request would be retried after 0.8 s, six times.
    EXPECT_LT(tookMs, 4000) << "ms from the signal to the end";
    EXPECT_EQ(S(p.readAllStandardOutput()), "");
    // Give anything still in flight the time to arrive.
    EXPECT_FALSE(scale.waitForRequests(requests + 1, 300ms)) << "a request after the interrupt";
    EXPECT_EQ(scale.bytesReceived(), bytes);
    EXPECT_FALSE(scale.saw(kyr::CmdDisconnect));
    EXPECT_TRUE(QFile::exists(File("DEBUG.LOG"))) << "the link is closed on the way out";
}

INSTANTIATE_TEST_SUITE_P(
    Waits, CliInterrupt,
    ::testing::Values(InterruptCase{"DownloadPriceModeRead", "download", "silence@n=3,count=always", 3},
                      InterruptCase{"ValuesEnquiry", "values", "silence@cmd=05,count=always", 1},
                      InterruptCase{"Flood", "download", "flood@cmd=44", 2},
                      InterruptCase{"IgnoredStaysIgnored", "values", "late:600@cmd=05,count=always", 1, true}),
    [](const auto& info) { return Name(info); });

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
    const struct {
        const char* what;
        QStringList args;
        QByteArray csv;          // written to in.csv first
        int status;
        const char* out;         // stdout starts with this
        const char* err;         // stderr contains this
        QByteArray pluAfter;     // a.KYR afterwards
    } cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedHome home;
        home.write("a.KYR", plu);
        if (!c.csv.isEmpty())
            home.write("in.csv", c.csv);
        const Result r = RunManager(c.args, home.path());
        EXPECT_EQ(r.status, c.status) << S(r.err);
        EXPECT_TRUE(r.out.startsWith(c.out)) << S(r.out);
        EXPECT_TRUE(r.err.contains(c.err)) << S(r.err);
        EXPECT_EQ(home.read("a.KYR"), c.pluAfter);
        EXPECT_FALSE(QFile::exists(home.file("DEBUG.LOG")));   // no link was opened
    }
    ScopedHome home;
    home.write("in.csv", "Key;Unit Price;Name\nU70;2;Nut\n");
    EXPECT_EQ(RunManager({"import", "in.csv", "new.KYR"}, home.path()).status, 0);
    EXPECT_EQ(home.read("new.KYR"), table({}, 0).replace(76 * 27, 27, PluLine("2.00", "Nut", "kg")));
}

// ------------------------------------------------------------ compare, verify, backup

QStringList BackupFiles(const QString& home) { return QDir(home + "backups").entryList({"*.KYR"}, QDir::Files, QDir::Name); }

TEST_F(Cli, CompareNamesEachDifferenceAndEndsWithThree)
{
    Scale scale;
    ASSERT_EQ(Run({"upload", File("SCALE.KYR"), "--port", scale.Path}).status, 0);
    ExpectRun(Run({"compare", File("SCALE.KYR"), "--port", scale.Path}), 0, "", "");

    QList<QByteArray> lines = Home.read("SCALE.KYR").replace(0, 8, "   99.99").split('\n');   // M1's price
    lines[7].replace("\tkg\r", "\tg\r");                                                       // U1's unit
    Home.write("CHANGED.KYR", lines.join('\n'));
    Home.write("config.ini", ConfigFor(11, "99999.99", 2));
    // The demo scale's M1 costs 1.50, U1 6.75.
    ExpectRun(Run({"compare", File("CHANGED.KYR"), "--port", scale.Path}), 3,
              "mode\t11\t3\nM1\t99.99 kg\t1.50 kg\nU1\t6.75 g\t6.75 kg\n", "");
    EXPECT_EQ(Home.read("config.ini"), ConfigFor(11, "99999.99", 2)) << "the scale's mode is not taken over";
    scale.stop();
    for (const QByteArray& frame : scale.frames())
        EXPECT_TRUE(!frame.startsWith("77") || frame.startsWith("77 F9 00 00 04")) << "wrote " << S(frame);
    EXPECT_EQ(scale.modeHex(), "03");
}

TEST_F(Cli, VerifyCatchesAWriteTheScaleAcknowledgedButDidNotKeep)
{
    Home.write("PRICES.KYR", DownloadFixture());
    Scale scale(0x03, {"ackonly@addr=00E4"});   // U2, which the demo scale has at 3.20
    ExpectRun(Run({"download", File("PRICES.KYR"), "--port", scale.Path}), 3, "",
              "Download PLU...Error!\nU2: sent 99.99, the scale holds 3.20\nU2\t99.99 kg\t3.20 kg\n");
    scale.stop();
    EXPECT_FALSE(scale.saw(0x33)) << "no disconnect after a failed verify";
}

TEST_F(Cli, BackupHoldsTheScalesTableBeforeTheFirstWrite)
{
    Home.write("PRICES.KYR", DownloadFixture());
    // The newest hundred are kept: the oldest of these goes.
    QDir().mkpath(File("backups"));
    for (int k = 0; k < 100; ++k)
        Home.write(QString::asprintf("backups/20000101-00%02d%02d-mode3.KYR", k / 60, k % 60), "old\r\n");
    // Every write refused: what the backup read is still the untouched scale.
    Scale refusing(0x03, {"aa@cmd=77,count=always"});
    EXPECT_EQ(Run({"download", File("PRICES.KYR"), "--port", refusing.Path, "--backup"}).status, 1);
    const QStringList backups = BackupFiles(Home.path());
    ASSERT_EQ(backups.size(), 100);
    EXPECT_FALSE(backups.contains("20000101-000000-mode3.KYR"));
    EXPECT_TRUE(backups.contains("20000101-000001-mode3.KYR"));
    const QString newest = backups.last();
    EXPECT_FALSE(newest.startsWith("2000")) << S(newest);
    EXPECT_TRUE(newest.endsWith("-mode3.KYR")) << S(newest);
    refusing.stop();
    // The same demo scale, untouched, read by an upload.
    Scale untouched;
    ASSERT_EQ(Run({"upload", File("UP.KYR"), "--port", untouched.Path}).status, 0);
    untouched.stop();
    for (int i = 1; i <= 77; ++i)
        EXPECT_EQ(refusing.plu(i), untouched.plu(i)) << "the refused writes changed PLU " << i;

    const QList<QByteArray> saved = Home.read("backups/" + newest).split('\n');
    const QList<QByteArray> uploaded = Home.read("UP.KYR").split('\n');
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
    Home.write("PRICES.KYR", DownloadFixture());
    Home.write("backups", "a file where the folder should be\n");
    Scale scale;
    const Result r = Run({"download", File("PRICES.KYR"), "--port", scale.Path, "--backup"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.startsWith("Download PLU...Error!\nthe backup could not be saved: Cannot make the backup folder "))
        << S(r.err);
    scale.stop();
    EXPECT_FALSE(scale.saw(0x77)) << "nothing written to the scale";
}

TEST_F(Cli, DownloadOfABackupTakesOverTheModeOfItsName)
{
    QDir().mkpath(File("backups"));
    Home.write("backups/20240305-140709-mode7.KYR", PluLine("1.234", "Apple", "kg"));
    Scale scale(0xA3);
    const Result r = Run({"download", File("backups/20240305-140709-mode7.KYR"), "--port", scale.Path});
    EXPECT_EQ(r.status, 0) << S(r.err);
    EXPECT_TRUE(Home.read("config.ini").contains("Price Dot=7\r\n"));
    scale.stop();
    EXPECT_EQ(scale.modeHex(), "A7");
    EXPECT_EQ(scale.pluHex(1), "00 00 04 D2");
    EXPECT_EQ(scale.frames().size(), 84 + 78) << "read back by default";
    EXPECT_EQ(S(scale.frames().last()), "33 00 00 00 00 CD");
}

} // namespace
