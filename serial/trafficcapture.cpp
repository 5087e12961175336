#include "trafficcapture.h"

#include "hart/parsermaster.h"

#include <QFile>

#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint16_t hartIpPort = 5094;
// The configurator's own UDP port in the capture; any port above 1023 would do.
constexpr std::uint16_t hostPort = 50940;
constexpr std::uint8_t hostAddress[4] = { 10, 0, 0, 1 };
constexpr std::uint8_t deviceAddress[4] = { 10, 0, 0, 2 };
constexpr std::uint8_t hostMac[6] = { 0x02, 0, 0, 0, 0, 0x01 };
constexpr std::uint8_t deviceMac[6] = { 0x02, 0, 0, 0, 0, 0x02 };
constexpr int ethernetLength = 14;
constexpr int ipv4Length = 20;
constexpr int udpLength = 8;
constexpr int hartIpHeaderLength = 8;
constexpr int snapshotLength = 65535;

void putU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = std::uint8_t(v >> 8);
    p[1] = std::uint8_t(v);
}

std::uint16_t ipv4Checksum(const std::uint8_t* header)
{
    std::uint32_t sum = 0;
    for (int i = 0; i < ipv4Length; i += 2)
        sum += std::uint32_t(header[i]) << 8 | header[i + 1];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

// Ethernet, IPv4 and UDP around one HART-IP message; the UDP checksum is left 0 (none), as
// IPv4 allows.
std::vector<std::uint8_t> datagram(const QByteArray& message, bool request, std::uint16_t ipId)
{
    std::vector<std::uint8_t> packet(std::size_t(ethernetLength + ipv4Length + udpLength + message.size()), 0);
    std::uint8_t* p = packet.data();
    std::memcpy(p, request ? deviceMac : hostMac, 6);
    std::memcpy(p + 6, request ? hostMac : deviceMac, 6);
    putU16(p + 12, 0x0800);

    std::uint8_t* ip = p + ethernetLength;
    ip[0] = 0x45;
    putU16(ip + 2, std::uint16_t(ipv4Length + udpLength + message.size()));
    putU16(ip + 4, ipId);
    putU16(ip + 6, 0x4000); // don't fragment
    ip[8] = 64;
    ip[9] = 17; // UDP
    std::memcpy(ip + 12, request ? hostAddress : deviceAddress, 4);
    std::memcpy(ip + 16, request ? deviceAddress : hostAddress, 4);
    putU16(ip + 10, ipv4Checksum(ip));

    std::uint8_t* udp = ip + ipv4Length;
    putU16(udp, request ? hostPort : hartIpPort);
    putU16(udp + 2, request ? hartIpPort : hostPort);
    putU16(udp + 4, std::uint16_t(udpLength + message.size()));
    std::memcpy(udp + udpLength, message.constData(), size_t(message.size()));
    return packet;
}

// Ethernet, IPv4 and TCP around a piece of a stream: PSH and ACK set, sequence numbers that
// run on in each direction; the TCP checksum is left 0, as a capture with offloading shows it.
constexpr int tcpLength = 20;
std::vector<std::uint8_t> segment(const QByteArray& payload, bool request, std::uint16_t ipId, std::uint32_t sequence,
                                  std::uint32_t acknowledged)
{
    std::vector<std::uint8_t> packet = datagram(QByteArray(tcpLength - udpLength, '\0') + payload, request, ipId);
    std::uint8_t* ip = packet.data() + ethernetLength;
    ip[9] = 6; // TCP
    putU16(ip + 10, 0);
    putU16(ip + 10, ipv4Checksum(ip));
    std::uint8_t* tcp = ip + ipv4Length;
    putU16(tcp, request ? hostPort : hartIpPort);
    putU16(tcp + 2, request ? hartIpPort : hostPort);
    for (int i = 0; i < 4; ++i) {
        tcp[4 + i] = std::uint8_t(sequence >> (24 - 8 * i));
        tcp[8 + i] = std::uint8_t(acknowledged >> (24 - 8 * i));
    }
    tcp[12] = (tcpLength / 4) << 4;
    tcp[13] = 0x18; // PSH, ACK
    putU16(tcp + 14, 65535);
    putU16(tcp + 16, 0);
    putU16(tcp + 18, 0);
    return packet;
}

struct PcapCloser {
    void operator()(pcap_t* p) const { pcap_close(p); }
    void operator()(pcap_dumper_t* d) const { pcap_dump_close(d); }
};

// The frame from its delimiter on when the block is one whole HART frame whose check byte
// holds; empty otherwise (a bad check byte, the tail of a split answer, a fragment, bytes
// after the check byte).
QByteArray wholeFrame(const QByteArray& lineBytes)
{
    QByteArray frame = lineBytes;
    const std::uint32_t stripped
        = Hart::stripPreamble(reinterpret_cast<std::uint8_t*>(frame.data()), std::uint32_t(frame.size()));
    std::uint32_t length = stripped;
    const std::uint8_t frameType = stripped > 0 ? std::uint8_t(frame[0]) & 0x07 : 0;
    if (frameType != 1 && frameType != 2 && frameType != 6)
        return QByteArray();
    if (!Hart::checkFrame(reinterpret_cast<const std::uint8_t*>(frame.constData()), &length) || length + 1 != stripped)
        return QByteArray();
    frame.truncate(int(stripped));
    return frame;
}

// The HART-IP message for one frame as on the line: the eight-byte header (version 1, the
// message type, message ID 3 pass-through, status 0, the sequence number, the byte count) and
// the frame from its delimiter on, as a request (type 0) or a response (type 1). A damaged
// block goes whole, preamble and all, as an error message (type 3): Wireshark shows it as
// "Pass Through Error" with its bytes as data and never decodes it as a command.
QByteArray hartIpMessage(const QByteArray& lineBytes, bool request, std::uint16_t sequence)
{
    const QByteArray line = lineBytes.left(int(TrafficCapture::maxFrameLength));
    QByteArray pdu = wholeFrame(line);
    const bool damaged = pdu.isEmpty();
    if (damaged)
        pdu = line;

    std::uint8_t h[hartIpHeaderLength] = {};
    h[0] = 1; // version
    h[1] = damaged ? 3 : request ? 0 : 1; // message type
    h[2] = 3; // pass-through: a token-passing PDU
    h[3] = 0; // status
    putU16(h + 4, sequence);
    putU16(h + 6, std::uint16_t(hartIpHeaderLength + pdu.size()));
    return QByteArray(reinterpret_cast<const char*>(h), hartIpHeaderLength) + pdu;
}

} // namespace

