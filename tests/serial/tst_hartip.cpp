// The HART-IP link's session without a network: what a server may answer, and what the master
// then finds in its buffer or learns from the link. Also the address as the user writes it.

#include "hartiplink.h"
#include "hartipsession.h"

#include <QtTest>

#include <vector>

using namespace Hart::Ip;
using Bytes = std::vector<uint8_t>;
using Failure = HartIpSession::Failure;
// Stuck: a stream cut for good, lost once the answer time is up.
enum Outcome { Dropped, Delivered, Lost, Stuck };
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(Outcome)

namespace {

const Bytes request = { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x80, 0x00, 0x00, 0x82 };
const Bytes answerFrame = { 0x06, 0x80, 0x00, 0x02, 0x00, 0x00, 0x84 };

Bytes pdu(MessageType type, uint16_t sequence, const Bytes& frame = answerFrame, uint8_t status = 0)
{
    return buildMessage(type, MessageId::Pdu, status, sequence, frame.data(), frame.size());
}
Bytes control(MessageType type, MessageId id, uint16_t sequence)
{
    return buildMessage(type, id, 0, sequence, nullptr, 0);
}
Bytes with(Bytes bytes, size_t at, uint8_t value)
{
    bytes[at] = value;
    return bytes;
}

// A session with its server's side recorded: every message it sent, decoded.
struct Rig {
    uint8_t buffer[64] = {};
    HartIpSession session{ buffer, sizeof buffer };
    std::vector<Header> sent;
    uint64_t now = 1000;
    int hooks = 0;
    const bool tcp;

    explicit Rig(bool overTcp) : tcp(overTcp)
    {
        session.setFrameReceivedHook([](void* c) { ++static_cast<Rig*>(c)->hooks; }, this);
        const auto record = [this](const uint8_t* b, size_t n) {
            sent.emplace_back();
            QVERIFY(decodeHeader(b, n, sent.back()) == HeaderCheck::Ok);
        };
        session.begin(tcp ? HartIpSession::Transport::Tcp : HartIpSession::Transport::Udp, record, now);
    }
    // A datagram comes whole; a stream may cut messages anywhere, so it comes byte by byte.
    void feed(const Bytes& bytes)
    {
        for (size_t i = 0, step = tcp ? 1 : bytes.size(); i < bytes.size(); i += step)
            session.receive(bytes.data() + i, step, now);
    }
    void open(uint32_t inactivityMs = 60000)
    {
        feed(buildSessionInitiate(MessageType::Response, 0, sent.back().sequence, { 1, inactivityMs }));
    }
    // The request goes out as a PDU without its preambles.
    bool transmit()
    {
        uint8_t* b = session.claimForTransmit();
        return b && std::copy(request.begin(), request.end(), b) && session.transmit(uint32_t(request.size()))
            && sent.back().id == MessageId::Pdu && sent.back().byteCount == headerSize + request.size() - 5;
    }
    // The session holds out until the answer time is up, then fails so.
    void expire(uint64_t from, Failure failure)
    {
        session.tick(from + HartIpSession::sessionAnswerMs - 1);
        QVERIFY(!session.portLost());
        session.tick(from + HartIpSession::sessionAnswerMs);
        QCOMPARE(session.failure(), failure);
    }
};

} // namespace

