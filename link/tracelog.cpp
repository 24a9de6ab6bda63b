#include "tracelog.h"
#include "atomicfile.h"
#include "exedir.h"

TraceLog::TraceLog(std::function<QString()> fileName) : FileName(std::move(fileName))
{
    if (!FileName)
        FileName = [] { return ExeDir() + "DEBUG.LOG"; };
}

void TraceLog::Begin() { Clear(); }

void TraceLog::Clear()
{
    Kept.clear();
    Dropped = 0;
}

void TraceLog::Add(const QString& line)
{
    Kept << line;
    Trim();
}

void TraceLog::Trim(int slack)
{
    if (Kept.size() <= MaxLines + slack)
        return;
    const qsizetype cut = Kept.size() - MaxLines;
    Kept.remove(0, cut);
    Dropped += cut;
}

void TraceLog::End()
{
    Trim(0);
    QByteArray log;
    if (Dropped > 0)
        log += QStringLiteral("(%1 earlier lines of this trace were dropped: it keeps the last %2)\r\n")
                   .arg(Dropped)
                   .arg(MaxLines)
                   .toLatin1();
    for (const QString& line : std::as_const(Kept))
        log += line.toLatin1() + "\r\n";
    WriteFileAtomically(FileName(), log);
}
