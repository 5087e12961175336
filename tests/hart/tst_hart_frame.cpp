#include <QtTest>

#include <cstring>

#include "hartrig.h"

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
    int lastResponseCode = -1;
    QByteArray lastData;
};

std::int32_t fakeEncode(void* context, ParserMaster*, std::uint8_t** cursor)
{
    Fake* f = static_cast<Fake*>(context);
    if (!f->pending && !f->cyclic)
        return -1;
    ++f->encoded;
    memcpy(*cursor, f->data.constData(), size_t(f->data.size()));
    *cursor += f->data.size();
    return f->timeout;
}

std::uint32_t fakeDecode(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                         std::uint8_t)
{
    Fake* f = static_cast<Fake*>(context);
    ++f->decoded;
    f->lastData = QByteArray(reinterpret_cast<const char*>(data), int(end - data));
    if (f->result == Ok)
        f->pending = false;
    return f->result;
}

void fakeHandle(void* context, ParserMaster*, std::uint8_t responseCode)
{
    Fake* f = static_cast<Fake*>(context);
    ++f->handled;
    f->lastResponseCode = responseCode;
}

int statusCalls = 0;
std::uint8_t lastStatus = 0;
void countStatus(ParserMaster*, std::uint8_t status)
{
    ++statusCalls;
    lastStatus = status;
}

// Rows: cyclic 1 (class 3), write 6 (class 0), cyclic 2 (class 3), read 7 (class 1),
// extended 300 (class 0), cyclic 90 (class 3, last row).
struct FrameRig {
    Fake fakes[6];
    CommandEntry table[6];
    ParserMaster master;

    FrameRig()
    {
        const std::uint16_t commands[6] = {1, 6, 2, 7, 300, 90};
        const std::uint8_t classes[6] = {3, 0, 3, 1, 0, 3};
        for (int i = 0; i < 6; ++i)
            table[i] = CommandEntry{&fakes[i], fakeDecode, fakeEncode, fakeHandle, commands[i], classes[i]};
        master = ParserMaster(table, 6, nullptr, countStatus);
        master.expandedDeviceType = 0xFF04;
        master.deviceId = 0x0A0B0C;
        master.pollingAddress = 5;
        master.preambleCount = 5;
        useFakeClock(1000);
        statusCalls = 0;
    }

    QByteArray build(BuildStatus* status = nullptr)
    {
        std::uint8_t buffer[requestBufferSize];
        std::uint32_t length = 0;
        const BuildStatus s = master.buildRequest(buffer, &length);
        if (status)
            *status = s;
        return QByteArray(reinterpret_cast<const char*>(buffer), int(length));
    }

    std::uint32_t answer(const QByteArray& bytes, std::uint8_t* responseCode = nullptr)
    {
        std::uint8_t buffer[256] = {};
        memcpy(buffer, bytes.constData(), size_t(qMin(bytes.size(), 256)));
        std::uint8_t rc = 0;
        const std::uint32_t r = master.parseResponse(buffer, std::uint32_t(qMin(bytes.size(), 256)), &rc);
        if (responseCode)
            *responseCode = rc;
        return r;
    }

    // Command number of the entry the master sent last.
    int sentCommand() const { return master.current ? master.current->command : -1; }

    QByteArray goodAnswer() const
    {
        const int command = master.current->command;
        if (command >= 256)
            return longAnswer(31, 0, QByteArray(1, char(command >> 8)) + char(command & 0xFF));
        return longAnswer(command, 0, QByteArray());
    }
};

} // namespace

class TestHartFrame : public QObject {
    Q_OBJECT

private slots:
    void commandZeroToPollingAddress();
    void extendedCommandFrame();
    void priorityClassesAndRoundRobin();
    void writeRaisedBetweenCyclicReads();
    void retriesThenNoResponse();
    void timeoutAcrossTickWrap_data();
    void timeoutAcrossTickWrap();
    void continueSendsAtOnce();
    void noReplyAwaited();
    void encoderWithNothingLeftIsDropped();
    void acceptedFrames_data();
    void acceptedFrames();
    void rejectedFrames_data();
    void rejectedFrames();
    void ignoredAnswerRepeatsWithOneAttemptFewer();
    void answerSplitAtEveryByte();
    void answerCorruptedAtEveryByte();
    void communicationErrors_data();
    void communicationErrors();
    void deviceStatusSeenOnEveryCheckedFrame();
    void checkFrameLimits_data();
    void checkFrameLimits();
    void preambleHelpers();
    void preamblesBoundedByBuffer();
    void emptyTable();
};

