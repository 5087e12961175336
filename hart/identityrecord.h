#pragma once
// Identity of the device: command 0 and its broadcast relatives (11, 21, 73), and the tag,
// descriptor, date, message, long tag and final assembly number reads and writes.

#include <cstdint>

#include "hart/parsermaster.h"

namespace Hart {

namespace IdentityRequest {
constexpr std::uint16_t ReadUniqueIdentifier = 0x0001; // command 0
constexpr std::uint16_t FindByTag = 0x0002; // command 11
constexpr std::uint16_t ReadMessage = 0x0004; // command 12
constexpr std::uint16_t ReadTagDescriptorDate = 0x0008; // command 13
constexpr std::uint16_t ReadFinalAssemblyNumber = 0x0010; // command 16
constexpr std::uint16_t WriteMessage = 0x0020; // command 17
constexpr std::uint16_t WriteTagDescriptorDate = 0x0040; // command 18
constexpr std::uint16_t ReadLongTag = 0x0100; // command 20
constexpr std::uint16_t FindByLongTag = 0x0200; // command 21
constexpr std::uint16_t WriteLongTag = 0x0400; // command 22
constexpr std::uint16_t FindDevice = 0x0800; // command 73
constexpr std::uint16_t AddressScan = 0x1000; // command 0 over a range of polling addresses
} // namespace IdentityRequest

// Text fields hold the device's 8-bit characters with one extra byte for the terminator.
struct IdentityRecord {
    std::uint8_t deviceRevision = 0;
    std::uint8_t softwareRevision = 0;
    std::uint8_t universalRevision = 0;
    std::uint8_t hardwareRevision = 0; // revision in bits 7..3, physical signaling in bits 2..0
    std::uint8_t deviceFlags = 0;
    std::uint16_t manufacturerCode = 0;
    std::uint16_t privateLabelCode = 0;
    std::uint8_t deviceProfile = 0;
    std::uint8_t date[3] = {}; // day, month, year minus 1900
    std::uint32_t finalAssemblyNumber = 0;
    char message[33] = {};
    char tag[9] = {};
    char descriptor[17] = {};
    char longTag[33] = {};
    char searchTag[9] = {};
    char searchLongTag[33] = {};
    std::uint8_t searchNext = 0;
    std::uint8_t searchLast = 0;
    std::uint16_t requestFlags = 0;

    void startAddressScan(std::uint8_t first, std::uint8_t last);
    void cancelIdentityRequests();
    void requestFindByTag(const char* tag);
    void requestWriteMessage(const char* text);
    // date: day in the lowest byte, then month, then year minus 1900.
    void requestWriteTagDescriptorDate(const char* tag, const char* descriptor, std::uint32_t date);
    void requestFindByLongTag(const char* longTag);
    void requestWriteLongTag(const char* longTag);
};

std::int32_t encodeReadUniqueIdentifier(void* context, ParserMaster* master, std::uint8_t** cursor);
std::int32_t encodeFindByTag(void* context, ParserMaster* master, std::uint8_t** cursor);
std::int32_t encodeFindByLongTag(void* context, ParserMaster* master, std::uint8_t** cursor);
std::int32_t encodeFindDevice(void* context, ParserMaster* master, std::uint8_t** cursor);
// Shared by commands 0, 11, 21 and 73.
std::uint32_t decodeReadUniqueIdentifier(void* context, ParserMaster* master, const std::uint8_t* data,
                                         const std::uint8_t* end, std::uint8_t responseCode);

std::int32_t encodeReadMessage(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadMessage(void* context, ParserMaster* master, const std::uint8_t* data,
                                const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadTagDescriptorDate(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadTagDescriptorDate(void* context, ParserMaster* master, const std::uint8_t* data,
                                          const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadFinalAssemblyNumber(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadFinalAssemblyNumber(void* context, ParserMaster* master, const std::uint8_t* data,
                                            const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeWriteMessage(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeWriteMessage(void* context, ParserMaster* master, const std::uint8_t* data,
                                 const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeWriteTagDescriptorDate(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeWriteTagDescriptorDate(void* context, ParserMaster* master, const std::uint8_t* data,
                                           const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeReadLongTag(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeReadLongTag(void* context, ParserMaster* master, const std::uint8_t* data,
                                const std::uint8_t* end, std::uint8_t responseCode);
std::int32_t encodeWriteLongTag(void* context, ParserMaster* master, std::uint8_t** cursor);
std::uint32_t decodeWriteLongTag(void* context, ParserMaster* master, const std::uint8_t* data,
                                 const std::uint8_t* end, std::uint8_t responseCode);

} // namespace Hart
