// Several detectors on one multidrop line: only the addressed one answers, each keeps its own
// state, and a shared address garbles the answer. The tool's fleet tests reach them through the
// HART-IP gateway.

#include "testmaster.h"

#include "hart/encoding.h"
#include "sim/simulator.h"

#include <QtTest>

namespace {

constexpr std::uint32_t firstId = 0x01E240;

std::uint32_t idOf(const Answer& a) { return a.data.size() >= 12 ? Hart::loadU24(&a.data[9]) : 0; }
Bytes tagOf(const Answer& a) { return Bytes(a.data.begin(), a.data.begin() + std::min<std::size_t>(6, a.data.size())); }
Bytes packed(const char* tag)
{
    Bytes out(6);
    Hart::packAscii(out.data(), tag, 6);
    return out;
}

struct Loop {
    explicit Loop(unsigned devices) : sim([devices] { Sim::Options o; o.devices = devices; o.turnaroundMs = 0; return o; }()) {}
    bool up() { return sim.start() && master.open(sim.portPath()); }
    // A short wait: most of a scan's addresses stay silent.
    Answer exchange(const Bytes& request) { return master.send(request) ? parseAnswer(master.receive(120)) : Answer(); }
    Answer poll(std::uint8_t address) { return exchange(shortRequest(address, 0)); }
    Answer ask(unsigned number, std::uint8_t command, const Bytes& data = {}) { return exchange(longRequest(0xFF04, firstId + number - 1, command, data)); }
    Sim::Simulator sim;
    TestMaster master;
};

} // namespace

class TestSimDevices : public QObject {
    Q_OBJECT

private slots:
    // A scan of 0..15 finds the detectors at 1..N and nothing else, each with its own id and tag.
    void scan()
    {
        for (unsigned devices : {1u, 3u, 15u}) {
            Loop loop(devices);
            QVERIFY(loop.up());
            for (std::uint8_t address = 0; address <= 15; ++address) {
                const Answer a = loop.poll(address);
                QCOMPARE(a.found, address >= 1 && address <= devices);
                QCOMPARE(idOf(a), a.found ? firstId + address - 1 : 0);
            }
            QCOMPARE(tagOf(loop.ask(devices, 13)), packed(devices == 1 ? "IPP93" : devices == 3 ? "IPP93-03" : "IPP93-15"));
        }
    }

    // Long frames by unique address, find by tag, the broadcast find: each reaches
    // the one detector meant, or none.
    void longFrames()
    {
        const struct { const char* name; unsigned number; std::uint8_t command; Bytes data; unsigned answering; } rows[] = {
            {"id 2", 2, 0, {}, 2}, {"id not on the loop", 4, 0, {}, 0}, {"broadcast command 0", 0, 0, {}, 0},
            {"tag of 3", 0, 11, packed("IPP93-03"), 3}, {"tag elsewhere", 0, 11, packed("IPP93-09"), 0},
{"find device", 0, 73, {}, 1}};
        Loop loop(3);
        QVERIFY(loop.up());
        for (const auto& r : rows) {
            const Answer a = r.number ? loop.ask(r.number, r.command, r.data) : loop.exchange(longRequest(0, 0, r.command, r.data));
            QVERIFY2(a.found == (r.answering != 0) && (!a.found || a.checkOk), r.name);
            QVERIFY2(idOf(a) == (r.answering ? firstId + r.answering - 1 : 0), r.name);
            QVERIFY2(!a.found || a.address == (Bytes{0x3F, 0x04, 0x01, 0xE2, std::uint8_t(0x40 + r.answering - 1)}), r.name);
        }
    }

    // Each detector keeps a log of its own (the tool's fleet tests read each one record by record):
    // an erase on detector 2 leaves the others whole.
    void ownEventLogs()
    {
        Loop loop(3);
        QVERIFY(loop.up());
        QCOMPARE(loop.ask(2, 252, {0x80, 0xFF, 0x00, 0x55, 0xAA}).responseCode, std::uint8_t(0));
        for (unsigned k = 0; k < 3; ++k)
            QCOMPARE(loop.sim.state(k).eventLog.records().size(), std::size_t(k == 1 ? 0 : 42 - 2 * (k + 1)));
    }

    // Command 6 moves one detector; moved onto another's address, both answer at once and the
    // master gets a garbled frame, until a long frame moves it away again.
    void addressMove()
    {
        Loop loop(3);
        QVERIFY(loop.up());
        QCOMPARE(loop.ask(3, 6, {9, 0}).responseCode, std::uint8_t(0));
        QVERIFY(!loop.poll(3).found);
        QCOMPARE(idOf(loop.poll(9)), firstId + 2);
        QCOMPARE(loop.ask(2, 6, {1, 0}).responseCode, std::uint8_t(0));
        const Answer garbled = loop.poll(1);
        QVERIFY(garbled.found && !garbled.checkOk && loop.sim.requests().back().collision);
        QCOMPARE(loop.ask(2, 6, {2, 0}).responseCode, std::uint8_t(0));
        QVERIFY(loop.poll(1).checkOk && loop.poll(2).checkOk);
    }

    // A fault belongs to the line: a frame no detector takes leaves it armed, and it spoils
    // whichever detector's answer comes next.
    void faultOnTheLine()
    {
        Loop loop(3);
        QVERIFY(loop.up());
        loop.sim.inject(Sim::Fault::noAnswer());
        QVERIFY(!loop.poll(5).found);
        QVERIFY(!loop.poll(2).found);
        QCOMPARE(idOf(loop.poll(2)), firstId + 1);
    }
};

QTEST_GUILESS_MAIN(TestSimDevices)
#include "tst_sim_devices.moc"
