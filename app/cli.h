#pragma once
#include <QStringList>

// Headless scale commands for scripts:
//   varlo-manager download FILE.KYR | upload FILE.KYR | report | values
//   [--port NAME] [--baud N] [--home DIR]
// Exit status 0 success, 1 the scale command failed, 2 bad usage / file /
// port error, 130 interrupted (SIGINT acts as Cancel).
bool IsCliCommand(const QStringList& args);
int RunCli(int argc, char** argv);
