#pragma once
#include <QString>

// The download's safety nets, kept in config.ini [Options]:
//   Verify after download=1   read the scale back after writing (default on)
//   Backup before download=0  save the scale's table first (default off)
struct SafetyOptions {
    bool VerifyAfterDownload = true;
    bool BackupBeforeDownload = false;

    // Missing keys keep the defaults; any value but 0 turns a net on, so a
    // mistyped value errs on the side of checking.
    static SafetyOptions Load(const QString& configFileName);
    // Writes one key; throws EIniError when config.ini cannot be written.
    static void SaveVerify(const QString& configFileName, bool on);
    static void SaveBackup(const QString& configFileName, bool on);
};
