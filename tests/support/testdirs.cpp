#include "testdirs.h"
#include "exedir.h"
#include <QFile>

ScopedHome::ScopedHome() : Dir(std::make_unique<QTemporaryDir>()), Previous(ExeDir())
{
    SetExeDir(Dir->path() + "/");
}

ScopedHome::~ScopedHome() { SetExeDir(Previous); }

QString ScopedHome::path() const { return Dir->path() + "/"; }

QByteArray ScopedHome::read(const QString& name) const
{
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void ScopedHome::write(const QString& name, const QByteArray& bytes) const
{
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QString BuildDir() { return qEnvironmentVariable("VARLO_BUILD_DIR"); }
