#pragma once
// Event-log transfer (command 252): the log description, the caption catalogue, the record range
// and the records, one request at a time, and the erase. Numbers in this command are
// least significant byte first.

#include <cstdint>

#include "hart/parsermaster.h"

namespace Hart {

namespace EventLogRequest {
constexpr std::uint8_t Read = 0x01;
constexpr std::uint8_t Erase = 0x02;
} // namespace EventLogRequest

namespace EventLogState {
constexpr std::uint8_t Info = 0;
constexpr std::uint8_t Captions = 1;
constexpr std::uint8_t Range = 2;
constexpr std::uint8_t Records = 3;
constexpr std::uint8_t Finished = 4;
constexpr std::uint8_t Erase = 5;
} // namespace EventLogState

class ParserMasterEventLog : public ParserMasterBase {
public:
    // Returns whether the captions are to be read.
    bool (*onInfo)(ParserMasterEventLog* log, std::uint16_t captionCount, std::uint32_t infoA,
                   std::uint32_t infoB) = nullptr;
    // text is terminated inside the answer.
    void (*onCaption)(ParserMasterEventLog* log, std::uint16_t index, std::uint32_t id, const char* text) = nullptr;
    // Returns the record index to continue from.
    std::uint32_t (*onRange)(ParserMasterEventLog* log, std::uint32_t first, std::uint32_t count) = nullptr;
    void (*onRecords)(ParserMasterEventLog* log, std::uint32_t index, std::uint8_t count, std::uint8_t type,
                      std::uint32_t valueA, std::uint32_t valueB, const std::uint8_t* data,
                      std::uint32_t length) = nullptr;
    void (*onFinished)(ParserMasterEventLog* log) = nullptr;
    // The device has acknowledged the erase of its log.
    void (*onErased)(ParserMasterEventLog* log) = nullptr;
    std::uint8_t state = EventLogState::Info;
    std::uint8_t lastSubcommand = 4; // 4: no request awaits its answer
    std::uint32_t index = 0;
    std::uint32_t remaining = 0;
    std::uint32_t rangeFirst = 0;
    std::uint32_t infoA = 0;
    std::uint32_t infoB = 0;
    std::uint32_t lastParameter = 0;
    std::uint8_t requestFlags = 0;
};

std::int32_t encodeEventLog(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeEventLog(void* context, ParserMaster* master, const std::uint8_t* data,
                             const std::uint8_t* end, std::uint8_t responseCode);

} // namespace Hart
