// The HART-IP link's session without a network: what a server may answer, and what the master
// then finds in its buffer or learns from the link. Also the address as the user writes it.

#include "hartiplink.h"
#include "hartipsession.h"

#include <QtTest>

#include <vector>

using namespace Hart::Ip;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes request = { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x80, 0x00, 0x00, 0x82 };
const Bytes answerFrame = { 0x06, 0x80, 0x00, 0x02, 0x00, 0x00, 0x84 };

// A session with its server's side recorded: every message it sent, decoded.
struct Rig {
    uint8_t buffer[64] = {};
    HartIpSession session{ buffer, sizeof buffer };
    std::vector<Header> sent;
    uint64_t now = 1000;
    int hooks = 0;

    explicit Rig(bool tcp)
    {
        session.setFrameReceivedHook([](void* c) { ++static_cast<Rig*>(c)->hooks; }, this);
        session.begin(tcp ? HartIpSession::Transport::Tcp : HartIpSession::Transport::Udp,
                      [this](const uint8_t* b, size_t n) {
                          Header h;
                          QVERIFY(decodeHeader(b, n, h) == HeaderCheck::Ok);
                          sent.push_back(h);
                      },
                      now);
    }
    void feed(const Bytes& bytes) { session.receive(bytes.data(), bytes.size(), now); }
    void open(uint32_t inactivityMs = 60000)
    {
        feed(buildSessionInitiate(MessageType::Response, 0, sent.back().sequence, { 1, inactivityMs }));
    }
    bool transmit()
    {
        uint8_t* b = session.claimForTransmit();
        if (!b)
            return false;
        std::copy(request.begin(), request.end(), b);
        return session.transmit(uint32_t(request.size()));
    }
};

Bytes pdu(MessageType type, uint16_t sequence, const Bytes& frame, uint8_t status = 0)
{
    return buildMessage(type, MessageId::Pdu, status, sequence, frame.data(), frame.size());
}

} // namespace

