#pragma once
// The detector simulator: a HART field device behind a pseudo-terminal, for tests and for people.
//
//   Sim::Simulator sim;                 // fast line, address 0, model 0xFF04
//   sim.start();                        // the program opens sim.portPath()
//   sim.modify([](Sim::DeviceState& s) { s.tag = "TANK 7"; });
//   sim.inject(Sim::Fault::noAnswer(2));
//   sim.waitForRequests(3, std::chrono::seconds(5));
//   auto log = sim.requests();

#include "sim/devicestate.h"
#include "sim/faults.h"
#include "sim/frame.h"
#include "sim/hartipserver.h"
#include "sim/ptylink.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace Sim {

struct Options {
    bool paced = false;           // 1200-baud wire timing in both directions
    unsigned preambles = 5;       // preambles in front of each answer
    unsigned turnaroundMs = 20;   // from the end of a request to the first answer byte
    std::uint8_t pollingAddress = 0;
    std::uint8_t loopCurrentMode = 1;
    std::uint16_t expandedDeviceType = 0xFF04;
    std::uint32_t deviceId = 0x01E240;
};

// One intact request frame seen on the line.
struct ReceivedRequest {
    Clock::time_point time;     // when its last byte arrived
    unsigned preambles = 0;
    std::uint8_t delimiter = 0;
    std::vector<std::uint8_t> address;
    std::uint16_t command = 0;  // the extended command number for command 31
    std::vector<std::uint8_t> data; // after the extended command number for command 31
    bool addressed = false;     // to this device, or a broadcast the device takes
    bool answered = false;
    std::uint8_t responseCode = 0;
};

class Simulator {
public:
    explicit Simulator(const Options& options = Options());
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool start(std::string* error = nullptr);
    void stop();
    bool isRunning() const { return m_link.isRunning(); }
    // The slave side of the pseudo-terminal: the port name the program opens.
    std::string portPath() const { return m_link.slavePath(); }

    void setPaced(bool paced)
    {
        m_paced = paced;
        m_link.setPaced(paced);
    }

    DeviceState state() const;
    void setState(const DeviceState& state);
    // Runs f on the live state under the simulator's lock.
    template <class F>
    auto modify(F&& f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(m_state);
    }

    void inject(const Fault& fault);
    void clearFaults();
    std::size_t pendingFaults() const;

    std::vector<ReceivedRequest> requests() const;
    void clearRequests();
    // True once at least count requests are in the log.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // Silence-delimited byte runs that held no intact request frame.
    std::size_t discardedFrames() const;
    // Called on the line's thread for every logged request (the program's verbose mode).
    void setRequestObserver(std::function<void(const ReceivedRequest&)> observer);

    // Unplugs the modem: the program's port sees the line hang up. The path is gone for good.
    void closeLine() { m_link.closeLine(); }
    bool isLineOpen() const { return m_link.isLineOpen(); }

    std::vector<std::uint8_t> firmwareImage() const;

    // Serves the same device over HART-IP on address:port, UDP and TCP (port 0: a free one),
    // beside the pseudo-terminal or without it.
    bool startHartIp(const std::string& address = "127.0.0.1", std::uint16_t port = 0, std::string* error = nullptr);
    // Stops serving HART-IP: every session and connection ends, as when a gateway goes away.
    void stopHartIp() { m_hartIp.stop(); }
    std::uint16_t hartIpPort() const { return m_hartIp.port(); }
    std::size_t hartIpSessions() const { return m_hartIp.sessionCount(); }

    std::uint64_t lineBytesReceived() const { return m_link.bytesReceived(); }
    std::uint64_t lineBytesSent() const { return m_link.bytesSent(); }
    unsigned turnaroundMs() const { return m_turnaroundMs; }

private:
    Delivery onFrame(const std::vector<std::uint8_t>& bytes, Clock::time_point arrived);
    HartIpServer::Answer onNetworkFrame(const std::vector<std::uint8_t>& bytes, Clock::time_point arrived);
    // Runs the command under the lock and shapes its answer; rec learns whether it was answered.
    Delivery answer(const RequestFrame& frame, ReceivedRequest& rec, const std::vector<Fault>& faults);
    void logRequest(const ReceivedRequest& request);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_requestLogged;
    DeviceState m_state;
    FaultQueue m_faults;
    std::vector<ReceivedRequest> m_requests;
    std::size_t m_discarded = 0;
    const unsigned m_preambles;
    const unsigned m_turnaroundMs;
    std::function<void(const ReceivedRequest&)> m_observer;
    std::atomic<bool> m_paced{false};
    PtyLink m_link;
    HartIpServer m_hartIp;
};

} // namespace Sim
