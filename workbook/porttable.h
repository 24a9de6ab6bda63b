#pragma once
#include "portinfo.h"
#include <QList>
#include <QString>

// The ports as the operator chooses among them: each with the COMn that
// reaches it today ("-" for none). Ports mapped in KYR.CFG [Devices] are
// listed under their COMn even when the system does not enumerate them (a
// pseudo-terminal, a device server on the network).
struct PortRow {
    QString name;   // COMn or "-"
    SerialPortEntry port;
    bool network = false;   // not probed: the state of a device server is not known before connecting
    QString stateText() const { return network ? QStringLiteral("-") : port.stateText(); }
};

// Highest COMn looked up in [Devices].
constexpr int MaxMappedPort = 99;

QList<PortRow> PortTable();
QList<PortRow> PortTable(const QList<SerialPortEntry>& enumerated);

// Maps COMn to `path` in KYR.CFG [Devices] (EIniError when it cannot be written).
void MapPort(int comNumber, const QString& path);
