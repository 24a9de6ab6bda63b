#include "linksettings.h"
#include "exedir.h"
#include "iniread.h"
#include "regional.h"

namespace {

const QByteArray Section = QByteArrayLiteral("COMM");
const QByteArray KeyPort = QByteArrayLiteral("Port");
const QByteArray KeyBaudRate = QByteArrayLiteral("BaudRate");

} // namespace

QString LinkSettings::FileName() { return ExeDir() + QStringLiteral("KYR.CFG"); }

void LinkSettings::Load()
{
    const IniFile ini(FileName());
    PortNumber = ReadIniInt32(ini, Section, KeyPort, 2);
    BaudRateValue = ReadIniInt32(ini, Section, KeyBaudRate, 9600);
}

void LinkSettings::ChoosePort(int port)
{
    PortNumber = port;
    IniFile::writeString(FileName(), Section, KeyPort, regional::formatInt(PortNumber));
}

void LinkSettings::ChooseBaudRate(int baud)
{
    BaudRateValue = baud;
    IniFile::writeString(FileName(), Section, KeyBaudRate, regional::formatInt(BaudRateValue));
}
