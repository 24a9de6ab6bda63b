#pragma once
#include <QStringList>

// Sub-commands on PLU files alone; they never open a port:
//   varlo-manager export FILE.KYR [OUT.csv] [--separator , | ; | tab]
//   varlo-manager import IN.csv FILE.KYR
//   varlo-manager reprice FILE.KYR --percent N | --amount X [--keys M1,U3-U20] [--ending 9]
//   [--home DIR]
// Exit status 0 success, 2 bad usage, a file that cannot be read or
// written, or an import or price change that is refused (nothing written).
extern const char FileCommandsUsage[];

// The sub-command word of `args` (args[0] is the program) when it is one of these.
bool IsFileCommand(const QStringList& args);
int RunFileCommand(const QStringList& args);
