#include "sim/hartipserver.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Sim {

using namespace Hart::Ip;

struct HartIpServer::Session {
    bool tcp = false;
    int fd = -1;                 // the connection (TCP)
    sockaddr_storage peer{};     // the client (UDP)
    socklen_t peerLength = 0;
    StreamFramer framer;
    bool initiated = false;
    std::uint32_t inactivityMs = maxInactivityMs;
    Clock::time_point lastHeard;
};

namespace {

// A connection that never initiates a session is closed after this long.
constexpr std::uint32_t setupMs = 10000;

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

bool samePeer(const sockaddr_storage& a, socklen_t aLength, const sockaddr_storage& b, socklen_t bLength)
{
    return aLength == bLength && std::memcmp(&a, &b, aLength) == 0;
}

int millisecondsUntil(HartIpServer::Clock::time_point when)
{
    const auto left = when - HartIpServer::Clock::now();
    if (left <= HartIpServer::Clock::duration::zero())
        return 0;
    return int(std::min<long long>(std::chrono::ceil<std::chrono::milliseconds>(left).count(), 1000));
}

} // namespace

HartIpServer::HartIpServer() = default;

HartIpServer::~HartIpServer()
{
    stop();
    closeSockets();
}

bool HartIpServer::open(const std::string& address, std::uint16_t port, std::string* error)
{
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        closeSockets();
        return false;
    };
    sockaddr_in where{};
    where.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        errno = EINVAL;
        return fail("address");
    }
    // Port 0: the system picks a free UDP port, and TCP takes the same number if it can.
    for (int attempt = 0; attempt < 20; ++attempt) {
        closeSockets();
        m_udp = ::socket(AF_INET, SOCK_DGRAM, 0);
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_udp < 0 || m_listen < 0)
            return fail("socket");
        const int on = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        where.sin_port = htons(port);
        if (::bind(m_udp, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0)
            return fail("bind UDP");
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        ::getsockname(m_udp, reinterpret_cast<sockaddr*>(&bound), &length);
        where.sin_port = bound.sin_port;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0) {
            m_port = ntohs(bound.sin_port);
            break;
        }
        if (port != 0 || errno != EADDRINUSE)
            return fail("bind TCP");
    }
    if (m_port == 0 || ::listen(m_listen, 8) != 0)
        return fail("listen");
    setNonBlocking(m_udp);
    setNonBlocking(m_listen);
    int fds[2];
    if (::pipe(fds) != 0)
        return fail("pipe");
    m_wakeRead = fds[0];
    m_wakeWrite = fds[1];
    setNonBlocking(m_wakeRead);
    return true;
}

void HartIpServer::start(FrameHandler handler, SessionGate gate)
{
    if (isRunning() || m_udp < 0)
        return;
    m_handler = std::move(handler);
    m_gate = std::move(gate);
    m_stop = false;
    m_thread = std::thread(&HartIpServer::run, this);
}

void HartIpServer::stop()
{
    if (!m_thread.joinable())
        return;
    m_stop = true;
    const char byte = 0;
    (void)!::write(m_wakeWrite, &byte, 1);
    m_thread.join();
    while (!m_sessions.empty())
        dropSession(m_sessions.size() - 1);
    m_pending.clear();
    closeSockets();
}

void HartIpServer::closeSockets()
{
    for (int* fd : {&m_udp, &m_listen, &m_wakeRead, &m_wakeWrite}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_port = 0;
}

void HartIpServer::dropSession(std::size_t index)
{
    Session* session = m_sessions[index].get();
    m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                                   [session](const Pending& p) { return p.session == session; }),
                    m_pending.end());
    if (session->fd >= 0)
        ::close(session->fd);
    m_sessions.erase(m_sessions.begin() + std::ptrdiff_t(index));
    m_sessionCount = m_sessions.size();
}

