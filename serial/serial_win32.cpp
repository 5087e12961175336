#include "serial_win32.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

SerialPortError fromWin32(unsigned long code, Win32ErrorStage stage)
{
    switch (code) {
    case ERROR_SUCCESS:
        return SerialPortError::None;
    case ERROR_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
        return SerialPortError::TimedOut;
    default:
        break;
    }
    // Once the port is open, any other failure means the device has gone: a pulled USB adapter
    // answers with ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_OPERATION_ABORTED,
    // ERROR_DEVICE_REMOVED, ERROR_GEN_FAILURE or ERROR_INVALID_HANDLE depending on its driver,
    // Wine on a hung-up pseudo-terminal with ERROR_NOT_READY.
    if (stage == Win32ErrorStage::Transfer)
        return SerialPortError::Io;
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
        return SerialPortError::NotFound;
    // A COM port held by another program answers "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return SerialPortError::InUse;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return SerialPortError::BadSettings;
    default:
        return SerialPortError::Io;
    }
}

namespace {

class Win32SerialPort final : public SerialPort {
public:
    ~Win32SerialPort() override { close(); }

    SerialPortError open(const char* name, const SerialLineSettings& settings,
                         unsigned readTimeoutMs) override;
    bool isOpen() const override { return handle != INVALID_HANDLE_VALUE; }
    void close() override;
    SerialPortError purge() override;
    void clearErrors() override;
    SerialPortError read(std::uint8_t* data, std::size_t capacity,
                         std::size_t& received) override;
    SerialPortError write(const std::uint8_t* data, std::size_t size) override;
    void raiseThreadPriority() override
    {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    }
    void lowerThreadPriority() override
    {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    }

private:
    SerialPortError fail()
    {
        const DWORD code = GetLastError();
        close();
        return fromWin32(code, Win32ErrorStage::Opening);
    }

    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD timeoutMs = 1;

    friend void* ::win32PortHandle(const SerialPort& port);
};

SerialPortError Win32SerialPort::open(const char* name, const SerialLineSettings& settings,
                                      unsigned readTimeoutMs)
{
    close();
    if (name == nullptr || *name == '\0')
        return SerialPortError::NotFound;
    timeoutMs = readTimeoutMs == 0 ? 1 : readTimeoutMs;

    // The device namespace prefix makes COM10 and above open like COM1.
    const std::string name8(name);
    const std::string path = name8.find_first_of("\\/") == std::string::npos
        ? "\\\\.\\" + name8
        : name8;
    handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fromWin32(GetLastError(), Win32ErrorStage::Opening);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return fail();
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = static_cast<BYTE>(settings.parity);
    dcb.StopBits = static_cast<BYTE>(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // Left as the previous program set them, XON/XOFF would swallow the bytes 0x11 and 0x13 of a
    // binary frame, and an error character would replace a byte with a parity error.
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    // The modem sees DTR and RTS low for as long as we hold it.
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (!SetCommState(handle, &dcb))
        return fail();

    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(handle, &timeouts))
        return fail();
    // A read returns after one character time, with whatever arrived.
    timeouts.ReadIntervalTimeout = timeoutMs;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = timeoutMs;
    // Without flow control a write always drains; the bound only matters for a stuck driver
    // (a USB adapter pulled mid-frame), which would otherwise hold the worker and close().
    timeouts.WriteTotalTimeoutMultiplier = timeoutMs * 2;
    timeouts.WriteTotalTimeoutConstant = 100;
    if (!SetCommTimeouts(handle, &timeouts))
        return fail();
    return SerialPortError::None;
}

void Win32SerialPort::close()
{
    if (handle == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

SerialPortError Win32SerialPort::purge()
{
    if (handle == INVALID_HANDLE_VALUE)
        return SerialPortError::Io;
    if (!PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return fromWin32(GetLastError(), Win32ErrorStage::Transfer);
    return SerialPortError::None;
}

void Win32SerialPort::clearErrors()
{
    if (handle == INVALID_HANDLE_VALUE)
        return;
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(handle, &errors, &status);
}

SerialPortError Win32SerialPort::read(std::uint8_t* data, std::size_t capacity,
                                      std::size_t& received)
{
    received = 0;
    if (capacity > maxReadSize)
        capacity = maxReadSize;
    DWORD code = ERROR_INVALID_HANDLE;
    if (handle != INVALID_HANDLE_VALUE) {
        // ClearCommError fails once the device has gone, while ReadFile need not: Wine on a
        // hung-up pseudo-terminal keeps "succeeding" with nothing, busily, for the whole time-out.
        DWORD errors = 0;
        COMSTAT status{};
        DWORD count = 0;
        if (!ClearCommError(handle, &errors, &status)) {
            code = GetLastError();
        } else if (ReadFile(handle, data, static_cast<DWORD>(capacity), &count, nullptr)) {
            received = count;
            return SerialPortError::None;
        } else {
            code = GetLastError();
        }
    }
    // A removed adapter fails every call at once: wait out the time-out so the worker does not
    // spin.
    Sleep(timeoutMs);
    return fromWin32(code, Win32ErrorStage::Transfer);
}

SerialPortError Win32SerialPort::write(const std::uint8_t* data, std::size_t size)
{
    if (handle == INVALID_HANDLE_VALUE)
        return SerialPortError::Io;
    DWORD written = 0;
    if (!WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr))
        return fromWin32(GetLastError(), Win32ErrorStage::Transfer);
    return written == size ? SerialPortError::None : SerialPortError::TimedOut;
}

} // namespace

void* win32PortHandle(const SerialPort& port)
{
    const auto* win32 = dynamic_cast<const Win32SerialPort*>(&port);
    return win32 && win32->isOpen() ? win32->handle : nullptr;
}

std::unique_ptr<SerialPort> createSerialPort()
{
    return std::make_unique<Win32SerialPort>();
}
