#pragma once
// A pseudo-terminal pair standing in for the modem: the program opens the slave by name, the test
// plays the device on the master. The test keeps its own slave descriptor so settings can be read back.

#include <QByteArray>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstdint>
#include <utility>
#include <vector>

struct PseudoTerminal {
    PseudoTerminal()
    {
        char path[128] = {};
        if (openpty(&master, &slave, path, nullptr, nullptr) == 0)
            name = path;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~PseudoTerminal() { hangUp(); }
    void hangUp()
    {
        for (int* fd : {&master, &slave})
            if (*fd >= 0)
                ::close(std::exchange(*fd, -1));
    }
    bool send(const std::vector<std::uint8_t>& bytes) const
    {
        return ::write(master, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }
    // One read of whatever the program has written, waiting at most ms for it.
    std::vector<std::uint8_t> receiveOnce(int ms) const
    {
        pollfd watch{master, POLLIN, 0};
        std::uint8_t data[4096];
        const ssize_t count = poll(&watch, 1, ms) > 0 ? ::read(master, data, sizeof data) : 0;
        return count > 0 ? std::vector<std::uint8_t>(data, data + count) : std::vector<std::uint8_t>();
    }

    int master = -1;
    int slave = -1;
    QByteArray name;
};
