#pragma once
#include <QByteArrayList>
#include <QString>
#include <QStringList>
#include <optional>

// What the arguments ask for: the window, one command, a text, or nothing
// because they are bad usage. Parsing touches no file and no port.
struct CliOptions {
    enum Mode { Window, Command, Help, Version, BadUsage };
    Mode mode = Window;

    QString command;        // download upload compare report values | export import reprice | ports
    QStringList files;      // the command's file names, as given
    QString port, home;     // empty: KYR.CFG's port, the default directory
    int baud = 0;           // 0: KYR.CFG's speed
    bool force = false;     // download a file whose prices cannot all be read
    std::optional<bool> verify;   // download: --verify / --no-verify; unset: config.ini
    bool backup = false;    // download: --backup, whatever config.ini says
    char separator = 0;     // export: ',' ';' '\t', 0 for the locale's default
    QString percent, amount, keys, ending;   // reprice, checked against the table
    bool demo = false;
    QStringList demoFaults;

    QString problem;        // BadUsage: why, the first line on stderr
    QString text;           // BadUsage: the usage after it; Help: stdout

    bool isFileCommand() const { return command == "export" || command == "import" || command == "reprice"; }
};

// `args` are the program's arguments as the bytes they are (args[0] is the
// program). A word that is no option's value makes it a command line; Qt's
// own single-dash options (-platform NAME) are left to the window.
CliOptions parseCommandLine(const QByteArrayList& args);

// How a run ended, and the exit status scripts see for it.
enum class CliOutcome {
    Succeeded,          // 0: the success text or line is on stdout
    ScaleCommandFailed, // 1: the error text, and its cause, on stderr
    BadUsage,           // 2
    CannotProceed,      // 2: a file, directory or port that cannot be used
    Differs,            // 3: the scale does not hold what it should (compare, verify)
    Interrupted,        // 130: SIGINT cancelled the request in progress
};
int exitStatus(CliOutcome outcome);

// The usage of the scale and file commands (--help of a command line), and
// of the file commands alone.
QString commandUsage();
QString fileCommandUsage();
