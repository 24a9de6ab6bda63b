#include "kyrbuscomm.h"
#include "comm.h"
#include "linkport.h"
#include <algorithm>
#include <chrono>
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

int64_t TQtWaitClock::NowMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ------------------------------------------------------------------ engine

TKYRBusComm::TKYRBusComm(QObject* parent)
    : QObject(parent), OwnedComm(MakeLinkPort()),
      OwnedClock(std::make_unique<TQtWaitClock>())
{
    PortRef = OwnedComm.get();
    Clock = OwnedClock.get();
    Init();
}

TKYRBusComm::TKYRBusComm(IPort* port, IWaitClock* clock, ITraceSink* trace, QObject* parent)
    : QObject(parent), PortRef(port), Clock(clock), Sink(trace)
{
    Init();
}

void TKYRBusComm::Init()
{
    if (!Sink) {
        OwnedTrace = std::make_unique<TraceLog>();
        Sink = OwnedTrace.get();
    }
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

    PortRef->OnReceiveData = [this](const uint8_t* data, int count, uint64_t writesStarted) {
        OnReceived(data, count, writesStarted);
    };
    // A late drain notice of an earlier frame must not start the time-out
    // of this one before its bytes are out.
    PortRef->OnSendDataEmpty = [this](uint64_t writesDone) {
        if (writesDone >= FrameSeq)
            SendEmpty = true;
    };
    // Fail the wait in progress now rather than after every retry has timed out.
    PortRef->OnRequestHangup = [this] {
        HungUp = true;
        Aborted = true;
    };
    Clock->OnTimer = [this] {
        TimedOut = true;
        Clock->StopTimer();
    };
}

TKYRBusComm::~TKYRBusComm()
{
    Clock->StopTimer();
    Clock->OnTimer = nullptr;
    PortRef->OnReceiveData = nullptr;
    PortRef->OnSendDataEmpty = nullptr;
    PortRef->OnRequestHangup = nullptr;
}

// A chunk whose bytes had all arrived before the current frame's first byte
// went to the line cannot answer it: the port stamps each chunk with the
// last block it had started writing when it read the bytes, so a stamp below
// FrameSeq means "older than this frame". A fast reply read before the drain
// notice carries the frame's own number and counts as usual.
//
// Bytes that no request waits for (between requests, or while the line is
// let fall quiet) are counted and dropped, never kept: a device that talks
// without pause must not fill the memory or the trace.
void TKYRBusComm::OnReceived(const uint8_t* data, int count, uint64_t writesStarted)
{
    count = std::max(count, 0);
    if (State == WaitState::Quieting)
        QuietBroken = true;
    TraceReceived(data, count);
    const bool awaited = State == WaitState::Sending || State == WaitState::Waiting;
    if (awaited && writesStarted >= FrameSeq)
        Reply.Feed(data, count);
    else
        IdleDropped += uint64_t(count);
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
        IdleDropped = 0;
        SpellTraced = SpellUntraced = 0;
        Sink->Begin();
        return;
    }
    PortRef->SetDtrControl(DtrDisable);   // DTR drops before the close
    Active = false;
    PortRef->ClosePort();
    CloseIdleSpell();
    Sink->End();
}

int TKYRBusComm::Retries() const { return std::clamp(RetryCount, 0, 10); }

BusResult TKYRBusComm::SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length,
                                   ReplyForm reply)
{
    uint8_t frame[kyr::MaxWriteLength + kyr::HeaderLength + 1];
    int count = 1;
    frame[0] = command;
    if (!kyr::isSingleByteCommand(command)) {
        if (length > kyr::MaxWriteLength)   // would run past the frame
            return Finish(BusFailure::TooLong,
                          QStringLiteral("the request is too long (%1 data bytes)").arg(length));
        frame[1] = bank;
        frame[2] = uint8_t(address >> 8);
        frame[3] = uint8_t(address);
        frame[4] = length;
        std::memcpy(frame + kyr::HeaderLength, Buffer, length);
        count = length + kyr::HeaderLength;
        frame[count] = Checksum(frame, count);
        ++count;
    }
    return Request(frame, count, nullptr, reply);
}

BusResult TKYRBusComm::ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    if (length > kyr::MaxReadLength)   // the reply could not be stored whole
        return Finish(BusFailure::TooLong,
                      QStringLiteral("the request is too long (%1 data bytes)").arg(length));
    uint8_t frame[kyr::HeaderLength + 1] = {command, bank, uint8_t(address >> 8), uint8_t(address), length};
    frame[kyr::HeaderLength] = Checksum(frame, kyr::HeaderLength);
    const auto* header = reinterpret_cast<const uint8_t(*)[kyr::HeaderLength]>(frame);
    return Request(frame, command == kyr::CmdAllValues ? 1 : kyr::HeaderLength + 1, header,
                   ReplyForm::Acknowledgement);
}

