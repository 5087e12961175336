#pragma once
// Device time: the detector counts unsigned seconds since 2000-01-01 00:00:00.

#include <cstdint>

namespace Hart {

struct CalendarTime {
    std::uint8_t hour;
    std::uint8_t minute;
    std::uint8_t second;
    std::uint8_t day;     // 1..31
    std::uint8_t month;   // 1..12
    std::uint8_t year;    // year minus 2000
    std::uint8_t weekday; // 0 = Monday .. 6 = Sunday
};

CalendarTime secondsToCalendar(std::uint32_t seconds);
std::uint8_t dayOfWeek(std::uint32_t seconds);

} // namespace Hart
