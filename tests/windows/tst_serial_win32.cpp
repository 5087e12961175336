// The Win32 serial backend and the terminal above it, run under Wine against ipp93kt-detector-sim on a
// pseudo-terminal that Wine maps as a COM port. scripts/test-windows starts the simulators and
// names the ports in the environment:
//   CONFIGURATOR_TEST_PORT           a simulator that answers in one burst
//   CONFIGURATOR_TEST_LOST_TERMINAL  a simulator at wire speed, killed once the file
//   CONFIGURATOR_TEST_HANGUP_DIR     hangup-PORT appears in this folder (a Windows path)

#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest.h>

#include "comhalfduplexterminal.h"
#include "hart/hart.h"
#include "serial_win32.h"
#include "serialport.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr unsigned characterMs = 9; // 1200 baud 8O1
constexpr std::uint32_t simulatedDeviceId = 123456;

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    INFO("environment variable ", name, " (set by scripts/test-windows)");
    REQUIRE((value && *value));
    return value;
}

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

double processCpuMs()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

// Wine refuses odd parity on a pseudo-terminal that still carries PARODD from the session before
// (the pty keeps PARODD but has no parity bit), so every open at odd parity here follows a short
// open without parity that clears it. A real port keeps both bits and needs none of this.
void clearStaleParity(const std::string& name)
{
    SerialLineSettings none;
    none.parity = SerialParity::None;
    auto serial = createSerialPort();
    serial->open(name.c_str(), none, characterMs);
}

// A terminal with its own buffer, opened at 1200 baud 8O1 as the program opens the modem.
struct Terminal : ComHalfDuplexTerminal {
    Terminal() : ComHalfDuplexTerminal(buffer, sizeof buffer, 2) {}
    using ComHalfDuplexTerminal::open;
    bool open(const std::string& name)
    {
        clearStaleParity(name);
        return ComHalfDuplexTerminal::open(name.c_str(), 1200, 1, 0);
    }
    bool post(const Bytes& request)
    {
        std::uint8_t* out = claimForTransmit();
        return out && (std::copy(request.begin(), request.end(), out), transmit(std::uint32_t(request.size())));
    }
    // Polls the state every fraction of a millisecond; false after limitMs.
    bool waitFor(bool (*reached)(TerminalState), int limitMs) const
    {
        const Clock::time_point start = Clock::now();
        while (msSince(start) < limitMs) {
            if (reached(state()))
                return true;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }
    std::uint8_t buffer[256] = {};
};

bool isReceiving(TerminalState s) { return s == TerminalState::Receiving; }
bool isReceived(TerminalState s) { return s == TerminalState::Received; }

// The program's HART master with its whole command table.
struct Master {
    Master()
    {
        dynamic.loopCurrent = &loopCurrent;
        dynamic.variables = variables;
        dynamic.variableLimit = 3;
        Hart::fillCommandTable(table, {&master, &identity, &dynamic, &clock, &detector, &eventLog, &firmware});
        master = Hart::ParserMaster(table, Hart::commandTableSize, &dynamic, nullptr);
    }
    // Command 0 to polling address 0, as "Прочитать конфигурацию" starts it.
    Bytes identify()
    {
        identity.requestFlags |= Hart::IdentityRequest::ReadUniqueIdentifier;
        std::uint8_t out[Hart::requestBufferSize];
        std::uint32_t length = 0;
        master.buildRequest(out, &length);
        return Bytes(out, out + length);
    }

    Hart::ParserMaster master;
    Hart::IdentityRecord identity;
    Hart::DynamicVariablesRecord dynamic;
    Hart::ClockRecord clock;
    Hart::DetectorConfig detector;
    Hart::ParserMasterEventLog eventLog;
    Hart::ParserMasterFirmwareUpdate firmware;
    Hart::DeviceVariable loopCurrent;
    Hart::DeviceVariable variables[3];
    Hart::CommandEntry table[Hart::commandTableSize];
};

// Asks scripts/test-windows to kill the simulator behind the port, as a pulled adapter vanishes.
void hangUp(const std::string& port)
{
    const std::string path = environment("CONFIGURATOR_TEST_HANGUP_DIR") + "\\hangup-" + port;
    const HANDLE trigger = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    REQUIRE(trigger != INVALID_HANDLE_VALUE);
    CloseHandle(trigger);
}

} // namespace

TEST_CASE("the port opens with the line settings and read time-outs the terminal asks for")
{
    const std::string port = environment("CONFIGURATOR_TEST_PORT");
    struct Row {
        const char* name;
        SerialLineSettings line;
        unsigned timeoutMs;
        BYTE stopBits;
    } rows[] = {
        {"1200 8O1", {1200, SerialParity::Odd, SerialStopBits::One}, characterMs, ONESTOPBIT},
        {"9600 8N2", {9600, SerialParity::None, SerialStopBits::Two}, 1, TWOSTOPBITS},
        {"115200 8E1", {115200, SerialParity::Even, SerialStopBits::One}, 1, ONESTOPBIT},
    };
    for (const Row& row : rows) {
        const std::string name = row.name;
        CAPTURE(name);
        auto serial = createSerialPort();
        clearStaleParity(port);
        REQUIRE(serial->open(port.c_str(), row.line, row.timeoutMs) == SerialPortError::None);
        const HANDLE handle = win32PortHandle(*serial);
        REQUIRE(handle != nullptr);

        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        REQUIRE(GetCommState(handle, &dcb));
        CHECK(dcb.BaudRate == row.line.baudRate);
        CHECK(dcb.ByteSize == 8);
        CHECK(dcb.StopBits == row.stopBits);
        CHECK(bool(dcb.fBinary));
        // A HART frame is binary: software flow control would swallow 0x11 and 0x13.
        CHECK_FALSE(bool(dcb.fOutX || dcb.fInX || dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fErrorChar));
        // Parity, DTR and RTS cannot be read back here: a pseudo-terminal has no parity bit and
        // no modem lines, and Wine reports whatever its failed queries leave.

        COMMTIMEOUTS timeouts{};
        REQUIRE(GetCommTimeouts(handle, &timeouts));
        CHECK(timeouts.ReadIntervalTimeout == row.timeoutMs);
        CHECK(timeouts.ReadTotalTimeoutConstant == row.timeoutMs);
        CHECK((timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.WriteTotalTimeoutConstant > 0));
    }
}

