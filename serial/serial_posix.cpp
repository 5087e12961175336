#include "serialport.h"

#include <cerrno>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

SerialPortError fromErrno(int code)
{
    switch (code) {
    case 0:
        return SerialPortError::None;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return SerialPortError::NotFound;
    case EBUSY:
    case EWOULDBLOCK:
        return SerialPortError::InUse;
    case EACCES:
    case EPERM:
    case EROFS:
        return SerialPortError::AccessDenied;
    case EINVAL:
    case ENOTTY:
    case EISDIR:
        return SerialPortError::BadSettings;
    case ETIMEDOUT:
        return SerialPortError::TimedOut;
    default:
        return SerialPortError::Io;
    }
}

speed_t speedFor(std::uint32_t baudRate)
{
    switch (baudRate) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
#ifdef B57600
    case 57600: return B57600;
#endif
#ifdef B115200
    case 115200: return B115200;
#endif
#ifdef B230400
    case 230400: return B230400;
#endif
#ifdef B460800
    case 460800: return B460800;
#endif
#ifdef B921600
    case 921600: return B921600;
#endif
    default: return B0;
    }
}

std::int64_t nowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void sleepMs(std::int64_t ms)
{
    if (ms <= 0)
        return;
    timespec pause{};
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = long(ms % 1000) * 1000000L;
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

class PosixSerialPort final : public SerialPort {
public:
    ~PosixSerialPort() override { close(); }

    SerialPortError open(const char* name, const SerialLineSettings& settings,
                         unsigned readTimeoutMs) override;
    bool isOpen() const override { return fd >= 0; }
    void close() override;
    SerialPortError purge() override;
    void clearErrors() override {}
    SerialPortError read(std::uint8_t* data, std::size_t capacity,
                         std::size_t& received) override;
    SerialPortError write(const std::uint8_t* data, std::size_t size) override;
    void raiseThreadPriority() override;
    void lowerThreadPriority() override;

private:
    SerialPortError fail(int code)
    {
        close();
        return fromErrno(code);
    }
    SerialPortError configure(const SerialLineSettings& settings);

    int fd = -1;
    bool locked = false;
    unsigned timeoutMs = 1;
    // Real-time scheduling needs a privilege most users lack; after the first refusal we stop
    // asking.
    bool priorityPermitted = true;
    bool priorityRaised = false;
    bool normalKnown = false;
    int normalPolicy = SCHED_OTHER;
    sched_param normalParam{};
};

SerialPortError PosixSerialPort::open(const char* name, const SerialLineSettings& settings,
                                      unsigned readTimeoutMs)
{
    close();
    if (name == nullptr || *name == '\0')
        return SerialPortError::NotFound;
    const std::string path =
        std::string(name).find('/') == std::string::npos ? "/dev/" + std::string(name) : name;

    // Non-blocking so that neither the open nor a write can wait on modem lines or a full
    // queue; reads and writes wait in poll() with their own time-outs instead.
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fromErrno(errno);
    timeoutMs = readTimeoutMs == 0 ? 1 : readTimeoutMs;

    // The Windows open shares nothing; refuse a second program here too. The lock keeps out
    // everyone who asks for it, root included; TIOCEXCL also unprivileged programs that do not.
    // The lock comes first: a loser must not touch the winner's exclusive flag.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    locked = true;
    if (ioctl(fd, TIOCEXCL) != 0)
        return fail(errno);

    const SerialPortError configured = configure(settings);
    if (configured != SerialPortError::None) {
        close();
        return configured;
    }

    // The modem must see DTR and RTS low for as long as we hold it. A pseudo-terminal has no
    // modem lines and refuses the call; that is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    return SerialPortError::None;
}

SerialPortError PosixSerialPort::configure(const SerialLineSettings& settings)
{
    const speed_t speed = speedFor(settings.baudRate);
    if (speed == B0)
        return SerialPortError::BadSettings;

    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return fromErrno(errno);

    // Raw bytes both ways: no line editing, no translation, no software flow control, and no
    // parity checking on input, so the bytes arrive as the line carried them.
    tio.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON
                             | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~tcflag_t(OPOST);
    tio.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | HUPCL);
#ifdef CRTSCTS
    tio.c_cflag &= ~tcflag_t(CRTSCTS);
#endif
#ifdef CMSPAR
    tio.c_cflag &= ~tcflag_t(CMSPAR);
#endif
    tio.c_cflag |= CS8 | CLOCAL | CREAD;

    switch (settings.parity) {
    case SerialParity::None:
        break;
    case SerialParity::Odd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case SerialParity::Even:
        tio.c_cflag |= PARENB;
        break;
#ifdef CMSPAR
    case SerialParity::Mark:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case SerialParity::Space:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
#endif
    default:
        return SerialPortError::BadSettings;
    }

    switch (settings.stopBits) {
    case SerialStopBits::One:
        break;
    case SerialStopBits::Two:
        tio.c_cflag |= CSTOPB;
        break;
    default:
        // termios has no one and a half stop bits.
        return SerialPortError::BadSettings;
    }

    // Reads never wait in the driver; poll() does the waiting.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0)
        return SerialPortError::BadSettings;
    if (tcsetattr(fd, TCSANOW, &tio) == 0)
        return SerialPortError::None;

    // A pseudo-terminal (the simulator runs on one) takes the speed but drops PARENB, and the
    // C library then reports EINVAL although everything else was applied. Accept that.
    const int code = errno;
    termios applied{};
    if (code == EINVAL && tcgetattr(fd, &applied) == 0 && cfgetospeed(&applied) == speed
        && (applied.c_cflag & CSIZE) == CS8 && (applied.c_lflag & ICANON) == 0)
        return SerialPortError::None;
    return fromErrno(code);
}

