#pragma once
// Live values: primary variable, loop current, dynamic variables and device variables with
// status (commands 1, 2, 3, 9), and the fixed loop current (command 40).

#include <cstdint>
#include <limits>

#include "hart/parsermaster.h"

namespace Hart {

namespace DynamicRequest {
constexpr std::uint8_t ReadPrimaryVariable = 0x01; // command 1
constexpr std::uint8_t ReadLoopCurrent = 0x02; // command 2
constexpr std::uint8_t ReadDynamicVariables = 0x04; // command 3
constexpr std::uint8_t FixedCurrent = 0x20; // command 40
} // namespace DynamicRequest

struct DeviceVariable {
    float value = 0.0f;
    std::uint32_t timestamp = 0; // command 9, 1/32 ms
    std::uint8_t unitCode = 0;
    std::uint8_t classification = 0;
    std::uint8_t status = 0; // bits 7..6 are the quality
    bool requested : 1; // due for command 9

    DeviceVariable() : requested(false) {}
};

struct DynamicVariablesRecord;
using VariableUpdatedCallback = void (*)(DynamicVariablesRecord* record, ParserMaster* master, std::uint8_t index);

struct DynamicVariablesRecord {
    DeviceVariable* loopCurrent = nullptr; // value in mA
    DeviceVariable* variables = nullptr; // recordCount records, indexed by device variable code
    VariableUpdatedCallback onVariableUpdated = nullptr;
    float percentOfRange = std::numeric_limits<float>::quiet_NaN();
    std::uint8_t recordCount = 3;
    std::uint8_t variableLimit = 0; // device variables the device reports
    std::uint8_t primarySlot = 0; // record that receives PV; a slot past recordCount drops it
    std::uint8_t secondarySlot = 1;
    std::uint8_t tertiarySlot = 2;
    std::uint8_t quaternarySlot = 250;
    std::uint8_t requestFlags = 0;
    std::uint8_t nextVariable = 0; // where the next command-9 request starts
    float fixedCurrent = 0.0f; // mA; 0 leaves fixed current mode

    void requestDeviceVariable(std::uint8_t index);
    void requestFixedCurrent(float milliamperes);
    void cancelDynamicRequests();
};

std::int32_t encodeReadPrimaryVariable(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadPrimaryVariable(void* context, ParserMaster* master, const std::uint8_t* data,
                                        const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadLoopCurrent(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadLoopCurrent(void* context, ParserMaster* master, const std::uint8_t* data,
                                    const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadDynamicVariables(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadDynamicVariables(void* context, ParserMaster* master, const std::uint8_t* data,
                                         const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadDeviceVariables(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadDeviceVariables(void* context, ParserMaster* master, const std::uint8_t* data,
                                        const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeFixedCurrent(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeFixedCurrent(void* context, ParserMaster* master, const std::uint8_t* data,
                                 const std::uint8_t* end, std::uint8_t responseCode);

} // namespace Hart