void TestHartFrame::commandZeroToPollingAddress()
{
    Rig rig;
    rig.identity.requestFlags |= IdentityRequest::ReadUniqueIdentifier;
    BuildStatus status;
    const QByteArray frame = rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    QCOMPARE(frame.toHex(), (QByteArray(20, char(0xFF)) + hex("0205000007")).toHex());
    QCOMPARE(rig.master.deadline, 3000u);
    QCOMPARE(int(rig.master.attempts), 5);
}

void TestHartFrame::extendedCommandFrame()
{
    FrameRig rig;
    rig.fakes[4].pending = true;
    rig.fakes[4].data = hex("ab");
    const QByteArray frame = rig.build();
    QCOMPARE(frame.toHex(), QByteArray("ffffffffff823f040a0b0c1f03012cab2e"));
    // The answer carries the extended number after the status bytes; the decoder sees what follows.
    QCOMPARE(rig.answer(longAnswer(31, 0, hex("012c55"))), std::uint32_t(Ok));
    QCOMPARE(rig.fakes[4].lastData.toHex(), QByteArray("55"));
}

void TestHartFrame::priorityClassesAndRoundRobin()
{
    FrameRig rig;
    for (Fake& f : rig.fakes)
        f.pending = true;
    rig.fakes[0].cyclic = rig.fakes[2].cyclic = rig.fakes[5].cyclic = true;
    QList<int> order;
    for (int i = 0; i < 9; ++i) {
        rig.build();
        order << rig.sentCommand();
        QCOMPARE(rig.answer(rig.goodAnswer()), std::uint32_t(Ok));
    }
    QCOMPARE(order, (QList<int>{6, 300, 7, 1, 2, 90, 1, 2, 90}));
}

void TestHartFrame::writeRaisedBetweenCyclicReads()
{
    FrameRig rig;
    rig.fakes[0].cyclic = rig.fakes[2].cyclic = true;
    rig.build();
    QCOMPARE(rig.sentCommand(), 1);
    rig.answer(rig.goodAnswer());
    rig.fakes[3].pending = true; // a read on demand
    rig.fakes[1].pending = true; // and a write
    rig.build();
    QCOMPARE(rig.sentCommand(), 6);
    rig.answer(rig.goodAnswer());
    rig.build();
    QCOMPARE(rig.sentCommand(), 7);
    rig.answer(rig.goodAnswer());
    rig.build();
    QCOMPARE(rig.sentCommand(), 1);
}

void TestHartFrame::retriesThenNoResponse()
{
    FrameRig rig;
    rig.fakes[1].pending = true;
    BuildStatus status;
    const QByteArray first = rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    int sends = 1;
    for (int round = 0; round < 10; ++round) {
        QVERIFY(rig.build(&status).isEmpty());
        QCOMPARE(int(status), int(BuildStatus::Waiting));
        fakeNow() += 1999;
        QCOMPARE(int((rig.build(&status), status)), int(BuildStatus::Waiting));
        fakeNow() += 1;
        const QByteArray again = rig.build(&status);
        if (status == BuildStatus::NoResponse) {
            QVERIFY(again.isEmpty());
            break;
        }
        QCOMPARE(int(status), int(BuildStatus::Sent));
        QCOMPARE(again, first);
        ++sends;
    }
    QCOMPARE(sends, 5);
    QCOMPARE(int(rig.master.attempts), 0);
    // The next build starts afresh with the request still due.
    QCOMPARE(rig.build(&status), first);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    QCOMPARE(int(rig.master.attempts), 5);
}

void TestHartFrame::timeoutAcrossTickWrap_data()
{
    QTest::addColumn<quint32>("start");
    QTest::newRow("zero") << 0u;
    QTest::newRow("half range") << 0x7FFFFFFFu;
    QTest::newRow("wraps during wait") << 0xFFFFFC00u;
    QTest::newRow("last tick") << 0xFFFFFFFFu;
}

void TestHartFrame::timeoutAcrossTickWrap()
{
    QFETCH(quint32, start);
    FrameRig rig;
    useFakeClock(start);
    rig.fakes[1].pending = true;
    BuildStatus status;
    rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    fakeNow() = start + 1999;
    rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::Waiting));
    fakeNow() = start + 2000;
    rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    QCOMPARE(int(rig.master.attempts), 4);
}

