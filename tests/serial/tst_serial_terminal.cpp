#include "comhalfduplexterminal.h"
#include "scriptedport.h"

#include <QtTest>

#include <vector>

using Bytes = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(TerminalState)

namespace {

constexpr auto silentFlag = ComHalfDuplexTerminal::lineSilentFlag;

// A terminal whose buffer sits in a larger block, the tail of which must stay untouched.
struct Memory {
    Bytes memory;
};
struct Rig : Memory, ComHalfDuplexTerminal {
    explicit Rig(std::uint32_t size = 256, std::uint8_t threshold = 2)
        : Memory{Bytes(size + 16, 0xEE)}, ComHalfDuplexTerminal(memory.data(), size, threshold), size(size)
    {
    }
    Bytes frame() const { return Bytes(memory.begin(), memory.begin() + receivedLength()); }
    bool guardIntact() const { return std::all_of(memory.begin() + size, memory.end(), [](auto b) { return b == 0xEE; }); }
    bool open(const std::shared_ptr<PortJournal>& journal) { return ComHalfDuplexTerminal::open(std::make_unique<ScriptedPort>(journal)); }
    std::uint32_t size;
};

Bytes pattern(int length)
{
    Bytes bytes(static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i * 7 + 1);
    return bytes;
}

// Worker passes with empty reads until the line counts as silent; returns the passes taken.
int silence(ComHalfDuplexTerminal& t)
{
    for (int pass = 1; pass < 300; ++pass) {
        if (t.nextTransmitByte() & silentFlag) {
            t.idleTick();
            return pass;
        }
    }
    return -1;
}

// Bytes off the line, then (unless told otherwise) the silence after them; returns its passes.
int feed(ComHalfDuplexTerminal& t, const Bytes& bytes, bool thenSilence = true)
{
    for (auto b : bytes)
        t.receiveByte(b);
    return thenSilence ? silence(t) : 0;
}

// What the worker writes for a frame in Transmitting, then the tick that ends it.
Bytes sendOut(ComHalfDuplexTerminal& t)
{
    Bytes out;
    for (;;) {
        const auto word = t.nextTransmitByte();
        out.push_back(std::uint8_t(word));
        if (word & ComHalfDuplexTerminal::lastByteFlag)
            break;
    }
    t.idleTick();
    return out;
}

bool post(ComHalfDuplexTerminal& t, const Bytes& request)
{
    std::uint8_t* buffer = t.claimForTransmit();
    return buffer && (std::copy(request.begin(), request.end(), buffer), t.transmit(std::uint32_t(request.size())));
}

void driveTo(ComHalfDuplexTerminal& t, TerminalState state)
{
    if (state == TerminalState::Receiving || state == TerminalState::Received)
        feed(t, {0x11, 0x22, 0x33}, state == TerminalState::Received);
    if (state >= TerminalState::Filling)
        std::fill_n(t.claimForTransmit(), 3, 0xA5);
    if (state >= TerminalState::TransmitRequested)
        t.transmit(3);
    if (state == TerminalState::Transmitting)
        silence(t);
    QCOMPARE(t.state(), state);
}

// Empty reads from the later of the posting and the last received bytes to the last write.
int emptyReadsBeforeLastWrite(const std::vector<PortJournal::Event>& events, int postedAt)
{
    int lastWrite = -1;
    for (int i = 0; i < int(events.size()); ++i)
        if (events[std::size_t(i)].isWrite)
            lastWrite = i;
    int empty = 0;
    for (int i = postedAt; i < lastWrite; ++i)
        empty = events[std::size_t(i)].bytes.empty() ? empty + 1 : 0;
    return lastWrite < 0 ? -1 : empty;
}

} // namespace

class TestTerminal : public QObject {
    Q_OBJECT

private slots:
    void handOver_data()
    {
        QTest::addColumn<TerminalState>("from");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<TerminalState>("to");

        using S = TerminalState;
        const char* operations[] = {"byte", "silence", "claim", "transmit", "release"};
        const std::vector<std::pair<S, std::vector<S>>> table = {
            {S::Idle, {S::Receiving, S::Idle, S::Filling, S::Idle, S::Idle}},
            {S::Receiving, {S::Receiving, S::Received, S::Filling, S::Receiving, S::Receiving}},
            {S::Received, {S::Received, S::Received, S::Filling, S::Received, S::Idle}},
            {S::Filling, {S::Filling, S::Filling, S::Filling, S::TransmitRequested, S::Filling}},
            {S::TransmitRequested,
             {S::TransmitRequested, S::Transmitting, S::TransmitRequested, S::TransmitRequested,
              S::TransmitRequested}},
            {S::Transmitting,
             {S::Transmitting, S::Idle, S::Transmitting, S::Transmitting, S::Transmitting}},
        };
        for (const auto& [from, results] : table)
            for (int i = 0; i < 5; ++i)
                QTest::addRow("%d %s", int(from), operations[i]) << from << operations[i] << results[i];
    }
    void handOver()
    {
        QFETCH(TerminalState, from);
        QFETCH(QString, operation);
        QFETCH(TerminalState, to);

        Rig t;
        driveTo(t, from);
        if (operation == "byte") {
            t.receiveByte(0x99);
        } else if (operation == "silence") {
            if (from == TerminalState::Transmitting)
                QCOMPARE(sendOut(t), Bytes(3, 0xA5));
            else
                silence(t);
        } else if (operation == "claim") {
            QCOMPARE(t.claimForTransmit() != nullptr, to == TerminalState::Filling);
        } else if (operation == "transmit") {
            QCOMPARE(t.transmit(2), from == TerminalState::Filling);
        } else {
            t.releaseReceived();
        }
        QCOMPARE(t.state(), to);
        QCOMPARE(t.isTransmitting(), to == TerminalState::Transmitting);
        if (to == TerminalState::Received)
            QCOMPARE(t.frame(), Bytes({0x11, 0x22, 0x33}));
        if (to == TerminalState::TransmitRequested) {
            silence(t);
            QCOMPARE(sendOut(t), Bytes(from == TerminalState::Filling ? 2 : 3, 0xA5));
        }
    }

