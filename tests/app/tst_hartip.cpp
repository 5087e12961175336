// The window through a HART-IP server instead of a modem: the simulated detector's own server on
// the loopback, over UDP and TCP. Everything the window does must work the same as on the modem.

#include "mainwindow.h"
#include "dialogtraffic.h"
#include "simulatedwindow.h"
#include "resources.h"
#include "testfiles.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(SimulatedLink)

class TestHartIp : public QObject, WindowBench {
    Q_OBJECT

    QTemporaryDir dir;

    QLineEdit* message() { return window->findChild<QLineEdit*>("message"); }
    static void addLinks()
    {
        QTest::addColumn<SimulatedLink>("link");
        QTest::newRow("udp") << SimulatedLink::HartIpUdp;
        QTest::newRow("tcp") << SimulatedLink::HartIpTcp;
    }
    bool connectOver(SimulatedLink link) { return connectWindow(quick(), link); }
    // Parse ticks; a quiet tick moves the frame layer's clock, so repeats and give-ups come at once.
    void drive(int steps, const std::function<bool()>& enough = nullptr)
    {
        int quiet = 0;
        for (int i = 0; i < steps && quiet < 5 && !(enough && enough()) && window->isPortOpen(); ++i) {
            if (rig->tick(200)) {
                quiet = 0;
            } else if (window->terminalState() != TerminalState::Received) {
                ++quiet;
                TestClock::now += 1000;
                QTest::qWait(2);
            }
        }
    }
    void identify()
    {
        action("connectRead")->trigger();
        drive(40, [this] { return !serial().isEmpty(); });
        QCOMPARE(serial(), QString::number(0x01E240));
    }

private slots:
    void initTestCase()
    {
        initResources();
        TestClock::install(1000);
        QVERIFY(dir.isValid());
    }
    void init()
    {
        start();
        answerer->answerBoxesWith(QMessageBox::Yes);
    }
    void cleanup() { finish(); }

    // Identification, the one-time reads, a write of the message, a search;
    // the tool bar names the server.
    void identifyWriteReadBack_data() { addLinks(); }
    void identifyWriteReadBack()
    {
        QFETCH(SimulatedLink, link);
        QVERIFY(connectOver(link));
        const QString tcp = link == SimulatedLink::HartIpTcp ? "tcp" : "udp";
        QCOMPARE(window->findChild<QLabel*>("linkLabel")->text(),
                 QStringLiteral("HART-IP 127.0.0.1:%1/%2").arg(sim->hartIpPort()).arg(tcp));
        identify();
        drive(40);
        QCOMPARE(message()->text().trimmed(), QString::fromStdString(sim->state().message).trimmed());

        message()->setText(QStringLiteral("OVER HART-IP"));
        action("connectWrite")->trigger();
        drive(40);
        QCOMPARE(QString::fromStdString(sim->state().message).trimmed(), QStringLiteral("OVER HART-IP"));
        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(window->receivedPackets(), window->sentPackets());

        // A tag search goes out as a broadcast and finds the device again.
        action("connectRead")->trigger(); // off
        window->findChild<QLineEdit*>("serial")->clear();
        sim->clearRequests();
        answerer->queue([](QWidget* dialog) {
            dialog->findChild<QLineEdit*>("tag")->setText("IPP93");
            dialog->findChild<QPushButton*>("findTag")->click();
        });
        action("find")->trigger();
        drive(10, [this] { return !serial().isEmpty(); });
        QCOMPARE(sim->requests().at(0).command, uint16_t(11));
        QCOMPARE(serial(), QString::number(0x01E240));
    }

