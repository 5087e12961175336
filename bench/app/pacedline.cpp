#include "pacedline.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool readAll(int fd, void* data, size_t size)
{
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// The detector's side: serves until the parent closes its pipe, then reports the line's figures.
[[noreturn]] void runDetector(int commandFd, int reportFd, const std::function<void(Sim::DeviceState&)>& setup)
{
    Sim::Options options;
    options.paced = true;
    Sim::Simulator sim(options);
    if (setup)
        sim.modify([&](Sim::DeviceState& state) { setup(state); });
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        std::_Exit(1);
    }
    const std::string path = sim.portPath();
    const uint32_t length = uint32_t(path.size());
    (void)!::write(reportFd, &length, sizeof length);
    (void)!::write(reportFd, path.data(), length);
    char byte;
    while (::read(commandFd, &byte, 1) > 0) {
    }
    LineFigures figures;
    figures.bytesIn = sim.lineBytesReceived();
    figures.bytesOut = sim.lineBytesSent();
    for (const auto& request : sim.requests()) {
        ++figures.requests;
        figures.answered += request.answered ? 1 : 0;
    }
    figures.turnaroundMs = sim.turnaroundMs();
    (void)!::write(reportFd, &figures, sizeof figures);
    std::_Exit(0);
}

} // namespace

double LineFigures::busySeconds() const
{
    return double(bytesIn + bytesOut) * characterSeconds
        + double(answered) * (2 * characterSeconds + turnaroundMs / 1000.0);
}

bool PacedDetector::start(const std::function<void(Sim::DeviceState&)>& setup)
{
    int to[2];
    int from[2];
    if (::pipe(to) != 0 || ::pipe(from) != 0)
        return false;
    child = ::fork();
    if (child == 0) {
        ::close(to[1]);
        ::close(from[0]);
        runDetector(to[0], from[1], setup);
    }
    ::close(to[0]);
    ::close(from[1]);
    toDetector = to[1];
    fromDetector = from[0];
    uint32_t length = 0;
    if (!readAll(fromDetector, &length, sizeof length) || length > 4096)
        return false;
    path.assign(length, '\0');
    return readAll(fromDetector, &path[0], length);
}

bool PacedDetector::finish(LineFigures* figures)
{
    ::close(toDetector);
    const bool reported = readAll(fromDetector, figures, sizeof *figures);
    ::close(fromDetector);
    ::waitpid(child, nullptr, 0);
    return reported;
}
