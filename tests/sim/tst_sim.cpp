// The simulator seen from the line: a hand-made master talks to it through its pseudo-terminal.

#include "testmaster.h"
#include "../support/values.h"

#include "sim/exchange.h"
#include "sim/faultoption.h"
#include "sim/simulator.h"

#include <QProcess>
#include <QtTest>

namespace {

constexpr std::uint16_t deviceType = 0xFF04;
constexpr std::uint32_t deviceId = 0x01E240;
using Ms = std::chrono::duration<double, std::milli>;

Bytes slice(const Bytes& b, std::size_t from, std::size_t to) { return Bytes(&b[from], b.data() + std::min(to, b.size())); }
Bytes pseudoRandom(std::size_t length, std::uint32_t& seed)
{
    Bytes data(length);
    for (auto& b : data)
        b = std::uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    return data;
}
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes changed(Bytes b, std::size_t at, std::uint8_t value)
{
    b[at] = value;
    return b;
}

// A table of struct rows as data rows, each named by its first field and fetched whole as "row".
template <typename Row, std::size_t N>
void addRows(const Row (&rows)[N])
{
    QTest::addColumn<Row>("row");
    for (const Row& r : rows)
        QTest::newRow(r.name) << r;
}

// The simulator and a master on its port; state changes go in before up().
struct Rig {
    explicit Rig(const Sim::Options& options = Sim::Options()) : sim(options) {}
    bool up()
    {
        std::string error;
        if (sim.start(&error) && master.open(sim.portPath(), &error))
            return true;
        qWarning("%s", error.c_str());
        return false;
    }
    Sim::Simulator sim;
    TestMaster master;
};

// What the master sees of an answer to command 0 under a fault. minBytes: bytes that come back at least;
// gapMs: the widest pause inside the answer at least; delayMs: request to first byte at least.
struct FaultRow {
    const char* name;
    Sim::Fault fault;
    bool checkOk;
    int noise, address, code, dataSize, minBytes, gapMs, delayMs;
};

} // namespace

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(FaultRow)

class TestSim : public QObject {
    Q_OBJECT

private slots:
    // Requests for someone else and damaged input: no answer (or, where a request can be found
    // in the bytes, the answer to it), and the next clean request is answered.
    void otherInput_data()
    {
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("logged"); // intact requests logged; -1 not checked
        const Bytes request1 = longRequest(deviceType, deviceId, 1); // delimiter at 20, byte count at 27
        std::uint32_t seed = 12345;
        QTest::newRow("polling address 1") << shortRequest(1, 0) << false << 1;
        QTest::newRow("short frame, command 1") << shortRequest(0, 1) << false << 1;
        QTest::newRow("other device id") << longRequest(deviceType, deviceId + 1, 1) << false << 1;
        QTest::newRow("broadcast, command 1") << longRequest(0, 0, 1) << false << 1;
        QTest::newRow("tag not ours") << longRequest(0, 0, 11, {0x50, 0x13, 0x8B, 0xB7, 0x78, 0x20}) << false << 1;
        QTest::newRow("wrong check byte") << changed(shortRequest(0, 0), 24, 0x03) << false << 0;
        QTest::newRow("one preamble") << shortRequest(0, 0, {}, 1) << false << 0;
        QTest::newRow("random bytes") << pseudoRandom(2048, seed) << false << -1;
        QTest::newRow("endless preambles") << Bytes(3000, 0xFF) << false << -1;
        QTest::newRow("byte count past the end") << changed(request1, 27, 200) << false << -1;
        QTest::newRow("truncated frame") << slice(longRequest(deviceType, deviceId, 13), 0, 26) << false << -1;
        QTest::newRow("expansion bytes claimed") << changed(request1, 20, 0xE2) << false << -1;
        QTest::newRow("answer frame echoed") << Bytes{0xFF, 0xFF, 6, 0, 0, 2, 0, 0, 4} << false << -1;
        QTest::newRow("noise then request") << Bytes{0x00, 0x13, 0x7E, 0xFF, 0x42} + shortRequest(0, 0) << true << -1;
        QTest::newRow("bytes after the check byte") << shortRequest(0, 0) + Bytes{0x12, 0x34, 0x56} << true << -1;
    }
    void otherInput()
    {
        QFETCH(Bytes, bytes);
        QFETCH(bool, answered);
        QFETCH(int, logged);
        Rig rig;
        QVERIFY(rig.up());
        QVERIFY(rig.master.send(bytes));
        const Bytes got = rig.master.receive(250);
        QCOMPARE(parseAnswer(got).checkOk, answered);
        QCOMPARE(got.empty(), !answered);
        if (logged >= 0) {
            const auto log = rig.sim.requests();
            QCOMPARE(int(log.size()), logged);
            QCOMPARE(int(rig.sim.discardedFrames()), 1 - logged);
            if (logged) {
                QCOMPARE(log[0].command, std::uint16_t(bytes[bytes.size() - 3 - log[0].data.size()]));
                QVERIFY(!log[0].answered);
            }
        }
        QVERIFY(rig.master.exchange(shortRequest(0, 0)).checkOk);
    }

