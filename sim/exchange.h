#pragma once
// One request as the command handlers see it, and the answer they compose.

#include "sim/devicestate.h"

#include <cstdint>
#include <vector>

namespace Sim {

struct Exchange {
    Exchange(DeviceState& s, std::uint16_t cmd, const std::uint8_t* d, std::size_t n, bool primary, Clock::time_point t)
        : state(s), command(cmd), data(d), size(n), primaryMaster(primary), now(t)
    {
    }

    DeviceState& state;
    std::uint16_t command;
    const std::uint8_t* data; // request data (after the extended command number for command 31)
    std::size_t size;
    bool primaryMaster;
    Clock::time_point now;

    std::uint8_t responseCode = 0;
    std::vector<std::uint8_t> reply; // answer data after the two status bytes
    bool silent = false;             // the device does not answer at all

    void fail(std::uint8_t code)
    {
        responseCode = code;
        reply.clear();
    }
    // False, with the answer failed, when the request data is shorter than bytes.
    bool needs(std::size_t bytes);
    // False, with the answer failed, when the device is write protected.
    bool mayWrite();
    void put8(std::uint8_t v) { reply.push_back(v); }
    void put16(std::uint16_t v);
    void put24(std::uint32_t v);
    void put32(std::uint32_t v);
    void putFloat(float v);
    void putBytes(const std::uint8_t* p, std::size_t n) { reply.insert(reply.end(), p, p + n); }
};

// Response codes the device uses.
namespace Rc {
constexpr std::uint8_t InvalidSelection = 2;
constexpr std::uint8_t TooLarge = 3;
constexpr std::uint8_t TooSmall = 4;
constexpr std::uint8_t TooFewBytes = 5;
constexpr std::uint8_t WriteProtected = 7;
constexpr std::uint8_t InvalidDate = 9; // also: configuration counter mismatch (command 38)
constexpr std::uint8_t InvalidLockCode = 10;
constexpr std::uint8_t MultidropMode = 11;
constexpr std::uint8_t InvalidLoopMode = 12;
constexpr std::uint8_t StatusMismatch = 14;
constexpr std::uint8_t NotImplemented = 64;
} // namespace Rc

// Each returns false when the command is not its own.
bool handleUniversal(Exchange& ex);
bool handleDeviceSpecific(Exchange& ex);
void handleEventLog(Exchange& ex);
void handleFirmware(Exchange& ex);

// The command-0 identity block, shared by commands 0, 11, 21 and 73.
void putIdentity(Exchange& ex);

} // namespace Sim
