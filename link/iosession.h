#pragma once
#include "receivequeue.h"
#include <QByteArray>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

// What the reader and the writer of one open port share with its owner.
struct IoSession {
    virtual ~IoSession() = default;

    int fd = -1;
    bool socket = false;            // fd is a connected socket, not a tty
    int wake = -1;                  // eventfd: both threads finish once it is signalled
    uint64_t generation = 0;
    std::atomic<bool> stopping{false};
    std::atomic<bool> writerEnded{false};
    std::atomic<int> quietMs{1};    // the line is quiet after this long without a byte

    std::mutex mutex;               // guards queue and closing
    std::condition_variable queued;
    std::deque<std::pair<uint64_t, QByteArray>> queue;   // block number, bytes
    bool closing = false;

    ReceiveQueue received;          // from the reader to the owner
    std::thread reader, writer;

    // Queues a block for the writer; false once the session closes.
    bool enqueue(uint64_t seq, QByteArray bytes)
    {
        {
            std::lock_guard lock(mutex);
            if (closing)
                return false;
            queue.emplace_back(seq, std::move(bytes));
        }
        queued.notify_one();
        return true;
    }

    // The writer's next block, or nothing once the session closes; `lock`
    // holds `mutex` and is released with the block in hand.
    std::optional<std::pair<uint64_t, QByteArray>> nextBlock(std::unique_lock<std::mutex>& lock)
    {
        queued.wait(lock, [this] { return closing || !queue.empty(); });
        if (closing)
            return std::nullopt;
        std::pair<uint64_t, QByteArray> block = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        return block;
    }

    enum class Written { All, Stopped, Broken };
    // Writes all of `bytes`, waiting while the device or the peer is full;
    // Stopped when the session closes meanwhile, Broken when the line fails.
    Written writeAll(const QByteArray& bytes)
    {
        const char* p = bytes.constData();
        size_t left = size_t(bytes.size());
        while (left > 0) {
            const ssize_t n = socket ? ::send(fd, p, left, MSG_NOSIGNAL) : ::write(fd, p, left);
            if (n > 0) {
                p += n;
                left -= size_t(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd q[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
                if (::poll(q, 2, -1) < 0 && errno != EINTR)
                    return Written::Broken;
                if (q[1].revents)
                    return Written::Stopped;
                if ((q[0].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(q[0].revents & POLLOUT))
                    return Written::Broken;
            } else if (!(n < 0 && errno == EINTR)) {
                return Written::Broken;
            }
        }
        return Written::All;
    }

    void joinThreads()
    {
        if (reader.joinable())
            reader.join();
        if (writer.joinable())
            writer.join();
    }

    // Tells both threads to end: the writer leaves its queue, the reader's
    // poll wakes on `wake`.
    void signalStop()
    {
        stopping = true;
        {
            std::lock_guard lock(mutex);
            closing = true;
        }
        queued.notify_all();
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
    }
};
