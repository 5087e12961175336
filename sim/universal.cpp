// The universal and common-practice commands as the detector answers them.

#include "hart/encoding.h"
#include "sim/exchange.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace Sim {

namespace {

constexpr std::uint8_t unitNotUsed = 250;
constexpr std::uint32_t nanBits = 0x7FA00000;

// Text packed into the first bytes (at most 24) of the field.
std::array<std::uint8_t, 24> packed(const std::string& text, std::uint32_t bytes)
{
    std::array<std::uint8_t, 24> field{};
    Hart::packAscii(field.data(), text.c_str(), bytes);
    return field;
}

void putPacked(Exchange& ex, const std::string& text, std::uint32_t bytes)
{
    ex.putBytes(packed(text, bytes).data(), bytes);
}

std::string unpacked(const std::uint8_t* data, std::uint32_t bytes)
{
    char buffer[33] = {};
    Hart::unpackAscii(buffer, data, bytes);
    return std::string(buffer, bytes / 3 * 4);
}

// The long tag as it travels: Latin-1, padded with zeros to 32 bytes.
std::array<std::uint8_t, 32> longTagField(const std::string& longTag)
{
    std::array<std::uint8_t, 32> field{};
    std::memcpy(field.data(), longTag.data(), std::min<std::size_t>(longTag.size(), field.size()));
    return field;
}

std::uint8_t lockStateFor(std::uint8_t code, bool primary)
{
    static const std::uint8_t states[4] = {0x00, 0x01, 0x03, 0x09};
    std::uint8_t state = states[code];
    if (state != 0 && primary)
        state |= 0x04;
    return state;
}

void putVariable(Exchange& ex, std::size_t index)
{
    const DeviceState& s = ex.state;
    ex.put8(s.variables[index].unitCode);
    ex.putFloat(variableValue(s, index, ex.now));
}

void readDeviceVariables(Exchange& ex)
{
    if (!ex.needs(1))
        return;
    const DeviceState& s = ex.state;
    const std::size_t count = std::min<std::size_t>(ex.size, 8);
    if (ex.data[0] >= s.variables.size())
        return ex.fail(Rc::InvalidSelection);
    ex.put8(s.extendedStatus);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t code = ex.data[i];
        ex.put8(code);
        if (code < s.variables.size()) {
            const VariableState& v = s.variables[code];
            ex.put8(v.classification);
            ex.put8(v.unitCode);
            ex.putFloat(variableValue(s, code, ex.now));
            ex.put8(v.status);
        } else {
            // A code the device lacks, past the first slot, is reported as "not used".
            ex.put8(0);
            ex.put8(unitNotUsed);
            ex.put32(nanBits);
            ex.put8(0x30);
        }
    }
    std::array<std::uint8_t, 3> date;
    std::uint32_t timeOfDay;
    secondsToHart(deviceSeconds(s, ex.now), date, timeOfDay);
    ex.put32(timeOfDay);
}

void writePollingAddress(Exchange& ex)
{
    DeviceState& s = ex.state;
    if (!ex.needs(1))
        return;
    const std::uint8_t address = ex.data[0];
    // An old-style one-byte request implies multidrop for every address but 0.
    const std::uint8_t mode = ex.size >= 2 ? ex.data[1] : (address == 0 ? 1 : 0);
    if (address > 63)
        return ex.fail(Rc::InvalidSelection);
    if (mode > 1)
        return ex.fail(Rc::InvalidLoopMode);
    if (!ex.mayWrite())
        return;
    if (address != s.pollingAddress || mode != s.loopCurrentMode)
        markConfigChanged(s);
    s.pollingAddress = address;
    s.loopCurrentMode = mode;
    // Any change of loop mode ends a fixed current; the master fixes it again with command 40.
    s.fixedCurrent = false;
    ex.put8(address);
    ex.put8(mode);
}

void fixCurrent(Exchange& ex)
{
    DeviceState& s = ex.state;
    if (!ex.needs(4))
        return;
    if (s.loopCurrentMode == 0)
        return ex.fail(Rc::MultidropMode);
    const float ma = Hart::loadFloat(ex.data);
    if (std::isnan(ma) || ma > 21.0f)
        return ex.fail(Rc::TooLarge);
    if (ma != 0.0f && ma < 3.8f)
        return ex.fail(Rc::TooSmall);
    s.fixedCurrent = ma != 0.0f;
    s.fixedCurrentMa = ma;
    ex.putBytes(ex.data, 4);
}

void resetConfigChanged(Exchange& ex)
{
    DeviceState& s = ex.state;
    if (ex.size >= 2 && Hart::loadU16(ex.data) != s.configChangeCounter) {
        // The master's counter is stale: tell it the current one and leave the flag set.
        ex.responseCode = Rc::InvalidDate;
        ex.put16(s.configChangeCounter);
        return;
    }
    s.configChanged = false;
    ex.put16(s.configChangeCounter);
}

void readAdditionalStatus(Exchange& ex)
{
    DeviceState& s = ex.state;
    const std::array<std::uint8_t, 9> current = additionalStatusBytes(s);
    if (ex.size > 0) {
        // The master acknowledges with the six device-specific bytes in reverse order.
        bool match = ex.size >= 6;
        for (std::size_t i = 0; match && i < 6; ++i)
            match = ex.data[i] == current[5 - i];
        if (match)
            s.acknowledgedStatus = current;
        else
            ex.responseCode = Rc::StatusMismatch;
    }
    ex.putBytes(current.data(), current.size());
}

