// The Win32 serial backend and the terminal above it, run under Wine against detector-sim on a
// pseudo-terminal that Wine maps as a COM port. scripts/test-windows starts the simulators and
// names the ports in the environment:
//   CONFIGURATOR_TEST_PORT           a simulator that answers in one burst
//   CONFIGURATOR_TEST_LOST_PORT      simulators at wire speed, each killed once the file
//   CONFIGURATOR_TEST_LOST_TERMINAL  hangup-PORT appears in the folder
//   CONFIGURATOR_TEST_HANGUP_DIR     (a Windows path; a file named COM8 would be the port)

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
    // Polls the state every fraction of a millisecond; false after limitMs. seen gets the state
    // that ended the wait.
    bool waitFor(bool (*reached)(TerminalState), Clock::time_point* at = nullptr, int limitMs = 2000,
                 TerminalState* seen = nullptr) const
    {
        const Clock::time_point start = Clock::now();
        while (msSince(start) < limitMs) {
            const TerminalState now = state();
            if (reached(now)) {
                if (at)
                    *at = Clock::now();
                if (seen)
                    *seen = now;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }
    std::uint8_t buffer[256] = {};
};

bool isReceiving(TerminalState s) { return s == TerminalState::Receiving; }
// A test thread held up for two character times finds the answer already complete.
bool isAnswering(TerminalState s) { return s == TerminalState::Receiving || s == TerminalState::Received; }
bool isReceived(TerminalState s) { return s == TerminalState::Received; }
bool hasLeft(TerminalState s) { return s != TerminalState::TransmitRequested; }

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

void report(const char* what, std::vector<long long> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%s: min %lld ms, median %lld ms, max %lld ms over %zu runs\n", what, ms.front(),
                ms[ms.size() / 2], ms.back(), ms.size());
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
        CHECK_FALSE(bool(dcb.fOutX));
        CHECK_FALSE(bool(dcb.fInX));
        CHECK_FALSE(bool(dcb.fOutxCtsFlow));
        CHECK_FALSE(bool(dcb.fOutxDsrFlow));
        CHECK_FALSE(bool(dcb.fErrorChar));
        // Parity, DTR and RTS cannot be read back here: a pseudo-terminal has no parity bit and
        // no modem lines, and Wine reports whatever its failed queries leave.

        COMMTIMEOUTS timeouts{};
        REQUIRE(GetCommTimeouts(handle, &timeouts));
        CHECK(timeouts.ReadIntervalTimeout == row.timeoutMs);
        CHECK(timeouts.ReadTotalTimeoutMultiplier == 0);
        CHECK(timeouts.ReadTotalTimeoutConstant == row.timeoutMs);
        CHECK(timeouts.WriteTotalTimeoutConstant > 0);
    }
}

TEST_CASE("a port that does not exist is reported as not found")
{
    for (const char* text : {"COM99", "", "\\\\.\\NoSuchDevice"}) {
        const std::string name = text;
        CAPTURE(name);
        auto serial = createSerialPort();
        CHECK(serial->open(text, SerialLineSettings(), characterMs) == SerialPortError::NotFound);
        CHECK_FALSE(serial->isOpen());
        Terminal terminal;
        CHECK_FALSE(terminal.open(name));
    }
}

TEST_CASE("the master identifies the simulated detector through the terminal and the frame layer")
{
    const std::string port = environment("CONFIGURATOR_TEST_PORT");
    Terminal terminal;
    REQUIRE(terminal.open(port));
    Master master;
    REQUIRE(terminal.post(master.identify()));
    REQUIRE(terminal.waitFor(isReceived, nullptr, 3000));

    std::uint8_t responseCode = 0x80;
    CHECK(master.master.parseResponse(terminal.buffer, terminal.receivedLength(), &responseCode) == Hart::Ok);
    terminal.releaseReceived();
    CHECK(responseCode == 0);
    CHECK(master.master.expandedDeviceType == 0xFF04);
    CHECK(master.master.deviceId == simulatedDeviceId);
    CHECK((master.identity.requestFlags & Hart::IdentityRequest::ReadUniqueIdentifier) == 0);
}

TEST_CASE("a second open of a held port is refused and does not disturb the holder")
{
    const std::string port = environment("CONFIGURATOR_TEST_PORT");
    Terminal first;
    REQUIRE(first.open(port));
    // Windows refuses a second open of a COM port ("access denied", InUse). Wine hands out a
    // second handle, and the attempt fails only on the line settings: reported, not required.
    WARN(createSerialPort()->open(port.c_str(), SerialLineSettings(), characterMs) == SerialPortError::InUse);
    Terminal other;
    WARN_FALSE(other.ComHalfDuplexTerminal::open(port.c_str(), 1200, 1, 0));
    other.close();

    Master master;
    REQUIRE(first.post(master.identify()));
    CHECK(first.waitFor(isReceived, nullptr, 3000));
    first.close();
    CHECK(other.open(port));
}

TEST_CASE("an empty read on a silent line lasts one character time")
{
    const std::string port = environment("CONFIGURATOR_TEST_PORT");
    clearStaleParity(port);
    auto serial = createSerialPort();
    REQUIRE(serial->open(port.c_str(), SerialLineSettings(), characterMs) == SerialPortError::None);
    std::uint8_t data[SerialPort::maxReadSize];
    std::vector<long long> reads;
    for (int i = 0; i < 20; ++i) {
        std::size_t received = 99;
        const Clock::time_point start = Clock::now();
        REQUIRE(serial->read(data, sizeof data, received) == SerialPortError::None);
        reads.push_back(msSince(start));
        CHECK(received == 0);
        CHECK(reads.back() >= characterMs - 2);
        CHECK(reads.back() < 200);
    }
    report("empty read", reads);
}

