#include <QtTest>

#include <cmath>
#include <cstring>

#include "hartrig.h"

using namespace Hart;
using namespace HartTest;

namespace {

std::uint32_t firmwareSize130(ParserMasterFirmwareUpdate*)
{
    return 130;
}

void firmwareBytes(ParserMasterFirmwareUpdate*, std::uint32_t offset, std::uint8_t* destination, std::uint32_t length)
{
    for (std::uint32_t i = 0; i < length; ++i)
        destination[i] = std::uint8_t(offset + i);
}

// Raises the request named by a golden row, with known data.
void raise(Rig& rig, const QByteArray& key)
{
    using namespace IdentityRequest;
    if (key == "cmd0_addr5") rig.identity.requestFlags |= ReadUniqueIdentifier;
    else if (key == "cmd11") rig.identity.requestFindByTag("tag-1");
    else if (key == "cmd21") rig.identity.requestFindByLongTag("LONG");
    else if (key == "cmd73") rig.identity.requestFlags |= FindDevice;
    else if (key == "cmd42") rig.master.requestFlags |= MasterRequest::DeviceReset;
    else if (key == "cmd38") {
        rig.master.configChangeCounter = 0x0102;
        rig.master.requestFlags |= MasterRequest::ResetConfigurationChanged;
    } else if (key == "cmd48") rig.master.requestFlags |= MasterRequest::ReadAdditionalStatus;
    else if (key == "cmd48ack") {
        const std::uint8_t status[6] = {1, 2, 3, 4, 5, 6};
        memcpy(rig.master.additionalStatus, status, 6);
        rig.master.standardizedStatus0 = 9;
        rig.master.requestFlags |= MasterRequest::AcknowledgeAdditionalStatus;
    } else if (key == "cmd6") rig.master.requestWritePollingAddress(7, 0);
    else if (key == "cmd17") rig.identity.requestWriteMessage("Hello world");
    else if (key == "cmd18") rig.identity.requestWriteTagDescriptorDate("tag", "flame detector", 31 | 12 << 8 | 125 << 16);
    else if (key == "cmd22") rig.identity.requestWriteLongTag("North gate");
    else if (key == "cmd40") rig.dynamic.requestFixedCurrent(4.0f);
    else if (key == "cmd71") rig.master.requestLock(2);
    else if (key == "cmd89") rig.clock.requestSetClock(0x01020304, 6 | 12 << 8 | 126 << 16);
    else if (key == "cmd130") {
        rig.detector.serviceCode = serviceClearStatus;
        rig.detector.requestFlags |= DetectorRequest::ServiceOperation;
    } else if (key == "cmd132") rig.detector.requestWriteCurrents(2000, 3000, 4000, 8000, 18000);
    else if (key == "cmd134") rig.detector.requestWriteConfiguration(0x07, 0x05, 50, 20);
    else if (key == "cmd136") rig.detector.requestFlags |= DetectorRequest::StartCalibration;
    else if (key == "cmd138") rig.detector.requestFlags |= DetectorRequest::StartOpticsCheck;
    else if (key == "cmd131") rig.detector.requestFlags |= DetectorRequest::ReadCurrents;
    else if (key == "cmd133") rig.detector.requestFlags |= DetectorRequest::ReadConfiguration;
    else if (key == "cmd135") rig.detector.requestFlags |= DetectorRequest::ReadCalibration;
    else if (key == "cmd137") rig.detector.requestFlags |= DetectorRequest::ReadOpticsCheck;
    else if (key == "cmd7") rig.master.requestFlags |= MasterRequest::ReadLoopConfiguration;
    else if (key == "cmd12") rig.identity.requestFlags |= ReadMessage;
    else if (key == "cmd13") rig.identity.requestFlags |= ReadTagDescriptorDate;
    else if (key == "cmd16") rig.identity.requestFlags |= ReadFinalAssemblyNumber;
    else if (key == "cmd20") rig.identity.requestFlags |= ReadLongTag;
    else if (key == "cmd1") rig.dynamic.requestFlags |= DynamicRequest::ReadPrimaryVariable;
    else if (key == "cmd2") rig.dynamic.requestFlags |= DynamicRequest::ReadLoopCurrent;
    else if (key == "cmd3") rig.dynamic.requestFlags |= DynamicRequest::ReadDynamicVariables;
    else if (key == "cmd9") {
        for (std::uint8_t i = 0; i < 3; ++i)
            rig.dynamic.requestDeviceVariable(i);
    } else if (key == "cmd76") rig.master.requestFlags |= MasterRequest::ReadLockState;
    else if (key == "cmd90") rig.clock.requestFlags |= ClockRequest::ReadClock;
    else if (key.startsWith("cmd252")) {
        rig.eventLog.requestFlags = EventLogRequest::Read;
        if (key == "cmd252caption") {
            rig.eventLog.state = EventLogState::Captions;
            rig.eventLog.index = 0x0107;
        } else if (key == "cmd252range") {
            rig.eventLog.state = EventLogState::Range;
        } else if (key == "cmd252records") {
            rig.eventLog.state = EventLogState::Records;
            rig.eventLog.index = 0x01020304;
        } else if (key == "cmd252erase") {
            rig.eventLog.state = EventLogState::Records;
            rig.eventLog.requestFlags |= EventLogRequest::Erase;
        }
    } else if (key == "cmd253") {
        rig.firmware.begin = firmwareSize130;
        rig.firmware.readChunk = firmwareBytes;
        rig.firmware.requestFlags = FirmwareRequest::Transfer;
    } else {
        QFAIL(qPrintable("no setup for " + key));
    }
}

int commandOfKey(const QByteArray& key)
{
    QByteArray digits;
    for (char c : key.mid(3)) {
        if (c < '0' || c > '9')
            break;
        digits.append(c);
    }
    return digits.toInt();
}

QByteArray answerFor(const QByteArray& key, int responseCode, const QByteArray& data, int deviceStatus = 0)
{
    if (key == "cmd0_addr5")
        return shortAnswer(5, 0, responseCode, data, deviceStatus);
    return longAnswer(commandOfKey(key), responseCode, data, deviceStatus);
}

QList<int>& updatedSlots()
{
    static QList<int> updated;
    return updated;
}

void variableUpdated(DynamicVariablesRecord*, ParserMaster*, std::uint8_t index)
{
    updatedSlots().append(index);
}

} // namespace