    // The server goes away in the middle of an event-log download: the lost box names it, the
    // records so far are kept, and the download resumes through a new session to the whole log,
    // each record once.
    void logDownloadCutAndResumed_data() { addLinks(); }
    void logDownloadCutAndResumed()
    {
        QFETCH(SimulatedLink, link);
        QVERIFY(connectOver(link));
        const QString file = dir.filePath(QString("%1.db").arg(QTest::currentDataTag()));
        QFile::remove(file);
        window->eventLog().createLog(file);
        const int records = int(sim->state().eventLog.records().size());
        const uint16_t port = sim->hartIpPort();
        const QString tcp = link == SimulatedLink::HartIpTcp ? "tcp" : "udp";

        logAction("actionRead")->trigger();
        const auto logRequests = [this] { return int(sim->requests().size()); };
        drive(200, [&] { return logRequests() >= 1 + 15 + 1 + 12; });
        sim->stopHartIp();
        for (int i = 0; i < 50 && answerer->boxes().isEmpty(); ++i) {
            rig->tick(50);
            TestClock::now += 2000;
        }
        QCOMPARE(boxTexts().size(), 1);
        QVERIFY2(boxTexts()[0].startsWith(QStringLiteral("Связь с портом 127.0.0.1:%1/%2 потеряна").arg(port).arg(tcp)),
                 qPrintable(boxTexts()[0]));
        QVERIFY(!window->isPortOpen());
        QVERIFY(!logAction("actionRead")->isChecked());
        const int kept = logRows();
        QVERIFY2(kept > 0 && kept < records, qPrintable(QString::number(kept)));

        answerer->clearBoxes();
        QVERIFY(sim->startHartIp("127.0.0.1", port));
        SimulatedWindow::chooseHartIp(*answerer, port, link == SimulatedLink::HartIpTcp);
        action("connectButton")->trigger();
        QVERIFY(window->isPortOpen());
        sim->clearRequests();
        logAction("actionRead")->trigger();
        drive(200, [this] { return !logAction("actionRead")->isChecked(); });
        QCOMPARE(logRows(), records);
        QCOMPARE(int(sim->requests().size()), 1 + 1 + records - kept);
        QCOMPARE(boxTexts(), QStringList());
    }

    // The network's own faults end as the modem's do: a refused session as a lost link naming
    // the server, one spoilt answer not at all, an answer that never comes as "no answer", a TCP
    // stream that cannot be framed again as a lost link. The session's own checks (sequence,
    // byte count, error and NAK) are the session test's.
    void networkFaults_data()
    {
        QTest::addColumn<SimulatedLink>("link");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("times");
        QTest::addColumn<QString>("box"); // empty: identified without a box
        const QString lost = QStringLiteral("Связь с портом"), silent = QStringLiteral("Устройство не отвечает");
        using K = Sim::FaultKind;
        QTest::newRow("udp: busy") << SimulatedLink::HartIpUdp << int(K::SessionBusy) << 1 << lost;
        QTest::newRow("tcp: busy") << SimulatedLink::HartIpTcp << int(K::SessionBusy) << 1 << lost;
        QTest::newRow("udp: error message once") << SimulatedLink::HartIpUdp << int(K::ErrorMessage) << 1 << QString();
        QTest::newRow("udp: wrong sequence") << SimulatedLink::HartIpUdp << int(K::WrongSequence) << 5 << silent;
        QTest::newRow("tcp: no answer") << SimulatedLink::HartIpTcp << int(K::NoAnswer) << 5 << silent;
        QTest::newRow("tcp: truncated header") << SimulatedLink::HartIpTcp << int(K::TruncatedHeader) << 5 << lost;
    }
    void networkFaults()
    {
        QFETCH(SimulatedLink, link);
        QFETCH(int, kind);
        QFETCH(int, times);
        QFETCH(QString, box);
        Sim::Fault fault;
        fault.kind = Sim::FaultKind(kind);
        fault.count = unsigned(times);
        const bool atConnect = fault.kind == Sim::FaultKind::SessionBusy;
        Sim::Options options = quick();
        auto rigged = std::make_unique<SimulatedWindow>(*answerer, options, link);
        sim = &rigged->simulator();
        if (atConnect) {
            // The detector's server is up; the window connects again with the fault armed.
            QVERIFY(rigged->isConnected());
            rigged->window().findChild<QAction*>("connectButton")->trigger();
            sim->inject(fault);
            SimulatedWindow::chooseHartIp(*answerer, sim->hartIpPort(), link == SimulatedLink::HartIpTcp);
            rigged->window().findChild<QAction*>("connectButton")->trigger();
            QVERIFY(!rigged->window().isPortOpen());
        }
        rig = std::move(rigged);
        window = &rig->window();
        if (!atConnect) {
            QVERIFY(window->isPortOpen());
            sim->inject(fault);
            action("connectRead")->trigger();
            if (link == SimulatedLink::HartIpTcp && fault.kind == Sim::FaultKind::TruncatedHeader) {
                // The link notices the stream stuck in real time, within one repeat of the request.
                QElapsedTimer clock;
                clock.start();
                while (clock.elapsed() < 6000 && answerer->boxes().isEmpty()) {
                    rig->tick(50);
                    QTest::qWait(20);
                }
            } else {
                drive(60, [this] { return !serial().isEmpty() || !answerer->boxes().isEmpty(); });
            }
        }
        if (box.isEmpty()) {
            QCOMPARE(boxTexts(), QStringList());
            QCOMPARE(serial(), QString::number(0x01E240));
            return;
        }
        QCOMPARE(boxTexts().size(), 1);
        QVERIFY2(boxTexts()[0].startsWith(box), qPrintable(boxTexts()[0]));
        if (box.startsWith(QStringLiteral("Связь")))
            QVERIFY2(boxTexts()[0].contains(QStringLiteral("127.0.0.1:%1").arg(sim->hartIpPort())), qPrintable(boxTexts()[0]));
        // The server's own reason follows.
        if (fault.kind == Sim::FaultKind::SessionBusy)
            QVERIFY2(boxTexts()[0].contains(QStringLiteral("отказал в сеансе")), qPrintable(boxTexts()[0]));
        if (fault.kind == Sim::FaultKind::TruncatedHeader)
            QVERIFY2(boxTexts()[0].contains(QStringLiteral("Поток TCP")), qPrintable(boxTexts()[0]));
    }

