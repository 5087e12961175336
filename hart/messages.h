#pragma once
// Result codes and the constant text tables: response-code messages, field device status bits
// and engineering units. Every text here is a UTF-8 literal; show it with QString::fromUtf8.

#include <cstdint>

namespace Hart {

// Outcome of a parse or a decoder. 13..53 index the message table, 54 and 55 steer the frame layer.
enum Result : std::uint32_t {
    Ok = 0,
    TypeMismatch = 13,
    InvalidSelection = 14,
    InvalidPollingAddress = 15,
    ParameterTooLarge = 16,
    ParameterTooSmall = 17,
    TooFewDataBytes = 18,
    DeviceSpecificError = 19,
    WriteProtected = 20,
    AccessRestricted = 21,
    CommandNotImplemented = 38,
    InvalidLoopCurrentMode = 39,
    UnexpectedResponseCode = 40,
    InvalidLockCode = 41,
    CannotLockPanel = 42,
    InvalidVariableCode = 43,
    MultidropMode = 44,
    InvalidDateFormat = 45,
    InvalidTimeSetCode = 46,
    BufferOverflow = 47,
    CommunicationFailure = 48,
    LongitudinalParityError = 49,
    FramingError = 50,
    OverrunError = 51,
    VerticalParityError = 52,
    InvalidFirmware = 53,
    Continue = 54,
    Ignore = 55,
};

constexpr std::uint32_t resultMessageCount = 54;

// Message of a result code; empty for 0..12 and for anything past 53, never null.
const char* resultMessage(std::uint32_t code);

// Text of one bit of the field device status byte, by bit number 0..7 (0 is bit 0x01);
// empty beyond 7.
const char* deviceStatusText(unsigned bit);

// Engineering unit text of a HART unit code; empty where the code has none.
const char* unitText(std::uint8_t code);

} // namespace Hart