void writeClock(Exchange& ex)
{
    DeviceState& s = ex.state;
    if (!ex.needs(8))
        return;
    const std::uint8_t code = ex.data[0];
    if (code != 1)
        return ex.fail(Rc::InvalidSelection);
    const std::uint8_t* date = ex.data + 1;
    const std::uint32_t timeOfDay = Hart::loadU32(ex.data + 4);
    if (!hartDateValid(date))
        return ex.fail(Rc::InvalidDate);
    if (timeOfDay >= 86400u * 32000u)
        return ex.fail(Rc::TooLarge);
    setDeviceSeconds(s, hartToSeconds(date, timeOfDay), ex.now);
    std::memcpy(s.lastSetDate.data(), date, 3);
    s.lastSetTime = timeOfDay;
    s.clockFlags &= std::uint8_t(~0x02);
    ex.putBytes(ex.data, 8);
}

void writeMessage(Exchange& ex)
{
    if (!ex.needs(24) || !ex.mayWrite())
        return;
    ex.state.message = unpacked(ex.data, 24);
    markConfigChanged(ex.state);
    ex.putBytes(ex.data, 24);
}

void writeTagDescriptorDate(Exchange& ex)
{
    DeviceState& s = ex.state;
    if (!ex.needs(21))
        return;
    if (!hartDateValid(ex.data + 18))
        return ex.fail(Rc::InvalidDate);
    if (!ex.mayWrite())
        return;
    s.tag = unpacked(ex.data, 6);
    s.descriptor = unpacked(ex.data + 6, 12);
    std::memcpy(s.date.data(), ex.data + 18, 3);
    markConfigChanged(s);
    ex.putBytes(ex.data, 21);
}

void writeLongTag(Exchange& ex)
{
    if (!ex.needs(32) || !ex.mayWrite())
        return;
    const auto* text = reinterpret_cast<const char*>(ex.data);
    ex.state.longTag.assign(text, strnlen(text, 32));
    markConfigChanged(ex.state);
    ex.putBytes(ex.data, 32);
}

void lockDevice(Exchange& ex)
{
    if (!ex.needs(1))
        return;
    if (ex.data[0] > 3)
        return ex.fail(Rc::InvalidLockCode);
    ex.state.lockState = lockStateFor(ex.data[0], ex.primaryMaster);
    ex.put8(ex.data[0]);
}

void readClock(Exchange& ex)
{
    const DeviceState& s = ex.state;
    std::array<std::uint8_t, 3> date;
    std::uint32_t timeOfDay;
    secondsToHart(deviceSeconds(s, ex.now), date, timeOfDay);
    ex.putBytes(date.data(), 3);
    ex.put32(timeOfDay);
    ex.putBytes(s.lastSetDate.data(), 3);
    ex.put32(s.lastSetTime);
    ex.put8(s.clockFlags);
}

} // namespace

void putIdentity(Exchange& ex)
{
    const DeviceState& s = ex.state;
    ex.put8(254);
    ex.put16(s.expandedDeviceType);
    ex.put8(s.requestPreambles);
    ex.put8(s.universalRevision);
    ex.put8(s.deviceRevision);
    ex.put8(s.softwareRevision);
    ex.put8(s.hardwareRevision);
    ex.put8(s.deviceFlags);
    ex.put24(s.deviceId);
    ex.put8(0); // response preambles: the link fills in what it really sends
    ex.put8(std::uint8_t(s.variables.size() - 1));
    ex.put16(s.configChangeCounter);
    ex.put8(s.extendedStatus);
    ex.put16(s.manufacturerCode);
    ex.put16(s.privateLabelCode);
    ex.put8(s.deviceProfile);
}

bool handleUniversal(Exchange& ex)
{
    DeviceState& s = ex.state;
    switch (ex.command) {
    case 0:
        putIdentity(ex);
        return true;
    case 73:
        ex.silent = !s.findArmed;
        putIdentity(ex);
        return true;
    case 11:
        ex.silent = ex.size < 6 || std::memcmp(packed(s.tag, 6).data(), ex.data, 6) != 0;
        putIdentity(ex);
        return true;
    case 21:
        ex.silent = ex.size < 32 || std::memcmp(longTagField(s.longTag).data(), ex.data, 32) != 0;
        putIdentity(ex);
        return true;
    case 1:
        putVariable(ex, 0);
        return true;
    case 2: {
        const float ma = loopCurrentMa(s, ex.now);
        ex.putFloat(ma);
        ex.putFloat(percentOfRange(ma));
        return true;
    }
    case 3:
        ex.putFloat(loopCurrentMa(s, ex.now));
        for (std::size_t i = 0; i < s.variables.size(); ++i)
            putVariable(ex, i);
        return true;
    case 6: writePollingAddress(ex); return true;
    case 7:
        ex.put8(s.pollingAddress);
        ex.put8(s.loopCurrentMode);
        return true;
    case 9: readDeviceVariables(ex); return true;
    case 12: putPacked(ex, s.message, 24); return true;
    case 13:
        putPacked(ex, s.tag, 6);
        putPacked(ex, s.descriptor, 12);
        ex.putBytes(s.date.data(), 3);
        return true;
    case 16: ex.put24(s.finalAssemblyNumber); return true;
    case 17: writeMessage(ex); return true;
    case 18: writeTagDescriptorDate(ex); return true;
    case 20: ex.putBytes(longTagField(s.longTag).data(), 32); return true;
    case 22: writeLongTag(ex); return true;
    case 38: resetConfigChanged(ex); return true;
    case 40: fixCurrent(ex); return true;
    case 42: return true; // the simulator resets after the answer has been composed
    case 48: readAdditionalStatus(ex); return true;
    case 71: lockDevice(ex); return true;
    case 76: ex.put8(s.lockState); return true;
    case 89: writeClock(ex); return true;
    case 90: readClock(ex); return true;
    default: return false;
    }
}

} // namespace Sim
