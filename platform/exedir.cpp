#include "exedir.h"
#include <QDir>
#include <QFileInfo>
#include <mutex>

namespace {
std::mutex Lock;
QString Dir;                              // empty until set or first asked
QString BaseName = QStringLiteral("varlo-manager");

QString withSlash(const QString& dir)
{
    QString d = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    return d.endsWith('/') ? d : d + '/';
}
} // namespace

QString ExeDir()
{
    std::lock_guard<std::mutex> g(Lock);
    if (Dir.isEmpty())
        Dir = ResolveExeDir({}, QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    return Dir;
}

void SetExeDir(const QString& dir)
{
    std::lock_guard<std::mutex> g(Lock);
    Dir = dir.isEmpty() ? QString() : withSlash(dir);
}

QString ResolveExeDir(const QString& homeOption, const QString& exePath)
{
    if (!homeOption.isEmpty())
        return withSlash(homeOption);
    const QString env = qEnvironmentVariable("VARLO_HOME");
    if (!env.isEmpty())
        return withSlash(env);
    if (exePath.isEmpty())
        return withSlash(QDir::currentPath());
    return withSlash(QFileInfo(exePath).absolutePath());
}

QString LanguageFilePath()
{
    QString base;
    {
        std::lock_guard<std::mutex> g(Lock);
        base = BaseName;
    }
    return ExeDir() + base + QStringLiteral(".LNG");
}

void SetProgramBaseName(const QString& baseName)
{
    std::lock_guard<std::mutex> g(Lock);
    BaseName = baseName.isEmpty() ? QStringLiteral("varlo-manager") : baseName;
}
