#include "sim/faults.h"

#include <algorithm>

namespace Sim {

namespace {

// A fault of this kind, once, on any command, with one field set.
template <typename T>
Fault faultWith(FaultKind kind, T Fault::*field, T value)
{
    Fault f{kind};
    f.*field = value;
    return f;
}

} // namespace

Fault Fault::noAnswer(unsigned requests) { return faultWith(FaultKind::NoAnswer, &Fault::count, requests); }
Fault Fault::otherAddress() { return {FaultKind::OtherAddress}; }
Fault Fault::badCheckByte() { return {FaultKind::BadCheckByte}; }
Fault Fault::noiseBeforePreamble(unsigned bytes) { return faultWith(FaultKind::NoiseBeforePreamble, &Fault::length, bytes); }
Fault Fault::communicationError(std::uint8_t bits) { return faultWith(FaultKind::CommunicationError, &Fault::value, bits); }
Fault Fault::burst(unsigned length) { return faultWith(FaultKind::Burst, &Fault::length, length); }
Fault Fault::lateAnswer(unsigned delayMs) { return faultWith(FaultKind::LateAnswer, &Fault::delayMs, delayMs); }
Fault Fault::lineClosed() { return {FaultKind::LineClosed}; }
Fault Fault::sessionBusy(unsigned initiates) { return faultWith(FaultKind::SessionBusy, &Fault::count, initiates); }

Fault Fault::responseCode(int command, std::uint8_t code, bool keepData)
{
    Fault f{FaultKind::ResponseCode};
    f.command = command;
    f.value = code;
    f.keepData = keepData;
    return f;
}

Fault Fault::splitFrame(unsigned gapMs, unsigned atByte)
{
    Fault f{FaultKind::SplitFrame};
    f.delayMs = gapMs;
    f.length = atByte;
    return f;
}

std::vector<Fault> FaultQueue::take(std::uint16_t command)
{
    std::vector<Fault> taken;
    for (auto it = m_faults.begin(); it != m_faults.end();) {
        if (it->kind == FaultKind::SessionBusy || (it->command >= 0 && it->command != command)) {
            ++it;
            continue;
        }
        if (it->after > 0) {
            --it->after;
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

bool FaultQueue::takeSessionBusy()
{
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (it->kind != FaultKind::SessionBusy)
            continue;
        if (it->after > 0) {
            --it->after;
            return false;
        }
        if (it->count != 0 && --it->count == 0)
            m_faults.erase(it);
        return true;
    }
    return false;
}

const Fault* findFault(const std::vector<Fault>& faults, FaultKind kind)
{
    const auto it = std::find_if(faults.begin(), faults.end(), [kind](const Fault& f) { return f.kind == kind; });
    return it != faults.end() ? &*it : nullptr;
}

Delivery shapeAnswer(std::vector<std::uint8_t> frame, unsigned preambles, unsigned turnaroundMs,
                     const std::vector<Fault>& faults)
{
    if (findFault(faults, FaultKind::BadCheckByte) && !frame.empty())
        frame.back() ^= 0x5A;

    std::vector<std::uint8_t> bytes;
    if (const Fault* f = findFault(faults, FaultKind::NoiseBeforePreamble)) {
        // Line noise as a modem passes it on when its carrier detect fires early.
        static const std::uint8_t noise[] = {0x00, 0x13, 0x7E, 0xA5, 0xF0, 0x3C, 0x81, 0x5A};
        for (unsigned i = 0; i < std::max(f->length, 1u); ++i)
            bytes.push_back(noise[i % sizeof noise]);
    }
    unsigned preambleCount = std::max(preambles, 1u);
    if (const Fault* f = findFault(faults, FaultKind::Burst)) {
        const std::size_t without = bytes.size() + frame.size();
        if (f->length > without + preambleCount)
            preambleCount = unsigned(f->length - without);
    }
    bytes.insert(bytes.end(), preambleCount, 0xFF);
    bytes.insert(bytes.end(), frame.begin(), frame.end());

    Delivery delivery;
    std::chrono::milliseconds delay(turnaroundMs);
    if (const Fault* f = findFault(faults, FaultKind::LateAnswer))
        delay += std::chrono::milliseconds(f->delayMs);
    const Fault* split = findFault(faults, FaultKind::SplitFrame);
    if (split && bytes.size() > 1) {
        std::size_t at = split->length ? split->length : bytes.size() - frame.size() / 2;
        at = std::min(std::max<std::size_t>(at, 1), bytes.size() - 1);
        delivery.segments.push_back({delay, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(at))});
        delivery.segments.push_back({std::chrono::milliseconds(split->delayMs),
                                     std::vector<std::uint8_t>(bytes.begin() + std::ptrdiff_t(at), bytes.end())});
    } else {
        delivery.segments.push_back({delay, std::move(bytes)});
    }
    return delivery;
}

} // namespace Sim
