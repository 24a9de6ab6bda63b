#include "kyrbuscomm.h"
#include "atomicfile.h"
#include "comm.h"
#include "exedir.h"
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
    //
    // Bytes that no request waits for (between requests, or while the line
    // is being let fall quiet) are counted and dropped, never kept: a device
    // that talks without pause must not fill the memory or the trace.
    PortRef->OnReceiveData = [this](const uint8_t* data, int count, uint64_t writesStarted) {
        if (Quieting)
            QuietBroken = true;
        if (writesStarted < FrameSeq || !Waiting || Quieting) {
            TraceIdleBytes(data, count);
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
        TraceLinesDropped = 0;
        IdleBytesDropped = 0;
        SpellTraced = SpellUntraced = 0;
        return;
    }
    PortRef->SetDtrControl(DtrDisable);   // DTR drops before the close
    Active = false;
    PortRef->ClosePort();
    CloseIdleSpell();
    TrimTrace(0);
    QByteArray log;
    if (TraceLinesDropped > 0)
        log += QStringLiteral("(%1 earlier lines of this trace were dropped: it keeps the last %2)\r\n")
                   .arg(TraceLinesDropped)
                   .arg(TraceMaxLines)
                   .toLatin1();
    for (const QString& line : std::as_const(Trace))
        log += line.toLatin1() + "\r\n";
    WriteFileAtomically(ExeDir() + "DEBUG.LOG", log);
}

int TKYRBusComm::Retries() const { return std::clamp(RetryCount, 0, 10); }

namespace {

// What a failed attempt saw, for the cause of the request's failure.
QString AttemptCause(int outcome, bool checksumError, uint8_t firstByte, int wrongReplies,
                     const uint8_t* header, int attempts, int intervalMs)
{
    if (checksumError)
        return QStringLiteral("the scale's reply failed its checksum");
    if (outcome == TKYRBusComm::ReplyAA || firstByte == 0xAA)
        return QStringLiteral("the scale refused the request (0xAA)");
    if (outcome == TKYRBusComm::ReplyOther && firstByte == 0)
        return QStringLiteral("the scale gave a wrong reply");
    if (wrongReplies > 0)
        return QStringLiteral("the scale's replies did not start with the request's header "
                              "(02 %1); a scale whose replies never echo it cannot be read")
            .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(header), 5)
                                         .toHex(' ')
                                         .toUpper()));
    return QStringLiteral("no reply from the scale after %1 attempts (%2 ms each)")
        .arg(attempts)
        .arg(intervalMs);
}

} // namespace

