#include "testmaster.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

std::uint8_t xorOf(const std::uint8_t* data, std::size_t length)
{
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < length; ++i)
        x ^= data[i];
    return x;
}

// Preambles, then delimiter and address, command, byte count, data and check byte.
Bytes request(Bytes frame, std::uint8_t command, const Bytes& data, unsigned preambles)
{
    frame.insert(frame.end(), {command, std::uint8_t(data.size())});
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(xorOf(frame.data(), frame.size()));
    frame.insert(frame.begin(), preambles, 0xFF);
    return frame;
}

} // namespace

Bytes shortRequest(std::uint8_t address, std::uint8_t command, const Bytes& data, unsigned preambles)
{
    return request({0x02, address}, command, data, preambles);
}

Bytes longRequest(std::uint16_t deviceType, std::uint32_t deviceId, std::uint8_t command, const Bytes& data)
{
    return request({0x82, std::uint8_t((deviceType >> 8) & 0x3F), std::uint8_t(deviceType),
                    std::uint8_t(deviceId >> 16), std::uint8_t(deviceId >> 8), std::uint8_t(deviceId)},
                   command, data, 20);
}

Answer parseAnswer(const Bytes& bytes)
{
    Answer a;
    std::size_t i = 0;
    while (i < bytes.size() && bytes[i] != 0xFF)
        ++i;
    a.noise = i;
    for (; i < bytes.size() && bytes[i] == 0xFF; ++i)
        ++a.preambles;
    const std::size_t start = i;
    const std::size_t addressLength = i < bytes.size() && (bytes[i] & 0x80) ? 5 : 1;
    if (bytes.size() < start + addressLength + 3)
        return a;
    a.delimiter = bytes[i++];
    a.address.assign(bytes.begin() + std::ptrdiff_t(i), bytes.begin() + std::ptrdiff_t(i + addressLength));
    i += addressLength;
    a.command = bytes[i++];
    const std::size_t byteCount = bytes[i++];
    if (byteCount < 2 || bytes.size() < i + byteCount + 1)
        return a;
    a.found = true;
    a.responseCode = bytes[i];
    a.deviceStatus = bytes[i + 1];
    a.data.assign(bytes.begin() + std::ptrdiff_t(i + 2), bytes.begin() + std::ptrdiff_t(i + byteCount));
    a.checkOk = xorOf(bytes.data() + start, i + byteCount + 1 - start) == 0;
    return a;
}

bool TestMaster::open(const std::string& path, std::string* error)
{
    close();
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const char* failed = m_fd < 0 ? "open"
                         : ::ioctl(m_fd, TIOCEXCL) != 0 ? "TIOCEXCL"
                         : ::flock(m_fd, LOCK_EX | LOCK_NB) != 0 ? "flock"
                         : nullptr;
    if (failed) {
        if (error)
            *error = std::string(failed) + ": " + std::strerror(errno);
        close();
        return false;
    }
    termios tio{};
    ::tcgetattr(m_fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B1200);
    tio.c_cflag |= CLOCAL | CREAD | PARENB | PARODD;
    ::tcsetattr(m_fd, TCSANOW, &tio);
    ::tcflush(m_fd, TCIOFLUSH);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK); // writes wait for the line to take them
    return true;
}

void TestMaster::close()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}

bool TestMaster::send(const Bytes& bytes)
{
    return ::write(m_fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
}

Bytes TestMaster::receive(int waitMs, int quietMs, std::vector<SteadyClock::time_point>* reads)
{
    Bytes out;
    for (int wait = waitMs;; wait = quietMs) {
        pollfd p{m_fd, POLLIN, 0};
        std::uint8_t buffer[1024];
        const ssize_t n = ::poll(&p, 1, wait) > 0 && (p.revents & POLLIN) ? ::read(m_fd, buffer, sizeof buffer) : 0;
        if (n <= 0)
            return out;
        out.insert(out.end(), buffer, buffer + n);
        if (reads)
            reads->push_back(SteadyClock::now());
    }
}
