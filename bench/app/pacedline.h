#pragma once
// The simulated detector paced at the wire rate in a child process, so that its timing shares
// nothing with the program measured, and the figures of its line once the program is done.

#include "sim/simulator.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

// One character on the line: start bit, eight data bits, parity, stop bit at 1200 baud.
constexpr double characterSeconds = 11.0 / 1200.0;

struct LineFigures {
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    uint64_t requests = 0;
    uint64_t answered = 0;
    unsigned turnaroundMs = 0;

    // What the line needs: every byte at 11 bits, plus the detector's own wait for the end of
    // the request (two character times) and its turnaround before answering.
    double busySeconds() const;
};

class PacedDetector {
public:
    // setup runs in the child on the simulator's state before it serves.
    bool start(const std::function<void(Sim::DeviceState&)>& setup = {});
    const std::string& portPath() const { return path; }
    // Ends the detector and returns what its line carried; false when it did not report.
    bool finish(LineFigures* figures);

private:
    int toDetector = -1;
    int fromDetector = -1;
    pid_t child = -1;
    std::string path;
};
