// The simulator seen from the line: a hand-made master talks to it through its pseudo-terminal.

#include "testmaster.h"

#include "sim/exchange.h"
#include "sim/simulator.h"

#include <QtTest>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

Q_DECLARE_METATYPE(Bytes)

namespace {

constexpr std::uint16_t deviceType = 0xFF04;
constexpr std::uint32_t deviceId = 0x01E240;

Bytes be32(std::uint32_t v)
{
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

Bytes floatBytes(float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return be32(bits);
}

float floatAt(const Bytes& b, std::size_t at)
{
    const std::uint32_t bits = (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16)
                               | (std::uint32_t(b[at + 2]) << 8) | b[at + 3];
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

std::uint32_t le32At(const Bytes& b, std::size_t at)
{
    return b[at] | (std::uint32_t(b[at + 1]) << 8) | (std::uint32_t(b[at + 2]) << 16) | (std::uint32_t(b[at + 3]) << 24);
}

Bytes request(std::uint8_t command, const Bytes& data = {})
{
    return longRequest(deviceType, deviceId, command, data);
}

// Starts the simulator and opens its port; the first answer (cold start) is taken here.
bool bringUp(Sim::Simulator& sim, TestMaster& master)
{
    std::string error;
    if (!sim.start(&error) || !master.open(sim.portPath(), &error)) {
        qWarning("%s", error.c_str());
        return false;
    }
    return true;
}

enum Setup { None, Multidrop, WriteProtected };
enum FaultCheck { Silent, Foreign, BadCheck, Noisy, CommError, ErrorCode, Split, Long, Late, Unplugged };

} // namespace

class TestSim : public QObject {
    Q_OBJECT

private slots:
    void identity_data();
    void identity();
    void writesAreKept();
    void responseCodes_data();
    void responseCodes();
    void otherRequestsIgnored_data();
    void otherRequestsIgnored();
    void hostileInput_data();
    void hostileInput();
    void handlersTakeAnyData();
    void faults_data();
    void faults();
    void pacing();
    void exclusiveOpen();
    void loopModes();
    void moreStatusAcknowledged();
    void clockRuns();
    void serviceOperations_data();
    void serviceOperations();
    void eventLogCatalogue();
    void eventLogRecords_data();
    void eventLogRecords();
    void firmware_data();
    void firmware();
};

void TestSim::identity_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("preambles");
    QTest::newRow("address 0, FF04, 5 preambles") << 0 << 0xFF04 << 5;
    QTest::newRow("address 17, FF03, 3 preambles") << 17 << 0xFF03 << 3;
    QTest::newRow("address 63, FF01, 12 preambles") << 63 << 0xFF01 << 12;
    QTest::newRow("address 5, FF02, 1 preamble") << 5 << 0xFF02 << 1;
    QTest::newRow("address 1, unknown type E0C1") << 1 << 0xE0C1 << 5;
}

void TestSim::identity()
{
    QFETCH(int, address);
    QFETCH(int, type);
    QFETCH(int, preambles);
    Sim::Options options;
    options.pollingAddress = std::uint8_t(address);
    options.expandedDeviceType = std::uint16_t(type);
    options.preambles = unsigned(preambles);
    Sim::Simulator sim(options);
    TestMaster master;
    QVERIFY(bringUp(sim, master));

    const Answer a = master.exchange(shortRequest(std::uint8_t(address), 0));
    QVERIFY(a.found);
    QVERIFY(a.checkOk);
    QCOMPARE(a.noise, std::size_t(0));
    QCOMPARE(int(a.preambles), preambles);
    QCOMPARE(a.delimiter, std::uint8_t(0x06));
    QCOMPARE(a.address, Bytes{std::uint8_t(address)});
    QCOMPARE(a.command, std::uint8_t(0));
    QCOMPARE(a.responseCode, std::uint8_t(0));
    QVERIFY(a.deviceStatus & 0x20); // cold start, once
    QCOMPARE(a.data.size(), std::size_t(22));
    QCOMPARE(a.data[0], std::uint8_t(254));
    QCOMPARE((a.data[1] << 8) | a.data[2], type);
    QCOMPARE(a.data[3], std::uint8_t(5));
    QCOMPARE(a.data[4], std::uint8_t(7));
    QCOMPARE((std::uint32_t(a.data[9]) << 16) | (a.data[10] << 8) | a.data[11], deviceId);
    QCOMPARE(int(a.data[12]), preambles);
    QCOMPARE(a.data[13], std::uint8_t(2)); // three device variables

    const Answer again = master.exchange(shortRequest(std::uint8_t(address), 0));
    QVERIFY(again.checkOk);
    QCOMPARE(again.deviceStatus & 0x20, 0);
}

void TestSim::writesAreKept()
{
    Sim::Simulator sim;
    TestMaster master;
    QVERIFY(bringUp(sim, master));

    // "TANK-7" packed into six bytes, descriptor of spaces, date 1.2.2026.
    const Bytes tag{0x50, 0x13, 0x8B, 0xB7, 0x78, 0x20};
    Bytes written = tag;
    for (int i = 0; i < 4; ++i)
        written.insert(written.end(), {0x82, 0x08, 0x20});
    written.insert(written.end(), {1, 2, 126});
    Answer a = master.exchange(request(18, written));
    QCOMPARE(a.responseCode, std::uint8_t(0));
    QCOMPARE(a.data, written);
    QVERIFY(a.deviceStatus & 0x40);
    QCOMPARE(sim.state().tag, std::string("TANK-7  "));

    a = master.exchange(request(13));
    QCOMPARE(a.data, written);

    Bytes longTag(32, 0);
    std::memcpy(longTag.data(), "Boiler house, line 2", 20);
    QCOMPARE(master.exchange(request(22, longTag)).data, longTag);
    QCOMPARE(master.exchange(request(20)).data, longTag);

    // A stale counter is refused with the current one; the right one clears the flag.
    a = master.exchange(request(38, {0, 0}));
    QCOMPARE(a.responseCode, std::uint8_t(9));
    QCOMPARE(a.data, (Bytes{0, 2}));
    a = master.exchange(request(38, a.data));
    QCOMPARE(a.responseCode, std::uint8_t(0));
    QCOMPARE(a.deviceStatus & 0x40, 0);
}

void TestSim::responseCodes_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<int>("command");
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("length");
    const Bytes currents{0x07, 0xD0, 0x0B, 0xB8, 0x0F, 0xA0, 0x75, 0x30, 0x46, 0x50};
    QTest::newRow("loop current") << int(None) << 2 << Bytes{} << 0 << 8;
    QTest::newRow("dynamic variables") << int(None) << 3 << Bytes{} << 0 << 19;
    QTest::newRow("three device variables") << int(None) << 9 << Bytes{0, 1, 2} << 0 << 29;
    QTest::newRow("device variable 7 first") << int(None) << 9 << Bytes{7, 0} << 2 << 0;
    QTest::newRow("device variable 7 later") << int(None) << 9 << Bytes{0, 7} << 0 << 21;
    QTest::newRow("device variables, no code") << int(None) << 9 << Bytes{} << 5 << 0;
    QTest::newRow("additional status") << int(None) << 48 << Bytes{} << 0 << 9;
    QTest::newRow("lock state") << int(None) << 76 << Bytes{} << 0 << 1;
    QTest::newRow("clock") << int(None) << 90 << Bytes{} << 0 << 15;
    QTest::newRow("currents") << int(None) << 131 << Bytes{} << 0 << 10;
    QTest::newRow("configuration") << int(None) << 133 << Bytes{} << 0 << 4;
    QTest::newRow("not implemented") << int(None) << 100 << Bytes{} << 64 << 0;
    QTest::newRow("extended, not implemented") << int(None) << 31 << Bytes{0x01, 0x10} << 64 << 2;
    QTest::newRow("fixed current in multidrop") << int(Multidrop) << 40 << floatBytes(4.0f) << 11 << 0;
    QTest::newRow("fixed current 25 mA") << int(None) << 40 << floatBytes(25.0f) << 3 << 0;
    QTest::newRow("fixed current 4 mA") << int(None) << 40 << floatBytes(4.0f) << 0 << 4;
    QTest::newRow("polling address 64") << int(None) << 6 << Bytes{64, 1} << 2 << 0;
    QTest::newRow("loop current mode 2") << int(None) << 6 << Bytes{3, 2} << 12 << 0;
    QTest::newRow("lock code 4") << int(None) << 71 << Bytes{4} << 10 << 0;
    QTest::newRow("clock on 31 February") << int(None) << 89 << Bytes{1, 31, 2, 126, 0, 0, 0, 0, 0, 0} << 9 << 0;
    QTest::newRow("message while write protected") << int(WriteProtected) << 17 << Bytes(24, 0x20) << 7 << 0;
    QTest::newRow("currents above 24 mA") << int(None) << 132 << currents << 3 << 0;
    QTest::newRow("configuration too short") << int(None) << 134 << Bytes{0x05, 0x84, 50} << 5 << 0;
    QTest::newRow("sensitivity 101") << int(None) << 134 << Bytes{0x05, 0x84, 101, 10} << 3 << 0;
    QTest::newRow("service code 7") << int(None) << 130 << Bytes{7} << 2 << 0;
    QTest::newRow("event log subcommand 9") << int(None) << 252 << Bytes{9} << 2 << 0;
    QTest::newRow("firmware, three bytes") << int(None) << 253 << Bytes{0, 0, 1} << 5 << 0;
}

