// ipp93kt-detector-sim: a simulated flame detector on a pseudo-terminal. Point the configurator's port
// at the printed path; Ctrl-C ends it.

#include "sim/faultoption.h"
#include "sim/simulator.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <pthread.h>
#include <unistd.h>

namespace {

void usage(const char* program)
{
    std::printf("Usage: %s [options]\n"
                "  --address N         polling address 0..63 (default 0)\n"
                "  --multidrop         start in multidrop mode (loop current mode 0)\n"
                "  --device-type HEX   expanded device type: ff04 (default), ff03, ff01, ff02 or any other\n"
                "  --device-id N       device identification number, 24 bits (default 123456);\n"
                "                      with --devices the first one, the others follow on\n"
                "  --devices N         a multidrop loop of N detectors (1..15) at polling addresses\n"
                "                      1..N; not with --address\n"
                "  --pacing on|off     1200-baud wire timing (default on)\n"
                "  --preambles N       preambles before each answer (default 5)\n"
                "  --turnaround MS     delay before each answer (default 20)\n"
                "  --link PATH         also make PATH a symbolic link to the port\n"
                "  --hartip [ADDR:]PORT  also serve HART-IP on UDP and TCP (ADDR 127.0.0.1 by default)\n"
                "  --no-pty            HART-IP only: no pseudo-terminal\n"
                "  --quiet             do not print the requests\n"
                "  --fault FAULT       misbehave on the line; repeat for several faults\n"
                "%s",
                program, Sim::faultOptionHelp);
}

bool parseNumber(const char* text, unsigned long max, int base, unsigned long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, base);
    return errno == 0 && end != text && *end == '\0' && value <= max;
}

