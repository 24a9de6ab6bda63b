#include "replyreceiver.h"
#include <algorithm>
#include <cstring>

void ReplyReceiver::Reset()
{
    Decided = State::Open;
    Started = false;
    First = 0;
    Count = 0;
    FrameLength = 0;
    Wrong = 0;
}

void ReplyReceiver::ExpectCommandReply(ReplyForm form)
{
    Reset();
    Form = form;
    ExpectedLength = 0;
}

void ReplyReceiver::ExpectDataReply(const uint8_t (&header)[kyr::HeaderLength])
{
    Reset();
    Form = ReplyForm::Acknowledgement;
    std::memcpy(Header, header, sizeof Header);
    ExpectedLength = (kyr::readReplyLength(header[4]) - 1) % 256;
}

void ReplyReceiver::Hold(const uint8_t* frame, int count)
{
    std::memcpy(Bytes, frame, size_t(std::clamp(count, 0, int(sizeof Bytes))));
}

int ReplyReceiver::expectedBytes() const
{
    if (ExpectedLength > 0)
        return ExpectedLength + 1;
    return Form == ReplyForm::Acknowledgement ? 1 : 0;
}

void ReplyReceiver::Feed(const uint8_t* data, int count)
{
    if (count <= 0)
        return;
    // After a data reply completed, further bytes land from index 32 on.
    const bool dataReply = ExpectedLength > 0 && Decided != State::Complete;
    for (int i = 0; i < count && Count < kyr::MaxReply; ++i) {
        Bytes[Count++] = data[i];
        // A byte that cannot start this reply (line noise, a reply to some
        // other request) is dropped so that it cannot shift the real one.
        if (dataReply) {
            ResyncDataReply();
            if (Count > ExpectedLength)
                break;
        }
    }
    if (ExpectedLength == 0 && !Started && CommandReplyDecided())
        return;
    Started = true;
    Decided = State::Open;
    if (Count > ExpectedLength) {
        Decided = State::Complete;
        Count = 32;
    }
}

// The rules by the first byte of a command reply; false: the generic rule
// (any other first byte completes it as some other reply).
bool ReplyReceiver::CommandReplyDecided()
{
    if (Form == ReplyForm::Acknowledgement) {
        if (Bytes[0] != kyr::Ack && Bytes[0] != kyr::Refused)
            return false;
        First = Bytes[0];
        Decided = State::Complete;
        Started = true;
        Count = 0;
        return true;
    }
    if (Bytes[0] != kyr::Ack)
        return false;
    First = kyr::Ack;
    if (Bytes[Count - 1] != kyr::Etx) {
        if (Count == kyr::MaxReply) {   // a frame that never ends is a wrong reply
            First = 0;
            Decided = State::Complete;
            Started = true;
        }
        return true;   // the frame goes on
    }
    Decided = Count >= kyr::MinAllValuesFrame ? State::Complete : State::ShortFrame;
    Started = true;
    FrameLength = Count;
    Count = 0;
    return true;
}

bool ReplyReceiver::HeaderMatchesAt(int start) const
{
    if (Bytes[start] != kyr::Ack)
        return false;
    for (int k = 1; k <= kyr::HeaderLength && start + k < Count; ++k)
        if (Bytes[start + k] != Header[k - 1])
            return false;
    return true;
}

void ReplyReceiver::ResyncDataReply()
{
    int start = 0;
    while (start < Count && !HeaderMatchesAt(start))
        ++start;
    if (start == 0)
        return;
    Wrong += start;
    std::memmove(Bytes, Bytes + start, size_t(Count - start));
    Count -= start;
}

bool ReplyReceiver::checksumHolds(int e) const
{
    // Header (bytes 1..5) and data in front of the checksum, all within the stored bytes.
    if (e < kyr::HeaderLength + 1 || e >= kyr::MaxReply)
        return false;
    unsigned sum = 0;
    for (int i = 1; i < e; ++i)
        sum += Bytes[i];
    return (sum + Bytes[e]) % 256 == 0;
}

bool ReplyReceiver::checkedData(QByteArray* data) const
{
    if (Decided != State::Complete || !checksumHolds(ExpectedLength))
        return false;
    const int first = kyr::HeaderLength + 1;
    *data = QByteArray(reinterpret_cast<const char*>(Bytes + first), ExpectedLength - first);
    return true;
}

QByteArray ReplyReceiver::frame() const
{
    const int n = FrameLength > 0 ? FrameLength : kyr::MaxReply;
    return QByteArray(reinterpret_cast<const char*>(Bytes), n);
}