namespace {

QString NoEchoCause(const uint8_t* header)
{
    return QStringLiteral("the scale's replies did not start with the request's header "
                          "(02 %1); a scale whose replies never echo it cannot be read")
        .arg(QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(header), kyr::HeaderLength).toHex(' ').toUpper()));
}

} // namespace

// Sends the frame and waits for its reply, again after each failed attempt
// up to RetryCount times. `header`: a read, whose data reply echoes it.
BusResult TKYRBusComm::Request(const uint8_t* frame, int count, const uint8_t (*header)[kyr::HeaderLength],
                               ReplyForm form)
{
    if (!Active)
        return Finish(BusFailure::NotOpen, {});
    int wrongBytes = 0;
    for (int n = 0;; ++n) {
        if (header)
            Reply.ExpectDataReply(*header);
        else
            Reply.ExpectCommandReply(form);
        Reply.Hold(frame, count);   // the reply overwrites the request
        if (n > 0)
            TraceRetry(n);
        if (!SendFrame(frame, count, Reply.expectedBytes()))
            return Finish(HungUp ? BusFailure::HungUp : BusFailure::NotOpen, {});
        const Attempt attempt = WaitReply();
        wrongBytes += Reply.wrongBytes();
        if (Reply.state() == ReplyReceiver::State::ShortFrame)
            return Finish(BusFailure::BadFrame, QStringLiteral("the scale's frame was shorter than 20 bytes"));
        if (attempt == Attempt::Cancelled)
            return Finish(BusFailure::Cancelled, {});
        QByteArray bytes;
        if (attempt == Attempt::Complete && Accepted(header != nullptr, form, &bytes)) {
            // The reply may have been the late one of an earlier attempt;
            // this attempt's own must not answer the next request.
            if ((n > 0 && !WaitForQuiet()) || Aborted)
                return Finish(BusFailure::Cancelled, {});
            Finish(BusFailure::None, {});
            return {BusFailure::None, bytes, {}};
        }
        if (n >= Retries()) {
            QString cause;
            const BusFailure failure = AttemptFailure(attempt, header ? *header : nullptr, wrongBytes, &cause);
            return Finish(failure, cause.isEmpty() ? NoReplyCause(n + 1) : cause);
        }
        // A Cancel while the line falls quiet must not be lost to the next
        // attempt's wait, which starts afresh.
        if (!WaitForQuiet())
            return Finish(BusFailure::Cancelled, {});
    }
}

// Whether a complete reply answers the request; a read's data go to Buffer.
bool TKYRBusComm::Accepted(bool read, ReplyForm form, QByteArray* bytes)
{
    if (read) {
        if (!Reply.checkedData(bytes))
            return false;
        std::memcpy(Buffer, bytes->constData(), size_t(bytes->size()));
        return true;
    }
    if (Reply.firstByte() != kyr::Ack)
        return false;
    *bytes = form == ReplyForm::WholeFrame ? Reply.frame() : QByteArray(1, char(kyr::Ack));
    return true;
}

QString TKYRBusComm::NoReplyCause(int attempts) const
{
    return QStringLiteral("no reply from the scale after %1 attempts (%2 ms each)")
        .arg(attempts)
        .arg(RetryInterval);
}

// What the last attempt saw, for the reason of the request's failure; an
// empty cause: no reply.
BusFailure TKYRBusComm::AttemptFailure(Attempt attempt, const uint8_t* header, int wrongBytes,
                                       QString* cause) const
{
    const bool complete = attempt == Attempt::Complete;
    if (header) {
        if (complete) {
            *cause = QStringLiteral("the scale's reply failed its checksum");
            return BusFailure::BadFrame;
        }
        if (wrongBytes > 0) {
            *cause = NoEchoCause(header);
            return BusFailure::WrongReply;
        }
        return BusFailure::NoReply;
    }
    if (Reply.raw()[0] == kyr::Refused || (complete && Reply.firstByte() == kyr::Refused)) {
        *cause = QStringLiteral("the scale refused the request (0xAA)");
        return BusFailure::Refused;
    }
    if (complete && Reply.firstByte() == 0) {
        *cause = QStringLiteral("the scale gave a wrong reply");
        return BusFailure::WrongReply;
    }
    return BusFailure::NoReply;
}