void HartIpServer::run()
{
    std::vector<pollfd> fds;
    while (!m_stop) {
        fds.clear();
        fds.push_back({m_wakeRead, POLLIN, 0});
        fds.push_back({m_udp, POLLIN, 0});
        fds.push_back({m_listen, POLLIN, 0});
        for (const auto& s : m_sessions) {
            if (s->tcp)
                fds.push_back({s->fd, POLLIN, 0});
        }
        int timeout = 200;
        for (const Pending& p : m_pending)
            timeout = std::min(timeout, millisecondsUntil(p.due));
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            break;
        if (m_stop)
            break;
        if (fds[1].revents & POLLIN)
            readDatagrams();
        if (fds[2].revents & POLLIN)
            acceptConnection();
        // The sessions polled are the TCP ones, in order; reading may drop some of them.
        std::vector<Session*> ready;
        for (std::size_t i = 3; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                for (const auto& s : m_sessions) {
                    if (s->tcp && s->fd == fds[i].fd)
                        ready.push_back(s.get());
                }
            }
        }
        for (Session* session : ready) {
            const auto it = std::find_if(m_sessions.begin(), m_sessions.end(),
                                         [session](const auto& s) { return s.get() == session; });
            if (it != m_sessions.end())
                readStream(**it);
        }

        const Clock::time_point now = Clock::now();
        // Answers that are due go out in the order they were made.
        for (std::size_t i = 0; i < m_pending.size();) {
            if (m_pending[i].due > now) {
                ++i;
                continue;
            }
            Pending due = std::move(m_pending[i]);
            m_pending.erase(m_pending.begin() + std::ptrdiff_t(i));
            sendTo(*due.session, due.bytes);
            if (due.closeAfter) {
                for (std::size_t k = 0; k < m_sessions.size(); ++k) {
                    if (m_sessions[k].get() == due.session) {
                        dropSession(k);
                        break;
                    }
                }
            }
        }
        // A session not heard from within its inactivity timer is closed.
        for (std::size_t k = m_sessions.size(); k-- > 0;) {
            const Session& s = *m_sessions[k];
            if (now - s.lastHeard > std::chrono::milliseconds(s.inactivityMs))
                dropSession(k);
        }
    }
}

void HartIpServer::acceptConnection()
{
    const int fd = ::accept(m_listen, nullptr, nullptr);
    if (fd < 0)
        return;
    if (m_sessions.size() >= maxSessions * 2) {
        ::close(fd);
        return;
    }
    setNonBlocking(fd);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto session = std::make_unique<Session>();
    session->tcp = true;
    session->fd = fd;
    session->inactivityMs = setupMs;
    session->lastHeard = Clock::now();
    m_sessions.push_back(std::move(session));
    m_sessionCount = m_sessions.size();
}

void HartIpServer::readStream(Session& session)
{
    std::uint8_t block[1024];
    const ssize_t count = ::recv(session.fd, block, sizeof block, 0);
    if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
        for (std::size_t k = 0; k < m_sessions.size(); ++k) {
            if (m_sessions[k].get() == &session) {
                dropSession(k);
                return;
            }
        }
        return;
    }
    if (count < 0)
        return;
    Session* const self = &session;
    bool ok = session.framer.append(block, std::size_t(count));
    std::vector<std::uint8_t> message;
    const Clock::time_point now = Clock::now();
    while (ok && session.framer.next(message)) {
        handle(session, message.data(), message.size(), now);
        // The handler may have ended the session.
        if (std::none_of(m_sessions.begin(), m_sessions.end(), [self](const auto& s) { return s.get() == self; }))
            return;
    }
    if (!ok || session.framer.poisoned()) {
        for (std::size_t k = 0; k < m_sessions.size(); ++k) {
            if (m_sessions[k].get() == self) {
                dropSession(k);
                break;
            }
        }
    }
}

void HartIpServer::readDatagrams()
{
    for (;;) {
        std::uint8_t datagram[maxMessageSize + 1];
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const ssize_t count = ::recvfrom(m_udp, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&peer),
                                         &peerLength);
        if (count < 0)
            return;
        Session* session = nullptr;
        for (const auto& s : m_sessions) {
            if (!s->tcp && samePeer(s->peer, s->peerLength, peer, peerLength))
                session = s.get();
        }
        Session transient;
        if (!session) {
            // A datagram from a client without a session: it may only initiate one.
            transient.peer = peer;
            transient.peerLength = peerLength;
            transient.lastHeard = Clock::now();
            session = &transient;
        }
        handle(*session, datagram, std::size_t(count), Clock::now());
    }
}

