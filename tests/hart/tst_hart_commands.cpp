#include <QtTest>

#include "hartrig.h"
#include "../support/values.h"

using namespace Hart;
using namespace HartTest;

namespace {

// Every request the program sends: how it is raised, with known data, and the frame it must give
// byte for byte (preambles, delimiter, address, command, byte count, data, check byte).
#define L5 "5*ff 82 3f040a0b0c "
using namespace IdentityRequest;
using namespace DetectorRequest;
using namespace MasterRequest;
using namespace DynamicRequest;
void readLog(Rig& r, std::uint8_t state, std::uint32_t index)
{
    r.eventLog.requestFlags = EventLogRequest::Read, r.eventLog.state = state, r.eventLog.index = index;
}
struct Request {
    const char* key;
    void (*raise)(Rig&);
    const char* frame;
};
const Request requests[] = {
    {"cmd0_addr5", [](Rig& r) { r.identity.requestFlags |= ReadUniqueIdentifier; }, "20*ff 02 05 00 00 07"},
    {"cmd11", [](Rig& r) { r.identity.requestFindByTag("tag-1"); }, "20*ff 82 0000000000 0b 06 5011edc60820 cd"},
    {"cmd21", [](Rig& r) { r.identity.requestFindByLongTag("LONG"); },
     "20*ff 82 0000000000 15 20 'LONG' 28*00 bd"},
    {"cmd73", [](Rig& r) { r.identity.requestFlags |= FindDevice; }, "5*ff 82 0000000000 49 00 cb"},
    {"cmd42", [](Rig& r) { r.master.requestFlags |= DeviceReset; }, L5 "2a 00 9e"},
    {"cmd38", [](Rig& r) { r.master.configChangeCounter = 0x0102, r.master.requestFlags |= ResetConfigurationChanged; },
     L5 "26 02 0102 93"},
    {"cmd48", [](Rig& r) { r.master.requestFlags |= ReadAdditionalStatus; }, L5 "30 00 84"},
    {"cmd48ack", [](Rig& r) {
         const std::uint8_t status[6] = {1, 2, 3, 4, 5, 6};
         memcpy(r.master.additionalStatus, status, 6);
         r.master.standardizedStatus0 = 9;
         r.master.requestFlags |= AcknowledgeAdditionalStatus;
     }, L5 "30 0a 060504030201 ff 04 00 09 7b"},
    {"cmd6", [](Rig& r) { r.master.requestWritePollingAddress(7, 0); }, L5 "06 02 0700 b7"},
    {"cmd17", [](Rig& r) { r.identity.requestWriteMessage("Hello world"); },
     L5 "11 18 20530c3e05cf48c120820820820820820820820820820820 35"},
    {"cmd18", [](Rig& r) { r.identity.requestWriteTagDescriptorDate("tag", "flame detector", 31 | 12 << 8 | 125 << 16); },
     L5 "12 15 5011e0820820 18c04d1601055050d43d28201f 0c7d b0"},
    {"cmd22", [](Rig& r) { r.identity.requestWriteLongTag("North gate"); }, L5 "16 20 'North gate' 22*00 fa"},
    {"cmd22full", [](Rig& r) { r.identity.requestWriteLongTag("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"); }, nullptr},
    {"cmd40", [](Rig& r) { r.dynamic.requestFixedCurrent(4.0f); }, L5 "28 04 40800000 58"},
    {"cmd71", [](Rig& r) { r.master.requestLock(2); }, L5 "47 01 02 f0"},
    {"cmd89", [](Rig& r) { r.clock.requestSetClock(0x01020304, 6 | 12 << 8 | 126 << 16); },
     L5 "59 0a 01 060c7e 01020304 0000 96"},
    {"cmd130", [](Rig& r) { r.detector.serviceCode = serviceClearStatus, r.detector.requestFlags |= ServiceOperation; },
     L5 "82 01 03 34"},
    {"cmd132", [](Rig& r) { r.detector.requestWriteCurrents(2000, 3000, 4000, 8000, 18000); },
     L5 "84 0a 07d0 0bb8 0fa0 1f40 4650 b8"},
    {"cmd134", [](Rig& r) { r.detector.requestWriteConfiguration(0x07, 0x05, 50, 20); }, L5 "86 04 07853214 92"},
    {"cmd136", [](Rig& r) { r.detector.requestFlags |= StartCalibration; }, L5 "88 00 3c"},
    {"cmd138", [](Rig& r) { r.detector.requestFlags |= StartOpticsCheck; }, L5 "8a 00 3e"},
    {"cmd131", [](Rig& r) { r.detector.requestFlags |= ReadCurrents; }, L5 "83 00 37"},
    {"cmd133", [](Rig& r) { r.detector.requestFlags |= ReadConfiguration; }, L5 "85 00 31"},
    {"cmd135", [](Rig& r) { r.detector.requestFlags |= ReadCalibration; }, L5 "87 00 33"},
    {"cmd137", [](Rig& r) { r.detector.requestFlags |= ReadOpticsCheck; }, L5 "89 00 3d"},
    {"cmd7", [](Rig& r) { r.master.requestFlags |= ReadLoopConfiguration; }, L5 "07 00 b3"},
    {"cmd12", [](Rig& r) { r.identity.requestFlags |= ReadMessage; }, L5 "0c 00 b8"},
    {"cmd13", [](Rig& r) { r.identity.requestFlags |= ReadTagDescriptorDate; }, L5 "0d 00 b9"},
    {"cmd16", [](Rig& r) { r.identity.requestFlags |= ReadFinalAssemblyNumber; }, L5 "10 00 a4"},
    {"cmd20", [](Rig& r) { r.identity.requestFlags |= ReadLongTag; }, L5 "14 00 a0"},
    {"cmd1", [](Rig& r) { r.dynamic.requestFlags |= ReadPrimaryVariable; }, L5 "01 00 b5"},
    {"cmd2", [](Rig& r) { r.dynamic.requestFlags |= ReadLoopCurrent; }, L5 "02 00 b6"},
    {"cmd3", [](Rig& r) { r.dynamic.requestFlags |= ReadDynamicVariables; }, L5 "03 00 b7"},
    {"cmd9", [](Rig& r) { for (std::uint8_t i : {0, 1, 2}) r.dynamic.requestDeviceVariable(i); }, L5 "09 03 000102 bd"},
    {"cmd76", [](Rig& r) { r.master.requestFlags |= ReadLockState; }, L5 "4c 00 f8"},
    {"cmd90", [](Rig& r) { r.clock.requestFlags |= ClockRequest::ReadClock; }, L5 "5a 00 ee"},
    {"cmd252info", [](Rig& r) { readLog(r, EventLogState::Info, 0); }, L5 "fc 01 00 49"},
    {"cmd252caption", [](Rig& r) { readLog(r, EventLogState::Captions, 0x0107); }, L5 "fc 03 010701 4c"},
    {"cmd252records", [](Rig& r) { readLog(r, EventLogState::Records, 0x01020304); }, L5 "fc 05 0304030201 4a"},
    {"cmd253", [](Rig& r) { // its frames are checked with the transfers
         r.firmware.begin = [](ParserMasterFirmwareUpdate*) { return 130u; };
         r.firmware.readChunk = [](ParserMasterFirmwareUpdate*, std::uint32_t, std::uint8_t* to,
                                   std::uint32_t n) { memset(to, 0xA5, n); };
         r.firmware.requestFlags = FirmwareRequest::Transfer;
     }, nullptr},
};

void raise(Rig& rig, const QByteArray& key)
{
    for (const Request& request : requests) {
        if (key == request.key)
            return request.raise(rig);
    }
    QFAIL(qPrintable("no setup for " + key));
}

// Command 0 is answered in a short frame from polling address 5; command 21 by whichever device
// holds the tag, so from another address; the rest by device 0x0A0B0C.
int commandOf(const QByteArray& key)
{
    int command = 0;
    for (int i = 3; i < key.size() && key[i] >= '0' && key[i] <= '9'; ++i)
        command = command * 10 + (key[i] - '0');
    return command;
}

QByteArray answerFor(const QByteArray& key, int responseCode, const QByteArray& data)
{
    if (key == "cmd0_addr5")
        return shortAnswer(5, 0, responseCode, data);
    return longAnswer(commandOf(key), responseCode, data, 0, hex(key == "cmd21" ? "3f04aabbcc" : "3f040a0b0c"));
}

QList<int> updatedSlots;

// A good answer to a raised request: its data, what it must leave in the records, and what to
// prepare first. Each row also checks that the request is done: nothing is due afterwards.
struct Good {
    const char* key;
    const char* data;
    void (*check)(Rig&);
    void (*prepare)(Rig&) = nullptr;
};

const Good goodRows[] = {
    {"cmd21", "feff0405 07 02 11 29 00 0a0b0c 06 ff 0007 01", [](Rig& r) {
         // Without the optional bytes the codes go back to 0; byte 13 of 255 must not wrap to 0.
         QCOMPARE(QString::asprintf("%u %u %u %u", r.identity.manufacturerCode, r.identity.privateLabelCode,
                                    r.identity.deviceProfile, r.dynamic.variableLimit), QString("0 0 0 255"));
     }, [](Rig& r) { r.identity.manufacturerCode = 1, r.identity.privateLabelCode = 2, r.identity.deviceProfile = 3; }},
    {"cmd0_addr5", "feff0405 07 02 11 29 00 0a0b0c 06 02 0007 01 0060 0061", [](Rig& r) { // one short of the codes
         QCOMPARE(QString::asprintf("%u %u %u", r.identity.manufacturerCode, r.identity.privateLabelCode,
                                    r.identity.deviceProfile), QString("0 0 0"));
     }, [](Rig& r) { r.identity.manufacturerCode = 1, r.identity.privateLabelCode = 2, r.identity.deviceProfile = 3; }},
    {"cmd11", "feff0305 07 02 11 29 00 123456 06 02 0007 01", nullptr}, // the window's tag search reads it
    // The tool's read of the identity texts, number and date shows these fields decoded end to end.
    {"cmd12", "20530c3e0820820820820820820820820820820820820820", nullptr},
    {"cmd13", "5011edc60820 18c04d1601055050d43d28201f 0c7d", nullptr},
    {"cmd16", "abcdef", nullptr},
    {"cmd20", "'Gate 7' 00 25*78", nullptr},
    {"cmd20", "32*4c", [](Rig& r) { QCOMPARE(QByteArray(r.identity.longTag), QByteArray(32, 'L')); }}, // no terminator
    {"cmd17", "20530c3e05cf48c120820820820820820820820820820820", nullptr},
    {"cmd18", "5011e0820820 18c04d1601055050d43d28201f 0c7d", nullptr},
    {"cmd22", "'North gate' 00 21*23", nullptr}, // anything may follow a terminator
    {"cmd22full", "'ABCDEFGHIJKLMNOPQRSTUVWXYZ012345'", nullptr}, // no terminator
    {"cmd6", "0700", [](Rig& r) { QCOMPARE(int(r.master.pollingAddress), 7); }},
    {"cmd7", "0301", nullptr}, // the tool's read shows the loop-current mode
    {"cmd38", "0102", nullptr},
    {"cmd42", "", nullptr},
    {"cmd48", "0102030405060708", [](Rig& r) { // no byte 8: the standardized status stays
         QCOMPARE(QString::asprintf("%x %u", r.master.standardizedStatus0, r.master.extendedStatus), QString("33 7"));
     }, [](Rig& r) { r.master.standardizedStatus0 = 0x33; }},
    {"cmd71", "02", nullptr},
    {"cmd76", "01", [](Rig& r) { QCOMPARE(int(r.master.lockState), 1); }},
    {"cmd1", "20 41200000", nullptr}, // the window's status tests read the variables
    {"cmd2", "41a00000 42c80000", nullptr},
    {"cmd3", "40800000 39 40400000", [](Rig& r) { // only the loop current and PV: the rest keep their values
         QCOMPARE(QString::asprintf("%g %g %x %g %g", r.loopCurrent.value, r.variables[0].value, r.variables[0].unitCode,
                                    r.variables[1].value, r.variables[2].value), QString("4 3 39 7 8"));
         QCOMPARE(updatedSlots, QList<int>{0});
     }, [](Rig& r) { r.variables[1].value = 7.0f, r.variables[2].value = 8.0f; }},
    {"cmd3", "40800000 20 3f800000 21 40000000 22 40400000 23 40800000", [](Rig& r) {
         // All four: QV goes to slot 250, beyond the records, and is dropped.
         QCOMPARE(QString::asprintf("%g %g %x", r.variables[1].value, r.variables[2].value, r.variables[2].unitCode),
                  QString("2 3 22"));
         QCOMPARE(updatedSlots, (QList<int>{0, 1, 2}));
     }},
    {"cmd40", "40800000", [](Rig& r) { QCOMPARE(r.loopCurrent.value, 4.0f); }},
    {"cmd89", "01 060c7e 01020304", nullptr},
    {"cmd90", "070c7e 00112233 010c7e 00000010 02", nullptr}, // the window's status tests read the clock
    {"cmd130", "03", nullptr},
    {"cmd131", "03e8 07d0 0bb8 0fa0 1770 ff", nullptr}, // the profile round trip reads it back
    {"cmd132", "07d0 0bb8 0fa0 1f40 4650", nullptr},
    {"cmd133", "06a1190f", nullptr}, // the profile round trip reads it back
    {"cmd134", "078532", nullptr},
    {"cmd135", "02", [](Rig& r) { QCOMPARE(int(r.detector.calibrationState), 2); }},
    {"cmd136", "", nullptr},
    {"cmd137", "04", [](Rig& r) { QCOMPARE(int(r.detector.opticsCheckState), 4); }},
    {"cmd138", "", nullptr},
};

const quint32 I = Ignore;

} // namespace

