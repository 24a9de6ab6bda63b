#include "cliports.h"
#include "cli.h"
#include "exedir.h"
#include "porttable.h"
#include <QCoreApplication>

namespace {

// A tab or line end inside a field would shift the columns of a script.
QString Field(QString s)
{
    s.replace('\t', ' ').replace('\n', ' ').replace('\r', ' ');
    return s.isEmpty() ? QStringLiteral("-") : s;
}

} // namespace

int RunPortsCommand(const QString& home)
{
    if (const QString problem = SetUpProgramDir(home, QCoreApplication::applicationFilePath());
        !problem.isEmpty()) {
        errLine(problem);
        return 2;
    }
    for (const PortRow& r : PortTable()) {
        const QString line = Field(r.name) + '\t' + Field(r.port.path) + '\t' + Field(r.port.description) +
                             '\t' + Field(r.stateText());
        outLine(line);
    }
    return 0;
}
