#include "encoding.h"

#include <cstring>

namespace Hart {

std::uint16_t loadU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t loadU24(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
}

std::uint32_t loadU32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

float loadFloat(const std::uint8_t* p)
{
    const std::uint32_t bits = loadU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void storeU16(std::uint8_t* p, std::uint16_t value)
{
    p[0] = std::uint8_t(value >> 8);
    p[1] = std::uint8_t(value);
}

void storeU24(std::uint8_t* p, std::uint32_t value)
{
    p[0] = std::uint8_t(value >> 16);
    p[1] = std::uint8_t(value >> 8);
    p[2] = std::uint8_t(value);
}

void storeU32(std::uint8_t* p, std::uint32_t value)
{
    p[0] = std::uint8_t(value >> 24);
    p[1] = std::uint8_t(value >> 16);
    p[2] = std::uint8_t(value >> 8);
    p[3] = std::uint8_t(value);
}

void storeFloat(std::uint8_t* p, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    storeU32(p, bits);
}

std::uint16_t loadU16Le(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t loadU32Le(const std::uint8_t* p)
{
    return p[0] | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

void storeU16Le(std::uint8_t* p, std::uint16_t value)
{
    p[0] = std::uint8_t(value);
    p[1] = std::uint8_t(value >> 8);
}

void storeU32Le(std::uint8_t* p, std::uint32_t value)
{
    p[0] = std::uint8_t(value);
    p[1] = std::uint8_t(value >> 8);
    p[2] = std::uint8_t(value >> 16);
    p[3] = std::uint8_t(value >> 24);
}

namespace {

std::uint32_t packedCode(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c >= 0x20 && c <= 0x5F)
        return c & 0x3F;
    return '?' & 0x3F;
}

} // namespace

void packAscii(std::uint8_t* out, const char* text, std::uint32_t outBytes)
{
    for (std::uint32_t group = 0; group < outBytes / 3; ++group) {
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) {
            const unsigned char c = static_cast<unsigned char>(*text);
            std::uint32_t code = 32;
            if (c != 0) {
                ++text;
                code = packedCode(c);
            }
            bits = (bits << 6) | code;
        }
        storeU24(out + 3 * group, bits);
    }
}

void unpackAscii(char* out, const std::uint8_t* in, std::uint32_t inBytes)
{
    for (std::uint32_t group = 0; group < inBytes / 3; ++group) {
        const std::uint32_t bits = loadU24(in + 3 * group);
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t code = (bits >> (18 - 6 * i)) & 0x3F;
            *out++ = static_cast<char>(code < 32 ? code + 64 : code);
        }
    }
}

std::uint8_t checkByte(const std::uint8_t* data, std::uint32_t length)
{
    std::uint8_t x = 0;
    for (std::uint32_t i = 0; i < length; ++i)
        x ^= data[i];
    return x;
}

} // namespace Hart
