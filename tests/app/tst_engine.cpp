#include "mainwindow.h"
#include "modalanswerer.h"
#include "simulatedwindow.h"
#include "resources.h"
#include "ui_mainwindow.h"

#include "hart/mastercommands.h"
#include "hart/messages.h"
#include "sim/simulator.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <memory>

namespace {

// The frame layer's clock, moved by hand. It starts just short of the wrap so that every
// test also crosses it.
uint32_t now = 0xFFFFF000u;
uint32_t testTick()
{
    return now;
}

using Commands = std::vector<uint16_t>;

QString commandList(const Commands& commands)
{
    return SimulatedWindow::commandList(commands);
}

Commands commandsOf(const std::vector<Sim::ReceivedRequest>& requests)
{
    return SimulatedWindow::commandsOf(requests);
}

}

class TestEngine : public QObject {
    Q_OBJECT

    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<SimulatedWindow> rig;
    MainWindow* window = nullptr;
    Sim::Simulator* sim = nullptr;

    void connectWindow(const Sim::Options& options = Sim::Options())
    {
        rig = std::make_unique<SimulatedWindow>(*answerer, options);
        window = &rig->window();
        sim = &rig->simulator();
        QVERIFY(rig->isConnected());
    }

    void disconnectWindow()
    {
        rig.reset();
        window = nullptr;
        sim = nullptr;
    }

    bool tick(int answerWaitMs = 1000) { return rig->tick(answerWaitMs); }

    // Never two outstanding: each tick sends at most one request, answered before the next.
    Commands runUntilQuiet(int maxTicks = 40)
    {
        bool oneAtATime = true;
        const Commands commands = rig->runUntilQuiet(maxTicks, &oneAtATime);
        if (!oneAtATime)
            QTest::qFail("a tick sent more than one request", __FILE__, __LINE__);
        return commands;
    }

    void identify()
    {
        window->ui->connectRead->trigger();
        QVERIFY(window->ui->connectRead->isChecked());
        runUntilQuiet();
    }

private slots:
    void initTestCase()
    {
        initResources();
        Hart::setTickFunction(testTick);
    }

    void init()
    {
        now = 0xFFFFF000u;
        answerer = std::make_unique<ModalAnswerer>();
    }

    void cleanup()
    {
        disconnectWindow();
        answerer.reset();
    }

    // A fresh read identifies the device, then asks the one-time reads one by one in table
    // order, then the cyclic reads take turns; a write raised meanwhile jumps the queue.
    void readingOrder()
    {
        connectWindow();
        window->ui->connectRead->trigger();
        const Commands first = runUntilQuiet();
        QCOMPARE(commandList(first), QStringLiteral("0 48 131 133 7 12 13 16 20 76"));
        QCOMPARE(window->ui->serial->text(), QString::number(0x01E240));
        QVERIFY(window->ui->connectRead->isChecked());

        QMetaObject::invokeMethod(window, "requestTimerUpdate");
        // A write raised among the cyclic reads goes before the next one of them.
        tick();
        window->requestFlags |= Hart::MasterRequest::ResetConfigurationChanged;
        const Commands cyclic = runUntilQuiet();
        QCOMPARE(commandList(cyclic).left(6), QStringLiteral("38 9 9"));
        QVERIFY(commandList(cyclic).contains(QStringLiteral("90")));

        // Another second of reading: the same three again, no more.
        QMetaObject::invokeMethod(window, "requestTimerUpdate");
        const Commands again = runUntilQuiet();
        QCOMPARE(std::count(again.begin(), again.end(), 2), 1);
        QCOMPARE(std::count(again.begin(), again.end(), 90), 1);
        QCOMPARE(window->receivedPackets(), window->sentPackets());
        // The only message is the report of the flag reset.
        QCOMPARE(answerer->boxes().size(), 1);
        QCOMPARE(answerer->boxes()[0].text, QStringLiteral("Сброс флага первичной конфигурации выполнен"));
    }

