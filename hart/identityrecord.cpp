#include "identityrecord.h"

#include <cstring>

#include "hart/codecsupport.h"
#include "hart/dynamicvariablesrecord.h"
#include "hart/encoding.h"

namespace Hart {

namespace {

IdentityRecord* identity(void* context)
{
    return static_cast<IdentityRecord*>(context);
}

// Writes a text field as raw 8-bit characters, NUL-padded; a full field has no terminator.
void putLatin(std::uint8_t** cursor, const char* text, std::uint32_t size)
{
    const std::uint32_t length = std::uint32_t(strnlen(text, size));
    std::memcpy(*cursor, text, length);
    std::memset(*cursor + length, 0, size - length);
    *cursor += size;
}

void putPacked(std::uint8_t** cursor, const char* text, std::uint32_t size)
{
    packAscii(*cursor, text, size);
    *cursor += size;
}

bool samePacked(const std::uint8_t* data, const char* text, std::uint32_t size)
{
    std::uint8_t packed[24];
    packAscii(packed, text, size);
    return std::memcmp(packed, data, size) == 0;
}

// Copies at most size characters of text and terminates; the field has size + 1 bytes.
void copyText(char* field, const char* text, std::uint32_t size)
{
    const std::uint32_t length = text ? std::uint32_t(strnlen(text, size)) : 0;
    if (length)
        std::memcpy(field, text, length);
    std::memset(field + length, 0, size + 1 - length);
}

const ResponseMapping readMapping[] = {{16, AccessRestricted}};
const ResponseMapping writeMapping[] = {
    {5, TooFewDataBytes}, {6, DeviceSpecificError}, {7, WriteProtected}, {16, AccessRestricted}};
const ResponseMapping writeTagMapping[] = {{5, TooFewDataBytes}, {6, DeviceSpecificError}, {7, WriteProtected},
                                           {9, InvalidDateFormat}, {16, AccessRestricted}};

} // namespace

void IdentityRecord::startAddressScan(std::uint8_t first, std::uint8_t last)
{
    searchNext = first;
    searchLast = last;
    requestFlags |= IdentityRequest::AddressScan;
}

void IdentityRecord::cancelIdentityRequests()
{
    requestFlags = 0;
}

void IdentityRecord::requestFindByTag(const char* text)
{
    copyText(searchTag, text, 8);
    requestFlags |= IdentityRequest::FindByTag;
}

void IdentityRecord::requestWriteMessage(const char* text)
{
    copyText(message, text, 32);
    requestFlags |= IdentityRequest::WriteMessage;
}

void IdentityRecord::requestWriteTagDescriptorDate(const char* newTag, const char* newDescriptor, std::uint32_t newDate)
{
    copyText(tag, newTag, 8);
    copyText(descriptor, newDescriptor, 16);
    date[0] = std::uint8_t(newDate);
    date[1] = std::uint8_t(newDate >> 8);
    date[2] = std::uint8_t(newDate >> 16);
    requestFlags |= IdentityRequest::WriteTagDescriptorDate;
}

void IdentityRecord::requestFindByLongTag(const char* text)
{
    copyText(searchLongTag, text, 32);
    requestFlags |= IdentityRequest::FindByLongTag;
}

void IdentityRecord::requestWriteLongTag(const char* text)
{
    copyText(longTag, text, 32);
    requestFlags |= IdentityRequest::WriteLongTag;
}

std::int32_t encodeReadUniqueIdentifier(void* context, ParserMaster* master, std::uint8_t**)
{
    IdentityRecord* r = identity(context);
    if (r->requestFlags & IdentityRequest::AddressScan) {
        // Each repeat of the request moves on to the next address, so every address is asked once.
        master->expandedDeviceType = 0;
        if (r->searchNext <= r->searchLast) {
            const bool last = r->searchNext == r->searchLast;
            master->pollingAddress = r->searchNext;
            master->attempts = last ? 1 : 2;
            if (last && r->searchNext == 255) {
                // Mark the range used up without wrapping back to address 0.
                r->searchNext = 1;
                r->searchLast = 0;
            } else {
                ++r->searchNext;
            }
            master->preambleCount = defaultPreambleCount;
            return defaultTimeoutMs;
        }
        r->requestFlags &= ~IdentityRequest::AddressScan;
    }
    if (!(r->requestFlags & IdentityRequest::ReadUniqueIdentifier))
        return -1;
    master->preambleCount = defaultPreambleCount;
    return defaultTimeoutMs;
}

std::int32_t encodeFindByTag(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    IdentityRecord* r = identity(context);
    if (!(r->requestFlags & IdentityRequest::FindByTag))
        return -1;
    putPacked(cursor, r->searchTag, 6);
    master->broadcast = 1;
    master->preambleCount = defaultPreambleCount;
    return defaultTimeoutMs;
}

std::int32_t encodeFindByLongTag(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    IdentityRecord* r = identity(context);
    if (!(r->requestFlags & IdentityRequest::FindByLongTag))
        return -1;
    putLatin(cursor, r->searchLongTag, 32);
    master->broadcast = 1;
    master->preambleCount = defaultPreambleCount;
    return defaultTimeoutMs;
}

std::int32_t encodeFindDevice(void* context, ParserMaster* master, std::uint8_t**)
{
    if (!(identity(context)->requestFlags & IdentityRequest::FindDevice))
        return -1;
    master->broadcast = 1;
    return defaultTimeoutMs;
}

std::uint32_t decodeReadUniqueIdentifier(void* context, ParserMaster* master, const std::uint8_t* data,
                                         const std::uint8_t* end, std::uint8_t responseCode)
{
    if (responseCode != 0)
        return UnexpectedResponseCode;
    const std::uint32_t size = dataSize(data, end);
    if (size < 17 || data[0] != 254)
        return Ignore;
    IdentityRecord* r = identity(context);
    r->requestFlags &= ~IdentityRequest::AddressScan;
    master->expandedDeviceType = loadU16(data + 1);
    master->preambleCount = data[3];
    r->universalRevision = data[4];
    r->deviceRevision = data[5];
    r->softwareRevision = data[6];
    r->hardwareRevision = data[7];
    r->deviceFlags = data[8];
    master->deviceId = loadU24(data + 9);
    master->responsePreambles = data[12];
    // Byte 13 is the last device variable code; 255 would wrap the count to 0.
    if (master->dynamicContext)
        master->dynamicContext->variableLimit = data[13] == 255 ? 255 : std::uint8_t(data[13] + 1);
    master->configChangeCounter = loadU16(data + 14);
    master->extendedStatus = data[16];
    if (size >= 22) {
        r->manufacturerCode = loadU16(data + 17);
        r->privateLabelCode = loadU16(data + 19);
        r->deviceProfile = data[21];
    } else {
        r->manufacturerCode = 0;
        r->privateLabelCode = 0;
        r->deviceProfile = 0;
    }
    // Command 73 keeps its bit: it is asked again until the window cancels the search.
    r->requestFlags &= ~(IdentityRequest::ReadUniqueIdentifier | IdentityRequest::FindByTag
                         | IdentityRequest::FindByLongTag);
    return Ok;
}

std::int32_t encodeReadMessage(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(identity(context), IdentityRequest::ReadMessage, master);
}

std::uint32_t decodeReadMessage(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readMapping))
        return result;
    if (dataSize(data, end) != 24)
        return Ignore;
    IdentityRecord* r = identity(context);
    unpackAscii(r->message, data, 24);
    r->message[32] = 0;
    r->requestFlags &= ~IdentityRequest::ReadMessage;
    return Ok;
}

