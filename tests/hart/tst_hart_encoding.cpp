#include <QtTest>

#include <cstring>

#include "hart/calendar.h"
#include "hart/encoding.h"
#include "hart/messages.h"

using namespace Hart;

class TestHartEncoding : public QObject {
    Q_OBJECT

private slots:
    void bigEndianNumbers();
    void littleEndianNumbers();
    void packAscii_data();
    void packAscii();
    void packedRoundTrip();
    void packTooShortFieldWritesNothing();
    void calendar_data();
    void calendar();
    void resultMessages_data();
    void resultMessages();
    void unitTexts_data();
    void unitTexts();
};

void TestHartEncoding::bigEndianNumbers()
{
    const std::uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78};
    QCOMPARE(loadU16(bytes), std::uint16_t(0x1234));
    QCOMPARE(loadU24(bytes), 0x123456u);
    QCOMPARE(loadU32(bytes), 0x12345678u);

    std::uint8_t out[4] = {};
    storeU32(out, 0xA1B2C3D4);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 4).toHex(), QByteArray("a1b2c3d4"));
    storeU24(out, 0xFFABCDEF); // only the low three bytes travel
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 3).toHex(), QByteArray("abcdef"));
    storeU16(out, 0xBEEF);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 2).toHex(), QByteArray("beef"));

    // 4.0 mA and 20.0 mA as the device sends them.
    const std::uint8_t four[] = {0x40, 0x80, 0x00, 0x00};
    QCOMPARE(loadFloat(four), 4.0f);
    storeFloat(out, 20.0f);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 4).toHex(), QByteArray("41a00000"));
    storeFloat(out, -1.5f);
    QCOMPARE(loadFloat(out), -1.5f);
}

void TestHartEncoding::littleEndianNumbers()
{
    const std::uint8_t bytes[] = {0x78, 0x56, 0x34, 0x12};
    QCOMPARE(loadU16Le(bytes), std::uint16_t(0x5678));
    QCOMPARE(loadU32Le(bytes), 0x12345678u);
    std::uint8_t out[4] = {};
    storeU32Le(out, 0x01020304);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 4).toHex(), QByteArray("04030201"));
    storeU16Le(out, 0x0A0B);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 2).toHex(), QByteArray("0b0a"));
}

void TestHartEncoding::packAscii_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("packed");
    // ABC + five spaces: 000001 000010 000011 100000 / 100000 x4
    QTest::newRow("upper") << QByteArray("ABC") << 6 << QByteArray("0420e0820820");
    QTest::newRow("lower is raised") << QByteArray("abc") << 6 << QByteArray("0420e0820820");
    QTest::newRow("full tag") << QByteArray("TAG-1") << 6 << QByteArray("5011edc60820");
    QTest::newRow("tilde and grave") << QByteArray("~`") << 3 << QByteArray("fff820");
    QTest::newRow("control char") << QByteArray("\x01" "A") << 3 << QByteArray("fc1820");
    QTest::newRow("empty") << QByteArray("") << 6 << QByteArray("820820820820");
    QTest::newRow("longer than field") << QByteArray("ABCDEFGH") << 3 << QByteArray("0420c4");
    QTest::newRow("high byte") << QByteArray("\xC0") << 3 << QByteArray("fe0820");
}

void TestHartEncoding::packAscii()
{
    QFETCH(QByteArray, text);
    QFETCH(int, size);
    QFETCH(QByteArray, packed);
    std::uint8_t out[24];
    memset(out, 0xEE, sizeof out);
    Hart::packAscii(out, text.constData(), std::uint32_t(size));
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), size).toHex(), packed);
    QCOMPARE(out[size], std::uint8_t(0xEE)); // nothing past the field
}

void TestHartEncoding::packedRoundTrip()
{
    char out[33] = {};
    std::uint8_t packed[24];
    Hart::packAscii(packed, "TAG-1", 6);
    unpackAscii(out, packed, 6);
    QCOMPARE(QByteArray(out), QByteArray("TAG-1   ")); // trailing spaces stay

    // Every packable character survives the trip.
    QByteArray all;
    for (int c = 0x20; c < 0x40; ++c)
        all.append(char(c));
    Hart::packAscii(packed, all.constData(), 24);
    memset(out, 0, sizeof out);
    unpackAscii(out, packed, 24);
    QCOMPARE(QByteArray(out, 32), all);
    all.clear();
    for (int c = 0x40; c < 0x60; ++c)
        all.append(char(c));
    Hart::packAscii(packed, all.constData(), 24);
    unpackAscii(out, packed, 24);
    QCOMPARE(QByteArray(out, 32), all);
}