    // Empty reads that make the line silent: a threshold of 0 acts as 1.
    void silenceThreshold()
    {
        for (int threshold : {0, 1, 2, 7}) {
            const int emptyReads = std::max(threshold, 1);
            Rig t(256, std::uint8_t(threshold));
            QCOMPARE(feed(t, {0x01, 0x02}), emptyReads);
            QCOMPARE(t.state(), TerminalState::Received);
            QCOMPARE(t.receivedLength(), 2u);

            // The end of our own transmission restarts the wait just like a received byte.
            t.releaseReceived();
            QVERIFY(post(t, {0x42}));
            silence(t);
            QCOMPARE(sendOut(t), Bytes{0x42});
            QVERIFY(post(t, {0x43}));
            QCOMPARE(silence(t), emptyReads);
            QCOMPARE(t.state(), TerminalState::Transmitting);
        }
    }

    // A frame that fills the buffer is delivered whole; one byte more drops it, and the next frame
    // after the silence comes through either way. The master hears of each delivered frame once,
    // and of nothing else (a dropped frame, its own request).
    void frameLength()
    {
        for (int length : {1, 256, 257}) {
            Rig t;
            int delivered = 0;
            t.setFrameReceivedHook([](void* count) { ++*static_cast<int*>(count); }, &delivered);
            const Bytes frame = pattern(length);
            feed(t, frame);
            QVERIFY(t.guardIntact());
            QCOMPARE(t.state(), length <= 256 ? TerminalState::Received : TerminalState::Idle);
            QCOMPARE(t.frame(), length <= 256 ? frame : Bytes());
            QCOMPARE(delivered, length <= 256 ? 1 : 0);
            t.releaseReceived();
            QVERIFY(post(t, {0x42}));
            silence(t);
            sendOut(t);
            feed(t, {0x5A, 0x5B});
            QCOMPARE(t.frame(), Bytes({0x5A, 0x5B}));
            QCOMPARE(delivered, length <= 256 ? 2 : 1);
        }
    }

    // A second frame while the first waits in Received is dropped whole, whenever the first is
    // released during it (-1: never).
    void secondFrameWhileReceivedIsDropped()
    {
        for (int releaseAfter : {1, 10, -1}) {
            Rig t;
            feed(t, {0x01, 0x02, 0x03});
            for (int i = 0; i < 10; ++i) {
                t.receiveByte(std::uint8_t(0xB0 + i));
                if (i + 1 == releaseAfter)
                    t.releaseReceived();
            }
            silence(t);
            if (releaseAfter < 0) {
                QCOMPARE(t.frame(), Bytes({0x01, 0x02, 0x03}));
                t.releaseReceived();
            }
            QCOMPARE(t.state(), TerminalState::Idle);
            feed(t, {0x77});
            QCOMPARE(t.frame(), Bytes{0x77});
        }
    }

    void requestLength()
    {
        for (int length : {0, 1, 256, 257}) {
            const bool accepted = length >= 1 && length <= 256;
            Rig t;
            const Bytes whole = pattern(int(t.size));
            std::copy(whole.begin(), whole.end(), t.claimForTransmit());
            QCOMPARE(t.transmit(std::uint32_t(length)), accepted);
            QCOMPARE(t.state(), accepted ? TerminalState::TransmitRequested : TerminalState::Idle);
            if (accepted) {
                silence(t);
                QCOMPARE(sendOut(t), Bytes(whole.begin(), whole.begin() + length));
                QCOMPARE(t.state(), TerminalState::Idle);
            }
        }
    }

    void characterTime()
    {
        // Baud, parity, stop bits, milliseconds: 8N1, 8O1, 8E2, exactly one ms, the floor, no rate.
        const unsigned table[][4] = {{1200, 0, 0, 8}, {1200, 1, 0, 9}, {1200, 2, 2, 10},
                                     {11000, 1, 0, 1}, {115200, 1, 0, 1}, {0, 1, 0, 0}};
        for (const auto& r : table)
            QVERIFY2(ComHalfDuplexTerminal::characterTimeMs(r[0], std::uint8_t(r[1]), std::uint8_t(r[2])) == r[3],
                     qPrintable(QString("%1 baud").arg(r[0])));
    }