void TestSim::responseCodes()
{
    QFETCH(int, setup);
    QFETCH(int, command);
    QFETCH(Bytes, data);
    QFETCH(int, code);
    QFETCH(int, length);
    Sim::Simulator sim;
    sim.modify([&](Sim::DeviceState& s) {
        s.loopCurrentMode = setup == Multidrop ? 0 : 1;
        s.writeProtected = setup == WriteProtected;
    });
    TestMaster master;
    QVERIFY(bringUp(sim, master));
    const Answer a = master.exchange(request(std::uint8_t(command), data));
    QVERIFY(a.checkOk);
    QCOMPARE(int(a.command), command);
    QCOMPARE(int(a.responseCode), code);
    QCOMPARE(int(a.data.size()), length);
    QCOMPARE(int(sim.requests().back().responseCode), code);
}

void TestSim::otherRequestsIgnored_data()
{
    QTest::addColumn<Bytes>("frame");
    QTest::addColumn<bool>("logged");
    Bytes badCheck = shortRequest(0, 0);
    badCheck.back() ^= 0x01;
    QTest::newRow("polling address 1") << shortRequest(1, 0) << true;
    QTest::newRow("short frame, command 1") << shortRequest(0, 1) << true;
    QTest::newRow("other device id") << longRequest(deviceType, deviceId + 1, 1) << true;
    QTest::newRow("other device type") << longRequest(0xFF03, deviceId, 1) << true;
    QTest::newRow("broadcast, command 1") << longRequest(0, 0, 1) << true;
    QTest::newRow("tag not ours") << longRequest(0, 0, 11, {0x50, 0x13, 0x8B, 0xB7, 0x78, 0x20}) << true;
    QTest::newRow("wrong check byte") << badCheck << false;
    QTest::newRow("one preamble") << shortRequest(0, 0, {}, 1) << false;
}

