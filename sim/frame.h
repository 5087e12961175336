#pragma once
// Request frames as the device takes them off the line, and its answer frames.

#include <cstdint>
#include <vector>

namespace Sim {

struct RequestFrame {
    unsigned preambles = 0;
    std::uint8_t delimiter = 0;
    std::vector<std::uint8_t> address; // 1 byte (short) or 5 bytes (long)
    std::uint8_t command = 0;
    std::vector<std::uint8_t> data;

    bool isLong() const { return (delimiter & 0x80) != 0; }
    bool primaryMaster() const { return !address.empty() && (address[0] & 0x80) != 0; }
};

// The device needs two preambles to lock on; anything before them is noise. Bytes after the
// check byte are ignored. False for anything that is not a whole, intact request frame.
bool parseRequest(const std::uint8_t* bytes, std::size_t length, RequestFrame& out);

// Delimiter, address, command, byte count, the two status bytes, data and check byte, without
// preambles. Data beyond what a byte count can carry is cut.
std::vector<std::uint8_t> buildResponse(const std::vector<std::uint8_t>& address, std::uint8_t command,
                                        std::uint8_t responseCode, std::uint8_t deviceStatus,
                                        const std::vector<std::uint8_t>& data);

} // namespace Sim