class TestHartCommands : public QObject {
    Q_OBJECT

private slots:
    void goldenRequests_data();
    void goldenRequests();
    void firmwareGoldenSequence();
    void responseCodes_data();
    void responseCodes();
    void malformedAnswers_data();
    void malformedAnswers();
    void identification();
    void identificationWithoutOptionalBytes();
    void identityTexts();
    void writeEchoes();
    void masterCommands();
    void dynamicVariables();
    void deviceVariablesInBatches();
    void deviceVariablesAnswerServingNothing();
    void clockCommands();
    void detectorCommands();
    void addressScan();
    void addressScanFindsDevice();
    void singleAddressScanReportsNoResponse();
    void configurationCounterRetry();
    void additionalStatusAcknowledged();
    void additionalStatusWithoutByte8();
    void requestsWaitForIdentifiedDevice();
};

void TestHartCommands::goldenRequests_data()
{
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("cmd0_addr5") << QByteArray("ffffffffffffffffffffffffffffffffffffffff0205000007");
    QTest::newRow("cmd11") << QByteArray("ffffffffffffffffffffffffffffffffffffffff8200000000000b065011edc60820cd");
    QTest::newRow("cmd21") << QByteArray("ffffffffffffffffffffffffffffffffffffffff82000000000015204c4f4e4700000000000000000000000000000000000000000000000000000000bd");
    QTest::newRow("cmd73") << QByteArray("ffffffffff8200000000004900cb");
    QTest::newRow("cmd42") << QByteArray("ffffffffff823f040a0b0c2a009e");
    QTest::newRow("cmd38") << QByteArray("ffffffffff823f040a0b0c2602010293");
    QTest::newRow("cmd48") << QByteArray("ffffffffff823f040a0b0c300084");
    QTest::newRow("cmd48ack") << QByteArray("ffffffffff823f040a0b0c300a060504030201ff0400097b");
    QTest::newRow("cmd6") << QByteArray("ffffffffff823f040a0b0c06020700b7");
    QTest::newRow("cmd17") << QByteArray("ffffffffff823f040a0b0c111820530c3e05cf48c12082082082082082082082082082082035");
    QTest::newRow("cmd18") << QByteArray("ffffffffff823f040a0b0c12155011e082082018c04d1601055050d43d28201f0c7db0");
    QTest::newRow("cmd22") << QByteArray("ffffffffff823f040a0b0c16204e6f727468206761746500000000000000000000000000000000000000000000fa");
    QTest::newRow("cmd40") << QByteArray("ffffffffff823f040a0b0c28044080000058");
    QTest::newRow("cmd71") << QByteArray("ffffffffff823f040a0b0c470102f0");
    QTest::newRow("cmd89") << QByteArray("ffffffffff823f040a0b0c590a01060c7e01020304000096");
    QTest::newRow("cmd130") << QByteArray("ffffffffff823f040a0b0c82010334");
    QTest::newRow("cmd132") << QByteArray("ffffffffff823f040a0b0c840a07d00bb80fa01f404650b8");
    QTest::newRow("cmd134") << QByteArray("ffffffffff823f040a0b0c86040785321492");
    QTest::newRow("cmd136") << QByteArray("ffffffffff823f040a0b0c88003c");
    QTest::newRow("cmd138") << QByteArray("ffffffffff823f040a0b0c8a003e");
    QTest::newRow("cmd131") << QByteArray("ffffffffff823f040a0b0c830037");
    QTest::newRow("cmd133") << QByteArray("ffffffffff823f040a0b0c850031");
    QTest::newRow("cmd135") << QByteArray("ffffffffff823f040a0b0c870033");
    QTest::newRow("cmd137") << QByteArray("ffffffffff823f040a0b0c89003d");
    QTest::newRow("cmd7") << QByteArray("ffffffffff823f040a0b0c0700b3");
    QTest::newRow("cmd12") << QByteArray("ffffffffff823f040a0b0c0c00b8");
    QTest::newRow("cmd13") << QByteArray("ffffffffff823f040a0b0c0d00b9");
    QTest::newRow("cmd16") << QByteArray("ffffffffff823f040a0b0c1000a4");
    QTest::newRow("cmd20") << QByteArray("ffffffffff823f040a0b0c1400a0");
    QTest::newRow("cmd1") << QByteArray("ffffffffff823f040a0b0c0100b5");
    QTest::newRow("cmd2") << QByteArray("ffffffffff823f040a0b0c0200b6");
    QTest::newRow("cmd3") << QByteArray("ffffffffff823f040a0b0c0300b7");
    QTest::newRow("cmd9") << QByteArray("ffffffffff823f040a0b0c0903000102bd");
    QTest::newRow("cmd76") << QByteArray("ffffffffff823f040a0b0c4c00f8");
    QTest::newRow("cmd90") << QByteArray("ffffffffff823f040a0b0c5a00ee");
    QTest::newRow("cmd252info") << QByteArray("ffffffffff823f040a0b0cfc010049");
    QTest::newRow("cmd252caption") << QByteArray("ffffffffff823f040a0b0cfc030107014c");
    QTest::newRow("cmd252range") << QByteArray("ffffffffff823f040a0b0cfc01024b");
    QTest::newRow("cmd252records") << QByteArray("ffffffffff823f040a0b0cfc0503040302014a");
    QTest::newRow("cmd252erase") << QByteArray("ffffffffff823f040a0b0cfc0580ff0055aacd");
}