void TestSim::otherRequestsIgnored()
{
    QFETCH(Bytes, frame);
    QFETCH(bool, logged);
    Sim::Simulator sim;
    TestMaster master;
    QVERIFY(bringUp(sim, master));
    QVERIFY(master.send(frame));
    QVERIFY(master.receive(200).empty());
    const auto log = sim.requests();
    QCOMPARE(log.size(), std::size_t(logged ? 1 : 0));
    QCOMPARE(sim.discardedFrames(), std::size_t(logged ? 0 : 1));
    if (logged) {
        QCOMPARE(log[0].command, std::uint16_t(frame[frame.size() - 3 - log[0].data.size()]));
        QVERIFY(!log[0].answered);
    }
    QVERIFY(master.exchange(shortRequest(0, 0)).checkOk);
}

void TestSim::hostileInput_data()
{
    QTest::addColumn<Bytes>("bytes");
    QTest::addColumn<bool>("answered");
    Bytes noise(2048);
    std::uint32_t seed = 12345;
    for (auto& b : noise) {
        seed = seed * 1103515245u + 12345u;
        b = std::uint8_t(seed >> 16);
    }
    Bytes countPastEnd = longRequest(deviceType, deviceId, 1);
    countPastEnd[27] = 200;
    Bytes truncated = longRequest(deviceType, deviceId, 13);
    truncated.resize(truncated.size() - 3);
    Bytes expansion = longRequest(deviceType, deviceId, 1);
    expansion[20] = 0xE2;
    Bytes noiseThenFrame{0x00, 0x13, 0x7E, 0xFF, 0x42};
    const Bytes frame = shortRequest(0, 0);
    noiseThenFrame.insert(noiseThenFrame.end(), frame.begin(), frame.end());
    Bytes trailing = frame;
    trailing.insert(trailing.end(), {0x12, 0x34, 0x56});
    QTest::newRow("random bytes") << noise << false;
    QTest::newRow("endless preambles") << Bytes(3000, 0xFF) << false;
    QTest::newRow("byte count past the end") << countPastEnd << false;
    QTest::newRow("truncated frame") << truncated << false;
    QTest::newRow("expansion bytes claimed") << expansion << false;
    QTest::newRow("answer frame echoed") << Bytes{0xFF, 0xFF, 0x06, 0x00, 0x00, 0x02, 0x00, 0x00, 0x04} << false;
    QTest::newRow("noise then request") << noiseThenFrame << true;
    QTest::newRow("bytes after the check byte") << trailing << true;
}

