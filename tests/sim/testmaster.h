#pragma once
// A bare HART master for driving the simulator through its pseudo-terminal: builds request
// frames by hand and takes answers apart without any of the program's own code.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

Bytes shortRequest(std::uint8_t address, std::uint8_t command, const Bytes& data = {}, unsigned preambles = 20);
Bytes longRequest(std::uint16_t deviceType, std::uint32_t deviceId, std::uint8_t command, const Bytes& data = {});

struct Answer {
    bool found = false; // a delimiter with a whole frame after the preambles
    bool checkOk = false;
    std::size_t noise = 0; // bytes before the first preamble
    unsigned preambles = 0;
    std::uint8_t delimiter = 0, command = 0, responseCode = 0, deviceStatus = 0;
    Bytes address, data;
};
Answer parseAnswer(const Bytes& bytes);

class TestMaster {
public:
    ~TestMaster() { close(); }
    // Opens as the program's port backend does: no controlling tty, exclusive, locked.
    bool open(const std::string& path, std::string* error = nullptr);
    void close();
    bool send(const Bytes& bytes);
    // Everything that arrives until quietMs pass without a byte (after the first one), or until
    // waitMs pass with nothing at all; reads gets the time of each read that brought bytes.
    Bytes receive(int waitMs = 1000, int quietMs = 30, std::vector<SteadyClock::time_point>* reads = nullptr);
    Answer exchange(const Bytes& request) { return send(request) ? parseAnswer(receive()) : Answer(); }

private:
    int m_fd = -1;
};
