#include "testdirs.h"
#include "exedir.h"
#include <QFile>

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool ReplaceFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

ScopedHome::ScopedHome() : Dir(std::make_unique<QTemporaryDir>()), Previous(ExeDir()) { SetExeDir(path()); }

ScopedHome::~ScopedHome() { SetExeDir(Previous); }

QString BuildDir() { return qEnvironmentVariable("VARLO_BUILD_DIR"); }