// What the user is told when "Соединить" fails rests on this reading of the system's codes.
TEST_CASE("a failed open reads as not found, held by another program, or refused settings")
{
    // A real open of names Wine has no device for.
    for (const char* text : {"COM99", "", "\\\\.\\NoSuchDevice"}) {
        const std::string name = text;
        CAPTURE(name);
        auto serial = createSerialPort();
        CHECK(serial->open(text, SerialLineSettings(), characterMs) == SerialPortError::NotFound);
        CHECK_FALSE(serial->isOpen());
    }
    // Wine hands out a second handle to a held port where Windows refuses it, so the codes
    // Windows gives are read directly. Windows answers "access denied" both for a port another
    // program holds and for one the user may not open: the held port is the case a user meets.
    struct Row {
        DWORD code;
        Win32ErrorStage stage;
        SerialPortError error;
    } rows[] = {
        {ERROR_FILE_NOT_FOUND, Win32ErrorStage::Opening, SerialPortError::NotFound},
        {ERROR_ACCESS_DENIED, Win32ErrorStage::Opening, SerialPortError::InUse},
        {ERROR_SHARING_VIOLATION, Win32ErrorStage::Opening, SerialPortError::InUse},
        {ERROR_INVALID_PARAMETER, Win32ErrorStage::Opening, SerialPortError::BadSettings},
        // Once open, a pulled adapter's "access denied" is a lost device, not a busy port.
        {ERROR_ACCESS_DENIED, Win32ErrorStage::Transfer, SerialPortError::Io},
        {ERROR_SEM_TIMEOUT, Win32ErrorStage::Transfer, SerialPortError::TimedOut},
    };
    for (const Row& row : rows) {
        const unsigned long code = row.code;
        const bool opening = row.stage == Win32ErrorStage::Opening;
        CAPTURE(code);
        CAPTURE(opening);
        CHECK(fromWin32(row.code, row.stage) == row.error);
    }
}

TEST_CASE("the master identifies the simulated detector through the terminal and the frame layer")
{
    const std::string port = environment("CONFIGURATOR_TEST_PORT");
    Terminal terminal;
    REQUIRE(terminal.open(port));
    Master master;
    REQUIRE(terminal.post(master.identify()));
    REQUIRE(terminal.waitFor(isReceived, 3000));

    std::uint8_t responseCode = 0x80;
    CHECK(master.master.parseResponse(terminal.buffer, terminal.receivedLength(), &responseCode) == Hart::Ok);
    terminal.releaseReceived();
    CHECK(responseCode == 0);
    CHECK(master.master.expandedDeviceType == 0xFF04);
    CHECK(master.master.deviceId == simulatedDeviceId);
    CHECK((master.identity.requestFlags & Hart::IdentityRequest::ReadUniqueIdentifier) == 0);
}

TEST_CASE("the terminal reports its port lost when the simulator closes the line mid-answer")
{
    const std::string port = environment("CONFIGURATOR_TEST_LOST_TERMINAL");
    Terminal terminal;
    REQUIRE(terminal.open(port));
    REQUIRE(terminal.post(Master().identify()));
    REQUIRE(terminal.waitFor(isReceiving, 3000));
    hangUp(port);

    const Clock::time_point lost = Clock::now();
    while (!terminal.portLost() && msSince(lost) < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::printf("terminal reported the lost port %lld ms after the hang-up was asked for\n", msSince(lost));
    CHECK(terminal.portLost());
    CHECK_FALSE(terminal.isOpen());
    // The half answer is never handed over as a frame.
    CHECK(terminal.state() != TerminalState::Received);

    const double cpuBefore = processCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CHECK(processCpuMs() - cpuBefore < 100);
    const Clock::time_point closing = Clock::now();
    terminal.close();
    CHECK(msSince(closing) < 100);
}

TEST_CASE("the version resource carries the program's strings")
{
    wchar_t path[MAX_PATH];
    REQUIRE(GetModuleFileNameW(nullptr, path, MAX_PATH) > 0);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    REQUIRE(size > 0);
    std::vector<unsigned char> block(size);
    REQUIRE(GetFileVersionInfoW(path, 0, size, block.data()));

    struct Row {
        const wchar_t* key;
        const char* utf8;
    } rows[] = {
        {L"ProductName", PRODUCT_NAME_UTF8},
        {L"CompanyName", COMPANY_NAME_UTF8},
        {L"ProductVersion", PRODUCT_VERSION},
    };
    for (const Row& row : rows) {
        const std::string expected = row.utf8;
        CAPTURE(expected);
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904E4\\") + row.key;
        wchar_t* value = nullptr;
        UINT length = 0;
        REQUIRE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length));
        char utf8[256] = {};
        WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
        CHECK(std::string(utf8) == expected);
    }
}