void HartIpServer::sendTo(Session& session, const std::vector<std::uint8_t>& message)
{
    if (message.empty())
        return;
    if (session.tcp) {
        // Answers are small; a client that does not read them loses them.
        (void)!::send(session.fd, message.data(), message.size(), MSG_NOSIGNAL);
    } else {
        (void)!::sendto(m_udp, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&session.peer),
                        session.peerLength);
    }
}

void HartIpServer::handle(Session& session, const std::uint8_t* message, std::size_t length, Clock::time_point now)
{
    Header header;
    if (decodeHeader(message, length, header) != HeaderCheck::Ok || header.byteCount != length
        || header.type != MessageType::Request)
        return;
    session.lastHeard = now;
    const std::uint8_t* body = message + headerSize;
    const std::size_t bodyLength = length - headerSize;
    auto reply = [&](MessageType type, std::uint8_t status, const std::uint8_t* data, std::size_t size) {
        sendTo(session, buildMessage(type, header.id, status, header.sequence, data, size));
    };

    switch (header.id) {
    case MessageId::SessionInitiate: {
        SessionParameters asked;
        if (!decodeSessionBody(body, bodyLength, asked)) {
            reply(MessageType::Error, statusTooFewBytes, nullptr, 0);
            return;
        }
        std::size_t open = 0;
        for (const auto& s : m_sessions)
            open += s->initiated ? 1 : 0;
        const bool known = std::any_of(m_sessions.begin(), m_sessions.end(), [&](const auto& s) { return s.get() == &session; });
        if ((!session.initiated && open >= maxSessions) || (m_gate && m_gate())) {
            sendTo(session, buildSessionInitiate(MessageType::Response, statusBusy, header.sequence, asked));
            return;
        }
        SessionParameters granted = asked;
        granted.inactivityMs = std::min(std::max<std::uint32_t>(asked.inactivityMs, 1000), maxInactivityMs);
        const std::uint8_t status = granted.inactivityMs != asked.inactivityMs ? statusNearestValue : statusSuccess;
        Session* target = &session;
        if (!known) {
            auto created = std::make_unique<Session>();
            created->peer = session.peer;
            created->peerLength = session.peerLength;
            target = created.get();
            m_sessions.push_back(std::move(created));
            m_sessionCount = m_sessions.size();
        }
        target->initiated = true;
        target->inactivityMs = granted.inactivityMs;
        target->lastHeard = now;
        sendTo(*target, buildSessionInitiate(MessageType::Response, status, header.sequence, granted));
        return;
    }
    case MessageId::SessionClose:
        if (!session.initiated)
            return;
        reply(MessageType::Response, statusSuccess, nullptr, 0);
        for (std::size_t k = 0; k < m_sessions.size(); ++k) {
            if (m_sessions[k].get() == &session) {
                dropSession(k);
                break;
            }
        }
        return;
    case MessageId::KeepAlive:
        reply(session.initiated ? MessageType::Response : MessageType::Nak, statusSuccess, nullptr, 0);
        return;
    case MessageId::Pdu:
        break;
    }
    if (!session.initiated) {
        reply(MessageType::Nak, statusSuccess, nullptr, 0);
        return;
    }
    // The gateway puts the frame on the loop behind preambles.
    std::vector<std::uint8_t> request(body, body + bodyLength);
    request.insert(request.begin(), 2, 0xFF);
    const Answer answer = m_handler ? m_handler(request, now) : Answer{};
    const auto has = [&](FaultKind kind) {
        return std::find(answer.network.begin(), answer.network.end(), kind) != answer.network.end();
    };
    std::vector<std::uint8_t> out;
    if (has(FaultKind::ErrorMessage)) {
        out = buildMessage(MessageType::Error, MessageId::Pdu, statusInvalidSelection, header.sequence, nullptr, 0);
    } else if (answer.answered) {
        const std::uint16_t sequence = has(FaultKind::WrongSequence) ? std::uint16_t(header.sequence + 1) : header.sequence;
        out = buildPdu(MessageType::Response, sequence, answer.frame.data(), answer.frame.size());
        if (has(FaultKind::TruncatedHeader) && out.size() > 5)
            out.resize(5);
    }
    if (out.empty() && !answer.closeSession)
        return;
    m_pending.push_back({now + answer.delay, &session, std::move(out), answer.closeSession});
}

} // namespace Sim
