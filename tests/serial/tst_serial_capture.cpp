#include "dialogtraffic.h"
#include "framerenderer.h"
#include "modalanswerer.h"
#include "testfiles.h"
#include "trafficcapture.h"
#include "../support/values.h"

#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The frame as the line carries it: preamble, the given bytes, and the check byte over them.
QByteArray onLine(const char* hex, int preambles = 5, const QByteArray& noise = QByteArray())
{
    QByteArray frame = QByteArray::fromHex(hex);
    char x = 0;
    for (char c : frame)
        x ^= c;
    return noise + QByteArray(preambles, '\xFF') + frame + x;
}

QByteArray withBadCheckByte(QByteArray frame)
{
    frame[frame.size() - 1] = char(frame[frame.size() - 1] ^ 0x01);
    return frame;
}

void record(DialogTraffic& monitor, const QByteArray& bytes, bool outgoing)
{
    monitor.recordFrame(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::uint32_t(bytes.size()),
                        outgoing);
}

struct Decoded {
    QStringList commands;
    QStringList types;
    QStringList sequences;
    QStringList preambles;
    QStringList data;
    int packets = 0;
};

// What Wireshark's HART-IP dissector makes of each packet of the file.
Decoded decode(const QString& path)
{
    QProcess tshark;
    tshark.start(QStringLiteral("tshark"),
                 { "-r", path, "-T", "fields", "-E", "separator=,", "-e", "hart_ip.pt.command", "-e",
                   "hart_ip.message_type", "-e", "hart_ip.transaction_id", "-e", "hart_ip.pt.preambles", "-e",
                   "hart_ip.data" });
    Decoded decoded;
    if (!tshark.waitForFinished(60000) || tshark.exitCode() != 0) {
        qWarning() << tshark.readAllStandardError();
        return decoded;
    }
    for (const QByteArray& line : tshark.readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split(',');
        ++decoded.packets;
        decoded.commands << f.value(0);
        decoded.types << f.value(1);
        decoded.sequences << f.value(2);
        decoded.preambles << f.value(3);
        decoded.data << f.value(4);
    }
    return decoded;
}

} // namespace

struct Bound {
    std::size_t maxFrames, maxBytes, pushed, frameLength, kept, dropped;
};
Q_DECLARE_METATYPE(Bound)

class TestSerialCapture : public QObject {
    Q_OBJECT

private slots:
    void bounded_data()
    {
        QTest::addColumn<Bound>("b");
        QTest::newRow("frame bound") << Bound { 10, 1000, 25, 20, 10, 15 };
        QTest::newRow("byte bound") << Bound { 100, 100, 25, 20, 5, 20 };
        QTest::newRow("one frame over the byte bound stays") << Bound { 100, 10, 3, 20, 1, 2 };
        QTest::newRow("over-long block cut") << Bound { 10, 100000, 3, 5000, 3, 0 };
        // Four frames a second for a day, about 30 bytes each: the default bounds keep it all.
        QTest::newRow("a day of polling") << Bound { TrafficCapture::defaultMaxFrames, TrafficCapture::defaultMaxBytes,
                                                     4 * 86400, 30, 4 * 86400, 0 };
    }
    void bounded()
    {
        QFETCH(Bound, b);
        TrafficCapture capture(b.maxFrames, b.maxBytes);
        const QByteArray frame(int(b.frameLength), '\x02');
        for (std::size_t i = 0; i < b.pushed; ++i)
            capture.record(reinterpret_cast<const std::uint8_t*>(frame.constData()), std::uint32_t(frame.size()),
                           i % 2 == 0, qint64(i));
        const std::size_t length = std::min<std::size_t>(b.frameLength, TrafficCapture::maxFrameLength);
        QCOMPARE(values(capture.frames().size(), capture.droppedFrames(), capture.frames().back().timeUs,
                        capture.frames().front().timeUs, capture.storedBytes()),
                 values(b.kept, b.dropped, b.pushed - 1, b.dropped, b.kept * length));
        capture.clear();
        QCOMPARE(values(capture.frames().size(), capture.storedBytes()), values(0, 0));
    }

