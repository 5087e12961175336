#include "dynamicvariablesrecord.h"

#include <cstring>

#include "hart/codecsupport.h"
#include "hart/encoding.h"

namespace Hart {

namespace {

DynamicVariablesRecord* dynamic(void* context)
{
    return static_cast<DynamicVariablesRecord*>(context);
}

DeviceVariable* slotRecord(DynamicVariablesRecord* r, std::uint8_t slot)
{
    return r->variables && slot < r->recordCount ? &r->variables[slot] : nullptr;
}

bool stillRequested(const DynamicVariablesRecord* r)
{
    if (!r->variables)
        return false;
    for (std::uint32_t i = r->nextVariable; i < r->recordCount && i < r->variableLimit; ++i) {
        if (r->variables[i].requested)
            return true;
    }
    return false;
}

const ResponseMapping readMapping[] = {{6, DeviceSpecificError}, {8, Ignore}, {16, AccessRestricted}};
const ResponseMapping deviceVariablesMapping[] = {{2, InvalidVariableCode}, {5, TooFewDataBytes},
                                                  {6, DeviceSpecificError}, {8, Ignore},
                                                  {14, Ignore}, {30, Ignore},
                                                  {16, AccessRestricted}};
const ResponseMapping fixedCurrentMapping[] = {{3, ParameterTooLarge}, {4, ParameterTooSmall},
                                               {5, TooFewDataBytes}, {6, DeviceSpecificError},
                                               {7, WriteProtected}, {11, MultidropMode},
                                               {16, AccessRestricted}};

} // namespace

void DynamicVariablesRecord::requestDeviceVariable(std::uint8_t index)
{
    if (variables && index < recordCount && index < variableLimit)
        variables[index].requested = true;
}

void DynamicVariablesRecord::requestFixedCurrent(float milliamperes)
{
    fixedCurrent = milliamperes;
    requestFlags |= DynamicRequest::FixedCurrent;
}

void DynamicVariablesRecord::cancelDynamicRequests()
{
    requestFlags = 0;
    for (std::uint32_t i = 0; variables && i < recordCount; ++i)
        variables[i].requested = false;
}

std::int32_t encodeReadPrimaryVariable(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(dynamic(context), DynamicRequest::ReadPrimaryVariable, master);
}

std::uint32_t decodeReadPrimaryVariable(void* context, ParserMaster*, const std::uint8_t* data,
                                        const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readMapping))
        return result;
    if (dataSize(data, end) != 5)
        return Ignore;
    DynamicVariablesRecord* r = dynamic(context);
    if (DeviceVariable* v = slotRecord(r, r->primarySlot)) {
        v->unitCode = data[0];
        v->value = loadFloat(data + 1);
    }
    r->requestFlags &= ~DynamicRequest::ReadPrimaryVariable;
    return Ok;
}

std::int32_t encodeReadLoopCurrent(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(dynamic(context), DynamicRequest::ReadLoopCurrent, master);
}

std::uint32_t decodeReadLoopCurrent(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                    std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readMapping))
        return result;
    if (dataSize(data, end) != 8)
        return Ignore;
    DynamicVariablesRecord* r = dynamic(context);
    if (r->loopCurrent)
        r->loopCurrent->value = loadFloat(data);
    r->percentOfRange = loadFloat(data + 4);
    r->requestFlags &= ~DynamicRequest::ReadLoopCurrent;
    return Ok;
}

std::int32_t encodeReadDynamicVariables(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(dynamic(context), DynamicRequest::ReadDynamicVariables, master);
}

