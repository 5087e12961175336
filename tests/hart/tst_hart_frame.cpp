#include <QtTest>

#include "hartrig.h"
#include "../support/values.h"

using namespace Hart;
using namespace HartTest;

namespace {

struct Fake {
    bool pending = false;
    bool cyclic = false; // stays due after an answer
    std::int32_t timeout = 2000;
    std::uint32_t result = Ok;
    QByteArray data;
    int encoded = 0;
    int decoded = 0;
    int handled = 0;
    QByteArray lastData;
};

QList<int> statusSeen; // every device status reported

// Rows: cyclic 1 (class 3), write 6 (class 0), cyclic 2 (class 3), read 7 (class 1),
// extended 300 (class 0), cyclic 90 (class 3, last row).
struct FrameRig : Line {
    Fake fakes[6];
    CommandEntry table[6];

    // pending: the row that is due (the write 6 unless told otherwise); it is sent at once.
    explicit FrameRig(int pending = 1, bool send = true)
    {
        const std::uint16_t commands[6] = {1, 6, 2, 7, 300, 90};
        const std::uint8_t classes[6] = {3, 0, 3, 1, 0, 3};
        const Encoder encode = [](void* context, ParserMaster*, std::uint8_t** cursor) {
            Fake* f = static_cast<Fake*>(context);
            if (!f->pending && !f->cyclic)
                return -1;
            ++f->encoded;
            memcpy(*cursor, f->data.constData(), size_t(f->data.size()));
            *cursor += f->data.size();
            return f->timeout;
        };
        const Decoder decode = [](void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                  std::uint8_t) {
            Fake* f = static_cast<Fake*>(context);
            ++f->decoded;
            f->lastData = QByteArray(reinterpret_cast<const char*>(data), int(end - data));
            if (f->result == Ok)
                f->pending = false;
            return f->result;
        };
        const Handler handle = [](void* context, ParserMaster*, std::uint8_t) { ++static_cast<Fake*>(context)->handled; };
        for (int i = 0; i < 6; ++i)
            table[i] = CommandEntry{&fakes[i], decode, encode, handle, commands[i], classes[i]};
        master = ParserMaster(table, 6, nullptr, [](ParserMaster*, std::uint8_t status) { statusSeen << status; });
        identify();
        statusSeen.clear();
        if (pending >= 0)
            fakes[pending].pending = true;
        if (send)
            build();
    }

    QByteArray goodAnswer() const
    {
        const int command = master.current->command;
        if (command >= 256)
            return longAnswer(31, 0, QByteArray(1, char(command >> 8)) + char(command & 0xFF));
        return longAnswer(command, 0, QByteArray());
    }

    // The commands of the next n requests, each answered well.
    QList<int> sendOrder(int n)
    {
        QList<int> order;
        for (int i = 0; i < n; ++i) {
            build();
            order << sentCommand();
            if (answer(goodAnswer()) != Ok)
                order << -1;
        }
        return order;
    }
};

} // namespace

