// Plays a hostile HART-IP server against the link's session: raw datagrams and stream pieces,
// well-formed messages with chosen fields (answering the sequence numbers the session really
// sent, so that deep states are reached), time passing, requests from the master, closes and
// transport failures. Checks that the buffer handed to the master is always a framed answer
// inside its bounds and that nothing is taken or sent once the session is gone.
//
// Input: byte 0 picks UDP or TCP; then operations, each one byte (its low three bits the kind)
// followed by its operands.

#include "hartipsession.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace Hart::Ip;

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool empty() const { return at >= size; }
    std::uint8_t byte() { return at < size ? data[at++] : 0; }
};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size};
    std::uint8_t buffer[256];
    HartIpSession session(buffer, sizeof buffer);
    const auto transport = (in.byte() & 1) ? HartIpSession::Transport::Tcp : HartIpSession::Transport::Udp;
    std::uint64_t now = 0;
    std::uint16_t lastSequence = 0;
    std::uint8_t lastId = 0;
    bool sentWhileGone = false;
    const auto sender = [&](const std::uint8_t* bytes, std::size_t length) {
        Header header;
        check(decodeHeader(bytes, length, header) == HeaderCheck::Ok && header.byteCount == length);
        lastSequence = header.sequence;
        lastId = std::uint8_t(header.id);
        if (session.phase() == HartIpSession::Phase::Lost)
            sentWhileGone = true;
    };
    session.begin(transport, sender, now);

    for (int steps = 0; !in.empty() && steps < 4096; ++steps) {
        const std::uint8_t op = in.byte();
        switch (op & 7) {
        case 0: { // raw bytes from the network
            std::vector<std::uint8_t> raw(in.byte());
            for (auto& b : raw)
                b = in.byte();
            session.receive(raw.data(), raw.size(), now);
            break;
        }
        case 1: { // a well-formed message, perhaps answering what was sent last
            const std::uint8_t type = in.byte() & 0x0F;
            const std::uint8_t id = (op & 0x08) ? lastId : (in.byte() & 3);
            const std::uint8_t status = in.byte();
            const std::uint16_t sequence = (op & 0x10) ? lastSequence : std::uint16_t(in.byte() << 8 | in.byte());
            std::vector<std::uint8_t> body(in.byte() % 300);
            for (auto& b : body)
                b = in.byte();
            std::vector<std::uint8_t> message =
                buildMessage(MessageType(type), MessageId(id), status, sequence, body.data(), body.size());
            if (!message.empty() && (op & 0x20))
                message.resize(in.byte() % (message.size() + 1)); // cut short
            session.receive(message.data(), message.size(), now);
            break;
        }
        case 2:
            now += std::uint64_t(in.byte()) * 100;
            session.tick(now);
            break;
        case 3: { // the master writes a request
            std::uint8_t* request = session.claimForTransmit();
            check(request == nullptr || session.isOpen());
            if (request) {
                const std::uint32_t length = in.byte();
                for (std::uint32_t i = 0; i < length && i < sizeof buffer; ++i)
                    request[i] = in.byte();
                session.transmit(length);
            }
            break;
        }
        case 4:
            session.releaseReceived();
            break;
        case 5:
            session.close();
            check(session.state() == TerminalState::Idle && !session.isOpen());
            session.begin(transport, sender, now);
            break;
        case 6:
            session.transportFailed(HartIpSession::Failure::Closed);
            check(!session.isOpen());
            break;
        default: { // the master's view of the buffer
            const std::uint32_t length = session.receivedLength();
            if (session.state() == TerminalState::Received) {
                check(length > HartIpSession::answerPreambles && length <= sizeof buffer);
                for (std::uint32_t i = 0; i < HartIpSession::answerPreambles; ++i)
                    check(buffer[i] == 0xFF);
            } else {
                check(length == 0);
            }
            break;
        }
        }
        if (session.portLost())
            check(session.state() == TerminalState::Idle && session.claimForTransmit() == nullptr);
    }
    check(!sentWhileGone);
    session.close();
    return 0;
}
