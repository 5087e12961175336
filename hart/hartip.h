#pragma once
// HART-IP version 1 messages: the 8-byte header, the session-initiate body and the token-passing
// PDU that carries one HART frame (delimiter to check byte, no preambles). Plain C++ so that the
// link, the simulator and the fuzzer share it; every field from the network is checked here.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Hart {
namespace Ip {

constexpr std::uint16_t defaultPort = 5094;
constexpr std::uint8_t version = 1;
constexpr std::size_t headerSize = 8;
// The largest message either side builds or accepts: a header and a long HART frame with room
// to spare. Anything that claims more is not a HART-IP message of ours.
constexpr std::size_t maxMessageSize = headerSize + 512;

enum class MessageType : std::uint8_t { Request = 0, Response = 1, Publish = 2, Error = 3, Nak = 15 };
enum class MessageId : std::uint8_t { SessionInitiate = 0, SessionClose = 1, KeepAlive = 2, Pdu = 3 };

// Status codes a server sends back.
constexpr std::uint8_t statusSuccess = 0;
constexpr std::uint8_t statusInvalidSelection = 2;
constexpr std::uint8_t statusTooFewBytes = 5;
constexpr std::uint8_t statusNearestValue = 8; // the timer was set to the server's nearest value
constexpr std::uint8_t statusBusy = 15; // all available sessions in use
constexpr std::uint8_t primaryMaster = 1;

struct Header {
    std::uint8_t version = Ip::version;
    MessageType type = MessageType::Request;
    MessageId id = MessageId::Pdu;
    std::uint8_t status = 0;
    std::uint16_t sequence = 0;
    std::uint16_t byteCount = headerSize; // the whole message, header included
};

enum class HeaderCheck : std::uint8_t {
    Ok,
    Short,          // fewer than 8 bytes
    BadVersion,
    BadType,
    BadId,
    BadByteCount,   // below the header size or above maxMessageSize
};

// Reads and checks a header; fields are filled only when the result is Ok.
HeaderCheck decodeHeader(const std::uint8_t* bytes, std::size_t length, Header& header);
void encodeHeader(const Header& header, std::uint8_t* out);

// A whole message: header and body, byte count set from the body.
std::vector<std::uint8_t> buildMessage(MessageType type, MessageId id, std::uint8_t status, std::uint16_t sequence,
                                       const std::uint8_t* body, std::size_t bodyLength);

// Session initiate body: master type and inactivity close timer.
constexpr std::size_t sessionBodySize = 5;
struct SessionParameters {
    std::uint8_t masterType = primaryMaster;
    std::uint32_t inactivityMs = 0;
};
std::vector<std::uint8_t> buildSessionInitiate(MessageType type, std::uint8_t status, std::uint16_t sequence,
                                               const SessionParameters& parameters);
bool decodeSessionBody(const std::uint8_t* body, std::size_t length, SessionParameters& parameters);

// The HART frame of a request without its preambles; empty when nothing but preambles or
// noise is there or the frame is too long for one message.
std::vector<std::uint8_t> buildPdu(MessageType type, std::uint16_t sequence, const std::uint8_t* frame,
                                   std::size_t length, std::uint8_t status = 0);
// Skips the leading 0xFF preambles of a frame as the serial link sends it.
std::size_t preambleLength(const std::uint8_t* frame, std::size_t length);

// Cuts a TCP byte stream into whole messages. A header that fails its check poisons the
// stream: nothing after it can be framed again, so the connection must end.
class StreamFramer {
public:
    // Appends bytes; false once the stream is poisoned.
    bool append(const std::uint8_t* bytes, std::size_t length);
    // The next whole message into out; false when none is complete yet (or poisoned).
    bool next(std::vector<std::uint8_t>& out);
    bool poisoned() const { return m_poisoned; }
    // Bytes of a message not yet complete.
    std::size_t pendingBytes() const { return m_pending.size(); }
    void reset();

private:
    std::vector<std::uint8_t> m_pending;
    bool m_poisoned = false;
};

} // namespace Ip
} // namespace Hart
