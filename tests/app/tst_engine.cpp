#include "mainwindow.h"
#include "simulatedwindow.h"
#include "resources.h"
#include "testfiles.h"
#include "ui_mainwindow.h"
#include "values.h"

#include "hart/mastercommands.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <chrono>

// The clock starts just short of the wrap, so that every test also crosses it.
constexpr uint32_t clockStart = 0xFFFFF000u;
using TestClock::now;

class TestEngine : public QObject, WindowBench {
    Q_OBJECT

    // Never two outstanding: each tick sends at most one request, answered before the next.
    QString runOneAtATime(int maxTicks = 40)
    {
        bool oneAtATime = true;
        const QString commands = runUntilQuiet(maxTicks, &oneAtATime);
        if (!oneAtATime)
            QTest::qFail("a tick sent more than one request", __FILE__, __LINE__);
        return commands;
    }
    bool tick(int answerWaitMs = 1000) { return rig->tick(answerWaitMs); }
    // The command of the request lying in the terminal's buffer.
    int postedCommand() const
    {
        const uint8_t* frame = window->frameBuffer;
        int at = 0;
        while (at < 40 && frame[at] == 0xFF)
            ++at;
        return (frame[at] & 0x80) ? frame[at + 6] : frame[at + 2];
    }
    void identify()
    {
        window->ui->connectRead->trigger();
        QVERIFY(window->ui->connectRead->isChecked());
        runOneAtATime();
    }
    // Starts a search of the addresses first..last through the search dialog.
    void searchAddresses(int first, int last)
    {
        answerer->queue([=](QWidget* dialog) {
            dialog->findChild<QSpinBox*>(QStringLiteral("addrTo"))->setValue(last);
            dialog->findChild<QSpinBox*>(QStringLiteral("addrFrom"))->setValue(first);
            dialog->findChild<QPushButton*>(QStringLiteral("findAddres"))->click();
        });
        window->ui->find->trigger();
    }
    // Ticks half a second apart until a box tells how it went; the clock at each send.
    std::vector<uint32_t> tickUntilBox()
    {
        std::vector<uint32_t> sendTimes;
        for (int i = 0; i < 20 && answerer->boxes().isEmpty(); ++i, now += 500)
            if (tick(50))
                sendTimes.push_back(now);
        return sendTimes;
    }

private slots:
    void initTestCase()
    {
        initResources();
        TestClock::install(clockStart);
    }
    void init()
    {
        now = clockStart;
        start();
    }
    void cleanup() { finish(); }

    // A fresh read identifies the device, then asks the one-time reads one by one in table
    // order, then the cyclic reads take turns; a write raised meanwhile jumps the queue.
    void readingOrder()
    {
        QVERIFY(connectWindow());
        window->ui->connectRead->trigger();
        QCOMPARE(runOneAtATime(), QStringLiteral("0 48 131 133 7 12 13 16 20 76"));
        QCOMPARE(window->ui->serial->text(), QString::number(0x01E240));
        QVERIFY(window->ui->connectRead->isChecked());

        QMetaObject::invokeMethod(window, "requestTimerUpdate");
        tick();
        window->requestFlags |= Hart::MasterRequest::ResetConfigurationChanged;
        const QString cyclic = runOneAtATime();
        QVERIFY2(cyclic.startsWith(QStringLiteral("38 9 9")) && cyclic.contains(QStringLiteral("90")), qPrintable(cyclic));

        // Another second of reading: the same three again, no more.
        QMetaObject::invokeMethod(window, "requestTimerUpdate");
        const QStringList again = runOneAtATime().split(' ');
        QCOMPARE(values(again.count(QStringLiteral("2")), again.count(QStringLiteral("90"))), values(1, 1));
        QCOMPARE(window->receivedPackets(), window->sentPackets());
        QCOMPARE(boxTexts(), QStringList{ QStringLiteral("Сброс флага первичной конфигурации выполнен") });
    }

