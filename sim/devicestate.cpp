#include "sim/devicestate.h"

#include <cmath>
#include <ctime>
#include <string>

namespace Sim {

namespace {

constexpr double secondsPerDay = 86400.0;
constexpr std::int64_t days1970To2000 = 10957;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's civil algorithms).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + std::int64_t(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = std::int64_t(yoe) + era * 400 + (m <= 2);
}

unsigned daysInMonth(unsigned year, unsigned month)
{
    static const unsigned lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : lengths[month - 1];
}

} // namespace

std::array<std::uint8_t, 4> defaultConfiguration(std::uint16_t expandedDeviceType)
{
    // The 0xFF03 model leaves the factory with increased noise immunity.
    std::array<std::uint8_t, 4> bytes = DeviceState().configuration;
    if (expandedDeviceType == 0xFF03)
        bytes[1] |= 0x20;
    return bytes;
}

DeviceState defaultDeviceState(std::uint16_t expandedDeviceType)
{
    DeviceState state;
    state.expandedDeviceType = expandedDeviceType;
    state.configuration = defaultConfiguration(expandedDeviceType);
    // Only the 0xFF02 and 0xFF04 models carry a UV channel; the others report it as a still zero.
    if (expandedDeviceType != 0xFF02 && expandedDeviceType != 0xFF04)
        state.variables[2].base = state.variables[2].swing = 0.0f;
    state.acknowledgedStatus = additionalStatusBytes(state);

    // The detector's clock keeps local time, as the program sets it from the PC's local clock.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::int64_t days = daysFromCivil(local.tm_year + 1900, unsigned(local.tm_mon + 1), unsigned(local.tm_mday))
                              - days1970To2000;
    const double seconds = double(days) * secondsPerDay + local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
    setDeviceSeconds(state, seconds > 0 ? seconds : 0.0, Clock::now());
    state.eventLog = EventLog::withSampleRecords(std::uint32_t(deviceSeconds(state, Clock::now())));
    return state;
}

DeviceState loopDeviceState(std::uint16_t expandedDeviceType, std::uint32_t firstDeviceId, unsigned number)
{
    DeviceState state = defaultDeviceState(expandedDeviceType);
    state.pollingAddress = std::uint8_t(number);
    state.loopCurrentMode = 0;
    state.deviceId = (firstDeviceId + number - 1) & 0xFFFFFF;
    if (number <= 1)
        return state;
    // Only one detector on the loop answers a broadcast find; two at once would garble each other.
    state.findArmed = false;
    const std::string digits = std::to_string(number);
    state.tag = (number < 10 ? "IPP93-0" : "IPP93-") + digits;
    state.longTag += " " + digits;
    state.message += " " + digits;
    state.finalAssemblyNumber += number - 1;
    state.eventLog = EventLog::withSampleRecords(std::uint32_t(deviceSeconds(state, Clock::now())), 42 - 2 * number,
                                                 number - 1);
    // Each detector's log has an identity of its own, so a log file knows whose records it holds.
    state.eventLog.catalogueId += number - 1;
    return state;
}

double deviceSeconds(const DeviceState& state, Clock::time_point now)
{
    const double elapsed = std::chrono::duration<double>(now - state.clockReference).count();
    return state.clockSeconds + elapsed;
}

void setDeviceSeconds(DeviceState& state, double seconds, Clock::time_point now)
{
    state.clockSeconds = seconds;
    state.clockReference = now;
}

float variableValue(const DeviceState& state, std::size_t index, Clock::time_point now)
{
    if (index >= state.variables.size())
        return 0.0f;
    const VariableState& v = state.variables[index];
    if (v.swing == 0.0f || v.periodSeconds <= 0.0f)
        return v.base;
    const double t = std::chrono::duration<double>(now.time_since_epoch()).count();
    return float(v.base + v.swing * std::sin(2.0 * M_PI * t / v.periodSeconds));
}

float loopCurrentMa(const DeviceState& state, Clock::time_point now)
{
    if (state.loopCurrentMode == 0)
        return 4.0f; // multidrop parks the loop at 4 mA
    if (state.fixedCurrent)
        return state.fixedCurrentMa;
    // The loop signals the detector state with the five configured currents.
    const float detectorState = variableValue(state, 0, now);
    std::size_t slot = 2;
    switch (int(std::lround(detectorState))) {
    case 2: slot = 3; break;
    case 4: slot = 1; break;
    case 5: slot = 4; break;
    case 6: slot = 0; break;
    default: break;
    }
    return float(state.currentsUa[slot]) / 1000.0f;
}

float percentOfRange(float milliamperes)
{
    return (milliamperes - 4.0f) / 16.0f * 100.0f;
}

std::array<std::uint8_t, 9> additionalStatusBytes(const DeviceState& state)
{
    std::array<std::uint8_t, 9> bytes{};
    for (std::size_t i = 0; i < 6; ++i)
        bytes[i] = state.additionalStatus[i];
    bytes[6] = state.extendedStatus;
    bytes[7] = 0; // operating mode
    bytes[8] = state.standardizedStatus0;
    return bytes;
}

std::uint8_t fieldDeviceStatus(const DeviceState& state)
{
    std::uint8_t status = state.statusBits & 0x87;
    if (state.fixedCurrent || state.loopCurrentMode == 0)
        status |= 0x08;
    if (additionalStatusBytes(state) != state.acknowledgedStatus)
        status |= 0x10;
    if (state.coldStart)
        status |= 0x20;
    if (state.configChanged)
        status |= 0x40;
    return status;
}

void markConfigChanged(DeviceState& state)
{
    ++state.configChangeCounter;
    state.configChanged = true;
}

void secondsToHart(double seconds, std::array<std::uint8_t, 3>& date, std::uint32_t& timeOfDay)
{
    if (!(seconds >= 0.0))
        seconds = 0.0;
    const std::int64_t whole = std::int64_t(seconds);
    const std::int64_t days = whole / 86400;
    const double inDay = seconds - double(days) * secondsPerDay;
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days + days1970To2000, y, m, d);
    date = {std::uint8_t(d), std::uint8_t(m), std::uint8_t(y - 1900)};
    timeOfDay = std::uint32_t(inDay * 32000.0);
}

bool hartDateValid(const std::uint8_t* date)
{
    const unsigned day = date[0], month = date[1], year = 1900u + date[2];
    if (month < 1 || month > 12 || day < 1)
        return false;
    // The device counts from 2000 on; earlier dates cannot be kept.
    return year >= 2000 && day <= daysInMonth(year, month);
}

double hartToSeconds(const std::uint8_t* date, std::uint32_t timeOfDay)
{
    const std::int64_t days = daysFromCivil(1900 + date[2], date[1], date[0]) - days1970To2000;
    return double(days) * secondsPerDay + double(timeOfDay) / 32000.0;
}

} // namespace Sim
