#include "cliports.h"
#include "exedir.h"
#include "porttable.h"
#include <QCoreApplication>
#include <cstdio>

namespace {

void err(const QString& s) { std::fprintf(stderr, "%s\n", s.toLocal8Bit().constData()); }

// A tab or line end inside a field would shift the columns of a script.
QString Field(QString s)
{
    s.replace('\t', ' ').replace('\n', ' ').replace('\r', ' ');
    return s.isEmpty() ? QStringLiteral("-") : s;
}

} // namespace

bool IsPortsCommand(const QStringList& args)
{
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--home")
            ++i;
        else if (!args[i].startsWith('-'))
            return args[i] == "ports";
    }
    return false;
}

int RunPortsCommand(const QStringList& args)
{
    QString home;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "ports")
            continue;
        if (args[i] == "--home" && i + 1 < args.size() && !args[i + 1].isEmpty()) {
            home = args[++i];
            continue;
        }
        err("usage: varlo-manager ports [--home DIR]");
        return 2;
    }
    SetExeDir(ResolveExeDir(home, QCoreApplication::applicationFilePath()));
    for (const PortRow& r : PortTable()) {
        const QString line = Field(r.name) + '\t' + Field(r.port.path) + '\t' + Field(r.port.description) +
                             '\t' + Field(r.stateText());
        std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    }
    std::fflush(stdout);
    return 0;
}