    // Five sends 2000 ms apart without an answer, then one message.
    void unansweredRequestGivesUp()
    {
        QVERIFY(connectWindow());
        identify();
        sim->inject(Sim::Fault::noAnswer(10));
        sim->clearRequests();
        window->requestFlags |= Hart::MasterRequest::ResetConfigurationChanged;
        for (int i = 0; i < 12 && answerer->boxes().isEmpty(); ++i) {
            tick(50);
            now += 1000;
        }
        QCOMPARE(sent(), QStringLiteral("38 38 38 38 38"));
        QCOMPARE(answerer->titledTexts(), QStringList{ QStringLiteral("Ошибка/Устройство не отвечает") });
        QVERIFY(!window->ui->connectRead->isChecked());
    }

    // Frames built while the port is closed are not counted; a response that arrives with
    // nothing outstanding is counted and ignored.
    void countersFollowTheLine()
    {
        QVERIFY(connectWindow());
        window->ui->connectButton->trigger();
        QVERIFY(!window->isPortOpen());
        window->identity.requestFlags |= Hart::IdentityRequest::ReadUniqueIdentifier;
        QMetaObject::invokeMethod(window, "parseTimerUpdate");
        QCOMPARE(window->sentPackets(), 0u);

        disconnectWindow();
        QVERIFY(connectWindow());
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
        Sim::Options options = quick();
        options.pollingAddress = 10;
        QVERIFY(connectWindow(options));
        searchAddresses(first, last);
        QVERIFY(window->ui->find->isChecked());
        QVERIFY(!window->ui->connectRead->isEnabled());
        const std::vector<uint32_t> sendTimes = tickUntilBox();
        QVERIFY(sim->waitForRequests(size_t(last - first + 1), std::chrono::milliseconds(2000)));
        const auto requests = sim->requests();
        QCOMPARE(int(requests.size()), last - first + 1);
        for (size_t i = 0; i < requests.size(); ++i) {
            QCOMPARE(requests[i].command, uint16_t(0));
            QCOMPARE(int(requests[i].address.at(0) & 0x3F), first + int(i));
            if (i > 0)
                QCOMPARE(sendTimes[i] - sendTimes[i - 1], 2000u);
        }
        QCOMPARE(boxTexts(), QStringList{ QStringLiteral("Устройство не отвечает") });
        QCOMPARE(values(window->addressSpinBox->value(), window->ui->find->isChecked(),
                        window->ui->connectRead->isEnabled(), window->addressSpinBox->isEnabled()),
                 values(0, false, true, true));
    }

    // A request posted to the terminal but not yet on the line when the port closes is made for
    // the device behind that port: the next port never sees it, nor does the engine repeat it.
    void pendingRequestDiesWithPort_data()
    {
        QTest::addColumn<int>("command");
        QTest::newRow("configuration write") << 17;
        QTest::newRow("firmware chunk") << 253;
    }
    void pendingRequestDiesWithPort()
    {
        QFETCH(int, command);
        QVERIFY(connectWindow());
        identify();
        window->ui->connectRead->trigger();
        runOneAtATime();
        QTemporaryDir dir;
        if (command == 17) {
            window->ui->message->setText(QStringLiteral("STALE"));
            window->ui->connectWrite->trigger();
        } else {
            window->firmwareWindow.show();
            window->firmwareWindow.findChild<QLineEdit*>(QStringLiteral("fileName"))
                ->setText(writeFile(dir, QStringLiteral("image.fwb"), imageBytes(300)));
            window->firmwareWindow.findChild<QPushButton*>(QStringLiteral("update"))->click();
        }
        // Ticks until the request is in the terminal, then closes at once: the line takes a
        // request only after two silent character times, long after this.
        bool pending = false;
        for (int i = 0; i < 20 && !pending; ++i) {
            QMetaObject::invokeMethod(window, "parseTimerUpdate");
            pending = window->terminalState() == TerminalState::TransmitRequested && postedCommand() == command;
            if (!pending)
                QTRY_VERIFY_WITH_TIMEOUT(window->terminalState() == TerminalState::Received, 1000);
        }
        QVERIFY(pending);
        const size_t before = sim->requests().size();
        window->ui->connectButton->trigger();
        QVERIFY(!window->isPortOpen());
        QCOMPARE(sim->requests().size(), before);
        window->firmwareWindow.close();

        const auto replacement = plugInNewDetector();
        QVERIFY(window->isPortOpen());
        for (int i = 0; i < 5; ++i, now += 2500)
            QMetaObject::invokeMethod(window, "parseTimerUpdate");
        QTest::qWait(100);
        QVERIFY(replacement->requests().empty());
        window->ui->connectRead->trigger();
        QVERIFY(tick() && replacement->waitForRequests(1, std::chrono::milliseconds(1000)));
        QCOMPARE(replacement->requests().front().command, uint16_t(0));
        window->ui->connectButton->trigger();
    }

