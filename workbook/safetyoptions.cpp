#include "safetyoptions.h"
#include "inifile.h"

namespace {
const QByteArray Section = "Options";
const QByteArray KeyVerify = "Verify after download";
const QByteArray KeyBackup = "Backup before download";

bool readFlag(const IniFile& ini, const QByteArray& key, bool def)
{
    bool found = false;
    const QByteArray value = ini.readString(Section, key, {}, &found).trimmed();
    if (!found || value.isEmpty())
        return def;
    return value != "0";
}
} // namespace

SafetyOptions SafetyOptions::Load(const QString& configFileName)
{
    const IniFile ini(configFileName);
    SafetyOptions o;
    o.VerifyAfterDownload = readFlag(ini, KeyVerify, o.VerifyAfterDownload);
    o.BackupBeforeDownload = readFlag(ini, KeyBackup, o.BackupBeforeDownload);
    return o;
}

void SafetyOptions::SaveVerify(const QString& configFileName, bool on)
{
    IniFile::writeString(configFileName, Section, KeyVerify, on ? "1" : "0");
}

void SafetyOptions::SaveBackup(const QString& configFileName, bool on)
{
    IniFile::writeString(configFileName, Section, KeyBackup, on ? "1" : "0");
}