void TestHartFrame::continueSendsAtOnce()
{
    FrameRig rig;
    rig.fakes[3].pending = true;
    rig.fakes[3].result = Continue;
    rig.fakes[5].cyclic = true;
    rig.build();
    fakeNow() += 500;
    QCOMPARE(rig.answer(rig.goodAnswer()), std::uint32_t(Continue));
    QCOMPARE(rig.fakes[3].handled, 1);
    BuildStatus status;
    rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    QCOMPARE(rig.sentCommand(), 7); // the same entry, not the due cyclic read
    QCOMPARE(int(rig.master.attempts), 5);
    QCOMPARE(rig.master.deadline, 3500u);
    QCOMPARE(rig.fakes[3].encoded, 2);
}

void TestHartFrame::noReplyAwaited()
{
    FrameRig rig;
    rig.fakes[1].pending = true;
    rig.fakes[1].timeout = 0;
    BuildStatus status;
    QVERIFY(!rig.build(&status).isEmpty());
    QCOMPARE(int(status), int(BuildStatus::SentNoReply));
    QCOMPARE(int(rig.master.attempts), 0);
    QCOMPARE(rig.answer(rig.goodAnswer()), std::uint32_t(Ignore)); // nothing outstanding
}

void TestHartFrame::encoderWithNothingLeftIsDropped()
{
    FrameRig rig;
    rig.fakes[1].pending = true;
    rig.build();
    rig.fakes[1].pending = false; // cancelled meanwhile
    fakeNow() += 2000;
    BuildStatus status;
    QVERIFY(rig.build(&status).isEmpty());
    QCOMPARE(int(status), int(BuildStatus::NothingDue));
    QCOMPARE(int(rig.master.attempts), 0);
}

void TestHartFrame::acceptedFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("broadcast");
    const QByteArray good = longAnswer(6, 0, hex("0102"));
    QTest::newRow("plain") << good << false;
    QTest::newRow("noise before preamble") << hex("00127e") + good << false;
    QTest::newRow("single preamble") << good.mid(1) << false;
    QTest::newRow("bytes after check byte") << good + hex("0000ff") << false;
    QTest::newRow("burst bit ignored") << longAnswer(6, 0, hex("0102"), 0, hex("7f040a0b0c")) << false;
    QTest::newRow("broadcast from any device") << longAnswer(6, 0, hex("0102"), 0, hex("0102030405")) << true;
    QTest::newRow("short frame from polling address") << shortAnswer(5, 6, 0, hex("0102")) << false;
}

void TestHartFrame::acceptedFrames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, broadcast);
    FrameRig rig;
    rig.fakes[1].pending = true;
    rig.build();
    rig.master.broadcast = broadcast;
    std::uint8_t rc = 0xEE;
    QCOMPARE(rig.answer(bytes, &rc), std::uint32_t(Ok));
    QCOMPARE(int(rc), 0);
    QCOMPARE(rig.fakes[1].lastData.toHex(), QByteArray("0102"));
    QCOMPARE(rig.fakes[1].handled, 1);
    QCOMPARE(int(rig.master.attempts), 0);
}

void TestHartFrame::rejectedFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = longAnswer(6, 0, hex("0102"));
    QByteArray badCheck = good;
    badCheck[badCheck.size() - 1] = char(badCheck.at(badCheck.size() - 1) ^ 0x40);
    QTest::newRow("bad check byte") << badCheck;
    QTest::newRow("no preamble") << good.mid(2);
    QTest::newRow("only preambles") << QByteArray(10, char(0xFF));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated") << good.left(good.size() - 1);
    QTest::newRow("other device id") << longAnswer(6, 0, hex("0102"), 0, hex("3f040a0b0d"));
    QTest::newRow("other device type") << longAnswer(6, 0, hex("0102"), 0, hex("3e040a0b0c"));
    QTest::newRow("master bit set") << longAnswer(6, 0, hex("0102"), 0, hex("bf040a0b0c"));
    QTest::newRow("other polling address") << shortAnswer(6, 6, 0, hex("0102"));
    QTest::newRow("short with master bit") << shortAnswer(0x85, 6, 0, hex("0102"));
    QTest::newRow("other command") << longAnswer(7, 0, hex("0102"));
    QTest::newRow("extended number below 256") << longAnswer(31, 0, hex("00060102"));
    QTest::newRow("extended number missing") << longAnswer(31, 0, hex("01"));
    QTest::newRow("byte count 1") << QByteArray(2, char(0xFF)) + withCheckByte(hex("863f040a0b0c060100"));
    QTest::newRow("byte count 0") << QByteArray(2, char(0xFF)) + withCheckByte(hex("863f040a0b0c0600"));
    QTest::newRow("request frame type") << QByteArray(2, char(0xFF)) + withCheckByte(hex("823f040a0b0c06020000"));
    QTest::newRow("expansion byte not expected")
        << QByteArray(2, char(0xFF)) + withCheckByte(hex("a63f040a0b0c0106020000"));
}

