#pragma once
// A master on a hand-moved clock, the program's full command table and its records, a compact
// byte notation, and device answers built byte by byte (the test's own framing, not the library's).

#include <QByteArray>
#include <QVector>

#include <cstring>

#include "hart/hart.h"

namespace HartTest {

// Build states as ints, for readable failures.
const int Sent = int(Hart::BuildStatus::Sent);
const int Waiting = int(Hart::BuildStatus::Waiting);
const int NothingDue = int(Hart::BuildStatus::NothingDue);
const int NoResponse = int(Hart::BuildStatus::NoResponse);

inline std::uint32_t& fakeNow()
{
    static std::uint32_t now = 0;
    return now;
}

inline void useFakeClock(std::uint32_t start)
{
    fakeNow() = start;
    Hart::setTickFunction([] { return fakeNow(); });
}

// Bytes written compactly: hex digits, "N*hh" for N copies of hh, "aa..bb" for the run from aa
// up to bb, 'text' for ASCII. Spaces only separate.
inline QByteArray hex(const char* text)
{
    const QByteArray s(text);
    QByteArray out;
    for (int i = 0; i < s.size();) {
        if (s[i] == ' ') {
            ++i;
        } else if (s[i] == '\'') {
            const int end = s.indexOf('\'', i + 1);
            out += s.mid(i + 1, end - i - 1);
            i = end + 1;
        } else {
            int j = s.indexOf(' ', i);
            if (j < 0)
                j = s.size();
            const QByteArray word = s.mid(i, j - i);
            const int star = word.indexOf('*');
            const int dots = word.indexOf("..");
            if (star > 0)
                out += QByteArray(word.left(star).toInt(), char(word.mid(star + 1).toInt(nullptr, 16)));
            else if (dots > 0)
                for (int c = word.left(dots).toInt(nullptr, 16); c <= word.mid(dots + 2).toInt(nullptr, 16); ++c)
                    out += char(c);
            else
                out += QByteArray::fromHex(word);
            i = j;
        }
    }
    return out;
}

inline QByteArray withCheckByte(QByteArray frame)
{
    char x = 0;
    for (char c : frame)
        x ^= c;
    frame.append(x);
    return frame;
}

inline QByteArray deviceFrame(int preambles, const QByteArray& head, int command, int responseCode,
                              const QByteArray& data, int deviceStatus)
{
    const QByteArray f = head + char(command) + char(data.size() + 2) + char(responseCode) + char(deviceStatus);
    return QByteArray(preambles, char(0xFF)) + withCheckByte(f + data);
}

// A long-frame answer from device 0xFF04 / 0x0A0B0C with two preambles.
inline QByteArray longAnswer(int command, int responseCode, const QByteArray& data, int deviceStatus = 0,
                             const QByteArray& address = hex("3f040a0b0c"))
{
    return deviceFrame(2, char(0x86) + address, command, responseCode, data, deviceStatus);
}

inline QByteArray shortAnswer(int address, int command, int responseCode, const QByteArray& data,
                              int deviceStatus = 0)
{
    return deviceFrame(5, QByteArray(1, char(0x06)) + char(address), command, responseCode, data, deviceStatus);
}

// A master talking to device 0xFF04 / 0x0A0B0C at polling address 5, and the host's calls on it.
struct Line {
    Hart::ParserMaster master;

    void identify()
    {
        master.expandedDeviceType = 0xFF04;
        master.deviceId = 0x0A0B0C;
        master.pollingAddress = 5;
        master.preambleCount = 5;
        useFakeClock(1000);
    }

    QByteArray build(Hart::BuildStatus* status = nullptr)
    {
        std::uint8_t buffer[Hart::requestBufferSize];
        std::uint32_t length = 12345; // must come back as the frame's length, 0 when nothing goes out
        const Hart::BuildStatus s = master.buildRequest(buffer, &length);
        if (status)
            *status = s;
        return QByteArray(reinterpret_cast<const char*>(buffer), int(length));
    }

    // The status of the next build.
    int step()
    {
        Hart::BuildStatus s;
        build(&s);
        return int(s);
    }

    // The request data of the next long frame (after the byte count), or empty.
    QByteArray nextRequest()
    {
        const QByteArray frame = build();
        return frame.isEmpty() ? QByteArray() : frame.mid(13, frame.size() - 14);
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

struct Rig : Line {
    Hart::IdentityRecord identity;
    Hart::DynamicVariablesRecord dynamic;
    Hart::ClockRecord clock;
    Hart::DetectorConfig detector;
    Hart::ParserMasterEventLog eventLog;
    Hart::ParserMasterFirmwareUpdate firmware;
    Hart::DeviceVariable loopCurrent;
    Hart::DeviceVariable variables[3];
    Hart::CommandEntry table[Hart::commandTableSize];

    Rig()
    {
        dynamic.loopCurrent = &loopCurrent;
        dynamic.variables = variables;
        dynamic.variableLimit = 3;
        Hart::fillCommandTable(table, {&master, &identity, &dynamic, &clock, &detector, &eventLog, &firmware});
        master = Hart::ParserMaster(table, Hart::commandTableSize, &dynamic, nullptr);
        identify();
    }
};

} // namespace HartTest
