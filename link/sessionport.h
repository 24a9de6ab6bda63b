#pragma once
#include "awaitedreply.h"
#include "port.h"
#include <QByteArray>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <utility>

struct IoSession;

// What the serial line and the network port share: per open, one session
// with a reader and a writer thread; write blocks numbered for the life of
// the object; notices posted to the owner's thread, dropped once the
// session they came from has ended.
class TSessionPort : public QObject, public IPort {
    Q_OBJECT
public:
    ~TSessionPort() override;

    void ClosePort() override;
    bool isOpen() const override { return Session != nullptr; }
    bool WriteData(const uint8_t* data, uint16_t count) override;
    uint64_t WriteSequence() const override { return WriteSeq; }
    // Numbers the opens from 1; 0 while closed. Notices of an earlier open are dropped.
    uint64_t sessionGeneration() const;
    void ExpectReply(int bytes) override { Awaited.expect(WriteSeq + 1, bytes); }
    // Received bytes dropped because the owner had not taken the bytes
    // before them (a device that talks faster than they are handled).
    uint64_t DroppedBytes() const { return Dropped.load(); }

protected:
    explicit TSessionPort(QObject* parent);

    // Stores a property; true when the value changed.
    template <class T> static bool Changed(T& field, T value) { return std::exchange(field, value) != value; }

    // Makes `s` (its fd open) the open session. False with errno set when its
    // wake-up event cannot be made; the fd is closed then.
    bool Install(std::unique_ptr<IoSession> s);
    template <class S> S* SessionAs() const { return static_cast<S*>(Session.get()); }
    // Ends the threads of the open session and drops it.
    void StopSession();
    // Drops the open session whose threads never ran or have ended.
    void DropSession();
    // The reader's idle time that ends a burst, while open.
    void SetQuietTime(uint32_t ms);

    // What the reader holds until the line falls quiet, and the last block
    // whose writing had begun when it read them.
    struct Burst {
        QByteArray bytes;
        uint64_t stamp = 0;
    };
    // Hands the burst on to the owner's thread.
    void HandOn(IoSession* s, Burst& b);
    // Before appending bytes just read: what came before a newer block began goes on alone.
    void Restamp(IoSession* s, Burst& b);
    // After appending: a full burst, or one that holds the awaited reply, goes on now.
    void HandOnWhenDone(IoSession* s, Burst& b);

    // The writer: blocks in queue order, one drain notice after opening and
    // one per drained burst. Blocks numbered 0 are the port's own control bytes.
    void WriteBlocks(IoSession* s, uint64_t drainedUpTo);
    // Notices to the owner's thread, from the reader and the writer.
    void Post(IoSession* s, std::function<void()> fn);
    // The line hung up (device gone, connection dropped); not while closing.
    void PostHangup(IoSession* s);

    // The bytes the line carries for a block of the engine's.
    virtual QByteArray Wire(const uint8_t* data, uint16_t count) const;
    // Waits until what was written has left; false when the port closes or
    // the line fails (the hang-up is posted then).
    virtual bool WaitDrained(IoSession* s) = 0;
    // Waits for the reader and the writer, told to stop, to end.
    virtual void AwaitThreads(IoSession& s);
    // Gives the device or the connection back.
    virtual void CloseDevice(int fd);

    std::unique_ptr<IoSession> Session;
    uint64_t WriteSeq = 0;   // last block number WriteData handed out
    std::atomic<uint64_t> WritesStarted{0};
    AwaitedReply Awaited;

private:
    void DeliverReceived();

    uint64_t Generation = 0;   // numbers the sessions; stale notifications are dropped
    std::atomic<uint64_t> Dropped{0};
};