class TestHartFrame : public QObject {
    Q_OBJECT

private slots:
    void extendedNumberBoundary_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QByteArray>("request"); // after delimiter and address
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("accepted");
        const QByteArray plain255 = hex("ff 02 abcd");
        const QByteArray via31 = hex("1f 04 0100 abcd");
        QTest::newRow("255 sent plainly") << 255 << plain255 << longAnswer(255, 0, QByteArray()) << true;
        QTest::newRow("255 answered through 31") << 255 << plain255 << longAnswer(31, 0, hex("00ff")) << false;
        // The answer carries the extended number after the status bytes; the decoder sees what follows.
        QTest::newRow("256 through 31") << 256 << via31 << longAnswer(31, 0, hex("0100 55")) << true;
        QTest::newRow("256 answered as command 0") << 256 << via31 << longAnswer(0, 0, QByteArray()) << false;
        // One byte of the number is missing, and the check byte happens to equal the other one: the
        // number must not be read through the check byte.
        QByteArray cut = hex("86 3f040a0b0c 1f 03 00 00 01");
        cut[9] = char(checkByte(reinterpret_cast<const std::uint8_t*>(cut.constData()), std::uint32_t(cut.size())));
        QTest::newRow("number cut, check byte completes it") << 256 << via31 << hex("ffff") + withCheckByte(cut)
                                                            << false;
    }
    void extendedNumberBoundary()
    {
        QFETCH(int, command);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(bool, accepted);
        FrameRig rig(4, false);
        rig.table[4].command = std::uint16_t(command);
        rig.fakes[4].data = hex("abcd");
        QCOMPARE(rig.build().toHex(), (hex("5*ff") + withCheckByte(hex("82 3f040a0b0c") + request)).toHex());
        QCOMPARE(rig.answer(answer), std::uint32_t(accepted ? Ok : Ignore));
        QCOMPARE(rig.fakes[4].decoded, int(accepted));
        if (command == 256)
            QCOMPARE(rig.fakes[4].lastData.toHex(), QByteArray(accepted ? "55" : ""));
    }

    // The byte count is one byte and the whole request, check byte included, must fit the buffer;
    // a device may ask for any number of preambles, and the request must still fit.
    void largestRequest_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("dataLength");
        QTest::addColumn<int>("preambles");
        QTest::addColumn<bool>("sent");
        QTest::newRow("command 6, buffer full") << 1 << 247 << 5 << true;
        QTest::newRow("command 6, one over") << 1 << 248 << 5 << false;
        QTest::newRow("command 300, buffer full") << 4 << 245 << 5 << true;
        QTest::newRow("command 300, one over") << 4 << 246 << 5 << false;
        QTest::newRow("255 preambles asked") << 1 << 68 << 255 << true;
    }
    void largestRequest()
    {
        QFETCH(int, row);
        QFETCH(int, dataLength);
        QFETCH(int, preambles);
        QFETCH(bool, sent);
        FrameRig rig(row, false);
        rig.master.preambleCount = std::uint8_t(preambles);
        rig.fakes[row].data = QByteArray(dataLength, char(0x5A));
        BuildStatus status;
        const QByteArray frame = rig.build(&status);
        QCOMPARE(int(status), sent ? Sent : NothingDue);
        // A full buffer leaves no room for preambles.
        QCOMPARE(frame.size(), sent ? int(requestBufferSize) : 0);
        if (!sent)
            return;
        // Preambles as far as they fit, then a frame that checks.
        const int start = frame.size() - (8 + (row == 4 ? 2 : 0) + dataLength + 1);
        QCOMPARE(values(frame.left(start) == QByteArray(start, '\xFF'), std::uint8_t(frame[start])),
                 values(true, 0x82));
        std::uint32_t n = std::uint32_t(frame.size() - start);
        QVERIFY(checkFrame(reinterpret_cast<const std::uint8_t*>(frame.constData()) + start, &n));
    }

    void priorityClassesAndRoundRobin()
    {
        FrameRig rig(-1, false);
        for (Fake& f : rig.fakes)
            f.pending = true;
        rig.fakes[0].cyclic = rig.fakes[2].cyclic = rig.fakes[5].cyclic = true;
        QCOMPARE(rig.sendOrder(9), (QList<int>{6, 300, 7, 1, 2, 90, 1, 2, 90}));

        // A write and a read raised between cyclic reads go first.
        FrameRig between(-1, false);
        between.fakes[0].cyclic = between.fakes[2].cyclic = true;
        QCOMPARE(between.sendOrder(1), QList<int>{1});
        between.fakes[3].pending = between.fakes[1].pending = true;
        QCOMPARE(between.sendOrder(3), (QList<int>{6, 7, 1}));
    }

    void timeoutAcrossTickWrap_data()
    {
        QTest::addColumn<quint32>("start");
        QTest::newRow("half range") << 0x7FFFFFFFu;
        QTest::newRow("wraps during wait") << 0xFFFFFC00u;
        QTest::newRow("last tick") << 0xFFFFFFFFu;
    }
    void timeoutAcrossTickWrap()
    {
        QFETCH(quint32, start);
        FrameRig rig(1, false);
        useFakeClock(start);
        QCOMPARE(rig.step(), Sent);
        fakeNow() = start + 1;
        QCOMPARE(rig.step(), Waiting);
        fakeNow() = start + 1999;
        QCOMPARE(rig.step(), Waiting);
        fakeNow() = start + 2000;
        QCOMPARE(rig.step(), Sent);
        QCOMPARE(int(rig.master.attempts), 4);
    }

    void continueSendsAtOnce()
    {
        FrameRig rig(3);
        rig.fakes[3].result = Continue;
        rig.fakes[5].cyclic = true;
        fakeNow() += 500;
        QCOMPARE(rig.answer(rig.goodAnswer()), std::uint32_t(Continue));
        QCOMPARE(rig.fakes[3].handled, 1);
        QCOMPARE(rig.step(), Sent);
        // The same entry, not the due cyclic read, with a full set of sends.
        QCOMPARE(values(rig.sentCommand(), rig.master.attempts, rig.master.deadline, rig.fakes[3].encoded),
                 values(7, 5, 3500, 2));
    }

    void noReplyAwaitedAndDroppedEncoder()
    {
        FrameRig rig(1, false);
        rig.fakes[1].timeout = 0;
        BuildStatus status;
        QVERIFY(!rig.build(&status).isEmpty());
        QCOMPARE(values(int(status), rig.master.attempts), values(int(BuildStatus::SentNoReply), 0));
        QCOMPARE(rig.answer(rig.goodAnswer()), std::uint32_t(Ignore)); // nothing outstanding

        // An encoder with nothing left at its retry is dropped.
        FrameRig cancelled;
        cancelled.fakes[1].pending = false;
        fakeNow() += 2000;
        QVERIFY(cancelled.build(&status).isEmpty());
        QCOMPARE(values(int(status), cancelled.master.attempts), values(NothingDue, 0));
    }

    void frames_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("broadcast");
        QTest::addColumn<bool>("accepted");
        const QByteArray good = longAnswer(6, 0, hex("0102"));
        const auto from = [](const char* address) { return longAnswer(6, 0, hex("0102"), 0, hex(address)); };
        const auto framed = [](const char* bytes) { return hex("ffff") + withCheckByte(hex(bytes)); };
        QTest::newRow("plain") << good << false << true;
        QTest::newRow("noise before preamble") << hex("00127e") + good << false << true;
        QTest::newRow("single preamble") << good.mid(1) << false << true;
        QTest::newRow("bytes after check byte") << good + hex("0000ff") << false << true;
        QTest::newRow("burst bit ignored") << from("7f040a0b0c") << false << true;
        QTest::newRow("broadcast from any device") << from("0102030405") << true << true;
        QTest::newRow("short frame from polling address") << shortAnswer(5, 6, 0, hex("0102")) << false << true;

        QTest::newRow("no preamble") << good.mid(2) << false << false;
        QTest::newRow("only preambles") << hex("10*ff") << false << false;
        QTest::newRow("empty") << QByteArray() << false << false;
        QTest::newRow("other device id") << from("3f040a0b0d") << false << false;
        QTest::newRow("master bit set") << from("bf040a0b0c") << false << false;
        QTest::newRow("other polling address") << shortAnswer(6, 6, 0, hex("0102")) << false << false;
        QTest::newRow("short with master bit") << shortAnswer(0x85, 6, 0, hex("0102")) << false << false;
        QTest::newRow("other command") << longAnswer(7, 0, hex("0102")) << false << false;
        QTest::newRow("extended number below 256") << longAnswer(31, 0, hex("00060102")) << false << false;
        QTest::newRow("extended number missing") << longAnswer(31, 0, hex("01")) << false << false;
        QTest::newRow("byte count 1") << framed("86 3f040a0b0c 06 01 00") << false << false;
        QTest::newRow("request frame type") << framed("82 3f040a0b0c 06 02 0000") << false << false;
        QTest::newRow("expansion byte not expected") << framed("a6 3f040a0b0c 01 06 02 0000") << false << false;
    }
    void frames()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, broadcast);
        QFETCH(bool, accepted);
        FrameRig rig;
        rig.master.broadcast = broadcast;
        std::uint8_t rc = 0xEE;
        QCOMPARE(rig.answer(bytes, &rc), std::uint32_t(accepted ? Ok : Ignore));
        if (accepted) {
            QCOMPARE(int(rc), 0);
            QCOMPARE(rig.fakes[1].lastData.toHex(), QByteArray("0102"));
        }
        QCOMPARE(rig.fakes[1].decoded, int(accepted));
        QCOMPARE(rig.fakes[1].handled, int(accepted));
        QCOMPARE(int(rig.master.attempts), accepted ? 0 : 5);
    }

    // A decoder that ignores the data keeps the request outstanding and skips the handler; the
    // request goes again with one attempt fewer (answers the frame layer ignores: the command tests).
    void decoderIgnoreRepeatsWithOneAttemptFewer()
    {
        FrameRig rig(1, false);
        const QByteArray first = rig.build();
        rig.fakes[1].result = Ignore;
        QCOMPARE(rig.answer(rig.goodAnswer()), std::uint32_t(Ignore));
        QCOMPARE(rig.fakes[1].handled, 0);
        QCOMPARE(rig.build(), first);
        QCOMPARE(int(rig.master.attempts), 4);
    }

    void answerSplitOrCorruptedAtEveryByte()
    {
        const QByteArray good = hex("3142") + longAnswer(6, 0, hex("0102030405"));
        for (int cut = 0; cut < good.size(); ++cut) {
            FrameRig rig;
            QCOMPARE(rig.answer(good.left(cut)), std::uint32_t(Ignore));
            if (cut > 4) // the tail has lost the delimiter
                QCOMPARE(rig.answer(good.mid(cut)), std::uint32_t(Ignore));
            QCOMPARE(rig.fakes[1].decoded, 0);
            QCOMPARE(rig.answer(good), std::uint32_t(Ok));
        }
        for (int at = 4; at < good.size(); ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                FrameRig rig;
                QByteArray bad = good;
                bad[at] = char(bad.at(at) ^ (1 << bit));
                QCOMPARE(rig.answer(bad), std::uint32_t(Ignore));
                QCOMPARE(rig.fakes[1].decoded, 0);
            }
        }
    }

    void communicationErrors_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<quint32>("result");
        QTest::addColumn<bool>("decoderCalled");
        QTest::newRow("0x82 buffer overflow") << 0x82 << 47u << false;
        QTest::newRow("0xc0") << 0xC0 << 52u << false;
        QTest::newRow("0xfe first bit wins") << 0xFE << 47u << false;
        QTest::newRow("0x80 reaches decoder") << 0x80 << 0u << true;
        QTest::newRow("64 not implemented") << 64 << 38u << false;
    }
    void communicationErrors()
    {
        QFETCH(int, status);
        QFETCH(quint32, result);
        QFETCH(bool, decoderCalled);
        FrameRig rig;
        std::uint8_t rc = 0;
        QCOMPARE(rig.answer(longAnswer(6, status, QByteArray()), &rc), result);
        // No retry.
        QCOMPARE(values(rc, rig.fakes[1].decoded, rig.fakes[1].handled, rig.master.attempts),
                 values(status, int(decoderCalled), int(decoderCalled), 0));
    }

    void deviceStatusSeenOnEveryCheckedFrame()
    {
        FrameRig rig;
        QCOMPARE(rig.master.deviceStatus, std::uint8_t(0x10));
        QCOMPARE(rig.answer(longAnswer(7, 0, QByteArray(), 0x41)), std::uint32_t(Ignore)); // other command
        QCOMPARE(rig.answer(longAnswer(6, 0x84, QByteArray(), 0x80)), 48u);
        QCOMPARE(rig.master.deviceStatus, std::uint8_t(0x80));
        QCOMPARE(rig.answer(longAnswer(6, 0, QByteArray(), 0x01)), std::uint32_t(Ignore)); // nothing outstanding
        QCOMPARE(statusSeen, (QList<int>{0x41, 0x80}));
    }

    void checkFrameLimits_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("length"); // -1: rejected
        QTest::newRow("short, no data") << withCheckByte(hex("06050000")) << 4;
        QTest::newRow("long, status only") << withCheckByte(hex("863f040a0b0c06020000")) << 10;
        QTest::newRow("count one past the end") << withCheckByte(hex("863f040a0b0c06030000")) << -1;
        QTest::newRow("trailing bytes kept out") << withCheckByte(hex("06050000")) + hex("eeee") << 4;
        QTest::newRow("header cut") << hex("863f040a0b") << -1;
        QTest::newRow("no room for check byte") << hex("06060000") << -1; // sums to zero without one
        QTest::newRow("three expansion bytes") << withCheckByte(hex("e63f040a0b0c01020306020000")) << 13;
        QTest::newRow("count 255 in a 5-byte frame") << withCheckByte(hex("060500ff")) << -1;
        QTest::newRow("largest frame") << withCheckByte(hex("8600000000000ffd 253*78")) << 261;
    }
    void checkFrameLimits()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        std::uint32_t n = std::uint32_t(bytes.size());
        const bool ok = checkFrame(reinterpret_cast<const std::uint8_t*>(bytes.constData()), &n);
        QCOMPARE(ok, length >= 0);
        if (ok)
            QCOMPARE(int(n), length);
    }

    void emptyTable()
    {
        ParserMaster master;
        std::uint8_t buffer[requestBufferSize];
        std::uint32_t length = 7;
        QCOMPARE(int(master.buildRequest(buffer, &length)), NothingDue);
        QCOMPARE(length, 0u);
        std::uint8_t answer[] = {0xFF, 0x06, 0x05, 0x00, 0x02, 0x00, 0x00, 0x01};
        QCOMPARE(master.parseResponse(answer, sizeof answer, nullptr), std::uint32_t(Ignore));
    }
};

QTEST_APPLESS_MAIN(TestHartFrame)
#include "tst_hart_frame.moc"