void TestHartCommands::goldenRequests()
{
    QFETCH(QByteArray, expected);
    Rig rig;
    raise(rig, QTest::currentDataTag());
    BuildStatus status;
    const QByteArray frame = rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    QCOMPARE(frame.toHex(), expected);
}

void TestHartCommands::firmwareGoldenSequence()
{
    Rig rig;
    raise(rig, "cmd253");
    QList<std::uint32_t> progress;
    static QList<std::uint32_t>* seen;
    seen = &progress;
    rig.firmware.onProgress = [](ParserMasterFirmwareUpdate*, std::uint32_t offset) { seen->append(offset); };

    QCOMPARE(rig.build().toHex(), QByteArray("ffffffffff823f040a0b0cfd0400000082cf"));
    QCOMPARE(rig.master.deadline, 2000u); // 1000 ms for the announcement
    QCOMPARE(rig.answer(longAnswer(253, 0, hex("00000000"))), std::uint32_t(Continue));
    QCOMPARE(rig.build().toHex(), QByteArray(
        "ffffffffff823f040a0b0cfd4400000000000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20212223"
        "2425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f0d"));
    QCOMPARE(rig.master.deadline, 6000u); // 5000 ms per chunk
    QCOMPARE(rig.answer(longAnswer(253, 0, hex("00000040"))), std::uint32_t(Continue));
    QCOMPARE(rig.build().toHex(), QByteArray(
        "ffffffffff823f040a0b0cfd4400000040404142434445464748494a4b4c4d4e4f505152535455565758595a5b5c5d5e5f60616263"
        "6465666768696a6b6c6d6e6f707172737475767778797a7b7c7d7e7f4d"));
    QCOMPARE(rig.answer(longAnswer(253, 8, hex("00000080"))), std::uint32_t(Continue)); // 8 is a warning only
    QCOMPARE(rig.build().toHex(), QByteArray("ffffffffff823f040a0b0cfd06000000808081ce"));
    QCOMPARE(rig.answer(longAnswer(253, 0, hex("00000082"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.firmware.requestFlags), 0);
    QCOMPARE(progress, (QList<std::uint32_t>{0, 64, 128, 130}));
    BuildStatus status;
    QVERIFY(rig.build(&status).isEmpty());
    QCOMPARE(int(status), int(BuildStatus::NothingDue));
}

void TestHartCommands::responseCodes_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("responseCode");
    QTest::addColumn<quint32>("result");
    struct Row {
        const char* key;
        QVector<QPair<int, quint32>> codes;
    };
    const quint32 I = Ignore;
    const QVector<Row> rows = {
        {"cmd0_addr5", {{1, 40}, {16, 40}}},
        {"cmd11", {{2, 40}}},
        {"cmd12", {{16, 21}, {2, 40}}},
        {"cmd13", {{16, 21}, {5, 40}}},
        {"cmd16", {{16, 21}}},
        {"cmd20", {{16, 21}}},
        {"cmd17", {{5, 18}, {6, 19}, {7, 20}, {16, 21}, {2, 40}}},
        {"cmd18", {{5, 18}, {6, 19}, {7, 20}, {9, 45}, {16, 21}, {1, 40}}},
        {"cmd22", {{5, 18}, {6, 19}, {7, 20}, {16, 21}, {9, 40}}},
        {"cmd6", {{2, 15}, {5, 18}, {6, 19}, {7, 20}, {12, 39}, {16, 21}, {3, 40}}},
        {"cmd7", {{16, 21}, {6, 40}}},
        {"cmd38", {{5, 18}, {6, 19}, {7, 20}, {16, 21}, {1, 40}}},
        {"cmd42", {{6, 19}, {16, 21}, {7, 40}}},
        {"cmd48", {{5, 18}, {6, 19}, {9, I}, {14, I}, {16, 21}, {8, 40}}},
        {"cmd71", {{5, 18}, {6, 19}, {10, 41}, {11, 42}, {16, 21}, {2, 40}}},
        {"cmd76", {{6, 19}, {16, 21}, {5, 40}}},
        {"cmd1", {{6, 19}, {8, I}, {16, 21}, {2, 40}}},
        {"cmd2", {{6, 19}, {8, I}, {16, 21}}},
        {"cmd3", {{6, 19}, {8, I}, {16, 21}}},
        {"cmd9", {{2, 43}, {5, 18}, {6, 19}, {8, I}, {14, I}, {30, I}, {16, 21}, {3, 40}}},
        {"cmd40", {{3, 16}, {4, 17}, {5, 18}, {6, 19}, {7, 20}, {11, 44}, {16, 21}, {2, 40}}},
        {"cmd89", {{2, 14}, {3, 16}, {5, 18}, {6, 19}, {9, 45}, {16, 21}, {7, 40}}},
        {"cmd90", {{2, 40}, {16, 40}}},
        {"cmd130", {{2, 14}, {5, 18}, {6, 19}, {7, 20}, {16, 21}, {3, 40}}},
        {"cmd131", {{16, 40}, {2, 40}}},
        {"cmd132", {{2, 14}, {3, 16}, {5, 18}, {6, 19}, {7, 20}, {16, 21}, {4, 40}}},
        {"cmd133", {{6, 40}}},
        {"cmd134", {{2, 14}, {3, 16}, {5, 18}, {6, 19}, {7, 20}, {16, 21}, {4, 40}}},
        {"cmd135", {{6, 19}, {16, 40}}},
        {"cmd136", {{6, 19}, {7, 20}, {16, 21}, {2, 40}}},
        {"cmd137", {{6, 19}, {7, 40}}},
        {"cmd138", {{6, 19}, {16, 40}}},
        {"cmd252info", {{2, 14}, {5, 18}, {8, I}, {1, 40}}},
        {"cmd253", {{5, 18}, {6, 19}, {9, 53}, {10, 53}, {11, 53}, {12, 53}, {1, 40}, {13, 40}}},
    };
    for (const Row& row : rows) {
        for (const auto& code : row.codes)
            QTest::addRow("%s rc %d", row.key, code.first) << QByteArray(row.key) << code.first << code.second;
    }
}

void TestHartCommands::responseCodes()
{
    QFETCH(QByteArray, key);
    QFETCH(int, responseCode);
    QFETCH(quint32, result);
    Rig rig;
    raise(rig, key);
    const QByteArray request = rig.build();
    QVERIFY(!request.isEmpty());
    std::uint8_t rc = 0;
    QCOMPARE(rig.answer(answerFor(key, responseCode, QByteArray()), &rc), result);
    QCOMPARE(int(rc), responseCode);
    // An error or an ignored answer leaves the request due: it goes out again.
    QCOMPARE(rig.build(), request);
}

void TestHartCommands::malformedAnswers_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("0 wrong marker") << QByteArray("cmd0_addr5") << hex("fdff0405070211290012345606020007010060");
    QTest::newRow("0 16 bytes") << QByteArray("cmd0_addr5") << hex("feff04050702112900123456060200");
    QTest::newRow("12 23 bytes") << QByteArray("cmd12") << QByteArray(23, 'A');
    QTest::newRow("12 25 bytes") << QByteArray("cmd12") << QByteArray(25, 'A');
    QTest::newRow("13 20 bytes") << QByteArray("cmd13") << QByteArray(20, 'A');
    QTest::newRow("16 2 bytes") << QByteArray("cmd16") << hex("0102");
    QTest::newRow("16 4 bytes") << QByteArray("cmd16") << hex("01020304");
    QTest::newRow("17 other text") << QByteArray("cmd17") << QByteArray(24, 0);
    QTest::newRow("18 other date") << QByteArray("cmd18") << hex("5011e082082018c04d1601055050d43d28201f0c7e");
    QTest::newRow("20 31 bytes") << QByteArray("cmd20") << QByteArray(31, 'A');
    QTest::newRow("22 other tag") << QByteArray("cmd22") << QByteArray("North gatf") + QByteArray(22, 0);
    QTest::newRow("22 short") << QByteArray("cmd22") << QByteArray("North gate") + QByteArray(21, 0);
    QTest::newRow("6 other address") << QByteArray("cmd6") << hex("0800");
    QTest::newRow("6 3 bytes") << QByteArray("cmd6") << hex("070000");
    QTest::newRow("7 1 byte") << QByteArray("cmd7") << hex("05");
    QTest::newRow("38 3 bytes") << QByteArray("cmd38") << hex("010200");
    QTest::newRow("48 7 bytes") << QByteArray("cmd48") << hex("01020304050607");
    QTest::newRow("71 empty") << QByteArray("cmd71") << QByteArray();
    QTest::newRow("76 empty") << QByteArray("cmd76") << QByteArray();
    QTest::newRow("1 4 bytes") << QByteArray("cmd1") << hex("20408000");
    QTest::newRow("2 7 bytes") << QByteArray("cmd2") << hex("40800000428c00");
    QTest::newRow("3 10 bytes") << QByteArray("cmd3") << QByteArray(10, 0);
    QTest::newRow("3 8 bytes") << QByteArray("cmd3") << QByteArray(8, 0);
    QTest::newRow("9 12 bytes") << QByteArray("cmd9") << QByteArray(12, 0);
    QTest::newRow("9 14 bytes") << QByteArray("cmd9") << QByteArray(14, 0);
    QTest::newRow("9 77 bytes") << QByteArray("cmd9") << QByteArray(77, 0);
    QTest::newRow("40 other current") << QByteArray("cmd40") << hex("41a00000");
    QTest::newRow("89 other code") << QByteArray("cmd89") << hex("02060c7e01020304");
    QTest::newRow("89 other time") << QByteArray("cmd89") << hex("01060c7e01020305");
    QTest::newRow("90 14 bytes") << QByteArray("cmd90") << QByteArray(14, 0);
    QTest::newRow("130 other code") << QByteArray("cmd130") << hex("02");
    QTest::newRow("130 empty") << QByteArray("cmd130") << QByteArray();
    QTest::newRow("131 9 bytes") << QByteArray("cmd131") << QByteArray(9, 0);
    QTest::newRow("132 other currents") << QByteArray("cmd132") << hex("07d00bb80fa01f404651");
    QTest::newRow("133 3 bytes") << QByteArray("cmd133") << hex("078532");
    QTest::newRow("134 other settings") << QByteArray("cmd134") << hex("070532");
    QTest::newRow("134 2 bytes") << QByteArray("cmd134") << hex("0785");
    QTest::newRow("135 empty") << QByteArray("cmd135") << QByteArray();
    QTest::newRow("137 empty") << QByteArray("cmd137") << QByteArray();
}

