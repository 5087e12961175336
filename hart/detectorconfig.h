#pragma once
// The detector's own commands 130..138: service operations, loop-current settings, detector
// settings, optics calibration and optics check.

#include <cstdint>

#include "hart/parsermaster.h"

namespace Hart {

namespace DetectorRequest {
constexpr std::uint16_t ServiceOperation = 0x0001; // command 130
constexpr std::uint16_t ReadCurrents = 0x0002; // command 131
constexpr std::uint16_t WriteCurrents = 0x0004; // command 132
constexpr std::uint16_t ReadConfiguration = 0x0008; // command 133
constexpr std::uint16_t WriteConfiguration = 0x0010; // command 134
constexpr std::uint16_t ReadCalibration = 0x0020; // command 135
constexpr std::uint16_t StartCalibration = 0x0040; // command 136
constexpr std::uint16_t ReadOpticsCheck = 0x0080; // command 137
constexpr std::uint16_t StartOpticsCheck = 0x0100; // command 138
} // namespace DetectorRequest

// Service codes of command 130 used by the window.
constexpr std::uint8_t serviceFactoryReset = 2;
constexpr std::uint8_t serviceClearStatus = 3;

struct DetectorConfig {
    std::uint8_t configuration[3] = {0x07, 0x27, 0}; // setting bytes 0..2 of commands 133/134
    std::uint8_t calibrationState = 0;
    std::uint8_t opticsCheckState = 0;
    std::uint8_t configuration3 = 10; // setting byte 3: analysis time in seconds
    std::uint8_t serviceCode = 0;
    std::uint16_t currentSettings[5] = {2000, 3000, 4000, 8000, 18000}; // microamperes
    std::uint16_t requestFlags = 0;

    // Setting byte i (0..3) in wire order.
    std::uint8_t configurationByte(unsigned i) const { return i < 3 ? configuration[i] : configuration3; }

    // Byte 1 always goes with bit 0x80: the analysis time is given in byte 3.
    void requestWriteConfiguration(std::uint8_t byte0, std::uint8_t byte1, std::uint8_t byte2, std::uint8_t byte3);
    void requestWriteCurrents(std::uint16_t c1, std::uint16_t c2, std::uint16_t c3, std::uint16_t c4,
                              std::uint16_t c5);
};

std::int32_t encodeServiceOperation(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeServiceOperation(void* context, ParserMaster* master, const std::uint8_t* data,
                                     const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadCurrents(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadCurrents(void* context, ParserMaster* master, const std::uint8_t* data,
                                 const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeWriteCurrents(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeWriteCurrents(void* context, ParserMaster* master, const std::uint8_t* data,
                                  const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadConfiguration(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadConfiguration(void* context, ParserMaster* master, const std::uint8_t* data,
                                      const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeWriteConfiguration(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeWriteConfiguration(void* context, ParserMaster* master, const std::uint8_t* data,
                                       const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadCalibration(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadCalibration(void* context, ParserMaster* master, const std::uint8_t* data,
                                    const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeStartCalibration(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeStartCalibration(void* context, ParserMaster* master, const std::uint8_t* data,
                                     const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadOpticsCheck(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadOpticsCheck(void* context, ParserMaster* master, const std::uint8_t* data,
                                    const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeStartOpticsCheck(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeStartOpticsCheck(void* context, ParserMaster* master, const std::uint8_t* data,
                                     const std::uint8_t* end, std::uint8_t responseCode);

} // namespace Hart
