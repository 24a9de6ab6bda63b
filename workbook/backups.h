#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>

class Workbook;

// Backups of the scale's table, saved before a download: PLU files named
// YYYYMMDD-HHMMSS-modeN.KYR (local time; N the scale's price mode code,
// which a PLU file does not carry) in the folder "backups" of ExeDir().
// A second backup within the same second gets "-2", "-3" ... after N.

inline constexpr int BackupsKept = 100;

QString BackupsDir();   // ExeDir() + "backups/"
QString BackupFileName(const QDateTime& when, int modeCode);
// The price mode code a backup's file name carries; -1 for any other name.
int BackupModeCode(const QString& path);

// Saves `pluFile` as a new backup (atomically), then removes all but the
// newest `keep` backups; other files in the folder are left alone. Returns
// the new file's path. Throws EInOutError when the backup cannot be saved.
QString SaveBackup(const QByteArray& pluFile, int modeCode, const QDateTime& when, int keep = BackupsKept);

// Before a backup is loaded: take over the price mode its name carries, as
// an upload takes over the scale's (config.ini is written). False, with
// nothing changed, for a name without a mode, a code that is no price mode,
// or a file that is no PLU file (its load says why).
bool AdoptBackupMode(Workbook& wb, const QString& path);

// "Restore backup...": the save question, the open dialog in the backups
// folder, the mode of the chosen file's name, then the load as "&Open...".
void RestoreBackupItemClick(Workbook& wb);
