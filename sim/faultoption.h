#pragma once
// Line faults written as text, for ipp93kt-detector-sim's --fault option:
//
//   KIND[:VALUE][,cmd=N][,times=N][,after=N][,at=N][,data]
//
// e.g. "no-answer:3", "late:2500ms,cmd=3", "split:60ms,at=12", "hang-up-after:20".

#include "sim/faults.h"

#include <string>

namespace Sim {

// Fills fault from text; on a malformed text returns false and says why in error.
bool parseFaultOption(const std::string& text, Fault& fault, std::string& error);

// The kinds and modifiers, one per line, for --help.
extern const char* const faultOptionHelp;

} // namespace Sim
