// Feeds hostile device answers to the master: through parseResponse and straight into every
// decoder, with the event-log and firmware state machines driven over several exchanges.
//
// Input: byte 0 picks the command row and, with bit 7, holds answers to the device's own long
// address (without it any long address is accepted, as after a broadcast request); byte 1 the
// starting state; then chunks of one length byte and its bytes. A length byte with bit 7 set
// hands the chunk straight to the row's decoder (its first byte as the response code);
// otherwise the chunk goes through parseResponse as received bytes. After each chunk the next request is built, and built
// again after its time-out.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "hart/hart.h"

using namespace Hart;

namespace {

std::uint32_t now = 0;
std::uint32_t tick()
{
    return now;
}

std::uint32_t imageSize = 0;
std::uint8_t image[512];
bool readCaptions = false;
std::uint32_t resumeOffset = 0;
volatile std::uint32_t sink = 0;

std::uint32_t firmwareBegin(ParserMasterFirmwareUpdate*)
{
    return imageSize;
}

void firmwareRead(ParserMasterFirmwareUpdate*, std::uint32_t offset, std::uint8_t* destination, std::uint32_t length)
{
    // Reading past the image is the fault this target hunts.
    if (offset >= imageSize || length > imageSize - offset || length > firmwareChunkSize)
        std::abort();
    std::memcpy(destination, image + offset, length);
}

void firmwareProgress(ParserMasterFirmwareUpdate*, std::uint32_t offset)
{
    sink = sink + offset;
}

bool logInfo(ParserMasterEventLog*, std::uint16_t count, std::uint32_t a, std::uint32_t b)
{
    sink = sink + count + a + b;
    return readCaptions;
}

void logCaption(ParserMasterEventLog*, std::uint16_t index, std::uint32_t id, const char* text)
{
    sink = sink + index + id + std::uint32_t(std::strlen(text));
}

std::uint32_t logRange(ParserMasterEventLog*, std::uint32_t first, std::uint32_t count)
{
    return first + (count ? resumeOffset % count : 0);
}

void logRecords(ParserMasterEventLog*, std::uint32_t index, std::uint8_t count, std::uint8_t type, std::uint32_t a,
                std::uint32_t b, const std::uint8_t* data, std::uint32_t length)
{
    std::uint32_t sum = index + count + type + a + b;
    for (std::uint32_t i = 0; i < length; ++i)
        sum += data[i];
    sink = sink + sum;
}

void logFinished(ParserMasterEventLog*)
{
    ++sink;
}

void variableUpdated(DynamicVariablesRecord* record, ParserMaster*, std::uint8_t index)
{
    if (index >= record->recordCount)
        std::abort();
}

struct Fixture {
    ParserMaster master;
    IdentityRecord identity;
    DynamicVariablesRecord dynamic;
    ClockRecord clock;
    DetectorConfig detector;
    ParserMasterEventLog eventLog;
    ParserMasterFirmwareUpdate firmware;
    DeviceVariable loopCurrent;
    DeviceVariable variables[3];
    CommandEntry table[commandTableSize];

    explicit Fixture(std::uint8_t setup)
    {
        dynamic.loopCurrent = &loopCurrent;
        dynamic.variables = variables;
        dynamic.variableLimit = 3;
        dynamic.onVariableUpdated = variableUpdated;
        fillCommandTable(table, {&master, &identity, &dynamic, &clock, &detector, &eventLog, &firmware});
        master = ParserMaster(table, commandTableSize, &dynamic, nullptr);
        master.deviceId = 0x2A5F01;
        eventLog.onInfo = logInfo;
        eventLog.onCaption = logCaption;
        eventLog.onRange = logRange;
        eventLog.onRecords = logRecords;
        eventLog.onFinished = logFinished;
        eventLog.state = std::uint8_t(setup % 6);
        eventLog.requestFlags = setup & 0x40 ? EventLogRequest::Erase : EventLogRequest::Read;
        firmware.begin = firmwareBegin;
        firmware.readChunk = firmwareRead;
        firmware.onProgress = firmwareProgress;
        firmware.requestFlags = FirmwareRequest::Transfer;
        firmware.started = setup & 0x08 ? 1 : 0;
        firmware.size = imageSize;
        // Everything is due, so every encoder gets its turn.
        identity.requestFlags = 0x0F7F;
        master.requestFlags = 0xFF;
        dynamic.requestFlags = 0x27;
        for (std::uint8_t i = 0; i < 3; ++i)
            dynamic.requestDeviceVariable(i);
        clock.requestFlags = 0x03;
        detector.requestFlags = 0x01FF;
    }

    void build()
    {
        std::uint8_t buffer[requestBufferSize];
        std::uint32_t length = 0;
        master.buildRequest(buffer, &length);
        if (length > requestBufferSize)
            std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    setTickFunction(tick);
    now = 0xFFFFF000u + data[1];
    imageSize = 1 + (std::uint32_t(data[1]) * 2);
    for (std::uint32_t i = 0; i < sizeof image; ++i)
        image[i] = std::uint8_t(i * 7);
    readCaptions = data[1] & 0x10;
    resumeOffset = data[1];

    Fixture f(data[1]);
    const bool ownAddress = data[0] & 0x80;
    CommandEntry* row = &f.table[(data[0] & 0x7F) % commandTableSize];
    f.master.current = row;
    f.master.attempts = 5;

    std::size_t pos = 2;
    for (int step = 0; step < 64 && pos < size; ++step) {
        const std::uint8_t header = data[pos++];
        std::size_t length = header & 0x7F;
        if (length > size - pos)
            length = size - pos;
        // An exact-size heap copy, so a read past the answer is caught.
        const std::size_t copySize = length ? length : 1;
        std::unique_ptr<std::uint8_t[]> chunk(new std::uint8_t[copySize]);
        chunk[0] = 0;
        if (length)
            std::memcpy(chunk.get(), data + pos, length);
        pos += length;
        if (header & 0x80) {
            if (length == 0)
                continue;
            const std::uint32_t result =
                row->decoder(row->context, &f.master, chunk.get() + 1, chunk.get() + length, chunk[0]);
            if (result > Ignore)
                std::abort();
        } else {
            // Otherwise the master's own choice stands: its device's address, or any after a find.
            if (!ownAddress)
                f.master.broadcast = 1;
            std::uint8_t responseCode = 0;
            f.master.parseResponse(chunk.get(), std::uint32_t(copySize), &responseCode);
        }
        if (f.eventLog.state > EventLogState::Erase)
            std::abort();
        f.build();
        now += 5001;
        f.build();
        row = f.master.current ? f.master.current : row;
    }
    return 0;
}
