#include "parsermasterfirmwareupdate.h"

#include <cstring>

#include "hart/codecsupport.h"
#include "hart/encoding.h"

namespace Hart {

namespace {

ParserMasterFirmwareUpdate* update(void* context)
{
    return static_cast<ParserMasterFirmwareUpdate*>(context);
}

const ResponseMapping mapping[] = {{5, TooFewDataBytes}, {6, DeviceSpecificError}, {8, Ok},
                                   {9, InvalidFirmware}, {10, InvalidFirmware}, {11, InvalidFirmware},
                                   {12, InvalidFirmware}};

void stop(ParserMasterFirmwareUpdate* u)
{
    u->requestFlags &= std::uint8_t(~FirmwareRequest::Transfer);
}

} // namespace

std::int32_t encodeFirmwareUpdate(void* context, ParserMaster*, std::uint8_t** cursor)
{
    ParserMasterFirmwareUpdate* u = update(context);
    if (!(u->requestFlags & FirmwareRequest::Transfer))
        return -1;
    std::uint8_t* p = *cursor;
    if (!u->started) {
        u->size = u->begin ? u->begin(u) : 0;
        if (u->size == 0) {
            stop(u);
            return -1;
        }
        storeU32(p, u->size);
        *cursor += 4;
        return firmwareAnnounceTimeoutMs;
    }
    // The decoder ends the transfer at or past the size; this guards a state set from outside.
    if (u->nextOffset >= u->size || !u->readChunk) {
        stop(u);
        return -1;
    }
    const std::uint32_t left = u->size - u->nextOffset;
    const std::uint32_t length = left < firmwareChunkSize ? left : firmwareChunkSize;
    storeU32(p, u->nextOffset);
    // A short read leaves zeros rather than the previous frame's bytes.
    std::memset(p + 4, 0, length);
    u->readChunk(u, u->nextOffset, p + 4, length);
    // The image could not be read (the file was cut short): the reader has stopped the
    // transfer, and nothing made up goes to the device.
    if (!(u->requestFlags & FirmwareRequest::Transfer))
        return -1;
    *cursor += 4 + length;
    return firmwareChunkTimeoutMs;
}

std::uint32_t decodeFirmwareUpdate(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                   std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, mapping))
        return result;
    ParserMasterFirmwareUpdate* u = update(context);
    // An answer after the window has stopped the transfer must not move it on.
    if (!(u->requestFlags & FirmwareRequest::Transfer))
        return Ignore;
    const std::uint32_t size = dataSize(data, end);
    if (size == 0) {
        // The device starts over: announce the size again.
        u->started = 0;
        return Continue;
    }
    if (size < 4)
        return Ignore;
    u->started = 1;
    const std::uint32_t offset = loadU32(data);
    // An offset at or past the end finishes the transfer; nothing past the image is ever read.
    if (offset >= u->size) {
        stop(u);
        if (u->onProgress)
            u->onProgress(u, offset);
        return Ok;
    }
    u->nextOffset = offset;
    if (u->onProgress)
        u->onProgress(u, offset);
    return Continue;
}

} // namespace Hart
