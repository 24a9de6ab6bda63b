#pragma once
#include <QString>

// The program directory: settings, logs and reports all live here.
// Always ends in '/'. Set once at start-up from --home, VARLO_HOME or the
// executable's directory, in that order of precedence.
QString ExeDir();
void SetExeDir(const QString& dir);

// Resolve the program directory for this run. `homeOption` is the value of
// --home (empty when not given); `exePath` the executable's full path.
QString ResolveExeDir(const QString& homeOption, const QString& exePath);

// The language file: the executable's base name with ".LNG", in ExeDir().
QString LanguageFilePath();
void SetProgramBaseName(const QString& baseName);   // default "varlo-manager"
