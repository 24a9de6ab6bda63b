#include "golden.h"
#include <QFile>

QString GoldenPath(const QString& name) { return QStringLiteral(VARLO_GOLDEN_DIR "/") + name; }

::testing::AssertionResult MatchesGolden(const QString& name, const QByteArray& actual)
{
    QFile f(GoldenPath(name));
    if (!f.exists() && qEnvironmentVariableIntValue("VARLO_WRITE_GOLDEN") == 1 && f.open(QIODevice::WriteOnly))
        f.write(actual);
    f.close();
    if (!f.open(QIODevice::ReadOnly))
        return ::testing::AssertionFailure() << "no golden file " << GoldenPath(name).toStdString();
    const QByteArray golden = f.readAll();
    qsizetype at = 0;
    while (at < golden.size() && at < actual.size() && golden[at] == actual[at])
        ++at;
    if (at == golden.size() && at == actual.size())
        return ::testing::AssertionSuccess();
    const qsizetype lineStart = golden.lastIndexOf('\n', at - 1) + 1;
    auto byte = [](const QByteArray& b, qsizetype i) {
        return i < b.size() ? "0x" + QByteArray::number(uchar(b[i]), 16).rightJustified(2, '0') : QByteArray("end");
    };
    return ::testing::AssertionFailure()
        << name.toStdString() << ": byte " << at << " (line " << golden.left(at).count('\n') + 1 << ", column "
        << at - lineStart + 1 << ") is " << byte(actual, at).toStdString() << ", the golden file has "
        << byte(golden, at).toStdString() << "; sizes " << actual.size() << " and " << golden.size()
        << "\nwritten:  \"" << actual.mid(lineStart, 60).toStdString() << "\"\ngolden:   \""
        << golden.mid(lineStart, 60).toStdString() << "\"";
}