class TestHartIp : public QObject {
    Q_OBJECT

private slots:
    // The answer to the session initiate decides whether the engine may use the link.
    void sessionInitiate_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("bodyLength");
        QTest::addColumn<bool>("opens");
        QTest::newRow("timer set to the nearest value") << 1 << 8 << 5 << true;
        QTest::newRow("error message") << 3 << 0 << 5 << false;
        QTest::newRow("NAK") << 15 << 0 << 0 << false;
        QTest::newRow("body cut short") << 1 << 0 << 3 << false;
    }
    void sessionInitiate()
    {
        QFETCH(int, type);
        QFETCH(int, status);
        QFETCH(int, bodyLength);
        QFETCH(bool, opens);
        const Bytes body = { 1, 0, 0, 0xEA, 0x60 };
        Rig rig(false);
        QCOMPARE(rig.sent[0].id, MessageId::SessionInitiate);
        QVERIFY(rig.session.claimForTransmit() == nullptr);
        rig.feed(buildMessage(MessageType(type), MessageId::SessionInitiate, uint8_t(status), rig.sent[0].sequence,
                              body.data(), size_t(bodyLength)));
        QCOMPARE(rig.session.isOpen(), opens);
        QCOMPARE(rig.session.failure(), opens ? Failure::None : Failure::Refused);
    }
    void noServer() { Rig(false).expire(1000, Failure::NoServer); }

    // Only the answer with the request's sequence number, whole and intact, reaches the master,
    // behind preambles as a modem would deliver it; nothing reaches it once the session is closed.
    // A message cut for good in a stream would swallow every later answer: the session is lost.
    void answers_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<Bytes>("reply"); // empty: the session is closed, then the answer comes
        QTest::addColumn<Outcome>("outcome");
        const Bytes right = pdu(MessageType::Response, 1);
        for (bool tcp : { false, true }) {
            const char* t = tcp ? "tcp" : "udp";
            QTest::addRow("%s: answer", t) << tcp << right << Delivered;
            QTest::addRow("%s: longer than the buffer", t) << tcp << pdu(MessageType::Response, 1, Bytes(60, 6)) << Dropped;
            // A datagram is dropped alone; a stream cannot be framed again after a bad header.
            QTest::addRow("%s: version 2", t) << tcp << with(right, 0, 2) << (tcp ? Lost : Dropped);
            QTest::addRow("%s: truncated header", t) << tcp << Bytes(right.begin(), right.begin() + 5) << (tcp ? Stuck : Dropped);
            QTest::addRow("%s: truncated body", t) << tcp << Bytes(right.begin(), right.begin() + 10) << (tcp ? Stuck : Dropped);
        }
        QTest::newRow("error message") << false << pdu(MessageType::Error, 1, {}, 2) << Dropped;
        QTest::newRow("NAK") << true << pdu(MessageType::Nak, 1, {}) << Dropped;
        QTest::newRow("publish") << false << pdu(MessageType::Publish, 1) << Dropped;
        QTest::newRow("server closes") << true << control(MessageType::Request, MessageId::SessionClose, 9) << Lost;
        // In a datagram the byte count must be the datagram's size (a larger count: truncated body).
        QTest::newRow("udp: byte count short") << false << with(right, 7, uint8_t(right.size() - 1)) << Dropped;
        QTest::newRow("closed first") << false << Bytes() << Dropped;
    }
    void answers()
    {
        QFETCH(bool, tcp);
        QFETCH(Bytes, reply);
        QFETCH(Outcome, outcome);
        Rig rig(tcp);
        rig.open();
        QVERIFY(rig.transmit());
        QCOMPARE(rig.sent.back().sequence, uint16_t(1));
        if (reply.empty()) {
            rig.session.close();
            QCOMPARE(rig.sent.back().id, MessageId::SessionClose);
            QVERIFY(rig.session.claimForTransmit() == nullptr);
            reply = pdu(MessageType::Response, 1);
        }
        rig.feed(reply);
        QCOMPARE(rig.session.state() == TerminalState::Received, outcome == Delivered);
        QCOMPARE(rig.hooks, outcome == Delivered ? 1 : 0);
        QCOMPARE(rig.session.portLost(), outcome == Lost);
        if (outcome == Delivered) {
            Bytes expected = answerFrame;
            expected.insert(expected.begin(), HartIpSession::answerPreambles, 0xFF);
            QCOMPARE(Bytes(rig.buffer, rig.buffer + rig.session.receivedLength()), expected);
            // A second copy of the answer finds nothing awaited.
            rig.session.releaseReceived();
            rig.feed(reply);
            QCOMPARE(rig.session.state(), TerminalState::Idle);
        }
        if (outcome == Stuck)
            rig.expire(rig.now, Failure::Malformed);
    }

    // Idle sessions are kept alive within the server's timer; an unanswered or refused
    // keep-alive loses the session.
    void keepAlive_data()
    {
        QTest::addColumn<int>("answerType"); // -1: none
        QTest::newRow("answered") << 1;
        QTest::newRow("unanswered") << -1;
        QTest::newRow("NAK") << 15;
    }
    void keepAlive()
    {
        QFETCH(int, answerType);
        Rig rig(false);
        rig.open(3000);
        rig.session.tick(rig.now + 999);
        QCOMPARE(rig.sent.size(), size_t(1));
        rig.session.tick(rig.now + 1000);
        QCOMPARE(rig.sent.back().id, MessageId::KeepAlive);
        if (answerType >= 0)
            rig.feed(control(MessageType(answerType), MessageId::KeepAlive, rig.sent.back().sequence));
        rig.session.tick(rig.now + 1000 + HartIpSession::sessionAnswerMs);
        QCOMPARE(rig.session.portLost(), answerType != 1);
    }

    void address_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown"); // empty: refused
        QTest::newRow("host") << "gw1" << "gw1:5094/udp";
        QTest::newRow("ipv6, port, tcp") << "[fe80::1]:20004/TCP" << "[fe80::1]:20004/tcp";
        QTest::newRow("port 0") << "gw1:0" << "";
        QTest::newRow("port too big") << "10.0.0.7:65536" << "";
        QTest::newRow("other transport") << "gw1/sctp" << "";
        QTest::newRow("empty") << "" << "";
    }
    void address()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        HartIpAddress address;
        QCOMPARE(HartIpAddress::parse(text, address), !shown.isEmpty());
        QCOMPARE(shown.isEmpty() ? shown : address.text(), shown);
    }
};

QTEST_GUILESS_MAIN(TestHartIp)
#include "tst_hartip.moc"