void TestHartCommands::malformedAnswers()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, data);
    Rig rig;
    raise(rig, key);
    const QByteArray request = rig.build();
    QCOMPARE(rig.answer(answerFor(key, 0, data)), std::uint32_t(Ignore));
    QCOMPARE(int(rig.master.attempts), 5);
    QCOMPARE(rig.build(), request); // repeated at once
    QCOMPARE(int(rig.master.attempts), 4);
}

void TestHartCommands::identification()
{
    Rig rig;
    rig.identity.requestFlags = IdentityRequest::ReadUniqueIdentifier | IdentityRequest::FindDevice
        | IdentityRequest::FindByTag;
    rig.build();
    QCOMPARE(rig.sentCommand(), 0);
    const QByteArray data = hex("feff0305070211290012345606020007010060006181");
    QCOMPARE(rig.answer(shortAnswer(5, 0, 0, data, 0x40)), std::uint32_t(Ok));
    QCOMPARE(rig.master.expandedDeviceType, std::uint16_t(0xFF03));
    QCOMPARE(int(rig.master.preambleCount), 5);
    QCOMPARE(int(rig.identity.universalRevision), 7);
    QCOMPARE(int(rig.identity.deviceRevision), 2);
    QCOMPARE(int(rig.identity.softwareRevision), 0x11);
    QCOMPARE(int(rig.identity.hardwareRevision), 0x29);
    QCOMPARE(int(rig.identity.deviceFlags), 0);
    QCOMPARE(rig.master.deviceId, 0x123456u);
    QCOMPARE(int(rig.master.responsePreambles), 6);
    QCOMPARE(int(rig.dynamic.variableLimit), 3);
    QCOMPARE(rig.master.configChangeCounter, std::uint16_t(7));
    QCOMPARE(int(rig.master.extendedStatus), 1);
    QCOMPARE(rig.identity.manufacturerCode, std::uint16_t(0x60));
    QCOMPARE(rig.identity.privateLabelCode, std::uint16_t(0x61));
    QCOMPARE(int(rig.identity.deviceProfile), 0x81);
    QCOMPARE(rig.master.deviceStatus, std::uint8_t(0x40));
    // Command 73 stays asked until the window cancels it; 0 and 11 are done.
    QCOMPARE(int(rig.identity.requestFlags), int(IdentityRequest::FindDevice));
    // Later long frames go to the device just identified.
    rig.identity.requestFlags = IdentityRequest::ReadMessage;
    QCOMPARE(rig.build().mid(5, 6).toHex(), QByteArray("823f03123456"));
}

