// The detector's own commands 130..138: settings, loop currents and the service operations.

#include "hart/encoding.h"
#include "sim/exchange.h"

namespace Sim {

namespace {

constexpr std::uint8_t serviceFactoryReset = 2;
constexpr std::uint8_t serviceClearStatus = 3;
constexpr std::uint16_t maxCurrentUa = 24000;

void serviceOperation(Exchange& ex)
{
    DeviceState& s = ex.state;
    if (!ex.needs(1))
        return;
    const std::uint8_t code = ex.data[0];
    if (code == serviceFactoryReset) {
        if (!ex.mayWrite())
            return;
        s.configuration = defaultConfiguration(s.expandedDeviceType);
        s.currentsUa = DeviceState{}.currentsUa;
        markConfigChanged(s);
    } else if (code == serviceClearStatus) {
        // Clears the latched alarm and the fault lines; byte 2 is the module version, not a fault.
        for (std::size_t i = 0; i < s.additionalStatus.size(); ++i)
            if (i != 2)
                s.additionalStatus[i] = 0;
        s.statusBits = 0;
        if (s.variables[0].base >= 4.5f)
            s.variables[0].base = 3.0f;
    } else {
        return ex.fail(Rc::InvalidSelection);
    }
    ex.put8(code);
}

void writeCurrents(Exchange& ex)
{
    DeviceState& s = ex.state;
    if (!ex.needs(10) || !ex.mayWrite())
        return;
    std::array<std::uint16_t, 5> values;
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = Hart::loadU16(ex.data + 2 * i);
        if (values[i] > maxCurrentUa)
            return ex.fail(Rc::TooLarge);
    }
    if (values != s.currentsUa)
        markConfigChanged(s);
    s.currentsUa = values;
    ex.putBytes(ex.data, 10);
}

void writeConfiguration(Exchange& ex)
{
    DeviceState& s = ex.state;
    if (!ex.needs(4) || !ex.mayWrite())
        return;
    if (ex.data[2] > 100)
        return ex.fail(Rc::TooLarge);
    std::array<std::uint8_t, 4> bytes{ex.data[0], ex.data[1], ex.data[2], ex.data[3]};
    if (bytes != s.configuration)
        markConfigChanged(s);
    s.configuration = bytes;
    ex.putBytes(bytes.data(), bytes.size());
}

void startOperation(Exchange& ex, ServiceOperation& op)
{
    op.state = 1;
    op.pollsLeft = op.runningPolls;
    ex.put8(op.state);
}

void readOperation(Exchange& ex, ServiceOperation& op)
{
    if (op.state == 1) {
        if (op.pollsLeft > 0)
            --op.pollsLeft;
        else
            op.state = op.result;
    }
    ex.put8(op.state);
}

} // namespace

bool handleDeviceSpecific(Exchange& ex)
{
    DeviceState& s = ex.state;
    switch (ex.command) {
    case 130: serviceOperation(ex); return true;
    case 131:
        for (std::uint16_t value : s.currentsUa)
            ex.put16(value);
        return true;
    case 132: writeCurrents(ex); return true;
    case 133: ex.putBytes(s.configuration.data(), s.configuration.size()); return true;
    case 134: writeConfiguration(ex); return true;
    case 135: readOperation(ex, s.calibration); return true;
    case 136:
        if (ex.mayWrite())
            startOperation(ex, s.calibration);
        return true;
    case 137: readOperation(ex, s.opticsCheck); return true;
    case 138: startOperation(ex, s.opticsCheck); return true;
    case 252: handleEventLog(ex); return true;
    case 253: handleFirmware(ex); return true;
    default: return false;
    }
}

} // namespace Sim
