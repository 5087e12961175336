#include "hartipsession.h"

#include <algorithm>
#include <cstring>

using namespace Hart::Ip;

HartIpSession::HartIpSession(std::uint8_t* buffer, std::uint32_t bufferSize)
    : m_buffer(buffer)
    , m_bufferSize(bufferSize)
{
}

void HartIpSession::begin(Transport transport, Sender sender, std::uint64_t nowMs)
{
    discardRequests();
    m_now = nowMs;
    m_transport = transport;
    m_sender = std::move(sender);
    m_framer.reset();
    m_partialSince = 0;
    m_failure = Failure::None;
    m_phase = Phase::Initiating;
    m_serverInactivityMs = inactivityMs;
    m_initiateSequence = nextSequence();
    SessionParameters parameters;
    parameters.inactivityMs = inactivityMs;
    m_sessionPending = true;
    m_sessionSentAt = nowMs;
    m_lastSentAt = nowMs;
    send(buildSessionInitiate(MessageType::Request, 0, m_initiateSequence, parameters));
}

void HartIpSession::send(const std::vector<std::uint8_t>& message)
{
    if (message.empty())
        return;
    if (m_observer)
        m_observer(message.data(), message.size(), true);
    if (m_sender)
        m_sender(message.data(), message.size());
}

void HartIpSession::receive(const std::uint8_t* bytes, std::size_t length, std::uint64_t nowMs)
{
    if (m_phase != Phase::Initiating && m_phase != Phase::Open)
        return;
    m_now = nowMs;
    if (m_transport == Transport::Udp) {
        handle(bytes, length);
        return;
    }
    if (!m_framer.append(bytes, length)) {
        lose(Failure::Malformed);
        return;
    }
    std::vector<std::uint8_t> message;
    while ((m_phase == Phase::Initiating || m_phase == Phase::Open) && m_framer.next(message))
        handle(message.data(), message.size());
    if (m_framer.poisoned())
        lose(Failure::Malformed);
    else if (m_framer.pendingBytes() == 0)
        m_partialSince = 0;
    else if (m_partialSince == 0)
        m_partialSince = nowMs;
}

void HartIpSession::handle(const std::uint8_t* message, std::size_t length)
{
    Header header;
    // A datagram is one message: a byte count that disagrees with it is a lie.
    if (decodeHeader(message, length, header) != HeaderCheck::Ok || header.byteCount != length)
        return;
    if (m_observer)
        m_observer(message, length, false);
    const std::uint8_t* body = message + headerSize;
    const std::size_t bodyLength = length - headerSize;

    if (header.type == MessageType::Request && header.id == MessageId::SessionClose) {
        lose(Failure::Closed);
        return;
    }
    const bool answer = header.type == MessageType::Response || header.type == MessageType::Error
        || header.type == MessageType::Nak;
    // Publish (burst) messages are not asked for.
    if (!answer)
        return;
    switch (header.id) {
    case MessageId::SessionInitiate: {
        if (m_phase != Phase::Initiating || header.sequence != m_initiateSequence)
            return;
        SessionParameters parameters;
        // Success, or success with the timer set to the server's nearest value, opens it.
        if (header.type != MessageType::Response || (header.status != 0 && header.status != statusNearestValue)
            || !decodeSessionBody(body, bodyLength, parameters)) {
            lose(Failure::Refused);
            return;
        }
        if (parameters.inactivityMs >= 1000)
            m_serverInactivityMs = std::min(parameters.inactivityMs, inactivityMs);
        m_sessionPending = false;
        m_phase = Phase::Open;
        return;
    }
    case MessageId::KeepAlive:
        if (!m_sessionPending || m_phase != Phase::Open || header.sequence != m_keepAliveSequence)
            return;
        // A server that refuses the keep-alive no longer knows the session.
        if (header.type != MessageType::Response) {
            lose(Failure::Closed);
            return;
        }
        m_sessionPending = false;
        return;
    case MessageId::Pdu:
        if (m_phase != Phase::Open || !m_requestPending || header.sequence != m_requestSequence)
            return;
        m_requestPending = false;
        // An error or NAK ends the exchange without an answer: the master's time-out reports it.
        if (header.type == MessageType::Response)
            deliverFrame(body, bodyLength);
        return;
    case MessageId::SessionClose:
        lose(Failure::Closed);
        return;
    }
}

