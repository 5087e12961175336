#include "mainwindow.h"
#include "simulatedwindow.h"
#include "resources.h"
#include "ui_mainwindow.h"
#include "values.h"

#include "hart/mastercommands.h"

#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTextDocumentFragment>
#include <QtTest>

#include <limits>

namespace {

bool isRed(const QWidget* field)
{
    return field->palette().color(QPalette::Text) == QColor(Qt::red);
}

const QString iconPath = QStringLiteral("<img src=\":/new/prefix/Resources/Icons/Basic/11x11/%1.png\"/>");

// Value and status of the state, IR and UV variables, and how each is shown.
struct Variable {
    float value;
    int status;
    QString text;
    bool red;
};
struct Variables {
    Variable v[3];
};
// Additional status bytes 0, 1 and the module's version; the fault lines shown; the version shown.
struct Faults { QByteArray bytes; QStringList shown; QString module; };
struct Icons { int statusBits; bool fixedAndChanged; QString set; };
struct Lock { int state; QString checkedEnabled, icon; };
struct Service { QString action; int result; bool failed; QString text; };
// How far the window got before the operation: no port, a port with no device identified on
// it, or an identified device.
enum class Reach { noPort, connected, identified };
struct Refusal { QString action; Reach reach; QString title, text; };
struct Operation { QString action, commands, box, loopMode, note; };

}
Q_DECLARE_METATYPE(Variables)
Q_DECLARE_METATYPE(Faults)
Q_DECLARE_METATYPE(Icons)
Q_DECLARE_METATYPE(Lock)
Q_DECLARE_METATYPE(Service)
Q_DECLARE_METATYPE(Refusal)
Q_DECLARE_METATYPE(Operation)

class TestStatus : public QObject, WindowBench {
    Q_OBJECT

    QString keptFor;

    QAction* action(const QString& name) const { return window->findChild<QAction*>(name); }
    void read(bool identifyFirst = true)
    {
        if (identifyFirst) {
            window->ui->connectRead->trigger();
            runUntilQuiet();
        }
        QMetaObject::invokeMethod(window, "requestTimerUpdate");
        runUntilQuiet();
    }
    // Identifies the device, so that requests reach it by its unique address, and switches
    // reading off before the one-time reads: the answer to command 0 raises them, the switch
    // drops them again while command 48 is under way.
    void identifyOnly()
    {
        window->ui->connectRead->trigger();
        QVERIFY(rig->tick() && rig->tick());
        window->ui->connectRead->trigger();
        QCOMPARE(runUntilQuiet(), QString());
        QCOMPARE(sent(), QStringLiteral("0 48"));
        sim->clearRequests();
    }

private slots:
    void initTestCase()
    {
        initResources();
        TestClock::install(0x10000u);
    }
    // A function may keep its rig for its next row (see deviceVariables, lockActions); any other
    // starts afresh.
    void init()
    {
        if (keptFor != QTest::currentTestFunction())
            finish();
        keptFor.clear();
        if (!answerer)
            start();
    }
    void cleanup()
    {
        if (keptFor.isEmpty())
            finish();
    }
    void cleanupTestCase() { finish(); }