std::uint32_t decodeReadDynamicVariables(void* context, ParserMaster* master, const std::uint8_t* data,
                                         const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readMapping))
        return result;
    const std::uint32_t size = dataSize(data, end);
    if (size != 9 && size != 14 && size != 19 && size != 24)
        return Ignore;
    DynamicVariablesRecord* r = dynamic(context);
    r->requestFlags &= ~DynamicRequest::ReadDynamicVariables;
    if (r->loopCurrent)
        r->loopCurrent->value = loadFloat(data);
    // PV, SV, TV and QV follow as unit code and value, as far as the device sends them.
    const std::uint8_t slots[4] = {r->primarySlot, r->secondarySlot, r->tertiarySlot, r->quaternarySlot};
    for (std::uint32_t i = 0; 4 + 5 * i + 5 <= size; ++i) {
        DeviceVariable* v = slotRecord(r, slots[i]);
        if (!v)
            continue;
        v->unitCode = data[4 + 5 * i];
        v->value = loadFloat(data + 5 + 5 * i);
        if (r->onVariableUpdated)
            r->onVariableUpdated(r, master, slots[i]);
    }
    return Ok;
}

std::int32_t encodeReadDeviceVariables(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    DynamicVariablesRecord* r = dynamic(context);
    if (!deviceIdentified(master) || !r->variables)
        return -1;
    std::uint32_t count = 0;
    for (std::uint32_t i = r->nextVariable; i < r->recordCount && i < r->variableLimit && count < 8; ++i) {
        if (r->variables[i].requested)
            (*cursor)[count++] = std::uint8_t(i);
    }
    // A batch cut short by an error or a cancel leaves nextVariable behind; start over from 0
    // rather than never asking for the variables below it.
    if (count == 0 && r->nextVariable != 0) {
        r->nextVariable = 0;
        return encodeReadDeviceVariables(context, master, cursor);
    }
    if (count == 0)
        return -1;
    *cursor += count;
    return defaultTimeoutMs;
}

std::uint32_t decodeReadDeviceVariables(void* context, ParserMaster* master, const std::uint8_t* data,
                                        const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, deviceVariablesMapping))
        return result;
    const std::uint32_t size = dataSize(data, end);
    if (size < 13 || size > 69 || (size - 5) % 8 != 0)
        return Ignore;
    DynamicVariablesRecord* r = dynamic(context);
    const std::uint32_t count = (size - 5) / 8;
    // An answer that serves none of the requested variables would be asked again forever.
    bool servesRequest = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const DeviceVariable* v = slotRecord(r, data[1 + 8 * i]);
        servesRequest = servesRequest || (v && v->requested);
    }
    if (!servesRequest)
        return Ignore;

    master->extendedStatus = data[0];
    const std::uint32_t timestamp = loadU32(end - 4);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* slot = data + 1 + 8 * i;
        DeviceVariable* v = slotRecord(r, slot[0]);
        if (!v)
            continue;
        v->classification = slot[1];
        v->unitCode = slot[2];
        v->value = loadFloat(slot + 3);
        v->status = slot[7];
        v->timestamp = timestamp;
        v->requested = false;
        r->nextVariable = std::uint8_t(slot[0] + 1);
        if (r->onVariableUpdated)
            r->onVariableUpdated(r, master, slot[0]);
    }
    if (stillRequested(r))
        return Continue;
    r->nextVariable = 0;
    return Ok;
}

std::int32_t encodeFixedCurrent(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    if (whenDue(dynamic(context), DynamicRequest::FixedCurrent, master) < 0)
        return -1;
    storeFloat(*cursor, dynamic(context)->fixedCurrent);
    *cursor += 4;
    return defaultTimeoutMs;
}

std::uint32_t decodeFixedCurrent(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                 std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, fixedCurrentMapping))
        return result;
    DynamicVariablesRecord* r = dynamic(context);
    std::uint8_t sent[4];
    storeFloat(sent, r->fixedCurrent);
    if (dataSize(data, end) != 4 || std::memcmp(data, sent, 4) != 0)
        return Ignore;
    if (r->loopCurrent)
        r->loopCurrent->value = r->fixedCurrent;
    r->requestFlags &= ~DynamicRequest::FixedCurrent;
    return Ok;
}

} // namespace Hart
