#pragma once
#include <QString>

// The program directory: settings, logs and reports all live here.
// Always ends in '/'. Set once at start-up (SetUpProgramDir) from --home,
// VARLO_HOME, the per-user data directory of an installed program or the
// executable's directory, in that order of precedence.
QString ExeDir();
void SetExeDir(const QString& dir);

// What the choice of directory reads from the environment.
struct DirEnvironment {
    QString varloHome;     // VARLO_HOME
    QString xdgDataHome;   // XDG_DATA_HOME
    QString home;          // HOME, else the user database's entry
    static DirEnvironment current();
};

struct ProgramDirChoice {
    enum Source { HomeOption, HomeVariable, UserData, BesideProgram };
    Source source = BesideProgram;
    QString dir;   // ends in '/'; empty when UserData has no home to go under
};

// An installed program runs from <prefix>/bin beside <prefix>/share/varlo-manager;
// that directory (with '/') holds the shipped files. Empty for any other layout.
QString SharedDataDir(const QString& exePath);

// The rule, without touching anything: --home, then VARLO_HOME, then for an
// installed program $XDG_DATA_HOME/varlo-manager (a relative XDG_DATA_HOME
// is ignored, the default is ~/.local/share), else the executable's directory.
ProgramDirChoice ChooseProgramDir(const QString& homeOption, const QString& exePath,
                                  const DirEnvironment& env);

// Makes the per-user directory on first start (other choices are used as
// they are). Empty when the directory is there; otherwise what went wrong
// and what to do, for the operator.
QString PrepareProgramDir(const ProgramDirChoice& choice);

// ChooseProgramDir for this process's environment.
QString ResolveExeDir(const QString& homeOption, const QString& exePath);

// Chooses, prepares and sets ExeDir() and the shipped-files directory for
// this run. Empty on success, otherwise PrepareProgramDir's message.
QString SetUpProgramDir(const QString& homeOption, const QString& exePath);

// Says where the files are and why, for --version and the about box.
QString DescribeProgramDir(const ProgramDirChoice& choice);

// The executable's full path, symbolic links resolved.
QString CurrentExecutablePath();

// The language file: the executable's base name with ".LNG", in ExeDir();
// when that file is missing, a shipped one of the same name stands in.
QString LanguageFilePath();
void SetProgramBaseName(const QString& baseName);   // default "varlo-manager"
void SetSharedDir(const QString& dir);              // default none