    // Polling traffic as the monitor is given it, read back by Wireshark's own dissector.
    void wiresharkDecodesEachFrame()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
            QSKIP("tshark is not installed");
        const QList<QPair<QByteArray, bool>> traffic {
            { onLine("02800000", 20), true },
            { onLine("0680001800" "00" "fe" "ff04" "05" "07" "02" "0e" "18" "00" "01e240" "05" "01" "0000" "00" "60a1"
                     "60a1" "01"),
              false },
            { onLine("82bf0401e24003" "00"), true },
            { onLine("86bf0401e24003" "1a" "0000" "41900000" "39" "42f00000" "24" "42200000" "24" "40400000" "fb"
                     "00000000"),
              false },
            { onLine("82bf0401e24009" "02" "0102"), true },
            // Damaged blocks: an answer cut short, noise, a bad check byte, the tail of a split
            // answer that reads like a command-66 frame, a four-byte fragment, a frame with bytes
            // after its check byte. Each is kept whole and never decodes as a command.
            { onLine("86bf0401e24009").left(9), false },
            { QByteArray::fromHex("00a512"), false },
            { withBadCheckByte(onLine("068000030000")), false },
            { QByteArray::fromHex("0680420500002440"), false },
            { QByteArray::fromHex("ffff0680"), false },
            { onLine("02800000") + QByteArray::fromHex("00"), true },
        };
        DialogTraffic monitor;
        for (const auto& frame : traffic)
            record(monitor, frame.first, frame.second);
        QTemporaryDir dir;
        const QString path = dir.filePath("capture.pcap");
        QVERIFY(monitor.saveCapture(path));

        const Decoded decoded = decode(path);
        QCOMPARE(decoded.packets, traffic.size());
        QCOMPARE(decoded.commands, (QStringList { "0", "0", "3", "3", "9", "", "", "", "", "", "" }));
        // Whole frames are requests (0) and responses (1); the damaged ones errors (3).
        QCOMPARE(decoded.types, (QStringList { "0", "1", "0", "1", "0", "3", "3", "3", "3", "3", "3" }));
        // A response carries the number of the request before it.
        QCOMPARE(decoded.sequences, (QStringList { "1", "1", "2", "2", "3", "3", "3", "3", "3", "3", "4" }));
        // Each whole frame goes from its delimiter on, without preamble or noise.
        QCOMPARE(decoded.preambles.join(QString()), QString());
        // A damaged block is there byte for byte, as it came off the line.
        for (int i = 5; i < traffic.size(); ++i)
            QCOMPARE(decoded.data[i], QString::fromLatin1(traffic[i].first.toHex()));
    }

    // The text is trimmed and cleared on showing; the capture keeps every frame until "Очистить".
    void captureOutlivesTheText()
    {
        DialogTraffic monitor;
        const QByteArray request = onLine("82bf0401e24003" "00");
        record(monitor, request, true);
        monitor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&monitor));
        const QString line = renderFrame(reinterpret_cast<const std::uint8_t*>(request.constData()),
                                         std::uint32_t(request.size()), 0, true);
        for (int i = 0; i < 400; ++i) {
            monitor.appendHtml(line);
            record(monitor, request, true);
        }
        QCOMPARE(monitor.capture().frames().size(), std::size_t(401));
        monitor.hide();
        record(monitor, request, false);
        monitor.show();
        QCOMPARE(monitor.capture().frames().size(), std::size_t(402));

        monitor.findChild<QPushButton*>(QStringLiteral("clear"))->click();
        QCOMPARE(monitor.capture().frames().size(), std::size_t(0));
        record(monitor, request, true);
        QCOMPARE(monitor.capture().frames().size(), std::size_t(1));
    }

    // The user's way: the button, a file name typed without its suffix.
    void saveButtonWritesTheCapture()
    {
        ModalAnswerer answerer;
        QTemporaryDir dir;
        answerer.chooseFile(dir.filePath("line"));
        DialogTraffic monitor;
        record(monitor, onLine("02800000"), true);
        monitor.findChild<QPushButton*>(QStringLiteral("saveCapture"))->click();
        const QByteArray file = readFile(dir.filePath("line.pcap"));
        QCOMPARE(file.size(), 24 + 16 + 14 + 20 + 8 + 8 + 5); // one packet: Wireshark reads the format above
        QCOMPARE(answerer.boxes().size(), 0);
    }

    void unwritableFileIsReported()
    {
        ModalAnswerer answerer;
        DialogTraffic monitor;
        const QString path = QStringLiteral("/nonexistent-folder/capture.pcap");
        QVERIFY(!monitor.saveCapture(path));
        QCOMPARE(answerer.boxes().size(), 1);
        QCOMPARE(answerer.boxes()[0].title, QStringLiteral("Ошибка"));
        QVERIFY2(answerer.boxes()[0].text.startsWith(QStringLiteral("Не удалось сохранить захват в файл ") + path),
                 qPrintable(answerer.boxes()[0].text));
    }
};

QTEST_MAIN(TestSerialCapture)
#include "tst_serial_capture.moc"
