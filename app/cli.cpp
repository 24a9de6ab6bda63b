#include "cli.h"
#include "clifiles.h"
#include "clisafety.h"
#include "interruptiblebus.h"
#include "atomicfile.h"
#include "codepage.h"
#include "comm.h"
#include "errors.h"
#include "exedir.h"
#include "inioptions.h"
#include "kyrbuscomm.h"
#include "language.h"
#include "linksettings.h"
#include "progress.h"
#include "qtdialogs.h"
#include "scalecommands.h"
#include "vemraencode.h"
#include "workbook.h"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList Commands{"download", "upload", "compare", "report", "values"};

void err(const QString& s) { std::fprintf(stderr, "%s\n", s.toLocal8Bit().constData()); }
void out(const QString& s)
{
    std::fprintf(stdout, "%s\n", s.toLocal8Bit().constData());
    std::fflush(stdout);
}

// Progress on the command line: a one-line bar on a terminal, nothing
// otherwise. The error form has no operator to confirm it.
class TerminalProgress : public IProgress {
public:
    TerminalProgress() : Tty(isatty(STDERR_FILENO)) {}
    void Show() override { State = 0; Total = Current = 0; }
    void Close() override { clearLine(); }
    void SetStatus(const QString& text, bool error) override
    {
        if (State == 2)
            return;
        Status = text;
        State = error ? 1 : 0;
        draw();
    }
    void SetTotal(int count) override { Total = count > 0 ? count : 0; Current = 0; draw(); }
    void SetCurrent(int number) override { Current = number; draw(); }
    int ProgressState() const override { return State; }
    void WaitUntilClosed() override { clearLine(); }
    void Interrupt() { State = 2; clearLine(); }

private:
    void draw()
    {
        if (!Tty)
            return;
        QString line = Status;
        if (Total > 0) {
            const int width = 30;
            const int filled = qBound(0, Current * width / Total, width);
            line += QStringLiteral(" [%1%2] %3/%4")
                        .arg(QString(filled, '#'), QString(width - filled, '.'))
                        .arg(Current)
                        .arg(Total);
        }
        std::fprintf(stderr, "\r\033[K%s", line.toLocal8Bit().constData());
        std::fflush(stderr);
        Drawn = true;
    }
    void clearLine()
    {
        if (Tty && Drawn) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
            Drawn = false;
        }
    }
    bool Tty;
    bool Drawn = false;
    int State = 0, Total = 0, Current = 0;
    QString Status;
};

int SignalPipe[2] = {-1, -1};

void onSigint(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = write(SignalPipe[1], &c, 1);
}

const QByteArray UsageText =
    QByteArray("usage: varlo-manager {download FILE.KYR [--force] | upload FILE.KYR | report | values} "
               "[--port NAME] [--baud N] [--home DIR]\n") + SafetyUsage + '\n' + FileCommandsUsage;

int usage(const QString& why)
{
    if (!why.isEmpty())
        err(why);
    err(QString::fromLatin1(UsageText));
    return 2;
}

// Every command ends by writing DEBUG.LOG into the program directory, and
// reads its settings from there: a directory that is missing or may not be
// written would let the command run with default settings (another port,
// another price mode) and fail only after the scale has been written.
QString ProgramDirectoryProblem(const QString& dir)
{
    const QByteArray path = QFile::encodeName(dir);
    struct stat st {};
    int err = 0;
    if (::stat(path.constData(), &st) != 0)
        err = errno;
    else if (!S_ISDIR(st.st_mode))
        err = ENOTDIR;
    else if (::access(path.constData(), W_OK | X_OK) != 0)
        err = errno;
    return err ? QString::fromLocal8Bit(std::strerror(err)) : QString();
}

} // namespace

bool IsCliCommand(const QStringList& args)
{
    // Any word that is no option's value is a command, known or not: a
    // script's typo must end in a usage error, not open the window.
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--port" || a == "--baud")
            return true;   // only the command line reads these
        if (a == "--home" || a == "--demo-fault") {
            ++i;
            continue;
        }
        if (a.startsWith("--"))
            continue;
        if (a.startsWith('-')) {
            // Qt's own options (-platform NAME, -style NAME ...) may take a value.
            if (i + 1 < args.size() && !Commands.contains(args[i + 1]))
                ++i;
            continue;
        }
        return true;
    }
    return false;
}

