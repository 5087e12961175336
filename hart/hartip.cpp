#include "hart/hartip.h"

#include "hart/encoding.h"

#include <algorithm>
#include <cstring>

namespace Hart {
namespace Ip {

namespace {

bool knownType(std::uint8_t type)
{
    return type <= 3 || type == 15;
}

} // namespace

HeaderCheck decodeHeader(const std::uint8_t* bytes, std::size_t length, Header& header)
{
    if (!bytes || length < headerSize)
        return HeaderCheck::Short;
    if (bytes[0] != version)
        return HeaderCheck::BadVersion;
    if (!knownType(bytes[1]))
        return HeaderCheck::BadType;
    if (bytes[2] > std::uint8_t(MessageId::Pdu))
        return HeaderCheck::BadId;
    const std::uint16_t count = loadU16(bytes + 6);
    if (count < headerSize || count > maxMessageSize)
        return HeaderCheck::BadByteCount;
    header.version = bytes[0];
    header.type = MessageType(bytes[1]);
    header.id = MessageId(bytes[2]);
    header.status = bytes[3];
    header.sequence = loadU16(bytes + 4);
    header.byteCount = count;
    return HeaderCheck::Ok;
}

void encodeHeader(const Header& header, std::uint8_t* out)
{
    out[0] = header.version;
    out[1] = std::uint8_t(header.type);
    out[2] = std::uint8_t(header.id);
    out[3] = header.status;
    storeU16(out + 4, header.sequence);
    storeU16(out + 6, header.byteCount);
}

std::vector<std::uint8_t> buildMessage(MessageType type, MessageId id, std::uint8_t status, std::uint16_t sequence,
                                       const std::uint8_t* body, std::size_t bodyLength)
{
    if (bodyLength > maxMessageSize - headerSize)
        return {};
    std::vector<std::uint8_t> message(headerSize + bodyLength);
    Header header;
    header.type = type;
    header.id = id;
    header.status = status;
    header.sequence = sequence;
    header.byteCount = std::uint16_t(message.size());
    encodeHeader(header, message.data());
    if (bodyLength)
        std::memcpy(message.data() + headerSize, body, bodyLength);
    return message;
}

std::vector<std::uint8_t> buildSessionInitiate(MessageType type, std::uint8_t status, std::uint16_t sequence,
                                               const SessionParameters& parameters)
{
    std::uint8_t body[sessionBodySize];
    body[0] = parameters.masterType;
    storeU32(body + 1, parameters.inactivityMs);
    return buildMessage(type, MessageId::SessionInitiate, status, sequence, body, sizeof body);
}

bool decodeSessionBody(const std::uint8_t* body, std::size_t length, SessionParameters& parameters)
{
    if (!body || length < sessionBodySize)
        return false;
    parameters.masterType = body[0];
    parameters.inactivityMs = loadU32(body + 1);
    return true;
}

std::size_t preambleLength(const std::uint8_t* frame, std::size_t length)
{
    std::size_t i = 0;
    while (i < length && frame[i] == 0xFF)
        ++i;
    return i;
}

std::vector<std::uint8_t> buildPdu(MessageType type, std::uint16_t sequence, const std::uint8_t* frame,
                                   std::size_t length, std::uint8_t status)
{
    const std::size_t skip = frame ? preambleLength(frame, length) : length;
    if (skip >= length)
        return {};
    return buildMessage(type, MessageId::Pdu, status, sequence, frame + skip, length - skip);
}

bool StreamFramer::append(const std::uint8_t* bytes, std::size_t length)
{
    if (m_poisoned)
        return false;
    // A whole message is at most maxMessageSize: more than two of them waiting means the
    // reader is not keeping up, and the buffer must not grow without end.
    if (m_pending.size() + length > 4 * maxMessageSize) {
        m_poisoned = true;
        m_pending.clear();
        return false;
    }
    m_pending.insert(m_pending.end(), bytes, bytes + length);
    return true;
}

bool StreamFramer::next(std::vector<std::uint8_t>& out)
{
    if (m_poisoned || m_pending.size() < headerSize)
        return false;
    Header header;
    if (decodeHeader(m_pending.data(), m_pending.size(), header) != HeaderCheck::Ok) {
        m_poisoned = true;
        m_pending.clear();
        return false;
    }
    if (m_pending.size() < header.byteCount)
        return false;
    out.assign(m_pending.begin(), m_pending.begin() + header.byteCount);
    m_pending.erase(m_pending.begin(), m_pending.begin() + header.byteCount);
    return true;
}

void StreamFramer::reset()
{
    m_pending.clear();
    m_poisoned = false;
}

} // namespace Ip
} // namespace Hart
