// Why not QCommandLineParser: the contract's texts name the option as typed
// ("unknown option -x", "--port needs a value") and the first fault in the
// order given, which its errorText() does not; it takes "--port=X", "--" and
// "-x" as options where the contract has bad usage; and a single-dash word
// may be one of Qt's window options whose value must not count as a command.
#include "cliargs.h"
#include "usage.h"
#include <QFile>
#include <QHash>

namespace {

const QStringList ScaleCommands{"download", "upload", "compare", "report", "values"};
const QStringList FileCommands{"export", "import", "reprice"};
const QStringList FileValueOptions{"--home", "--separator", "--percent", "--amount", "--keys", "--ending",
                                   "--port", "--baud"};

const char WindowUsage[] = "usage: varlo-manager [--demo [--demo-fault RULE]...] [--home DIR]\n";
const char FileUsage[] =
    "varlo-manager export FILE.KYR [OUT.csv] [--separator ,|;|tab]\n"
    "       varlo-manager import IN.csv FILE.KYR\n"
    "       varlo-manager reprice FILE.KYR --percent N | --amount X [--keys M1,U3-U20] [--ending 9]\n"
    "                     [--home DIR]";

CliOptions badUsage(const QString& problem, const QString& usage)
{
    CliOptions o;
    o.mode = CliOptions::BadUsage;
    o.problem = problem;
    o.text = usage;
    return o;
}
CliOptions badCommandUsage(const QString& problem) { return badUsage(problem, commandUsage() + '\n'); }
CliOptions badFileUsage(const QString& problem) { return badUsage(problem, fileCommandUsage() + '\n'); }

// Any word that is no option's value is a command, known or not: a script's
// typo must end in a usage error, not open the window.
bool isCommandLine(const QStringList& args)
{
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
            if (i + 1 < args.size() && !ScaleCommands.contains(args[i + 1]))
                ++i;
            continue;
        }
        return true;
    }
    return false;
}

// The value after option i, which a script's unset variable leaves empty:
// that must not quietly mean the configured port or the default directory.
bool takeValue(const QStringList& args, int* i, QString* into)
{
    if (*i + 1 >= args.size() || args[*i + 1].isEmpty())
        return false;
    *into = args[++*i];
    return true;
}

CliOptions parseWindow(const QStringList& args)
{
    CliOptions o;
    bool help = false, version = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--home" || a == "--demo-fault") {
            QString value;
            if (!takeValue(args, &i, &value))
                return badUsage(a + " needs a value", QLatin1String(WindowUsage));
            if (a == "--home")
                o.home = value;
            else
                o.demoFaults << value;
        } else {
            o.demo = o.demo || a == "--demo";
            help = help || a == "--help";
            version = version || a == "--version";
        }
    }
    if (help) {
        o.mode = CliOptions::Help;
        o.text = HelpText();
    } else if (version) {
        o.mode = CliOptions::Version;
    }
    return o;
}

// Checks what the words and options make together.
CliOptions checkScaleCommand(CliOptions o)
{
    if (!ScaleCommands.contains(o.command))
        return badCommandUsage("unknown command " + o.command);
    const bool needsFile = o.command == "download" || o.command == "upload" || o.command == "compare";
    if (needsFile && o.files.isEmpty())
        return badCommandUsage(o.command + " needs a PLU file");
    if (!needsFile && !o.files.isEmpty())
        return badCommandUsage(o.command + " takes no file");
    if (o.force && o.command != "download")
        return badCommandUsage("--force belongs to download");
    if ((o.verify.has_value() || o.backup) && o.command != "download")
        return badCommandUsage("--verify, --no-verify and --backup belong to download");
    o.mode = CliOptions::Command;
    return o;
}

CliOptions parseScaleCommand(const QStringList& args)
{
    CliOptions o;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--port" || a == "--home" || a == "--baud") {
            QString value;
            if (!takeValue(args, &i, &value))
                return badCommandUsage(a + " needs a value");
            if (a == "--port")
                o.port = value;
            else if (a == "--home")
                o.home = value;
            else if (value != "2400" && value != "9600")
                return badCommandUsage("--baud must be 2400 or 9600");
            else
                o.baud = value.toInt();
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--verify" || a == "--no-verify") {
            o.verify = a == "--verify";
        } else if (a == "--backup") {
            o.backup = true;
        } else if (a.startsWith('-') && a != "-") {
            return badCommandUsage("unknown option " + a);
        } else if (o.command.isEmpty()) {
            o.command = a;
        } else if (o.files.isEmpty()) {
            o.files << a;
        } else {
            return badCommandUsage("too many arguments");
        }
    }
    return checkScaleCommand(o);
}

