#pragma once
#include "sessionport.h"
#include <QObject>
#include <atomic>
#include <memory>
#include <optional>

// A serial device server on the network: tcp://HOST:PORT is a raw byte
// stream to the server's serial line, rfc2217://HOST:PORT is Telnet with the
// COM port control option, which also sets the server's line.
struct NetAddress {
    enum Kind { Raw, Rfc2217 };
    Kind kind = Raw;
    QString host;
    uint16_t port = 0;
    QString text() const;   // as the operator wrote it
};

// True when `name` is meant for the network (begins with tcp:// or rfc2217://).
bool IsNetworkPortName(const QString& name);
// The address of a network name; nothing with `why` set when it is malformed.
std::optional<NetAddress> ParseNetAddress(const QString& name, QString* why);

// How long a connection, and the Telnet set-up after it, may take.
constexpr int NetConnectTimeoutMs = 3000;

// One more port for the engine: the same contract as TComm (events on the
// creating thread in posting order, write-sequence stamps, one drain notice
// after opening and one per drained burst, a hang-up notice when the
// connection drops). Open failures raise ECommsError "Error opening serial
// port" with the cause under it.
class TNetPort : public TSessionPort {
    Q_OBJECT
public:
    explicit TNetPort(QObject* parent = nullptr);
    ~TNetPort() override;

    void OpenPort() override;

    void SetCommName(const QString& name) override { FCommName = name; }
    void SetBaudRate(uint32_t rate) override { SetLine(FBaudRate, rate); }
    void SetByteSize(TByteSize value) override { SetLine(FByteSize, value); }
    void SetParity(TParity value) override { SetLine(FParity, value); }
    void SetStopBits(TStopBits value) override { SetLine(FStopBits, value); }
    void SetReadIntervalTimeout(uint32_t ms) override;
    // Flow control and the modem lines are the device server's own settings.
    void SetDtrControl(TDtrControl) override {}
    void SetRtsControl(TRtsControl) override {}
    void SetTxContinueOnXoff(bool) override {}
    void SetOutx_XonXoffFlow(bool) override {}
    void SetIgnoreNullChar(bool) override {}

    QString CommName() const { return FCommName; }
    uint32_t BaudRate() const { return FBaudRate; }
    // False when the server refused the COM port option: its line keeps its own settings.
    bool LineSettingsAccepted() const { return SettingsAccepted; }

protected:
    QByteArray Wire(const uint8_t* data, uint16_t count) const override;
    // The drain of a socket: the peer has acknowledged every byte sent.
    bool WaitDrained(IoSession* s) override;

private:
    struct NetSession;

    // A changed setting goes to the server at once.
    template <class T> void SetLine(T& field, T value)
    {
        if (Changed(field, value))
            SendLineSettings();
    }
    int Connect(const NetAddress& a);
    void Negotiate(int fd, const NetAddress& a, QByteArray* early);
    void StartThreads(const QByteArray& early);
    void SendLineSettings();
    void ReadLoop(NetSession* s);
    void QueueControl(NetSession* s, const QByteArray& bytes);

    bool SettingsAccepted = true;

    QString FCommName;
    uint32_t FBaudRate = 9600;
    TByteSize FByteSize = TByteSize::_8;
    TParity FParity = TParity::None;
    TStopBits FStopBits = TStopBits::_1;
    uint32_t FReadIntervalTimeout = 100;
};
