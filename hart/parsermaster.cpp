#include "parsermaster.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "hart/encoding.h"

namespace Hart {

namespace {

std::uint32_t steadyTick()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::atomic<TickFunction> tickFunction{steadyTick};

// Request data starts after delimiter, address, command and byte count; commands past 255 also
// carry their 16-bit number in front of the data.
std::uint32_t dataOffset(std::uint16_t command)
{
    if (command == 0)
        return 4;
    return command < 256 ? 8 : 10;
}

// The first communication-error bit found, in the device's order of severity.
std::uint32_t communicationError(std::uint8_t status)
{
    static const std::uint8_t bits[] = {0x02, 0x04, 0x08, 0x10, 0x20, 0x40};
    for (unsigned i = 0; i < sizeof bits; ++i) {
        if (status & bits[i])
            return BufferOverflow + i;
    }
    return Ok;
}

} // namespace

void setTickFunction(TickFunction tick)
{
    tickFunction.store(tick ? tick : steadyTick);
}

std::uint32_t currentTick()
{
    return tickFunction.load()();
}

ParserMaster::ParserMaster(CommandEntry* commandTable, std::uint8_t rowCount, DynamicVariablesRecord* dynamicVariables,
                           DeviceStatusCallback statusCallback)
    : dynamicContext(dynamicVariables)
    , current(commandTable && rowCount ? commandTable + rowCount - 1 : nullptr)
    , table(commandTable)
    , tableSize(rowCount)
    , onDeviceStatus(statusCallback)
{
}

std::int32_t ParserMaster::encodeEntry(CommandEntry* entry, std::uint8_t* frame, std::uint32_t* dataLength)
{
    if (!entry->encoder)
        return -1;
    const std::uint32_t offset = dataOffset(entry->command);
    std::uint8_t* start = frame + offset;
    std::uint8_t* cursor = start;
    const std::int32_t timeout = entry->encoder(entry->context, this, &cursor);
    if (timeout < 0)
        return -1;
    // The byte count is one byte, and the check byte must still fit the buffer.
    const std::uint32_t extra = entry->command < 256 ? 0 : 2;
    if (cursor < start || std::uint32_t(cursor - start) + extra > 255
        || offset + std::uint32_t(cursor - start) + 1 > requestBufferSize)
        return -1;
    *dataLength = std::uint32_t(cursor - start);
    return timeout;
}

std::int32_t ParserMaster::tryEntry(CommandEntry* entry, std::uint8_t* frame, std::uint32_t* dataLength)
{
    // Set before the encoder runs, so the address scan may ask for fewer sends.
    attempts = defaultAttempts;
    const std::int32_t timeout = encodeEntry(entry, frame, dataLength);
    if (timeout < 0) {
        attempts = 0;
        return -1;
    }
    current = entry;
    return timeout;
}

std::int32_t ParserMaster::tryClass(std::uint8_t priorityClass, std::uint8_t* frame, std::uint32_t* dataLength)
{
    for (std::uint32_t i = 0; i < tableSize; ++i) {
        if (table[i].priorityClass != priorityClass)
            continue;
        const std::int32_t timeout = tryEntry(&table[i], frame, dataLength);
        if (timeout >= 0)
            return timeout;
    }
    return -1;
}

std::int32_t ParserMaster::selectEntry(std::uint8_t* frame, std::uint32_t* dataLength)
{
    CommandEntry* last = current;
    if (!last || last < table || last >= table + tableSize)
        last = table + tableSize - 1;
    const std::uint8_t lastClass = last->priorityClass;

    for (std::uint8_t c = 0; c < lastClass && c <= maxPriorityClass; ++c) {
        const std::int32_t timeout = tryClass(c, frame, dataLength);
        if (timeout >= 0)
            return timeout;
    }
    // Round robin within the class: the entry sent last gets its turn last.
    const std::uint32_t lastIndex = std::uint32_t(last - table);
    for (std::uint32_t k = 1; k <= tableSize; ++k) {
        CommandEntry* entry = &table[(lastIndex + k) % tableSize];
        if (entry->priorityClass != lastClass)
            continue;
        const std::int32_t timeout = tryEntry(entry, frame, dataLength);
        if (timeout >= 0)
            return timeout;
    }
    for (unsigned c = lastClass + 1u; c <= maxPriorityClass; ++c) {
        const std::int32_t timeout = tryClass(std::uint8_t(c), frame, dataLength);
        if (timeout >= 0)
            return timeout;
    }
    return -1;
}

std::uint32_t ParserMaster::composeFrame(std::uint8_t* frame, std::uint32_t dataLength) const
{
    const std::uint16_t command = current->command;
    const std::uint8_t master = std::uint8_t((masterBit & 1) << 7);
    std::uint32_t header;
    if (command == 0) {
        frame[0] = 0x02;
        frame[1] = std::uint8_t(master | (pollingAddress & 0x3F));
        frame[2] = 0;
        frame[3] = std::uint8_t(dataLength);
        header = 4;
    } else {
        frame[0] = 0x82;
        if (broadcast) {
            frame[1] = master;
            frame[2] = 0;
            storeU24(frame + 3, 0);
        } else {
            frame[1] = std::uint8_t(master | ((expandedDeviceType >> 8) & 0x3F));
            frame[2] = std::uint8_t(expandedDeviceType);
            storeU24(frame + 3, deviceId);
        }
        if (command < 256) {
            frame[6] = std::uint8_t(command);
            frame[7] = std::uint8_t(dataLength);
            header = 8;
        } else {
            frame[6] = 31;
            frame[7] = std::uint8_t(dataLength + 2);
            storeU16(frame + 8, command);
            header = 10;
        }
    }
    const std::uint32_t length = header + dataLength;
    frame[length] = checkByte(frame, length);
    return length + 1;
}

BuildStatus ParserMaster::buildRequest(std::uint8_t* buffer, std::uint32_t* length)
{
    std::uint32_t unused = 0;
    if (!length)
        length = &unused;
    *length = 0;
    expansionCount = 0;
    if (!buffer || !table || tableSize == 0) {
        attempts = 0;
        return BuildStatus::NothingDue;
    }

    std::int32_t timeout = -1;
    std::uint32_t dataLength = 0;
    if (attempts != 0) {
        if (std::int32_t(deadline - currentTick()) > 0)
            return BuildStatus::Waiting;
        broadcast = 0;
        if (--attempts == 0)
            return BuildStatus::NoResponse;
        if (current && current >= table && current < table + tableSize)
            timeout = encodeEntry(current, buffer, &dataLength);
        if (timeout <= 0)
            attempts = 0;
    }
    if (timeout < 0) {
        broadcast = 0;
        timeout = selectEntry(buffer, &dataLength);
        if (timeout < 0)
            return BuildStatus::NothingDue;
    }

    const std::uint32_t frameLength = composeFrame(buffer, dataLength);
    const std::uint32_t room = requestBufferSize - frameLength;
    *length = insertPreamble(buffer, frameLength, preambleCount < room ? preambleCount : room);

    if (timeout == 0) {
        attempts = 0;
        return BuildStatus::SentNoReply;
    }
    deadline = currentTick() + std::uint32_t(timeout);
    return BuildStatus::Sent;
}

std::uint32_t ParserMaster::parseResponse(std::uint8_t* buffer, std::uint32_t length, std::uint8_t* responseCode)
{
    std::uint8_t unused;
    if (!responseCode)
        responseCode = &unused;
    *responseCode = 0x80;
    std::uint32_t n = buffer ? stripPreamble(buffer, length) : 0;
    // A rejected or continued exchange is followed at once by the next send.
    deadline = currentTick();
    if (attempts == 0 || !current)
        return Ignore;
    // From here on the address, expansion bytes, command and byte count are all present, and the
    // byte count covers exactly the rest of the frame.
    if (!checkFrame(buffer, &n))
        return Ignore;

    const std::uint8_t delimiter = buffer[0];
    if ((delimiter & 0x07) != 6)
        return Ignore;
    std::uint32_t pos;
    if (delimiter & 0x80) {
        if ((buffer[1] >> 7) != (masterBit & 1))
            return Ignore;
        if (!broadcast
            && ((buffer[1] & 0x3F) != ((expandedDeviceType >> 8) & 0x3F) || buffer[2] != (expandedDeviceType & 0xFF)
                || loadU24(buffer + 3) != (deviceId & 0xFFFFFF)))
            return Ignore;
        pos = 6;
    } else {
        if ((buffer[1] >> 7) != (masterBit & 1) || (buffer[1] & 0x3F) != (pollingAddress & 0x3F))
            return Ignore;
        pos = 2;
    }
    const std::uint32_t expansion = (delimiter >> 5) & 0x03;
    for (std::uint32_t i = 0; i < expansion; ++i) {
        if (buffer[pos + i] != expansionBytes[expansion - 1 - i])
            return Ignore;
    }
    pos += expansion;
    const std::uint8_t command = buffer[pos];
    pos += 2;
    if (n - pos < 2)
        return Ignore;

    const std::uint8_t status = buffer[pos];
    *responseCode = status;
    deviceStatus = buffer[pos + 1];
    if (onDeviceStatus)
        onDeviceStatus(this, deviceStatus);
    pos += 2;
    if (status & 0x80) {
        const std::uint32_t error = communicationError(status);
        if (error != Ok) {
            attempts = 0;
            return error;
        }
    }
    if (status == 64) {
        attempts = 0;
        return CommandNotImplemented;
    }

    std::uint32_t number = command;
    if (command == 31) {
        if (n - pos < 2)
            return Ignore;
        number = loadU16(buffer + pos);
        if (number < 256)
            return Ignore;
        pos += 2;
    }
    CommandEntry* entry = current;
    if (number != entry->command || !entry->decoder)
        return Ignore;
    const std::uint32_t result = entry->decoder(entry->context, this, buffer + pos, buffer + n, status);
    if (result == Ignore)
        return Ignore;
    if (entry->handler)
        entry->handler(entry->context, this, status);
    attempts = result == Continue ? defaultAttempts + 1 : 0;
    return result;
}

bool checkFrame(const std::uint8_t* frame, std::uint32_t* length)
{
    if (!frame || !length)
        return false;
    const std::uint32_t present = *length;
    if (present < 2)
        return false;
    // Delimiter bits 7..5 give the address length: 1 or 5 bytes plus the expansion bytes.
    const std::uint32_t addressLength = (frame[0] >> 5) + 1u;
    if (present < addressLength + 4)
        return false;
    const std::uint32_t countPos = 1 + addressLength + 1;
    const std::uint32_t byteCount = frame[countPos];
    if (byteCount > present - countPos - 2)
        return false;
    const std::uint32_t checkPos = countPos + 1 + byteCount;
    if (checkByte(frame, checkPos + 1) != 0)
        return false;
    *length = checkPos;
    return true;
}

std::uint32_t stripPreamble(std::uint8_t* buffer, std::uint32_t length)
{
    std::uint32_t i = 0;
    while (i < length && buffer[i] != 0xFF)
        ++i;
    while (i < length && buffer[i] == 0xFF)
        ++i;
    if (i >= length)
        return 0;
    std::memmove(buffer, buffer + i, length - i);
    return length - i;
}

std::uint32_t insertPreamble(std::uint8_t* buffer, std::uint32_t length, std::uint32_t count)
{
    std::memmove(buffer + count, buffer, length);
    std::memset(buffer, 0xFF, count);
    return length + count;
}

} // namespace Hart
