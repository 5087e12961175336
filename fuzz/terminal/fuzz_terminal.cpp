// Drives the terminal's state machine without a thread or a port: bytes arrive, the worker
// counts silence and sends, the master claims, writes, sends and releases, in any order.
// Checks after every step: nothing is written outside the buffer, the received length stays
// within it, a claim never succeeds while a request waits or goes out, the state moves only as
// the operation allows, a received frame is exactly the bytes that arrived for it, and a sent
// request is exactly what the master wrote.
//
// Input: byte 0 the buffer size (1..64), byte 1 the silence threshold (0..7); then one byte a
// step, whose low three bits pick the operation and whose high bits (or the next byte) its
// argument.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "comhalfduplexterminal.h"

namespace {

constexpr std::size_t guardSize = 32;
constexpr std::uint8_t guardByte = 0xA5;

using S = TerminalState;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The states an operation may leave behind, from a given state.
bool allowed(int op, S from, S to)
{
    if (from == to)
        return true;
    switch (op) {
    case 0: // receiveByte
        return (from == S::Idle && to == S::Receiving) || (from == S::Receiving && to == S::Idle);
    case 1: // nextTransmitByte
        return false;
    case 2: // idleTick
        return (from == S::Receiving && to == S::Received) || (from == S::TransmitRequested && to == S::Transmitting)
            || (from == S::Transmitting && to == S::Idle);
    case 3: // claimForTransmit
        return to == S::Filling && from != S::TransmitRequested && from != S::Transmitting;
    case 4: // transmit
        return from == S::Filling && (to == S::TransmitRequested || to == S::Idle);
    case 5: // releaseReceived
        return from == S::Received && to == S::Idle;
    case 6: // the worker sends the whole request, then ticks
        return from == S::Transmitting && to == S::Idle;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint32_t bufferSize = 1 + data[0] % 64;
    const std::uint8_t threshold = data[1] % 8;
    std::vector<std::uint8_t> block(guardSize + bufferSize + guardSize, guardByte);
    std::uint8_t* const buffer = block.data() + guardSize;
    ComHalfDuplexTerminal terminal(buffer, bufferSize, threshold);

    std::vector<std::uint8_t> arrived;  // every byte given to receiveByte, in order
    std::vector<std::uint8_t> written;  // what the master wrote after its last claim
    std::vector<std::uint8_t> request;  // the request handed over by transmit
    std::vector<std::uint8_t> sent;     // what the worker has sent of it
    bool lastSent = false;              // the worker has sent the last byte of the request

    for (std::size_t pos = 2; pos < size;) {
        const std::uint8_t step = data[pos++];
        const int op = step & 0x07;
        const S before = terminal.state();
        switch (op) {
        case 0:
            if (pos < size)
                arrived.push_back(data[pos++]);
            else
                arrived.push_back(step);
            terminal.receiveByte(arrived.back());
            break;
        case 1: {
            // The worker never asks again after the last byte of a request; it ticks first.
            if (before == S::Transmitting && lastSent)
                break;
            const std::uint16_t word = terminal.nextTransmitByte();
            if (before == S::Transmitting) {
                sent.push_back(std::uint8_t(word));
                lastSent = (word & ComHalfDuplexTerminal::lastByteFlag) != 0;
                check(sent.size() <= request.size() && std::equal(sent.begin(), sent.end(), request.begin()));
                check(lastSent == (sent.size() == request.size()));
            }
            break;
        }
        case 2:
            terminal.idleTick();
            if (before == S::TransmitRequested && terminal.state() == S::Transmitting) {
                sent.clear();
                lastSent = false;
            }
            break;
        case 3: {
            std::uint8_t* claimed = terminal.claimForTransmit();
            check(claimed == nullptr || claimed == buffer);
            check((claimed == nullptr) == (before == S::TransmitRequested || before == S::Transmitting));
            if (claimed) {
                // The master writes up to the whole buffer; the step's high bits say how much.
                const std::uint32_t length = std::uint32_t(step >> 3) % (bufferSize + 1);
                written.assign(length, 0);
                for (std::uint32_t i = 0; i < length; ++i)
                    written[i] = claimed[i] = std::uint8_t(step + i);
            }
            break;
        }
        case 4: {
            // 0, what was written, the whole buffer, or one past it.
            const std::uint32_t choices[] = {0, std::uint32_t(written.size()), bufferSize, bufferSize + 1};
            const std::uint32_t length = choices[(step >> 3) & 0x03];
            const bool accepted = terminal.transmit(length);
            check(accepted == (before == S::Filling && length >= 1 && length <= bufferSize));
            if (accepted) {
                request.assign(buffer, buffer + length);
                // What the master wrote is what goes out; the rest of the buffer is whatever it held.
                const std::size_t compared = std::min<std::size_t>(length, written.size());
                check(compared == 0 || std::memcmp(request.data(), written.data(), compared) == 0);
            }
            break;
        }
        case 5:
            terminal.releaseReceived();
            break;
        case 6:
            // The worker's send: byte by byte until the last, then the tick that ends it.
            if (before == S::Transmitting) {
                while (!lastSent) {
                    const std::uint16_t word = terminal.nextTransmitByte();
                    sent.push_back(std::uint8_t(word));
                    check(sent.size() <= request.size());
                    lastSent = (word & ComHalfDuplexTerminal::lastByteFlag) != 0;
                }
                check(sent == request);
                terminal.idleTick();
            }
            break;
        default:
            // A burst of silence: enough steps of the countdown to let the line go quiet.
            for (int i = 0; i < 8 && terminal.state() != S::Transmitting; ++i)
                terminal.nextTransmitByte();
            break;
        }

        const S after = terminal.state();
        check(allowed(op == 7 ? 1 : op, before, after));
        for (std::size_t i = 0; i < guardSize; ++i)
            check(block[i] == guardByte && block[guardSize + bufferSize + i] == guardByte);
        const std::uint32_t received = terminal.receivedLength();
        check(after == S::Received ? received >= 1 && received <= bufferSize : received == 0);
        if (after == S::Received && before == S::Receiving) {
            // A frame is handed over only after silence, so it is the last bytes that arrived.
            check(received <= arrived.size());
            check(std::memcmp(buffer, arrived.data() + arrived.size() - received, received) == 0);
        }
    }
    return 0;
}
