// Drives the master's request builders with any arguments and reads every built request back
// with a frame reader of its own: preambles, delimiter, long address (the device's, or zeros for
// the broadcast finds), command, byte count, check byte, and each data field against what was
// asked for. An unidentified device gets no request but the clock and the finds.
//
// Input: byte 0 master bit, byte 1 preamble count, bytes 2..3 expanded device type (0: not yet
// identified), bytes 4..6 device id; then requests: one byte picks the builder, its arguments
// follow (a text is a length byte and that many bytes).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hart/hart.h"

using namespace Hart;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;

    bool more() const { return pos < size; }
    std::uint32_t number(int bytes)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | (pos < size ? data[pos++] : 0);
        return value;
    }
    // May hold NUL bytes; the builders take the text up to the first.
    std::string text()
    {
        std::size_t length = number(1) % 48;
        length = length < size - pos ? length : size - pos;
        std::string s(reinterpret_cast<const char*>(data + pos), length);
        pos += length;
        return s;
    }
};

// What a text field holds: the text up to its first NUL, cut to the field.
std::string field(const std::string& text, std::size_t size)
{
    return std::string(text.c_str()).substr(0, size);
}

// The characters a packed field of that many bytes reads back as: the text raised to upper
// case, '?' for what has no code, blanks after it.
std::string expectedPacked(const std::string& text, std::size_t bytes)
{
    std::string out(bytes / 3 * 4, ' ');
    for (std::size_t i = 0; i < text.size() && i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 'a' && c <= 'z')
            c = static_cast<unsigned char>(c - 32);
        out[i] = c >= 0x20 && c <= 0x5F ? char(c) : '?';
    }
    return out;
}

std::string readPacked(const std::uint8_t* p, std::size_t bytes)
{
    std::string out;
    for (std::size_t g = 0; g + 3 <= bytes; g += 3) {
        const std::uint32_t bits = (std::uint32_t(p[g]) << 16) | (std::uint32_t(p[g + 1]) << 8) | p[g + 2];
        for (int shift = 18; shift >= 0; shift -= 6) {
            const std::uint32_t code = (bits >> shift) & 0x3F;
            out += char(code < 32 ? code + 64 : code);
        }
    }
    return out;
}

struct Frame {
    std::size_t preambles = 0;
    std::uint8_t delimiter = 0;
    std::uint8_t address[5] = {};
    std::uint8_t command = 0;
    std::string data;
};

// A request as the device would read it; false for anything but one whole long-address frame.
bool readFrame(const std::uint8_t* p, std::size_t n, Frame& f)
{
    std::size_t i = 0;
    while (i < n && p[i] == 0xFF)
        ++i;
    f.preambles = i;
    if (n - i < 9)
        return false;
    f.delimiter = p[i];
    if (f.delimiter != 0x82)
        return false;
    std::memcpy(f.address, p + i + 1, 5);
    f.command = p[i + 6];
    const std::size_t count = p[i + 7];
    if (n - i != 8 + count + 1)
        return false;
    f.data.assign(reinterpret_cast<const char*>(p + i + 8), count);
    std::uint8_t x = 0;
    for (std::size_t k = i; k < n; ++k)
        x ^= p[k];
    return x == 0;
}

struct Fixture {
    ParserMaster master;
    IdentityRecord identity;
    DynamicVariablesRecord dynamic;
    ClockRecord clock;
    DetectorConfig detector;
    ParserMasterEventLog eventLog;
    ParserMasterFirmwareUpdate firmware;
    CommandEntry table[commandTableSize];

    Fixture()
    {
        fillCommandTable(table, {&master, &identity, &dynamic, &clock, &detector, &eventLog, &firmware});
        master = ParserMaster(table, commandTableSize, &dynamic, nullptr);
    }
};