void TestHartCommands::identificationWithoutOptionalBytes()
{
    Rig rig;
    rig.identity.manufacturerCode = 1;
    rig.identity.privateLabelCode = 2;
    rig.identity.deviceProfile = 3;
    raise(rig, "cmd21");
    rig.build();
    // A broadcast answer from any address; byte 13 of 255 must not wrap the variable count to 0.
    const QByteArray data = hex("feff040507021129000a0b0c06ff000701");
    QCOMPARE(rig.answer(longAnswer(21, 0, data, 0, hex("3f04aabbcc"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.identity.manufacturerCode), 0);
    QCOMPARE(int(rig.identity.privateLabelCode), 0);
    QCOMPARE(int(rig.identity.deviceProfile), 0);
    QCOMPARE(int(rig.dynamic.variableLimit), 255);
    QCOMPARE(int(rig.identity.requestFlags), 0);
}

void TestHartCommands::identityTexts()
{
    Rig rig;
    raise(rig, "cmd12");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(12, 0, hex("20530c3e0820820820820820820820820820820820820820"))), std::uint32_t(Ok));
    QCOMPARE(QByteArray(rig.identity.message), QByteArray("HELLO") + QByteArray(27, ' '));

    raise(rig, "cmd13");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(13, 0, hex("5011edc6082018c04d1601055050d43d28201f0c7d"))), std::uint32_t(Ok));
    QCOMPARE(QByteArray(rig.identity.tag), QByteArray("TAG-1   "));
    QCOMPARE(QByteArray(rig.identity.descriptor), QByteArray("FLAME DETECTOR  "));
    QCOMPARE(QByteArray(reinterpret_cast<char*>(rig.identity.date), 3).toHex(), QByteArray("1f0c7d"));

    raise(rig, "cmd16");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(16, 0, hex("abcdef"))), std::uint32_t(Ok));
    QCOMPARE(rig.identity.finalAssemblyNumber, 0xABCDEFu);

    raise(rig, "cmd20");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(20, 0, QByteArray("Gate 7") + QByteArray(1, 0) + QByteArray(25, 'x'))),
             std::uint32_t(Ok));
    QCOMPARE(QByteArray(rig.identity.longTag), QByteArray("Gate 7"));
    raise(rig, "cmd20");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(20, 0, QByteArray(32, 'L'))), std::uint32_t(Ok)); // full field, no terminator
    QCOMPARE(QByteArray(rig.identity.longTag), QByteArray(32, 'L'));
    QCOMPARE(int(rig.identity.requestFlags), 0);
}

