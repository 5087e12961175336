#pragma once
// The simulator's HART-IP side: a gateway on UDP and TCP (one port number for both) that
// forwards each token-passing PDU to the simulated device and sends its answer back. One thread
// serves every session, as a gateway with one loop behind it would.

#include "hart/hartip.h"
#include "sim/faults.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Sim {

class HartIpServer {
public:
    using Clock = std::chrono::steady_clock;
    // The device's answer to one request frame, as the gateway passes it back.
    struct Answer {
        bool answered = false;
        std::vector<std::uint8_t> frame;    // delimiter to check byte
        std::chrono::milliseconds delay{0}; // from the request's arrival
        bool closeSession = false;          // the loop is gone: the session ends
        std::vector<FaultKind> network;
    };
    // Gets the request frame with two preambles in front, as it goes onto the loop.
    using FrameHandler = std::function<Answer(const std::vector<std::uint8_t>& request, Clock::time_point arrived)>;
    // Asked at each session initiate: true refuses it as busy.
    using SessionGate = std::function<bool()>;

    static constexpr std::size_t maxSessions = 8;
    static constexpr std::uint32_t maxInactivityMs = 600000;

    HartIpServer();
    ~HartIpServer();
    HartIpServer(const HartIpServer&) = delete;
    HartIpServer& operator=(const HartIpServer&) = delete;

    // Binds UDP and TCP on address:port (port 0 picks a free one for both).
    bool open(const std::string& address, std::uint16_t port, std::string* error);
    void start(FrameHandler handler, SessionGate gate);
    void stop();
    bool isRunning() const { return m_thread.joinable(); }
    std::uint16_t port() const { return m_port; }
    std::size_t sessionCount() const { return m_sessionCount.load(); }

private:
    struct Session;
    // An answer waiting for its time.
    struct Pending {
        Clock::time_point due;
        Session* session;
        std::vector<std::uint8_t> bytes;
        bool closeAfter;
    };
    void run();
    void acceptConnection();
    void readStream(Session& session);
    void readDatagrams();
    void handle(Session& session, const std::uint8_t* message, std::size_t length, Clock::time_point now);
    void sendTo(Session& session, const std::vector<std::uint8_t>& message);
    void dropSession(std::size_t index);
    void closeSockets();

    FrameHandler m_handler;
    SessionGate m_gate;
    std::thread m_thread;
    int m_udp = -1;
    int m_listen = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_sessionCount{0};
    std::vector<std::unique_ptr<Session>> m_sessions;
    std::vector<Pending> m_pending;
};

} // namespace Sim
