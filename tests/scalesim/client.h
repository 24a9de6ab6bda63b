#pragma once
// The master's end of the line, opened the way the program opens a serial
// device: O_NOCTTY, TIOCEXCL, flock, raw termios.

#include <chrono>
#include <string>

#include "scalesim.h"

namespace varlo::sim::test {

using namespace std::chrono_literals;

Bytes bytes(std::string_view hexText); // "55 F9 01 F4 04 B9"
std::string hex(std::span<const std::uint8_t> data);
// How many bytes the hex text "02 55 83" stands for.
inline std::size_t replyLength(std::string_view hexText) { return (hexText.size() + 1) / 3; }

class Client {
public:
    explicit Client(const std::string& path);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    void send(std::span<const std::uint8_t> data);
    void send(std::string_view hexText) { send(bytes(hexText)); }
    // Reads until n bytes have come or nothing more comes within `timeout`.
    Bytes receive(std::size_t n, std::chrono::milliseconds timeout = 1500ms);
    // Request and its reply as hex text.
    std::string exchange(std::string_view request, std::size_t replyLength,
                         std::chrono::milliseconds timeout = 1500ms);
    // True once the line reports a hang-up (POLLHUP, EOF or EIO).
    bool waitHangUp(std::chrono::milliseconds timeout);
    void close();

private:
    int fd_ = -1;
};

} // namespace varlo::sim::test
