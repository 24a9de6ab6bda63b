#include "kyrbuscomm.h"
#include "atomicfile.h"
#include "comm.h"
#include "exedir.h"
#include <algorithm>
#include <cstring>

namespace {

const char* const SendHeader = ">>>>>>Send data<<<<<<<<";
const char* const ReceiveHeader = ">>>>>>Receive data<<<<<<<<";

uint8_t Checksum(const uint8_t* bytes, int count)
{
    unsigned sum = 0;
    for (int i = 0; i < count; ++i)
        sum += bytes[i];
    return uint8_t(256 - sum % 256);
}

} // namespace

// ------------------------------------------------------------------ clock

TQtWaitClock::TQtWaitClock(QObject* parent) : QObject(parent)
{
    RetryTimer.setSingleShot(true);
    RetryTimer.setTimerType(Qt::PreciseTimer);
    connect(&RetryTimer, &QTimer::timeout, this, [this] {
        if (OnTimer)
            OnTimer();
    });
}

void TQtWaitClock::StartTimer(int ms) { RetryTimer.start(ms); }

void TQtWaitClock::StopTimer() { RetryTimer.stop(); }

void TQtWaitClock::ProcessEvents()
{
    if (!Loop)
        Loop = std::make_unique<QEventLoop>();
    Loop->processEvents(QEventLoop::WaitForMoreEvents);
}

// ------------------------------------------------------------------ engine

TKYRBusComm::TKYRBusComm(QObject* parent)
    : QObject(parent), OwnedComm(std::make_unique<TComm>()),
      OwnedClock(std::make_unique<TQtWaitClock>())
{
    PortRef = OwnedComm.get();
    Clock = OwnedClock.get();
    Init();
}

TKYRBusComm::TKYRBusComm(IPort* port, IWaitClock* clock, QObject* parent)
    : QObject(parent), PortRef(port), Clock(clock)
{
    Init();
}

void TKYRBusComm::Init()
{
    PortRef->SetBaudRate(FBaudRate);
    PortRef->SetDtrControl(DtrDisable);
    PortRef->SetTxContinueOnXoff(false);
    PortRef->SetOutx_XonXoffFlow(false);
    PortRef->SetIgnoreNullChar(false);
    PortRef->SetRtsControl(RtsEnable);
    PortRef->SetByteSize(TByteSize::_8);
    PortRef->SetParity(TParity::None);
    PortRef->SetStopBits(TStopBits::_1);
    PortRef->SetReadIntervalTimeout(1);

    // A chunk whose bytes had all arrived before the current frame's first
    // byte went to the line cannot answer it: the port stamps each chunk
    // with the last block it had started writing when it read the bytes, so
    // a stamp below FrameSeq means "older than this frame". Such a chunk is
    // traced and dropped. A fast reply read before the drain notice carries
    // the frame's own number and counts as usual.
    PortRef->OnReceiveData = [this](const uint8_t* data, int count, uint64_t writesStarted) {
        if (writesStarted < FrameSeq) {
            TraceBytes(ReceiveHeader, data, count);
            return;
        }
        CommReceiveData(data, count);
    };
    // Likewise a late drain notice of an earlier frame must not start the
    // time-out of this one before its bytes are out.
    PortRef->OnSendDataEmpty = [this](uint64_t writesDone) {
        if (writesDone >= FrameSeq)
            CommSendDataEmpty();
    };
    PortRef->OnRequestHangup = [this] { CommRequestHangup(); };
    Clock->OnTimer = [this] { RetryTimerTimer(); };
}

TKYRBusComm::~TKYRBusComm()
{
    Clock->StopTimer();
    Clock->OnTimer = nullptr;
    PortRef->OnReceiveData = nullptr;
    PortRef->OnSendDataEmpty = nullptr;
    PortRef->OnRequestHangup = nullptr;
}

void TKYRBusComm::SetBaudRate(uint32_t rate)
{
    FBaudRate = rate;
    PortRef->SetBaudRate(rate);
}

void TKYRBusComm::SetActive(bool value)
{
    if (value) {
        PortRef->SetCommName(CommName);
        PortRef->SetDtrControl(DtrEnable);
        if (Active) {
            PortRef->ClosePort();
            Active = false;   // a failing reopen leaves the link closed, not "active"
        }
        PortRef->OpenPort();
        Active = true;
        HungUp = false;
        Trace.clear();
        return;
    }
    PortRef->SetDtrControl(DtrDisable);   // DTR drops before the close
    Active = false;
    PortRef->ClosePort();
    QByteArray log;
    for (const QString& line : std::as_const(Trace))
        log += line.toLatin1() + "\r\n";
    WriteFileAtomically(ExeDir() + "DEBUG.LOG", log);
}

int TKYRBusComm::Retries() const { return std::clamp(RetryCount, 0, 10); }

bool TKYRBusComm::SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    int frameLength = 1;
    CommandFrame[0] = command;
    if (command != 0x44 && command != 0x05) {
        if (length > MaxWriteLength) {   // would run past the frame and Buffer
            Aborted = true;
            return false;
        }
        CommandFrame[1] = bank;
        CommandFrame[2] = uint8_t(address >> 8);
        CommandFrame[3] = uint8_t(address);
        CommandFrame[4] = length;
        std::memcpy(CommandFrame + 5, Buffer, length);
        CommandFrame[length + 5] = Checksum(CommandFrame, length + 5);
        frameLength = length + 6;
    }
    for (int n = 0;; ++n) {
        std::memcpy(ReceiveBuffer, CommandFrame, size_t(frameLength));
        if (n > 0)
            TraceRetry(n);
        SendFrame(ReceiveBuffer, frameLength);
        const int outcome = WaitReply(0, RetryInterval);
        if (ReplyState == 2) {
            Aborted = true;
            return false;
        }
        if (Aborted)
            return false;
        if (outcome == ReplySTX)
            return true;
        if (n >= Retries()) {
            Aborted = true;
            return false;
        }
    }
}

