#pragma once
// The device's real-time clock: set (command 89) and read (command 90).

#include <cstdint>

#include "hart/parsermaster.h"

namespace Hart {

namespace ClockRequest {
constexpr std::uint8_t SetClock = 0x01; // command 89
constexpr std::uint8_t ReadClock = 0x02; // command 90
} // namespace ClockRequest

struct ClockRecord {
    std::uint32_t time = 0; // time of day in 1/32 ms
    std::uint8_t date[3] = {}; // day, month, year minus 1900
    std::uint32_t lastSetTime = 0;
    std::uint8_t lastSetDate[3] = {};
    std::uint8_t clockFlags = 0;
    std::uint8_t requestFlags = 0;

    // date: day in the lowest byte, then month, then year minus 1900.
    void requestSetClock(std::uint32_t timeOfDay, std::uint32_t newDate);
};

std::int32_t encodeSetClock(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeSetClock(void* context, ParserMaster* master, const std::uint8_t* data,
                             const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadClock(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadClock(void* context, ParserMaster* master, const std::uint8_t* data,
                              const std::uint8_t* end, std::uint8_t responseCode);

} // namespace Hart