void TestHartCommands::writeEchoes()
{
    Rig rig;
    raise(rig, "cmd17");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(17, 0, hex("20530c3e05cf48c120820820820820820820820820820820"))), std::uint32_t(Ok));
    raise(rig, "cmd18");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(18, 0, hex("5011e082082018c04d1601055050d43d28201f0c7d"))), std::uint32_t(Ok));
    raise(rig, "cmd22");
    rig.build();
    // The device may fill the rest of the field with anything after a terminator.
    QCOMPARE(rig.answer(longAnswer(22, 0, QByteArray("North gate") + QByteArray(1, 0) + QByteArray(21, '#'))),
             std::uint32_t(Ok));
    QCOMPARE(int(rig.identity.requestFlags), 0);
}

void TestHartCommands::masterCommands()
{
    Rig rig;
    raise(rig, "cmd6");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(6, 0, hex("0700"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.master.pollingAddress), 7);
    raise(rig, "cmd7");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(7, 0, hex("0301"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.master.pollingAddress), 3);
    QCOMPARE(int(rig.master.loopCurrentMode), 1);
    raise(rig, "cmd42");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(42, 0, QByteArray())), std::uint32_t(Ok));
    raise(rig, "cmd71");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(71, 0, hex("02"))), std::uint32_t(Ok));
    raise(rig, "cmd76");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(76, 0, hex("01"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.master.lockState), 1);
    QCOMPARE(int(rig.master.requestFlags), 0);
}

void TestHartCommands::dynamicVariables()
{
    Rig rig;
    rig.dynamic.onVariableUpdated = variableUpdated;
    updatedSlots().clear();
    raise(rig, "cmd1");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(1, 0, hex("2041200000"))), std::uint32_t(Ok));
    QCOMPARE(rig.variables[0].value, 10.0f);
    QCOMPARE(int(rig.variables[0].unitCode), 0x20);

    raise(rig, "cmd2");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(2, 0, hex("41a0000042c80000"))), std::uint32_t(Ok));
    QCOMPARE(rig.loopCurrent.value, 20.0f);
    QCOMPARE(rig.dynamic.percentOfRange, 100.0f);

    // Only the loop current and PV arrive; SV, TV, QV keep their values.
    rig.variables[1].value = 7.0f;
    rig.variables[2].value = 8.0f;
    raise(rig, "cmd3");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(3, 0, hex("40800000" "39" "40400000"))), std::uint32_t(Ok));
    QCOMPARE(rig.loopCurrent.value, 4.0f);
    QCOMPARE(rig.variables[0].value, 3.0f);
    QCOMPARE(int(rig.variables[0].unitCode), 0x39);
    QCOMPARE(rig.variables[1].value, 7.0f);
    QCOMPARE(rig.variables[2].value, 8.0f);
    QCOMPARE(updatedSlots(), QList<int>{0});

    // All four: QV goes to slot 250, beyond the records, and is dropped.
    updatedSlots().clear();
    raise(rig, "cmd3");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(3, 0, hex("40800000" "203f800000" "2140000000" "2240400000" "2340800000"))),
             std::uint32_t(Ok));
    QCOMPARE(rig.variables[1].value, 2.0f);
    QCOMPARE(rig.variables[2].value, 3.0f);
    QCOMPARE(int(rig.variables[2].unitCode), 0x22);
    QCOMPARE(updatedSlots(), (QList<int>{0, 1, 2}));

    raise(rig, "cmd40");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(40, 0, hex("40800000"))), std::uint32_t(Ok));
    QCOMPARE(rig.loopCurrent.value, 4.0f);
    QCOMPARE(int(rig.dynamic.requestFlags), 0);
}

void TestHartCommands::deviceVariablesInBatches()
{
    Rig rig;
    DeviceVariable variables[10];
    rig.dynamic.variables = variables;
    rig.dynamic.recordCount = 10;
    rig.dynamic.variableLimit = 10;
    for (std::uint8_t i = 0; i < 10; ++i)
        rig.dynamic.requestDeviceVariable(i);
    const QByteArray first = rig.build();
    QCOMPARE(first.mid(11, 10).toHex(), QByteArray("09080001020304050607"));
    QByteArray data = hex("05");
    for (int code = 0; code < 8; ++code)
        data += QByteArray(1, char(code)) + hex("4020") + hex("41200000") + hex("c0");
    data += hex("00001000");
    QCOMPARE(rig.answer(longAnswer(9, 0, data)), std::uint32_t(Continue));
    QCOMPARE(variables[7].value, 10.0f);
    QCOMPARE(int(variables[7].status), 0xC0);
    QCOMPARE(int(variables[7].classification), 0x40);
    QCOMPARE(int(variables[7].unitCode), 0x20);
    QCOMPARE(variables[7].timestamp, 0x1000u);
    QCOMPARE(int(rig.master.extendedStatus), 5);
    QCOMPARE(int(rig.dynamic.nextVariable), 8);
    // The remaining two go out at once.
    BuildStatus status;
    const QByteArray second = rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    QCOMPARE(second.mid(11, 4).toHex(), QByteArray("09020809"));
    data = hex("00") + hex("08") + hex("0020") + hex("3f800000") + hex("00") + hex("09") + hex("0020")
        + hex("40000000") + hex("00") + hex("00002000");
    QCOMPARE(rig.answer(longAnswer(9, 0, data)), std::uint32_t(Ok));
    QCOMPARE(variables[9].value, 2.0f);
    QCOMPARE(int(rig.dynamic.nextVariable), 0);
    for (const DeviceVariable& v : variables)
        QVERIFY(!v.requested);
}