// The same bounds as on POSIX: a frame ends after two empty reads of one character time, and a
// request posted while the device still talks waits for those two empty reads too.
TEST_CASE("end of frame and turnaround keep to two character times")
{
    const std::string port = environment("CONFIGURATOR_TEST_PORT");
    Terminal terminal;
    REQUIRE(terminal.open(port));
    // The same command 0 each time; nobody parses the answers.
    const Bytes request = Master().identify();
    std::vector<long long> endOfFrame, turnaround;
    // A run in which the test thread first sees the answer complete measures nothing; a loaded
    // machine gets a few more runs.
    for (int run = 0; run < 10 && (endOfFrame.size() < 5 || turnaround.size() < 5); ++run) {
        CAPTURE(run);
        // The simulator answers in one burst, so the first byte seen is about the last.
        Clock::time_point firstByte, complete;
        TerminalState seen = TerminalState::Idle;
        REQUIRE(terminal.post(request));
        REQUIRE(terminal.waitFor(isAnswering, &firstByte, 3000, &seen));
        REQUIRE(terminal.waitFor(isReceived, &complete));
        if (seen == TerminalState::Receiving) {
            endOfFrame.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(complete - firstByte).count());
            CHECK(endOfFrame.back() < 250);
        }
        terminal.releaseReceived();

        // Taking the buffer in the middle of an answer: the request goes out only once the line
        // has been silent for two reads.
        Clock::time_point answering, sent;
        REQUIRE(terminal.post(request));
        REQUIRE(terminal.waitFor(isAnswering, &answering, 3000, &seen));
        if (seen == TerminalState::Receiving) {
            REQUIRE(terminal.post(request));
            REQUIRE(terminal.waitFor(hasLeft, &sent));
            turnaround.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(sent - answering).count());
            CHECK(turnaround.back() < 250);
        }
        // Let the answer to that request come and go.
        REQUIRE(terminal.waitFor(isReceived, nullptr, 3000));
        terminal.releaseReceived();
    }
    REQUIRE(endOfFrame.size() >= 3);
    REQUIRE(turnaround.size() >= 3);
    // Seen from a polling thread, a run starts late whenever that thread is held up, which
    // shortens it; the lower bound holds for the median. The empty reads it rests on are
    // checked one by one below.
    std::sort(endOfFrame.begin(), endOfFrame.end());
    std::sort(turnaround.begin(), turnaround.end());
    CHECK(endOfFrame[endOfFrame.size() / 2] >= 2 * characterMs - 2);
    CHECK(turnaround[turnaround.size() / 2] >= 2 * characterMs - 2);
    report("end of frame after the answer's first byte", endOfFrame);
    report("request sent after the answer's first byte", turnaround);
}

TEST_CASE("a silent line costs no CPU, and close is prompt")
{
    const std::string port = environment("CONFIGURATOR_TEST_PORT");
    Terminal terminal;
    REQUIRE(terminal.open(port));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double before = processCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double used = processCpuMs() - before;
    std::printf("silent line: %.1f ms of CPU in 300 ms\n", used);
    CHECK(used < 100);

    const Clock::time_point start = Clock::now();
    terminal.close();
    CHECK(msSince(start) < 100);
    CHECK_FALSE(terminal.isOpen());
}

TEST_CASE("the simulator closing its line mid-exchange fails reads and writes promptly, without spinning")
{
    const std::string port = environment("CONFIGURATOR_TEST_LOST_PORT");
    auto serial = createSerialPort();
    clearStaleParity(port);
    REQUIRE(serial->open(port.c_str(), SerialLineSettings(), characterMs) == SerialPortError::None);
    Master master;
    const Bytes request = master.identify();
    REQUIRE(serial->write(request.data(), request.size()) == SerialPortError::None);

    // The answer starts; the simulator goes away in the middle of it.
    std::uint8_t data[SerialPort::maxReadSize];
    std::size_t received = 0;
    const Clock::time_point asked = Clock::now();
    while (received == 0 && msSince(asked) < 2000)
        REQUIRE(serial->read(data, sizeof data, received) == SerialPortError::None);
    REQUIRE(received > 0);
    hangUp(port);

    const Clock::time_point lost = Clock::now();
    SerialPortError error = SerialPortError::None;
    while (error == SerialPortError::None && msSince(lost) < 3000)
        error = serial->read(data, sizeof data, received);
    const long long noticedMs = msSince(lost);
    std::printf("lost line noticed %lld ms after the hang-up was asked for\n", noticedMs);
    CHECK(error == SerialPortError::Io);
    CHECK(noticedMs < 1000);

    // Every further read fails the same way and still takes its time-out.
    const double cpuBefore = processCpuMs();
    const Clock::time_point start = Clock::now();
    int reads = 0;
    while (msSince(start) < 300) {
        CHECK(serial->read(data, sizeof data, received) == SerialPortError::Io);
        CHECK(received == 0);
        ++reads;
    }
    const double cpuUsed = processCpuMs() - cpuBefore;
    std::printf("dead line: %d reads and %.1f ms of CPU in 300 ms\n", reads, cpuUsed);
    CHECK(reads <= 300 / int(characterMs - 2) + 1);
    CHECK(cpuUsed < 100);

    const Clock::time_point writing = Clock::now();
    CHECK(serial->write(request.data(), request.size()) == SerialPortError::Io);
    CHECK(msSince(writing) < 250);

}

TEST_CASE("the terminal reports its port lost when the simulator closes the line mid-answer")
{
    const std::string port = environment("CONFIGURATOR_TEST_LOST_TERMINAL");
    Terminal terminal;
    REQUIRE(terminal.open(port));
    REQUIRE(terminal.post(Master().identify()));
    REQUIRE(terminal.waitFor(isReceiving, nullptr, 3000));
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