CliOptions checkFileCommand(CliOptions o, const QHash<QString, QString>& given)
{
    const int wanted = o.command == "import" ? 2 : 1;
    const int most = o.command == "export" ? 2 : wanted;
    if (o.files.size() < wanted || o.files.size() > most)
        return badFileUsage(o.command
                            + (o.command == "import" ? " needs a CSV file and a PLU file" : " needs a PLU file"));
    const bool exportOnly = given.contains("--separator");
    const bool repriceOnly = given.contains("--percent") || given.contains("--amount") || given.contains("--keys")
        || given.contains("--ending");
    if ((exportOnly && o.command != "export") || (repriceOnly && o.command != "reprice"))
        return badFileUsage("an option that " + o.command + " does not take");
    if (o.command == "reprice" && given.contains("--percent") == given.contains("--amount"))
        return badFileUsage("reprice needs either --percent or --amount");
    if (exportOnly) {
        const QString s = given.value("--separator");
        if (s != "," && s != ";" && s != "tab" && s != "\t")
            return badFileUsage("--separator must be , or ; or tab");
        o.separator = s == "," ? ',' : s == ";" ? ';' : '\t';
    }
    o.home = given.value("--home");
    o.percent = given.value("--percent");
    o.amount = given.value("--amount");
    o.keys = given.value("--keys");
    o.ending = given.value("--ending");
    o.mode = CliOptions::Command;
    return o;
}

CliOptions parseFileCommand(const QStringList& args, const QString& command)
{
    CliOptions o;
    o.command = command;
    QHash<QString, QString> given;
    bool commandSeen = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (FileValueOptions.contains(a)) {
            QString value;
            if (!takeValue(args, &i, &value))
                return badFileUsage(a + " needs a value");
            if (a == "--port" || a == "--baud")
                return badFileUsage(a + " is not used by " + command + ": it opens no port");
            given.insert(a, value);
        } else if (a.startsWith('-') && a != "-") {
            return badFileUsage("unknown option " + a);
        } else if (!commandSeen) {
            commandSeen = true;
        } else {
            o.files << a;
        }
    }
    return checkFileCommand(o, given);
}

// The command word of a file command, skipping option values; empty for
// any other command line.
QString fileCommandWord(const QStringList& args)
{
    for (int i = 1; i < args.size(); ++i) {
        if (FileValueOptions.contains(args[i]))
            ++i;
        else if (!args[i].startsWith('-') || args[i] == "-")
            return FileCommands.contains(args[i]) ? args[i] : QString();
    }
    return {};
}

// `ports [--home DIR]`: the one command without a port or a file.
bool isPortsCommand(const QStringList& args)
{
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--home")
            ++i;
        else if (!args[i].startsWith('-'))
            return args[i] == "ports";
    }
    return false;
}

CliOptions parsePortsCommand(const QStringList& args)
{
    const QString usage = QStringLiteral("usage: varlo-manager ports [--home DIR]\n");
    CliOptions o;
    o.mode = CliOptions::Command;
    o.command = QStringLiteral("ports");
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "ports")
            continue;
        if (args[i] != "--home")
            return badUsage("ports takes no " + args[i], usage);
        if (!takeValue(args, &i, &o.home))
            return badUsage("--home needs a value", usage);
    }
    return o;
}

bool helpAsked(const QStringList& args)
{
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--port" || args[i] == "--baud" || args[i] == "--home")
            ++i;
        else if (args[i] == "--help")
            return true;
    }
    return false;
}

} // namespace

QString commandUsage()
{
    return QStringLiteral("usage: varlo-manager {download FILE.KYR [--force] [--verify | --no-verify] [--backup] "
                          "| upload FILE.KYR | compare FILE.KYR | report | values} [--port NAME] [--baud N] "
                          "[--home DIR]\n"
                          "       varlo-manager ports [--home DIR]\n       ")
        + QLatin1String(FileUsage);
}

CliOptions parseCommandLine(const QByteArrayList& raw)
{
    QStringList args;
    for (const QByteArray& a : raw)
        args << QFile::decodeName(a);
    if (!isCommandLine(args))
        return parseWindow(args);
    // Qt takes arguments and file names as UTF-8 whatever the locale; bytes
    // that are not (a Latin-1 or GBK file name) would turn into another
    // name: a download would miss its file, an upload write a different one.
    for (const QByteArray& a : raw.mid(1)) {
        if (QFile::encodeName(QFile::decodeName(a)) != a)
            return badCommandUsage("\"" + QString::fromLatin1(a.toPercentEncoding("/.-_ ~")) + "\" is not UTF-8 text");
    }
    if (helpAsked(args)) {
        CliOptions o;
        o.mode = CliOptions::Help;
        o.text = commandUsage() + '\n';
        return o;
    }
    if (isPortsCommand(args))
        return parsePortsCommand(args);
    const QString fileCommand = fileCommandWord(args);
    return fileCommand.isEmpty() ? parseScaleCommand(args) : parseFileCommand(args, fileCommand);
}

QString fileCommandUsage() { return QStringLiteral("usage: ") + QLatin1String(FileUsage); }

int exitStatus(CliOutcome outcome)
{
    switch (outcome) {
    case CliOutcome::Succeeded: return 0;
    case CliOutcome::ScaleCommandFailed: return 1;
    case CliOutcome::BadUsage:
    case CliOutcome::CannotProceed: return 2;
    case CliOutcome::Differs: return 3;
    case CliOutcome::Interrupted: return 130;
    }
    return 2;
}
