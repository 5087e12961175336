#pragma once
// The master side of the HART data link: picks the due command of the table, frames its request,
// validates the response against the outstanding request and hands the data to the decoder.

#include <cstdint>

#include "hart/messages.h"

namespace Hart {

class ParserMaster;
struct DynamicVariablesRecord;

// Decoders get the response data after the two status bytes (and after the extended command
// number of command 31) and return a Result.
using Decoder = std::uint32_t (*)(void* context, ParserMaster* master, const std::uint8_t* data,
                                  const std::uint8_t* end, std::uint8_t responseCode);
// Encoders return -1 when nothing is due, else write their data at *cursor, advance it, and
// return the response timeout in milliseconds (0: no response awaited).
using Encoder = std::int32_t (*)(void* context, ParserMaster* master, std::uint8_t** cursor);
using Handler = void (*)(void* context, ParserMaster* master, std::uint8_t responseCode);
using DeviceStatusCallback = void (*)(ParserMaster* master, std::uint8_t deviceStatus);

struct CommandEntry {
    void* context;
    Decoder decoder;
    Encoder encoder;
    Handler handler; // may be null
    std::uint16_t command; // 256 and above go through command 31
    std::uint8_t priorityClass; // 0 most urgent .. 3
};

enum class BuildStatus : std::uint8_t {
    NothingDue = 0,
    Waiting = 1,
    Sent = 2,
    SentNoReply = 3,
    NoResponse = 4,
};

constexpr std::uint8_t maxPriorityClass = 3;
constexpr std::uint8_t defaultAttempts = 5;
constexpr std::uint8_t defaultPreambleCount = 20;
constexpr std::int32_t defaultTimeoutMs = 2000;
// buildRequest writes at most this many bytes; preambles beyond it are not sent.
constexpr std::uint32_t requestBufferSize = 256;

// The millisecond tick wraps at 2^32; deadlines are compared by signed difference.
using TickFunction = std::uint32_t (*)();
// Replaces the tick source (tests move time by hand); null restores the monotonic clock.
void setTickFunction(TickFunction tick);
std::uint32_t currentTick();

// Common base of the master and the two transfer records: all three belong to the HART master.
class ParserMasterBase {
};

// The main window inherits it and points it at its command table (fillCommandTable gives the
// rows); the parse timer calls parseResponse with what the terminal received, then buildRequest.
class ParserMaster : public ParserMasterBase {
public:
    ParserMaster() = default;
    // current starts at the last row, so the first selection begins with the most urgent class.
    ParserMaster(CommandEntry* commandTable, std::uint8_t rowCount, DynamicVariablesRecord* dynamicVariables,
                 DeviceStatusCallback statusCallback);

    // Composes the next request into buffer (at least requestBufferSize bytes); length gets its
    // size including preambles, 0 when nothing was built.
    BuildStatus buildRequest(std::uint8_t* buffer, std::uint32_t* length);
    // Examines received bytes; the frame is moved to the start of buffer. responseCode gets the
    // first status byte, or 0x80 when no frame was accepted.
    std::uint32_t parseResponse(std::uint8_t* buffer, std::uint32_t length, std::uint8_t* responseCode);

    // Request operations of the universal commands on the master itself.
    void requestWritePollingAddress(std::uint8_t address, std::uint8_t mode);
    void requestLock(std::uint8_t code);
    void cancelMasterRequests();

    DynamicVariablesRecord* dynamicContext = nullptr;
    std::uint32_t deadline = 0;
    CommandEntry* current = nullptr; // null means the last row of the table
    std::uint8_t attempts = 0;
    std::uint8_t expansionCount = 0;
    std::uint8_t preambleCount = defaultPreambleCount;
    std::uint8_t pollingAddress = 0;
    std::uint16_t expandedDeviceType = 0xFF04;
    std::uint32_t deviceId = 0;
    std::uint8_t expansionBytes[4] = {};
    std::uint8_t masterBit = 0;
    std::uint8_t broadcast = 0;
    std::uint8_t responsePreambles = 0;
    std::uint16_t configChangeCounter = 0;
    std::uint8_t deviceStatus = 0x10;
    std::uint8_t extendedStatus = 0;
    std::uint8_t loopCurrentMode = 1;
    std::uint8_t additionalStatus[6] = {};
    std::uint8_t standardizedStatus0 = 0;
    std::uint8_t lockState = 0;
    std::uint8_t requestFlags = 0;
    CommandEntry* table = nullptr;
    std::uint8_t tableSize = 0;
    DeviceStatusCallback onDeviceStatus = nullptr;
    std::uint8_t lockCode = 0;

private:
    std::int32_t encodeEntry(CommandEntry* entry, std::uint8_t* frame, std::uint32_t* dataLength);
    std::int32_t selectEntry(std::uint8_t* frame, std::uint32_t* dataLength);
    std::int32_t tryClass(std::uint8_t priorityClass, std::uint8_t* frame, std::uint32_t* dataLength);
    std::int32_t tryEntry(CommandEntry* entry, std::uint8_t* frame, std::uint32_t* dataLength);
    std::uint32_t composeFrame(std::uint8_t* frame, std::uint32_t dataLength) const;
};

// Framing check on bytes that start at the delimiter: length is the number of bytes present and,
// on success, becomes the frame length without the check byte.
bool checkFrame(const std::uint8_t* frame, std::uint32_t* length);
// Drops everything up to and including the first run of 0xFF and moves the rest to the start.
std::uint32_t stripPreamble(std::uint8_t* buffer, std::uint32_t length);
// Moves length bytes up by count and fills the gap with 0xFF; returns length + count.
std::uint32_t insertPreamble(std::uint8_t* buffer, std::uint32_t length, std::uint32_t count);

} // namespace Hart