namespace {

struct CliRequest {
    QString command, file, port, home;
    int baud = 0;
    bool force = false;   // download a file whose prices cannot all be read
    SafetyArgs safety;
};

// Fills `req` from the arguments; -1 to go on, else the exit status
// (usage errors and --help end here).
int parseArguments(const QStringList& args, CliRequest* req)
{
    // --help wins over everything else, wherever it stands.
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--port" || args[i] == "--baud" || args[i] == "--home")
            ++i;
        else if (args[i] == "--help") {
            out(QString::fromLatin1(UsageText));
            return 0;
        }
    }
    if (IsFileCommand(args))
        return RunFileCommand(args);
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        // An empty value (a script's unset variable) would silently mean
        // the configured port or the default directory.
        auto value = [&](QString* into) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                return false;
            *into = args[++i];
            return true;
        };
        if (a == "--port") {
            if (!value(&req->port))
                return usage("--port needs a value");
        } else if (a == "--home") {
            if (!value(&req->home))
                return usage("--home needs a value");
        } else if (a == "--baud") {
            QString b;
            if (!value(&b))
                return usage("--baud needs a value");
            bool ok = false;
            req->baud = b.toInt(&ok);
            if (!ok || (req->baud != 2400 && req->baud != 9600))
                return usage("--baud must be 2400 or 9600");
        } else if (a == "--force") {
            req->force = true;
        } else if (TakeSafetyArgument(a, &req->safety)) {
        } else if (a.startsWith("-") && a != "-") {
            return usage("unknown option " + a);
        } else if (req->command.isEmpty()) {
            req->command = a;
        } else if (req->file.isEmpty()) {
            req->file = a;
        } else {
            return usage("too many arguments");
        }
    }
    if (!Commands.contains(req->command))
        return usage("unknown command " + req->command);
    const bool needsFile = req->command == "download" || req->command == "upload" || req->command == "compare";
    if (needsFile && req->file.isEmpty())
        return usage(req->command + " needs a PLU file");
    if (!needsFile && !req->file.isEmpty())
        return usage(req->command + " takes no file");
    if (req->force && req->command != "download")
        return usage("--force belongs to download");
    if (const QString problem = SafetyUsageProblem(req->command, req->safety); !problem.isEmpty())
        return usage(problem);
    return -1;
}

// Start-up notes of the settings files: the window shows them in a box.
void reportSettingsProblems(const TIniOptions& options, const LinkSettings& link)
{
    if (!options.ModeProblem.isEmpty())
        err(options.ModeProblem);
    for (const QString& p : link.Problems)
        err(p);
}

// What the loaded file holds that the scale must not get unasked; true when
// the download may go on.
bool acceptLoadedFile(const Workbook& wb, bool force)
{
    const PluFileCheck& check = wb.LastLoadCheck;
    if (check.clean())
        return true;
    const QString file = "\"" + wb.CurrentFileName + "\"";
    if (!check.NotPluFile.isEmpty()) {
        err(file + " is not a PLU file: " + check.NotPluFile + ".");
    } else {
        err(QStringLiteral("%1: %2 prices cannot be read and %3 sent as 0:")
                .arg(file)
                .arg(check.ResetRows.size())
                .arg(force ? "are" : "would be"));
        err(check.rowsText(PluCount));
    }
    if (!force)
        err("Nothing was sent; correct the file, or give --force to send it as read.");
    return force;
}

int exitStatus(const CommandOutcome& outcome, const QString& cause)
{
    switch (outcome.kind) {
    case CommandOutcome::Succeeded:
        if (!outcome.line.isEmpty())
            out(outcome.line);
        if (!outcome.text.isEmpty())
            out(outcome.text);
        return 0;
    case CommandOutcome::Cancelled:
        return 130;
    case CommandOutcome::Refused:
        return 2;   // its message box went to stderr
    default:
        err(outcome.text);
        // The fixed text stays the first line; the second says why.
        if (!cause.isEmpty())
            err(cause);
        return 1;
    }
}

// The scale command itself, and the upload's save; 2 when an error ends it.
int runCommand(ScaleCommands& commands, const CliRequest& req, Workbook& wb, CommandOutcome* outcome)
{
    const QString& command = req.command;
    try {
        if (command == "download")
            *outcome = commands.DownloadItemClick();
        else if (command == "upload")
            *outcome = commands.UploadItemClick();
        else if (command == "compare")
            *outcome = commands.CompareItemClick();
        else if (command == "report")
            *outcome = commands.ReportItemClick();
        else
            *outcome = commands.Salereport1Click();
        if (outcome->kind == CommandOutcome::Succeeded && command == "upload")
            wb.SavePluFile(QFileInfo(req.file).absoluteFilePath());
    } catch (const AppError& e) {
        err(e.fullText());
        return 2;
    }
    return 0;
}