std::int32_t encodeReadTagDescriptorDate(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(identity(context), IdentityRequest::ReadTagDescriptorDate, master);
}

std::uint32_t decodeReadTagDescriptorDate(void* context, ParserMaster*, const std::uint8_t* data,
                                          const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readMapping))
        return result;
    if (dataSize(data, end) != 21)
        return Ignore;
    IdentityRecord* r = identity(context);
    unpackAscii(r->tag, data, 6);
    r->tag[8] = 0;
    unpackAscii(r->descriptor, data + 6, 12);
    r->descriptor[16] = 0;
    std::memcpy(r->date, data + 18, 3);
    r->requestFlags &= ~IdentityRequest::ReadTagDescriptorDate;
    return Ok;
}

std::int32_t encodeReadFinalAssemblyNumber(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(identity(context), IdentityRequest::ReadFinalAssemblyNumber, master);
}

std::uint32_t decodeReadFinalAssemblyNumber(void* context, ParserMaster*, const std::uint8_t* data,
                                            const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readMapping))
        return result;
    if (dataSize(data, end) != 3)
        return Ignore;
    IdentityRecord* r = identity(context);
    r->finalAssemblyNumber = loadU24(data);
    r->requestFlags &= ~IdentityRequest::ReadFinalAssemblyNumber;
    return Ok;
}

