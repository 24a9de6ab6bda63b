#pragma once
#include <QByteArray>
#include <algorithm>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

// Received bytes on their way from a port's reader thread to its owner.
// Bounded: beyond MaxPending bytes the newest are dropped, so that a device
// that never stops talking cannot fill the memory while the owner's thread
// is busy. The owner is told once for all that piled up.
class ReceiveQueue {
public:
    static constexpr size_t MaxChunk = 2048;           // bytes handed on in one call at most
    static constexpr size_t MaxPending = 64 * 1024;
    using Chunks = std::deque<std::pair<uint64_t, QByteArray>>;   // stamp, bytes

    // Queues bytes read after block `stamp` began; `dropped` counts what did
    // not fit. True when the owner must be told (no notice is on its way).
    bool push(const char* data, size_t count, uint64_t stamp, uint64_t* dropped)
    {
        std::lock_guard lock(Mutex);
        const size_t kept = std::min(MaxPending - PendingBytes, count);
        *dropped += count - kept;
        if (kept > 0) {
            if (!Pending.empty() && Pending.back().first == stamp &&
                size_t(Pending.back().second.size()) + kept <= MaxChunk)
                Pending.back().second.append(data, qsizetype(kept));
            else
                Pending.emplace_back(stamp, QByteArray(data, qsizetype(kept)));
            PendingBytes += kept;
        }
        if (Posted || Pending.empty())
            return false;
        Posted = true;
        return true;
    }

    // The owner takes all that came; the next push tells it again.
    Chunks take()
    {
        std::lock_guard lock(Mutex);
        Chunks taken;
        taken.swap(Pending);
        PendingBytes = 0;
        Posted = false;
        return taken;
    }

    // Hands each chunk to `deliver` while `stillOpen()` (a handler may close
    // the port: the rest is then for nobody).
    template <class StillOpen, class Deliver>
    static void deliver(const Chunks& taken, StillOpen stillOpen, const Deliver& onReceive)
    {
        for (const auto& [seen, bytes] : taken) {
            if (!stillOpen() || !onReceive)
                return;
            onReceive(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()), seen);
        }
    }

private:
    std::mutex Mutex;
    Chunks Pending;
    size_t PendingBytes = 0;
    bool Posted = false;
};