TrafficCapture::TrafficCapture(std::size_t maxFrames, std::size_t maxBytes)
    : maxFrames(std::max<std::size_t>(1, maxFrames))
    , maxBytes(maxBytes)
{
}

void TrafficCapture::record(const std::uint8_t* bytes, std::uint32_t length, bool outgoing, qint64 timeUs)
{
    if (!bytes)
        length = 0;
    length = std::min(length, maxFrameLength);
    Frame frame;
    frame.timeUs = timeUs;
    frame.bytes = QByteArray(reinterpret_cast<const char*>(bytes), int(length));
    frame.outgoing = outgoing;
    stored.push_back(std::move(frame));
    byteCount += length;
    while (stored.size() > maxFrames || (byteCount > maxBytes && stored.size() > 1)) {
        byteCount -= std::size_t(stored.front().bytes.size());
        stored.pop_front();
        ++dropped;
    }
}

void TrafficCapture::recordHartIpMessage(const std::uint8_t* bytes, std::uint32_t length, bool outgoing, bool tcp,
                                         qint64 timeUs)
{
    record(bytes, length, outgoing, timeUs);
    stored.back().hartIpMessage = true;
    stored.back().tcp = tcp;
}

void TrafficCapture::clear()
{
    stored.clear();
    byteCount = 0;
    dropped = 0;
}

bool TrafficCapture::writePcap(const QString& path, QString* error) const
{
    std::unique_ptr<pcap_t, PcapCloser> dead(pcap_open_dead(DLT_EN10MB, snapshotLength));
    if (!dead) {
        if (error)
            *error = QStringLiteral("libpcap");
        return false;
    }
    std::unique_ptr<pcap_dumper_t, PcapCloser> dumper(pcap_dump_open(dead.get(), QFile::encodeName(path).constData()));
    if (!dumper) {
        if (error)
            *error = QString::fromLocal8Bit(pcap_geterr(dead.get()));
        return false;
    }
    std::uint16_t sequence = 0;
    std::uint16_t ipId = 0;
    std::uint32_t streamSent = 1;
    std::uint32_t streamReceived = 1;
    for (const Frame& frame : stored) {
        std::vector<std::uint8_t> packet;
        if (frame.hartIpMessage && frame.tcp) {
            std::uint32_t& own = frame.outgoing ? streamSent : streamReceived;
            packet = segment(frame.bytes, frame.outgoing, ipId++, own, frame.outgoing ? streamReceived : streamSent);
            own += std::uint32_t(frame.bytes.size());
        } else if (frame.hartIpMessage) {
            packet = datagram(frame.bytes, frame.outgoing, ipId++);
        } else {
            if (frame.outgoing)
                ++sequence;
            packet = datagram(hartIpMessage(frame.bytes, frame.outgoing, sequence), frame.outgoing, ipId++);
        }
        pcap_pkthdr header {};
        const qint64 us = std::max<qint64>(0, frame.timeUs);
        header.ts.tv_sec = decltype(header.ts.tv_sec)(us / 1000000);
        header.ts.tv_usec = decltype(header.ts.tv_usec)(us % 1000000);
        header.caplen = header.len = bpf_u_int32(packet.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper.get()), &header, packet.data());
    }
    if (pcap_dump_flush(dumper.get()) != 0) {
        if (error)
            *error = QStringLiteral("ошибка записи");
        return false;
    }
    return true;
}