void TestSim::hostileInput()
{
    QFETCH(Bytes, bytes);
    QFETCH(bool, answered);
    Sim::Simulator sim;
    TestMaster master;
    QVERIFY(bringUp(sim, master));
    QVERIFY(master.send(bytes));
    QCOMPARE(parseAnswer(master.receive(250)).checkOk, answered);
    // Whatever came before, the device still answers a clean request.
    QVERIFY(master.exchange(shortRequest(0, 0)).checkOk);
}

void TestSim::handlersTakeAnyData()
{
    // Every command number with request data of every awkward length: the answer must fit a
    // frame and nothing may read past the request (run under the address sanitizer to see it).
    Sim::DeviceState state = Sim::defaultDeviceState();
    std::uint32_t seed = 99;
    const std::size_t lengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 21, 24, 32, 68, 255};
    for (int command = 0; command < 256; ++command) {
        for (std::size_t length : lengths) {
            Bytes data(length);
            for (auto& b : data) {
                seed = seed * 1103515245u + 12345u;
                b = std::uint8_t(seed >> 16);
            }
            Sim::Exchange ex(state, std::uint16_t(command), data.data(), data.size(), false, Sim::Clock::now());
            if (!Sim::handleUniversal(ex))
                Sim::handleDeviceSpecific(ex);
            QVERIFY2(ex.reply.size() <= 253, qPrintable(QString("command %1, %2 bytes").arg(command).arg(length)));
        }
    }
}

void TestSim::faults_data()
{
    QTest::addColumn<int>("check");
    QTest::addColumn<int>("kind");
    QTest::newRow("no answer") << int(Silent) << int(Sim::FaultKind::NoAnswer);
    QTest::newRow("other address") << int(Foreign) << int(Sim::FaultKind::OtherAddress);
    QTest::newRow("wrong check byte") << int(BadCheck) << int(Sim::FaultKind::BadCheckByte);
    QTest::newRow("noise before preamble") << int(Noisy) << int(Sim::FaultKind::NoiseBeforePreamble);
    QTest::newRow("communication error") << int(CommError) << int(Sim::FaultKind::CommunicationError);
    QTest::newRow("response code for command 0") << int(ErrorCode) << int(Sim::FaultKind::ResponseCode);
    QTest::newRow("frame split by a gap") << int(Split) << int(Sim::FaultKind::SplitFrame);
    QTest::newRow("burst over 256 bytes") << int(Long) << int(Sim::FaultKind::Burst);
    QTest::newRow("answer after the time-out") << int(Late) << int(Sim::FaultKind::LateAnswer);
    QTest::newRow("line closed") << int(Unplugged) << int(Sim::FaultKind::LineClosed);
}