// One request: asked for with arguments from the input, built, and read back.
void oneRequest(Input& in, std::uint8_t masterBit, std::uint8_t preambles, std::uint16_t type, std::uint32_t id)
{
    Fixture f;
    f.master.masterBit = masterBit;
    f.master.preambleCount = preambles;
    f.master.expandedDeviceType = type;
    f.master.deviceId = id;

    std::uint8_t command = 0;
    // The data: packedBytes of packed ASCII, read back as the characters packedText, then raw.
    std::size_t packedBytes = 0;
    std::string packedText;
    std::string raw;
    bool broadcast = false;
    bool needsIdentity = true;
    switch (in.number(1) % 11) {
    case 0: {
        const std::string text = in.text();
        f.identity.requestWriteMessage(text.c_str());
        command = 17;
        packedBytes = 24;
        packedText = expectedPacked(field(text, 32), 24);
        break;
    }
    case 1: {
        const std::string tag = in.text();
        const std::string descriptor = in.text();
        const std::uint32_t date = in.number(4);
        f.identity.requestWriteTagDescriptorDate(tag.c_str(), descriptor.c_str(), date);
        command = 18;
        // Two packed fields, then the date as it is: day, month, year.
        packedBytes = 18;
        packedText = expectedPacked(field(tag, 8), 6) + expectedPacked(field(descriptor, 16), 12);
        raw = {char(date), char(date >> 8), char(date >> 16)};
        break;
    }
    case 2: {
        const std::string text = in.text();
        f.identity.requestWriteLongTag(text.c_str());
        command = 22;
        raw = field(text, 32);
        raw.resize(32, '\0');
        break;
    }
    case 3: {
        std::uint16_t c[5];
        for (std::uint16_t& v : c)
            v = std::uint16_t(in.number(2));
        f.detector.requestWriteCurrents(c[0], c[1], c[2], c[3], c[4]);
        command = 132;
        for (std::uint16_t v : c)
            raw += {char(v >> 8), char(v)};
        break;
    }
    case 4: {
        const std::uint32_t bits = in.number(4);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        f.dynamic.requestFixedCurrent(value);
        command = 40;
        raw = {char(bits >> 24), char(bits >> 16), char(bits >> 8), char(bits)};
        break;
    }
    case 5: {
        const std::uint32_t bytes = in.number(4);
        f.detector.requestWriteConfiguration(std::uint8_t(bytes >> 24), std::uint8_t(bytes >> 16),
                                             std::uint8_t(bytes >> 8), std::uint8_t(bytes));
        command = 134;
        // Byte 1 always carries 0x80: the analysis time is in byte 3.
        raw = {char(bytes >> 24), char((bytes >> 16) | 0x80), char(bytes >> 8), char(bytes)};
        break;
    }
    case 6: {
        const std::uint32_t time = in.number(4);
        const std::uint32_t date = in.number(4);
        f.clock.requestSetClock(time, date);
        command = 89;
        raw = {1, char(date), char(date >> 8), char(date >> 16), char(time >> 24), char(time >> 16),
                    char(time >> 8), char(time), 0, 0};
        needsIdentity = false;
        break;
    }
    case 7: {
        const std::uint32_t both = in.number(2);
        f.master.requestWritePollingAddress(std::uint8_t(both >> 8), std::uint8_t(both));
        command = 6;
        raw = {char(both >> 8), char(both)};
        break;
    }
    case 8: {
        const std::uint32_t code = in.number(1);
        f.master.requestLock(std::uint8_t(code));
        command = 71;
        raw = {char(code)};
        break;
    }
    case 9: {
        const std::string tag = in.text();
        f.identity.requestFindByTag(tag.c_str());
        command = 11;
        packedBytes = 6;
        packedText = expectedPacked(field(tag, 8), 6);
        broadcast = true;
        needsIdentity = false;
        break;
    }
    default: {
        const std::string text = in.text();
        f.identity.requestFindByLongTag(text.c_str());
        command = 21;
        raw = field(text, 32);
        raw.resize(32, '\0');
        broadcast = true;
        needsIdentity = false;
        break;
    }
    }

    std::uint8_t buffer[requestBufferSize];
    std::uint32_t length = 0;
    const BuildStatus status = f.master.buildRequest(buffer, &length);
    if (needsIdentity && type == 0) {
        check(status == BuildStatus::NothingDue && length == 0);
        return;
    }
    check(status == BuildStatus::Sent && length <= requestBufferSize);

    Frame frame;
    check(readFrame(buffer, length, frame));
    const std::size_t frameLength = length - frame.preambles;
    // The finds ask with the default preambles: the device may not be known yet.
    const std::size_t wanted = broadcast ? defaultPreambleCount : preambles;
    check(frame.preambles == (wanted < requestBufferSize - frameLength ? wanted : requestBufferSize - frameLength));
    // The frame moved again behind as many preambles gives the same bytes.
    std::uint8_t again[requestBufferSize];
    std::memcpy(again, buffer + frame.preambles, frameLength);
    check(insertPreamble(again, std::uint32_t(frameLength), std::uint32_t(frame.preambles)) == length
          && std::memcmp(again, buffer, length) == 0);

    std::uint8_t address[5] = {std::uint8_t((masterBit & 1) << 7), 0, 0, 0, 0};
    if (!broadcast) {
        address[0] |= std::uint8_t((type >> 8) & 0x3F);
        address[1] = std::uint8_t(type);
        address[2] = std::uint8_t(id >> 16);
        address[3] = std::uint8_t(id >> 8);
        address[4] = std::uint8_t(id);
    }
    check(std::memcmp(frame.address, address, 5) == 0);
    check(frame.command == command);

    const auto* data = reinterpret_cast<const std::uint8_t*>(frame.data.data());
    check(frame.data.size() == packedBytes + raw.size());
    check(readPacked(data, packedBytes) == packedText);
    check(frame.data.compare(packedBytes, std::string::npos, raw) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 7)
        return 0;
    Input in{data, size};
    const std::uint8_t masterBit = std::uint8_t(in.number(1) & 1);
    const std::uint8_t preambles = std::uint8_t(in.number(1));
    const std::uint16_t type = std::uint16_t(in.number(2));
    const std::uint32_t id = in.number(3);
    for (int i = 0; i < 16 && in.more(); ++i)
        oneRequest(in, masterBit, preambles, type, id);
    return 0;
}
