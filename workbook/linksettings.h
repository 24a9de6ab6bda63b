#pragma once
#include <QString>
#include <QStringList>

// KYR.CFG, section [COMM]: the serial port number and the line speed; and
// [Devices], which names the device behind a port. The only reader of KYR.CFG.
class LinkSettings {
public:
    int PortNumber = 2;
    int BaudRateValue = 9600;

    static QString FileName();            // ExeDir() + "KYR.CFG"
    // Missing file or key: 2 and 9600. Port takes "COMn" as n. A value that
    // is not understood also gives the default, and Problems says so.
    void Load();
    QStringList Problems;
    // Store the choice, then write that key at once (throws EIniError; the
    // value is already stored when it does).
    void ChoosePort(int port);
    void ChooseBaudRate(int baud);

    QString PortCaption() const { return QStringLiteral("COM%1").arg(PortNumber); }
    QString BaudCaption() const { return QStringLiteral("%1bps").arg(BaudRateValue); }

    // The device behind `portName` ("COMn" or a path), read now: the demo's
    // simulated scale, else [Devices] COMn (a relative path is taken from
    // the program directory), else the name as it is, for the port to map.
    static QString devicePath(const QString& portName);
    // --demo: the port `portCaption` ("COM2") reaches `device` in this run;
    // an empty `device` ends that.
    static void setDemoDevice(const QString& portCaption, const QString& device);
};
