#include "sim/faults.h"

#include <algorithm>

namespace Sim {

Fault Fault::noAnswer(unsigned requests)
{
    Fault f;
    f.kind = FaultKind::NoAnswer;
    f.count = requests;
    return f;
}

Fault Fault::otherAddress()
{
    Fault f;
    f.kind = FaultKind::OtherAddress;
    return f;
}

Fault Fault::badCheckByte()
{
    Fault f;
    f.kind = FaultKind::BadCheckByte;
    return f;
}

Fault Fault::noiseBeforePreamble(unsigned bytes)
{
    Fault f;
    f.kind = FaultKind::NoiseBeforePreamble;
    f.length = bytes;
    return f;
}

Fault Fault::communicationError(std::uint8_t bits)
{
    Fault f;
    f.kind = FaultKind::CommunicationError;
    f.value = bits;
    return f;
}

Fault Fault::responseCode(int command, std::uint8_t code, bool keepData)
{
    Fault f;
    f.kind = FaultKind::ResponseCode;
    f.command = command;
    f.value = code;
    f.keepData = keepData;
    return f;
}

Fault Fault::splitFrame(unsigned gapMs, unsigned atByte)
{
    Fault f;
    f.kind = FaultKind::SplitFrame;
    f.delayMs = gapMs;
    f.length = atByte;
    return f;
}

Fault Fault::burst(unsigned length)
{
    Fault f;
    f.kind = FaultKind::Burst;
    f.length = length;
    return f;
}

Fault Fault::lateAnswer(unsigned delayMs)
{
    Fault f;
    f.kind = FaultKind::LateAnswer;
    f.delayMs = delayMs;
    return f;
}

Fault Fault::lineClosed()
{
    Fault f;
    f.kind = FaultKind::LineClosed;
    return f;
}

std::vector<Fault> FaultQueue::take(std::uint16_t command)
{
    std::vector<Fault> taken;
    for (auto it = m_faults.begin(); it != m_faults.end();) {
        if (it->command >= 0 && it->command != command) {
            ++it;
            continue;
        }
        taken.push_back(*it);
        if (it->count != 0 && --it->count == 0)
            it = m_faults.erase(it);
        else
            ++it;
    }
    return taken;
}

bool hasFault(const std::vector<Fault>& faults, FaultKind kind, Fault* found)
{
    for (const Fault& f : faults) {
        if (f.kind == kind) {
            if (found)
                *found = f;
            return true;
        }
    }
    return false;
}

Delivery shapeAnswer(std::vector<std::uint8_t> frame, unsigned preambles, unsigned turnaroundMs,
                     const std::vector<Fault>& faults)
{
    Fault f;
    if (hasFault(faults, FaultKind::BadCheckByte) && !frame.empty())
        frame.back() ^= 0x5A;

    std::vector<std::uint8_t> bytes;
    if (hasFault(faults, FaultKind::NoiseBeforePreamble, &f)) {
        // Line noise as a modem passes it on when its carrier detect fires early.
        static const std::uint8_t noise[] = {0x00, 0x13, 0x7E, 0xA5, 0xF0, 0x3C, 0x81, 0x5A};
        for (unsigned i = 0; i < std::max(f.length, 1u); ++i)
            bytes.push_back(noise[i % sizeof noise]);
    }
    unsigned preambleCount = std::max(preambles, 1u);
    if (hasFault(faults, FaultKind::Burst, &f)) {
        const std::size_t without = bytes.size() + frame.size();
        if (f.length > without + preambleCount)
            preambleCount = unsigned(f.length - without);
    }
    bytes.insert(bytes.end(), preambleCount, 0xFF);
    bytes.insert(bytes.end(), frame.begin(), frame.end());

    Delivery delivery;
    std::chrono::milliseconds delay(turnaroundMs);
    if (hasFault(faults, FaultKind::LateAnswer, &f))
        delay += std::chrono::milliseconds(f.delayMs);
    if (hasFault(faults, FaultKind::SplitFrame, &f) && bytes.size() > 1) {
        std::size_t at = f.length ? f.length : bytes.size() - frame.size() / 2;
        at = std::min(std::max<std::size_t>(at, 1), bytes.size() - 1);
        delivery.segments.push_back({delay, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(at))});
        delivery.segments.push_back({std::chrono::milliseconds(f.delayMs),
                                     std::vector<std::uint8_t>(bytes.begin() + std::ptrdiff_t(at), bytes.end())});
    } else {
        delivery.segments.push_back({delay, std::move(bytes)});
    }
    return delivery;
}

} // namespace Sim