void HartIpSession::deliverFrame(const std::uint8_t* frame, std::size_t length)
{
    // The buffer is the master's while it reads a frame or writes a request: this answer is lost.
    if (m_state != TerminalState::Idle || length == 0 || length + answerPreambles > m_bufferSize)
        return;
    std::memset(m_buffer, 0xFF, answerPreambles);
    std::memcpy(m_buffer + answerPreambles, frame, length);
    m_received = std::uint32_t(length + answerPreambles);
    m_state = TerminalState::Received;
    if (m_hook)
        m_hook(m_hookContext);
}

void HartIpSession::tick(std::uint64_t nowMs)
{
    m_now = nowMs;
    if (m_phase == Phase::Initiating) {
        if (nowMs - m_sessionSentAt >= sessionAnswerMs)
            lose(Failure::NoServer);
        return;
    }
    if (m_phase != Phase::Open)
        return;
    if (m_partialSince != 0 && nowMs - m_partialSince >= sessionAnswerMs) {
        lose(Failure::Malformed);
        return;
    }
    if (m_sessionPending) {
        if (nowMs - m_sessionSentAt >= sessionAnswerMs)
            lose(Failure::Silent);
        return;
    }
    // A keep-alive well inside the server's timer, so that a quiet session is not closed.
    if (nowMs - m_lastSentAt >= m_serverInactivityMs / 3) {
        m_keepAliveSequence = nextSequence();
        m_sessionPending = true;
        m_sessionSentAt = nowMs;
        m_lastSentAt = nowMs;
        send(buildMessage(MessageType::Request, MessageId::KeepAlive, 0, m_keepAliveSequence, nullptr, 0));
    }
}

void HartIpSession::transportFailed(Failure why)
{
    if (m_phase == Phase::Initiating || m_phase == Phase::Open)
        lose(why);
}

void HartIpSession::lose(Failure why)
{
    discardRequests();
    m_failure = why;
    m_phase = Phase::Lost;
}

void HartIpSession::discardRequests()
{
    m_requestPending = false;
    m_sessionPending = false;
    m_received = 0;
    m_state = TerminalState::Idle;
}

void HartIpSession::close()
{
    if (m_phase == Phase::Open)
        send(buildMessage(MessageType::Request, MessageId::SessionClose, 0, nextSequence(), nullptr, 0));
    discardRequests();
    m_framer.reset();
    m_phase = Phase::Closed;
    m_sender = nullptr;
}

std::uint32_t HartIpSession::receivedLength() const
{
    return m_state == TerminalState::Received ? m_received : 0;
}

void HartIpSession::releaseReceived()
{
    if (m_state != TerminalState::Received)
        return;
    m_received = 0;
    m_state = TerminalState::Idle;
}

std::uint8_t* HartIpSession::claimForTransmit()
{
    if (m_phase != Phase::Open)
        return nullptr;
    m_received = 0;
    m_state = TerminalState::Filling;
    return m_buffer;
}

bool HartIpSession::transmit(std::uint32_t length)
{
    if (m_state != TerminalState::Filling)
        return false;
    m_state = TerminalState::Idle;
    if (m_phase != Phase::Open || length == 0 || length > m_bufferSize)
        return false;
    const std::uint16_t sequence = nextSequence();
    std::vector<std::uint8_t> message = buildPdu(MessageType::Request, sequence, m_buffer, length);
    if (message.empty())
        return false;
    // A new request replaces the one before: a late answer to that one no longer matches.
    m_requestPending = true;
    m_requestSequence = sequence;
    m_lastSentAt = m_now;
    send(message);
    return true;
}

void HartIpSession::setFrameReceivedHook(FrameHook hook, void* context)
{
    m_hook = hook;
    m_hookContext = context;
}
