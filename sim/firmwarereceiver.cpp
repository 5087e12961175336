#include "sim/firmwarereceiver.h"

#include "hart/encoding.h"
#include "sim/exchange.h"

#include <algorithm>

namespace Sim {

void FirmwareReceiver::reset()
{
    announced = false;
    complete = false;
    size = 0;
    image.clear();
    received.clear();
    askPosition = 0;
}

std::uint32_t FirmwareReceiver::nextOffset()
{
    while (askPosition < askOrder.size()) {
        const std::uint32_t offset = askOrder[askPosition++];
        if (offset < size && !received[offset])
            return offset;
    }
    const auto gap = std::find(received.begin(), received.end(), false);
    const std::uint32_t next = std::uint32_t(gap - received.begin());
    return next == size && askBeyondEnd ? size + 1 : next;
}

void handleFirmware(Exchange& ex)
{
    FirmwareReceiver& fw = ex.state.firmware;
    if (!ex.needs(4))
        return;
    const std::uint32_t value = Hart::loadU32(ex.data);

    if (ex.size == 4) {
        // Size announcement: a new transfer starts whatever went before.
        fw.reset();
        if (value == 0 || value > fw.maxSize)
            return ex.fail(9);
        if (fw.refuseCode != 0 && fw.refuseAtOffset == FirmwareReceiver::none)
            return ex.fail(fw.refuseCode);
        fw.announced = true;
        fw.size = value;
        fw.image.assign(value, 0);
        fw.received.assign(value, false);
        return ex.put32(fw.nextOffset());
    }

    if (!fw.announced) {
        // A chunk without a transfer: the empty answer makes the master announce again.
        return;
    }
    const std::uint32_t offset = value;
    const std::size_t length = ex.size - 4;
    if (fw.emptyAnswerAtOffset != FirmwareReceiver::none && offset == fw.emptyAnswerAtOffset) {
        fw.emptyAnswerAtOffset = FirmwareReceiver::none;
        fw.reset();
        return;
    }
    if (fw.refuseCode != 0 && fw.refuseAtOffset != FirmwareReceiver::none && offset >= fw.refuseAtOffset) {
        fw.reset();
        return ex.fail(fw.refuseCode);
    }
    // A chunk that does not fit is not stored; the answer names again what the device wants.
    if (offset < fw.size && length <= fw.size - offset) {
        std::copy(ex.data + 4, ex.data + ex.size, fw.image.begin() + offset);
        std::fill(fw.received.begin() + offset, fw.received.begin() + offset + length, true);
    }
    const std::uint32_t next = fw.nextOffset();
    // A repeated last chunk after the end is answered with the size again.
    if (next >= fw.size)
        fw.complete = true;
    ex.put32(next);
}

} // namespace Sim
