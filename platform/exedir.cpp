#include "exedir.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::mutex Lock;
QString Dir;                              // empty until set or first asked
QString Shared;                           // shipped files, empty when none
QString BaseName = QStringLiteral("varlo-manager");
const QString DataDirName = QStringLiteral("varlo-manager");

QString withSlash(const QString& dir)
{
    QString d = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    return d.endsWith('/') ? d : d + '/';
}

// mkdir -p that keeps the reason of a failure. New directories are the
// user's own (0700), as the base directory rules ask.
int makePath(const QString& dir)
{
    const QStringList parts = QDir::cleanPath(dir).split('/', Qt::SkipEmptyParts);
    QString path;
    for (const QString& part : parts) {
        path += '/' + part;
        const QByteArray p = QFile::encodeName(path);
        if (::mkdir(p.constData(), 0700) == 0)
            continue;
        const int e = errno;
        struct stat st {};
        if (e == EEXIST && ::stat(p.constData(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return ENOTDIR;
            continue;
        }
        return e;
    }
    return 0;
}
} // namespace

QString ExeDir()
{
    std::lock_guard<std::mutex> g(Lock);
    if (Dir.isEmpty())
        Dir = ResolveExeDir({}, CurrentExecutablePath());
    return Dir;
}

void SetExeDir(const QString& dir)
{
    std::lock_guard<std::mutex> g(Lock);
    Dir = dir.isEmpty() ? QString() : withSlash(dir);
}

DirEnvironment DirEnvironment::current()
{
    DirEnvironment env{qEnvironmentVariable("VARLO_HOME"), qEnvironmentVariable("XDG_DATA_HOME"),
                       qEnvironmentVariable("HOME")};
    if (env.home.isEmpty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            env.home = QFile::decodeName(pw->pw_dir);
    }
    return env;
}

QString SharedDataDir(const QString& exePath)
{
    if (exePath.isEmpty())
        return {};
    const QDir bin = QFileInfo(exePath).absoluteDir();
    if (bin.dirName() != QLatin1String("bin"))
        return {};
    const QString shared = QDir::cleanPath(bin.absolutePath() + QStringLiteral("/../share/") + DataDirName);
    return QFileInfo(shared).isDir() ? shared + '/' : QString();
}

ProgramDirChoice ChooseProgramDir(const QString& homeOption, const QString& exePath,
                                  const DirEnvironment& env)
{
    if (!homeOption.isEmpty())
        return {ProgramDirChoice::HomeOption, withSlash(homeOption)};
    if (!env.varloHome.isEmpty())
        return {ProgramDirChoice::HomeVariable, withSlash(env.varloHome)};
    if (!SharedDataDir(exePath).isEmpty()) {
        QString base = env.xdgDataHome;
        if (!QDir::isAbsolutePath(base))
            base = env.home.isEmpty() ? QString() : env.home + QStringLiteral("/.local/share");
        if (!QDir::isAbsolutePath(base))
            return {ProgramDirChoice::UserData, {}};
        return {ProgramDirChoice::UserData, withSlash(base + '/' + DataDirName)};
    }
    if (exePath.isEmpty())
        return {ProgramDirChoice::BesideProgram, withSlash(QDir::currentPath())};
    return {ProgramDirChoice::BesideProgram, withSlash(QFileInfo(exePath).absolutePath())};
}

QString PrepareProgramDir(const ProgramDirChoice& choice)
{
    if (choice.source != ProgramDirChoice::UserData)
        return {};
    const QString what = QStringLiteral("Name a directory with --home DIR or VARLO_HOME, or set "
                                        "XDG_DATA_HOME to a directory you may write.");
    if (choice.dir.isEmpty())
        return QStringLiteral("There is no place for this user's files: neither XDG_DATA_HOME nor "
                              "HOME names a directory.\n") + what;
    if (const int e = makePath(choice.dir))
        return QStringLiteral("Cannot create the data directory %1\n%2\n")
                   .arg(choice.dir, QString::fromLocal8Bit(std::strerror(e))) + what;
    if (::access(QFile::encodeName(choice.dir).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("Cannot use the data directory %1\n%2\n")
                   .arg(choice.dir, QString::fromLocal8Bit(std::strerror(errno))) + what;
    return {};
}

QString ResolveExeDir(const QString& homeOption, const QString& exePath)
{
    return ChooseProgramDir(homeOption, exePath, DirEnvironment::current()).dir;
}

QString SetUpProgramDir(const QString& homeOption, const QString& exePath)
{
    const ProgramDirChoice choice = ChooseProgramDir(homeOption, exePath, DirEnvironment::current());
    SetSharedDir(SharedDataDir(exePath));
    const QString problem = PrepareProgramDir(choice);
    if (problem.isEmpty())
        SetExeDir(choice.dir);
    return problem;
}

QString DescribeProgramDir(const ProgramDirChoice& choice)
{
    switch (choice.source) {
    case ProgramDirChoice::HomeOption:
        return choice.dir + QStringLiteral(" (--home)");
    case ProgramDirChoice::HomeVariable:
        return choice.dir + QStringLiteral(" (VARLO_HOME)");
    case ProgramDirChoice::UserData:
        return (choice.dir.isEmpty() ? QStringLiteral("none") : choice.dir)
               + QStringLiteral(" (this user's data directory)");
    case ProgramDirChoice::BesideProgram:
        break;
    }
    return choice.dir + QStringLiteral(" (the program's directory)");
}

QString CurrentExecutablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

QString LanguageFilePath()
{
    QString base, shared;
    {
        std::lock_guard<std::mutex> g(Lock);
        base = BaseName;
        shared = Shared;
    }
    const QString own = ExeDir() + base + QStringLiteral(".LNG");
    if (!shared.isEmpty() && !QFileInfo::exists(own) && QFileInfo::exists(shared + base + ".LNG"))
        return shared + base + QStringLiteral(".LNG");
    return own;
}

void SetProgramBaseName(const QString& baseName)
{
    std::lock_guard<std::mutex> g(Lock);
    BaseName = baseName.isEmpty() ? QStringLiteral("varlo-manager") : baseName;
}

void SetSharedDir(const QString& dir)
{
    std::lock_guard<std::mutex> g(Lock);
    Shared = dir.isEmpty() ? QString() : withSlash(dir);
}