    // The capture of a session holds its real messages, the session's own included, and
    // Wireshark decodes every one of them as HART-IP: nothing malformed.
    void captureDecodes_data() { addLinks(); }
    void captureDecodes()
    {
        QFETCH(SimulatedLink, link);
        if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
            QSKIP("tshark is not installed");
        QVERIFY(connectOver(link));
        identify();
        action("connectRead")->trigger();
        const auto requests = sim->requests();
        action("connectButton")->trigger(); // the session close
        QVERIFY(!window->isPortOpen());

        QTemporaryDir capture;
        const QString path = capture.filePath("session.pcap");
        QVERIFY(window->findChild<DialogTraffic*>()->saveCapture(path));
        QProcess tshark;
        tshark.start("tshark", { "-r", path, "-T", "fields", "-E", "separator=,", "-e", "hart_ip.message_id", "-e",
                                 "hart_ip.message_type", "-e", "hart_ip.pt.command", "-e", "_ws.malformed" });
        QVERIFY(tshark.waitForFinished(60000));
        QCOMPARE(tshark.exitCode(), 0);
        QStringList lines = QString::fromLatin1(tshark.readAllStandardOutput()).split('\n');
        lines.removeAll(QString());
        QStringList expected = { "0,0,,", "0,1,," };
        for (const Sim::ReceivedRequest& r : requests) {
            expected << QStringLiteral("3,0,%1,").arg(r.command);
            if (r.answered)
                expected << QStringLiteral("3,1,%1,").arg(r.command);
        }
        expected << "1,0,,";
        QCOMPARE(lines, expected);
    }

    // A firmware image goes through whole on the window's own timers.
    void firmwareUpdate_data() { addLinks(); }
    void firmwareUpdate()
    {
        QFETCH(SimulatedLink, link);
        QVERIFY(connectOver(link));
        rig->startTimers();
        const QByteArray image = imageBytes(600);
        runFirmwareUpdate(*answerer, *window, writeFile(dir, "image.fwb", image), nullptr, 15000);
        QCOMPARE(boxTexts(), QStringList{ QStringLiteral("Обновление выполнено") });
        const std::vector<uint8_t> got = sim->firmwareImage();
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(got.data()), int(got.size())), image);
    }
};

QTEST_MAIN(TestHartIp)
#include "tst_hartip.moc"