void TestSim::faults()
{
    QFETCH(int, check);
    Sim::Simulator sim;
    TestMaster master;
    QVERIFY(bringUp(sim, master));
    switch (check) {
    case Silent: sim.inject(Sim::Fault::noAnswer(2)); break;
    case Foreign: sim.inject(Sim::Fault::otherAddress()); break;
    case BadCheck: sim.inject(Sim::Fault::badCheckByte()); break;
    case Noisy: sim.inject(Sim::Fault::noiseBeforePreamble(5)); break;
    case CommError: sim.inject(Sim::Fault::communicationError(0x08)); break;
    case ErrorCode: sim.inject(Sim::Fault::responseCode(0, 6)); break;
    case Split: sim.inject(Sim::Fault::splitFrame(150)); break;
    case Long: sim.inject(Sim::Fault::burst(300)); break;
    case Late: sim.inject(Sim::Fault::lateAnswer(2100)); break;
    case Unplugged: sim.inject(Sim::Fault::lineClosed()); break;
    }
    QVERIFY(master.send(shortRequest(0, 0)));
    const auto sent = SteadyClock::now();
    std::vector<Chunk> chunks;
    const Bytes bytes = master.receive(check == Late ? 4000 : 1000, check == Split ? 300 : 30, &chunks);
    const Answer a = parseAnswer(bytes);

    switch (check) {
    case Silent:
        QVERIFY(bytes.empty());
        QVERIFY(master.exchange(shortRequest(0, 0)).data.empty()); // the second request is lost too
        break;
    case Foreign:
        QVERIFY(a.checkOk);
        QCOMPARE(a.address, Bytes{0x01});
        break;
    case BadCheck:
        QVERIFY(a.found);
        QVERIFY(!a.checkOk);
        break;
    case Noisy:
        QVERIFY(a.checkOk);
        QCOMPARE(a.noise, std::size_t(5));
        break;
    case CommError:
        QVERIFY(a.checkOk);
        QCOMPARE(a.responseCode, std::uint8_t(0x88));
        QCOMPARE(a.byteCount, std::uint8_t(2));
        break;
    case ErrorCode:
        QVERIFY(a.checkOk);
        QCOMPARE(a.responseCode, std::uint8_t(6));
        QVERIFY(a.data.empty());
        break;
    case Split: {
        QVERIFY(a.checkOk);
        QVERIFY(chunks.size() >= 2);
        auto widest = std::chrono::milliseconds(0);
        for (std::size_t i = 1; i < chunks.size(); ++i)
            widest = std::max(widest, std::chrono::duration_cast<std::chrono::milliseconds>(chunks[i].time - chunks[i - 1].time));
        QVERIFY2(widest.count() >= 100, qPrintable(QString("gap %1 ms").arg(widest.count())));
        break;
    }
    case Long:
        QVERIFY(a.checkOk);
        QVERIFY(bytes.size() >= 300);
        break;
    case Late: {
        QVERIFY(a.checkOk);
        QVERIFY(!chunks.empty());
        const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(chunks[0].time - sent).count();
        QVERIFY2(delay >= 2000, qPrintable(QString("answer after %1 ms").arg(delay)));
        break;
    }
    case Unplugged:
        QVERIFY(bytes.empty());
        QVERIFY(master.waitForHangup(1000));
        QVERIFY(!sim.isLineOpen());
        return;
    }
    // One request's worth of trouble; the next answer is clean.
    const Answer next = master.exchange(shortRequest(0, 0));
    QVERIFY(next.checkOk);
    QCOMPARE(next.responseCode, std::uint8_t(0));
    QCOMPARE(next.noise, std::size_t(0));
    QCOMPARE(sim.pendingFaults(), std::size_t(0));
}

void TestSim::pacing()
{
    Sim::Options options;
    options.paced = true;
    Sim::Simulator sim(options);
    TestMaster master;
    QVERIFY(bringUp(sim, master));
    const Bytes req = shortRequest(0, 0); // 25 bytes: 229 ms on the wire
    QVERIFY(master.send(req));
    const auto sent = SteadyClock::now();
    std::vector<Chunk> chunks;
    const Bytes bytes = master.receive(2000, 100, &chunks);
    QVERIFY(parseAnswer(bytes).checkOk);
    using Ms = std::chrono::duration<double, std::milli>;
    const double firstByte = Ms(chunks.front().time - sent).count();
    const double spread = Ms(chunks.back().time - chunks.front().time).count();
    const double perByte = spread / double(bytes.size() - 1);
    qInfo("paced: request %zu bytes, first answer byte after %.1f ms (wire %.1f + silence 18.3 + turnaround 20), "
          "%zu answer bytes over %.1f ms = %.2f ms per byte (wire 9.17)",
          req.size(), firstByte, req.size() * 9.1667, bytes.size(), spread, perByte);
    QVERIFY2(firstByte > 200 && firstByte < 800, qPrintable(QString::number(firstByte)));
    QVERIFY2(perByte > 7.0 && perByte < 15.0, qPrintable(QString::number(perByte)));
    // The request is logged as arriving when its last byte would have come off the wire.
    const double logged = Ms(sim.requests().back().time - sent).count();
    QVERIFY2(logged > 150 && logged < 600, qPrintable(QString::number(logged)));

    sim.setPaced(false);
    QVERIFY(master.send(req));
    const auto fastSent = SteadyClock::now();
    chunks.clear();
    QVERIFY(parseAnswer(master.receive(2000, 60, &chunks)).checkOk);
    const double fast = Ms(chunks.back().time - fastSent).count();
    qInfo("unpaced: whole answer after %.1f ms", fast);
    QVERIFY(fast < 150);
}

