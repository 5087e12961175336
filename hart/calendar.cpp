#include "calendar.h"

namespace Hart {

namespace {

constexpr std::uint8_t leapMonths[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr std::uint8_t commonMonths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

} // namespace

std::uint8_t dayOfWeek(std::uint32_t seconds)
{
    // 2000-01-01 was a Saturday.
    return static_cast<std::uint8_t>((seconds / 86400 + 5) % 7);
}

CalendarTime secondsToCalendar(std::uint32_t seconds)
{
    CalendarTime t{};
    t.second = static_cast<std::uint8_t>(seconds % 60);
    t.minute = static_cast<std::uint8_t>(seconds / 60 % 60);
    t.hour = static_cast<std::uint8_t>(seconds / 3600 % 24);
    const std::uint32_t days = seconds / 86400;
    // Every fourth year counts as a leap year, as in the detector; that holds until 2100.
    const std::uint32_t years = days * 4 / 1461;
    std::uint32_t dayOfYear = days + 1 - (years * 1461 + 3) / 4;
    const std::uint8_t* months = years % 4 == 0 ? leapMonths : commonMonths;
    unsigned month = 0;
    while (month < 11 && dayOfYear > months[month]) {
        dayOfYear -= months[month];
        ++month;
    }
    t.day = static_cast<std::uint8_t>(dayOfYear);
    t.month = static_cast<std::uint8_t>(month + 1);
    t.year = static_cast<std::uint8_t>(years);
    t.weekday = dayOfWeek(seconds);
    return t;
}

} // namespace Hart