void TestHartFrame::rejectedFrames()
{
    QFETCH(QByteArray, bytes);
    FrameRig rig;
    rig.fakes[1].pending = true;
    rig.build();
    std::uint8_t rc = 0;
    QCOMPARE(rig.answer(bytes, &rc), std::uint32_t(Ignore));
    QCOMPARE(rig.fakes[1].decoded, 0);
    QCOMPARE(rig.fakes[1].handled, 0);
    QCOMPARE(int(rig.master.attempts), 5);
}

void TestHartFrame::ignoredAnswerRepeatsWithOneAttemptFewer()
{
    FrameRig rig;
    rig.fakes[1].pending = true;
    const QByteArray first = rig.build();
    fakeNow() += 300;
    QCOMPARE(rig.answer(shortAnswer(9, 6, 0, hex("0102"))), std::uint32_t(Ignore));
    BuildStatus status;
    QCOMPARE(rig.build(&status), first);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    QCOMPARE(int(rig.master.attempts), 4);
    // A decoder that ignores the data keeps the request outstanding and skips the handler.
    rig.fakes[1].result = Ignore;
    QCOMPARE(rig.answer(rig.goodAnswer()), std::uint32_t(Ignore));
    QCOMPARE(rig.fakes[1].handled, 0);
    QCOMPARE(rig.build(&status), first);
    QCOMPARE(int(rig.master.attempts), 3);
}

void TestHartFrame::answerSplitAtEveryByte()
{
    const QByteArray good = hex("3142") + longAnswer(6, 0, hex("0102030405"));
    for (int cut = 0; cut < good.size(); ++cut) {
        FrameRig rig;
        rig.fakes[1].pending = true;
        rig.build();
        QCOMPARE(rig.answer(good.left(cut)), std::uint32_t(Ignore));
        if (cut > 4) // the tail has lost the delimiter
            QCOMPARE(rig.answer(good.mid(cut)), std::uint32_t(Ignore));
        QCOMPARE(rig.fakes[1].decoded, 0);
        QCOMPARE(rig.answer(good), std::uint32_t(Ok));
    }
}

void TestHartFrame::answerCorruptedAtEveryByte()
{
    const QByteArray good = longAnswer(6, 0, hex("0102030405"));
    for (int at = 2; at < good.size(); ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            FrameRig rig;
            rig.fakes[1].pending = true;
            rig.build();
            QByteArray bad = good;
            bad[at] = char(bad.at(at) ^ (1 << bit));
            QCOMPARE(rig.answer(bad), std::uint32_t(Ignore));
            QCOMPARE(rig.fakes[1].decoded, 0);
        }
    }
}

void TestHartFrame::communicationErrors_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<quint32>("result");
    QTest::addColumn<bool>("decoderCalled");
    QTest::newRow("0x82 buffer overflow") << 0x82 << 47u << false;
    QTest::newRow("0x84") << 0x84 << 48u << false;
    QTest::newRow("0x88") << 0x88 << 49u << false;
    QTest::newRow("0x90") << 0x90 << 50u << false;
    QTest::newRow("0xa0") << 0xA0 << 51u << false;
    QTest::newRow("0xc0") << 0xC0 << 52u << false;
    QTest::newRow("0xfe first bit wins") << 0xFE << 47u << false;
    QTest::newRow("0x80 reaches decoder") << 0x80 << 0u << true;
    QTest::newRow("64 not implemented") << 64 << 38u << false;
}

void TestHartFrame::communicationErrors()
{
    QFETCH(int, status);
    QFETCH(quint32, result);
    QFETCH(bool, decoderCalled);
    FrameRig rig;
    rig.fakes[1].pending = true;
    rig.build();
    std::uint8_t rc = 0;
    QCOMPARE(rig.answer(longAnswer(6, status, QByteArray()), &rc), result);
    QCOMPARE(int(rc), status);
    QCOMPARE(rig.fakes[1].decoded, decoderCalled ? 1 : 0);
    QCOMPARE(rig.fakes[1].handled, decoderCalled ? 1 : 0);
    QCOMPARE(int(rig.master.attempts), 0); // no retry
}