    // Device variables 0..2 as the device reports them through command 9.
    void deviceVariables_data()
    {
        QTest::addColumn<Variables>("variables");
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const Variable irLow = { 120.0f, 0xD0, "120 mV", true }, irHigh = { 120.0f, 0xE0, "120 mV", true },
                       irConstant = { 120.0f, 0xF0, "120 mV", false },
                       uvPoor = { 0.123456789f, 0x40, "0.123457 mV", false }, uvBad = { 40.0f, 0x00, "?", true };
        QTest::newRow("4.6 alarm, IR 0xD0, UV 0x40") << Variables{ { { 4.6f, 0xC0, "Сработал", false }, irLow, uvPoor } };
        QTest::newRow("6.4 fault, IR 0xE0, UV 0x00") << Variables{ { { 6.4f, 0xC0, "Неисправность", false }, irHigh, uvBad } };
        QTest::newRow("3.4 normal, IR 0xF0") << Variables{ { { 3.4f, 0xC0, "Норма", false }, irConstant, uvPoor } };
        QTest::newRow("7.0 unknown") << Variables{ { { 7.0f, 0xC0, "", false }, irLow, uvBad } };
        QTest::newRow("-0.6 unknown") << Variables{ { { -0.6f, 0xC0, "", false }, irHigh, uvPoor } };
        QTest::newRow("NaN") << Variables{ { { nan, 0xC0, "", false }, irConstant, uvBad } };
        QTest::newRow("state bad quality 0x30") << Variables{ { { 3.0f, 0x30, "?", true }, irHigh, uvBad } };
    }
    void deviceVariables()
    {
        QFETCH(Variables, variables);
        // Rows share one identified device: each sets all three variables and reads them once.
        if (!rig) {
            QVERIFY(connectWindow());
            window->ui->connectRead->trigger();
            runUntilQuiet();
        }
        sim->modify([&](Sim::DeviceState& s) {
            for (size_t i = 0; i < 3; ++i) {
                s.variables[i].base = variables.v[i].value;
                s.variables[i].swing = 0.0f;
                s.variables[i].status = uint8_t(variables.v[i].status);
            }
        });
        read(false);
        QLineEdit* const fields[] = { window->ui->curState, window->ui->irValue, window->ui->uvValue };
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(fields[i]->text(), variables.v[i].text);
            QCOMPARE(isRed(fields[i]), variables.v[i].red);
        }
        keptFor = QTest::currentTestFunction();
    }

    void faultLines_data()
    {
        QTest::addColumn<Faults>("f");
        QTest::newRow("0x81 0x02") << Faults{ QByteArray("\x81\x02\x21", 3),
                                              { "Неисправность тактового генератора частоты CPU", "Загрязнение оптики",
                                                "Обнаружение тестового фонаря" },
                                              "33" };
        QTest::newRow("none, no module") << Faults{ QByteArray(3, 0), {}, "" };
        QTest::newRow("0x08 0x80: module link, calibration")
            << Faults{ QByteArray("\x08\x80\x01", 3), { "Ошибка связи с модулем ИПП", "Ошибка калибровки оптики" }, "1" };
        QTest::newRow("0x00 0x70: bits 12..14 have no line") << Faults{ QByteArray("\x00\x70\xFF", 3), {}, "255" };
    }
    void faultLines()
    {
        QFETCH(Faults, f);
        QVERIFY(connectWindow());
        sim->modify([&](Sim::DeviceState& s) { s.additionalStatus = { uint8_t(f.bytes[0]), uint8_t(f.bytes[1]), uint8_t(f.bytes[2]), 0, 0, 0 }; });
        read();
        QStringList visible;
        QCOMPARE(window->ui->errorLayout->count(), 13);
        for (int i = 0; i < window->ui->errorLayout->count(); ++i) {
            auto* line = qobject_cast<QLabel*>(window->ui->errorLayout->itemAt(i)->widget());
            QVERIFY(line);
            QVERIFY(line->text().startsWith(
                QStringLiteral("<html><head/><body><p><span style=\" font-weight:600; color:#ff0000;\">")));
            if (!line->isHidden())
                visible << QTextDocumentFragment::fromHtml(line->text()).toPlainText();
        }
        QCOMPARE(visible, f.shown);
        QCOMPARE(window->ui->ippVersion->text(), f.module);
    }

    // Icons 1..8 follow the status byte of the last answer; 0x48 is a fixed current and a
    // changed configuration.
    void statusIcons_data()
    {
        QTest::addColumn<Icons>("c");
        QTest::newRow("0x48") << Icons{ 0, true, "4 7" };
        QTest::newRow("0x87") << Icons{ 0x87, false, "1 2 3 8" };
    }
    void statusIcons()
    {
        QFETCH(Icons, c);
        QVERIFY(connectWindow());
        const QString pictures[8] = { "primaryOut", "secondaryOut", "remove", "pin", "warning", "power", "change", "error" };
        for (int i = 0; i < 8; ++i)
            QCOMPARE(window->statusIcons[i]->text(), iconPath.arg(pictures[i] + "Disabled"));
        QCOMPARE(window->statusIcons[8]->text(), iconPath.arg("lockDisabled"));
        QCOMPARE(window->statusIcons[6]->toolTip(), QStringLiteral("Конфигурация изменена"));

        window->ui->connectRead->trigger();
        runUntilQuiet();
        sim->modify([&](Sim::DeviceState& s) {
            s.statusBits = uint8_t(c.statusBits);
            s.fixedCurrent = s.configChanged = c.fixedAndChanged;
            s.coldStart = false;
            s.acknowledgedStatus = Sim::additionalStatusBytes(s);
        });
        read(false);
        QStringList set;
        for (int i = 0; i < 8; ++i) {
            const QString text = window->statusIcons[i]->text();
            QCOMPARE(text, iconPath.arg(pictures[i] + (text.contains("Disabled") ? "Disabled" : "")));
            if (!text.contains("Disabled"))
                set << QString::number(i + 1);
        }
        QCOMPARE(set.join(' '), c.set);
    }

    // Check marks and availability of unlock, temporary, permanent, all; and icon 9. A lock from
    // the menu (state -1) reads the lock state back; only the chosen entry ends up checked.
    void lockActions_data()
    {
        QTest::addColumn<Lock>("l");
        QTest::newRow("0x00 unlocked") << Lock{ 0x00, "1000 1111", "unlock" };
        QTest::newRow("all from the menu") << Lock{ -1, "0001 1001", "lock" };
        QTest::newRow("0x01 temporary") << Lock{ 0x01, "0100 1111", "lock" };
        QTest::newRow("0x03 permanent") << Lock{ 0x03, "0010 1111", "lock" };
        QTest::newRow("0x05 primary's lock") << Lock{ 0x05, "0000 0000", "lock" };
        QTest::newRow("0x09 all") << Lock{ 0x09, "0001 1001", "lock" };
    }
    void lockActions()
    {
        QFETCH(Lock, l);
        // Rows share one identified device: each sets the lock state and reads it back.
        if (!rig) {
            QVERIFY(connectWindow());
            window->ui->connectRead->trigger();
            runUntilQuiet();
        }
        if (l.state < 0) {
            window->ui->lockAll->trigger();
            QCOMPARE(runUntilQuiet(), QStringLiteral("71 76"));
            QCOMPARE(sim->state().lockState, uint8_t(0x09));
        } else {
            sim->modify([&](Sim::DeviceState& s) { s.lockState = uint8_t(l.state); });
            window->requestFlags |= Hart::MasterRequest::ReadLockState;
            QCOMPARE(runUntilQuiet(), QStringLiteral("76"));
        }
        QString checked, enabled;
        for (QAction* a : { window->ui->unlock, window->ui->lockTemporary, window->ui->lockPermanent, window->ui->lockAll }) {
            checked += a->isChecked() ? '1' : '0';
            enabled += a->isEnabled() ? '1' : '0';
        }
        QCOMPARE(checked + ' ' + enabled, l.checkedEnabled);
        QCOMPARE(window->statusIcons[8]->text(), iconPath.arg(l.icon));
        keptFor = QTest::currentTestFunction();
    }

    // Calibration and optics check poll their state once per answer until the device is done.
    void serviceOperations_data()
    {
        QTest::addColumn<Service>("c");
        QTest::newRow("calibration done") << Service{ "calibration", 2, false, "Калибровка выполнена" };
        QTest::newRow("calibration failed") << Service{ "calibration", 3, true, "Калибровка не выполнена" };
        QTest::newRow("optics clean") << Service{ "actionCheckOptics", 2, false, "Оптика чиста" };
        QTest::newRow("optics low supply") << Service{ "actionCheckOptics", 4, true, "Низкое напряжение питания" };
        QTest::newRow("optics dirty") << Service{ "actionCheckOptics", 3, true, "Оптика загрязнена" };
    }
    void serviceOperations()
    {
        QFETCH(Service, c);
        QVERIFY(connectWindow());
        identifyOnly();
        sim->modify([&](Sim::DeviceState& s) { s.calibration.result = s.opticsCheck.result = uint8_t(c.result); });
        answerer->answerBoxesWith(QMessageBox::Yes);
        action(c.action)->trigger();
        const bool calibration = c.action == "calibration";
        QCOMPARE(runUntilQuiet(), calibration ? QStringLiteral("136 135 135 135 135") : QStringLiteral("138 137 137 137 137"));
        const auto& boxes = answerer->boxes();
        QCOMPARE(boxes.size(), calibration ? 2 : 1);
        QCOMPARE(values(boxes.last().title, boxes.last().text, boxes.last().icon),
                 values(c.failed ? QStringLiteral("Ошибка") : QString(), c.text,
                        int(c.failed ? QMessageBox::Critical : QMessageBox::Information)));
        QCOMPARE(window->receivedPackets(), window->sentPackets());
    }

    // After a reset to defaults every one-time read is asked again before the user is told.
    void resetToDefaults()
    {
        QVERIFY(connectWindow());
        identifyOnly();
        sim->modify([](Sim::DeviceState& s) { s.currentsUa[0] = 3500; });

        // What was due at the moment each box came up.
        QList<uint32_t> dueAtBox;
        answerer->onBox = [&](const ModalAnswerer::Box&) {
            dueAtBox << (uint32_t(window->identity.requestFlags) << 16 | uint32_t(window->detector.requestFlags) << 8
                         | window->requestFlags);
        };
        answerer->answerBoxesWith(QMessageBox::Yes);
        window->ui->resetDefault->trigger();
        QCOMPARE(runUntilQuiet(), QStringLiteral("130 48 131 133 7 12 13 16 20 76"));
        QCOMPARE(sim->requests().at(0).data.at(0), uint8_t(2));
        QCOMPARE(boxTexts(), (QStringList{ "Вы действительно хотите сбросить настройки по умолчанию?",
                                      "Сброс настроек по умолчанию выполнен" }));
        using namespace Hart;
        const uint32_t oneTimeReads = uint32_t(IdentityRequest::ReadMessage | IdentityRequest::ReadTagDescriptorDate
                                               | IdentityRequest::ReadFinalAssemblyNumber | IdentityRequest::ReadLongTag) << 16
            | uint32_t(DetectorRequest::ReadCurrents | DetectorRequest::ReadConfiguration) << 8
            | MasterRequest::ReadLoopConfiguration | MasterRequest::ReadAdditionalStatus | MasterRequest::ReadLockState;
        QCOMPARE(dueAtBox.value(1), oneTimeReads);
        QCOMPARE(sim->state().currentsUa[0], uint16_t(2000));
    }

    // Questions answered No, and operations tried without a port or before the device has
    // answered on this connection, send nothing, then or later.
    void refusals_data()
    {
        QTest::addColumn<Refusal>("c");
        const QString noPort = "Соединение не установлено";
        const QString unknown = "Устройство не опознано: операция не выполнена.\n"
                                "Нажмите «Прочитать конфигурацию» и повторите операцию.";
        QTest::newRow("reset to defaults, No") << Refusal{ "resetDefault", Reach::identified, "Сброс настроек по умолчанию",
                                                           "Вы действительно хотите сбросить настройки по умолчанию?" };
        QTest::newRow("calibration, No") << Refusal{ "calibration", Reach::identified, "",
                                                     "Внимание!\nПеред калибровкой убедитесь, что оптика находится в "
                                                     "чистом состоянии.\nВыполнить калибровку оптики?" };
        // Every device operation, and no checkable action stays checked by the refused click.
        for (const char* name : { "connectRead", "resetDefault", "actionClearStatus", "calibration", "restart",
                                  "resetFlagChanges", "actionCheckOptics", "updateTime", "unlock", "lockTemporary",
                                  "lockPermanent", "lockAll", "normalCurrentMode", "multiDropMode", "fixMode4", "fixMode20" })
            QTest::newRow(qPrintable(QStringLiteral("%1, no port").arg(name))) << Refusal{ name, Reach::noPort, "Ошибка", noPort };
        // The confirmed operations, a checkable one, the clock and the write share one check.
        for (const char* name : { "resetDefault", "calibration", "lockAll", "updateTime", "connectWrite" })
            QTest::newRow(qPrintable(QStringLiteral("%1, not identified").arg(name)))
                << Refusal{ name, Reach::connected, "Ошибка", unknown };
    }
    void refusals()
    {
        QFETCH(Refusal, c);
        MainWindow unconnected;
        if (c.reach != Reach::noPort)
            QVERIFY(connectWindow());
        else
            window = &unconnected;
        if (c.reach == Reach::identified)
            identifyOnly();
        answerer->answerBoxesWith(QMessageBox::No);
        if (c.action == "updateTime")
            window->ui->updateTime->click();
        else
            action(c.action)->trigger();
        QCOMPARE(boxTexts(), QStringList{ c.text });
        QCOMPARE(answerer->boxes()[0].title, c.title);
        QCOMPARE(window->requestFlags | window->detector.requestFlags | window->clock.requestFlags
                     | window->identity.requestFlags | window->dynamicVariables.requestFlags,
                 0);
        for (const QAction* a : window->findChildren<QAction*>())
            QVERIFY2(c.reach == Reach::identified || !a->isChecked() || a->objectName() == "connectButton",
                     qPrintable(a->objectName()));
        QCOMPARE(rig ? runUntilQuiet() : QString(), QString());
        // Nor does the identification that follows carry it out.
        if (c.reach == Reach::connected) {
            action("connectRead")->trigger();
            QCOMPARE(runUntilQuiet(), QStringLiteral("0 48 131 133 7 12 13 16 20 76"));
        }
        window = nullptr;
    }

    // The other operations: what reaches the device, what the user is told, and which
    // loop-current mode the menu shows once the device has answered.
    void operations_data()
    {
        QTest::addColumn<Operation>("c");
        const QString normal = "normalCurrentMode";
        const QString loop = "Режим токовой петли установлен";
        QTest::newRow("restart") << Operation{ "restart", "42 48", "Устройство перезагружено", normal, "Устройство перезагружено" };
        QTest::newRow("clear status") << Operation{ "actionClearStatus", "130 2 9", "", normal, "Состояние сброшено" };
        QTest::newRow("fixed 4 mA") << Operation{ "fixMode4", "6 40", "", "fixMode4", loop };
        QTest::newRow("fixed 20 mA") << Operation{ "fixMode20", "6 40", "", "fixMode20", loop };
        QTest::newRow("multidrop") << Operation{ "multiDropMode", "6", "", "multiDropMode", loop };
    }
    void operations()
    {
        QFETCH(Operation, c);
        QVERIFY(connectWindow());
        identifyOnly();
        action(c.action)->trigger();
        const QString commands = runUntilQuiet();
        QVERIFY2(commands.startsWith(c.commands), qPrintable(commands));
        QCOMPARE(boxTexts(), c.box.isEmpty() ? QStringList() : QStringList{ c.box });
        // The note ends with the time it was completed.
        QVERIFY(QRegularExpression(QRegularExpression::escape(c.note) + " \\d\\d:\\d\\d:\\d\\d")
                    .match(window->doneLabel->text()).hasMatch());

        read();
        for (const char* name : { "normalCurrentMode", "multiDropMode", "fixMode4", "fixMode20" })
            QCOMPARE(action(name)->isChecked(), c.loopMode == name);
        const QString current = window->ui->curCurrent->text();
        if (c.loopMode == "multiDropMode")
            QCOMPARE(current, QStringLiteral("---"));
        else if (c.loopMode == "fixMode20")
            QCOMPARE(current, QStringLiteral("20 mA"));
        else
            QVERIFY2(current.endsWith(" mA"), qPrintable(current));
    }

    // The identity fields, and the clock running, then lost.
    void identityAndClock()
    {
        QVERIFY(connectWindow());
        sim->modify([](Sim::DeviceState& s) { s.clockFlags = 0x01; });
        read();
        QCOMPARE(window->ui->finalAssemblyNumber->text(), QStringLiteral("120345"));
        QCOMPARE(window->ui->versionHardware->text(), QStringLiteral("3"));
        const QString time = window->ui->currentTime->text();
        const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
        QVERIFY2(QRegularExpression("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d " + today + "$").match(time).hasMatch(),
                 qPrintable(time));
        sim->modify([](Sim::DeviceState& s) { s.clockFlags = 0x03; });
        read(false);
        QCOMPARE(window->ui->currentTime->text(), QStringLiteral("Ошибка"));
    }
};

QTEST_MAIN(TestStatus)
#include "tst_status.moc"