void TestHartCommands::deviceVariablesAnswerServingNothing()
{
    // An answer naming only variables that were not asked for would be asked again without end.
    Rig rig;
    rig.dynamic.requestDeviceVariable(1);
    rig.build();
    const QByteArray data = hex("00" "00" "0020" "3f800000" "00" "00001000");
    QCOMPARE(rig.answer(longAnswer(9, 0, data)), std::uint32_t(Ignore));
    QCOMPARE(rig.variables[0].value, 0.0f);
    QVERIFY(rig.variables[1].requested);
    // Codes past the records are skipped.
    const QByteArray other = hex("00" "c8" "0020" "3f800000" "00" "01" "0020" "40000000" "00" "00001000");
    QCOMPARE(rig.answer(longAnswer(9, 0, other)), std::uint32_t(Ok));
    QCOMPARE(rig.variables[1].value, 2.0f);
}

void TestHartCommands::clockCommands()
{
    Rig rig;
    raise(rig, "cmd89");
    raise(rig, "cmd90");
    rig.build();
    QCOMPARE(rig.sentCommand(), 89);
    QCOMPARE(rig.answer(longAnswer(89, 0, hex("01060c7e01020304"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.clock.requestFlags), int(ClockRequest::ReadClock));

    rig.build();
    QCOMPARE(rig.sentCommand(), 90);
    QCOMPARE(rig.answer(longAnswer(90, 0, hex("070c7e" "00112233" "010c7e" "00000010" "02"))), std::uint32_t(Ok));
    QCOMPARE(QByteArray(reinterpret_cast<char*>(rig.clock.date), 3).toHex(), QByteArray("070c7e"));
    QCOMPARE(rig.clock.time, 0x00112233u);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(rig.clock.lastSetDate), 3).toHex(), QByteArray("010c7e"));
    QCOMPARE(rig.clock.lastSetTime, 0x10u);
    QCOMPARE(int(rig.clock.clockFlags), 2);
    QCOMPARE(int(rig.clock.requestFlags), 0);

    // A reading that arrives while a new setting waits is dropped and asked again later.
    raise(rig, "cmd90");
    rig.build();
    rig.clock.requestSetClock(0x55, 0x010101);
    QCOMPARE(rig.answer(longAnswer(90, 0, hex("070c7e" "00112299" "010c7e" "00000010" "00"))), std::uint32_t(Ok));
    QCOMPARE(rig.clock.time, 0x55u);
    QCOMPARE(int(rig.clock.requestFlags), int(ClockRequest::ReadClock | ClockRequest::SetClock));
}

void TestHartCommands::detectorCommands()
{
    Rig rig;
    raise(rig, "cmd130");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(130, 0, hex("03"))), std::uint32_t(Ok));
    raise(rig, "cmd131");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(131, 0, hex("03e807d00bb80fa01770" "ff"))), std::uint32_t(Ok));
    QCOMPARE(rig.detector.currentSettings[0], std::uint16_t(1000));
    QCOMPARE(rig.detector.currentSettings[4], std::uint16_t(6000));
    raise(rig, "cmd132");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(132, 0, hex("07d00bb80fa01f404650"))), std::uint32_t(Ok));
    raise(rig, "cmd133");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(133, 0, hex("06a1190f"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.detector.configurationByte(0)), 0x06);
    QCOMPARE(int(rig.detector.configurationByte(1)), 0xA1);
    QCOMPARE(int(rig.detector.configurationByte(2)), 0x19);
    QCOMPARE(int(rig.detector.configurationByte(3)), 0x0F);
    raise(rig, "cmd134");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(134, 0, hex("078532"))), std::uint32_t(Ok));
    raise(rig, "cmd136");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(136, 0, QByteArray())), std::uint32_t(Ok));
    raise(rig, "cmd135");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(135, 0, hex("02"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.detector.calibrationState), 2);
    raise(rig, "cmd138");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(138, 0, QByteArray())), std::uint32_t(Ok));
    raise(rig, "cmd137");
    rig.build();
    QCOMPARE(rig.answer(longAnswer(137, 0, hex("04"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.detector.opticsCheckState), 4);
    QCOMPARE(int(rig.detector.requestFlags), 0);
}

void TestHartCommands::addressScan()
{
    Rig rig;
    rig.identity.startAddressScan(0, 2);
    QList<int> addresses;
    BuildStatus status = BuildStatus::NothingDue;
    for (int tick = 0; tick < 10; ++tick) {
        const QByteArray frame = rig.build(&status);
        if (status == BuildStatus::NoResponse)
            break;
        if (status == BuildStatus::Sent) {
            QCOMPARE(frame.size(), 25);
            QCOMPARE(frame.mid(20, 1).toHex(), QByteArray("02"));
            addresses << quint8(frame.at(21));
            QCOMPARE(int(rig.master.expandedDeviceType), 0);
        }
        fakeNow() += 2000;
    }
    QCOMPARE(addresses, (QList<int>{0, 1, 2}));
    QCOMPARE(int(status), int(BuildStatus::NoResponse));
}

void TestHartCommands::addressScanFindsDevice()
{
    Rig rig;
    rig.identity.startAddressScan(3, 9);
    rig.build();
    fakeNow() += 2000;
    rig.build();
    QCOMPARE(int(rig.master.pollingAddress), 4);
    QCOMPARE(rig.answer(shortAnswer(4, 0, 0, hex("feff040507021129000a0b0c0602000701"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.identity.requestFlags), 0);
    QCOMPARE(int(rig.master.attempts), 0);
    QCOMPARE(rig.master.expandedDeviceType, std::uint16_t(0xFF04));
    BuildStatus status;
    rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::NothingDue));
}

void TestHartCommands::singleAddressScanReportsNoResponse()
{
    // A one-address search that finds nothing ends like any other: with NoResponse.
    Rig rig;
    rig.identity.startAddressScan(7, 7);
    BuildStatus status;
    rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    QCOMPARE(int(rig.master.pollingAddress), 7);
    fakeNow() += 2000;
    rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::NoResponse));
    rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::NothingDue));

    // The top of the address byte does not wrap round to 0.
    Rig top;
    top.identity.startAddressScan(254, 255);
    top.build(&status);
    fakeNow() += 2000;
    top.build(&status);
    QCOMPARE(int(top.master.pollingAddress), 255);
    fakeNow() += 2000;
    top.build(&status);
    QCOMPARE(int(status), int(BuildStatus::NoResponse));
    top.build(&status);
    QCOMPARE(int(status), int(BuildStatus::NothingDue));
}

