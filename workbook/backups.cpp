#include "backups.h"
#include "atomicfile.h"
#include "dialogs.h"
#include "errors.h"
#include "exedir.h"
#include "plufile.h"
#include "workbook.h"
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>

namespace {

const QRegularExpression& BackupName()
{
    static const QRegularExpression re(QStringLiteral("^(\\d{8}-\\d{6})-mode(\\d{1,2})(?:-(\\d{1,6}))?\\.KYR$"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

// Oldest first: the time in the name, then the number of a second backup
// within that second.
struct Backup {
    QString name;
    QString stamp;
    int number = 1;
    bool operator<(const Backup& o) const { return stamp != o.stamp ? stamp < o.stamp : number < o.number; }
};

QList<Backup> ListBackups(const QDir& dir)
{
    QList<Backup> out;
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch m = BackupName().match(name);
        if (m.hasMatch())
            out.append({name, m.captured(1), m.captured(3).isEmpty() ? 1 : m.captured(3).toInt()});
    }
    std::sort(out.begin(), out.end());
    return out;
}

// A clock set back must not make the new backup the first to go.
void RemoveOldBackups(const QDir& dir, const QString& keepName, int keep)
{
    QList<Backup> all = ListBackups(dir);
    all.erase(std::remove_if(all.begin(), all.end(), [&](const Backup& b) { return b.name == keepName; }),
              all.end());
    // Removal is housekeeping: a file that stays does no harm.
    for (qsizetype k = 0; k + keep - 1 < all.size(); ++k)
        QFile::remove(dir.filePath(all[k].name));
}

} // namespace

QString BackupsDir() { return ExeDir() + QStringLiteral("backups/"); }

QString BackupFileName(const QDateTime& when, int modeCode)
{
    return when.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral("-mode%1.KYR").arg(modeCode);
}

int BackupModeCode(const QString& path)
{
    const QRegularExpressionMatch m = BackupName().match(QFileInfo(path).fileName());
    return m.hasMatch() ? m.captured(2).toInt() : -1;
}

QString SaveBackup(const QByteArray& pluFile, int modeCode, const QDateTime& when, int keep)
{
    const QString dirPath = BackupsDir();
    if (!QDir().mkpath(dirPath)) {
        const QString why = QFileInfo(dirPath.chopped(1)).exists() ? QStringLiteral("a file of that name is in the way")
                                                                   : QStringLiteral("it cannot be created");
        throw EInOutError(QStringLiteral("Cannot make the backup folder %1").arg(dirPath), why);
    }
    const QDir dir(dirPath);
    QString name = BackupFileName(when, modeCode);
    for (int n = 2; QFileInfo::exists(dir.filePath(name)); ++n)
        name = BackupFileName(when, modeCode).chopped(4) + QStringLiteral("-%1.KYR").arg(n);
    const QString path = dir.filePath(name);
    WriteFileAtomically(path, pluFile);
    RemoveOldBackups(dir, name, keep);
    return path;
}

bool AdoptBackupMode(Workbook& wb, const QString& path)
{
    const int code = BackupModeCode(path);
    if (code < 0)
        return false;
    try {
        if (!CheckPluFile(ReadPluFileBytes(path), wb.Options.PriceDecimal, wb.Options.PriceMax).NotPluFile.isEmpty())
            return false;
    } catch (const AppError&) {
        return false;   // the load says why
    }
    return wb.AdoptScalePriceMode(uint8_t(code));
}

void RestoreBackupItemClick(Workbook& wb)
{
    if (!wb.QuerySave())
        return;
    QDir().mkpath(BackupsDir());   // an empty folder to look into beats the current one
    QString path;
    if (!dialogs().openFileNameIn(BackupsDir(), &path))
        return;
    AdoptBackupMode(wb, path);
    wb.OpenChosenFile(path);
}
