#include "sim/exchange.h"

#include "hart/encoding.h"

namespace Sim {

bool Exchange::needs(std::size_t bytes)
{
    if (size >= bytes)
        return true;
    fail(Rc::TooFewBytes);
    return false;
}

bool Exchange::mayWrite()
{
    if (!state.writeProtected)
        return true;
    fail(Rc::WriteProtected);
    return false;
}

void Exchange::put16(std::uint16_t v)
{
    std::uint8_t b[2];
    Hart::storeU16(b, v);
    putBytes(b, 2);
}

void Exchange::put24(std::uint32_t v)
{
    std::uint8_t b[3];
    Hart::storeU24(b, v);
    putBytes(b, 3);
}

void Exchange::put32(std::uint32_t v)
{
    std::uint8_t b[4];
    Hart::storeU32(b, v);
    putBytes(b, 4);
}

void Exchange::putFloat(float v)
{
    std::uint8_t b[4];
    Hart::storeFloat(b, v);
    putBytes(b, 4);
}

} // namespace Sim
