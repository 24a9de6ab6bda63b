#include "porttable.h"
#include "comm.h"
#include "inifile.h"
#include "linkport.h"
#include "linksettings.h"
#include <QFile>
#include <QFileInfo>

namespace {

QString Canonical(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}

QString DescribeUnlisted(const QString& path)
{
    if (path.startsWith("/dev/pts/"))
        return QStringLiteral("pseudo-terminal");
    if (!QFileInfo::exists(path))
        return QStringLiteral("not present");
    return QStringLiteral("serial device");
}

} // namespace

QList<PortRow> PortTable() { return PortTable(ListSerialPorts()); }

QList<PortRow> PortTable(const QList<SerialPortEntry>& enumerated)
{
    QList<PortRow> rows;
    for (const SerialPortEntry& e : enumerated)
        rows << PortRow{QStringLiteral("-"), e, false};

    QList<PortRow> unlisted;
    for (int n = 1; n <= MaxMappedPort; ++n) {
        const QString com = "COM" + QString::number(n);
        const QString resolved = LinkSettings::devicePath(com);   // [Devices], else the name
        const bool mapped = resolved != com;
        const QString net = NetworkNameFor(resolved);
        const QString device = net.isEmpty() ? SerialDevicePath(resolved) : net;
        bool found = false;
        for (PortRow& r : rows)
            if (r.name == "-" && net.isEmpty() && Canonical(r.port.node) == Canonical(device)) {
                r.name = com;   // the default COMn = /dev/ttyS<n-1> counts too
                found = true;
            }
        if (found || !mapped)
            continue;
        PortRow r;
        r.name = com;
        r.network = !net.isEmpty();
        r.port.path = r.port.node = device;
        if (r.network) {
            r.port.description = net.startsWith("rfc2217", Qt::CaseInsensitive)
                                     ? QStringLiteral("serial device server (Telnet, COM port control)")
                                     : QStringLiteral("serial device server (raw TCP)");
        } else {
            r.port.description = DescribeUnlisted(device);
            FillPortState(r.port);
        }
        unlisted << r;
    }
    return rows + unlisted;
}

void MapPort(int comNumber, const QString& path)
{
    IniFile::writeString(LinkSettings::FileName(), "Devices", "COM" + QByteArray::number(comNumber),
                         QFile::encodeName(path));
}
