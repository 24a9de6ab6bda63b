#include "sessionport.h"
#include "iosession.h"
#include "receivequeue.h"
#include <QMetaObject>
#include <QtGlobal>
#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
constexpr uint32_t MaxQuietMs = 60000;
}

TSessionPort::TSessionPort(QObject* parent) : QObject(parent) {}

// The derived port closes itself: its devices and threads are gone by now.
TSessionPort::~TSessionPort() = default;

void TSessionPort::ClosePort()
{
    if (Session)
        StopSession();
}

bool TSessionPort::Install(std::unique_ptr<IoSession> s)
{
    s->generation = ++Generation;
    s->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s->wake < 0) {
        const int e = errno;
        CloseDevice(s->fd);
        errno = e;
        return false;
    }
    Session = std::move(s);
    return true;
}

void TSessionPort::StopSession()
{
    Session->signalStop();
    AwaitThreads(*Session);
    DropSession();
}

void TSessionPort::DropSession()
{
    ::close(Session->wake);
    CloseDevice(Session->fd);
    Session.reset();
}

void TSessionPort::AwaitThreads(IoSession& s) { s.joinThreads(); }

void TSessionPort::CloseDevice(int fd) { ::close(fd); }

void TSessionPort::SetQuietTime(uint32_t ms)
{
    if (Session)
        Session->quietMs = static_cast<int>(qMin(ms, MaxQuietMs));
}

QByteArray TSessionPort::Wire(const uint8_t* data, uint16_t count) const
{
    return QByteArray(reinterpret_cast<const char*>(data), count);
}

bool TSessionPort::WriteData(const uint8_t* data, uint16_t count)
{
    if (!Session || count == 0 || !data || Session->writerEnded)
        return false;
    if (!Session->enqueue(WriteSeq + 1, Wire(data, count)))
        return false;
    ++WriteSeq;
    return true;
}

uint64_t TSessionPort::sessionGeneration() const { return Session ? Session->generation : 0; }

// A notice runs only while the session it came from is still the open one:
// after a close or a reopen it is dropped.
void TSessionPort::Post(IoSession* s, std::function<void()> fn)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation = s->generation, fn = std::move(fn)] {
            if (sessionGeneration() == generation)
                fn();
        },
        Qt::QueuedConnection);
}

void TSessionPort::PostHangup(IoSession* s)
{
    if (s->stopping)   // closing is no hang-up
        return;
    Post(s, [this] {
        if (OnRequestHangup)
            OnRequestHangup();
    });
}

void TSessionPort::HandOn(IoSession* s, Burst& b)
{
    if (b.bytes.isEmpty())
        return;
    uint64_t dropped = 0;
    if (s->received.push(b.bytes.constData(), size_t(b.bytes.size()), b.stamp, &dropped))
        Post(s, [this] { DeliverReceived(); });
    Dropped.fetch_add(dropped);
    b.bytes.clear();
}

void TSessionPort::Restamp(IoSession* s, Burst& b)
{
    // Read after the bytes arrived: a block not yet started now was not on
    // the line when they came.
    const uint64_t seen = WritesStarted.load();
    if (!b.bytes.isEmpty() && seen != b.stamp)
        HandOn(s, b);
    b.stamp = seen;
}

void TSessionPort::HandOnWhenDone(IoSession* s, Burst& b)
{
    const size_t held = size_t(b.bytes.size());
    if (held >= ReceiveQueue::MaxChunk || Awaited.heldIn(held, b.stamp))
        HandOn(s, b);
}

void TSessionPort::DeliverReceived()
{
    const uint64_t gen = Session->generation;
    ReceiveQueue::deliver(
        Session->received.take(), [this, gen] { return Session && Session->generation == gen; }, OnReceiveData);
}

void TSessionPort::WriteBlocks(IoSession* s, uint64_t drainedUpTo)
{
    bool notice = true;   // the queue starts empty: one drain notice after opening
    uint64_t last = drainedUpTo;
    for (;;) {
        std::unique_lock lock(s->mutex);
        if (s->closing)
            break;
        if (s->queue.empty() && notice) {
            lock.unlock();
            if (!WaitDrained(s))
                break;
            notice = false;
            Post(s, [this, last] {
                if (OnSendDataEmpty)
                    OnSendDataEmpty(last);
            });
            continue;
        }
        std::optional<std::pair<uint64_t, QByteArray>> next = s->nextBlock(lock);
        if (!next)
            break;
        auto& [seq, bytes] = *next;
        if (seq != 0)
            WritesStarted.store(seq);
        const IoSession::Written w = s->writeAll(bytes);
        if (w == IoSession::Written::Broken)
            PostHangup(s);
        if (w != IoSession::Written::All)
            break;
        if (seq != 0) {
            last = seq;
            notice = true;
        }
    }
    s->writerEnded = true;
}