    void requestWaitsForSilence_data()
    {
        // Bytes per read, the request posted in the last; the reads after; empty reads before it goes.
        QTest::addColumn<QVector<int>>("reads");
        QTest::addColumn<QVector<int>>("readsAfter");
        QTest::addColumn<int>("emptyReads");
        QTest::newRow("silent line") << QVector<int>{0, 0} << QVector<int>{} << 1;
        QTest::newRow("posted while bytes arrive") << QVector<int>{3, 2} << QVector<int>{1, 2} << 2;
        QTest::newRow("posted right after a byte") << QVector<int>{0, 1} << QVector<int>{} << 2;
    }
    void requestWaitsForSilence()
    {
        QFETCH(QVector<int>, reads);
        QFETCH(QVector<int>, readsAfter);
        QFETCH(int, emptyReads);
        Rig t;
        auto journal = std::make_shared<PortJournal>();
        std::atomic<int> postedAt{-1};
        for (int i = 0; i < reads.size(); ++i) {
            std::function<void()> during;
            if (i == reads.size() - 1)
                during = [&] {
                    postedAt = int(journal->snapshot().size());
                    post(t, {0xFF, 0xFF, 0x02});
                };
            journal->add(Bytes(std::size_t(reads[i]), 0x31), during);
        }
        for (int n : readsAfter)
            journal->add(Bytes(std::size_t(n), 0x32));
        QVERIFY(t.open(journal));
        QTRY_COMPARE(journal->writes().size(), std::size_t(1));
        t.close();

        QCOMPARE(journal->writes().front(), Bytes({0xFF, 0xFF, 0x02}));
        QCOMPARE(emptyReadsBeforeLastWrite(journal->snapshot(), postedAt), emptyReads);
        // Bytes that arrived around the request belong to no frame.
        QCOMPARE(t.state(), TerminalState::Idle);
    }

    // A complete frame left at a close is still the master's; half a frame or a request, made
    // for the device behind the old port, never reaches the next one.
    void reopenKeepsOnlyCompleteFrame()
    {
        for (auto before : {TerminalState::Received, TerminalState::Receiving, TerminalState::TransmitRequested}) {
            Rig t;
            QVERIFY(t.open(std::make_shared<PortJournal>()));
            t.close();
            driveTo(t, before);

            auto second = std::make_shared<PortJournal>();
            QVERIFY(t.open(second));
            if (before == TerminalState::Received) {
                QCOMPARE(t.frame(), Bytes({0x11, 0x22, 0x33}));
            } else {
                QTest::qWait(50);
                QCOMPARE(t.state(), TerminalState::Idle);
                QVERIFY(second->writes().empty());
            }
            t.close();
        }
        // A worker that gave up on a lost port mid-request: the close itself drops it.
        Rig t;
        driveTo(t, TerminalState::Transmitting);
        t.close();
        QCOMPARE(t.state(), TerminalState::Idle);
        QVERIFY(!t.isTransmitting());
    }

    // The master claims the buffer in the middle of a flood of bytes, over and over. Every request
    // must go out exactly as written, and the two sides must never write the buffer at once (the
    // ThreadSanitizer build checks the latter).
    void claimWhileBytesArriveNeverCorruptsRequest()
    {
        Rig t(1024);
        auto journal = std::make_shared<PortJournal>();
        journal->readDelayUs = 20;
        for (int cycle = 0; cycle < 200; ++cycle) {
            for (int i = 0; i < 30; ++i)
                journal->add(Bytes(32, std::uint8_t(0xC0 + i)));
            journal->add({});
            journal->add({});
        }
        QVERIFY(t.open(journal));

        const auto waitFor = [&](auto condition) {
            while (!condition() && journal->scriptLeft() > 0)
                std::this_thread::yield();
            return condition();
        };
        int posted = 0;
        for (std::uint8_t k = 1; journal->scriptLeft() > 0; ++k) {
            if (!waitFor([&] { return t.state() == TerminalState::Receiving; }))
                break;
            std::uint8_t* buffer = t.claimForTransmit();
            QVERIFY(buffer);
            std::fill_n(buffer, 20, k);
            QVERIFY(t.transmit(20));
            ++posted;
            waitFor([&] { return t.state() < TerminalState::TransmitRequested; });
        }
        QTRY_VERIFY(t.state() < TerminalState::TransmitRequested);
        t.close();

        const auto blocks = journal->writes();
        QVERIFY(posted > 0);
        QCOMPARE(int(blocks.size()), posted);
        for (const Bytes& block : blocks) {
            QCOMPARE(block.size(), std::size_t(20));
            QVERIFY2(std::all_of(block.begin(), block.end(), [&](auto b) { return b == block[0]; }),
                     "a request was overwritten by received bytes");
        }
    }
};

QTEST_GUILESS_MAIN(TestTerminal)
#include "tst_serial_terminal.moc"
