#include "comhalfduplexterminal.h"

#include "serialport.h"

#include <system_error>

namespace {

constexpr std::uint8_t asValue(TerminalState state)
{
    return static_cast<std::uint8_t>(state);
}

constexpr std::uint8_t idle = asValue(TerminalState::Idle);
constexpr std::uint8_t receiving = asValue(TerminalState::Receiving);
constexpr std::uint8_t received = asValue(TerminalState::Received);
constexpr std::uint8_t filling = asValue(TerminalState::Filling);
constexpr std::uint8_t transmitRequested = asValue(TerminalState::TransmitRequested);
constexpr std::uint8_t transmitting = asValue(TerminalState::Transmitting);
// The worker holds this for the few instructions in which it stores a byte or moves the
// pointers of a buffer that the master may claim at any moment. The master's claim waits it
// out instead of taking the buffer from under a half-finished store.
constexpr std::uint8_t busy = 0x80;

constexpr std::uint8_t maxParityCode = 4;
constexpr std::uint8_t maxStopBitsCode = 2;

} // namespace

ComHalfDuplexTerminal::ComHalfDuplexTerminal(std::uint8_t* buffer, std::uint32_t bufferSize,
                                             std::uint8_t threshold)
    : silenceThreshold(threshold == 0 ? 1 : threshold)
    , stateValue(idle)
    , bufferBegin(buffer)
    , bufferLimit(buffer + bufferSize)
    , cursor(buffer)
    , end(buffer)
    , directionHook(&ComHalfDuplexTerminal::setTransmitFlag)
{
}

ComHalfDuplexTerminal::~ComHalfDuplexTerminal()
{
    close();
}

unsigned ComHalfDuplexTerminal::characterTimeMs(std::uint32_t baudRate, std::uint8_t parity,
                                                std::uint8_t stopBits)
{
    if (baudRate == 0)
        return 0;
    const std::uint32_t bits = 10 + (parity != 0 ? 1 : 0) + (stopBits != 0 ? 1 : 0);
    if (bits * 1000 < baudRate)
        return 1;
    return bits * 1000 / baudRate;
}

bool ComHalfDuplexTerminal::open(const char* portName, std::uint32_t baudRate,
                                 std::uint8_t parity, std::uint8_t stopBits)
{
    close();
    if (portName == nullptr || *portName == '\0') {
        lastOpenError = std::uint8_t(SerialPortError::NotFound);
        return false;
    }
    if (baudRate == 0 || parity > maxParityCode || stopBits > maxStopBitsCode) {
        lastOpenError = std::uint8_t(SerialPortError::BadSettings);
        return false;
    }

    SerialLineSettings settings;
    settings.baudRate = baudRate;
    settings.parity = static_cast<SerialParity>(parity);
    settings.stopBits = static_cast<SerialStopBits>(stopBits);

    std::unique_ptr<SerialPort> opened = createSerialPort();
    SerialPortError error = opened->open(portName, settings, characterTimeMs(baudRate, parity, stopBits));
    // Whatever the driver buffered before we took the port belongs to nobody.
    if (error == SerialPortError::None)
        error = opened->purge();
    if (error != SerialPortError::None) {
        opened->close();
        lastOpenError = std::uint8_t(error);
        return false;
    }
    port = std::move(opened);
    return startWorker();
}

bool ComHalfDuplexTerminal::open(std::unique_ptr<SerialPort> openedPort)
{
    close();
    if (!openedPort || !openedPort->isOpen()) {
        lastOpenError = std::uint8_t(SerialPortError::NotFound);
        return false;
    }
    port = std::move(openedPort);
    return startWorker();
}

void ComHalfDuplexTerminal::discardPending()
{
    // A request was made for the device behind the old port, and half a frame from it would
    // end as a truncated frame on the new one: neither may reach the new line. A complete
    // frame stays for the master, whose own reset decides what it means.
    const std::uint8_t current = stateValue.load(std::memory_order_acquire);
    if (current != received) {
        cursor.store(bufferBegin, std::memory_order_relaxed);
        end.store(bufferBegin, std::memory_order_relaxed);
        stateValue.store(idle, std::memory_order_release);
    }
    discarding.store(false, std::memory_order_relaxed);
    silenceCountdown.store(0, std::memory_order_relaxed);
    transmitFlag.store(false, std::memory_order_release);
}