bool TKYRBusComm::SendCommand(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    int frameLength = 1;
    CommandFrame[0] = command;
    if (command != 0x44 && command != 0x05) {
        if (length > MaxWriteLength) {   // would run past the frame and Buffer
            Aborted = true;
            NoteFailure(QStringLiteral("the request is too long (%1 data bytes)").arg(length));
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
    WrongReplies = 0;
    for (int n = 0;; ++n) {
        std::memcpy(ReceiveBuffer, CommandFrame, size_t(frameLength));
        if (n > 0)
            TraceRetry(n);
        SendFrame(ReceiveBuffer, frameLength);
        const int outcome = WaitReply(0, RetryInterval);
        if (ReplyState == 2) {
            Aborted = true;
            NoteFailure(QStringLiteral("the scale's frame was shorter than 20 bytes"));
            return false;
        }
        if (Aborted) {
            NoteFailure({});
            return false;
        }
        if (outcome == ReplySTX) {
            // The acknowledgement may have been the late one of an earlier
            // attempt; this attempt's own must not answer the next request.
            if (n > 0)
                WaitForQuiet();
            NoteFailure({});
            return !Aborted;
        }
        if (n >= Retries()) {
            Aborted = true;
            NoteFailure(AttemptCause(outcome, false, ReceiveBuffer[0] == 0xAA ? 0xAA : FirstByte, 0,
                                     CommandFrame, n + 1, RetryInterval));
            return false;
        }
        // A Cancel while the line falls quiet must not be lost to the next
        // attempt's wait, which starts afresh.
        WaitForQuiet();
        if (Aborted) {
            NoteFailure({});
            return false;
        }
    }
}

bool TKYRBusComm::ReadBlock(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    if (length > MaxReadLength) {   // the reply could not be stored whole
        Aborted = true;
        NoteFailure(QStringLiteral("the request is too long (%1 data bytes)").arg(length));
        return false;
    }
    WrongReplies = 0;
    for (int n = 0;; ++n) {
        ChecksumError = false;
        if (n > 0)
            TraceRetry(n);
        SendReadRequest(command, bank, address, length);
        const int outcome = WaitReply((length + 6) % 256, RetryInterval);
        if (outcome == ReplyOther) {
            CheckReply(ExpectedLength);
            if (!ChecksumError) {
                if (n > 0)
                    WaitForQuiet();
                NoteFailure({});
                return !Aborted;
            }
        }
        if (Aborted || n >= Retries()) {
            const bool cancelled = Aborted;
            Aborted = true;
            NoteFailure(cancelled ? QString()
                                  : AttemptCause(outcome, ChecksumError, 1, WrongReplies, ReadHeader,
                                                 n + 1, RetryInterval));
            return false;
        }
        WaitForQuiet();
        if (Aborted) {
            NoteFailure({});
            return false;
        }
    }
}

void TKYRBusComm::NoteFailure(const QString& cause)
{
    if (!cause.isEmpty())
        FailureCause = cause;
    else if (HungUp)
        FailureCause = QStringLiteral("the line hung up");
    else if (Aborted)
        FailureCause = QStringLiteral("cancelled");
    else
        FailureCause.clear();
}

int TKYRBusComm::QuietGapMs() const
{
    const uint32_t baud = std::max<uint32_t>(FBaudRate, 1);
    const int chars = int((uint64_t(QuietChars) * 10 * 1000 + baud - 1) / baud);
    return std::max(QuietMinMs, chars);
}

void TKYRBusComm::WaitForQuiet()
{
    if (Aborted || HungUp)
        return;
    const int gap = QuietGapMs();
    const int bound = RetryInterval > 0 ? RetryInterval : gap;
    const int64_t end = Clock->NowMs() + bound;
    Quieting = true;
    for (;;) {
        const int64_t left = end - Clock->NowMs();
        if (left <= 0)
            break;
        TimedOut = 0;
        QuietBroken = false;
        Clock->StartTimer(int(std::min<int64_t>(gap, left)));
        while (TimedOut == 0 && !QuietBroken && !Aborted)
            Clock->ProcessEvents();
        Clock->StopTimer();
        if (Aborted || (TimedOut != 0 && !QuietBroken))
            break;
    }
    Quieting = false;
    TimedOut = 0;
}

void TKYRBusComm::SendReadRequest(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    ReceiveBuffer[0] = command;
    ReceiveBuffer[1] = bank;
    ReceiveBuffer[2] = uint8_t(address >> 8);
    ReceiveBuffer[3] = uint8_t(address);
    ReceiveBuffer[4] = length;
    ReceiveBuffer[5] = Checksum(ReceiveBuffer, 5);
    std::memcpy(ReadHeader, ReceiveBuffer, sizeof ReadHeader);
    SendFrame(ReceiveBuffer, command == 0x05 ? 1 : 6);
}

void TKYRBusComm::ExpectReadReply(uint8_t command, uint8_t bank, uint16_t address, uint8_t length)
{
    ReadHeader[0] = command;
    ReadHeader[1] = bank;
    ReadHeader[2] = uint8_t(address >> 8);
    ReadHeader[3] = uint8_t(address);
    ReadHeader[4] = length;
    ExpectedLength = (length + 6) % 256;
}

void TKYRBusComm::Cancel() { Aborted = true; }

void TKYRBusComm::SendFrame(const uint8_t* bytes, int count)
{
    CloseIdleSpell();
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
    Waiting = true;
    while (!SendEmpty && !Aborted)
        Clock->ProcessEvents();
    TimedOut = 0;
    if (interval > 0 && !Aborted)
        Clock->StartTimer(interval);
    while (TimedOut == 0 && !Aborted && ReplyState <= 0)
        Clock->ProcessEvents();
    Waiting = false;

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
    TraceReceived(data, count);
    if (count == 0)
        return;
    const bool dataReply = ExpectedLength > 0 && ReplyState != 1;
    for (int i = 0; i < count && ReceiveCount < 64; ++i) {
        ReceiveBuffer[ReceiveCount++] = data[i];
        // A byte that cannot start this reply (line noise, a reply to some
        // other request) is dropped so that it cannot shift the real one.
        if (dataReply) {
            ResyncDataReply();
            if (ReceiveCount > ExpectedLength)
                break;
        }
    }
    if (ExpectedLength == 0 && ReplyState == -1 && CommandReplyDecided())
        return;
    ReplyState = 0;
    if (ReceiveCount > ExpectedLength) {
        ReplyState = 1;
        ReceiveCount = 32;
    }
}

// The rules by the first byte of a command reply; false: the generic rule
// (any other first byte completes it as some other reply).
bool TKYRBusComm::CommandReplyDecided()
{
    if (!FrameMode) {
        if (ReceiveBuffer[0] != 0x02 && ReceiveBuffer[0] != 0xAA)
            return false;
        FirstByte = ReceiveBuffer[0];
        ReplyState = 1;
        ReceiveCount = 0;
        return true;
    }
    if (ReceiveBuffer[0] != 0x02)
        return false;
    FirstByte = 0x02;
    if (ReceiveBuffer[ReceiveCount - 1] != 0x03) {
        if (ReceiveCount == 64) {   // a frame that never ends is a wrong reply
            FirstByte = 0;
            ReplyState = 1;
        }
        return true;   // the frame goes on
    }
    if (ReceiveCount >= 20) {
        ReplyState = 1;
    } else {
        FrameError = true;
        ReplyState = 2;
    }
    ReceiveCount = 0;
    return true;
}

// A data reply starts with 0x02 and echoes the request's five header bytes.
bool TKYRBusComm::HeaderMatchesAt(int start) const
{
    if (ReceiveBuffer[start] != 0x02)
        return false;
    for (int k = 1; k <= 5 && start + k < ReceiveCount; ++k)
        if (ReceiveBuffer[start + k] != ReadHeader[k - 1])
            return false;
    return true;
}

void TKYRBusComm::ResyncDataReply()
{
    int start = 0;
    while (start < ReceiveCount && !HeaderMatchesAt(start))
        ++start;
    if (start == 0)
        return;
    WrongReplies += start;   // bytes that came but could not start this reply
    std::memmove(ReceiveBuffer, ReceiveBuffer + start, size_t(ReceiveCount - start));
    ReceiveCount -= start;
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
    static const char digits[] = "0123456789ABCDEF";
    Trace << QString::fromLatin1(header);
    char line[16 * 3];
    int used = 0;
    for (int i = 0; i < count; ++i) {
        line[used++] = digits[data[i] >> 4];
        line[used++] = digits[data[i] & 15];
        line[used++] = ' ';
        if (i % 16 == 15 || i == count - 1) {
            Trace << QString::fromLatin1(line, used);
            used = 0;
        }
    }
    Trace << QString();
    TrimTrace();
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

void TKYRBusComm::TraceIdleBytes(const uint8_t* data, int count)
{
    IdleBytesDropped += uint64_t(std::max(count, 0));
    TraceReceived(data, count);
}

void TKYRBusComm::CloseIdleSpell()
{
    if (SpellUntraced > 0 && TraceEnabled != 0) {
        Trace << QStringLiteral("(%1 more bytes received were not traced)").arg(SpellUntraced) << QString();
        TrimTrace();
    }
    SpellTraced = SpellUntraced = 0;
}

void TKYRBusComm::TrimTrace(int slack)
{
    if (Trace.size() <= TraceMaxLines + slack)
        return;
    const qsizetype cut = Trace.size() - TraceMaxLines;
    Trace.remove(0, cut);
    TraceLinesDropped += cut;
}

void TKYRBusComm::TraceRetry(int attempt)
{
    if (TraceEnabled == 0)
        return;
    Trace << QString() << "Retry:" + QString::number(attempt);
}
