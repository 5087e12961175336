#include "commandtable.h"

#include "hart/clockrecord.h"
#include "hart/detectorconfig.h"
#include "hart/dynamicvariablesrecord.h"
#include "hart/identityrecord.h"
#include "hart/mastercommands.h"
#include "hart/parsermastereventlog.h"
#include "hart/parsermasterfirmwareupdate.h"

namespace Hart {

namespace {

enum class Context { Master, Identity, Dynamic, Clock, Detector, EventLog, Firmware };

struct Row {
    std::uint16_t command;
    Context context;
    Encoder encoder;
    Decoder decoder;
    std::uint8_t priorityClass;
};

// Class 0: writes and one-shot operations; 1: reads on demand; 3: cyclic reads and the log.
const Row rows[commandTableSize] = {
    {0, Context::Identity, encodeReadUniqueIdentifier, decodeReadUniqueIdentifier, 0},
    {11, Context::Identity, encodeFindByTag, decodeReadUniqueIdentifier, 0},
    {21, Context::Identity, encodeFindByLongTag, decodeReadUniqueIdentifier, 0},
    {73, Context::Identity, encodeFindDevice, decodeReadUniqueIdentifier, 0},
    {253, Context::Firmware, encodeFirmwareUpdate, decodeFirmwareUpdate, 0},
    {42, Context::Master, encodeDeviceReset, decodeDeviceReset, 0},
    {38, Context::Master, encodeResetConfigurationChanged, decodeResetConfigurationChanged, 0},
    {48, Context::Master, encodeReadAdditionalStatus, decodeReadAdditionalStatus, 1},
    {6, Context::Master, encodeWritePollingAddress, decodeWritePollingAddress, 0},
    {17, Context::Identity, encodeWriteMessage, decodeWriteMessage, 0},
    {18, Context::Identity, encodeWriteTagDescriptorDate, decodeWriteTagDescriptorDate, 0},
    {22, Context::Identity, encodeWriteLongTag, decodeWriteLongTag, 0},
    {40, Context::Dynamic, encodeFixedCurrent, decodeFixedCurrent, 0},
    {71, Context::Master, encodeLockDevice, decodeLockDevice, 0},
    {89, Context::Clock, encodeSetClock, decodeSetClock, 0},
    {130, Context::Detector, encodeServiceOperation, decodeServiceOperation, 0},
    {132, Context::Detector, encodeWriteCurrents, decodeWriteCurrents, 0},
    {134, Context::Detector, encodeWriteConfiguration, decodeWriteConfiguration, 0},
    {136, Context::Detector, encodeStartCalibration, decodeStartCalibration, 0},
    {138, Context::Detector, encodeStartOpticsCheck, decodeStartOpticsCheck, 0},
    {131, Context::Detector, encodeReadCurrents, decodeReadCurrents, 1},
    {133, Context::Detector, encodeReadConfiguration, decodeReadConfiguration, 1},
    {135, Context::Detector, encodeReadCalibration, decodeReadCalibration, 1},
    {137, Context::Detector, encodeReadOpticsCheck, decodeReadOpticsCheck, 1},
    {7, Context::Master, encodeReadLoopConfiguration, decodeReadLoopConfiguration, 1},
    {12, Context::Identity, encodeReadMessage, decodeReadMessage, 1},
    {13, Context::Identity, encodeReadTagDescriptorDate, decodeReadTagDescriptorDate, 1},
    {16, Context::Identity, encodeReadFinalAssemblyNumber, decodeReadFinalAssemblyNumber, 1},
    {20, Context::Identity, encodeReadLongTag, decodeReadLongTag, 1},
    {1, Context::Dynamic, encodeReadPrimaryVariable, decodeReadPrimaryVariable, 3},
    {2, Context::Dynamic, encodeReadLoopCurrent, decodeReadLoopCurrent, 3},
    {3, Context::Dynamic, encodeReadDynamicVariables, decodeReadDynamicVariables, 3},
    {9, Context::Dynamic, encodeReadDeviceVariables, decodeReadDeviceVariables, 3},
    {76, Context::Master, encodeReadLockState, decodeReadLockState, 1},
    {90, Context::Clock, encodeReadClock, decodeReadClock, 3},
    {252, Context::EventLog, encodeEventLog, decodeEventLog, 3},
};

void* contextOf(Context c, const CommandContexts& contexts)
{
    switch (c) {
    case Context::Master: return contexts.master;
    case Context::Identity: return contexts.identity;
    case Context::Dynamic: return contexts.dynamicVariables;
    case Context::Clock: return contexts.clock;
    case Context::Detector: return contexts.detector;
    case Context::EventLog: return contexts.eventLog;
    case Context::Firmware: return contexts.firmware;
    }
    return nullptr;
}

} // namespace

void fillCommandTable(CommandEntry (&table)[commandTableSize], const CommandContexts& contexts)
{
    for (std::uint32_t i = 0; i < commandTableSize; ++i) {
        const Row& row = rows[i];
        table[i] = CommandEntry{contextOf(row.context, contexts), row.decoder, row.encoder, nullptr, row.command,
                                row.priorityClass};
    }
}

int commandRow(std::uint16_t command)
{
    for (std::uint32_t i = 0; i < commandTableSize; ++i) {
        if (rows[i].command == command)
            return int(i);
    }
    return -1;
}

void cancelRequests(const CommandContexts& c)
{
    c.master->cancelMasterRequests();
    c.identity->cancelIdentityRequests();
    c.dynamicVariables->cancelDynamicRequests();
    c.clock->requestFlags = 0;
    c.detector->requestFlags = 0;
    c.firmware->requestFlags = 0;
}

} // namespace Hart