    // After a search that found nothing the address returns to the device that answered last,
    // and an operation confirmed now is refused at once instead of waiting for the next read.
    // The live values turn grey while nothing refreshes them.
    void failedSearchLeavesNothingHeld()
    {
        QVERIFY(connectWindow());
        identify();
        QVERIFY(window->ui->curState->toolTip().isEmpty());
        searchAddresses(1, 3);
        tickUntilBox();
        QCOMPARE(window->ui->curState->toolTip(),
                 QStringLiteral("Устройство не отвечает: показано последнее полученное значение"));

        answerer->clearBoxes();
        answerer->answerBoxesWith(QMessageBox::Yes);
        sim->clearRequests();
        window->ui->calibration->trigger();
        QVERIFY(boxTexts().size() == 1 && boxTexts().at(0).startsWith(QStringLiteral("Устройство не опознано")));
        window->ui->connectRead->trigger();
        QCOMPARE(runOneAtATime(), QStringLiteral("0 48 131 133 7 12 13 16 20 76"));
        QMetaObject::invokeMethod(window, "requestTimerUpdate");
        runOneAtATime();
        QVERIFY(window->ui->curState->toolTip().isEmpty());
        QCOMPARE(window->ui->curState->palette().color(QPalette::Text), window->normalPalette.color(QPalette::Text));

        window->ui->connectButton->trigger();
        QCOMPARE(window->ui->irValue->toolTip(), QStringLiteral("Порт закрыт: показано последнее полученное значение"));
    }