void TestHartFrame::deviceStatusSeenOnEveryCheckedFrame()
{
    FrameRig rig;
    rig.fakes[1].pending = true;
    rig.build();
    QCOMPARE(rig.master.deviceStatus, std::uint8_t(0x10));
    QCOMPARE(rig.answer(longAnswer(7, 0, QByteArray(), 0x41)), std::uint32_t(Ignore)); // other command
    QCOMPARE(statusCalls, 1);
    QCOMPARE(lastStatus, std::uint8_t(0x41));
    QCOMPARE(rig.answer(longAnswer(6, 0x84, QByteArray(), 0x80)), 48u);
    QCOMPARE(statusCalls, 2);
    QCOMPARE(rig.master.deviceStatus, std::uint8_t(0x80));
    QCOMPARE(rig.answer(longAnswer(6, 0, QByteArray(), 0x01)), std::uint32_t(Ignore)); // nothing outstanding
    QCOMPARE(statusCalls, 2);
}

void TestHartFrame::checkFrameLimits_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("length"); // -1: rejected
    QTest::newRow("short, no data") << withCheckByte(hex("06050000")) << 4;
    QTest::newRow("long, status only") << withCheckByte(hex("863f040a0b0c06020000")) << 10;
    QTest::newRow("count one past the end") << withCheckByte(hex("863f040a0b0c06030000")) << -1;
    QTest::newRow("missing check byte") << hex("863f040a0b0c06020000") << -1;
    QTest::newRow("trailing bytes kept out") << withCheckByte(hex("06050000")) + hex("eeee") << 4;
    QTest::newRow("one byte") << hex("06") << -1;
    QTest::newRow("header cut") << hex("863f040a0b") << -1;
    QTest::newRow("three expansion bytes") << withCheckByte(hex("e63f040a0b0c01020306020000")) << 13;
    QTest::newRow("count 255 in a 5-byte frame") << withCheckByte(hex("060500ff")) << -1;
    QByteArray big = hex("8600000000000ffd") + QByteArray(253, 'x');
    QTest::newRow("largest frame") << withCheckByte(big) << 261;
}

void TestHartFrame::checkFrameLimits()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, length);
    std::uint32_t n = std::uint32_t(bytes.size());
    const bool ok = checkFrame(reinterpret_cast<const std::uint8_t*>(bytes.constData()), &n);
    QCOMPARE(ok, length >= 0);
    if (ok)
        QCOMPARE(int(n), length);
}

void TestHartFrame::preambleHelpers()
{
    std::uint8_t buffer[16] = {0x01, 0x02, 0xFF, 0xFF, 0x06, 0x07, 0xFF, 0x08};
    QCOMPARE(stripPreamble(buffer, 8), 4u);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 4).toHex(), QByteArray("0607ff08"));
    QCOMPARE(insertPreamble(buffer, 4, 3), 7u);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 7).toHex(), QByteArray("ffffff0607ff08"));
    std::uint8_t none[3] = {1, 2, 3};
    QCOMPARE(stripPreamble(none, 3), 0u);
    QCOMPARE(stripPreamble(none, 0), 0u);
}

void TestHartFrame::preamblesBoundedByBuffer()
{
    // A device may ask for any number of preambles; the request must still fit the buffer.
    FrameRig rig;
    rig.master.preambleCount = 255;
    rig.fakes[1].pending = true;
    rig.fakes[1].data = QByteArray(68, char(0x5A));
    const QByteArray frame = rig.build();
    QCOMPARE(frame.size(), int(requestBufferSize));
    std::uint8_t copy[requestBufferSize];
    memcpy(copy, frame.constData(), requestBufferSize);
    std::uint32_t n = stripPreamble(copy, requestBufferSize);
    QCOMPARE(n, 8u + 68 + 1);
    QVERIFY(checkFrame(copy, &n));
}

void TestHartFrame::emptyTable()
{
    ParserMaster master;
    std::uint8_t buffer[requestBufferSize];
    std::uint32_t length = 7;
    QCOMPARE(int(master.buildRequest(buffer, &length)), int(BuildStatus::NothingDue));
    QCOMPARE(length, 0u);
    std::uint8_t answer[] = {0xFF, 0x06, 0x05, 0x00, 0x02, 0x00, 0x00, 0x01};
    QCOMPARE(master.parseResponse(answer, sizeof answer, nullptr), std::uint32_t(Ignore));
}

QTEST_APPLESS_MAIN(TestHartFrame)
#include "tst_hart_frame.moc"
