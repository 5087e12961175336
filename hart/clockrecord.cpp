#include "clockrecord.h"

#include <cstring>

#include "hart/codecsupport.h"
#include "hart/encoding.h"

namespace Hart {

namespace {

ClockRecord* clockRecord(void* context)
{
    return static_cast<ClockRecord*>(context);
}

constexpr std::uint8_t writeDateAndTime = 1;

const ResponseMapping setClockMapping[] = {{2, InvalidSelection}, {3, ParameterTooLarge}, {5, TooFewDataBytes},
                                           {6, DeviceSpecificError}, {9, InvalidDateFormat},
                                           {16, AccessRestricted}};

} // namespace

void ClockRecord::requestSetClock(std::uint32_t timeOfDay, std::uint32_t newDate)
{
    time = timeOfDay;
    date[0] = std::uint8_t(newDate);
    date[1] = std::uint8_t(newDate >> 8);
    date[2] = std::uint8_t(newDate >> 16);
    requestFlags |= ClockRequest::SetClock;
}

// The clock commands need no identified device.
std::int32_t encodeSetClock(void* context, ParserMaster*, std::uint8_t** cursor)
{
    ClockRecord* r = clockRecord(context);
    if (!(r->requestFlags & ClockRequest::SetClock))
        return -1;
    std::uint8_t* p = *cursor;
    p[0] = writeDateAndTime;
    std::memcpy(p + 1, r->date, 3);
    storeU32(p + 4, r->time);
    p[8] = 0;
    p[9] = 0;
    *cursor += 10;
    return defaultTimeoutMs;
}

std::uint32_t decodeSetClock(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                             std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, setClockMapping))
        return result;
    ClockRecord* r = clockRecord(context);
    if (dataSize(data, end) != 8 || data[0] != writeDateAndTime || std::memcmp(data + 1, r->date, 3) != 0
        || loadU32(data + 4) != r->time)
        return Ignore;
    r->requestFlags &= ~ClockRequest::SetClock;
    return Ok;
}

std::int32_t encodeReadClock(void* context, ParserMaster*, std::uint8_t**)
{
    return clockRecord(context)->requestFlags & ClockRequest::ReadClock ? defaultTimeoutMs : -1;
}

std::uint32_t decodeReadClock(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                              std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode))
        return result;
    if (dataSize(data, end) != 15)
        return Ignore;
    ClockRecord* r = clockRecord(context);
    // A reading taken while a new setting is on its way would overwrite the time to be sent.
    if (r->requestFlags & ClockRequest::SetClock)
        return Ok;
    std::memcpy(r->date, data, 3);
    r->time = loadU32(data + 3);
    std::memcpy(r->lastSetDate, data + 7, 3);
    r->lastSetTime = loadU32(data + 10);
    r->clockFlags = data[14];
    r->requestFlags &= ~ClockRequest::ReadClock;
    return Ok;
}

} // namespace Hart
