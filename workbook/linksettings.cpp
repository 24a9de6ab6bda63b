#include "linksettings.h"
#include "exedir.h"
#include "iniread.h"
#include "regional.h"
#include <QFile>
#include <QHash>
#include <climits>

namespace {

const QByteArray Section = QByteArrayLiteral("COMM");
const QByteArray KeyPort = QByteArrayLiteral("Port");
const QByteArray KeyBaudRate = QByteArrayLiteral("BaudRate");

} // namespace

QString LinkSettings::FileName() { return ExeDir() + QStringLiteral("KYR.CFG"); }

namespace {

// A whole number, after an optional prefix (COM) or suffix (bps) that the
// captions show; letter case and blanks do not matter.
bool readNumber(QByteArray text, const QByteArray& prefix, const QByteArray& suffix, int* out)
{
    text = text.trimmed();
    if (text.toUpper().startsWith(prefix))
        text = text.mid(prefix.size());
    if (text.toUpper().endsWith(suffix))
        text.chop(suffix.size());
    long long v = 0;
    if (!regional::parseInt(text, &v) || v < 1 || v > INT_MAX)
        return false;
    *out = int(v);
    return true;
}

} // namespace

void LinkSettings::Load()
{
    const IniFile ini(FileName());
    PortNumber = 2;
    BaudRateValue = 9600;
    Problems.clear();
    auto read = [&](const QByteArray& key, const QByteArray& prefix, const QByteArray& suffix, int* into,
                    const QString& expected, const QString& used) {
        bool found = false;
        const QByteArray text = ini.readString(Section, key, {}, &found);
        if (found && !readNumber(text, prefix, suffix, into))
            Problems << QStringLiteral("%1 [%2] %3=%4 is not understood (%5 is expected); %6 is used.")
                            .arg(FileName(), QString::fromLatin1(Section), QString::fromLatin1(key),
                                 QString::fromLatin1(text), expected, used);
    };
    read(KeyPort, "COM", {}, &PortNumber, QStringLiteral("a port number such as 2 or COM2"),
         PortCaption());
    read(KeyBaudRate, {}, "BPS", &BaudRateValue, QStringLiteral("2400 or 9600"), BaudCaption());
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

namespace {
QHash<QString, QString>& demoDevices()
{
    static QHash<QString, QString> map;
    return map;
}
} // namespace

void LinkSettings::setDemoDevice(const QString& portCaption, const QString& device)
{
    if (device.isEmpty())
        demoDevices().remove(portCaption.trimmed().toUpper());
    else
        demoDevices().insert(portCaption.trimmed().toUpper(), device);
}

QString LinkSettings::devicePath(const QString& portName)
{
    const QString name = portName.trimmed();
    int n = 0;
    if (!name.toUpper().startsWith("COM") || !readNumber(name.toLatin1(), "COM", {}, &n))
        return portName;
    const QString caption = QStringLiteral("COM%1").arg(n);
    if (const auto demo = demoDevices().constFind(caption); demo != demoDevices().cend())
        return *demo;
    const QByteArray mapped = IniFile(FileName()).readString("Devices", caption.toLatin1(), {});
    if (mapped.isEmpty())
        return portName;
    const QString device = QFile::decodeName(mapped).trimmed();
    if (device.startsWith('/') || device.contains(QLatin1String("://")))
        return device;   // a path as it stands, or a device server on the network
    return ExeDir() + device;   // beside the settings
}
