// Feeds the traffic monitor's renderer any block of line bytes, with any result code from the
// frame layer and either direction, and checks that the line it makes is whole.
//
// Input: byte 0 picks the direction (bit 7) and the result code (the low bits index a list of
// the codes the frame layer gives, plus a few it never does); the rest are the line bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "framerenderer.h"

namespace {

const std::uint32_t resultCodes[] = {0, 1, 13, 18, 25, 38, 40, 47, 48, 49, 52, 53, 54, 55, 56, 0xFFFFFFFFu};

int count(const QString& text, const char* what)
{
    return text.count(QLatin1String(what));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > 4096)
        return 0;
    const bool outgoing = data[0] & 0x80;
    const std::uint32_t resultCode = resultCodes[data[0] % (sizeof resultCodes / sizeof resultCodes[0])];
    const std::uint32_t length = std::uint32_t(size - 1);
    // An exact-size heap copy, so a read past the block is caught.
    std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[length ? length : 1]);
    if (length)
        std::memcpy(bytes.get(), data + 1, length);

    const QString line = renderFrame(length ? bytes.get() : nullptr, length, resultCode, outgoing);
    // One line, every span closed, and no more text than a few characters a byte.
    if (!line.endsWith(QLatin1String("<br>")) || count(line, "<br>") != 1)
        std::abort();
    if (count(line, "<span") != count(line, "</span>"))
        std::abort();
    if (std::size_t(line.size()) > 1200 + 3 * std::size_t(length))
        std::abort();
    return 0;
}
