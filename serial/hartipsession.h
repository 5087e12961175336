#pragma once
// The client side of a HART-IP session as a state machine without sockets: the owner feeds it
// what the network delivered and the time, and it sends through a callback. It is the HART-IP
// link's whole logic, so it can be tested and fuzzed without a network.

#include "hartlink.h"

#include "hart/hartip.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class HartIpSession : public HartLink {
public:
    enum class Transport : std::uint8_t { Udp, Tcp };
    enum class Phase : std::uint8_t { Closed, Initiating, Open, Lost };
    enum class Failure : std::uint8_t {
        None,
        NoServer,  // no connection, no answer to the session initiate
        Refused,   // the server answered the initiate with an error (busy)
        Malformed, // a TCP stream that can no longer be framed
        Closed,    // the server closed the session or the connection
        Silent,    // a keep-alive went unanswered
    };
    using Sender = std::function<void(const std::uint8_t* bytes, std::size_t length)>;
    // Every whole message sent or received, for the traffic capture.
    using MessageObserver = std::function<void(const std::uint8_t* bytes, std::size_t length, bool outgoing)>;

    // The inactivity close timer asked of the server, and how long an answer to a session
    // message may take.
    static constexpr std::uint32_t inactivityMs = 60000;
    static constexpr std::uint32_t sessionAnswerMs = 3000;
    // Preambles put in front of an answer frame: the master's parser finds the frame behind them.
    static constexpr std::uint32_t answerPreambles = 5;

    // buffer must outlive the session.
    HartIpSession(std::uint8_t* buffer, std::uint32_t bufferSize);

    // Starts a session: sends the session initiate. Anything before is discarded.
    void begin(Transport transport, Sender sender, std::uint64_t nowMs);
    // A datagram (UDP: exactly one message) or a piece of the stream (TCP).
    void receive(const std::uint8_t* bytes, std::size_t length, std::uint64_t nowMs);
    // Time-outs and keep-alives; call at least every few hundred milliseconds.
    void tick(std::uint64_t nowMs);
    // The transport failed under the session (connection closed, port unreachable).
    void transportFailed(Failure why);

    Phase phase() const { return m_phase; }
    Failure failure() const { return m_failure; }
    void setMessageObserver(MessageObserver observer) { m_observer = std::move(observer); }

    // HartLink. close() sends a session close if the session is open.
    void close() override;
    bool isOpen() const override { return m_phase == Phase::Open; }
    bool portLost() const override { return m_phase == Phase::Lost; }
    TerminalState state() const override { return m_state; }
    std::uint32_t receivedLength() const override;
    void releaseReceived() override;
    std::uint8_t* claimForTransmit() override;
    bool transmit(std::uint32_t length) override;
    void setFrameReceivedHook(FrameHook hook, void* context) override;

private:
    void send(const std::vector<std::uint8_t>& message);
    void handle(const std::uint8_t* message, std::size_t length);
    void deliverFrame(const std::uint8_t* frame, std::size_t length);
    void lose(Failure why);
    void discardRequests();
    std::uint16_t nextSequence() { return m_sequence++; }

    std::uint8_t* const m_buffer;
    const std::uint32_t m_bufferSize;
    Transport m_transport = Transport::Udp;
    Sender m_sender;
    MessageObserver m_observer;
    Hart::Ip::StreamFramer m_framer;
    Phase m_phase = Phase::Closed;
    Failure m_failure = Failure::None;
    TerminalState m_state = TerminalState::Idle;
    std::uint32_t m_received = 0;
    std::uint16_t m_sequence = 0;
    std::uint16_t m_initiateSequence = 0;
    // The token-passing request whose answer is awaited, if any.
    bool m_requestPending = false;
    std::uint16_t m_requestSequence = 0;
    // A session message (initiate, keep-alive) awaiting its answer since m_sessionSentAt.
    bool m_sessionPending = false;
    std::uint16_t m_keepAliveSequence = 0;
    std::uint64_t m_sessionSentAt = 0;
    std::uint64_t m_lastSentAt = 0;
    std::uint64_t m_now = 0;
    // Since when part of a TCP message has waited for its rest (0: nothing waits). A message
    // cut for good would otherwise swallow every answer after it.
    std::uint64_t m_partialSince = 0;
    std::uint32_t m_serverInactivityMs = inactivityMs;
    FrameHook m_hook = nullptr;
    void* m_hookContext = nullptr;
};