std::int32_t encodeWriteMessage(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    if (whenDue(identity(context), IdentityRequest::WriteMessage, master) < 0)
        return -1;
    putPacked(cursor, identity(context)->message, 24);
    return defaultTimeoutMs;
}

std::uint32_t decodeWriteMessage(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                 std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, writeMapping))
        return result;
    IdentityRecord* r = identity(context);
    if (dataSize(data, end) != 24 || !samePacked(data, r->message, 24))
        return Ignore;
    r->requestFlags &= ~IdentityRequest::WriteMessage;
    return Ok;
}

std::int32_t encodeWriteTagDescriptorDate(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    if (whenDue(identity(context), IdentityRequest::WriteTagDescriptorDate, master) < 0)
        return -1;
    IdentityRecord* r = identity(context);
    putPacked(cursor, r->tag, 6);
    putPacked(cursor, r->descriptor, 12);
    std::memcpy(*cursor, r->date, 3);
    *cursor += 3;
    return defaultTimeoutMs;
}

std::uint32_t decodeWriteTagDescriptorDate(void* context, ParserMaster*, const std::uint8_t* data,
                                           const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, writeTagMapping))
        return result;
    IdentityRecord* r = identity(context);
    if (dataSize(data, end) != 21 || !samePacked(data, r->tag, 6) || !samePacked(data + 6, r->descriptor, 12)
        || std::memcmp(data + 18, r->date, 3) != 0)
        return Ignore;
    r->requestFlags &= ~IdentityRequest::WriteTagDescriptorDate;
    return Ok;
}

std::int32_t encodeReadLongTag(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(identity(context), IdentityRequest::ReadLongTag, master);
}

std::uint32_t decodeReadLongTag(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readMapping))
        return result;
    if (dataSize(data, end) != 32)
        return Ignore;
    IdentityRecord* r = identity(context);
    copyText(r->longTag, reinterpret_cast<const char*>(data), 32);
    r->requestFlags &= ~IdentityRequest::ReadLongTag;
    return Ok;
}

std::int32_t encodeWriteLongTag(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    if (whenDue(identity(context), IdentityRequest::WriteLongTag, master) < 0)
        return -1;
    putLatin(cursor, identity(context)->longTag, 32);
    return defaultTimeoutMs;
}

std::uint32_t decodeWriteLongTag(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                 std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, writeMapping))
        return result;
    IdentityRecord* r = identity(context);
    if (dataSize(data, end) != 32 || std::strncmp(reinterpret_cast<const char*>(data), r->longTag, 32) != 0)
        return Ignore;
    r->requestFlags &= ~IdentityRequest::WriteLongTag;
    return Ok;
}

} // namespace Hart
