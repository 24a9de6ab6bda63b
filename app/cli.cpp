#include "cli.h"
#include "clifiles.h"
#include "clisafety.h"
#include "cliports.h"
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

void errLine(const QString& s) { std::fprintf(stderr, "%s\n", s.toLocal8Bit().constData()); }
void outLine(const QString& s)
{
    std::fprintf(stdout, "%s\n", s.toLocal8Bit().constData());
    std::fflush(stdout);
}

void printUsageProblem(const CliOptions& options)
{
    if (!options.problem.isEmpty())
        errLine(options.problem);
    std::fputs(options.text.toLocal8Bit().constData(), stderr);
}

namespace {

void err(const QString& s) { errLine(s); }
void out(const QString& s) { outLine(s); }

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

// SIGINT acts as Cancel. A job a shell started in the background has it
// ignored: the terminal's Ctrl-C is not meant for it, so it stays ignored.
bool catchSigint()
{
    if (pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction previous = {};
    sigaction(SIGINT, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) {
        struct sigaction sa = {};
        sa.sa_handler = onSigint;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, nullptr);
    }
    return true;
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

// The scale command's ending on stdout or stderr; the fixed text stays the
// first line of an error, the second says why.
CliOutcome reportOutcome(const CommandOutcome& outcome, const QString& cause)
{
    switch (outcome.kind) {
    case CommandOutcome::Succeeded:
        if (!outcome.line.isEmpty())
            out(outcome.line);
        if (!outcome.text.isEmpty())
            out(outcome.text);
        return CliOutcome::Succeeded;
    case CommandOutcome::Cancelled:
        return CliOutcome::Interrupted;
    case CommandOutcome::Refused:
        return CliOutcome::CannotProceed;   // its message box went to stderr
    default:
        err(outcome.text);
        if (!cause.isEmpty())
            err(cause);
        return CliOutcome::ScaleCommandFailed;
    }
}

// The scale command itself, and the upload's save; false when an error ends it.
bool runScaleCommand(ScaleCommands& commands, const CliOptions& o, Workbook& wb, CommandOutcome* outcome)
{
    try {
        if (o.command == "download")
            *outcome = commands.DownloadItemClick();
        else if (o.command == "upload")
            *outcome = commands.UploadItemClick();
        else if (o.command == "compare")
            *outcome = commands.CompareItemClick();
        else if (o.command == "report")
            *outcome = commands.ReportItemClick();
        else
            *outcome = commands.Salereport1Click();
        if (outcome->kind == CommandOutcome::Succeeded && o.command == "upload")
            wb.SavePluFile(QFileInfo(o.files[0]).absoluteFilePath());
    } catch (const AppError& e) {
        err(e.fullText());
        return false;
    }
    return true;
}

// Opens the link, runs the command, closes the link (DEBUG.LOG).
CliOutcome runOnTheLink(const CliOptions& o, Workbook& wb, const LinkSettings& link)
{
    TKYRBusComm bus;
    bus.CommName = link.devicePath(o.port.isEmpty() ? link.PortCaption() : o.port);
    bus.SetBaudRate(o.baud ? o.baud : link.BaudRateValue);
    bus.TraceEnabled = -1;
    TVemraencode codec;
    TerminalProgress progress;

    // The request in progress fails at once, and none is sent after it.
    bool interrupted = false;
    if (!catchSigint())
        return CliOutcome::CannotProceed;
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
    ApplySafetyArgs(o, wb, commands);

    try {
        bus.SetActive(true);
    } catch (const AppError& e) {
        err(e.fullText());
        return CliOutcome::CannotProceed;
    }
    CommandOutcome outcome;
    bool ran = runScaleCommand(commands, o, wb, &outcome);
    try {
        bus.SetActive(false);
    } catch (const AppError& e) {
        err(e.fullText());
        ran = false;
    }
    if (interrupted)
        return CliOutcome::Interrupted;
    if (!ran)
        return CliOutcome::CannotProceed;
    if (const int safety = SafetyExitStatus(o.command, outcome, commands); safety >= 0)
        return safety == 3 ? CliOutcome::Differs : CliOutcome::Succeeded;
    return reportOutcome(outcome, outcome.cause);
}

// The program directory, its settings and the language file, as the window
// has them; false when the command cannot go on.
bool setUpScaleCommand(const CliOptions& o)
{
    if (const QString problem = SetUpProgramDir(o.home, QCoreApplication::applicationFilePath());
        !problem.isEmpty()) {
        err(problem);
        return false;
    }
    const QString dirProblem = ProgramDirectoryProblem(ExeDir());
    if (!dirProblem.isEmpty()) {
        err("Cannot use the program directory " + ExeDir() + "\n" + dirProblem);
        return false;
    }
    SetProgramBaseName(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    // The window's language file speaks for the command line too.
    LoadLanguage({});
    return true;
}

CliOutcome runScaleCommand(const CliOptions& o)
{
    if (!setUpScaleCommand(o))
        return CliOutcome::CannotProceed;
    ConsoleSession session;
    Workbook wb(session.Options);
    LinkSettings link;
    const QString file = o.files.isEmpty() ? QString() : QFileInfo(o.files[0]).absoluteFilePath();
    try {
        wb.Initialise();
        link.Load();
        reportSettingsProblems(session.Options, link);
        PrepareLoad(o.command, file, wb);
        if (o.command == "download" || o.command == "compare")
            wb.LoadPluFile(file);
        else if (o.command == "upload")
            CheckAtomicWrite(file);   // before the whole transfer
    } catch (const AppError& e) {
        err(e.fullText());
        return CliOutcome::CannotProceed;
    }
    if (o.command == "download" && !acceptLoadedFile(wb, o.force))
        return CliOutcome::CannotProceed;
    if (o.command == "compare" && !AcceptComparedFile(wb))
        return CliOutcome::CannotProceed;
    return runOnTheLink(o, wb, link);
}

} // namespace

CliOutcome runCommandLine(const CliOptions& o)
{
    const QByteArray envHome = qgetenv("VARLO_HOME");
    if (QFile::encodeName(QFile::decodeName(envHome)) != envHome) {
        err("VARLO_HOME \"" + QString::fromLatin1(envHome.toPercentEncoding("/.-_ ~")) + "\" is not UTF-8 text");
        return CliOutcome::CannotProceed;
    }
    // Names stay the bytes they are, so going on in Latin-1 loses nothing;
    // the operator learns why texts look wrong.
    if (const QByteArray refused = cp::refusedName(); !refused.isEmpty())
        err("varlo-manager: code page \"" + QString::fromLatin1(refused)
            + "\" is unknown or not 8-bit text; ISO-8859-1 is used instead");
    if (o.command == "ports")
        return RunPortsCommand(o.home) == 0 ? CliOutcome::Succeeded : CliOutcome::CannotProceed;
    return o.isFileCommand() ? runFileCommand(o) : runScaleCommand(o);
}
