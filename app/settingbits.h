#pragma once
// Where the detector settings sit in configuration bytes 0..3 of commands 133 and 134, and the
// per-model choices that decide what the bytes can hold; the window and the command-line tool
// read and write the bytes through these alone.

#include <QStringList>

#include <cstdint>

namespace SettingBits {

// The analysis types the model offers, in index order; empty for a model without a choice.
QStringList analysisTypes(std::uint16_t model);
// The analysis type byte 1 holds on this model, or -1 where the byte carries none.
int analysisType(std::uint16_t model, std::uint8_t byte1);
// The analysis time in seconds: byte 3 when byte 1 says so, else the older 10 s / 5 s bit.
int analysisTime(std::uint8_t byte1, std::uint8_t byte3);

// Models with a distance scale take any second up to 20 s; the others only 5 or 10 s.
int longestAnalysisTime(std::uint16_t model);
int analysisTimeStep(std::uint16_t model);
int snapAnalysisTime(int seconds);

// Byte 0 as written: bit 2 always set, the relays' initial states in bits 1 and 0.
std::uint8_t byte0(bool alarmNormallyOpen, bool faultNormallyClosed);
// Byte 1 as written; an analysis type of -1 (none chosen) leaves the mode bits as models
// without types send them.
std::uint8_t byte1(std::uint16_t model, bool latchUntilPowerOff, int analysisType, bool autoHeat);

} // namespace SettingBits
