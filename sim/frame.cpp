#include "sim/frame.h"

#include "hart/encoding.h"

namespace Sim {

namespace {
constexpr std::uint8_t frameTypeMask = 0x07;
constexpr std::uint8_t frameTypeRequest = 2;
constexpr std::uint8_t frameTypeResponse = 6;
constexpr unsigned minimumPreambles = 2;
} // namespace

bool parseRequest(const std::uint8_t* bytes, std::size_t length, RequestFrame& out)
{
    std::size_t i = 0;
    // Skip noise up to a run of preambles long enough to lock on.
    for (;;) {
        while (i < length && bytes[i] != 0xFF)
            ++i;
        const std::size_t runStart = i;
        while (i < length && bytes[i] == 0xFF)
            ++i;
        if (i >= length)
            return false;
        if (i - runStart >= minimumPreambles) {
            out.preambles = unsigned(i - runStart);
            break;
        }
    }
    const std::uint8_t* frame = bytes + i;
    const std::size_t available = length - i;
    const std::uint8_t delimiter = frame[0];
    if ((delimiter & frameTypeMask) != frameTypeRequest)
        return false;
    const std::size_t addressLength = (delimiter & 0x80) ? 5 : 1;
    const std::size_t expansion = (delimiter >> 5) & 0x03;
    const std::size_t header = 1 + addressLength + expansion + 2; // delimiter .. byte count
    if (available < header + 1)
        return false;
    const std::size_t count = frame[header - 1];
    if (available < header + count + 1)
        return false;
    if (Hart::checkByte(frame, std::uint32_t(header + count + 1)) != 0)
        return false;
    out.delimiter = delimiter;
    out.address.assign(frame + 1, frame + 1 + addressLength);
    out.command = frame[header - 2];
    out.data.assign(frame + header, frame + header + count);
    return true;
}

std::vector<std::uint8_t> buildResponse(const std::vector<std::uint8_t>& address, std::uint8_t command,
                                        std::uint8_t responseCode, std::uint8_t deviceStatus,
                                        const std::vector<std::uint8_t>& data)
{
    const std::size_t dataLength = data.size() > 253 ? 253 : data.size();
    std::vector<std::uint8_t> frame;
    frame.reserve(address.size() + dataLength + 6);
    frame.push_back(std::uint8_t((address.size() == 5 ? 0x80 : 0x00) | frameTypeResponse));
    frame.insert(frame.end(), address.begin(), address.end());
    frame.push_back(command);
    frame.push_back(std::uint8_t(dataLength + 2));
    frame.push_back(responseCode);
    frame.push_back(deviceStatus);
    frame.insert(frame.end(), data.begin(), data.begin() + std::ptrdiff_t(dataLength));
    frame.push_back(Hart::checkByte(frame.data(), std::uint32_t(frame.size())));
    return frame;
}

} // namespace Sim
