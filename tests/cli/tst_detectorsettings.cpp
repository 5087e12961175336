// The settings mapping without widgets against the real window on a simulated detector.

#include "detectorsettings.h"
#include "mainwindow.h"
#include "profilefields.h"
#include "resources.h"
#include "simulatedwindow.h"

#include <QAction>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Device {
    std::array<std::uint8_t, 4> bytes;
    std::array<std::uint16_t, 5> currents;

    Hart::DetectorConfig config() const
    {
        Hart::DetectorConfig d;
        std::copy(bytes.begin(), bytes.begin() + 3, d.configuration);
        d.configuration3 = bytes[3];
        std::copy(currents.begin(), currents.end(), d.currentSettings);
        return d;
    }
};
const Device factory{ { 0x05, 0x84, 50, 10 }, { 2000, 3000, 4000, 8000, 18000 } };
const Device full{ { 0xFF, 0xFF, 0xFF, 0xFF }, { 0, 24000, 24001, 999, 65535 } };

QStringList listed(const Profile::Values& v)
{
    QStringList list{ QString::number(v.model, 16) };
    for (int f = 0; f < Profile::FieldCount; ++f)
        list << Profile::entryName(Profile::Field(f)) + '=' + v.fields[f].toString();
    return list;
}

QStringList listed(const Profile::Limits& l)
{
    QStringList list;
    for (const Profile::Range& r : l)
        list << QString("%1..%2/%3").arg(r.min).arg(r.max).arg(r.step);
    return list;
}

QString request(std::uint16_t command, const QByteArray& data)
{
    return QString::number(command) + ": " + data.toHex(' ');
}

} // namespace
Q_DECLARE_METATYPE(Device)

class TestDetectorSettings : public QObject, WindowBench {
    Q_OBJECT

    QTemporaryDir dir;

    ProfileFields& fields() { return *window->profileFields; }