void TestHartEncoding::packTooShortFieldWritesNothing()
{
    std::uint8_t out[3] = {0xEE, 0xEE, 0xEE};
    Hart::packAscii(out, "AB", 2);
    QCOMPARE(out[0], std::uint8_t(0xEE));
    char text[4] = {'x', 'x', 'x', 'x'};
    unpackAscii(text, out, 2);
    QCOMPARE(text[0], 'x');
}

void TestHartEncoding::calendar_data()
{
    QTest::addColumn<quint32>("seconds");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("weekday");
    QTest::newRow("epoch") << 0u << "01.01.2000 00:00:00" << 5;
    QTest::newRow("end of first day") << 86399u << "01.01.2000 23:59:59" << 5;
    QTest::newRow("31 Jan") << 30u * 86400 << "31.01.2000 00:00:00" << 0;
    QTest::newRow("1 Feb") << 31u * 86400 << "01.02.2000 00:00:00" << 1;
    QTest::newRow("leap day") << 5097600u << "29.02.2000 00:00:00" << 1;
    QTest::newRow("1 Mar leap") << 60u * 86400 << "01.03.2000 00:00:00" << 2;
    QTest::newRow("31 Dec leap") << 365u * 86400 + 3661 << "31.12.2000 01:01:01" << 6;
    QTest::newRow("new year 2001") << 31622400u << "01.01.2001 00:00:00" << 0;
    QTest::newRow("1 Mar common") << (366u + 59) * 86400 << "01.03.2001 00:00:00" << 3;
    QTest::newRow("29 Feb 2004") << (366u + 365 * 3 + 59) * 86400 << "29.02.2004 00:00:00" << 6;
    QTest::newRow("2024 new year") << 757382400u << "01.01.2024 00:00:00" << 0;
    QTest::newRow("last second of 2099") << 3155759999u << "31.12.2099 23:59:59" << 3;
}

void TestHartEncoding::calendar()
{
    QFETCH(quint32, seconds);
    QFETCH(QString, text);
    QFETCH(int, weekday);
    const CalendarTime t = secondsToCalendar(seconds);
    const QString shown = QString::asprintf("%02d.%02d.20%02d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                                            t.minute, t.second);
    QCOMPARE(shown, text);
    QCOMPARE(int(t.weekday), weekday);
    QCOMPARE(int(dayOfWeek(seconds)), weekday);
}

void TestHartEncoding::resultMessages_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("ok") << 0u << "";
    QTest::newRow("12 empty") << 12u << "";
    QTest::newRow("13") << 13u << "Несоответствие кода типа";
    QTest::newRow("18") << 18u << "Недостаточное количество байт данных";
    QTest::newRow("29 typo kept") << 29u << "Полевое устройство занто";
    QTest::newRow("40") << 40u << "Недопустимый код ошибки";
    QTest::newRow("47") << 47u << "Сообщение было слишком длинным для приемного буфера устройства";
    QTest::newRow("53") << 53u << "Неверный файл прошивки";
    QTest::newRow("continue") << 54u << "";
    QTest::newRow("ignore") << 55u << "";
    QTest::newRow("far out") << 0xFFFFFFFFu << "";
}

void TestHartEncoding::resultMessages()
{
    QFETCH(quint32, code);
    QFETCH(QString, text);
    QCOMPARE(QString::fromUtf8(resultMessage(code)), text);
}

void TestHartEncoding::unitTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "";
    QTest::newRow("1") << 1 << "inH₂O";
    QTest::newRow("32") << 32 << "ºC";
    QTest::newRow("37 ohm sign") << 37 << QString::fromUtf8("\u2126");
    QTest::newRow("56") << 56 << "µS";
    QTest::newRow("145") << 145 << "inH₂O (60 ºF)";
    QTest::newRow("157 gap") << 157 << "";
    QTest::newRow("174 trailing blank") << 174 << QString::fromUtf8("m\u2126 ");
    QTest::newRow("200 gap") << 200 << "";
    QTest::newRow("239") << 239 << "mmH₂O (4 ºC)";
    QTest::newRow("249 gap") << 249 << "";
    QTest::newRow("250") << 250 << "Not Used";
    QTest::newRow("251") << 251 << "";
    QTest::newRow("255") << 255 << "";
}

void TestHartEncoding::unitTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(QString::fromUtf8(unitText(std::uint8_t(code))), text);
}

QTEST_APPLESS_MAIN(TestHartEncoding)
#include "tst_hart_encoding.moc"
