#pragma once
// A master with the program's full command table and its records, a hand-moved clock, and
// helpers that build device answers byte by byte (the test's own framing, not the library's).

#include <QByteArray>
#include <QVector>

#include "hart/hart.h"

namespace HartTest {

inline std::uint32_t& fakeNow()
{
    static std::uint32_t now = 0;
    return now;
}

inline std::uint32_t fakeTick()
{
    return fakeNow();
}

inline void useFakeClock(std::uint32_t start)
{
    fakeNow() = start;
    Hart::setTickFunction(fakeTick);
}

inline QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

inline QByteArray withCheckByte(QByteArray frame)
{
    char x = 0;
    for (char c : frame)
        x ^= c;
    frame.append(x);
    return frame;
}

// A long-frame answer from device 0xFF04 / 0x0A0B0C with two preambles.
inline QByteArray longAnswer(int command, int responseCode, const QByteArray& data, int deviceStatus = 0,
                             const QByteArray& address = hex("3f040a0b0c"))
{
    QByteArray f;
    f.append(char(0x86));
    f.append(address);
    f.append(char(command));
    f.append(char(data.size() + 2));
    f.append(char(responseCode));
    f.append(char(deviceStatus));
    f.append(data);
    return QByteArray(2, char(0xFF)) + withCheckByte(f);
}

inline QByteArray shortAnswer(int address, int command, int responseCode, const QByteArray& data,
                              int deviceStatus = 0)
{
    QByteArray f;
    f.append(char(0x06));
    f.append(char(address));
    f.append(char(command));
    f.append(char(data.size() + 2));
    f.append(char(responseCode));
    f.append(char(deviceStatus));
    f.append(data);
    return QByteArray(5, char(0xFF)) + withCheckByte(f);
}

struct Rig {
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
    QVector<std::uint8_t> statusSeen;

    Rig()
    {
        dynamic.loopCurrent = &loopCurrent;
        dynamic.variables = variables;
        dynamic.variableLimit = 3;
        Hart::fillCommandTable(table, {&master, &identity, &dynamic, &clock, &detector, &eventLog, &firmware});
        master = Hart::ParserMaster(table, Hart::commandTableSize, &dynamic, nullptr);
        master.expandedDeviceType = 0xFF04;
        master.deviceId = 0x0A0B0C;
        master.pollingAddress = 5;
        master.preambleCount = 5;
        useFakeClock(1000);
    }

    QByteArray build(Hart::BuildStatus* status = nullptr)
    {
        std::uint8_t buffer[Hart::requestBufferSize];
        std::uint32_t length = 12345;
        const Hart::BuildStatus s = master.buildRequest(buffer, &length);
        if (status)
            *status = s;
        return QByteArray(reinterpret_cast<const char*>(buffer), int(length));
    }

    std::uint32_t answer(const QByteArray& bytes, std::uint8_t* responseCode = nullptr)
    {
        std::uint8_t buffer[256] = {};
        const int n = qMin(bytes.size(), 256);
        memcpy(buffer, bytes.constData(), size_t(n));
        std::uint8_t rc = 0;
        const std::uint32_t result = master.parseResponse(buffer, std::uint32_t(n), &rc);
        if (responseCode)
            *responseCode = rc;
        return result;
    }

    // Command number of the entry the master sent last.
    int sentCommand() const { return master.current ? master.current->command : -1; }
};

} // namespace HartTest
