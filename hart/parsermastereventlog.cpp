#include "parsermastereventlog.h"

#include "hart/codecsupport.h"
#include "hart/encoding.h"

namespace Hart {

namespace {

constexpr std::uint8_t subInfo = 0x00;
constexpr std::uint8_t subCaption = 0x01;
constexpr std::uint8_t subRange = 0x02;
constexpr std::uint8_t subRecords = 0x03;
constexpr std::uint8_t subErase = 0x80;
constexpr std::uint8_t eraseRequest[] = {subErase, 0xFF, 0x00, 0x55, 0xAA};
// The fifth byte of a short records answer when the asked record has been overwritten.
constexpr std::uint8_t recordOverwritten = 0x84;

const ResponseMapping mapping[] = {{2, InvalidSelection}, {5, TooFewDataBytes}, {8, Ok}};

ParserMasterEventLog* eventLog(void* context)
{
    return static_cast<ParserMasterEventLog*>(context);
}

int expectedSubcommand(std::uint8_t state)
{
    switch (state) {
    case EventLogState::Info: return subInfo;
    case EventLogState::Captions: return subCaption;
    case EventLogState::Range: return subRange;
    case EventLogState::Records: return subRecords;
    case EventLogState::Erase: return subErase;
    default: return -1;
    }
}

std::uint32_t finish(ParserMasterEventLog* log)
{
    log->state = EventLogState::Finished;
    log->requestFlags &= std::uint8_t(~EventLogRequest::Read);
    if (log->onFinished)
        log->onFinished(log);
    return Ok;
}

// A callback may stop the transfer (the window's stopTransfer clears the flags); then the
// decoder leaves the state as the window set it.
bool stopped(const ParserMasterEventLog* log)
{
    return !(log->requestFlags & EventLogRequest::Read);
}

std::uint32_t decodeInfo(ParserMasterEventLog* log, const std::uint8_t* p, std::uint32_t size)
{
    if (size != 10)
        return Ignore;
    const std::uint16_t count = loadU16Le(p);
    log->infoA = loadU32Le(p + 2);
    log->infoB = loadU32Le(p + 6);
    log->remaining = count;
    log->state = EventLogState::Range;
    const bool readCaptions = log->onInfo && log->onInfo(log, count, log->infoA, log->infoB);
    if (stopped(log))
        return Ok;
    if (readCaptions && count != 0) {
        log->state = EventLogState::Captions;
        log->index = 0;
    }
    return Continue;
}

std::uint32_t decodeCaption(ParserMasterEventLog* log, const std::uint8_t* p, std::uint32_t size)
{
    // Index, id, and a text whose terminating zero is the answer's last byte.
    if (size < 7 || loadU16Le(p) != log->index || p[size - 1] != 0)
        return Ignore;
    if (log->onCaption)
        log->onCaption(log, loadU16Le(p), loadU32Le(p + 2), reinterpret_cast<const char*>(p + 6));
    if (stopped(log))
        return Ok;
    ++log->index;
    if (log->remaining > 0)
        --log->remaining;
    if (log->remaining == 0)
        log->state = EventLogState::Range;
    return Continue;
}

std::uint32_t decodeRange(ParserMasterEventLog* log, const std::uint8_t* p, std::uint32_t size)
{
    if (size != 8)
        return Ignore;
    log->rangeFirst = loadU32Le(p);
    const std::uint32_t count = loadU32Le(p + 4);
    // Kept wide: first + count may pass 2^32.
    const std::uint64_t end = std::uint64_t(log->rangeFirst) + count;
    // The callback shows progress from the count the device just reported.
    log->remaining = count;
    std::uint32_t next = log->onRange ? log->onRange(log, log->rangeFirst, count) : log->rangeFirst;
    if (stopped(log))
        return Ok;
    if (next < log->rangeFirst)
        next = log->rangeFirst;
    if (next >= end) {
        log->remaining = 0;
        return finish(log);
    }
    log->index = next;
    log->remaining = std::uint32_t(end - next);
    log->state = EventLogState::Records;
    return Continue;
}

std::uint32_t decodeRecords(ParserMasterEventLog* log, const std::uint8_t* p, std::uint32_t size)
{
    if (size == 5) {
        // A late answer to an earlier request names another record: ask again, or a record
        // that was never stored would be skipped.
        if (loadU32Le(p) != log->index)
            return Ignore;
        if (p[4] == recordOverwritten) {
            log->state = EventLogState::Range;
            return Continue;
        }
        // The device has no such record: skip it.
        ++log->index;
        if (log->remaining > 1) {
            --log->remaining;
            return Continue;
        }
        return finish(log);
    }
    if (size < 14)
        return Ignore;
    // Another block than the one asked for is asked again; a block covering no position would
    // be asked for over and over.
    const std::uint8_t count = p[9];
    if (loadU32Le(p) != log->index || count == 0)
        return Ignore;
    if (log->onRecords)
        log->onRecords(log, log->index, count, p[4], loadU32Le(p + 5), loadU32Le(p + 10), p + 14, size - 14);
    if (stopped(log))
        return Ok;
    log->index += count;
    if (log->remaining <= count)
        return finish(log);
    log->remaining -= count;
    return Continue;
}

} // namespace

std::int32_t encodeEventLog(void* context, ParserMaster*, std::uint8_t** cursor)
{
    ParserMasterEventLog* log = eventLog(context);
    std::uint8_t* p = *cursor;
    // Erasing takes precedence over a download.
    if (log->requestFlags & EventLogRequest::Erase) {
        for (std::uint8_t byte : eraseRequest)
            *p++ = byte;
        log->state = EventLogState::Erase;
        log->lastSubcommand = subErase;
        log->lastParameter = 0;
        *cursor = p;
        return defaultTimeoutMs;
    }
    if (!(log->requestFlags & EventLogRequest::Read))
        return -1;
    switch (log->state) {
    case EventLogState::Info:
        *p++ = subInfo;
        log->lastParameter = 0;
        break;
    case EventLogState::Captions:
        *p++ = subCaption;
        storeU16Le(p, std::uint16_t(log->index));
        p += 2;
        log->lastParameter = log->index;
        break;
    case EventLogState::Range:
        *p++ = subRange;
        log->lastParameter = 0;
        break;
    case EventLogState::Records:
        *p++ = subRecords;
        storeU32Le(p, log->index);
        p += 4;
        log->lastParameter = log->index;
        break;
    default:
        return -1;
    }
    log->lastSubcommand = (*cursor)[0];
    *cursor = p;
    return defaultTimeoutMs;
}

std::uint32_t decodeEventLog(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                             std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, mapping))
        return result;
    ParserMasterEventLog* log = eventLog(context);
    const std::uint32_t size = dataSize(data, end);
    // An answer after the window has stopped the transfer belongs to nothing, and a pending erase
    // makes any download answer stale.
    const bool wanted = log->state == EventLogState::Erase ? (log->requestFlags & EventLogRequest::Erase) != 0
                                                           : log->requestFlags == EventLogRequest::Read;
    if (size == 0 || !wanted || data[0] != expectedSubcommand(log->state))
        return Ignore;
    const std::uint8_t* p = data + 1;
    const std::uint32_t rest = size - 1;
    std::uint32_t result = Ignore;
    switch (log->state) {
    case EventLogState::Info: result = decodeInfo(log, p, rest); break;
    case EventLogState::Captions: result = decodeCaption(log, p, rest); break;
    case EventLogState::Range: result = decodeRange(log, p, rest); break;
    case EventLogState::Records: result = decodeRecords(log, p, rest); break;
    case EventLogState::Erase:
        log->requestFlags &= std::uint8_t(~EventLogRequest::Erase);
        if (log->onErased)
            log->onErased(log);
        result = Ok;
        break;
    default: break;
    }
    if (result != Ignore)
        log->lastSubcommand = 4;
    return result;
}

} // namespace Hart
