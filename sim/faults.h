#pragma once
// Misbehaviour on request: each fault applies to the next requests addressed to the device.

#include <chrono>
#include <cstdint>
#include <vector>

namespace Sim {

enum class FaultKind {
    NoAnswer,            // the request is not heard: no answer, no effect
    OtherAddress,        // the answer carries another device's address
    BadCheckByte,        // the answer's check byte is wrong
    NoiseBeforePreamble, // bytes other than 0xFF precede the preambles
    CommunicationError,  // first status byte reports a communication error (value = bits)
    ResponseCode,        // the command answers with response code value
    SplitFrame,          // the answer stops for delayMs in the middle (at byte length, 0 = half)
    Burst,               // the answer is padded with preambles to length bytes
    LateAnswer,          // the answer comes delayMs later than usual
    LineClosed,          // the modem is unplugged: the line closes instead of answering
    // HART-IP only; the pseudo-terminal ignores them.
    SessionBusy,         // a session initiate is refused: all sessions in use
    ErrorMessage,        // the request gets an error message instead of the device's answer
    TruncatedHeader,     // the answer message stops inside its header
    WrongSequence,       // the answer carries another sequence number
};

struct Fault {
    FaultKind kind = FaultKind::NoAnswer;
    unsigned count = 1;    // requests it applies to; 0 applies until the faults are cleared
    unsigned after = 0;    // matching requests that pass untouched before it applies
    int command = -1;      // only requests with this command; -1 any
    std::uint8_t value = 0;
    bool keepData = false; // ResponseCode: the answer still carries the command's data
    unsigned delayMs = 0;
    unsigned length = 0;

    static Fault noAnswer(unsigned requests = 1);
    static Fault otherAddress();
    static Fault badCheckByte();
    static Fault noiseBeforePreamble(unsigned bytes = 5);
    static Fault communicationError(std::uint8_t bits = 0x08);
    static Fault responseCode(int command, std::uint8_t code, bool keepData = false);
    static Fault splitFrame(unsigned gapMs = 60, unsigned atByte = 0);
    static Fault burst(unsigned length = 300);
    static Fault lateAnswer(unsigned delayMs = 2500);
    static Fault lineClosed();
    static Fault sessionBusy(unsigned initiates = 1);
};

class FaultQueue {
public:
    void add(const Fault& fault) { m_faults.push_back(fault); }
    void clear() { m_faults.clear(); }
    std::size_t size() const { return m_faults.size(); }
    // The faults that apply to a request with this command; each one used counts down, and one
    // still waiting counts its wait down instead. Session faults are not taken here.
    std::vector<Fault> take(std::uint16_t command);
    // Whether a session initiate is refused, counting the busy fault down the same way.
    bool takeSessionBusy();

private:
    std::vector<Fault> m_faults;
};

// What goes on the line and when: pieces, each after its delay from the end of the one before.
struct Delivery {
    struct Segment {
        std::chrono::milliseconds delay{0};
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Segment> segments;
    bool closeLine = false;
    // The HART-IP faults that applied to the request; the pseudo-terminal ignores them.
    std::vector<FaultKind> network;
};

// Preambles, noise, a spoiled check byte, padding, splitting and lateness around an answer frame.
Delivery shapeAnswer(std::vector<std::uint8_t> frame, unsigned preambles, unsigned turnaroundMs,
                     const std::vector<Fault>& faults);

// The first fault of this kind, or null.
const Fault* findFault(const std::vector<Fault>& faults, FaultKind kind);

} // namespace Sim
