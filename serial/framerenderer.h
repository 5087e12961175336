#pragma once
// One HART frame as one line of rich text for the traffic monitor.

#include <cstdint>

#include <QString>

// The line for the bytes of one frame as they were sent (outgoing) or received, ending in "<br>".
// resultCode is what the frame layer made of it (0 for a request); the renderer checks the frame
// again on its own and reports a fault it finds with a code of its own (18, 25, 48 or 49).
// Reads only bytes[0 .. length); the bytes may be anything the line delivered.
QString renderFrame(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t resultCode, bool outgoing);

// "02 80 00": two upper-case hexadecimal digits a byte, one blank between; empty for an empty range.
QString hexBytes(const std::uint8_t* first, const std::uint8_t* last);
