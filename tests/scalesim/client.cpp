#include "client.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace varlo::sim::test {

Bytes bytes(std::string_view text)
{
    Bytes out;
    std::istringstream in{std::string(text)};
    for (std::string pair; in >> pair;)
        out.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    return out;
}

std::string hex(std::span<const std::uint8_t> data)
{
    std::string out;
    char b[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", data[i]);
        out += b;
    }
    return out;
}

Client::Client(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        ADD_FAILURE() << "open " << path << ": " << std::strerror(errno);
        return;
    }
    EXPECT_EQ(::ioctl(fd_, TIOCEXCL), 0) << std::strerror(errno);
    EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0) << std::strerror(errno);
    termios tio{};
    EXPECT_EQ(::tcgetattr(fd_, &tio), 0);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&tio, B9600);
    EXPECT_EQ(::tcsetattr(fd_, TCSANOW, &tio), 0);
    ::tcflush(fd_, TCIOFLUSH);
}

Client::~Client() { close(); }

void Client::close()
{
    // A pty keeps TIOCEXCL across the close (the master holds the tty), so
    // an unprivileged reopen would get EBUSY.
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
    fd_ = -1;
}

void Client::send(std::span<const std::uint8_t> data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        ASSERT_GT(n, 0) << std::strerror(errno);
        done += static_cast<std::size_t>(n);
    }
}

Bytes Client::receive(std::size_t n, std::chrono::milliseconds timeout)
{
    Bytes out;
    while (out.size() < n) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0 || !(p.revents & POLLIN))
            break;
        std::uint8_t buf[512];
        ssize_t got = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
        if (got <= 0)
            break;
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

std::string Client::exchange(std::string_view request, std::size_t replyLength,
                             std::chrono::milliseconds timeout)
{
    send(request);
    return hex(receive(replyLength, timeout));
}

bool Client::waitHangUp(std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) < 0)
            return false;
        if (p.revents & (POLLHUP | POLLERR))
            return true;
        if (p.revents & POLLIN) {
            std::uint8_t b;
            ssize_t got = ::read(fd_, &b, 1);
            if (got == 0 || (got < 0 && errno == EIO))
                return true;
        }
    }
    return false;
}

} // namespace varlo::sim::test