void TestSim::exclusiveOpen()
{
    Sim::Simulator sim;
    TestMaster master;
    QVERIFY(bringUp(sim, master)); // TIOCEXCL and flock both succeed with the simulator running
    const int second = ::open(sim.portPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (second >= 0) {
        // Only root gets past TIOCEXCL; the lock still keeps a second program out.
        QCOMPARE(::flock(second, LOCK_EX | LOCK_NB), -1);
        QCOMPARE(errno, EWOULDBLOCK);
        ::close(second);
    } else {
        QCOMPARE(errno, EBUSY);
    }
    // The line outlives the program closing and reopening its port.
    master.close();
    QVERIFY(master.open(sim.portPath()));
    QVERIFY(master.exchange(shortRequest(0, 0)).checkOk);
}

void TestSim::loopModes()
{
    Sim::Simulator sim;
    sim.modify([](Sim::DeviceState& s) { s.variables[0].base = 5.0f; }); // alarm
    TestMaster master;
    QVERIFY(bringUp(sim, master));
    auto current = [&](std::uint8_t* status) {
        const Answer a = master.exchange(request(2));
        *status = a.deviceStatus;
        return a.data.size() == 8 ? floatAt(a.data, 0) : -1.0f;
    };
    std::uint8_t status = 0;
    QCOMPARE(current(&status), 18.0f);
    QCOMPARE(master.exchange(request(40, floatBytes(20.0f))).responseCode, std::uint8_t(0));
    QCOMPARE(current(&status), 20.0f);
    QVERIFY(status & 0x08);
    QCOMPARE(master.exchange(request(6, {0, 1})).responseCode, std::uint8_t(0)); // back to signalling
    QCOMPARE(current(&status), 18.0f);
    QCOMPARE(status & 0x08, 0);
    QCOMPARE(master.exchange(request(6, {0, 0})).responseCode, std::uint8_t(0)); // multidrop
    QCOMPARE(current(&status), 4.0f);
    QVERIFY(status & 0x08);
    QCOMPARE(master.exchange(request(40, floatBytes(20.0f))).responseCode, std::uint8_t(11));
}

void TestSim::moreStatusAcknowledged()
{
    Sim::Simulator sim;
    TestMaster master;
    QVERIFY(bringUp(sim, master));
    QCOMPARE(master.exchange(request(48)).deviceStatus & 0x10, 0);
    sim.modify([](Sim::DeviceState& s) { s.additionalStatus[0] = 0x81; s.additionalStatus[1] = 0x02; });
    const Answer status = master.exchange(request(48));
    QVERIFY(status.deviceStatus & 0x10);
    QCOMPARE(status.data.size(), std::size_t(9));

    Bytes received(status.data.begin(), status.data.begin() + 6);
    Answer a = master.exchange(request(48, received));
    QCOMPARE(a.responseCode, std::uint8_t(14)); // the device wants the bytes the other way round
    QVERIFY(a.deviceStatus & 0x10);

    Bytes ack(received.rbegin(), received.rend());
    ack.insert(ack.end(), {0xFF, 0x04, 0x00, status.data[8]});
    a = master.exchange(request(48, ack));
    QCOMPARE(a.responseCode, std::uint8_t(0));
    QCOMPARE(a.deviceStatus & 0x10, 0);
}

void TestSim::clockRuns()
{
    Sim::Simulator sim;
    TestMaster master;
    QVERIFY(bringUp(sim, master));
    const std::uint32_t noon = 12u * 3600u * 32000u;
    Bytes set{1, 6, 12, 126};
    const Bytes time = be32(noon);
    set.insert(set.end(), time.begin(), time.end());
    set.insert(set.end(), {0, 0});
    Answer a = master.exchange(request(89, set));
    QCOMPARE(a.responseCode, std::uint8_t(0));
    QCOMPARE(a.data, Bytes(set.begin(), set.begin() + 8));
    QTest::qWait(300);
    a = master.exchange(request(90));
    QCOMPARE(a.data.size(), std::size_t(15));
    QCOMPARE(Bytes(a.data.begin(), a.data.begin() + 3), (Bytes{6, 12, 126}));
    const std::uint32_t now = (std::uint32_t(a.data[3]) << 24) | (a.data[4] << 16) | (a.data[5] << 8) | a.data[6];
    const double elapsedMs = (now - noon) / 32.0;
    QVERIFY2(elapsedMs >= 250 && elapsedMs < 2000, qPrintable(QString::number(elapsedMs)));
    QCOMPARE(Bytes(a.data.begin() + 7, a.data.begin() + 14), Bytes(set.begin() + 1, set.begin() + 8));
}

void TestSim::serviceOperations_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("polls");
    QTest::addColumn<int>("result");
    QTest::addColumn<Bytes>("states");
    QTest::newRow("calibration, 3 polls, done") << 136 << 3 << 2 << Bytes{1, 1, 1, 2, 2};
    QTest::newRow("optics check, 1 poll, low supply") << 138 << 1 << 4 << Bytes{1, 4, 4};
    QTest::newRow("optics check at once, dirty") << 138 << 0 << 3 << Bytes{3};
}