Q_DECLARE_METATYPE(HartIpSession::Phase)
Q_DECLARE_METATYPE(HartIpSession::Failure)

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
        QTest::newRow("granted") << 1 << 0 << 5 << true;
        QTest::newRow("timer set to the nearest value") << 1 << 8 << 5 << true;
        QTest::newRow("busy") << 1 << int(statusBusy) << 5 << false;
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
        for (bool tcp : { false, true }) {
            Rig rig(tcp);
            QCOMPARE(rig.sent.size(), size_t(1));
            QCOMPARE(rig.sent[0].id, MessageId::SessionInitiate);
            QVERIFY(rig.session.claimForTransmit() == nullptr);
            const Bytes body = { 1, 0, 0, 0xEA, 0x60 };
            rig.feed(buildMessage(MessageType(type), MessageId::SessionInitiate, uint8_t(status), rig.sent[0].sequence,
                                  body.data(), size_t(bodyLength)));
            QCOMPARE(rig.session.isOpen(), opens);
            QCOMPARE(rig.session.portLost(), !opens);
            QCOMPARE(rig.session.failure(), opens ? HartIpSession::Failure::None : HartIpSession::Failure::Refused);
        }
    }

    void noServer()
    {
        Rig rig(false);
        rig.session.tick(rig.now + HartIpSession::sessionAnswerMs - 1);
        QVERIFY(!rig.session.portLost());
        rig.session.tick(rig.now + HartIpSession::sessionAnswerMs);
        QCOMPARE(rig.session.failure(), HartIpSession::Failure::NoServer);
    }

    // What comes back for a request: only the answer with the request's sequence number, whole
    // and intact, reaches the master, behind preambles as a modem would deliver it.
    void answers_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<QByteArray>("reply"); // empty: the right answer
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<bool>("lost");
        const auto bytes = [](const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())); };
        const Bytes right = pdu(MessageType::Response, 1, answerFrame);
        Bytes lying = right;
        lying[7] = uint8_t(right.size() + 4);
        Bytes version2 = right;
        version2[0] = 2;
        const Bytes tooLong = pdu(MessageType::Response, 1, Bytes(60, 0x06));
        const Bytes serverCloses = buildMessage(MessageType::Request, MessageId::SessionClose, 0, 9, nullptr, 0);
        for (bool tcp : { false, true }) {
            const char* t = tcp ? "tcp" : "udp";
            QTest::addRow("%s: answer", t) << tcp << QByteArray() << true << false;
            QTest::addRow("%s: wrong sequence", t) << tcp << bytes(pdu(MessageType::Response, 2, answerFrame)) << false << false;
            QTest::addRow("%s: error message", t) << tcp << bytes(pdu(MessageType::Error, 1, {}, 2)) << false << false;
            QTest::addRow("%s: NAK", t) << tcp << bytes(pdu(MessageType::Nak, 1, {})) << false << false;
            QTest::addRow("%s: publish", t) << tcp << bytes(pdu(MessageType::Publish, 1, answerFrame)) << false << false;
            QTest::addRow("%s: longer than the buffer", t) << tcp << bytes(tooLong) << false << false;
            QTest::addRow("%s: server closes", t) << tcp << bytes(serverCloses) << false << true;
            // A datagram is dropped alone; a stream cannot be framed again after a bad header.
            QTest::addRow("%s: version 2", t) << tcp << bytes(version2) << false << tcp;
            QTest::addRow("%s: truncated header", t) << tcp << bytes(right).left(5) << false << false;
        }
        // In a datagram the byte count must be the datagram's size.
        QTest::addRow("udp: byte count lies") << false << bytes(lying) << false << false;
    }
    void answers()
    {
        QFETCH(bool, tcp);
        QFETCH(QByteArray, reply);
        QFETCH(bool, delivered);
        QFETCH(bool, lost);
        Rig rig(tcp);
        rig.open();
        QVERIFY(rig.transmit());
        const Header& sent = rig.sent.back();
        QCOMPARE(sent.id, MessageId::Pdu);
        QCOMPARE(sent.byteCount, uint16_t(headerSize + request.size() - 5)); // no preambles
        QCOMPARE(sent.sequence, uint16_t(1));
        rig.feed(reply.isEmpty() ? pdu(MessageType::Response, 1, answerFrame)
                                 : Bytes(reply.begin(), reply.end()));
        QCOMPARE(rig.session.state() == TerminalState::Received, delivered);
        QCOMPARE(rig.hooks, delivered ? 1 : 0);
        QCOMPARE(rig.session.portLost(), lost);
        if (delivered) {
            Bytes expected = answerFrame;
            expected.insert(expected.begin(), HartIpSession::answerPreambles, 0xFF);
            QCOMPARE(Bytes(rig.buffer, rig.buffer + rig.session.receivedLength()), expected);
            // A second copy of the answer finds nothing awaited.
            rig.session.releaseReceived();
            rig.feed(pdu(MessageType::Response, 1, answerFrame));
            QCOMPARE(rig.session.state(), TerminalState::Idle);
        }
    }

    // Idle sessions are kept alive within the server's timer; an unanswered or refused
    // keep-alive loses the session.
    void keepAlive_data()
    {
        QTest::addColumn<int>("answerType"); // -1: none
        QTest::addColumn<bool>("lost");
        QTest::newRow("answered") << 1 << false;
        QTest::newRow("unanswered") << -1 << true;
        QTest::newRow("NAK") << 15 << true;
    }
    void keepAlive()
    {
        QFETCH(int, answerType);
        QFETCH(bool, lost);
        Rig rig(false);
        rig.open(3000);
        QCOMPARE(rig.session.serverInactivityMs(), 3000u);
        rig.session.tick(rig.now + 999);
        QCOMPARE(rig.sent.size(), size_t(1));
        rig.session.tick(rig.now + 1000);
        QCOMPARE(rig.sent.back().id, MessageId::KeepAlive);
        if (answerType >= 0)
            rig.feed(buildMessage(MessageType(answerType), MessageId::KeepAlive, 0, rig.sent.back().sequence, nullptr, 0));
        rig.session.tick(rig.now + 1000 + HartIpSession::sessionAnswerMs);
        QCOMPARE(rig.session.portLost(), lost);
    }

    // Closing sends the session close and forgets the request: its late answer finds nothing.
    void closeDiscardsTheRequest()
    {
        Rig rig(false);
        rig.open();
        QVERIFY(rig.transmit());
        const uint16_t pending = rig.sent.back().sequence;
        rig.session.close();
        QCOMPARE(rig.sent.back().id, MessageId::SessionClose);
        QVERIFY(!rig.session.isOpen());
        QVERIFY(rig.session.claimForTransmit() == nullptr);
        rig.feed(pdu(MessageType::Response, pending, answerFrame));
        QCOMPARE(rig.session.state(), TerminalState::Idle);
    }

    // A TCP stream may cut messages anywhere.
    void streamPieces()
    {
        Rig rig(true);
        rig.open();
        QVERIFY(rig.transmit());
        const Bytes whole = pdu(MessageType::Response, 1, answerFrame);
        for (size_t i = 0; i < whole.size(); ++i) {
            QCOMPARE(rig.session.state(), TerminalState::Idle);
            rig.feed(Bytes(1, whole[i]));
        }
        QCOMPARE(rig.session.state(), TerminalState::Received);

        // A message cut for good would swallow every later answer: the session is lost.
        rig.session.releaseReceived();
        rig.feed(Bytes(whole.begin(), whole.begin() + 10));
        rig.session.tick(rig.now + HartIpSession::sessionAnswerMs - 1);
        QVERIFY(rig.session.isOpen());
        rig.session.tick(rig.now + HartIpSession::sessionAnswerMs);
        QCOMPARE(rig.session.failure(), HartIpSession::Failure::Malformed);
    }

    void address_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown"); // empty: refused
        QTest::newRow("host") << "gw1" << "gw1:5094/udp";
        QTest::newRow("port and tcp") << "10.0.0.7:20004/tcp" << "10.0.0.7:20004/tcp";
        QTest::newRow("ipv6") << "[fe80::1]:5094/UDP" << "[fe80::1]:5094/udp";
        QTest::newRow("port 0") << "gw1:0" << "";
        QTest::newRow("port too big") << "gw1:70000" << "";
        QTest::newRow("other transport") << "gw1/sctp" << "";
        QTest::newRow("empty") << "" << "";
    }
    void address()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        HartIpAddress address;
        QCOMPARE(HartIpAddress::parse(text, address), !shown.isEmpty());
        if (!shown.isEmpty())
            QCOMPARE(address.text(), shown);
    }
};

QTEST_GUILESS_MAIN(TestHartIp)
#include "tst_hartip.moc"
