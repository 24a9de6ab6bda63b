#pragma once
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

// The reply the engine waits for, shared by a port's owner and its reader:
// how many bytes it has and the first write block that may cause it. A
// reader that holds them all hands them on at once instead of waiting for
// the line to fall quiet.
class AwaitedReply {
public:
    // `bytes` answer the block numbered `block`; 0 bytes: nothing known.
    void expect(uint64_t block, int bytes)
    {
        const uint64_t length = uint64_t(std::clamp(bytes, 0, 255));
        Packed.store(length == 0 ? 0 : block << 8 | length);
    }
    // True, once, when `held` bytes read after block `stamp` began hold it.
    bool heldIn(size_t held, uint64_t stamp)
    {
        uint64_t awaited = Packed.load();
        if (awaited == 0 || stamp < (awaited >> 8) || held < (awaited & 0xFF))
            return false;
        return Packed.compare_exchange_strong(awaited, 0);
    }

private:
    std::atomic<uint64_t> Packed{0};
};