void TestSim::serviceOperations()
{
    QFETCH(int, start);
    QFETCH(int, polls);
    QFETCH(int, result);
    QFETCH(Bytes, states);
    Sim::Simulator sim;
    sim.modify([&](Sim::DeviceState& s) {
        Sim::ServiceOperation& op = start == 136 ? s.calibration : s.opticsCheck;
        op.runningPolls = std::uint8_t(polls);
        op.result = std::uint8_t(result);
    });
    TestMaster master;
    QVERIFY(bringUp(sim, master));
    QCOMPARE(master.exchange(request(std::uint8_t(start - 1))).data, Bytes{0}); // never run
    QCOMPARE(master.exchange(request(std::uint8_t(start))).responseCode, std::uint8_t(0));
    Bytes seen;
    for (std::size_t i = 0; i < states.size(); ++i) {
        const Answer a = master.exchange(request(std::uint8_t(start - 1)));
        QCOMPARE(a.data.size(), std::size_t(1));
        seen.push_back(a.data[0]);
    }
    QCOMPARE(seen, states);
}

namespace {

// Captions "Порог #u%" (id 7) and "Реле #c: #a" (id 9); eight positions holding records 2..9.
void setUpLog(Sim::Simulator& sim)
{
    sim.modify([](Sim::DeviceState& s) {
        Sim::EventLog log;
        log.captions = {{7, "\xCF\xEE\xF0\xEE\xE3 #u%"}, {9, "\xD0\xE5\xEB\xE5 #c: #a"}};
        log.catalogueId = 0x11223344;
        log.captionSetId = 0x55667788;
        log.setCapacity(8);
        for (std::uint8_t i = 0; i < 6; ++i)
            log.add(0, 1000u + i, 7, {i});
        log.add(2, 2000, 9, Bytes(40, 0x31)); // three positions: 6, 7, 8
        log.add(1, 3000, 7, {42});            // 9
        s.eventLog = log;
    });
}

} // namespace