void TestHartCommands::configurationCounterRetry()
{
    Rig rig;
    rig.master.configChangeCounter = 5;
    rig.master.requestFlags |= MasterRequest::ResetConfigurationChanged;
    rig.build();
    QCOMPARE(rig.answer(longAnswer(38, 9, hex("0102"))), std::uint32_t(Ignore));
    QCOMPARE(rig.master.configChangeCounter, std::uint16_t(0x0102));
    BuildStatus status;
    const QByteArray again = rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::Sent));
    QCOMPARE(again.mid(5 + 6, 4).toHex(), QByteArray("26020102"));
    QCOMPARE(rig.answer(longAnswer(38, 0, hex("0102"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.master.requestFlags), 0);
}

void TestHartCommands::additionalStatusAcknowledged()
{
    Rig rig;
    rig.master.requestFlags |= MasterRequest::ReadAdditionalStatus;
    rig.build();
    const QByteArray status48 = hex("0102030405060708090a");
    QCOMPARE(rig.answer(longAnswer(48, 0, status48, 0x10)), std::uint32_t(Continue));
    QCOMPARE(QByteArray(reinterpret_cast<char*>(rig.master.additionalStatus), 6).toHex(), QByteArray("010203040506"));
    QCOMPARE(int(rig.master.extendedStatus), 7);
    QCOMPARE(int(rig.master.standardizedStatus0), 9);
    const QByteArray ack = rig.build();
    QCOMPARE(ack.mid(5 + 6).toHex(), (hex("300a060504030201ff040009")).toHex() + ack.right(1).toHex());
    // Still more status: acknowledged again.
    QCOMPARE(rig.answer(longAnswer(48, 0, status48, 0x10)), std::uint32_t(Continue));
    QCOMPARE(rig.build().mid(5 + 6, 2).toHex(), QByteArray("300a"));
    QCOMPARE(rig.answer(longAnswer(48, 0, status48, 0x00)), std::uint32_t(Ok));
    QCOMPARE(int(rig.master.requestFlags), 0);
}

void TestHartCommands::additionalStatusWithoutByte8()
{
    Rig rig;
    rig.master.standardizedStatus0 = 0x33;
    rig.master.requestFlags |= MasterRequest::ReadAdditionalStatus;
    rig.build();
    QCOMPARE(rig.answer(longAnswer(48, 0, hex("0102030405060708"))), std::uint32_t(Ok));
    QCOMPARE(int(rig.master.standardizedStatus0), 0x33);
    QCOMPARE(int(rig.master.extendedStatus), 7);
}

void TestHartCommands::requestsWaitForIdentifiedDevice()
{
    Rig rig;
    rig.master.expandedDeviceType = 0;
    raise(rig, "cmd12");
    raise(rig, "cmd134");
    raise(rig, "cmd48");
    BuildStatus status;
    rig.build(&status);
    QCOMPARE(int(status), int(BuildStatus::NothingDue));
    // The clock, the searches and the transfers need no identity.
    raise(rig, "cmd90");
    rig.build(&status);
    QCOMPARE(rig.sentCommand(), 90);
    QCOMPARE(rig.answer(longAnswer(90, 0, QByteArray(15, 0), 0, hex("00000a0b0c"))), std::uint32_t(Ok));
    raise(rig, "cmd252info");
    rig.build(&status);
    QCOMPARE(rig.sentCommand(), 252);
}

QTEST_APPLESS_MAIN(TestHartCommands)
#include "tst_hart_commands.moc"
