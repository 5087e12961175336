#include "mastercommands.h"

#include "hart/codecsupport.h"
#include "hart/encoding.h"

namespace Hart {

namespace {

// The context of these rows is the master; the argument is used as given.
ParserMaster* self(void* context, ParserMaster* master)
{
    return context ? static_cast<ParserMaster*>(context) : master;
}

void clear(void* context, ParserMaster* master, std::uint8_t flags)
{
    ParserMaster* m = self(context, master);
    m->requestFlags = std::uint8_t(m->requestFlags & ~flags);
}

const ResponseMapping readMapping[] = {{16, AccessRestricted}};
const ResponseMapping pollingAddressMapping[] = {{2, InvalidPollingAddress}, {5, TooFewDataBytes},
                                                 {6, DeviceSpecificError}, {7, WriteProtected},
                                                 {12, InvalidLoopCurrentMode}, {16, AccessRestricted}};
const ResponseMapping configChangedMapping[] = {{5, TooFewDataBytes}, {6, DeviceSpecificError},
                                                {7, WriteProtected}, {9, Ok}, {16, AccessRestricted}};
const ResponseMapping resetMapping[] = {{6, DeviceSpecificError}, {16, AccessRestricted}};
const ResponseMapping additionalStatusMapping[] = {{5, TooFewDataBytes}, {6, DeviceSpecificError},
                                                   {9, Ignore}, {14, Ignore}, {16, AccessRestricted}};
const ResponseMapping lockMapping[] = {{5, TooFewDataBytes}, {6, DeviceSpecificError}, {10, InvalidLockCode},
                                       {11, CannotLockPanel}, {16, AccessRestricted}};

} // namespace

void ParserMaster::requestWritePollingAddress(std::uint8_t address, std::uint8_t mode)
{
    pollingAddress = address;
    loopCurrentMode = mode;
    requestFlags |= MasterRequest::WritePollingAddress;
}

void ParserMaster::requestLock(std::uint8_t code)
{
    lockCode = code;
    requestFlags |= MasterRequest::LockDevice;
}

void ParserMaster::cancelMasterRequests()
{
    requestFlags = 0;
}

std::int32_t encodeWritePollingAddress(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    if (whenDue(self(context, master), MasterRequest::WritePollingAddress, master) < 0)
        return -1;
    ParserMaster* m = self(context, master);
    (*cursor)[0] = m->pollingAddress;
    (*cursor)[1] = m->loopCurrentMode;
    *cursor += 2;
    return defaultTimeoutMs;
}

std::uint32_t decodeWritePollingAddress(void* context, ParserMaster* master, const std::uint8_t* data,
                                        const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, pollingAddressMapping))
        return result;
    ParserMaster* m = self(context, master);
    if (dataSize(data, end) != 2 || data[0] != m->pollingAddress || data[1] != m->loopCurrentMode)
        return Ignore;
    clear(context, master, MasterRequest::WritePollingAddress);
    return Ok;
}

std::int32_t encodeReadLoopConfiguration(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(self(context, master), MasterRequest::ReadLoopConfiguration, master);
}

std::uint32_t decodeReadLoopConfiguration(void* context, ParserMaster* master, const std::uint8_t* data,
                                          const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readMapping))
        return result;
    if (dataSize(data, end) != 2)
        return Ignore;
    ParserMaster* m = self(context, master);
    m->pollingAddress = data[0];
    m->loopCurrentMode = data[1];
    clear(context, master, MasterRequest::ReadLoopConfiguration);
    return Ok;
}

std::int32_t encodeResetConfigurationChanged(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    if (whenDue(self(context, master), MasterRequest::ResetConfigurationChanged, master) < 0)
        return -1;
    storeU16(*cursor, self(context, master)->configChangeCounter);
    *cursor += 2;
    return defaultTimeoutMs;
}

std::uint32_t decodeResetConfigurationChanged(void* context, ParserMaster* master, const std::uint8_t* data,
                                              const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, configChangedMapping))
        return result;
    if (dataSize(data, end) != 2)
        return Ignore;
    self(context, master)->configChangeCounter = loadU16(data);
    // A counter mismatch: ask again at once with the counter the device holds.
    if (responseCode == 9)
        return Ignore;
    clear(context, master, MasterRequest::ResetConfigurationChanged);
    return Ok;
}

std::int32_t encodeDeviceReset(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(self(context, master), MasterRequest::DeviceReset, master);
}

std::uint32_t decodeDeviceReset(void* context, ParserMaster* master, const std::uint8_t*, const std::uint8_t*,
                                std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, resetMapping))
        return result;
    clear(context, master, MasterRequest::DeviceReset);
    return Ok;
}

std::int32_t encodeReadAdditionalStatus(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    ParserMaster* m = self(context, master);
    if (!deviceIdentified(master))
        return -1;
    if (m->requestFlags & MasterRequest::AcknowledgeAdditionalStatus) {
        // The acknowledgement echoes the status just read.
        std::uint8_t* p = *cursor;
        for (int i = 0; i < 6; ++i)
            p[i] = m->additionalStatus[5 - i];
        storeU16(p + 6, m->expandedDeviceType);
        p[8] = 0;
        p[9] = m->standardizedStatus0;
        *cursor += 10;
        return defaultTimeoutMs;
    }
    return m->requestFlags & MasterRequest::ReadAdditionalStatus ? defaultTimeoutMs : -1;
}

std::uint32_t decodeReadAdditionalStatus(void* context, ParserMaster* master, const std::uint8_t* data,
                                         const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, additionalStatusMapping))
        return result;
    const std::uint32_t size = dataSize(data, end);
    if (size < 8)
        return Ignore;
    ParserMaster* m = self(context, master);
    for (int i = 0; i < 6; ++i)
        m->additionalStatus[i] = data[i];
    m->extendedStatus = data[6];
    // An 8-byte answer has no standardized status 0; the value read before stays.
    if (size > 8)
        m->standardizedStatus0 = data[8];
    if (master->deviceStatus & 0x10) {
        m->requestFlags = std::uint8_t((m->requestFlags & ~MasterRequest::ReadAdditionalStatus)
                                       | MasterRequest::AcknowledgeAdditionalStatus);
        return Continue;
    }
    clear(context, master, MasterRequest::ReadAdditionalStatus | MasterRequest::AcknowledgeAdditionalStatus);
    return Ok;
}

std::int32_t encodeLockDevice(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    if (whenDue(self(context, master), MasterRequest::LockDevice, master) < 0)
        return -1;
    **cursor = self(context, master)->lockCode;
    *cursor += 1;
    return defaultTimeoutMs;
}

std::uint32_t decodeLockDevice(void* context, ParserMaster* master, const std::uint8_t* data,
                               const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, lockMapping))
        return result;
    if (dataSize(data, end) < 1)
        return Ignore;
    clear(context, master, MasterRequest::LockDevice);
    return Ok;
}

std::int32_t encodeReadLockState(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(self(context, master), MasterRequest::ReadLockState, master);
}

std::uint32_t decodeReadLockState(void* context, ParserMaster* master, const std::uint8_t* data,
                                  const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, resetMapping))
        return result;
    if (dataSize(data, end) < 1)
        return Ignore;
    self(context, master)->lockState = data[0];
    clear(context, master, MasterRequest::ReadLockState);
    return Ok;
}

} // namespace Hart
