#include <QtTest>

#include "hartrig.h"
#include "../support/values.h"

using namespace Hart;
using namespace HartTest;

namespace {

// What the event-log callbacks saw, in order.
struct LogTrace {
    QStringList calls;
    bool readCaptions = true;
    std::uint32_t resumeAt = 0;
    bool useResume = false;
    bool stopInRecords = false;
    int finished = 0;
    std::uint32_t remainingInRange = 0;
};
LogTrace* trace = nullptr;

struct LogRig : Rig {
    LogTrace seen;

    explicit LogRig(std::uint8_t state = EventLogState::Info)
    {
        trace = &seen;
        eventLog.onInfo = [](ParserMasterEventLog*, std::uint16_t count, std::uint32_t a, std::uint32_t b) {
            trace->calls << QString::asprintf("info %u %08x %08x", count, a, b);
            return trace->readCaptions;
        };
        eventLog.onCaption = [](ParserMasterEventLog*, std::uint16_t index, std::uint32_t id, const char* text) {
            trace->calls << QString::asprintf("caption %u %u ", index, id) + QString::fromLatin1(text);
        };
        eventLog.onRange = [](ParserMasterEventLog* log, std::uint32_t first, std::uint32_t count) {
            trace->calls << QString::asprintf("range %u %u", first, count);
            trace->remainingInRange = log->remaining;
            return trace->useResume ? trace->resumeAt : first;
        };
        eventLog.onRecords = [](ParserMasterEventLog* log, std::uint32_t index, std::uint8_t count, std::uint8_t type,
                                std::uint32_t a, std::uint32_t b, const std::uint8_t* data, std::uint32_t length) {
            trace->calls << QString::asprintf("records %u %u %u %u %u ", index, count, type, a, b)
                    + QByteArray(reinterpret_cast<const char*>(data), int(length)).toHex();
            if (trace->stopInRecords) { // as the window does when storing fails
                log->requestFlags = 0;
                log->state = EventLogState::Info;
                log->remaining = 0;
            }
        };
        eventLog.onFinished = [](ParserMasterEventLog*) { ++trace->finished; };
        eventLog.requestFlags = EventLogRequest::Read;
        eventLog.state = state;
    }

    std::uint32_t reply(const char* data) { return answer(longAnswer(252, 0, hex(data))); }

    // From the range state: asks for the range and gets this answer.
    void startRecords(const char* range)
    {
        nextRequest();
        reply(range);
    }
};

// Firmware callbacks: a 130-byte image whose bytes count up from 0; every read is logged so a
// read past the image shows.
struct FirmwareTrace {
    std::uint32_t size = 130;
    int begins = 0;
    QList<QPair<std::uint32_t, std::uint32_t>> reads;
    QList<std::uint32_t> progress;
    bool unreadable = false; // the file was cut short: the read stops the transfer
};
FirmwareTrace* firmwareTrace = nullptr;

struct FirmwareRig : Rig {
    FirmwareTrace seen;

    FirmwareRig()
    {
        firmwareTrace = &seen;
        firmware.begin = [](ParserMasterFirmwareUpdate*) { return ++firmwareTrace->begins, firmwareTrace->size; };
        firmware.readChunk = [](ParserMasterFirmwareUpdate* u, std::uint32_t offset, std::uint8_t* to, std::uint32_t n) {
            firmwareTrace->reads << qMakePair(offset, n);
            if (firmwareTrace->unreadable)
                u->requestFlags = 0;
            for (std::uint32_t i = 0; i < n; ++i)
                to[i] = std::uint8_t(offset + i);
        };
        firmware.onProgress = [](ParserMasterFirmwareUpdate*, std::uint32_t offset) { firmwareTrace->progress << offset; };
        firmware.requestFlags = FirmwareRequest::Transfer;
    }

    std::uint32_t reply(const char* data, int responseCode = 0)
    {
        return answer(longAnswer(253, responseCode, hex(data)));
    }

    // Announced, and the device asks for the first chunk.
    void started()
    {
        nextRequest();
        reply("00000000");
        nextRequest();
    }
};

const quint32 I = Ignore;

} // namespace