    void errorResponseStopsPolling_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("result");
        QTest::newRow("communication error 0x82") << 0 << "Ошибка" << 47;
        QTest::newRow("code 5 to command 17") << 1 << "Ошибка 5" << 18;
    }
    void errorResponseStopsPolling()
    {
        QFETCH(int, kind);
        QFETCH(QString, title);
        QFETCH(int, result);
        connectWindow();
        identify();
        if (kind == 0) {
            sim->inject(Sim::Fault::communicationError(0x02));
            QMetaObject::invokeMethod(window, "requestTimerUpdate");
        } else {
            sim->inject(Sim::Fault::responseCode(17, 5));
            window->identity.requestWriteMessage("NEW TEXT");
        }
        runUntilQuiet();
        QCOMPARE(answerer->boxes().size(), 1);
        QCOMPARE(answerer->boxes()[0].title, title);
        QCOMPARE(answerer->boxes()[0].text, QString::fromUtf8(Hart::resultMessage(uint32_t(result))));
        QVERIFY(!window->ui->connectRead->isChecked());
        QCOMPARE(window->requestFlags, uint8_t(0));
        QCOMPARE(window->dynamicVariables.requestFlags, uint8_t(0));
        QCOMPARE(window->identity.requestFlags, uint16_t(0));
    }

    // Five sends 2000 ms apart without an answer, then one message.
    void unansweredRequestGivesUp()
    {
        connectWindow();
        identify();
        sim->inject(Sim::Fault::noAnswer(10));
        sim->clearRequests();
        window->requestFlags |= Hart::MasterRequest::ResetConfigurationChanged;
        for (int i = 0; i < 12 && answerer->boxes().isEmpty(); ++i) {
            tick(50);
            now += 1000;
        }
        QCOMPARE(commandList(commandsOf(sim->requests())), QStringLiteral("38 38 38 38 38"));
        QCOMPARE(answerer->boxes().size(), 1);
        QCOMPARE(answerer->boxes()[0].title, QStringLiteral("Ошибка"));
        QCOMPARE(answerer->boxes()[0].text, QStringLiteral("Устройство не отвечает"));
        QVERIFY(!window->ui->connectRead->isChecked());
    }

    // Frames built while the port is closed are not counted; a response that arrives with
    // nothing outstanding is counted and ignored.
    void countersFollowTheLine()
    {
        connectWindow();
        window->ui->connectButton->trigger();
        QVERIFY(!window->isPortOpen());
        window->identity.requestFlags |= Hart::IdentityRequest::ReadUniqueIdentifier;
        QMetaObject::invokeMethod(window, "parseTimerUpdate");
        QCOMPARE(window->sentPackets(), 0u);

        disconnectWindow();
        connectWindow();
        window->identity.requestFlags |= Hart::IdentityRequest::ReadUniqueIdentifier;
        QVERIFY(tick());
        QCOMPARE(window->terminalState(), TerminalState::Received);
        window->attempts = 0; // the request was given up before its answer came
        QMetaObject::invokeMethod(window, "parseTimerUpdate");
        QCOMPARE(window->receivedPackets(), 1u);
        QVERIFY(window->ui->serial->text().isEmpty());
        QVERIFY(answerer->boxes().isEmpty());
    }

    void addressSearchWithoutDevice_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("0..2") << 0 << 2;
        QTest::newRow("one address") << 62 << 62;
    }
    void addressSearchWithoutDevice()
    {
        QFETCH(int, first);
        QFETCH(int, last);
        Sim::Options options;
        options.pollingAddress = 10;
        connectWindow(options);
        answerer->queue([=](QWidget* dialog) {
            dialog->findChild<QSpinBox*>(QStringLiteral("addrTo"))->setValue(last);
            dialog->findChild<QSpinBox*>(QStringLiteral("addrFrom"))->setValue(first);
            dialog->findChild<QPushButton*>(QStringLiteral("findAddres"))->click();
        });
        window->ui->find->trigger();
        QVERIFY(window->ui->find->isChecked());
        QVERIFY(!window->ui->connectRead->isEnabled());

        std::vector<uint32_t> sendTimes;
        for (int i = 0; i < 20 && answerer->boxes().isEmpty(); ++i) {
            if (tick(50))
                sendTimes.push_back(now);
            now += 500;
        }
        QVERIFY(sim->waitForRequests(size_t(last - first + 1), std::chrono::milliseconds(500)));
        const auto requests = sim->requests();
        QCOMPARE(int(requests.size()), last - first + 1);
        for (size_t i = 0; i < requests.size(); ++i) {
            QCOMPARE(requests[i].command, uint16_t(0));
            QCOMPARE(int(requests[i].address.at(0) & 0x3F), first + int(i));
            if (i > 0)
                QCOMPARE(sendTimes[i] - sendTimes[i - 1], 2000u);
        }
        QCOMPARE(answerer->boxes().size(), 1);
        QCOMPARE(answerer->boxes()[0].text, QStringLiteral("Устройство не отвечает"));
        QVERIFY(!window->ui->find->isChecked());
        QVERIFY(window->ui->connectRead->isEnabled());
        QVERIFY(window->addressSpinBox->isEnabled());
    }

    // With the real timers: reading identifies the device and keeps the cyclic reads going;
    // pulling the modem out ends in one "no answer" and leaves the window usable.
    void endToEndReadingAndUnplug()
    {
        connectWindow();
        rig->startTimers();
        window->ui->connectRead->trigger();
        const auto clockReads = [this] {
            const auto requests = sim->requests();
            return std::count_if(requests.begin(), requests.end(),
                                 [](const Sim::ReceivedRequest& r) { return r.command == 90; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(clockReads() >= 2, 8000);
        QCOMPARE(window->ui->serial->text(), QString::number(0x01E240));
        QVERIFY(window->ui->connectRead->isChecked());
        QVERIFY(answerer->boxes().isEmpty());

        sim->closeLine();
        for (int i = 0; i < 100 && answerer->boxes().isEmpty(); ++i) {
            QTest::qWait(100);
            now += 500;
        }
        QCOMPARE(answerer->boxes().size(), 1);
        QCOMPARE(answerer->boxes()[0].text, QStringLiteral("Устройство не отвечает"));
        QVERIFY(!window->ui->connectRead->isChecked());
        QTest::qWait(300);
        QCOMPARE(answerer->boxes().size(), 1);

        window->ui->connectButton->trigger();
        QVERIFY(!window->isPortOpen());
        QCOMPARE(window->ui->connectButton->text(), QStringLiteral("Соединить"));
    }

    // A tag search goes out at once as a broadcast command 11 with the packed tag; a long-tag
    // search as command 21; a cancelled dialog sends nothing.
    void searchByText_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("command");
        QTest::newRow("cancel") << 0 << -1;
        QTest::newRow("tag") << 2 << 11;
        QTest::newRow("long tag") << 3 << 21;
    }
    void searchByText()
    {
        QFETCH(int, kind);
        QFETCH(int, command);
        connectWindow();
        sim->modify([](Sim::DeviceState& s) {
            s.tag = "TANK-7";
            s.longTag = "Boiler room north";
        });
        answerer->queue([kind](QWidget* dialog) {
            auto* finder = static_cast<QDialog*>(dialog);
            if (kind == 2) {
                dialog->findChild<QLineEdit*>(QStringLiteral("tag"))->setText(QStringLiteral("TANK-7"));
                dialog->findChild<QPushButton*>(QStringLiteral("findTag"))->click();
            } else if (kind == 3) {
                dialog->findChild<QLineEdit*>(QStringLiteral("longTag"))->setText(QStringLiteral("Boiler room north"));
                dialog->findChild<QPushButton*>(QStringLiteral("findLongTag"))->click();
            } else {
                finder->reject();
            }
        });
        window->ui->find->trigger();
        QVERIFY(!window->ui->find->isChecked());
        runUntilQuiet(5);
        const auto requests = sim->requests();
        if (command < 0) {
            QVERIFY(requests.empty());
            return;
        }
        QVERIFY(!requests.empty());
        QCOMPARE(int(requests[0].command), command);
        QCOMPARE(requests[0].address, std::vector<uint8_t>(5, 0)); // broadcast
        if (command == 11) {
            // "TANK-7  " in packed ASCII: six bits per character.
            QCOMPARE(requests[0].data, (std::vector<uint8_t> { 0x50, 0x13, 0x8B, 0xB7, 0x78, 0x20 }));
        }
        QCOMPARE(window->ui->serial->text(), QString::number(0x01E240));
        QVERIFY(answerer->boxes().isEmpty());
    }

    // Reading needs a port; a device of another kind is named and polling stops.
    void refusals()
    {
        MainWindow closed;
        closed.ui->connectRead->trigger();
        QVERIFY(!closed.ui->connectRead->isChecked());
        QCOMPARE(answerer->boxes().value(0).text, QStringLiteral("Соединение не установлено"));

        answerer->clearBoxes();
        Sim::Options options;
        options.expandedDeviceType = 0xFF01;
        connectWindow(options);
        identify();
        QCOMPARE(commandList(commandsOf(sim->requests())), QStringLiteral("0"));
        QCOMPARE(answerer->boxes().value(0).text, QStringLiteral("Неизвестное устройство"));
        QVERIFY(!window->ui->connectRead->isChecked());
        QCOMPARE(window->ui->model->text(), QStringLiteral("FF01 (HEX)"));
    }
};

QTEST_MAIN(TestEngine)
#include "tst_engine.moc"
