#pragma once
#include "port.h"
#include <memory>

class TComm;
class TNetPort;

// The port the engine opens: at each open it picks, by the name, the serial
// line (TComm) or a device server on the network (TNetPort). A network name
// is given as it is (tcp://HOST:PORT, rfc2217://HOST:PORT); the link
// settings resolve a COMn of KYR.CFG [Devices] before. Line settings reach both; events come from the
// one in use, and write blocks stay numbered in one series across both.
class TLinkPort : public IPort {
public:
    TLinkPort();
    ~TLinkPort() override;

    void OpenPort() override;
    void ClosePort() override;
    bool isOpen() const override;
    bool WriteData(const uint8_t* data, uint16_t count) override;
    uint64_t WriteSequence() const override { return Seq; }
    void ExpectReply(int bytes) override { Used->ExpectReply(bytes); }

    void SetCommName(const QString& name) override;
    void SetBaudRate(uint32_t rate) override;
    void SetDtrControl(TDtrControl value) override;
    void SetRtsControl(TRtsControl value) override;
    void SetTxContinueOnXoff(bool value) override;
    void SetOutx_XonXoffFlow(bool value) override;
    void SetIgnoreNullChar(bool value) override;
    void SetByteSize(TByteSize value) override;
    void SetParity(TParity value) override;
    void SetStopBits(TStopBits value) override;
    void SetReadIntervalTimeout(uint32_t ms) override;

    // The port the last open used (the serial line before any open).
    IPort* Current() const { return Used; }

private:
    void Forward(IPort* inner, uint64_t* offset);
    template <class F> void Both(F f);

    std::unique_ptr<TComm> Serial;
    std::unique_ptr<TNetPort> Net;
    IPort* Used;
    uint64_t Seq = 0;
    uint64_t SerialOffset = 0, NetOffset = 0;   // the series' number = the inner one's + offset
    QString Name;
};

// The network address a port name is (blanks trimmed); empty for a serial line.
QString NetworkNameFor(const QString& commName);

// The engine's port.
std::unique_ptr<IPort> MakeLinkPort();
