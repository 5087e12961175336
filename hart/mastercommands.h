#pragma once
// Universal and common-practice commands whose context is the master itself: polling address
// and loop current mode (6, 7), configuration-changed flag (38), device reset (42), additional
// device status (48) and locking (71, 76).

#include <cstdint>

#include "hart/parsermaster.h"

namespace Hart {

namespace MasterRequest {
constexpr std::uint8_t WritePollingAddress = 0x01; // command 6
constexpr std::uint8_t ReadLoopConfiguration = 0x02; // command 7
constexpr std::uint8_t ResetConfigurationChanged = 0x04; // command 38
constexpr std::uint8_t ReadAdditionalStatus = 0x08; // command 48
constexpr std::uint8_t AcknowledgeAdditionalStatus = 0x10; // command 48 with acknowledgement data
constexpr std::uint8_t DeviceReset = 0x20; // command 42
constexpr std::uint8_t LockDevice = 0x40; // command 71
constexpr std::uint8_t ReadLockState = 0x80; // command 76
} // namespace MasterRequest

std::int32_t encodeWritePollingAddress(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeWritePollingAddress(void* context, ParserMaster* master, const std::uint8_t* data,
                                        const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadLoopConfiguration(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadLoopConfiguration(void* context, ParserMaster* master, const std::uint8_t* data,
                                          const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeResetConfigurationChanged(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeResetConfigurationChanged(void* context, ParserMaster* master, const std::uint8_t* data,
                                              const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeDeviceReset(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeDeviceReset(void* context, ParserMaster* master, const std::uint8_t* data,
                                const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadAdditionalStatus(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadAdditionalStatus(void* context, ParserMaster* master, const std::uint8_t* data,
                                         const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeLockDevice(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeLockDevice(void* context, ParserMaster* master, const std::uint8_t* data,
                               const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadLockState(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadLockState(void* context, ParserMaster* master, const std::uint8_t* data,
                                  const std::uint8_t* end, std::uint8_t responseCode);

} // namespace Hart
