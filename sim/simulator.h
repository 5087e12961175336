#pragma once
// The detector simulator: a HART field device behind a pseudo-terminal, for tests and for people.
//
//   Sim::Simulator sim;                 // fast line, address 0, model 0xFF04
//   sim.start();                        // the program opens sim.portPath()
//   sim.modify([](Sim::DeviceState& s) { s.tag = "TANK 7"; });
//   sim.inject(Sim::Fault::noAnswer(2));
//   sim.waitForRequests(3, std::chrono::seconds(5));
//   auto log = sim.requests();
//
// With Options::devices it is a multidrop loop of several detectors on one line; the state calls
// take the detector's index (0 for the first).

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
    // 0: the one detector above. 1..maxDevices: a multidrop loop of that many detectors at polling
    // addresses 1..N with ids deviceId, deviceId + 1, ... (see loopDeviceState); pollingAddress and
    // loopCurrentMode are then not used.
    unsigned devices = 0;
};

constexpr unsigned maxDevices = 15;

// One intact request frame seen on the line.
struct ReceivedRequest {
    Clock::time_point time;     // when its last byte arrived
    unsigned preambles = 0;
    std::uint8_t delimiter = 0;
    std::vector<std::uint8_t> address;
    std::uint16_t command = 0;  // the extended command number for command 31
    std::vector<std::uint8_t> data; // after the extended command number for command 31
    bool addressed = false;     // to a detector on the line, or a broadcast one takes
    bool answered = false;
    std::uint8_t responseCode = 0;
    int device = -1;            // index of the detector that answered (the first, in a collision)
    bool collision = false;     // more than one detector answered at once
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

    std::size_t deviceCount() const { return m_devices.size(); }
    DeviceState state(std::size_t device = 0) const;
    void setState(const DeviceState& state, std::size_t device = 0);
    // Runs f on the live state under the simulator's lock.
    template <class F>
    auto modify(F&& f, std::size_t device = 0)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(m_devices.at(device));
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

    std::vector<std::uint8_t> firmwareImage(std::size_t device = 0) const;

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
    // Runs the command on every detector the frame reaches, under the lock, and shapes the one
    // answer the line carries; rec learns whether and by whom it was answered.
    Delivery answer(const RequestFrame& frame, ReceivedRequest& rec, const std::vector<std::size_t>& reached,
                    const std::vector<Fault>& faults);
    // One detector's answer frame, or nothing when it keeps silent.
    bool answerFrom(DeviceState& s, const RequestFrame& frame, const ReceivedRequest& rec,
                    const std::vector<Fault>& faults, std::vector<std::uint8_t>& response, std::uint8_t& code);
    void logRequest(const ReceivedRequest& request);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_requestLogged;
    std::vector<DeviceState> m_devices; // fixed in number after construction
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
