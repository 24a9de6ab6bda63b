#pragma once
#include <QList>
#include <QString>

// What the system knows of its serial ports, who holds one, and what the
// operator can do when a port cannot be opened.

struct PortHolder {
    int pid = 0;
    QString program;
    bool holdsLock = false;   // holds the port's flock, as a cooperating program does
};

// Processes that have `path` open, the lock's holder first. `procRoot` is
// /proc; only what this user may see is found (/proc/locks is for everyone).
QList<PortHolder> PortHolders(const QString& path, const QString& procRoot = QStringLiteral("/proc"));

// Running programs known to take USB serial adapters for themselves.
QList<PortHolder> KnownPortGrabbers(const QString& procRoot = QStringLiteral("/proc"));
// How to stop `program` taking serial adapters; empty for any other program.
QString GrabberAdvice(const QString& program);

struct SerialPortEntry {
    enum State { Free, Busy, NoPermission, Missing };
    QString path;          // the /dev/serial/by-id name where there is one, else the node
    QString node;          // the device node (/dev/ttyUSB0)
    QString description;   // maker, product, serial number, USB ids
    State state = Free;
    QList<PortHolder> holders;
    // "free", "busy PROGRAM PID", "no permission", "missing"
    QString stateText() const;
};

// The state of one device, from its permissions and /proc (never opened).
void FillPortState(SerialPortEntry& entry);

// Serial ports with hardware behind them; built-in UARTs that report no
// hardware are left out. Sorted by path.
QList<SerialPortEntry> ListSerialPorts();

// The line under "Error opening serial port" when the open of `path`
// failed with `err`: what happened and what to do about it.
QString OpenFailureHint(const QString& path, int err);