void TestSim::eventLogCatalogue()
{
    Sim::Simulator sim;
    setUpLog(sim);
    TestMaster master;
    QVERIFY(bringUp(sim, master));

    Answer a = master.exchange(request(252, {0x00}));
    QCOMPARE(a.data, (Bytes{0x00, 2, 0, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
    a = master.exchange(request(252, {0x01, 1, 0}));
    QCOMPARE(a.data, (Bytes{0x01, 1, 0, 9, 0, 0, 0, 0xD0, 0xE5, 0xEB, 0xE5, ' ', '#', 'c', ':', ' ', '#', 'a', 0}));
    QCOMPARE(master.exchange(request(252, {0x01, 2, 0})).responseCode, std::uint8_t(2));

    // Twelve positions written into eight: the first index has moved to 2.
    a = master.exchange(request(252, {0x02}));
    QCOMPARE(a.data, (Bytes{0x02, 2, 0, 0, 0, 8, 0, 0, 0}));

    QCOMPARE(master.exchange(request(252, {0x80, 0xFF, 0x00, 0x55, 0xAB})).responseCode, std::uint8_t(2));
    QCOMPARE(sim.state().eventLog.records().size(), std::size_t(6));
    a = master.exchange(request(252, {0x80, 0xFF, 0x00, 0x55, 0xAA}));
    QCOMPARE(a.data, Bytes{0x80});
    QCOMPARE(master.exchange(request(252, {0x02})).data, (Bytes{0x02, 0, 0, 0, 0, 0, 0, 0, 0}));
}

void TestSim::eventLogRecords_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<Bytes>("expected"); // after the subcommand and the index
    Bytes block{2, 0xD0, 0x07, 0, 0, 3, 9, 0, 0, 0};
    block.insert(block.end(), 40, 0x31);
    QTest::newRow("first record") << 2 << Bytes{0, 0xEA, 0x03, 0, 0, 1, 7, 0, 0, 0, 2};
    QTest::newRow("block of three positions") << 6 << block;
    QTest::newRow("last record") << 9 << Bytes{1, 0xB8, 0x0B, 0, 0, 1, 7, 0, 0, 0, 42};
    QTest::newRow("inside a block") << 7 << Bytes{0x85};
    QTest::newRow("overwritten") << 1 << Bytes{0x84};
    QTest::newRow("past the end") << 10 << Bytes{0x85};
}

void TestSim::eventLogRecords()
{
    QFETCH(int, index);
    QFETCH(Bytes, expected);
    Sim::Simulator sim;
    setUpLog(sim);
    TestMaster master;
    QVERIFY(bringUp(sim, master));
    const Answer a = master.exchange(request(252, {0x03, std::uint8_t(index), 0, 0, 0}));
    QCOMPARE(a.responseCode, std::uint8_t(0));
    QVERIFY(a.data.size() >= 5);
    QCOMPARE(a.data[0], std::uint8_t(0x03));
    QCOMPARE(le32At(a.data, 1), std::uint32_t(index));
    QCOMPARE(Bytes(a.data.begin() + 5, a.data.end()), expected);
}

void TestSim::firmware_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("askOrder");
    QTest::addColumn<int>("emptyAt");
    QTest::addColumn<int>("refuseCode");
    QTest::addColumn<int>("refuseAt"); // -1 at the announcement
    QTest::addColumn<int>("code");
    QTest::addColumn<QList<int>>("asked");
    QTest::newRow("130 bytes in order") << 130 << QList<int>{} << -1 << 0 << 0 << 0 << QList<int>{0, 64, 128, 130};
    QTest::newRow("asked out of order") << 200 << QList<int>{128, 0} << -1 << 0 << 0 << 0
                                        << QList<int>{128, 0, 64, 192, 200};
    QTest::newRow("empty answer restarts") << 130 << QList<int>{} << 64 << 0 << 0 << 0
                                           << QList<int>{0, 64, -1, 0, 64, 128, 130};
    QTest::newRow("refused at 64 with 10") << 130 << QList<int>{} << -1 << 10 << 64 << 10 << QList<int>{0, 64};
    QTest::newRow("refused at once with 12") << 130 << QList<int>{} << -1 << 12 << -1 << 12 << QList<int>{};
    QTest::newRow("image too large") << (2 << 20) << QList<int>{} << -1 << 0 << 0 << 9 << QList<int>{};
}

void TestSim::firmware()
{
    QFETCH(int, size);
    QFETCH(QList<int>, askOrder);
    QFETCH(int, emptyAt);
    QFETCH(int, refuseCode);
    QFETCH(int, refuseAt);
    QFETCH(int, code);
    QFETCH(QList<int>, asked);
    Sim::Simulator sim;
    sim.modify([&](Sim::DeviceState& s) {
        for (int offset : askOrder)
            s.firmware.askOrder.push_back(std::uint32_t(offset));
        s.firmware.emptyAnswerAtOffset = emptyAt < 0 ? Sim::FirmwareReceiver::none : std::uint32_t(emptyAt);
        s.firmware.refuseCode = std::uint8_t(refuseCode);
        s.firmware.refuseAtOffset = refuseAt < 0 ? Sim::FirmwareReceiver::none : std::uint32_t(refuseAt);
    });
    TestMaster master;
    QVERIFY(bringUp(sim, master));

    Bytes image;
    image.resize(std::size_t(size));
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = std::uint8_t(i * 7 + (i >> 8));
    // The transfer as a master runs it: announce, then send whatever the device names.
    QList<int> seen;
    Answer a = master.exchange(request(253, be32(std::uint32_t(size))));
    for (int turn = 0; turn < 20 && a.checkOk && a.responseCode == 0; ++turn) {
        if (a.data.empty()) {
            seen << -1;
            a = master.exchange(request(253, be32(std::uint32_t(size))));
            continue;
        }
        QCOMPARE(a.data.size(), std::size_t(4));
        const std::uint32_t offset = (std::uint32_t(a.data[0]) << 24) | (a.data[1] << 16) | (a.data[2] << 8) | a.data[3];
        seen << int(offset);
        if (offset >= std::uint32_t(size))
            break;
        const std::size_t length = std::min<std::size_t>(64, image.size() - offset);
        Bytes chunk = be32(offset);
        chunk.resize(4 + length);
        std::copy_n(image.begin() + offset, length, chunk.begin() + 4);
        a = master.exchange(request(253, chunk));
    }
    QVERIFY(a.checkOk);
    QCOMPARE(int(a.responseCode), code);
    QCOMPARE(seen, asked);
    if (code == 0) {
        QVERIFY(sim.state().firmware.complete);
        QVERIFY(sim.firmwareImage() == image);
    }
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