bool TKYRBusComm::ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    if (length > MaxReadLength) {   // the reply could not be stored whole
        Aborted = true;
        return false;
    }
    for (int n = 0;; ++n) {
        ChecksumError = false;
        if (n > 0)
            TraceRetry(n);
        SendReadRequest(command, bank, address, length);
        const int outcome = WaitReply((length + 6) % 256, RetryInterval);
        if (outcome == ReplyOther) {
            CheckReply(ExpectedLength);
            if (!ChecksumError)
                return true;
        }
        if (Aborted || n >= Retries()) {
            Aborted = true;
            return false;
        }
    }
}

void TKYRBusComm::SendReadRequest(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    ReceiveBuffer[0] = command;
    ReceiveBuffer[1] = bank;
    ReceiveBuffer[2] = uint8_t(address >> 8);
    ReceiveBuffer[3] = uint8_t(address);
    ReceiveBuffer[4] = length;
    ReceiveBuffer[5] = Checksum(ReceiveBuffer, 5);
    SendFrame(ReceiveBuffer, command == 0x05 ? 1 : 6);
}

void TKYRBusComm::Cancel() { Aborted = true; }

void TKYRBusComm::SendFrame(const uint8_t* bytes, int count)
{
    SendEmpty = false;
    if (PortRef->WriteData(bytes, uint16_t(count)))
        FrameSeq = PortRef->WriteSequence();
    TraceBytes(SendHeader, bytes, count);
}

void TKYRBusComm::ResetReply()
{
    Aborted = false;
    FirstByte = 0;
    ReplyState = -1;
    ReceiveCount = 0;
}

int TKYRBusComm::WaitReply(int expectedLength, int interval)
{
    ResetReply();
    ExpectedLength = expectedLength;
    if (HungUp)
        Aborted = true;   // nothing can come from a port that is gone
    while (!SendEmpty && !Aborted)
        Clock->ProcessEvents();
    TimedOut = 0;
    if (interval > 0 && !Aborted)
        Clock->StartTimer(interval);
    while (TimedOut == 0 && !Aborted && ReplyState <= 0)
        Clock->ProcessEvents();

    int outcome = ReplyOther;
    if (Aborted)
        outcome = WaitCancelled;
    else if (TimedOut != 0)
        outcome = WaitTimedOut;
    else if (FirstByte == 0xAA)
        outcome = ReplyAA;
    else if (FirstByte == 0x02)
        outcome = ReplySTX;
    Clock->StopTimer();
    return outcome;
}

void TKYRBusComm::CommReceiveData(const uint8_t* data, int count)
{
    count = std::max(count, 0);
    TraceBytes(ReceiveHeader, data, count);
    if (count == 0)
        return;
    const int stored = std::min(count, 64 - ReceiveCount);
    if (stored > 0) {
        std::memcpy(ReceiveBuffer + ReceiveCount, data, size_t(stored));
        ReceiveCount += stored;
    }
    if (ExpectedLength == 0 && ReplyState == -1) {
        if (FrameMode) {
            if (ReceiveBuffer[0] == 0x02) {
                FirstByte = 0x02;
                if (ReceiveBuffer[ReceiveCount - 1] != 0x03)
                    return;   // the frame goes on
                if (ReceiveCount >= 20) {
                    ReplyState = 1;
                } else {
                    FrameError = true;
                    ReplyState = 2;
                }
                ReceiveCount = 0;
                return;
            }
        } else if (ReceiveBuffer[0] == 0x02 || ReceiveBuffer[0] == 0xAA) {
            FirstByte = ReceiveBuffer[0];
            ReplyState = 1;
            ReceiveCount = 0;
            return;
        }
    }
    ReplyState = 0;
    if (ReceiveCount > ExpectedLength) {
        ReplyState = 1;
        ReceiveCount = 32;
    }
}

void TKYRBusComm::CommSendDataEmpty() { SendEmpty = true; }

void TKYRBusComm::RetryTimerTimer()
{
    TimedOut = -1;
    Clock->StopTimer();
}

void TKYRBusComm::CommRequestHangup()
{
    // Fail the wait in progress now rather than after every retry has timed out.
    HungUp = true;
    Aborted = true;
}

void TKYRBusComm::CheckReply(int expectedLength)
{
    // Header (bytes 1..5) and data in front of the checksum, all within the 64 stored bytes.
    const int e = expectedLength;
    if (e < 6 || e > 63) {
        ChecksumError = true;
        return;
    }
    unsigned sum = 0;
    for (int i = 1; i < e; ++i)
        sum += ReceiveBuffer[i];
    if ((sum + ReceiveBuffer[e]) % 256 == 0)
        std::memcpy(Buffer, ReceiveBuffer + 6, size_t(e - 6));
    else
        ChecksumError = true;
}

void TKYRBusComm::TraceBytes(const char* header, const uint8_t* data, int count)
{
    if (TraceEnabled == 0)
        return;
    Trace << QString::fromLatin1(header);
    QString line;
    for (int i = 0; i < count; ++i) {
        line += QString::asprintf("%2.2X ", data[i]);
        if (i % 16 == 15) {
            Trace << line;
            line.clear();
        }
    }
    if (!line.isEmpty())
        Trace << line;
    Trace << QString();
}

void TKYRBusComm::TraceRetry(int attempt)
{
    if (TraceEnabled == 0)
        return;
    Trace << QString() << "Retry:" + QString::number(attempt);
}
