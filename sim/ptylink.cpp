#include "sim/ptylink.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace Sim {

namespace {

constexpr auto silence = 2 * PtyLink::characterTime; // a request ends at two quiet character times

int millisecondsUntil(PtyLink::Clock::time_point when)
{
    const auto left = when - PtyLink::Clock::now();
    if (left <= PtyLink::Clock::duration::zero())
        return 0;
    return int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

void setCloseOnExec(int fd)
{
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

} // namespace

PtyLink::~PtyLink()
{
    stop();
    closeFds();
    if (m_wakeRead >= 0)
        ::close(m_wakeRead);
    if (m_wakeWrite >= 0)
        ::close(m_wakeWrite);
}

bool PtyLink::open(std::string* error)
{
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        closeFds();
        return false;
    };
    if (m_master >= 0)
        return true;
    if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
        return fail("openpty");
    m_lineOpen = true;
    char name[128] = {};
    if (::ttyname_r(m_slave, name, sizeof name) != 0)
        return fail("ttyname_r");
    m_slavePath = name;

    // Raw 8-bit line, so that no byte is translated or swallowed on its way through.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B1200);
    ::cfsetospeed(&tio, B1200);
    tio.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    // The slave stays open here (unlocked) so that the line survives the program closing and
    // reopening its port; the program's own exclusive open and lock are not disturbed by it.
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    setCloseOnExec(m_master);
    setCloseOnExec(m_slave);

    if (m_wakeRead < 0) {
        int fds[2];
        if (::pipe(fds) != 0)
            return fail("pipe");
        m_wakeRead = fds[0];
        m_wakeWrite = fds[1];
        ::fcntl(m_wakeRead, F_SETFL, O_NONBLOCK);
        ::fcntl(m_wakeWrite, F_SETFL, O_NONBLOCK);
        setCloseOnExec(m_wakeRead);
        setCloseOnExec(m_wakeWrite);
    }
    return true;
}

void PtyLink::start(FrameHandler handler)
{
    if (m_thread.joinable() || m_master < 0)
        return;
    m_handler = std::move(handler);
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void PtyLink::stop()
{
    if (!m_thread.joinable())
        return;
    m_stop = true;
    wake();
    m_thread.join();
}

void PtyLink::closeLine()
{
    if (!m_thread.joinable()) {
        closeFds();
        return;
    }
    m_closeRequested = true;
    wake();
}

void PtyLink::wake()
{
    const char byte = 1;
    if (m_wakeWrite >= 0)
        (void)!::write(m_wakeWrite, &byte, 1);
}

void PtyLink::closeFds()
{
    m_lineOpen = false; // before the close, so that whoever sees the hang-up sees this too
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

void PtyLink::run()
{
    std::vector<std::uint8_t> request;
    request.reserve(receiveLimit);
    bool receiving = false;
    Clock::time_point lastByte{};
    std::uint8_t chunk[512];

    while (!m_stop) {
        pollfd fds[2] = {{m_wakeRead, POLLIN, 0}, {m_master, POLLIN, 0}};
        const int timeout = receiving ? millisecondsUntil(lastByte + silence) : -1;
        const int ready = ::poll(fds, m_master >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            while (::read(m_wakeRead, chunk, sizeof chunk) > 0) {
            }
            if (m_closeRequested.exchange(false)) {
                closeFds();
                receiving = false;
                request.clear();
            }
            continue;
        }
        if (ready > 0 && m_master >= 0 && fds[1].revents) {
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (n > 0) {
                m_bytesReceived += std::uint64_t(n);
                const auto now = Clock::now();
                // On a paced line the bytes take their wire time to arrive, one after another.
                if (m_paced)
                    lastByte = (receiving && lastByte > now ? lastByte : now) + std::size_t(n) * characterTime;
                else
                    lastByte = now;
                receiving = true;
                const std::size_t room = receiveLimit - request.size();
                request.insert(request.end(), chunk, chunk + std::min<std::size_t>(std::size_t(n), room));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                // The slave is held open here, so this is rare; do not spin on it.
                ::poll(nullptr, 0, 5);
            }
        }
        if (receiving && Clock::now() >= lastByte + silence) {
            const Delivery delivery = m_handler ? m_handler(request, lastByte) : Delivery{};
            request.clear();
            receiving = false;
            deliver(delivery);
        }
    }
}

bool PtyLink::waitUntil(Clock::time_point when)
{
    for (;;) {
        if (m_stop)
            return false;
        const int timeout = millisecondsUntil(when);
        if (timeout == 0 && Clock::now() >= when)
            return true;
        pollfd fd{m_wakeRead, POLLIN, 0};
        // Only a stop ends the wait early; a wake for closing the line is left for the loop.
        if (::poll(&fd, 1, timeout) > 0 && m_stop)
            return false;
        if (fd.revents & POLLIN)
            ::poll(nullptr, 0, std::min(std::max(1, timeout), 10));
    }
}

bool PtyLink::writeAll(const std::uint8_t* data, std::size_t length)
{
    while (length > 0 && m_master >= 0) {
        const ssize_t n = ::write(m_master, data, length);
        if (n > 0) {
            m_bytesSent += std::uint64_t(n);
            data += n;
            length -= std::size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            // Nobody reads the slave and its queue is full: the rest of the answer is lost.
            pollfd fd{m_master, POLLOUT, 0};
            if (::poll(&fd, 1, 100) <= 0)
                return false;
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return length == 0;
}

void PtyLink::deliver(const Delivery& delivery)
{
    auto start = Clock::now();
    for (const Delivery::Segment& segment : delivery.segments) {
        start += segment.delay;
        if (m_paced) {
            for (std::size_t i = 0; i < segment.bytes.size(); ++i) {
                if (!waitUntil(start + i * characterTime) || !writeAll(&segment.bytes[i], 1))
                    return;
            }
            start += segment.bytes.size() * characterTime;
        } else {
            if (!waitUntil(start) || !writeAll(segment.bytes.data(), segment.bytes.size()))
                return;
            start = Clock::now();
        }
    }
    if (delivery.closeLine)
        closeFds();
}

} // namespace Sim