    // A window that has served no other model, after reading a detector that holds this.
    void readWindow(int model, const Device& device)
    {
        QVERIFY(connectWindow(quick(std::uint16_t(model))));
        sim->modify([&](Sim::DeviceState& s) {
            s.configuration = device.bytes;
            s.currentsUa = device.currents;
        });
        window->findChild<QAction*>("connectRead")->trigger();
        runUntilQuiet(100);
        window->findChild<QAction*>("connectRead")->trigger();
        sim->clearRequests();
    }
    void compareTexts(std::uint16_t model, const Profile::Values& values)
    {
        for (int f = 0; f < Profile::FieldCount; ++f)
            QCOMPARE(DetectorSettings::displayText(model, Profile::Field(f), values.fields[f]), fields().displayText(f));
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); // the program's own
        initResources();
        TestClock::install(0x10000u);
        QVERIFY(dir.isValid());
    }
    void init() { start(); }
    void cleanup() { finish(); }

    // Device bytes at and beyond every field's range: the values, limits, captions and texts.
    void read_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<Device>("device");
        QTest::newRow("FF04 factory") << 0xFF04 << factory;
        QTest::newRow("FF04 all bits") << 0xFF04 << full;
        QTest::newRow("FF04 type 3, old 10 s") << 0xFF04 << Device{ { 0x02, 0x1A, 100, 0 }, factory.currents };
        QTest::newRow("FF04 type 2, 4 s, 101") << 0xFF04 << Device{ { 0x01, 0x90, 101, 4 }, full.currents };
        QTest::newRow("FF03 type 1, 21 s") << 0xFF03 << Device{ { 0x03, 0xA0, 0, 21 }, full.currents };
        QTest::newRow("FF05 7 s") << 0xFF05 << Device{ { 0x07, 0xA7, 50, 7 }, factory.currents };
        QTest::newRow("FF06 old 5 s") << 0xFF06 << Device{ { 0x02, 0x00, 33, 0 }, factory.currents };
    }
    void read()
    {
        QFETCH(int, model);
        QFETCH(Device, device);
        readWindow(model, device);
        const auto m = std::uint16_t(model);
        const Profile::Values values = DetectorSettings::fromDevice(m, device.config());
        QCOMPARE(listed(values), listed(fields().values(m)));
        QCOMPARE(listed(DetectorSettings::limits(m)), listed(fields().limits()));
        compareTexts(m, values);
        for (int f = -1; f <= FormField::Count; ++f) {
            QCOMPARE(DetectorSettings::caption(f), fields().caption(f));
            QCOMPARE(DetectorSettings::isShown(m, f), fields().isShown(f));
        }
    }

    // A profile loaded from its file onto the detector just read, or values no file passes set
    // into the fields directly; then written. The window holds, marks and sends what the
    // mapping says.
    void write_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<Device>("device");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("file");
        QTest::newRow("FF04 every field") << 0xFF04 << factory << "63 17 2 1 0 0 0 2500 3250 4125 9000 19999" << true;
        QTest::newRow("FF04 as read") << 0xFF04 << factory << "50 10 0 0 1 0 1 2000 3000 4000 8000 18000" << true;
        QTest::newRow("FF04 lowest") << 0xFF04 << full << "0 5 0 0 0 0 0 0 0 0 0 0" << true;
        QTest::newRow("FF04 currents only") << 0xFF04 << full << "100 20 4 1 1 1 1 1 24000 24000 999 24000" << true;
        QTest::newRow("FF03 type 1") << 0xFF03 << factory << "100 20 1 1 1 1 0 2000 3000 4000 8000 18000" << true;
        QTest::newRow("FF05 no type") << 0xFF05 << factory << "99 10 -1 1 0 1 0 2000 3000 4000 8000 18000" << true;
        QTest::newRow("FF06 5 s") << 0xFF06 << full << "100 5 4 1 1 1 1 1000 3000 4000 8000 18000" << true;
        QTest::newRow("FF04 above") << 0xFF04 << factory << "150 25 7 2 5 3 9 30000 24001 65536 99999 25000" << false;
        QTest::newRow("FF04 below") << 0xFF04 << factory << "-1 3 -2 -1 -1 0 0 -5 -1 0 1 2" << false;
        QTest::newRow("FF03 type 2") << 0xFF03 << factory << "101 4 2 1 1 0 1 1 2 3 4 5" << false;
        QTest::newRow("FF05 9 s, type 5") << 0xFF05 << factory << "50 9 5 0 0 1 1 1 2 3 4 5" << false;
    }
    void write()
    {
        QFETCH(int, model);
        QFETCH(Device, device);
        QFETCH(QString, settings);
        QFETCH(bool, file);
        readWindow(model, device);
        const auto m = std::uint16_t(model);
        Profile::Values values;
        values.model = m;
        QByteArray text = "app=\"ИПП-93кт-Hart\"\r\nversion=2\r\n<parameters>\r\n\tmodel=" + QByteArray::number(model) + "\r\n";
        for (int f = 0; f < Profile::FieldCount; ++f) {
            values.fields[f] = settings.section(' ', f, f).toInt();
            text += '\t' + Profile::entryName(Profile::Field(f)).toLatin1() + '=' + settings.section(' ', f, f).toLatin1() + "\r\n";
        }
        const DetectorSettings::Encoded e = DetectorSettings::toDevice(m, values, device.config());
        if (file) {
            QFile out(dir.filePath("profile.cfg"));
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(text + "</parameters>\r\n") > 0);
            out.close();
            answerer->chooseFile(out.fileName());
            window->findChild<QAction*>("loadProfile")->trigger();
            QCOMPARE(boxTexts(), QStringList());
            QCOMPARE(int(window->modifiedParameterGroups()), int(e.groups));
        } else {
            fields().apply(values);
            window->modifiedGroups = ConfigGroup::all;
        }
        QCOMPARE(listed(fields().values(m)), listed(DetectorSettings::shown(m, values)));
        compareTexts(m, values);

        answerer->answerBoxesWith(QMessageBox::Yes); // with nothing changed: write every group
        window->findChild<QAction*>("connectWrite")->trigger();
        runUntilQuiet(100);
        QStringList seen, expected;
        for (const Sim::ReceivedRequest& r : sim->requests())
            if (r.command == 132 || r.command == 134)
                seen << request(r.command, QByteArray(reinterpret_cast<const char*>(r.data.data()), int(r.data.size())));
        QByteArray currents;
        for (std::uint16_t c : e.currents)
            currents += char(c >> 8) + QByteArray(1, char(c & 0xFF));
        const std::uint8_t groups = file && e.groups ? e.groups : ConfigGroup::all;
        if (groups & ConfigGroup::currents)
            expected << request(132, currents);
        if (groups & ConfigGroup::detector)
            expected << request(134, QByteArray(reinterpret_cast<const char*>(e.configuration), 4));
        QCOMPARE(seen, expected);
    }
};

QTEST_MAIN(TestDetectorSettings)
#include "tst_detectorsettings.moc"
