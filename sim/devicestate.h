#pragma once
// Everything the simulated detector knows about itself. Plain data: the simulator guards it with
// one mutex, tests copy it out, change it and put it back.

#include "sim/eventlog.h"
#include "sim/firmwarereceiver.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace Sim {

using Clock = std::chrono::steady_clock;

// One device variable: a value that wanders slowly around its base.
struct VariableState {
    float base = 0.0f;
    float swing = 0.0f;          // amplitude of the slow sine wander; 0 keeps the value still
    float periodSeconds = 60.0f;
    std::uint8_t unitCode = 251; // 251: no unit
    std::uint8_t classification = 0;
    std::uint8_t status = 0xC0;  // quality good, not limited
};

// A service operation that runs for a number of state reads and then reports its result.
struct ServiceOperation {
    std::uint8_t state = 0;        // 0 never started, 1 running, then the result
    std::uint8_t runningPolls = 3; // reads that still see "running" after a start
    std::uint8_t result = 2;       // 2 = success for both operations
    std::uint8_t pollsLeft = 0;
};

struct DeviceState {
    // Addressing and identity.
    std::uint8_t pollingAddress = 0;
    std::uint8_t loopCurrentMode = 1; // 1 loop current active, 0 multidrop
    std::uint16_t expandedDeviceType = 0xFF04;
    std::uint32_t deviceId = 0x01E240; // 24 bits
    std::uint8_t requestPreambles = 5; // what the device asks of the master (command 0 byte 3)
    std::uint8_t universalRevision = 7;
    std::uint8_t deviceRevision = 2;
    std::uint8_t softwareRevision = 14;
    std::uint8_t hardwareRevision = 3 << 3; // bits 7..3, physical signalling 0 (Bell 202 current)
    std::uint8_t deviceFlags = 0;
    std::uint16_t manufacturerCode = 0x60A1;
    std::uint16_t privateLabelCode = 0x60A1;
    std::uint8_t deviceProfile = 1;
    bool findArmed = true; // answers command 73, as after a press of its find button

    // Status.
    std::uint16_t configChangeCounter = 0;
    bool configChanged = false;
    bool coldStart = true;          // reported once after power-up and after each reset
    std::uint8_t statusBits = 0;    // bits 0x01, 0x02, 0x04, 0x80 of the field device status
    std::uint8_t extendedStatus = 0;
    std::array<std::uint8_t, 6> additionalStatus{0, 0, 0x21, 0, 0, 0}; // byte 2: module version
    std::uint8_t standardizedStatus0 = 0;
    std::array<std::uint8_t, 9> acknowledgedStatus{}; // command-48 bytes the master last acknowledged
    std::uint8_t lockState = 0;
    bool writeProtected = false; // every write answers response code 7

    // Texts. Tag, descriptor and message hold what unpacking gives (upper case, 6-bit set).
    std::string tag = "IPP93";
    std::string descriptor = "FLAME DETECTOR";
    std::string message = "SIMULATOR";
    std::array<std::uint8_t, 3> date{6, 12, 126}; // day, month, year - 1900
    std::uint32_t finalAssemblyNumber = 120345;
    std::string longTag = "Flame detector simulator";

    // Loop current.
    bool fixedCurrent = false;
    float fixedCurrentMa = 0.0f;
    std::array<std::uint16_t, 5> currentsUa{2000, 3000, 4000, 8000, 18000}; // fault, optics, standby, test, alarm
    // Relay P2 normally closed, heating on, analysis time taken from byte 3.
    std::array<std::uint8_t, 4> configuration{0x05, 0x84, 50, 10};

    // Device variables: 0 detector state, 1 IR channel, 2 UV channel.
    std::array<VariableState, 3> variables{
        VariableState{3.0f, 0.0f, 60.0f, 251, 0, 0xC0},
        VariableState{120.0f, 6.0f, 60.0f, 36, 0, 0xC0},
        VariableState{40.0f, 2.5f, 45.0f, 36, 0, 0xC0}};

    // Real-time clock: device seconds since 2000-01-01 00:00:00 at clockReference.
    double clockSeconds = 0.0;
    Clock::time_point clockReference{};
    std::array<std::uint8_t, 3> lastSetDate{1, 1, 100};
    std::uint32_t lastSetTime = 0; // 1/32 ms since midnight
    std::uint8_t clockFlags = 0x01; // non-volatile; 0x02 would mean "clock lost"

    ServiceOperation calibration;
    ServiceOperation opticsCheck;

    EventLog eventLog;
    FirmwareReceiver firmware;
};

// A detector of the given model as it leaves the factory, its clock set from the host's clock.
DeviceState defaultDeviceState(std::uint16_t expandedDeviceType = 0xFF04);
// Detector number (1..15) of a multidrop loop: at polling address number, loop current mode 0,
// device id firstDeviceId + number - 1, the number in its tag, long tag and message, and a log of
// its own. Number 1 keeps the default detector's texts, log and find button.
DeviceState loopDeviceState(std::uint16_t expandedDeviceType, std::uint32_t firstDeviceId, unsigned number);
// Settings bytes of commands 133/134 and the five currents as a reset to defaults restores them.
std::array<std::uint8_t, 4> defaultConfiguration(std::uint16_t expandedDeviceType);

double deviceSeconds(const DeviceState& state, Clock::time_point now);
void setDeviceSeconds(DeviceState& state, double seconds, Clock::time_point now);
float variableValue(const DeviceState& state, std::size_t index, Clock::time_point now);
float loopCurrentMa(const DeviceState& state, Clock::time_point now);
float percentOfRange(float milliamperes);
std::uint8_t fieldDeviceStatus(const DeviceState& state);
// The nine bytes command 48 reports.
std::array<std::uint8_t, 9> additionalStatusBytes(const DeviceState& state);
void markConfigChanged(DeviceState& state);

// HART date (day, month, year - 1900) and time of day in 1/32 ms, from and to device seconds.
void secondsToHart(double seconds, std::array<std::uint8_t, 3>& date, std::uint32_t& timeOfDay);
bool hartDateValid(const std::uint8_t* date);
double hartToSeconds(const std::uint8_t* date, std::uint32_t timeOfDay);

} // namespace Sim