    // With the real timers: reading identifies the device and keeps the cyclic reads going.
    // Pulling the modem out is told once, naming the port; the window is disconnected with its
    // fields and port choice kept, and reads again through a new connection.
    void endToEndReadingAndUnplug()
    {
        QVERIFY(connectWindow());
        rig->startTimers();
        window->ui->connectRead->trigger();
        const auto clockReads = [this] { return sent().split(' ').count(QStringLiteral("90")); };
        QTRY_VERIFY_WITH_TIMEOUT(clockReads() >= 2, 8000);
        QCOMPARE(window->ui->serial->text(), QString::number(0x01E240));
        QVERIFY(answerer->boxes().isEmpty());

        // A report from a handler waits in its box while answers keep arriving and the timers
        // keep ticking: its frame is handled once, and reading goes on after the box.
        answerer->onBox = [](const ModalAnswerer::Box&) { QTest::qWait(400); };
        window->ui->updateTime->click();
        QTRY_COMPARE_WITH_TIMEOUT(answerer->boxes().size(), 1, 5000);
        QTest::qWait(300);
        QCOMPARE(boxTexts(), QStringList{ QStringLiteral("Текущее время установлено") });
        QCOMPARE(sent().split(' ').count(QStringLiteral("89")), 1);
        const int readsAfterBox = clockReads();
        QTRY_VERIFY_WITH_TIMEOUT(clockReads() > readsAfterBox, 3000);
        answerer->onBox = nullptr;
        answerer->clearBoxes();
        window->ui->connectRead->trigger();
        QTest::qWait(1500);
        const auto requests = sim->requests();
        QCOMPARE(window->receivedPackets(), uint32_t(std::count_if(requests.begin(), requests.end(),
                                                                   [](const auto& r) { return r.answered; })));
        window->ui->connectRead->trigger();

        const QString lostPath = QString::fromStdString(sim->portPath());
        const QString tag = window->ui->tag->text();
        sim->closeLine();
        QTRY_VERIFY_WITH_TIMEOUT(!answerer->boxes().isEmpty(), 2000);
        QVERIFY2(boxTexts()[0].startsWith(QStringLiteral("Связь с портом %1 потеряна").arg(lostPath)),
                 qPrintable(boxTexts()[0]));
        QCOMPARE(values(window->isPortOpen(), window->ui->connectButton->text(), window->ui->connectRead->isChecked(),
                        window->ui->tag->text(), window->storedPortName()),
                 values(false, QStringLiteral("Соединить"), false, tag, lostPath));
        QTest::qWait(300);
        QCOMPARE(answerer->boxes().size(), 1);

        const auto replacement = plugInNewDetector();
        QVERIFY(window->isPortOpen());
        window->ui->connectRead->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(SimulatedWindow::commandsOf(replacement->requests()).size() >= 11, 8000);
        QCOMPARE(answerer->boxes().size(), 1);
        window->ui->connectButton->trigger();
    }

    // A tag search goes out at once as a broadcast command 11 with the packed tag; a long-tag
    // search as command 21; a cancelled dialog sends nothing.
    void searchByText_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("command");
        QTest::newRow("cancel") << "" << "" << -1;
        QTest::newRow("tag") << "Tag" << "TANK-7" << 11;
        // The long tag is Latin-1 on the wire: the device knows it by these very bytes.
        QTest::newRow("long tag") << "LongTag" << "Zürich" << 21;
    }
    void searchByText()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(int, command);
        QVERIFY(connectWindow());
        sim->modify([](Sim::DeviceState& s) {
            s.tag = "TANK-7";
            s.longTag = "Z\xFCrich";
        });
        answerer->queue([=](QWidget* dialog) {
            if (field.isEmpty())
                return static_cast<QDialog*>(dialog)->reject();
            QString name = field;
            name[0] = name[0].toLower();
            dialog->findChild<QLineEdit*>(name)->setText(text);
            dialog->findChild<QPushButton*>("find" + field)->click();
        });
        window->ui->find->trigger();
        QVERIFY(!window->ui->find->isChecked());
        runOneAtATime(5);
        const auto requests = sim->requests();
        QCOMPARE(requests.empty(), command < 0);
        if (command < 0)
            return;
        QCOMPARE(int(requests[0].command), command);
        QCOMPARE(requests[0].address, std::vector<uint8_t>(5, 0)); // broadcast
        if (command == 11) // "TANK-7  " in packed ASCII: six bits per character.
            QCOMPARE(requests[0].data, (std::vector<uint8_t> { 0x50, 0x13, 0x8B, 0xB7, 0x78, 0x20 }));
        QCOMPARE(window->ui->serial->text(), QString::number(0x01E240));
        QVERIFY(answerer->boxes().isEmpty());
    }

    // A device of another kind is named and polling stops.
    void otherDeviceRefused()
    {
        QVERIFY(connectWindow(quick(0xFF01)));
        identify();
        QCOMPARE(sent(), QStringLiteral("0"));
        QCOMPARE(boxTexts(), QStringList{ QStringLiteral("Неизвестное устройство") });
        QVERIFY(!window->ui->connectRead->isChecked());
        QCOMPARE(window->ui->model->text(), QStringLiteral("FF01 (HEX)"));
    }
};

QTEST_MAIN(TestEngine)
#include "tst_engine.moc"