    // Every command number with request data of every awkward length: the answer must fit a
    // frame and nothing may read past the request (run under the address sanitizer to see it).
    void handlersTakeAnyData()
    {
        Sim::DeviceState state = Sim::defaultDeviceState();
        std::uint32_t seed = 99;
        for (int command = 0; command < 256; ++command) {
            for (std::size_t length : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 21, 24, 32, 68, 255}) {
                const Bytes data = pseudoRandom(length, seed);
                Sim::Exchange ex(state, std::uint16_t(command), data.data(), data.size(), false, Sim::Clock::now());
                if (!Sim::handleUniversal(ex))
                    Sim::handleDeviceSpecific(ex);
                QVERIFY2(ex.reply.size() <= 253, qPrintable(QString("command %1, %2 bytes").arg(command).arg(length)));
            }
        }
    }

    // Each fault on the wire, as the master sees an answer to command 0.
    void faults_data()
    {
        using F = Sim::Fault;
        const FaultRow rows[] = {
            {"other address", F::otherAddress(), true, 0, 1, 0, 22, 1, 0, 0},
            {"wrong check byte", F::badCheckByte(), false, 0, 0, 0, 22, 1, 0, 0},
            {"noise before preamble", F::noiseBeforePreamble(5), true, 5, 0, 0, 22, 1, 0, 0},
            {"frame split by a gap", F::splitFrame(150), true, 0, 0, 0, 22, 1, 100, 0},
            {"burst over 256 bytes", F::burst(300), true, 0, 0, 0, 22, 300, 0, 0},
            {"answer after the time-out", F::lateAnswer(2100), true, 0, 0, 0, 22, 1, 0, 2000},
        };
        addRows(rows);
    }
    void faults()
    {
        QFETCH(FaultRow, row);
        Rig rig;
        QVERIFY(rig.up());
        rig.sim.inject(row.fault);
        QVERIFY(rig.master.send(shortRequest(0, 0)));
        const auto sent = SteadyClock::now();
        std::vector<SteadyClock::time_point> reads;
        const Bytes bytes = rig.master.receive(row.delayMs ? 4000 : 1000, row.gapMs ? 300 : 30, &reads);
        const Answer a = parseAnswer(bytes);
        QCOMPARE(values(a.found, a.checkOk, a.noise, a.address == Bytes{std::uint8_t(row.address)}, a.responseCode,
                        a.data.size()),
                 values(true, row.checkOk, row.noise, true, row.code, row.dataSize));
        QVERIFY(int(bytes.size()) >= row.minBytes);
        Ms widest(0);
        for (std::size_t i = 1; i < reads.size(); ++i)
            widest = std::max(widest, Ms(reads[i] - reads[i - 1]));
        QVERIFY2(widest.count() >= row.gapMs, qPrintable(QString("gap %1 ms").arg(widest.count())));
        const double delay = Ms(reads[0] - sent).count();
        QVERIFY2(delay >= row.delayMs, qPrintable(QString("answer after %1 ms").arg(delay)));
        // One request's worth of trouble; the next answer is clean.
        const Answer next = rig.master.exchange(shortRequest(0, 0));
        QCOMPARE(values(next.checkOk, next.responseCode, next.noise, rig.sim.pendingFaults()), values(true, 0, 0, 0));
    }

    // --fault as typed by hand: the fault it arms, or the reason it is refused (empty kind).
    void faultOptions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fault"); // kind count after command value delayMs length keepData
        QTest::newRow("no answer") << "no-answer" << "0 1 0 -1 0 0 0 0";
        QTest::newRow("no answer three times") << "no-answer:3" << "0 3 0 -1 0 0 0 0";
        QTest::newRow("bad check for ever") << "bad-check,times=0" << "2 0 0 -1 0 0 0 0";
        QTest::newRow("noise default") << "noise" << "3 1 0 -1 0 0 5 0";
        QTest::newRow("comm error hex bits") << "comm-error:0x10" << "4 1 0 -1 16 0 0 0";
        QTest::newRow("response code on one command") << "response-code:5,cmd=130" << "5 1 0 130 5 0 0 0";
        QTest::newRow("response code keeping data") << "response-code:8,data" << "5 1 0 -1 8 0 0 1";
        QTest::newRow("split in ms") << "split:60ms" << "6 1 0 -1 0 60 0 0";
        QTest::newRow("split at a byte") << "split:2s,at=12" << "6 1 0 -1 0 2000 12 0";
        QTest::newRow("burst") << "burst:300" << "7 1 0 -1 0 0 300 0";
        QTest::newRow("late plain number") << "late:2500" << "8 1 0 -1 0 2500 0 0";
        QTest::newRow("late default") << "late" << "8 1 0 -1 0 2500 0 0";
        QTest::newRow("hang up after 20") << "hang-up-after:20" << "9 1 20 -1 0 0 0 0";
        QTest::newRow("late after 3, twice") << "late:100ms,after=3,times=2" << "8 2 3 -1 0 100 0 0";

        QTest::newRow("unknown kind") << "slow" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("value on a plain fault") << "bad-check:1" << "";
        QTest::newRow("missing required value") << "response-code" << "";
        QTest::newRow("zero count") << "no-answer:0" << "";
        QTest::newRow("response code past a byte") << "response-code:256" << "";
        QTest::newRow("comm error past seven bits") << "comm-error:0x80" << "";
        QTest::newRow("late beyond a minute") << "late:61s" << "";
        QTest::newRow("unit on a count") << "burst:300ms" << "";
        QTest::newRow("trailing text") << "burst:30x" << "";
        QTest::newRow("unknown modifier") << "late,slow=1" << "";
        QTest::newRow("at on another kind") << "late,at=3" << "";
        QTest::newRow("trailing comma") << "late," << "";
        QTest::newRow("command past 16 bits") << "bad-check,cmd=65536" << "";
        QTest::newRow("split at byte 0") << "split,at=0" << "";
    }
    void faultOptions()
    {
        QFETCH(QString, text);
        QFETCH(QString, fault);
        Sim::Fault f;
        f.command = 99; // must be left alone on a refusal
        std::string error;
        const bool ok = Sim::parseFaultOption(text.toStdString(), f, error);
        QCOMPARE(ok, !fault.isEmpty());
        if (!ok) {
            QVERIFY(!error.empty());
            QCOMPARE(f.command, 99);
            return;
        }
        QCOMPARE(QString::asprintf("%d %u %u %d %u %u %u %d", int(f.kind), f.count, f.after, f.command, f.value,
                                   f.delayMs, f.length, int(f.keepData)), fault);
    }

    // A fault with a wait lets that many matching requests pass; other commands do not count.
    void faultWaitsItsTurn()
    {
        Sim::FaultQueue queue;
        Sim::Fault f;
        std::string error;
        QVERIFY(Sim::parseFaultOption("hang-up-after:2,cmd=3", f, error));
        queue.add(f);
        QString seen;
        for (std::uint16_t command : {3, 1, 3, 1, 3, 3})
            seen += QString::number(queue.take(command).size());
        QCOMPARE(seen, QString("000010"));
    }

    // The program itself: a bad fault is refused before any line opens, and --help lists the kinds.
    void faultOptionOnTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // in stdout, or in stderr for a refusal
        QTest::newRow("help") << QStringList{"--help"} << 0 << "hang-up-after:N";
        QTest::newRow("bad second fault") << QStringList{"--fault", "late", "--fault", "late:1h"} << 2
                                          << "bad fault \"late:1h\"";
        QTest::newRow("missing fault") << QStringList{"--fault"} << 2 << "bad or missing value for --fault";
    }
    void faultOptionOnTheCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess program;
        program.start(DETECTOR_SIM_PATH, arguments);
        QVERIFY(program.waitForFinished(5000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        const QString text = QString::fromUtf8(exitCode == 0 ? program.readAllStandardOutput()
                                                             : program.readAllStandardError());
        QVERIFY2(text.contains(output), qPrintable(text));
    }

    void pacing()
    {
        Sim::Options options;
        options.paced = true;
        Rig rig(options);
        QVERIFY(rig.up());
        const Bytes req = shortRequest(0, 0); // 25 bytes: 229 ms on the wire
        QVERIFY(rig.master.send(req));
        auto sent = SteadyClock::now();
        std::vector<SteadyClock::time_point> reads;
        const Bytes bytes = rig.master.receive(2000, 100, &reads);
        QVERIFY(parseAnswer(bytes).checkOk);
        const double firstByte = Ms(reads.front() - sent).count();
        const double perByte = Ms(reads.back() - reads.front()).count() / double(bytes.size() - 1);
        qInfo("paced: first answer byte after %.1f ms (wire 229 + silence 18.3 + turnaround 20), "
              "%.2f ms per answer byte (wire 9.17)", firstByte, perByte);
        QVERIFY2(firstByte > 200 && firstByte < 800, qPrintable(QString::number(firstByte)));
        QVERIFY2(perByte > 7.0 && perByte < 15.0, qPrintable(QString::number(perByte)));
        // The request is logged as arriving when its last byte would have come off the wire.
        const double logged = Ms(rig.sim.requests().back().time - sent).count();
        QVERIFY2(logged > 150 && logged < 600, qPrintable(QString::number(logged)));

        rig.sim.setPaced(false);
        QVERIFY(rig.master.send(req));
        sent = SteadyClock::now();
        reads.clear();
        QVERIFY(parseAnswer(rig.master.receive(2000, 60, &reads)).checkOk);
        const double fast = Ms(reads.back() - sent).count();
        QVERIFY2(fast < 150, qPrintable(QString("unpaced: whole answer after %1 ms").arg(fast)));
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
