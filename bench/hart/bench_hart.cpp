// Prints the time the master takes per request built and per response parsed, for frames the size
// of command 0 and command 3. Figures only; nothing passes or fails.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "hart/hart.h"

using namespace Hart;

namespace {

constexpr int rounds = 200000;
volatile std::uint32_t sink = 0;

struct Bench {
    ParserMaster master;
    IdentityRecord identity;
    DynamicVariablesRecord dynamic;
    ClockRecord clock;
    DetectorConfig detector;
    ParserMasterEventLog eventLog;
    ParserMasterFirmwareUpdate firmware;
    DeviceVariable loopCurrent;
    DeviceVariable variables[3];
    CommandEntry table[commandTableSize];

    Bench()
    {
        dynamic.loopCurrent = &loopCurrent;
        dynamic.variables = variables;
        fillCommandTable(table, {&master, &identity, &dynamic, &clock, &detector, &eventLog, &firmware});
        master = ParserMaster(table, commandTableSize, &dynamic, nullptr);
        master.deviceId = 0x0A0B0C;
    }
};

// A response as the device sends it: preambles, delimiter, address, command, count, status, data.
std::uint32_t makeResponse(std::uint8_t* out, bool shortFrame, std::uint8_t command, const std::uint8_t* data,
                           std::uint32_t size)
{
    std::uint32_t n = 0;
    for (int i = 0; i < 5; ++i)
        out[n++] = 0xFF;
    const std::uint32_t start = n;
    out[n++] = shortFrame ? 0x06 : 0x86;
    if (shortFrame) {
        out[n++] = 0x00;
    } else {
        const std::uint8_t address[] = {0x3F, 0x04, 0x0A, 0x0B, 0x0C};
        std::memcpy(out + n, address, 5);
        n += 5;
    }
    out[n++] = command;
    out[n++] = std::uint8_t(size + 2);
    out[n++] = 0;
    out[n++] = 0;
    std::memcpy(out + n, data, size);
    n += size;
    out[n] = checkByte(out + start, n - start);
    return n + 1;
}

template <typename F>
double nanosecondsPer(F&& body)
{
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        body();
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - begin).count() / rounds;
}

void buildFigure(const char* name, std::uint16_t command, void (*raise)(Bench&))
{
    Bench b;
    std::uint8_t buffer[requestBufferSize];
    const double ns = nanosecondsPer([&] {
        raise(b);
        b.master.attempts = 0;
        std::uint32_t length = 0;
        b.master.buildRequest(buffer, &length);
        sink = sink + length;
    });
    std::printf("buildRequest  %-28s %8.1f ns (command %u)\n", name, ns, unsigned(command));
}

void parseFigure(const char* name, int row, bool shortFrame, std::uint8_t command, const std::uint8_t* data,
                 std::uint32_t size)
{
    Bench b;
    std::uint8_t response[256];
    const std::uint32_t length = makeResponse(response, shortFrame, command, data, size);
    std::uint8_t buffer[256];
    const double ns = nanosecondsPer([&] {
        b.master.current = &b.table[row];
        b.master.attempts = 5;
        b.master.expandedDeviceType = 0xFF04;
        b.master.deviceId = 0x0A0B0C;
        std::memcpy(buffer, response, length);
        std::uint8_t rc = 0;
        sink = sink + b.master.parseResponse(buffer, length, &rc);
    });
    std::printf("parseResponse %-28s %8.1f ns (%u bytes)\n", name, ns, unsigned(length));
}

} // namespace

int main()
{
    buildFigure("read unique identifier", 0,
                [](Bench& b) { b.identity.requestFlags |= IdentityRequest::ReadUniqueIdentifier; });
    buildFigure("read dynamic variables", 3,
                [](Bench& b) { b.dynamic.requestFlags |= DynamicRequest::ReadDynamicVariables; });

    const std::uint8_t identity[22] = {254, 0xFF, 0x04, 5, 7, 2, 0x11, 0x29, 0, 0x0A, 0x0B,
                                       0x0C, 6, 2, 0, 7, 1, 0, 0x60, 0, 0x61, 0x81};
    parseFigure("read unique identifier", commandRow(0), true, 0, identity, sizeof identity);
    std::uint8_t dynamicValues[24];
    for (int i = 0; i < 24; ++i)
        dynamicValues[i] = std::uint8_t(0x40 + i);
    parseFigure("read dynamic variables", commandRow(3), false, 3, dynamicValues, sizeof dynamicValues);
    return 0;
}