// Opens the link, runs the command, closes the link (DEBUG.LOG); the exit status.
int runOnTheLink(const CliRequest& req, Workbook& wb, const LinkSettings& link)
{
    TKYRBusComm bus;
    bus.CommName = req.port.isEmpty() ? link.PortCaption() : req.port;
    bus.SetBaudRate(req.baud ? req.baud : link.BaudRateValue);
    bus.TraceEnabled = -1;
    TVemraencode codec;
    TerminalProgress progress;

    // SIGINT acts as Cancel: the request in progress fails at once, and
    // none is sent after it.
    bool interrupted = false;
    if (pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 2;
    auto takeInterrupt = [&] {
        char c;
        bool came = false;
        while (read(SignalPipe[0], &c, 1) > 0)
            came = true;
        if (came && !interrupted) {
            interrupted = true;
            progress.Interrupt();
            bus.Cancel();
        }
        return interrupted;
    };
    QSocketNotifier notifier(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, takeInterrupt);
    InterruptibleBus guardedBus(bus, takeInterrupt);
    ScaleCommands commands(guardedBus, progress, wb, codec);
    commands.AppendMemoLine = [](const QString&) {};
    ApplySafetyArgs(req.safety, wb, commands);
    // A job a shell started in the background has SIGINT ignored: the
    // terminal's Ctrl-C is not meant for it, so it stays ignored.
    struct sigaction previous = {};
    sigaction(SIGINT, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) {
        struct sigaction sa = {};
        sa.sa_handler = onSigint;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, nullptr);
    }

    try {
        bus.SetActive(true);
    } catch (const AppError& e) {
        err(e.fullText());
        return 2;
    }

    CommandOutcome outcome;
    int status = runCommand(commands, req, wb, &outcome);

    try {
        bus.SetActive(false);
    } catch (const AppError& e) {
        err(e.fullText());
        if (status == 0)
            status = 2;
    }

    if (interrupted)
        return 130;
    if (status != 0)
        return status;
    if (const int safety = SafetyExitStatus(req.command, outcome, commands); safety >= 0)
        return safety;
    return exitStatus(outcome, outcome.cause);
}

} // namespace

int RunCli(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    // Qt takes arguments and file names as UTF-8 whatever the locale; bytes
    // that are not (a Latin-1 or GBK file name) would turn into another
    // name: a download would miss its file, an upload write a different one.
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        if (QFile::encodeName(QFile::decodeName(raw)) != raw)
            return usage("\"" + QString::fromLatin1(raw.toPercentEncoding("/.-_ ~"))
                         + "\" is not UTF-8 text");
    }
    const QByteArray envHome = qgetenv("VARLO_HOME");
    if (QFile::encodeName(QFile::decodeName(envHome)) != envHome) {
        err("VARLO_HOME \"" + QString::fromLatin1(envHome.toPercentEncoding("/.-_ ~"))
            + "\" is not UTF-8 text");
        return 2;
    }
    CliRequest req;
    if (const int status = parseArguments(args, &req); status >= 0)
        return status;
    const QString& command = req.command;
    const QString& file = req.file;
    const QString& home = req.home;
    // Names stay the bytes they are, so going on in Latin-1 loses nothing;
    // the operator learns why texts look wrong.
    if (const QByteArray refused = cp::refusedName(); !refused.isEmpty())
        err("varlo-manager: code page \"" + QString::fromLatin1(refused)
            + "\" is unknown or not 8-bit text; ISO-8859-1 is used instead");
    if (const QString problem = SetUpProgramDir(home, QCoreApplication::applicationFilePath());
        !problem.isEmpty()) {
        err(problem);
        return 2;
    }
    const QString dirProblem = ProgramDirectoryProblem(ExeDir());
    if (!dirProblem.isEmpty()) {
        err("Cannot use the program directory " + ExeDir() + "\n" + dirProblem);
        return 2;
    }
    SetProgramBaseName(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    // The window's language file speaks for the command line too.
    LoadLanguage({});
    ConsoleDialogs consoleDialogs;
    setDialogs(&consoleDialogs);

    TIniOptions options;
    IniOptions = &options;
    Workbook wb(options);
    LinkSettings link;
    try {
        wb.Initialise();
        link.Load();
        reportSettingsProblems(options, link);
        PrepareLoad(command, QFileInfo(file).absoluteFilePath(), wb);
        if (command == "download" || command == "compare")
            wb.LoadPluFile(QFileInfo(file).absoluteFilePath());
        else if (command == "upload")
            CheckAtomicWrite(QFileInfo(file).absoluteFilePath());   // before the whole transfer
    } catch (const AppError& e) {
        err(e.fullText());
        return 2;
    }
    if (command == "download" && !acceptLoadedFile(wb, req.force))
        return 2;
    if (command == "compare" && !AcceptComparedFile(wb))
        return 2;

    return runOnTheLink(req, wb, link);
}
