#include <QtTest>

#include "hart/calendar.h"
#include "hart/encoding.h"
#include "hart/messages.h"

#include "hartrig.h"

using namespace Hart;
using HartTest::hex;

namespace {

QByteArray shown(const std::uint8_t* bytes, int size)
{
    return QByteArray(reinterpret_cast<const char*>(bytes), size).toHex();
}

} // namespace

class TestHartEncoding : public QObject {
    Q_OBJECT

private slots:
    void packAscii_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("packed");
        // ABC + five spaces: 000001 000010 000011 100000 / 100000 x4
        QTest::newRow("tilde and grave") << QByteArray("~`") << 3 << QByteArray("fff820");
        QTest::newRow("control char") << QByteArray("\x01" "A") << 3 << QByteArray("fc1820");
        QTest::newRow("empty") << QByteArray("") << 6 << QByteArray("820820820820");
        QTest::newRow("longer than field") << QByteArray("ABCDEFGH") << 3 << QByteArray("0420c4");
        QTest::newRow("high byte") << QByteArray("\xC0") << 3 << QByteArray("fe0820");
        QTest::newRow("field too short: nothing written") << QByteArray("AB") << 2 << QByteArray("eeee");
    }
    void packAscii()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, size);
        QFETCH(QByteArray, packed);
        std::uint8_t out[24];
        memset(out, 0xEE, sizeof out);
        Hart::packAscii(out, text.constData(), std::uint32_t(size));
        QCOMPARE(shown(out, size), packed);
        QCOMPARE(out[size], std::uint8_t(0xEE)); // nothing past the field
    }

    void packedRoundTrip()
    {
        char out[33] = {};
        std::uint8_t packed[24];
        // Every packable character survives the trip.
        for (const char* run : {"20..3f", "40..5f"}) {
            const QByteArray all = hex(run);
            Hart::packAscii(packed, all.constData(), 24);
            unpackAscii(out, packed, 24);
            QCOMPARE(QByteArray(out, 32), all);
        }
        // Too short a field unpacks nothing.
        char text[4] = {'x', 'x', 'x', 'x'};
        unpackAscii(text, packed, 2);
        QCOMPARE(text[0], 'x');
    }

    void calendar_data()
    {
        QTest::addColumn<quint32>("seconds");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("weekday");
        QTest::newRow("epoch") << 0u << "01.01.2000 00:00:00" << 5;
        QTest::newRow("end of first day") << 86399u << "01.01.2000 23:59:59" << 5;
        QTest::newRow("leap day") << 5097600u << "29.02.2000 00:00:00" << 1;
        QTest::newRow("1 Mar leap") << 60u * 86400 << "01.03.2000 00:00:00" << 2;
        QTest::newRow("31 Dec leap") << 365u * 86400 + 3661 << "31.12.2000 01:01:01" << 6;
        QTest::newRow("new year 2001") << 31622400u << "01.01.2001 00:00:00" << 0;
        QTest::newRow("1 Mar common") << (366u + 59) * 86400 << "01.03.2001 00:00:00" << 3;
        QTest::newRow("29 Feb 2004") << (366u + 365 * 3 + 59) * 86400 << "29.02.2004 00:00:00" << 6;
        QTest::newRow("last second of 2099") << 3155759999u << "31.12.2099 23:59:59" << 3;
    }
    void calendar()
    {
        QFETCH(quint32, seconds);
        QFETCH(QString, text);
        QFETCH(int, weekday);
        const CalendarTime t = secondsToCalendar(seconds);
        QCOMPARE(QString::asprintf("%02d.%02d.20%02d %02d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute,
                                   t.second), text);
        QCOMPARE(int(t.weekday), weekday);
        QCOMPARE(int(dayOfWeek(seconds)), weekday);
    }

    void resultMessages()
    {
        const QPair<quint32, const char*> rows[] = {
            {0, ""}, {12, ""}, {13, "Несоответствие кода типа"}, {18, "Недостаточное количество байт данных"},
            {29, "Полевое устройство занто"}, // the typo is kept
            {40, "Недопустимый код ошибки"}, {47, "Сообщение было слишком длинным для приемного буфера устройства"},
            {53, "Неверный файл прошивки"}, {Continue, ""}, {Ignore, ""}, {0xFFFFFFFFu, ""},
        };
        for (const auto& row : rows)
            QCOMPARE(QString::number(row.first) + ": " + QString::fromUtf8(resultMessage(row.first)),
                     QString::number(row.first) + ": " + QString::fromUtf8(row.second));
    }

    void unitTexts()
    {
        // Around each gap in the table, and its ends.
        const QPair<int, const char*> rows[] = {
            {0, ""}, {1, "inH₂O"}, {32, "ºC"}, {37, "\u2126"}, {56, "µS"}, {145, "inH₂O (60 ºF)"}, {157, ""},
            {174, "m\u2126 "}, {200, ""}, {239, "mmH₂O (4 ºC)"}, {249, ""}, {250, "Not Used"}, {251, ""}, {255, ""},
        };
        for (const auto& row : rows)
            QCOMPARE(QString::number(row.first) + ": " + QString::fromUtf8(unitText(std::uint8_t(row.first))),
                     QString::number(row.first) + ": " + QString::fromUtf8(row.second));
    }
};

QTEST_APPLESS_MAIN(TestHartEncoding)
#include "tst_hart_encoding.moc"
