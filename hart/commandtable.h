#pragma once
// The 36 rows of the program's command table in their fixed order (the order breaks every tie of
// the selection). Handlers are left null; the window sets its own.

#include <cstdint>

#include "hart/parsermaster.h"

namespace Hart {

struct IdentityRecord;
struct DynamicVariablesRecord;
struct ClockRecord;
struct DetectorConfig;
class ParserMasterEventLog;
class ParserMasterFirmwareUpdate;

constexpr std::uint8_t commandTableSize = 36;

struct CommandContexts {
    ParserMaster* master;
    IdentityRecord* identity;
    DynamicVariablesRecord* dynamicVariables;
    ClockRecord* clock;
    DetectorConfig* detector;
    ParserMasterEventLog* eventLog;
    ParserMasterFirmwareUpdate* firmware;
};

void fillCommandTable(CommandEntry (&table)[commandTableSize], const CommandContexts& contexts);

// Drops every request raised on the master and on its records but the event log's, whose
// owner ends its transfer in its own way.
void cancelRequests(const CommandContexts& contexts);

// Row of a command in that table, or -1.
int commandRow(std::uint16_t command);

} // namespace Hart
