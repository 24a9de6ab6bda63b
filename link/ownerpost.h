#pragma once
#include <QMetaObject>
#include <cstdint>
#include <functional>

// A port's reader and writer threads tell its owner through the owner's
// event loop. A notice runs only while the session it came from is still
// the open one: after a close or a reopen it is dropped.
template <class Port>
void postToOwner(Port* port, uint64_t generation, std::function<void()> fn)
{
    QMetaObject::invokeMethod(
        port,
        [port, generation, fn = std::move(fn)] {
            if (port->sessionGeneration() == generation)
                fn();
        },
        Qt::QueuedConnection);
}

// The line hung up (device gone, connection dropped); not while closing.
template <class Port>
void postHangupToOwner(Port* port, uint64_t generation, bool stopping)
{
    if (stopping)
        return;
    postToOwner(port, generation, [port] {
        if (port->OnRequestHangup)
            port->OnRequestHangup();
    });
}

// Every block up to `writesDone` is on the line.
template <class Port>
void postDrainToOwner(Port* port, uint64_t generation, uint64_t writesDone)
{
    postToOwner(port, generation, [port, writesDone] {
        if (port->OnSendDataEmpty)
            port->OnSendDataEmpty(writesDone);
    });
}
