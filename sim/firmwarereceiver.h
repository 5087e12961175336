#pragma once
// The receiving end of a firmware transfer (command 253): the master announces the size, then
// sends whatever chunk the device names next, until the device names the size.

#include <cstdint>
#include <vector>

namespace Sim {

struct FirmwareReceiver {
    static constexpr std::uint32_t none = 0xFFFFFFFF;
    static constexpr std::uint32_t maxSize = 1u << 20; // a larger announcement is refused with response code 9

    // Behaviour chosen by tests.
    std::vector<std::uint32_t> askOrder;  // offsets asked first, in this order; then the first gap
    std::uint8_t refuseCode = 0;          // 9..12: refuse the image ...
    std::uint32_t refuseAtOffset = none;  // ... when a chunk at or past this offset arrives; 0 refuses
                                          // the first chunk; with none and refuseCode set, the announcement
    std::uint32_t emptyAnswerAtOffset = none; // once: answer this chunk with no data, forgetting the transfer
    bool askBeyondEnd = false;            // name an offset past the image instead of its end

    // Transfer state.
    bool announced = false;
    bool complete = false;
    std::uint32_t size = 0;
    std::vector<std::uint8_t> image;
    std::vector<bool> received;
    std::size_t askPosition = 0;

    // Offset to ask for next; size when every byte has arrived.
    std::uint32_t nextOffset();
    void reset();
};

} // namespace Sim
