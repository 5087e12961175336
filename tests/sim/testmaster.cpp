#include "testmaster.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

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
    if (i >= bytes.size())
        return a;
    const std::size_t start = i;
    a.delimiter = bytes[i++];
    const std::size_t addressLength = (a.delimiter & 0x80) ? 5 : 1;
    if (bytes.size() < start + 1 + addressLength + 2)
        return a;
    a.address.assign(bytes.begin() + std::ptrdiff_t(i), bytes.begin() + std::ptrdiff_t(i + addressLength));
    i += addressLength;
    a.command = bytes[i++];
    a.byteCount = bytes[i++];
    if (a.byteCount < 2 || bytes.size() < i + a.byteCount + 1)
        return a;
    a.found = true;
    a.responseCode = bytes[i];
    a.deviceStatus = bytes[i + 1];
    a.data.assign(bytes.begin() + std::ptrdiff_t(i + 2), bytes.begin() + std::ptrdiff_t(i + a.byteCount));
    a.checkOk = xorOf(bytes.data() + start, i + a.byteCount + 1 - start) == 0;
    return a;
}

bool TestMaster::open(const std::string& path, std::string* error)
{
    close();
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        close();
        return false;
    };
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return fail("open");
    if (::ioctl(m_fd, TIOCEXCL) != 0)
        return fail("TIOCEXCL");
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        return fail("flock");
    termios tio{};
    if (::tcgetattr(m_fd, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B1200);
    ::cfsetospeed(&tio, B1200);
    tio.c_cflag |= CLOCAL | CREAD | PARENB | PARODD;
    ::tcsetattr(m_fd, TCSANOW, &tio);
    ::tcflush(m_fd, TCIOFLUSH);
    return true;
}

void TestMaster::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool TestMaster::send(const Bytes& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        pollfd p{m_fd, POLLOUT, 0};
        if (n > 0)
            done += std::size_t(n);
        else if (n < 0 && errno == EAGAIN && ::poll(&p, 1, 1000) <= 0)
            return false;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
    }
    return true;
}

Bytes TestMaster::receive(int waitMs, int quietMs, std::vector<Chunk>* chunks)
{
    Bytes out;
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        pollfd p{m_fd, POLLIN, 0};
        std::uint8_t buffer[1024];
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0 || !(p.revents & POLLIN))
            return out;
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            return out;
        out.insert(out.end(), buffer, buffer + n);
        if (chunks)
            chunks->push_back({SteadyClock::now(), std::size_t(n)});
        deadline = SteadyClock::now() + std::chrono::milliseconds(quietMs);
    }
}

bool TestMaster::waitForHangup(int waitMs)
{
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(waitMs);
    while (SteadyClock::now() < deadline) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        if (p.revents & (POLLHUP | POLLERR))
            return true;
        std::uint8_t buffer[256];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno == EIO))
            return true;
    }
    return false;
}
