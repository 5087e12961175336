// The simulator's HART-IP server driven through a plain socket, with nothing of the program's
// link: its pacing.

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

// A UDP client socket connected to the simulator's port.
class Client {
public:
    explicit Client(std::uint16_t port) : fd(::socket(AF_INET, SOCK_DGRAM, 0))
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0);
    }
    ~Client() { ::close(fd); }
    // The answer to one message, or a request's type without one in a second.
    Header exchange(const Bytes& message)
    {
        (void)!::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
        pollfd p{ fd, POLLIN, 0 };
        Bytes answer(1024);
        const ssize_t n = ::poll(&p, 1, 1000) > 0 ? ::recv(fd, answer.data(), answer.size(), 0) : 0;
        answer.resize(n > 0 ? size_t(n) : 0);
        Header h; // a request's type unless an answer is decoded
        (void)decodeHeader(answer.data(), answer.size(), h);
        return h;
    }
    // The status of the session initiate's answer; -1 without one.
    int initiate()
    {
        const Header h = exchange(buildSessionInitiate(MessageType::Request, 0, 1, { primaryMaster, 60000 }));
        return h.type == MessageType::Response ? h.status : -1;
    }
    int fd;
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
    // Paced, the answer takes at least what a gateway needs on a 1200-baud loop (command 0: a
    // 10-byte request and a 29-byte answer with 5 preambles); unpaced, less than that.
    void pacing()
    {
        const qint64 loopMs = 20 + 35 * 9;
        for (bool paced : { false, true }) {
            Sim::Options options;
            options.paced = paced;
            options.turnaroundMs = 20;
            Sim::Simulator sim(options);
            QVERIFY(sim.startHartIp());
            Client client(sim.hartIpPort());
            QCOMPARE(client.initiate(), 0);
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(client.exchange(command0(2)).type, MessageType::Response);
            const qint64 ms = clock.elapsed();
            QVERIFY2((ms >= loopMs) == paced, qPrintable(QString::number(ms)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimHartIp)
#include "tst_sim_hartip.moc"