BusResult TKYRBusComm::Finish(BusFailure failure, QString cause)
{
    State = WaitState::Idle;
    if (failure == BusFailure::Cancelled && HungUp)
        failure = BusFailure::HungUp;
    if (cause.isEmpty()) {
        switch (failure) {
        case BusFailure::HungUp: cause = QStringLiteral("the line hung up"); break;
        case BusFailure::Cancelled: cause = QStringLiteral("cancelled"); break;
        case BusFailure::NotOpen: cause = QStringLiteral("the link to the scale is not open"); break;
        default: break;
        }
    }
    LastFailure = failure;
    LastCause = cause;
    return {failure, {}, cause};
}

int TKYRBusComm::QuietGapMs() const
{
    const uint32_t baud = std::max<uint32_t>(FBaudRate, 1);
    const int chars = int((uint64_t(QuietChars) * 10 * 1000 + baud - 1) / baud);
    return std::max(QuietMinMs, chars);
}

// Discards what arrives until no byte came for QuietGapMs(), at most
// RetryInterval in all, so that a late reply to an earlier attempt cannot
// complete a later request. False when a Cancel came meanwhile or before.
bool TKYRBusComm::WaitForQuiet()
{
    if (Aborted || HungUp)
        return !Aborted;
    const int gap = QuietGapMs();
    const int bound = RetryInterval > 0 ? RetryInterval : gap;
    const int64_t end = Clock->NowMs() + bound;
    State = WaitState::Quieting;
    for (;;) {
        const int64_t left = end - Clock->NowMs();
        if (left <= 0)
            break;
        TimedOut = false;
        QuietBroken = false;
        Clock->StartTimer(int(std::min<int64_t>(gap, left)));
        while (!TimedOut && !QuietBroken && !Aborted)
            Clock->ProcessEvents();
        Clock->StopTimer();
        if (Aborted || (TimedOut && !QuietBroken))
            break;
    }
    State = WaitState::Done;
    TimedOut = false;
    return !Aborted;
}

void TKYRBusComm::Cancel() { Aborted = true; }

bool TKYRBusComm::SendFrame(const uint8_t* bytes, int count, int replyBytes)
{
    CloseIdleSpell();
    SendEmpty = false;
    PortRef->ExpectReply(replyBytes);
    const bool sent = PortRef->WriteData(bytes, uint16_t(count));
    if (sent)
        FrameSeq = PortRef->WriteSequence();
    TraceBytes(SendHeader, bytes, count);
    return sent;
}

// One attempt's wait: for the drain notice, then for the reply under the
// time-out. A Cancel from before this wait is forgotten.
TKYRBusComm::Attempt TKYRBusComm::WaitReply()
{
    Aborted = HungUp;   // nothing can come from a port that is gone
    State = WaitState::Sending;
    while (!SendEmpty && !Aborted)
        Clock->ProcessEvents();
    State = WaitState::Waiting;
    TimedOut = false;
    if (RetryInterval > 0 && !Aborted)
        Clock->StartTimer(RetryInterval);
    while (!TimedOut && !Aborted && !Reply.decided())
        Clock->ProcessEvents();
    State = WaitState::Done;
    Clock->StopTimer();
    if (Aborted)
        return Attempt::Cancelled;
    return TimedOut ? Attempt::TimedOut : Attempt::Complete;
}

void TKYRBusComm::TraceLine(const QString& line) { Sink->Add(line); }

void TKYRBusComm::TraceBytes(const char* header, const uint8_t* data, int count)
{
    if (TraceEnabled == 0)
        return;
    static const char digits[] = "0123456789ABCDEF";
    TraceLine(QString::fromLatin1(header));
    char line[16 * 3];
    int used = 0;
    for (int i = 0; i < count; ++i) {
        line[used++] = digits[data[i] >> 4];
        line[used++] = digits[data[i] & 15];
        line[used++] = ' ';
        if (i % 16 == 15 || i == count - 1) {
            TraceLine(QString::fromLatin1(line, used));
            used = 0;
        }
    }
    TraceLine(QString());
}

void TKYRBusComm::TraceReceived(const uint8_t* data, int count)
{
    const int64_t room = std::max<int64_t>(SpellTraceBytes - SpellTraced, 0);
    const int traced = int(std::min<int64_t>(room, count));
    if (traced > 0)
        TraceBytes(ReceiveHeader, data, traced);
    SpellTraced += traced;
    SpellUntraced += count - traced;
}

void TKYRBusComm::CloseIdleSpell()
{
    if (SpellUntraced > 0 && TraceEnabled != 0) {
        TraceLine(QStringLiteral("(%1 more bytes received were not traced)").arg(SpellUntraced));
        TraceLine(QString());
    }
    SpellTraced = SpellUntraced = 0;
}

void TKYRBusComm::TraceRetry(int attempt)
{
    if (TraceEnabled == 0)
        return;
    TraceLine(QString());
    TraceLine("Retry:" + QString::number(attempt));
}
