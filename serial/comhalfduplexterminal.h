#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "hartlink.h"

class SerialPort;
enum class SerialPortError : std::uint8_t;

// A HART modem's line: 1200 baud, odd parity, one stop bit; a request waits for two character
// times of silence.
namespace HartLine {
constexpr std::uint32_t baudRate = 1200;
constexpr std::uint8_t oddParity = 1;
constexpr std::uint8_t oneStopBit = 0;
constexpr std::uint8_t silenceThreshold = 2;
}

// Half-duplex HART line: one worker thread owns the port, listens, and sends a request only
// when the line has been silent for a number of character times. The worker and the master
// share one frame buffer, owned by the caller, and hand it over through the state alone.
class ComHalfDuplexTerminal : public HartLink {
public:
    using DirectionHook = void (*)(ComHalfDuplexTerminal* terminal, bool transmitting);

    // buffer must outlive the terminal. A silence threshold of 0 is taken as 1.
    ComHalfDuplexTerminal(std::uint8_t* buffer, std::uint32_t bufferSize,
                          std::uint8_t silenceThreshold);
    ~ComHalfDuplexTerminal();

    ComHalfDuplexTerminal(const ComHalfDuplexTerminal&) = delete;
    ComHalfDuplexTerminal& operator=(const ComHalfDuplexTerminal&) = delete;

    // Opens the port at the given rate with eight data bits, Windows parity code (0 none,
    // 1 odd, 2 even, 3 mark, 4 space) and stop-bit code (0 one, 1 one and a half, 2 two), then
    // starts the worker. An open terminal is closed first; on failure it stays closed. A frame
    // received before a close is still delivered; a request or half a frame is not.
    bool open(const char* portName, std::uint32_t baudRate, std::uint8_t parity,
              std::uint8_t stopBits);
    // Starts the worker on a port that is already open (a test double or another backend).
    bool open(std::unique_ptr<SerialPort> openedPort);
    // Stops and joins the worker, then closes the port and discards a pending or half-sent
    // request. Waits at most one read time-out plus the frame being written.
    void close();
    // A lost port counts as closed here; close() still has to release it.
    bool isOpen() const;
    // The port failed while open (hang-up, EIO, device removed): the worker has stopped reading.
    bool portLost() const;
    // Why the last open() failed; SerialPortError::None after a successful open.
    SerialPortError openError() const;

    TerminalState state() const;
    // Length of the frame at the start of the buffer while the state is Received, else 0.
    std::uint32_t receivedLength() const;
    // Received to Idle once the master has handled the frame; ignored in any other state.
    void releaseReceived();
    // Hands the buffer to the master for a request (state Filling). Returns nullptr while a
    // request is waiting or going out: the buffer is not the master's to write then.
    std::uint8_t* claimForTransmit();
    // Filling to TransmitRequested with a request of length bytes. Ignored outside Filling;
    // a length of 0 or beyond the buffer drops the request and returns the buffer to Idle.
    bool transmit(std::uint32_t length);

    // Worker side, exposed so the state machine can be driven without a thread or a port.
    void receiveByte(std::uint8_t byte);
    // In Transmitting: the next byte, with lastByteFlag on the last one. Otherwise one step of
    // the silence countdown: its value, with lineSilentFlag once it has reached 0.
    std::uint16_t nextTransmitByte();
    void idleTick();

    static constexpr std::uint16_t lastByteFlag = 0x100;
    static constexpr std::uint16_t lineSilentFlag = 0x100;

    // Called on the worker thread the moment a frame lies ready for the master, so the master
    // need not wait for its next poll. It must return quickly and must not call the terminal.
    // Set while the terminal is closed: the worker reads it without a lock.
    void setFrameReceivedHook(FrameHook hook, void* context);

    static void setTransmitFlag(ComHalfDuplexTerminal* terminal, bool transmitting);
    bool isTransmitting() const;

    // One character time in milliseconds: start bit, eight data bits, parity bit if any, one or
    // two stop bits, at least 1 ms. 9 ms at 1200 baud 8O1. 0 for a baud rate of 0.
    static unsigned characterTimeMs(std::uint32_t baudRate, std::uint8_t parity,
                                    std::uint8_t stopBits);

private:
    void run();
    bool startWorker();
    void discardPending();

    std::uint8_t silenceThreshold;
    std::atomic<std::uint8_t> stateValue;
    std::atomic<bool> discarding{false};
    std::atomic<std::uint8_t> silenceCountdown{0};
    std::uint8_t* const bufferBegin;
    std::uint8_t* const bufferLimit;
    std::atomic<std::uint8_t*> cursor;
    std::atomic<std::uint8_t*> end;
    DirectionHook directionHook;
    FrameHook frameHook = nullptr;
    void* frameHookContext = nullptr;
    std::thread worker;
    std::atomic<bool> transmitFlag{false};
    std::atomic<bool> stopFlag{false};
    // Set by the worker as it gives up on a failed port, cleared by close().
    std::atomic<bool> lostFlag{false};
    std::uint8_t lastOpenError = 0;
    // Touched only by the owning thread, and by the worker while it runs (between start and
    // join), so it needs no atomic.
    std::unique_ptr<SerialPort> port;
};