bool ComHalfDuplexTerminal::startWorker()
{
    // Whatever the master left in the buffer while the port was closed was meant for no line.
    discardPending();
    stopFlag.store(false, std::memory_order_release);
    try {
        worker = std::thread(&ComHalfDuplexTerminal::run, this);
    } catch (const std::system_error&) {
        // Out of threads: an open port nobody serves would look connected but stay mute.
        port->close();
        port.reset();
        lastOpenError = std::uint8_t(SerialPortError::Io);
        return false;
    }
    lastOpenError = std::uint8_t(SerialPortError::None);
    return true;
}

void ComHalfDuplexTerminal::close()
{
    stopFlag.store(true, std::memory_order_release);
    if (worker.joinable())
        worker.join();
    if (port) {
        port->close();
        port.reset();
    }
    // The worker is joined: nobody else touches the buffer or the flag now.
    discardPending();
    lostFlag.store(false, std::memory_order_release);
}

bool ComHalfDuplexTerminal::isOpen() const
{
    return port != nullptr && !lostFlag.load(std::memory_order_acquire);
}

bool ComHalfDuplexTerminal::portLost() const
{
    return lostFlag.load(std::memory_order_acquire);
}

SerialPortError ComHalfDuplexTerminal::openError() const
{
    return static_cast<SerialPortError>(lastOpenError);
}

TerminalState ComHalfDuplexTerminal::state() const
{
    const std::uint8_t value = stateValue.load(std::memory_order_acquire);
    return value == busy ? TerminalState::Receiving : static_cast<TerminalState>(value);
}

std::uint32_t ComHalfDuplexTerminal::receivedLength() const
{
    if (stateValue.load(std::memory_order_acquire) != received)
        return 0;
    return static_cast<std::uint32_t>(end.load(std::memory_order_relaxed) - bufferBegin);
}

void ComHalfDuplexTerminal::releaseReceived()
{
    // Only the master leaves Received, so a plain check is enough.
    if (stateValue.load(std::memory_order_acquire) != received)
        return;
    end.store(bufferBegin, std::memory_order_relaxed);
    stateValue.store(idle, std::memory_order_release);
}

std::uint8_t* ComHalfDuplexTerminal::claimForTransmit()
{
    std::uint8_t current = stateValue.load(std::memory_order_acquire);
    for (;;) {
        if (current == transmitRequested || current == transmitting)
            return nullptr;
        if (current == busy) {
            std::this_thread::yield();
            current = stateValue.load(std::memory_order_acquire);
            continue;
        }
        if (stateValue.compare_exchange_weak(current, filling, std::memory_order_acq_rel,
                                             std::memory_order_acquire))
            break;
    }
    cursor.store(bufferBegin, std::memory_order_relaxed);
    return bufferBegin;
}

bool ComHalfDuplexTerminal::transmit(std::uint32_t length)
{
    // Only the master leaves Filling.
    if (stateValue.load(std::memory_order_acquire) != filling)
        return false;
    if (length == 0 || length > static_cast<std::uint32_t>(bufferLimit - bufferBegin)) {
        cursor.store(bufferBegin, std::memory_order_relaxed);
        end.store(bufferBegin, std::memory_order_relaxed);
        stateValue.store(idle, std::memory_order_release);
        return false;
    }
    end.store(bufferBegin + length, std::memory_order_relaxed);
    stateValue.store(transmitRequested, std::memory_order_release);
    return true;
}

void ComHalfDuplexTerminal::receiveByte(std::uint8_t byte)
{
    silenceCountdown.store(silenceThreshold, std::memory_order_relaxed);
    if (discarding.load(std::memory_order_relaxed))
        return;

    std::uint8_t current = stateValue.load(std::memory_order_acquire);
    while (current == idle || current == receiving) {
        if (!stateValue.compare_exchange_weak(current, busy, std::memory_order_acq_rel,
                                              std::memory_order_acquire))
            continue;
        std::uint8_t* at = current == idle ? bufferBegin : cursor.load(std::memory_order_relaxed);
        if (at < bufferLimit) {
            *at = byte;
            cursor.store(at + 1, std::memory_order_relaxed);
            stateValue.store(receiving, std::memory_order_release);
        } else {
            // Longer than the buffer: never hand over a frame in part.
            cursor.store(bufferBegin, std::memory_order_relaxed);
            discarding.store(true, std::memory_order_relaxed);
            stateValue.store(idle, std::memory_order_release);
        }
        return;
    }
    // The master holds the buffer or a request waits: this frame is lost, so is its rest.
    discarding.store(true, std::memory_order_relaxed);
}