class TestHartCommands : public QObject {
    Q_OBJECT

private slots:
    void goldenRequests_data()
    {
        QTest::addColumn<QByteArray>("expected");
        for (const Request& request : requests) {
            if (request.frame)
                QTest::newRow(request.key) << hex(request.frame);
        }
    }
    void goldenRequests()
    {
        QFETCH(QByteArray, expected);
        Rig rig;
        raise(rig, QTest::currentDataTag());
        BuildStatus status;
        const QByteArray frame = rig.build(&status);
        QCOMPARE(frame.toHex(), expected.toHex());
        QCOMPARE(values(int(status), rig.master.deadline, rig.master.attempts), values(Sent, 3000, 5));
    }

    void goodAnswers_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(sizeof goodRows / sizeof goodRows[0]); ++i)
            QTest::addRow("%s %s", goodRows[i].key, goodRows[i].data) << i;
    }
    void goodAnswers()
    {
        QFETCH(int, row);
        const Good& good = goodRows[row];
        Rig rig;
        rig.dynamic.onVariableUpdated = [](DynamicVariablesRecord*, ParserMaster*, std::uint8_t index) {
            updatedSlots.append(index);
        };
        updatedSlots.clear();
        if (good.prepare)
            good.prepare(rig);
        raise(rig, good.key);
        rig.build();
        QCOMPARE(rig.sentCommand(), commandOf(good.key));
        QCOMPARE(rig.answer(answerFor(good.key, 0, hex(good.data))), std::uint32_t(Ok));
        QCOMPARE(rig.step(), NothingDue);
        if (good.check)
            good.check(rig);
    }

    void rejectedAnswers_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<int>("responseCode");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<quint32>("result");
        struct Codes {
            const char* key;
            QVector<QPair<int, quint32>> codes;
        };
        // Per decoder one code its table maps (every result once over all), an Ignore it maps, and one it
        // does not.
        const Codes codes[] = {
            {"cmd0_addr5", {{16, 40}}}, {"cmd11", {{2, 40}}}, {"cmd12", {{16, 21}, {2, 40}}}, {"cmd13", {{16, 21}}},
            {"cmd16", {{16, 21}}}, {"cmd20", {{16, 21}}}, {"cmd17", {{5, 18}, {7, 20}, {2, 40}}},
            {"cmd18", {{9, 45}, {6, 19}, {1, 40}}}, {"cmd22", {{16, 21}, {9, 40}}},
            {"cmd6", {{2, 15}, {12, 39}, {3, 40}}}, {"cmd7", {{16, 21}, {6, 40}}}, {"cmd38", {{5, 18}, {1, 40}}},
            {"cmd42", {{6, 19}, {7, 40}}}, {"cmd48", {{9, I}, {14, I}, {8, 40}}},
            {"cmd71", {{10, 41}, {11, 42}, {2, 40}}}, {"cmd76", {{6, 19}}}, {"cmd1", {{8, I}, {16, 21}, {2, 40}}},
            {"cmd2", {{8, I}}}, {"cmd3", {{8, I}}}, {"cmd9", {{2, 43}, {30, I}, {3, 40}}},
            {"cmd40", {{3, 16}, {4, 17}, {11, 44}, {2, 40}}}, {"cmd89", {{9, 45}, {7, 40}}}, {"cmd90", {{16, 40}}},
            {"cmd130", {{2, 14}, {3, 40}}}, {"cmd131", {{16, 40}}}, {"cmd132", {{3, 16}, {4, 40}}},
            {"cmd133", {{6, 40}}}, {"cmd134", {{7, 20}}}, {"cmd135", {{6, 19}, {16, 40}}},
            {"cmd136", {{7, 20}, {2, 40}}}, {"cmd137", {{6, 19}}}, {"cmd138", {{6, 19}}},
            {"cmd252info", {{2, 14}, {8, I}, {1, 40}}}, {"cmd253", {{9, 53}, {13, 40}}},
        };
        for (const Codes& row : codes) {
            for (const auto& code : row.codes)
                QTest::addRow("%s rc %d", row.key, code.first) << QByteArray(row.key) << code.first << QByteArray()
                                                               << code.second;
        }
        // Wrong lengths and echoes that differ from what was written.
        const char* const malformed[][2] = {
            {"cmd0_addr5", "fdff0405070211290012345606020007010060"}, {"cmd0_addr5", "feff04050702112900123456060200"},
            {"cmd0_addr5", "feff0405070211290012345606020007"}, // 16 bytes: one short
            {"cmd12", "23*41"}, {"cmd12", "25*41"}, {"cmd13", "20*41"}, {"cmd16", "0102"}, {"cmd16", "01020304"},
            {"cmd17", "24*00"}, {"cmd18", "5011e082082018c04d1601055050d43d28201f0c7e"}, {"cmd20", "31*41"},
            {"cmd22", "'North gatf' 22*00"}, {"cmd22", "'North gate' 21*00"},
            {"cmd22full", "'ABCDEFGHIJKLMNOPQRSTUVWXYZ012346'"},
            {"cmd1", "2041200000 00"}, {"cmd2", "41a0000042c80000 00"},
            {"cmd89", "01060c7f01020304"},
            {"cmd6", "0800"}, {"cmd6", "070000"}, {"cmd7", "05"}, {"cmd38", "010200"}, {"cmd48", "01020304050607"},
            {"cmd71", ""}, {"cmd76", ""}, {"cmd1", "20408000"}, {"cmd2", "40800000428c00"},
            {"cmd3", "10*00"}, {"cmd3", "8*00"}, {"cmd9", "12*00"}, {"cmd9", "14*00"}, {"cmd9", "77*00"},
            {"cmd40", "41a00000"}, {"cmd89", "02060c7e01020304"}, {"cmd89", "01060c7e01020305"}, {"cmd90", "14*00"},
            {"cmd130", "02"}, {"cmd130", ""}, {"cmd131", "9*00"}, {"cmd132", "07d00bb80fa01f404651"},
            {"cmd133", "078532"}, {"cmd134", "070532"}, {"cmd134", "0785"}, {"cmd135", ""}, {"cmd137", ""},
        };
        for (const auto& row : malformed)
            QTest::addRow("%s data %s", row[0], row[1]) << QByteArray(row[0]) << 0 << hex(row[1]) << I;
    }
    void rejectedAnswers()
    {
        QFETCH(QByteArray, key);
        QFETCH(int, responseCode);
        QFETCH(QByteArray, data);
        QFETCH(quint32, result);
        Rig rig;
        raise(rig, key);
        const QByteArray request = rig.build();
        QVERIFY(!request.isEmpty());
        std::uint8_t rc = 0;
        QCOMPARE(rig.answer(answerFor(key, responseCode, data), &rc), result);
        QCOMPARE(int(rc), responseCode);
        // An error ends the exchange; an ignored answer leaves it open. Either way the request is due.
        QCOMPARE(int(rig.master.attempts), result == I ? 5 : 0);
        QCOMPARE(rig.build(), request);
        QCOMPARE(int(rig.master.attempts), result == I ? 4 : 5);
    }

    // Each good answer cut at every length gets the same verdict whatever lies past the cut: the rest
    // of the good answer, zeros or 0xFF. A decoder that reads one byte too many tells them apart.
    void decodersReadNothingPastTheEnd()
    {
        for (const Good& good : goodRows) {
            const QByteArray data = hex(good.data);
            for (int cut = 0; cut <= data.size(); ++cut) {
                const QByteArray tails[] = {data.mid(cut) + QByteArray(32, 0x5A), QByteArray(32, 0), QByteArray(32, '\xFF')};
                QList<quint32> verdicts;
                for (const QByteArray& beyond : tails) {
                    const QByteArray bytes = data.left(cut) + beyond;
                    Rig rig;
                    if (good.prepare)
                        good.prepare(rig);
                    raise(rig, good.key);
                    rig.build();
                    const CommandEntry* entry = rig.master.current;
                    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData());
                    verdicts << entry->decoder(entry->context, &rig.master, p, p + cut, 0);
                }
                QVERIFY2(verdicts.count(verdicts[0]) == 3,
                         qPrintable(QString::asprintf("%s cut at %d: %u %u %u", good.key, cut, verdicts[0], verdicts[1],
                                                      verdicts[2])));
            }
        }
    }

    void identification()
    {
        Rig rig;
        rig.identity.requestFlags = IdentityRequest::ReadUniqueIdentifier | IdentityRequest::FindDevice
            | IdentityRequest::FindByTag;
        rig.build();
        QCOMPARE(rig.sentCommand(), 0);
        const QByteArray data = hex("fe ff03 05 07 02 11 29 00 123456 06 02 0007 01 0060 0061 81");
        QCOMPARE(rig.answer(shortAnswer(5, 0, 0, data, 0x40)), std::uint32_t(Ok));
        const ParserMaster& m = rig.master;
        const IdentityRecord& id = rig.identity;
        QCOMPARE(QString::asprintf("type %x id %x preambles %u/%u revisions %u %u %x %x flags %u vars %u "
                                   "config %u ext %u codes %x %x %x status %x", m.expandedDeviceType, m.deviceId,
                                   m.preambleCount, m.responsePreambles, id.universalRevision, id.deviceRevision,
                                   id.softwareRevision, id.hardwareRevision, id.deviceFlags, rig.dynamic.variableLimit,
                                   m.configChangeCounter, m.extendedStatus, id.manufacturerCode, id.privateLabelCode,
                                   id.deviceProfile, m.deviceStatus),
                 QString("type ff03 id 123456 preambles 5/6 revisions 7 2 11 29 flags 0 vars 3 config 7 ext 1 "
                         "codes 60 61 81 status 40"));
        // Command 73 stays asked until the window cancels it; 0 and 11 are done.
        QCOMPARE(int(rig.identity.requestFlags), int(IdentityRequest::FindDevice));
        // Later long frames go to the device just identified.
        rig.identity.requestFlags = IdentityRequest::ReadMessage;
        QCOMPARE(rig.build().mid(5, 6).toHex(), QByteArray("823f03123456"));
    }

    void deviceVariablesInBatches()
    {
        Rig rig;
        DeviceVariable variables[10];
        rig.dynamic.variables = variables;
        rig.dynamic.recordCount = 10;
        rig.dynamic.variableLimit = 10;
        for (std::uint8_t i = 0; i < 10; ++i)
            rig.dynamic.requestDeviceVariable(i);
        QCOMPARE(rig.build().mid(11, 10).toHex(), QByteArray("09080001020304050607"));
        QByteArray data = hex("05");
        for (int code = 0; code < 8; ++code)
            data += char(code) + hex("4020 41200000 c0");
        QCOMPARE(rig.answer(longAnswer(9, 0, data + hex("00001000"))), std::uint32_t(Continue));
        QCOMPARE(variables[7].value, 10.0f);
        QCOMPARE(QVector<int>({variables[7].status, variables[7].classification, variables[7].unitCode,
                               int(variables[7].timestamp)}), QVector<int>({0xC0, 0x40, 0x20, 0x1000}));
        QCOMPARE(int(rig.master.extendedStatus), 5);
        QCOMPARE(int(rig.dynamic.nextVariable), 8);
        // The remaining two go out at once.
        BuildStatus status;
        QCOMPARE(rig.build(&status).mid(11, 4).toHex(), QByteArray("09020809"));
        QCOMPARE(int(status), Sent);
        data = hex("00 08 0020 3f800000 00 09 0020 40000000 00 00002000");
        QCOMPARE(rig.answer(longAnswer(9, 0, data)), std::uint32_t(Ok));
        QCOMPARE(variables[9].value, 2.0f);
        QCOMPARE(int(rig.dynamic.nextVariable), 0);
        for (const DeviceVariable& v : variables)
            QVERIFY(!v.requested);
    }

    void deviceVariablesAnswerServingNothing()
    {
        // An answer naming only variables that were not asked for would be asked again without end.
        Rig rig;
        rig.dynamic.requestDeviceVariable(1);
        rig.build();
        QCOMPARE(rig.answer(longAnswer(9, 0, hex("00 00 0020 3f800000 00 00001000"))), std::uint32_t(Ignore));
        QCOMPARE(rig.variables[0].value, 0.0f);
        QVERIFY(rig.variables[1].requested);
        // Codes past the records are skipped, the first one past them too.
        DeviceVariable spare[4];
        rig.dynamic.variables = spare;
        rig.dynamic.variableLimit = 4; // the device has one variable more than there are records
        rig.dynamic.requestDeviceVariable(1);
        rig.dynamic.requestDeviceVariable(3);
        QVERIFY(!spare[3].requested);
        const QByteArray other = hex("00 c8 0020 3f800000 00 03 0020 40400000 00 01 0020 40000000 00 00001000");
        QCOMPARE(rig.answer(longAnswer(9, 0, other)), std::uint32_t(Ok));
        QCOMPARE(spare[1].value, 2.0f);
        QCOMPARE(spare[3].value, 0.0f);
        // A batch stopped half way by a cancel must not keep the variables below it from being asked.
        rig.dynamic.nextVariable = 2;
        rig.dynamic.requestDeviceVariable(0);
        QCOMPARE(rig.nextRequest().toHex(), QByteArray("00"));
    }

    void clockReadingDuringSetting()
    {
        Rig rig;
        raise(rig, "cmd89");
        raise(rig, "cmd90");
        rig.build();
        QCOMPARE(rig.sentCommand(), 89); // the setting first
        QCOMPARE(rig.answer(longAnswer(89, 0, hex("01060c7e01020304"))), std::uint32_t(Ok));
        QCOMPARE(int(rig.clock.requestFlags), int(ClockRequest::ReadClock));
        // A reading that arrives while a new setting waits is dropped and asked again later.
        rig.build();
        rig.clock.requestSetClock(0x55, 0x010101);
        QCOMPARE(rig.answer(longAnswer(90, 0, hex("070c7e 00112299 010c7e 00000010 00"))), std::uint32_t(Ok));
        QCOMPARE(rig.clock.time, 0x55u);
        QCOMPARE(int(rig.clock.requestFlags), int(ClockRequest::ReadClock | ClockRequest::SetClock));
    }

    // The top of the range does not wrap round to address 0 (finding a device in a range is the
    // engine's search tests' and the tool's scan).
    void addressScan()
    {
        Rig rig;
        rig.identity.startAddressScan(254, 255);
        QByteArray addresses;
        BuildStatus status = BuildStatus::NothingDue;
        for (int tick = 0; tick < 10; ++tick) {
            const QByteArray frame = rig.build(&status);
            if (status != BuildStatus::Sent)
                break;
            const int address = rig.master.pollingAddress; // the frame carries its low six bits
            const QByteArray poll = hex("02") + char(address & 0x3F) + hex("0000");
            QCOMPARE(frame.toHex(), (hex("20*ff") + withCheckByte(poll)).toHex());
            QCOMPARE(int(rig.master.expandedDeviceType), 0);
            addresses += char(address);
            fakeNow() += 2000;
        }
        QCOMPARE(addresses.toHex(), hex("feff").toHex());
        QCOMPARE(int(status), int(BuildStatus::NoResponse));
        QCOMPARE(rig.step(), NothingDue);
    }

    void configurationCounterRetry()
    {
        Rig rig;
        rig.master.configChangeCounter = 5;
        rig.master.requestFlags |= MasterRequest::ResetConfigurationChanged;
        rig.build();
        QCOMPARE(rig.answer(longAnswer(38, 9, hex("0102"))), std::uint32_t(Ignore));
        QCOMPARE(rig.master.configChangeCounter, std::uint16_t(0x0102));
        BuildStatus status;
        QCOMPARE(rig.build(&status).mid(5 + 6, 4).toHex(), QByteArray("26020102"));
        QCOMPARE(int(status), Sent);
        QCOMPARE(rig.answer(longAnswer(38, 0, hex("0102"))), std::uint32_t(Ok));
        QCOMPARE(int(rig.master.requestFlags), 0);
    }

    void additionalStatusAcknowledged()
    {
        Rig rig;
        raise(rig, "cmd48");
        rig.build();
        const QByteArray status48 = hex("01..0a");
        QCOMPARE(rig.answer(longAnswer(48, 0, status48, 0x10)), std::uint32_t(Continue));
        // The acknowledgement echoes the status just decoded (its extended status: the good-answer row).
        const QByteArray ack = rig.build();
        QCOMPARE(ack.mid(5 + 6).toHex(), (hex("300a060504030201ff040009")).toHex() + ack.right(1).toHex());
        QCOMPARE(rig.answer(longAnswer(48, 0, status48, 0x10)), std::uint32_t(Continue));
        QCOMPARE(rig.build().mid(5 + 6, 2).toHex(), QByteArray("300a"));
        QCOMPARE(rig.answer(longAnswer(48, 0, status48, 0x00)), std::uint32_t(Ok));
        QCOMPARE(int(rig.master.requestFlags), 0);
    }

    void requestsWaitForIdentifiedDevice()
    {
        Rig rig;
        rig.master.expandedDeviceType = 0;
        for (const char* key : {"cmd12", "cmd134", "cmd48"})
            raise(rig, key);
        QCOMPARE(rig.step(), NothingDue);
        // The clock, the searches and the transfers need no identity.
        raise(rig, "cmd90");
        rig.build();
        QCOMPARE(rig.sentCommand(), 90);
        QCOMPARE(rig.answer(longAnswer(90, 0, QByteArray(15, 0), 0, hex("00000a0b0c"))), std::uint32_t(Ok));
        raise(rig, "cmd252info");
        rig.build();
        QCOMPARE(rig.sentCommand(), 252);
    }
};

QTEST_APPLESS_MAIN(TestHartCommands)
#include "tst_hart_commands.moc"
