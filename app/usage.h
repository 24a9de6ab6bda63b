#pragma once
#include <QString>

// The whole --help text: the window, every command and option, exit
// statuses, files and environment (the manual page is made from it).
QString HelpText();

// --version: the version, then the directory this run would use and why.
QString VersionText(const QString& homeOption);
