#pragma once
#include "cliargs.h"
#include "inioptions.h"
#include "qtdialogs.h"

// Runs a command that parseCommandLine accepted, on the QCoreApplication
// that exists by then; what it prints is the command's own.
CliOutcome runCommandLine(const CliOptions& options);

// A BadUsage parse on stderr: why, then the usage.
void printUsageProblem(const CliOptions& options);

// One line on stderr / on stdout (flushed: a script may read it at once).
void errLine(const QString& s);
void outLine(const QString& s);

// The settings object and the dialogs of one command, installed while it
// lives: messages go to stderr, questions are answered so nothing is lost.
struct ConsoleSession {
    ConsoleSession()
    {
        setDialogs(&Dialogs);
        IniOptions = &Options;
    }
    ~ConsoleSession()
    {
        setDialogs(nullptr);
        IniOptions = nullptr;
    }
    ConsoleDialogs Dialogs;
    TIniOptions Options;
};