void printRequest(const Sim::ReceivedRequest& r, bool loop)
{
    std::printf("cmd %3u %s", r.command, r.address.size() == 5 ? "long " : "short");
    for (std::uint8_t b : r.address)
        std::printf(" %02X", b);
    std::printf(" |");
    for (std::uint8_t b : r.data)
        std::printf(" %02X", b);
    if (!r.addressed)
        std::printf(loop ? "  (no detector at this address)\n" : "  (not for this device)\n");
    else if (!r.answered)
        std::printf("  (no answer)\n");
    else if (r.collision)
        std::printf("  -> collision: several detectors answered\n");
    else if (loop)
        std::printf("  -> detector %d rc %u\n", r.device + 1, r.responseCode);
    else
        std::printf("  -> rc %u\n", r.responseCode);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    Sim::Options options;
    options.paced = true;
    std::string linkPath;
    std::string hartIpAddress = "127.0.0.1";
    unsigned long hartIpPort = 0;
    bool hartIp = false;
    bool pty = true;
    bool quiet = false;
    bool addressGiven = false;
    std::vector<Sim::Fault> faults;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long value = 0;
        auto bad = [&] {
            std::fprintf(stderr, "%s: bad or missing value for %s\n", argv[0], arg.c_str());
            return 2;
        };
        if (arg == "--help" || arg == "-h") {
            usage(argv[0]);
            return 0;
        } else if (arg == "--address") {
            if (!next || !parseNumber(next, 63, 10, value))
                return bad();
            options.pollingAddress = std::uint8_t(value);
            addressGiven = true;
            ++i;
        } else if (arg == "--devices") {
            if (!next || !parseNumber(next, Sim::maxDevices, 10, value) || value < 1)
                return bad();
            options.devices = unsigned(value);
            ++i;
        } else if (arg == "--multidrop") {
            options.loopCurrentMode = 0;
        } else if (arg == "--device-type") {
            if (!next || !parseNumber(next, 0xFFFF, 16, value))
                return bad();
            options.expandedDeviceType = std::uint16_t(value);
            ++i;
        } else if (arg == "--device-id") {
            if (!next || !parseNumber(next, 0xFFFFFF, 0, value))
                return bad();
            options.deviceId = std::uint32_t(value);
            ++i;
        } else if (arg == "--pacing") {
            if (!next || (std::strcmp(next, "on") != 0 && std::strcmp(next, "off") != 0))
                return bad();
            options.paced = std::strcmp(next, "on") == 0;
            ++i;
        } else if (arg == "--preambles") {
            if (!next || !parseNumber(next, 200, 10, value) || value < 1)
                return bad();
            options.preambles = unsigned(value);
            ++i;
        } else if (arg == "--turnaround") {
            if (!next || !parseNumber(next, 10000, 10, value))
                return bad();
            options.turnaroundMs = unsigned(value);
            ++i;
        } else if (arg == "--link") {
            if (!next)
                return bad();
            linkPath = next;
            ++i;
        } else if (arg == "--hartip") {
            if (!next)
                return bad();
            std::string text = next;
            const std::size_t colon = text.rfind(':');
            if (colon != std::string::npos) {
                hartIpAddress = text.substr(0, colon);
                text = text.substr(colon + 1);
            }
            if (!parseNumber(text.c_str(), 65535, 10, hartIpPort) || hartIpPort == 0)
                return bad();
            hartIp = true;
            ++i;
        } else if (arg == "--no-pty") {
            pty = false;
        } else if (arg == "--fault") {
            Sim::Fault fault;
            std::string error;
            if (!next)
                return bad();
            if (!Sim::parseFaultOption(next, fault, error)) {
                std::fprintf(stderr, "%s: bad fault \"%s\": %s\n", argv[0], next, error.c_str());
                return 2;
            }
            faults.push_back(fault);
            ++i;
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            std::fprintf(stderr, "%s: unknown option %s\n", argv[0], arg.c_str());
            usage(argv[0]);
            return 2;
        }
    }

    // The loop's detectors take the addresses 1..N; one given address would say nothing useful.
    if (addressGiven && options.devices > 0) {
        std::fprintf(stderr, "%s: --address and --devices exclude each other\n", argv[0]);
        return 2;
    }

    // The simulator's thread inherits the mask, so only sigwait below sees Ctrl-C.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Sim::Simulator simulator(options);
    const bool loop = options.devices > 0;
    if (!quiet)
        simulator.setRequestObserver([loop](const Sim::ReceivedRequest& r) { printRequest(r, loop); });
    for (const Sim::Fault& fault : faults)
        simulator.inject(fault);
    std::string error;
    if (!pty && !hartIp) {
        std::fprintf(stderr, "%s: --no-pty needs --hartip\n", argv[0]);
        return 2;
    }
    if (pty && !simulator.start(&error)) {
        std::fprintf(stderr, "%s: cannot open a pseudo-terminal: %s\n", argv[0], error.c_str());
        return 1;
    }
    if (hartIp && !simulator.startHartIp(hartIpAddress, std::uint16_t(hartIpPort), &error)) {
        std::fprintf(stderr, "%s: cannot serve HART-IP on %s:%lu: %s\n", argv[0], hartIpAddress.c_str(), hartIpPort,
                     error.c_str());
        return 1;
    }
    if (!pty)
        linkPath.clear();
    if (!linkPath.empty()) {
        ::unlink(linkPath.c_str());
        if (::symlink(simulator.portPath().c_str(), linkPath.c_str()) != 0) {
            std::fprintf(stderr, "%s: cannot link %s: %s\n", argv[0], linkPath.c_str(), std::strerror(errno));
            linkPath.clear();
        }
    }
    if (pty)
        std::printf("%s\n", simulator.portPath().c_str());
    if (hartIp)
        std::printf("hartip %s:%u (UDP and TCP)\n", hartIpAddress.c_str(), unsigned(simulator.hartIpPort()));
    if (loop) {
        const Sim::DeviceState last = simulator.state(simulator.deviceCount() - 1);
        std::fprintf(stderr, "%u detectors %04X ids %u..%u at polling addresses 1..%u (multidrop), pacing %s; Ctrl-C ends\n",
                     options.devices, options.expandedDeviceType, options.deviceId, last.deviceId, options.devices,
                     options.paced ? "on" : "off");
    } else {
        std::fprintf(stderr, "detector %04X id %u at polling address %u, pacing %s; Ctrl-C ends\n",
                     options.expandedDeviceType, options.deviceId, options.pollingAddress, options.paced ? "on" : "off");
    }
    if (!faults.empty())
        std::fprintf(stderr, "%zu line fault(s) armed\n", faults.size());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    simulator.stop();
    if (!linkPath.empty())
        ::unlink(linkPath.c_str());
    return 0;
}