class TestHartTransfers : public QObject {
    Q_OBJECT

private slots:
    // The log's description: without captions (none, or not wanted) the range follows; a malformed
    // one reaches no callback and is asked again.
    void info_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("readCaptions");
        QTest::addColumn<quint32>("result");
        QTest::addColumn<QByteArray>("next");
        const auto row = [](const char* name, const char* answer, bool readCaptions, quint32 result, const char* next) {
            QTest::newRow(name) << QByteArray(answer) << readCaptions << result << QByteArray(next);
        };
        row("count 0", "00 0000 01000000 02000000", true, Continue, "02");
        row("captions not wanted", "00 0500 01000000 02000000", false, Continue, "02");
        row("one byte short", "00 0200 44332211 887766", true, I, "00");
        row("one byte too long", "00 0200 44332211 88776655 00", true, I, "00");
        row("other subcommand", "02 0200 44332211 88776655", true, I, "00");
    }
    void info()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, readCaptions);
        QFETCH(quint32, result);
        QFETCH(QByteArray, next);
        LogRig rig;
        rig.seen.readCaptions = readCaptions;
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("00"));
        QCOMPARE(rig.reply(answer.constData()), result);
        QCOMPARE(rig.nextRequest().toHex(), next);
        QCOMPARE(rig.seen.calls.size(), result == I ? 0 : 1);
    }

    void malformedCaptions_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("no terminator") << QByteArray("01 0000 07000000 4e6f726d61");
        QTest::newRow("terminator not last") << QByteArray("01 0000 07000000 4e6f00726d61");
        QTest::newRow("no text at all") << QByteArray("01 0000 07000000");
        QTest::newRow("other index") << QByteArray("01 0100 07000000 4100");
        QTest::newRow("other subcommand") << QByteArray("03 0000 07000000 4100");
        QTest::newRow("only subcommand") << QByteArray("01");
    }
    void malformedCaptions()
    {
        QFETCH(QByteArray, answer);
        LogRig rig;
        rig.nextRequest();
        rig.reply("00 0100 01000000 02000000");
        const QByteArray request = rig.nextRequest();
        QCOMPARE(rig.reply(answer.constData()), std::uint32_t(Ignore));
        QCOMPARE(rig.seen.calls.size(), 1);
        QCOMPARE(rig.nextRequest(), request);
        // The smallest good caption: an empty text.
        QCOMPARE(rig.reply("01 0000 07000000 00"), std::uint32_t(Continue));
        QCOMPARE(rig.seen.calls.last(), QString("caption 0 7 "));
    }

    void resumePoint_data()
    {
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<quint32>("resume");
        QTest::addColumn<QByteArray>("next"); // empty: finished at once
        QTest::addColumn<quint32>("remaining");
        QTest::newRow("from first") << QByteArray("02 05000000 04000000") << 5u << QByteArray("0305000000") << 4u;
        QTest::newRow("after stored") << QByteArray("02 05000000 04000000") << 7u << QByteArray("0307000000") << 2u;
        QTest::newRow("below first raised") << QByteArray("02 05000000 04000000") << 1u << QByteArray("0305000000")
                                            << 4u;
        QTest::newRow("at end") << QByteArray("02 05000000 04000000") << 9u << QByteArray() << 0u;
        QTest::newRow("beyond end") << QByteArray("02 05000000 04000000") << 100u << QByteArray() << 0u;
        QTest::newRow("empty log") << QByteArray("02 05000000 00000000") << 5u << QByteArray() << 0u;
        QTest::newRow("end past 2^32") << QByteArray("02 f0ffffff 20000000") << 0xFFFFFFF0u
                                       << QByteArray("03f0ffffff") << 0x20u;
        // The range is left untouched.
        QTest::newRow("wrong length") << QByteArray("02 05000000 040000") << 5u << QByteArray("02") << 12345u;
    }
    void resumePoint()
    {
        QFETCH(QByteArray, range);
        QFETCH(quint32, resume);
        QFETCH(QByteArray, next);
        QFETCH(quint32, remaining);
        LogRig rig(EventLogState::Range);
        rig.seen.useResume = true;
        rig.seen.resumeAt = resume;
        rig.eventLog.remaining = 12345; // left from an earlier download
        rig.startRecords(range.constData());
        QCOMPARE(rig.nextRequest().toHex(), next);
        QCOMPARE(rig.eventLog.remaining, remaining);
        QCOMPARE(rig.seen.finished, next.isEmpty() ? 1 : 0);
        // The callback sees the count of this answer, not what a previous download left behind.
        if (!rig.seen.calls.isEmpty()) {
            const QByteArray count = QByteArray::fromHex(range.split(' ').value(2));
            QCOMPARE(rig.seen.remainingInRange, qFromLittleEndian<quint32>(count.constData()));
        }
    }

    void recordBlocks()
    {
        LogRig rig(EventLogState::Range);
        rig.startRecords("02 00000000 0a000000");
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("0300000000"));
        // Another block than the one asked for: asked again, not stored.
        QCOMPARE(rig.reply("03 01000000 01 00000000 01 00000000"), std::uint32_t(Ignore));
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("0300000000"));
        QCOMPARE(int(rig.master.attempts), 4);
        // A block covering no position would be asked for without end.
        QCOMPARE(rig.reply("03 00000000 01 00000000 00 00000000"), std::uint32_t(Ignore));
        // Too short to be a block, too long to be a short answer.
        QCOMPARE(rig.reply("03 00000000 01 00000000 01 000000"), std::uint32_t(Ignore));
        QCOMPARE(rig.seen.calls.size(), 1);
        // The data length is the rest of the frame, whatever the block says.
        QCOMPARE(rig.reply("03 00000000 05 01000000 03 02000000 ffeeddccbbaa99"), std::uint32_t(Continue));
        // On to the next block with a full set of sends.
        QCOMPARE(values(rig.seen.calls.last(), rig.eventLog.index, rig.eventLog.remaining, rig.master.attempts),
                 values(QString("records 0 3 5 1 2 ffeeddccbbaa99"), 3, 7, 6));
    }

    void shortRecordAnswers()
    {
        LogRig rig(EventLogState::Range);
        rig.startRecords("02 00000000 02000000");
        rig.nextRequest();
        // The record was overwritten meanwhile: the range is read again.
        QCOMPARE(rig.reply("03 00000000 84"), std::uint32_t(Continue));
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("02"));
        rig.reply("02 01000000 02000000");
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("0301000000"));
        // No such record: skipped.
        QCOMPARE(rig.reply("03 01000000 00"), std::uint32_t(Continue));
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("0302000000"));
        // A late short answer for the record before: the one asked for is asked again, not skipped.
        QCOMPARE(rig.reply("03 01000000 85"), std::uint32_t(Ignore));
        QCOMPARE(rig.reply("03 01000000 84"), std::uint32_t(Ignore));
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("0302000000"));
        QCOMPARE(rig.reply("03 02000000 00"), std::uint32_t(Ok));
        QCOMPARE(rig.seen.finished, 1);
    }

    void eraseTakesPrecedence()
    {
        LogRig rig;
        rig.eventLog.requestFlags = EventLogRequest::Read | EventLogRequest::Erase;
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("80ff0055aa"));
        QCOMPARE(int(rig.eventLog.state), int(EventLogState::Erase));
        QCOMPARE(rig.reply("00 0000 00000000 00000000"), std::uint32_t(Ignore)); // not the erase answer
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("80ff0055aa"));
        // An answer without data is no erase answer, whatever byte lies past its end.
        const std::uint8_t beyond[] = {0x80};
        QCOMPARE(decodeEventLog(&rig.eventLog, &rig.master, beyond, beyond, 0), std::uint32_t(Ignore));
        QCOMPARE(rig.reply("80"), std::uint32_t(Ok));
        QCOMPARE(int(rig.eventLog.requestFlags), int(EventLogRequest::Read));
        // No read until the window starts again from the info state.
        QVERIFY(rig.nextRequest().isEmpty());
        QCOMPARE(rig.seen.calls.size(), 0);
        // It does, then asks for the erase: the info answer still on its way starts no catalogue check.
        rig.eventLog.state = EventLogState::Info;
        rig.nextRequest();
        rig.eventLog.requestFlags = EventLogRequest::Erase;
        QCOMPARE(rig.reply("00 0000 01000000 02000000"), std::uint32_t(Ignore));
        QCOMPARE(values(rig.seen.calls.size(), rig.nextRequest().toHex()), values(0, QByteArray("80ff0055aa")));
    }

    void callbackStopsTransfer()
    {
        LogRig rig(EventLogState::Range);
        rig.seen.stopInRecords = true;
        rig.startRecords("02 00000000 01000000");
        rig.nextRequest();
        QCOMPARE(rig.reply("03 00000000 01 00000000 01 00000000"), std::uint32_t(Ok));
        QCOMPARE(int(rig.eventLog.state), int(EventLogState::Info)); // as the window left it
        QCOMPARE(rig.seen.finished, 0);
        QVERIFY(rig.nextRequest().isEmpty());
    }

    void firmwareGoldenSequence()
    {
        FirmwareRig rig;
        QCOMPARE(rig.build().toHex(), hex("5*ff 82 3f040a0b0c fd 04 00000082 cf").toHex());
        QCOMPARE(rig.master.deadline, 2000u); // 1000 ms for the announcement
        QCOMPARE(rig.reply("00000000"), std::uint32_t(Continue));
        QCOMPARE(rig.build().toHex(), hex("5*ff 82 3f040a0b0c fd 44 00000000 00..3f 0d").toHex());
        QCOMPARE(rig.master.deadline, 6000u); // 5000 ms per chunk
        QCOMPARE(rig.reply("00000040"), std::uint32_t(Continue));
        QCOMPARE(rig.build().toHex(), hex("5*ff 82 3f040a0b0c fd 44 00000040 40..7f 4d").toHex());
        QCOMPARE(rig.reply("00000080", 8), std::uint32_t(Continue)); // 8 is a warning only
        QCOMPARE(rig.build().toHex(), hex("5*ff 82 3f040a0b0c fd 06 00000080 8081 ce").toHex());
        QCOMPARE(rig.reply("00000082"), std::uint32_t(Ok));
        QCOMPARE(rig.seen.progress, (QList<std::uint32_t>{0, 64, 128, 130}));
        QCOMPARE(values(rig.firmware.requestFlags, rig.seen.begins, rig.step()), values(0, 1, NothingDue));
    }

    void firmwareDeviceStartsOver()
    {
        FirmwareRig rig;
        rig.nextRequest();
        rig.reply("00000040");
        QCOMPARE(rig.nextRequest().left(4).toHex(), QByteArray("00000040"));
        QCOMPARE(rig.reply(""), std::uint32_t(Continue));
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("00000082"));
        QCOMPARE(rig.seen.begins, 2);
    }

    void firmwareOffsetBeyondImage()
    {
        FirmwareRig rig;
        rig.started();
        // An offset past the image ends the transfer: no read past the size, no further request.
        QCOMPARE(rig.reply("ffffffff"), std::uint32_t(Ok));
        QCOMPARE(int(rig.firmware.requestFlags), 0);
        QCOMPARE(rig.seen.progress.last(), 0xFFFFFFFFu);
        QCOMPARE(rig.step(), NothingDue);
        for (const auto& read : rig.seen.reads)
            QVERIFY(read.first + read.second <= rig.seen.size);
    }

    void firmwareLastChunkAndShortAnswers()
    {
        FirmwareRig rig;
        rig.started();
        QCOMPARE(rig.reply("000001"), std::uint32_t(Ignore));
        QCOMPARE(rig.reply("00000081"), std::uint32_t(Continue));
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("0000008181"));
        QCOMPARE(rig.seen.reads.last(), qMakePair(129u, 1u));
        // A transfer error ends the exchange and keeps the transfer for its next turn.
        QCOMPARE(rig.reply("", 9), std::uint32_t(InvalidFirmware));
        QCOMPARE(int(rig.firmware.requestFlags), int(FirmwareRequest::Transfer));
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("0000008181"));
    }

    void firmwareUnreadableChunkIsNotSent()
    {
        FirmwareRig rig;
        rig.nextRequest();
        rig.reply("00000040");
        rig.seen.unreadable = true;
        QCOMPARE(rig.step(), NothingDue);
        QCOMPARE(rig.seen.reads.size(), 1);
        QCOMPARE(int(rig.firmware.requestFlags), 0);
    }

    void firmwareFailedReadSendsZeros()
    {
        FirmwareRig rig;
        rig.started();
        // The file read fails and leaves the chunk as it was: zeros go out, not the last chunk again.
        rig.firmware.readChunk = [](ParserMasterFirmwareUpdate*, std::uint32_t, std::uint8_t*, std::uint32_t) {};
        rig.reply("00000040");
        QCOMPARE(rig.nextRequest().toHex(), (hex("00000040") + QByteArray(64, 0)).toHex());
    }
};

QTEST_APPLESS_MAIN(TestHartTransfers)
#include "tst_hart_transfers.moc"
