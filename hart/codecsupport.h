#pragma once
// Helpers shared by the command codecs; not part of the library's interface.

#include <cstddef>
#include <cstdint>

#include "hart/messages.h"
#include "hart/parsermaster.h"

namespace Hart {

struct ResponseMapping {
    std::uint8_t responseCode;
    std::uint8_t result;
};

// Result of a command's response code: the listed result, Ok for 0 (go on decoding), 40 for
// any other code the command does not define. A listed Ok accepts a warning.
template <std::size_t N>
std::uint32_t mapResponseCode(std::uint8_t responseCode, const ResponseMapping (&mapping)[N])
{
    for (const ResponseMapping& m : mapping) {
        if (m.responseCode == responseCode)
            return m.result;
    }
    return responseCode == 0 ? Ok : UnexpectedResponseCode;
}

inline std::uint32_t mapResponseCode(std::uint8_t responseCode)
{
    return responseCode == 0 ? Ok : UnexpectedResponseCode;
}

inline std::uint32_t dataSize(const std::uint8_t* data, const std::uint8_t* end)
{
    return data && end > data ? std::uint32_t(end - data) : 0;
}

// Most commands wait for an identified device; the address scan clears the type while it runs.
inline bool deviceIdentified(const ParserMaster* master)
{
    return master->expandedDeviceType != 0;
}

// Timeout of a request whose bit is set in the record's requestFlags and whose device is
// identified; -1 otherwise.
template <typename Record, typename Flag>
std::int32_t whenDue(const Record* record, Flag flag, const ParserMaster* master)
{
    return (record->requestFlags & flag) && deviceIdentified(master) ? defaultTimeoutMs : -1;
}

} // namespace Hart
