#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// What can go wrong on a serial port, the same on every system. Each backend turns its own
// error codes into these in one place; nothing above the backend sees errno or GetLastError.
enum class SerialPortError : std::uint8_t {
    None,
    NotFound,     // no such device
    InUse,        // another program (or another terminal) holds the port
    AccessDenied, // no permission to open the device
    BadSettings,  // not a serial device, or it refuses the line settings
    TimedOut,     // a write did not finish in time
    Io,           // the device failed or went away while open
};

// Windows DCB codes, kept as the values callers pass.
enum class SerialParity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class SerialStopBits : std::uint8_t { One = 0, OneAndHalf = 1, Two = 2 };

// Always eight data bits: HART needs nothing else.
struct SerialLineSettings {
    std::uint32_t baudRate = 1200;
    SerialParity parity = SerialParity::Odd;
    SerialStopBits stopBits = SerialStopBits::One;
};

// The few port operations the half-duplex terminal needs. One implementation per system
// (serial_posix.cpp, serial_win32.cpp); the build picks one. Not thread-safe: one thread
// opens and closes, the terminal's worker reads and writes in between.
class SerialPort {
public:
    static constexpr std::size_t maxReadSize = 1024;

    virtual ~SerialPort() = default;

    // Opens the device exclusively with the given line settings. A name without a path
    // separator is a system port name (COM3, ttyUSB0); a name with one is used as a path.
    // readTimeoutMs bounds every read and sets the write deadline. On failure the port stays
    // closed. Opening an open port closes it first.
    virtual SerialPortError open(const char* name, const SerialLineSettings& settings,
                                 unsigned readTimeoutMs) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    // Throws away whatever waits in the input and output queues.
    virtual SerialPortError purge() = 0;
    // Clears a pending framing, parity or overrun condition so the next call is not refused.
    virtual void clearErrors() = 0;

    // Waits at most one read time-out for bytes and returns what arrived (up to capacity,
    // capacity at most maxReadSize). A failed read sets received to 0 and still takes about one
    // time-out, so a dead device cannot make its caller spin.
    virtual SerialPortError read(std::uint8_t* data, std::size_t capacity,
                                 std::size_t& received) = 0;
    // Writes the whole block and returns when it has left (or a deadline of about twice its
    // transmission time has passed).
    virtual SerialPortError write(const std::uint8_t* data, std::size_t size) = 0;

    // For the calling thread: raise around the short state-machine calls, lower before
    // blocking in read or write. Silently does nothing where the system does not permit it.
    virtual void raiseThreadPriority() = 0;
    virtual void lowerThreadPriority() = 0;
};

// The backend compiled into this build.
std::unique_ptr<SerialPort> createSerialPort();
