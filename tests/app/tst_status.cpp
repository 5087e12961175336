#include "mainwindow.h"
#include "modalanswerer.h"
#include "simulatedwindow.h"
#include "resources.h"
#include "ui_mainwindow.h"

#include "hart/mastercommands.h"
#include "sim/simulator.h"

#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextDocumentFragment>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {

uint32_t now = 0x10000u;
uint32_t testTick()
{
    return now;
}

bool isRed(const QWidget* field)
{
    return field->palette().color(QPalette::Text) == QColor(Qt::red);
}

}

class TestStatus : public QObject {
    Q_OBJECT

    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<SimulatedWindow> rig;
    MainWindow* window = nullptr;
    Sim::Simulator* sim = nullptr;

    // A short turnaround keeps the many exchanges of these tests quick.
    void connectWindow()
    {
        Sim::Options options;
        options.turnaroundMs = 2;
        rig = std::make_unique<SimulatedWindow>(*answerer, options);
        window = &rig->window();
        sim = &rig->simulator();
        QVERIFY(rig->isConnected());
    }

    // Ticks until nothing more goes out; returns the commands the device saw meanwhile.
    QString runUntilQuiet() { return SimulatedWindow::commandList(rig->runUntilQuiet()); }

    void readOnce()
    {
        window->ui->connectRead->trigger();
        runUntilQuiet();
        QMetaObject::invokeMethod(window, "requestTimerUpdate");
        runUntilQuiet();
    }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const auto& box : answerer->boxes())
            texts << box.text;
        return texts;
    }

    QAction* action(const QString& name) const { return window->findChild<QAction*>(name); }

