#pragma once
// Byte-level helpers shared by the master, the simulator, the fuzzers and the benchmarks:
// wire numbers, packed ASCII and the check byte. Plain C++17, no Qt.

#include <cstdint>

namespace Hart {

// Wire numbers are most significant byte first; 24-bit fields live in the low bytes of a u32.
std::uint16_t loadU16(const std::uint8_t* p);
std::uint32_t loadU24(const std::uint8_t* p);
std::uint32_t loadU32(const std::uint8_t* p);
float loadFloat(const std::uint8_t* p);
void storeU16(std::uint8_t* p, std::uint16_t value);
void storeU24(std::uint8_t* p, std::uint32_t value);
void storeU32(std::uint8_t* p, std::uint32_t value);
void storeFloat(std::uint8_t* p, float value);

// The event-log command carries its numbers least significant byte first.
std::uint16_t loadU16Le(const std::uint8_t* p);
std::uint32_t loadU32Le(const std::uint8_t* p);
void storeU16Le(std::uint8_t* p, std::uint16_t value);
void storeU32Le(std::uint8_t* p, std::uint32_t value);

// Packs outBytes / 3 groups of four 6-bit characters; a NUL pads the rest of the field with
// spaces, lower-case letters are raised, anything unrepresentable becomes '?'.
void packAscii(std::uint8_t* out, const char* text, std::uint32_t outBytes);
// Four characters per three bytes; writes no terminator.
void unpackAscii(char* out, const std::uint8_t* in, std::uint32_t inBytes);

// Exclusive OR of the bytes: the check byte covers everything from the delimiter on.
std::uint8_t checkByte(const std::uint8_t* data, std::uint32_t length);

} // namespace Hart
