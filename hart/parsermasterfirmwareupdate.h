#pragma once
// Firmware transfer (command 253): the image size is announced, then the device names the offset
// it wants next and gets up to 64 bytes from there, until it names the end of the image.

#include <cstdint>

#include "hart/parsermaster.h"

namespace Hart {

namespace FirmwareRequest {
constexpr std::uint8_t Transfer = 0x01;
} // namespace FirmwareRequest

constexpr std::uint32_t firmwareChunkSize = 64;
constexpr std::int32_t firmwareAnnounceTimeoutMs = 1000;
constexpr std::int32_t firmwareChunkTimeoutMs = 5000;

class ParserMasterFirmwareUpdate : public ParserMasterBase {
public:
    // Opens the transfer and returns the image size in bytes; 0 sends nothing.
    std::uint32_t (*begin)(ParserMasterFirmwareUpdate* update) = nullptr;
    // Copies length image bytes from offset; never asked for bytes at or past the size. When the
    // bytes cannot be had it clears the transfer flag, and the chunk is not sent.
    void (*readChunk)(ParserMasterFirmwareUpdate* update, std::uint32_t offset, std::uint8_t* destination,
                      std::uint32_t length) = nullptr;
    // Called after each accepted answer with the offset the device named; at or past the size the
    // transfer has ended.
    void (*onProgress)(ParserMasterFirmwareUpdate* update, std::uint32_t nextOffset) = nullptr;
    std::uint32_t started = 0;
    std::uint32_t nextOffset = 0;
    std::uint32_t size = 0;
    std::uint8_t requestFlags = 0;
};

std::int32_t encodeFirmwareUpdate(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeFirmwareUpdate(void* context, ParserMaster* master, const std::uint8_t* data,
                                   const std::uint8_t* end, std::uint8_t responseCode);

} // namespace Hart