private slots:
    void initTestCase()
    {
        initResources();
        Hart::setTickFunction(testTick);
    }

    void init() { answerer = std::make_unique<ModalAnswerer>(); }

    void cleanup()
    {
        rig.reset();
        window = nullptr;
        sim = nullptr;
        answerer.reset();
    }

    // Device variables 0..2 as the device reports them through command 9.
    void deviceVariables_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("red");
        const float nan = std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("state 4.6 alarm") << 0 << 4.6f << 0xC0 << "Сработал" << false;
        QTest::newRow("state 6.4 fault") << 0 << 6.4f << 0xC0 << "Неисправность" << false;
        QTest::newRow("state 3.4 normal") << 0 << 3.4f << 0xC0 << "Норма" << false;
        QTest::newRow("state 7.0 unknown") << 0 << 7.0f << 0xC0 << "" << false;
        QTest::newRow("state -0.6 unknown") << 0 << -0.6f << 0xC0 << "" << false;
        QTest::newRow("state NaN") << 0 << nan << 0xC0 << "" << false;
        QTest::newRow("state 1e30") << 0 << 1e30f << 0xC0 << "" << false;
        QTest::newRow("state bad quality 0x30") << 0 << 3.0f << 0x30 << "?" << true;
        QTest::newRow("IR low limited 0xD0") << 1 << 120.0f << 0xD0 << "120 mV" << true;
        QTest::newRow("IR high limited 0xE0") << 1 << 120.0f << 0xE0 << "120 mV" << true;
        QTest::newRow("IR constant 0xF0") << 1 << 120.0f << 0xF0 << "120 mV" << false;
        QTest::newRow("UV poor quality 0x40") << 2 << 0.123456789f << 0x40 << "0.123457 mV" << false;
        QTest::newRow("UV bad quality 0x00") << 2 << 40.0f << 0x00 << "?" << true;
    }
    void deviceVariables()
    {
        QFETCH(int, index);
        QFETCH(float, value);
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(bool, red);
        connectWindow();
        sim->modify([&](Sim::DeviceState& s) {
            s.variables[size_t(index)].base = value;
            s.variables[size_t(index)].swing = 0.0f;
            s.variables[size_t(index)].status = uint8_t(status);
        });
        readOnce();
        QLineEdit* const fields[] = { window->ui->curState, window->ui->irValue, window->ui->uvValue };
        QCOMPARE(fields[index]->text(), text);
        QCOMPARE(isRed(fields[index]), red);
    }

    void faultLines_data()
    {
        QTest::addColumn<int>("byte0");
        QTest::addColumn<int>("byte1");
        QTest::addColumn<int>("moduleVersion");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("module");
        QTest::newRow("0x81 0x02")
            << 0x81 << 0x02 << 0x21
            << QStringList{ "Неисправность тактового генератора частоты CPU", "Загрязнение оптики",
                            "Обнаружение тестового фонаря" }
            << "33";
        QTest::newRow("none, no module") << 0 << 0 << 0 << QStringList() << "";
        QTest::newRow("0x08 0x80: module link, calibration")
            << 0x08 << 0x80 << 1 << QStringList{ "Ошибка связи с модулем ИПП", "Ошибка калибровки оптики" } << "1";
        // Bits 12..14 have no line.
        QTest::newRow("0x00 0x70") << 0 << 0x70 << 0xFF << QStringList() << "255";
    }
    void faultLines()
    {
        QFETCH(int, byte0);
        QFETCH(int, byte1);
        QFETCH(int, moduleVersion);
        QFETCH(QStringList, shown);
        QFETCH(QString, module);
        connectWindow();
        sim->modify([&](Sim::DeviceState& s) {
            s.additionalStatus = { uint8_t(byte0), uint8_t(byte1), uint8_t(moduleVersion), 0, 0, 0 };
        });
        readOnce();
        QStringList visible;
        QCOMPARE(window->ui->errorLayout->count(), 13);
        for (int i = 0; i < window->ui->errorLayout->count(); ++i) {
            auto* line = qobject_cast<QLabel*>(window->ui->errorLayout->itemAt(i)->widget());
            QVERIFY(line);
            QVERIFY(line->text().startsWith(QStringLiteral("<html><head/><body><p><span style=\" font-weight:600; "
                                                           "color:#ff0000;\">")));
            if (!line->isHidden())
                visible << QTextDocumentFragment::fromHtml(line->text()).toPlainText();
        }
        QCOMPARE(visible, shown);
        QCOMPARE(window->ui->ippVersion->text(), module);
    }

    // Icons 1..8 follow the status byte of the last answer; 0x48 is a fixed current and a
    // changed configuration.
    void statusIcons_data()
    {
        QTest::addColumn<int>("statusBits");
        QTest::addColumn<bool>("fixed");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QString>("setIcons");
        QTest::newRow("0x48") << 0 << true << true << "4 7";
        QTest::newRow("0x87") << 0x87 << false << false << "1 2 3 8";
        QTest::newRow("0x00") << 0 << false << false << "";
    }
    void statusIcons()
    {
        QFETCH(int, statusBits);
        QFETCH(bool, fixed);
        QFETCH(bool, changed);
        QFETCH(QString, setIcons);
        connectWindow();
        const QString pictures[8] = { "primaryOut", "secondaryOut", "remove", "pin",
                                      "warning", "power", "change", "error" };
        for (int i = 0; i < 8; ++i)
            QVERIFY(window->statusIcons[i]->text().contains(pictures[i] + "Disabled.png"));
        QVERIFY(window->statusIcons[8]->text().contains("lockDisabled.png"));
        QCOMPARE(window->statusIcons[6]->toolTip(), QStringLiteral("Конфигурация изменена"));

        window->ui->connectRead->trigger();
        runUntilQuiet();
        sim->modify([&](Sim::DeviceState& s) {
            s.statusBits = uint8_t(statusBits);
            s.fixedCurrent = fixed;
            s.configChanged = changed;
            s.coldStart = false;
            s.acknowledgedStatus = Sim::additionalStatusBytes(s);
        });
        QMetaObject::invokeMethod(window, "requestTimerUpdate");
        runUntilQuiet();
        QStringList set;
        for (int i = 0; i < 8; ++i) {
            const QString text = window->statusIcons[i]->text();
            QCOMPARE(text, QStringLiteral("<img src=\":/new/prefix/Resources/Icons/Basic/11x11/%1%2.png\"/>")
                               .arg(pictures[i], text.contains("Disabled") ? "Disabled" : ""));
            if (!text.contains("Disabled"))
                set << QString::number(i + 1);
        }
        QCOMPARE(set.join(' '), setIcons);
    }

    // Check marks and availability of unlock, temporary, permanent, all; and icon 9.
    void lockActions_data()
    {
        QTest::addColumn<int>("lockState");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("enabled");
        QTest::addColumn<QString>("icon");
        QTest::newRow("0x00 unlocked") << 0x00 << "1000" << "1111" << "unlock.png";
        QTest::newRow("0x01 temporary") << 0x01 << "0100" << "1111" << "lock.png";
        QTest::newRow("0x03 permanent") << 0x03 << "0010" << "1111" << "lock.png";
        QTest::newRow("0x05 primary's lock") << 0x05 << "0000" << "0000" << "lock.png";
        QTest::newRow("0x09 all") << 0x09 << "0001" << "1001" << "lock.png";
        QTest::newRow("0x0B all, permanent") << 0x0B << "0001" << "1001" << "lock.png";
    }
    void lockActions()
    {
        QFETCH(int, lockState);
        QFETCH(QString, checked);
        QFETCH(QString, enabled);
        QFETCH(QString, icon);
        connectWindow();
        sim->modify([&](Sim::DeviceState& s) { s.lockState = uint8_t(lockState); });
        window->ui->connectRead->trigger();
        runUntilQuiet();
        QAction* const actions[] = { window->ui->unlock, window->ui->lockTemporary, window->ui->lockPermanent,
                                     window->ui->lockAll };
        QString isChecked, isEnabled;
        for (QAction* a : actions) {
            isChecked += a->isChecked() ? '1' : '0';
            isEnabled += a->isEnabled() ? '1' : '0';
        }
        QCOMPARE(isChecked, checked);
        QCOMPARE(isEnabled, enabled);
        QCOMPARE(window->statusIcons[8]->text(),
                 QStringLiteral("<img src=\":/new/prefix/Resources/Icons/Basic/11x11/%1\"/>").arg(icon));
    }

    // A lock from the menu reads the lock state back; only the chosen entry ends up checked.
    void lockFromMenu()
    {
        connectWindow();
        window->ui->connectRead->trigger();
        runUntilQuiet();
        window->ui->lockAll->trigger();
        QCOMPARE(runUntilQuiet(), QStringLiteral("71 76"));
        QCOMPARE(sim->state().lockState, uint8_t(0x09));
        QVERIFY(window->ui->lockAll->isChecked());
        QVERIFY(!window->ui->lockTemporary->isChecked());
        QVERIFY(!window->ui->unlock->isChecked());
        QVERIFY(window->statusIcons[8]->text().contains("/lock.png"));
    }

    // Calibration and optics check poll their state once per answer until the device is done.
    void serviceOperations_data()
    {
        QTest::addColumn<QString>("actionName");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        const QString calibration = "136 135 135 135 135";
        const QString check = "138 137 137 137 137";
        QTest::newRow("calibration done") << "calibration" << 2 << calibration << int(QMessageBox::Information)
                                          << "Калибровка выполнена";
        QTest::newRow("calibration failed") << "calibration" << 3 << calibration << int(QMessageBox::Critical)
                                            << "Калибровка не выполнена";
        QTest::newRow("optics clean") << "actionCheckOptics" << 2 << check << int(QMessageBox::Information)
                                      << "Оптика чиста";
        QTest::newRow("optics low supply") << "actionCheckOptics" << 4 << check << int(QMessageBox::Critical)
                                           << "Низкое напряжение питания";
        QTest::newRow("optics not calibrated") << "actionCheckOptics" << 5 << check << int(QMessageBox::Critical)
                                               << "Калибровка не выполнена";
        QTest::newRow("optics dirty") << "actionCheckOptics" << 3 << check << int(QMessageBox::Critical)
                                      << "Оптика загрязнена";
    }
    void serviceOperations()
    {
        QFETCH(QString, actionName);
        QFETCH(int, result);
        QFETCH(QString, commands);
        QFETCH(int, icon);
        QFETCH(QString, text);
        connectWindow();
        window->ui->connectRead->trigger();
        runUntilQuiet();
        window->ui->connectRead->trigger(); // reading off: only the operation goes out
        sim->modify([&](Sim::DeviceState& s) {
            s.calibration.result = uint8_t(result);
            s.opticsCheck.result = uint8_t(result);
        });
        answerer->answerBoxesWith(QMessageBox::Yes);
        action(actionName)->trigger();
        QCOMPARE(runUntilQuiet(), commands);
        const auto& boxes = answerer->boxes();
        QCOMPARE(boxes.size(), actionName == "calibration" ? 2 : 1);
        QCOMPARE(boxes.last().text, text);
        QCOMPARE(boxes.last().icon, icon);
        QCOMPARE(boxes.last().title, icon == QMessageBox::Critical ? QStringLiteral("Ошибка") : QString());
        QCOMPARE(window->receivedPackets(), window->sentPackets());
    }

    // After a reset to defaults every one-time read is asked again before the user is told.
    void resetToDefaults()
    {
        connectWindow();
        window->ui->connectRead->trigger();
        runUntilQuiet();
        window->ui->connectRead->trigger();
        sim->modify([](Sim::DeviceState& s) { s.currentsUa[0] = 3500; });

        // Answers the boxes itself, to see what was due at the moment each came up.
        answerer.reset();
        QStringList texts;
        QList<uint32_t> dueAtBox;
        QTimer poller;
        connect(&poller, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            texts << box->text();
            dueAtBox << (uint32_t(window->identity.requestFlags) << 16 | uint32_t(window->detector.requestFlags) << 8
                         | window->requestFlags);
            (box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes) : box->defaultButton())->click();
        });
        poller.start(2);
        window->ui->resetDefault->trigger();
        QCOMPARE(runUntilQuiet(), QStringLiteral("130 48 131 133 7 12 13 16 20 76"));
        QCOMPARE(sim->requests().at(sim->requests().size() - 10).data.at(0), uint8_t(2));
        QCOMPARE(texts, (QStringList{ "Вы действительно хотите сбросить настройки по умолчанию?",
                                      "Сброс настроек по умолчанию выполнен" }));
        using namespace Hart;
        const uint32_t oneTimeReads = uint32_t(IdentityRequest::ReadMessage | IdentityRequest::ReadTagDescriptorDate
                                               | IdentityRequest::ReadFinalAssemblyNumber | IdentityRequest::ReadLongTag)
                << 16
            | uint32_t(DetectorRequest::ReadCurrents | DetectorRequest::ReadConfiguration) << 8
            | MasterRequest::ReadLoopConfiguration | MasterRequest::ReadAdditionalStatus | MasterRequest::ReadLockState;
        QCOMPARE(dueAtBox.value(1), oneTimeReads);
        QCOMPARE(sim->state().currentsUa[0], uint16_t(2000));
    }

    // Questions answered No, and operations that need a port tried without one, send nothing.
    void refusals_data()
    {
        QTest::addColumn<QString>("actionName");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const QString noPort = "Соединение не установлено";
        QTest::newRow("reset to defaults, No") << "resetDefault" << true << "Сброс настроек по умолчанию"
                                               << "Вы действительно хотите сбросить настройки по умолчанию?";
        QTest::newRow("calibration, No") << "calibration" << true << ""
                                         << "Внимание!\nПеред калибровкой убедитесь, что оптика находится в "
                                            "чистом состоянии.\nВыполнить калибровку оптики?";
        QTest::newRow("reset to defaults, no port") << "resetDefault" << false << "Ошибка" << noPort;
        QTest::newRow("clear status, no port") << "actionClearStatus" << false << "Ошибка" << noPort;
        QTest::newRow("calibration, no port") << "calibration" << false << "Ошибка" << noPort;
    }
    void refusals()
    {
        QFETCH(QString, actionName);
        QFETCH(bool, connected);
        QFETCH(QString, title);
        QFETCH(QString, text);
        std::unique_ptr<MainWindow> unconnected;
        if (connected) {
            connectWindow();
        } else {
            unconnected = std::make_unique<MainWindow>();
            window = unconnected.get();
        }
        answerer->answerBoxesWith(QMessageBox::No);
        action(actionName)->trigger();
        QCOMPARE(answerer->boxes().size(), 1);
        QCOMPARE(answerer->boxes()[0].title, title);
        QCOMPARE(answerer->boxes()[0].text, text);
        QCOMPARE(window->detector.requestFlags, uint16_t(0));
        if (connected)
            QCOMPARE(runUntilQuiet(), QString());
    }

    // The other operations: what reaches the device, what the user is told, and which
    // loop-current mode the menu shows once the device has answered.
    void operations_data()
    {
        QTest::addColumn<QString>("actionName");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("loopMode");
        QTest::newRow("restart") << "restart" << "42 48" << "Устройство перезагружено" << "normalCurrentMode";
        QTest::newRow("configuration flag") << "resetFlagChanges" << "38" << "Сброс флага первичной конфигурации выполнен"
                                            << "normalCurrentMode";
        QTest::newRow("clock") << "updateTime" << "89" << "Текущее время установлено" << "normalCurrentMode";
        QTest::newRow("clear status") << "actionClearStatus" << "130 2 9" << "" << "normalCurrentMode";
        QTest::newRow("fixed 4 mA") << "fixMode4" << "6 40" << "" << "fixMode4";
        QTest::newRow("fixed 20 mA") << "fixMode20" << "6 40" << "" << "fixMode20";
        QTest::newRow("multidrop") << "multiDropMode" << "6" << "" << "multiDropMode";
    }
    void operations()
    {
        QFETCH(QString, actionName);
        QFETCH(QString, commands);
        QFETCH(QString, box);
        QFETCH(QString, loopMode);
        connectWindow();
        window->ui->connectRead->trigger();
        runUntilQuiet();
        window->ui->connectRead->trigger();
        if (actionName == "updateTime")
            window->ui->updateTime->click();
        else
            action(actionName)->trigger();
        QVERIFY(runUntilQuiet().startsWith(commands));
        QCOMPARE(boxTexts(), box.isEmpty() ? QStringList() : QStringList{ box });

        window->ui->connectRead->trigger();
        QMetaObject::invokeMethod(window, "requestTimerUpdate");
        runUntilQuiet();
        for (const char* name : { "normalCurrentMode", "multiDropMode", "fixMode4", "fixMode20" })
            QCOMPARE(action(name)->isChecked(), loopMode == name);
        const QString current = window->ui->curCurrent->text();
        if (loopMode == "multiDropMode")
            QCOMPARE(current, QStringLiteral("---"));
        else if (loopMode == "fixMode20")
            QCOMPARE(current, QStringLiteral("20 mA"));
        else
            QVERIFY2(current.endsWith(" mA"), qPrintable(current));
    }

    void identityAndClock_data()
    {
        QTest::addColumn<int>("clockFlags");
        QTest::newRow("clock running") << 0x01;
        QTest::newRow("clock lost") << 0x03;
    }
    void identityAndClock()
    {
        QFETCH(int, clockFlags);
        connectWindow();
        sim->modify([&](Sim::DeviceState& s) { s.clockFlags = uint8_t(clockFlags); });
        readOnce();
        QCOMPARE(window->ui->finalAssemblyNumber->text(), QStringLiteral("120345"));
        QCOMPARE(window->ui->versionHardware->text(), QStringLiteral("3"));
        const QString time = window->ui->currentTime->text();
        if (clockFlags & 0x02) {
            QCOMPARE(time, QStringLiteral("Ошибка"));
        } else {
            const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
            QVERIFY2(QRegularExpression(QStringLiteral("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d ") + today + "$")
                         .match(time)
                         .hasMatch(),
                     qPrintable(time));
        }
    }
};

QTEST_MAIN(TestStatus)
#include "tst_status.moc"
