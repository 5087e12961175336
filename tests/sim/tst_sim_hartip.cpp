// The simulator's HART-IP server driven through plain sockets, with nothing of the program's
// link: sessions from several clients, their inactivity timer, the session limit, pacing.

#include "testmaster.h"

#include "hart/hartip.h"
#include "sim/simulator.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Hart::Ip;

namespace {

// A client socket connected to the simulator's port: UDP or TCP.
class Client {
public:
    Client(std::uint16_t port, bool tcp)
    {
        fd = ::socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~Client() { ::close(fd); }
    void send(const Bytes& message) { (void)!::send(fd, message.data(), message.size(), MSG_NOSIGNAL); }
    // One message (UDP: one datagram; TCP: what has arrived, which is one message here), or
    // nothing within the time.
    Bytes receive(int timeoutMs = 1000)
    {
        pollfd p{ fd, POLLIN, 0 };
        if (::poll(&p, 1, timeoutMs) <= 0)
            return {};
        Bytes bytes(1024);
        const ssize_t n = ::recv(fd, bytes.data(), bytes.size(), 0);
        bytes.resize(n > 0 ? size_t(n) : 0);
        return bytes;
    }
    Header exchange(const Bytes& message, Bytes* body = nullptr)
    {
        send(message);
        const Bytes answer = receive();
        Header h;
        h.byteCount = 0;
        if (decodeHeader(answer.data(), answer.size(), h) == HeaderCheck::Ok && body)
            body->assign(answer.begin() + headerSize, answer.end());
        return h;
    }
    Header initiate(std::uint32_t inactivityMs = 60000)
    {
        return exchange(buildSessionInitiate(MessageType::Request, 0, 1, { primaryMaster, inactivityMs }));
    }
    int fd = -1;
    bool connected = false;
};

Bytes command0(std::uint16_t sequence)
{
    const Bytes frame = shortRequest(0, 0, {}, 5);
    return buildPdu(MessageType::Request, sequence, frame.data(), frame.size());
}

} // namespace

class TestSimHartIp : public QObject {
    Q_OBJECT

private slots:
    // UDP and TCP clients hold sessions at once and each gets its own answers; a client without
    // a session is turned away; the ninth session is refused as busy.
    void severalClients()
    {
        Sim::Options options;
        options.turnaroundMs = 0;
        Sim::Simulator sim(options);
        QVERIFY(sim.startHartIp());
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < 8; ++i) {
            clients.push_back(std::make_unique<Client>(sim.hartIpPort(), i % 2 == 1));
            QVERIFY(clients.back()->connected);
            const Header h = clients.back()->initiate();
            QCOMPARE(h.type, MessageType::Response);
            QCOMPARE(int(h.status), 0);
        }
        QCOMPARE(sim.hartIpSessions(), size_t(8));
        Client extra(sim.hartIpPort(), false);
        QCOMPARE(int(extra.initiate().status), int(statusBusy));
        QCOMPARE(extra.exchange(command0(2)).type, MessageType::Nak);

        for (std::uint16_t i = 0; i < clients.size(); ++i) {
            Bytes body;
            const Header h = clients[i]->exchange(command0(std::uint16_t(100 + i)), &body);
            QCOMPARE(h.type, MessageType::Response);
            QCOMPARE(h.sequence, std::uint16_t(100 + i));
            Bytes line(2, 0xFF);
            line.insert(line.end(), body.begin(), body.end());
            const Answer a = parseAnswer(line);
            QVERIFY(a.found && a.checkOk);
            QCOMPARE(int(a.command), 0);
        }
        QCOMPARE(int(sim.requests().size()), 8);

        // A session closed by its client frees its place.
        QCOMPARE(clients[0]->exchange(buildMessage(MessageType::Request, MessageId::SessionClose, 0, 3, nullptr, 0)).type,
                 MessageType::Response);
        QCOMPARE(int(extra.initiate().status), 0);
    }

    // A session not heard from within its timer is closed: its keep-alive is refused then, and
    // a TCP connection is ended.
    void inactivityTimer()
    {
        Sim::Simulator sim;
        QVERIFY(sim.startHartIp());
        Client udp(sim.hartIpPort(), false);
        Client tcp(sim.hartIpPort(), true);
        QCOMPARE(int(udp.initiate(1000).status), 0);
        QCOMPARE(int(tcp.initiate(1000).status), 0);
        const Bytes keepAlive = buildMessage(MessageType::Request, MessageId::KeepAlive, 0, 5, nullptr, 0);
        QTest::qWait(600);
        QCOMPARE(udp.exchange(keepAlive).type, MessageType::Response); // still alive, timer restarts
        QTest::qWait(1400);
        QCOMPARE(udp.exchange(keepAlive).type, MessageType::Nak);
        QVERIFY(tcp.receive(500).empty()); // closed: recv returns 0 bytes
        QCOMPARE(sim.hartIpSessions(), size_t(0));
    }

    // Paced, the answer takes as long as a gateway needs on a 1200-baud loop; unpaced it is at once.
    void pacing()
    {
        for (bool paced : { false, true }) {
            Sim::Options options;
            options.paced = paced;
            options.turnaroundMs = 20;
            Sim::Simulator sim(options);
            QVERIFY(sim.startHartIp());
            Client client(sim.hartIpPort(), false);
            QCOMPARE(int(client.initiate().status), 0);
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(client.exchange(command0(2)).type, MessageType::Response);
            const qint64 ms = clock.elapsed();
            // Command 0: a 10-byte request with its preambles, a 29-byte answer with 5 preambles.
            if (paced)
                QVERIFY2(ms >= 20 + 35 * 9, qPrintable(QString::number(ms)));
            else
                QVERIFY2(ms < 100, qPrintable(QString::number(ms)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimHartIp)
#include "tst_sim_hartip.moc"
