#pragma once
// The simulator's end of the line: a pseudo-terminal whose slave side the program opens as its
// serial port. One thread reads requests, closes them at a silence, and writes the answers.

#include "sim/faults.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace Sim {

class PtyLink {
public:
    using Clock = std::chrono::steady_clock;
    // Gets the bytes between two silences and the time the last of them arrived.
    using FrameHandler = std::function<Delivery(const std::vector<std::uint8_t>&, Clock::time_point)>;

    // 11 bits (start, 8 data, parity, stop) at 1200 baud.
    static constexpr std::chrono::microseconds characterTime{9167};
    // Bytes kept of one request; the rest of an endless stream is dropped.
    static constexpr std::size_t receiveLimit = 1024;

    PtyLink() = default;
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    bool open(std::string* error);
    void start(FrameHandler handler);
    void stop();
    // Closes the line from the link's own thread, as a pulled modem plug would.
    void closeLine();

    const std::string& slavePath() const { return m_slavePath; }
    bool isLineOpen() const { return m_lineOpen.load(); }
    bool isRunning() const { return m_thread.joinable(); }
    void setPaced(bool paced) { m_paced.store(paced); }
    // Bytes that crossed the line each way since the start, for link measurements.
    std::uint64_t bytesReceived() const { return m_bytesReceived.load(); }
    std::uint64_t bytesSent() const { return m_bytesSent.load(); }

private:
    void run();
    void deliver(const Delivery& delivery);
    bool waitUntil(Clock::time_point when);
    bool writeAll(const std::uint8_t* data, std::size_t length);
    void closeFds();
    void wake();

    FrameHandler m_handler;
    std::thread m_thread;
    std::string m_slavePath;
    int m_master = -1;
    int m_slave = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_closeRequested{false};
    std::atomic<bool> m_lineOpen{false};
    std::atomic<bool> m_paced{false};
    std::atomic<std::uint64_t> m_bytesReceived{0};
    std::atomic<std::uint64_t> m_bytesSent{0};
};

} // namespace Sim