std::uint16_t ComHalfDuplexTerminal::nextTransmitByte()
{
    if (stateValue.load(std::memory_order_acquire) == transmitting) {
        std::uint8_t* at = cursor.load(std::memory_order_relaxed);
        const std::uint8_t* frameEnd = end.load(std::memory_order_relaxed);
        const std::uint16_t byte = *at;
        ++at;
        cursor.store(at, std::memory_order_relaxed);
        return at >= frameEnd ? std::uint16_t(byte | lastByteFlag) : byte;
    }
    std::uint8_t countdown = silenceCountdown.load(std::memory_order_relaxed);
    if (countdown > 0)
        silenceCountdown.store(--countdown, std::memory_order_relaxed);
    return countdown == 0 ? std::uint16_t(countdown | lineSilentFlag) : countdown;
}

void ComHalfDuplexTerminal::idleTick()
{
    std::uint8_t current = stateValue.load(std::memory_order_acquire);
    if (current == transmitting) {
        directionHook(this, false);
        cursor.store(bufferBegin, std::memory_order_relaxed);
        end.store(bufferBegin, std::memory_order_relaxed);
        // Our own transmission counts as line activity: the answer is awaited from here.
        silenceCountdown.store(silenceThreshold, std::memory_order_relaxed);
        stateValue.store(idle, std::memory_order_release);
        return;
    }
    if (silenceCountdown.load(std::memory_order_relaxed) != 0)
        return;
    discarding.store(false, std::memory_order_relaxed);

    if (current == receiving) {
        // A claim by the master wins; the reception is simply lost then.
        if (!stateValue.compare_exchange_strong(current, busy, std::memory_order_acq_rel,
                                                std::memory_order_acquire))
            return;
        end.store(cursor.load(std::memory_order_relaxed), std::memory_order_relaxed);
        cursor.store(bufferBegin, std::memory_order_relaxed);
        stateValue.store(received, std::memory_order_release);
        if (frameHook)
            frameHook(frameHookContext);
    } else if (current == transmitRequested) {
        // The request always starts at the buffer's start, whatever the cursor says.
        cursor.store(bufferBegin, std::memory_order_relaxed);
        directionHook(this, true);
        stateValue.store(transmitting, std::memory_order_release);
    }
}

void ComHalfDuplexTerminal::setFrameReceivedHook(FrameHook hook, void* context)
{
    if (isOpen())
        return;
    frameHook = hook;
    frameHookContext = context;
}

void ComHalfDuplexTerminal::setTransmitFlag(ComHalfDuplexTerminal* terminal, bool transmitting)
{
    terminal->transmitFlag.exchange(transmitting, std::memory_order_acq_rel);
}

bool ComHalfDuplexTerminal::isTransmitting() const
{
    return transmitFlag.load(std::memory_order_acquire);
}

void ComHalfDuplexTerminal::run()
{
    std::uint8_t block[SerialPort::maxReadSize];
    SerialPort& line = *port;

    while (!stopFlag.load(std::memory_order_acquire)) {
        line.raiseThreadPriority();
        std::uint16_t word = nextTransmitByte();

        if (transmitFlag.load(std::memory_order_acquire)) {
            // Collect the whole frame first so it goes out in one write, never byte by byte.
            std::size_t count = 0;
            bool failed = false;
            for (;;) {
                block[count++] = static_cast<std::uint8_t>(word);
                const bool last = (word & lastByteFlag) != 0;
                if (last || count == sizeof block) {
                    line.lowerThreadPriority();
                    line.clearErrors();
                    // A failed write counts as sent; the master's time-out reports the silence.
                    // A port that has gone away ends the worker once the frame is done.
                    if (line.write(block, count) == SerialPortError::Io)
                        failed = true;
                    count = 0;
                    line.raiseThreadPriority();
                    if (last)
                        break;
                }
                word = nextTransmitByte();
            }
            idleTick();
            line.lowerThreadPriority();
            if (failed)
                break;
            continue;
        }

        const bool lineSilent = (word & lineSilentFlag) != 0;
        line.lowerThreadPriority();
        line.clearErrors();
        std::size_t count = 0;
        if (line.read(block, sizeof block, count) == SerialPortError::Io)
            break;
        if (count > 0) {
            line.raiseThreadPriority();
            for (std::size_t i = 0; i < count; ++i)
                receiveByte(block[i]);
            line.lowerThreadPriority();
        } else if (lineSilent) {
            line.raiseThreadPriority();
            idleTick();
            line.lowerThreadPriority();
        }
    }
    // Any way out but a stop request means the port failed: reading again would only spin.
    line.lowerThreadPriority();
    if (!stopFlag.load(std::memory_order_acquire))
        lostFlag.store(true, std::memory_order_release);
}
