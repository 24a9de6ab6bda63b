#include "linkport.h"
#include "comm.h"
#include "netport.h"

QString NetworkNameFor(const QString& commName)
{
    const QString name = commName.trimmed();
    return IsNetworkPortName(name) ? name : QString();
}

std::unique_ptr<IPort> MakeLinkPort() { return std::make_unique<TLinkPort>(); }

TLinkPort::TLinkPort()
    : Serial(std::make_unique<TComm>()), Net(std::make_unique<TNetPort>()), Used(Serial.get())
{
    Forward(Serial.get(), &SerialOffset);
    Forward(Net.get(), &NetOffset);
}

TLinkPort::~TLinkPort()
{
    ClosePort();
}

void TLinkPort::Forward(IPort* inner, uint64_t* offset)
{
    inner->OnReceiveData = [this, offset](const uint8_t* data, int count, uint64_t started) {
        if (OnReceiveData)
            OnReceiveData(data, count, started + *offset);
    };
    inner->OnSendDataEmpty = [this, offset](uint64_t done) {
        if (OnSendDataEmpty)
            OnSendDataEmpty(done + *offset);
    };
    inner->OnRequestHangup = [this] {
        if (OnRequestHangup)
            OnRequestHangup();
    };
}

template <class F> void TLinkPort::Both(F f)
{
    f(static_cast<IPort*>(Serial.get()));
    f(static_cast<IPort*>(Net.get()));
}

void TLinkPort::OpenPort()
{
    if (isOpen())
        return;
    const QString net = NetworkNameFor(Name);
    IPort* next = net.isEmpty() ? static_cast<IPort*>(Serial.get()) : Net.get();
    if (!net.isEmpty())
        Net->SetCommName(net);
    // The new port's numbers continue the series where the last one left it.
    (next == Serial.get() ? SerialOffset : NetOffset) = Seq - next->WriteSequence();
    Used = next;
    Used->OpenPort();
}

void TLinkPort::ClosePort()
{
    Serial->ClosePort();
    Net->ClosePort();
}

bool TLinkPort::isOpen() const { return Serial->isOpen() || Net->isOpen(); }

bool TLinkPort::WriteData(const uint8_t* data, uint16_t count)
{
    if (!Used->WriteData(data, count))
        return false;
    Seq = Used->WriteSequence() + (Used == Serial.get() ? SerialOffset : NetOffset);
    return true;
}

void TLinkPort::SetCommName(const QString& name)
{
    Name = name;
    Serial->SetCommName(name);
}

void TLinkPort::SetBaudRate(uint32_t rate) { Both([=](IPort* p) { p->SetBaudRate(rate); }); }
void TLinkPort::SetDtrControl(TDtrControl v) { Both([=](IPort* p) { p->SetDtrControl(v); }); }
void TLinkPort::SetRtsControl(TRtsControl v) { Both([=](IPort* p) { p->SetRtsControl(v); }); }
void TLinkPort::SetTxContinueOnXoff(bool v) { Both([=](IPort* p) { p->SetTxContinueOnXoff(v); }); }
void TLinkPort::SetOutx_XonXoffFlow(bool v) { Both([=](IPort* p) { p->SetOutx_XonXoffFlow(v); }); }
void TLinkPort::SetIgnoreNullChar(bool v) { Both([=](IPort* p) { p->SetIgnoreNullChar(v); }); }
void TLinkPort::SetByteSize(TByteSize v) { Both([=](IPort* p) { p->SetByteSize(v); }); }
void TLinkPort::SetParity(TParity v) { Both([=](IPort* p) { p->SetParity(v); }); }
void TLinkPort::SetStopBits(TStopBits v) { Both([=](IPort* p) { p->SetStopBits(v); }); }
void TLinkPort::SetReadIntervalTimeout(uint32_t ms) { Both([=](IPort* p) { p->SetReadIntervalTimeout(ms); }); }