void PosixSerialPort::close()
{
    if (fd < 0)
        return;
    // The exclusive flag belongs to the device, not to our descriptor: clear it, or the next
    // open is refused while anyone else still holds the device.
    if (locked) {
        ioctl(fd, TIOCNXCL);
        flock(fd, LOCK_UN);
        locked = false;
    }
    ::close(fd);
    fd = -1;
}

SerialPortError PosixSerialPort::purge()
{
    if (fd < 0)
        return SerialPortError::Io;
    return tcflush(fd, TCIOFLUSH) == 0 ? SerialPortError::None : fromErrno(errno);
}

SerialPortError PosixSerialPort::read(std::uint8_t* data, std::size_t capacity,
                                      std::size_t& received)
{
    received = 0;
    const std::int64_t deadline = nowMs() + timeoutMs;
    if (fd < 0) {
        sleepMs(timeoutMs);
        return SerialPortError::Io;
    }
    if (capacity > maxReadSize)
        capacity = maxReadSize;

    pollfd watch{fd, POLLIN, 0};
    const int ready = poll(&watch, 1, int(timeoutMs));
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return SerialPortError::None;

    if (ready > 0 && (watch.revents & POLLIN) != 0) {
        const ssize_t count = ::read(fd, data, capacity);
        if (count > 0) {
            received = std::size_t(count);
            return SerialPortError::None;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR))
            return SerialPortError::None;
    }
    // Hang-up (POLLHUP, POLLERR, end of file) or a device error (EIO, ENXIO, ENODEV when the
    // adapter is unplugged): the port is gone whatever the code says. poll() and read() return
    // at once from now on, so wait out the time-out for callers that try again.
    sleepMs(deadline - nowMs());
    return SerialPortError::Io;
}

SerialPortError PosixSerialPort::write(const std::uint8_t* data, std::size_t size)
{
    if (fd < 0)
        return SerialPortError::Io;
    // Twice the block's time on the line, plus slack: only a stuck device gets near it.
    const std::int64_t deadline = nowMs() + std::int64_t(size) * timeoutMs * 2 + 100;

    std::size_t written = 0;
    while (written < size) {
        const ssize_t count = ::write(fd, data + written, size - written);
        if (count > 0) {
            written += std::size_t(count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        // On an open port every failure but a full queue means the device is gone.
        if (count < 0 && errno != EAGAIN)
            return SerialPortError::Io;
        const std::int64_t left = deadline - nowMs();
        if (left <= 0)
            return SerialPortError::TimedOut;
        pollfd watch{fd, POLLOUT, 0};
        const int ready = poll(&watch, 1, int(left));
        if ((ready < 0 && errno != EINTR) || (ready > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0))
            return SerialPortError::Io;
    }

    // Return only when the bytes have left, as a synchronous Windows write does, so the line
    // is not taken for silent while our own frame is still going out.
    int queued = 0;
    while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        const std::int64_t left = deadline - nowMs();
        if (left <= 0)
            return SerialPortError::TimedOut;
        sleepMs(left < timeoutMs ? left : timeoutMs);
    }
    return SerialPortError::None;
}

void PosixSerialPort::raiseThreadPriority()
{
    if (!priorityPermitted || priorityRaised)
        return;
    // The worker's normal scheduling does not change while it runs: read it once, not at every
    // raise, which on a quiet line comes about a hundred times a second.
    if (!normalKnown) {
        if (pthread_getschedparam(pthread_self(), &normalPolicy, &normalParam) != 0) {
            priorityPermitted = false;
            return;
        }
        normalKnown = true;
    }
    sched_param high{};
    high.sched_priority = sched_get_priority_min(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &high) != 0) {
        priorityPermitted = false;
        return;
    }
    priorityRaised = true;
}

void PosixSerialPort::lowerThreadPriority()
{
    if (!priorityRaised)
        return;
    pthread_setschedparam(pthread_self(), normalPolicy, &normalParam);
    priorityRaised = false;
}

} // namespace

std::unique_ptr<SerialPort> createSerialPort()
{
    return std::make_unique<PosixSerialPort>();
}
