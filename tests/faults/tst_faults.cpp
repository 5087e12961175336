// Every operation of the window against every fault of the line: each case ends with the box
// the user is meant to see (or none, when a repeat gets through) and a window that still reads.

#include "dialogeventlog.h"
#include "dialogfirmwareupdate.h"
#include "resources.h"
#include "simulatedwindow.h"
#include "testfiles.h"

#include "hart/messages.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <functional>
#include <thread>

Q_DECLARE_METATYPE(Sim::Fault)

namespace {

struct Operation {
    const char* name;
    int command;   // the request the fault is aimed at
    bool allFaults; // else the faults that take another path through the window: the line's
                    // own (repeats) are the same for every short exchange
};

// A short frame, a long-frame write, a broadcast and the extended command each meet every fault.
const Operation operations[] = {
    { "read", 0, true },      { "write", 17, true },        { "set clock", 89, false },
    { "flag reset", 38, false }, { "restart", 42, false }, { "search", 11, true },
    { "log download", 252, true }, { "log erase", 252, false },
};

QString error(uint32_t result) { return QString::fromUtf8(Hart::resultMessage(result)); }

const QString silent = QStringLiteral("Устройство не отвечает");
const QString lost = QStringLiteral("Связь с портом %1 потеряна: модем отключён или порт неисправен.\n"
                                    "Проверьте подключение и нажмите «Соединить».");

// The box that ends an operation that went through; none for a read, a write or a search.
QString doneBox(const QString& op)
{
    if (op == "set clock")
        return QStringLiteral("Текущее время установлено");
    if (op == "flag reset")
        return QStringLiteral("Сброс флага первичной конфигурации выполнен");
    if (op == "restart")
        return QStringLiteral("Устройство перезагружено");
    return QString();
}

} // namespace

class TestFaults : public QObject, WindowBench {
    Q_OBJECT

    QTemporaryDir dir;
    qint64 longestTickNs = 0;
    int ticks = 0;


    // The boxes that told the user something; questions the test answered are left out.
    QStringList told() const
    {
        QStringList texts;
        for (const auto& box : answerer->boxes())
            if (box.icon != QMessageBox::Question)
                texts << box.text;
        return texts;
    }

    // One timer slot of the window, timed unless it showed a box (a box waits for the user).
    void timedSlot(const char* slot)
    {
        const int boxes = answerer->boxes().size();
        QElapsedTimer clock;
        clock.start();
        QMetaObject::invokeMethod(window, slot);
        const qint64 ns = clock.nsecsElapsed();
        if (answerer->boxes().size() == boxes)
            longestTickNs = std::max(longestTickNs, ns);
        ++ticks;
    }

    // Parse ticks by hand: a request sent waits a little real time for its answer; a quiet tick
    // moves the frame layer's clock on, so repeats and give-ups come without waiting for them.
    void drive(int steps = 80, const std::function<bool()>& enough = nullptr)
    {
        int quiet = 0;
        for (int i = 0; i < steps && quiet < 5 && !(enough && enough()); ++i) {
            const uint32_t sent = window->sentPackets();
            timedSlot("parseTimerUpdate");
            if (!window->isPortOpen())
                break;
            if (window->sentPackets() != sent) {
                quiet = 0;
                QElapsedTimer wait;
                wait.start();
                while (wait.elapsed() < 100 * realTimeScale && window->terminalState() != TerminalState::Received)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            } else if (window->terminalState() != TerminalState::Received) {
                ++quiet;
                TestClock::now += 1000;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                QCoreApplication::processEvents();
            }
        }
    }

    // The window still works: a clean read gets the device's identity, with no box. A closed
    // line needs the modem plugged in again (here, a detector on a new line). With the window's
    // own timers running the read goes on by itself.
    void readsAgain(bool timers)
    {
        sim->clearFaults();
        answerer->clearBoxes();
        std::unique_ptr<Sim::Simulator> replacement;
        if (!window->isPortOpen()) {
            replacement = plugInNewDetector();
            QVERIFY(window->isPortOpen());
        }
        logAction("actionRead")->setChecked(false);
        if (action("connectRead")->isChecked())
            action("connectRead")->trigger();
        window->findChild<QLineEdit*>("serial")->clear();
        action("connectRead")->trigger();
        if (timers)
            QTRY_VERIFY_WITH_TIMEOUT(!serial().isEmpty(), 5000);
        else
            drive(20, [this] { return !serial().isEmpty(); });
        QCOMPARE(told(), QStringList());
        QCOMPARE(serial(), QString::number(0x01E240));
    }

    void begin(const QString& op)
    {
        if (op == "read") {
            action("connectRead")->trigger();
        } else if (op == "write") {
            window->findChild<QLineEdit*>("message")->setText("FAULT CASE");
            action("connectWrite")->trigger();
        } else if (op == "set clock") {
            window->findChild<QAbstractButton*>("updateTime")->click();
        } else if (op == "flag reset") {
            action("resetFlagChanges")->trigger();
        } else if (op == "restart") {
            action("restart")->trigger();
        } else if (op == "search") {
            answerer->queue([](QWidget* dialog) {
                dialog->findChild<QLineEdit*>("tag")->setText("IPP93");
                dialog->findChild<QPushButton*>("findTag")->click();
            });
            action("find")->trigger();
        } else if (op == "log download") {
            logAction("actionRead")->trigger();
        } else if (op == "log erase") {
            logAction("actionErase")->trigger();
        }
    }

    // What the device shows once the operation went through.
    bool took(const QString& op)
    {
        const Sim::DeviceState s = sim->state();
        if (op == "write")
            return QString::fromStdString(s.message).trimmed() == "FAULT CASE";
        if (op == "log erase")
            return s.eventLog.records().empty();
        if (op == "read" || op == "search")
            return serial() == QString::number(0x01E240);
        return true;
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
    void cleanupTestCase() { qInfo("%d ticks; the longest took %.3f ms", ticks, longestTickNs / 1e6); }

    void lineFaults_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<Sim::Fault>("fault");
        QTest::addColumn<QStringList>("boxes"); // what the user is told, in order
        QTest::addColumn<bool>("takes");       // the operation still goes through

        struct Case {
            const char* name;
            Sim::Fault fault;
            QString box; // empty: a repeat gets through and the operation's own box follows
            bool always; // met by every operation
        };
        // Later than the wait above, so a repeat goes out before it comes.
        Sim::Fault late = Sim::Fault::lateAnswer(150 * realTimeScale);
        Sim::Fault silentDevice = Sim::Fault::noAnswer(5);
        const Case lineCases[] = {
            { "no answer", silentDevice, silent, true },
            { "other address", Sim::Fault::otherAddress(), {}, false },
            { "wrong check byte", Sim::Fault::badCheckByte(), {}, true },
            { "noise before preamble", Sim::Fault::noiseBeforePreamble(7), {}, false },
            { "split frame", Sim::Fault::splitFrame(40), {}, false },
            { "burst of 300", Sim::Fault::burst(300), {}, false },
            { "late answer", late, {}, false },
            { "communication error", Sim::Fault::communicationError(0x08), error(49), true },
            { "line closed", Sim::Fault::lineClosed(), lost, true },
        };
        for (const Operation& op : operations) {
            for (const Case& c : lineCases) {
                if (!op.allFaults && !c.always)
                    continue;
                Sim::Fault fault = c.fault;
                fault.command = op.command;
                const bool fails = !c.box.isEmpty();
                QStringList boxes;
                if (fails)
                    boxes << c.box;
                else if (!doneBox(op.name).isEmpty())
                    boxes << doneBox(op.name);
                QTest::addRow("%s, %s", op.name, c.name) << QString(op.name) << fault << boxes << !fails;
            }
        }

        // The response codes each command maps; any other one is named as unknown.
        struct Code {
            const char* op;
            uint8_t code;
            uint32_t result;
        };
        const Code codes[] = {
            { "read", 2, 40 },         { "write", 5, 18 },        { "write", 7, 20 },       { "write", 16, 21 },
            { "set clock", 2, 14 },    { "set clock", 3, 16 },    { "set clock", 9, 45 },   { "flag reset", 6, 19 },
            { "restart", 16, 21 },     { "search", 16, 40 },      { "log download", 2, 14 }, { "log download", 5, 18 },
            { "log erase", 7, 40 },
        };
        for (const Code& c : codes) {
            int command = 0;
            for (const Operation& op : operations)
                if (QLatin1String(op.name) == QLatin1String(c.op))
                    command = op.command;
            QTest::addRow("%s, response code %d", c.op, c.code)
                << QString(c.op) << Sim::Fault::responseCode(command, c.code) << QStringList{ error(c.result) } << false;
        }
    }
    void lineFaults()
    {
        QFETCH(QString, op);
        QFETCH(Sim::Fault, fault);
        QFETCH(QStringList, boxes);
        QFETCH(bool, takes);

        QVERIFY(connectWindow());
        const QString port = QString::fromStdString(sim->portPath());
        if (op.startsWith("log"))
            window->eventLog().createLog(dir.filePath(QString("%1.db").arg(QTest::currentDataTag())));
        // The device is identified first (for a write also read), as the user would have it.
        if (op != "read" && op != "search") {
            action("connectRead")->trigger();
            if (op == "write")
                drive();
            else
                drive(20, [this] { return !serial().isEmpty(); });
            action("connectRead")->trigger();
            QVERIFY(!action("connectRead")->isChecked());
            drive(5);
        }
        if (op == "log download")
            fault.after = 20; // somewhere among the records
        QVERIFY(told().isEmpty());
        sim->clearRequests();
        sim->inject(fault);
        begin(op);
        drive(op == "log download" ? 400 : 80);

        for (QString& box : boxes)
            if (box.contains("%1"))
                box = box.arg(port);
        QCOMPARE(told(), boxes);
        if (takes)
            QVERIFY(took(op));
        readsAgain(false);
        QVERIFY(longestTickNs < 1000000000);
    }

    // The update runs on the window's own timers, the only way its window runs; the frame
    // layer's clock jumps whenever the line has been quiet a while, so give-ups come at once.
    void firmwareFaults_data()
    {
        QTest::addColumn<Sim::Fault>("fault");
        QTest::addColumn<QString>("box"); // title/text
        const QString done = QStringLiteral("Обновление ПО/Обновление выполнено");
        const QString failed = QStringLiteral("Ошибка %1/%2");
        QTest::newRow("no answer") << Sim::Fault::noAnswer(5) << QString("Ошибка/" + silent);
        QTest::newRow("wrong check byte") << Sim::Fault::badCheckByte() << done;
        QTest::newRow("communication error") << Sim::Fault::communicationError(0x08) << QString("Ошибка/" + error(49));
        QTest::newRow("response code 9") << Sim::Fault::responseCode(253, 9) << failed.arg(9).arg(error(53));
        QTest::newRow("response code 3") << Sim::Fault::responseCode(253, 3) << failed.arg(3).arg(error(40));
        QTest::newRow("line closed") << Sim::Fault::lineClosed() << QString("Ошибка/" + lost);
    }
    void firmwareFaults()
    {
        QFETCH(Sim::Fault, fault);
        QFETCH(QString, box);
        QVERIFY(connectWindow());
        if (box.contains("%1"))
            box = box.arg(QString::fromStdString(sim->portPath()));
        rig->startTimers();
        const QByteArray image = imageBytes(400);
        const QString path = writeFile(dir, "image.fwb", image);
        fault.command = 253;
        fault.after = 2; // among the chunks
        sim->inject(fault);
        size_t seen = 0;
        QElapsedTimer quiet;
        quiet.start();
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!sim || sim->requests().size() != seen) {
                seen = sim ? sim->requests().size() : 0;
                quiet.restart();
            } else if (quiet.elapsed() > 250) {
                TestClock::now += 2000;
                quiet.restart();
            }
        });
        watch.start(20);
        runFirmwareUpdate(*answerer, *window, path, nullptr, 15000);
        watch.stop();
        QCOMPARE(answerer->titledTexts(), QStringList{ box });
        const std::vector<uint8_t> got = sim->firmwareImage();
        if (box.endsWith("Обновление выполнено"))
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(got.data()), int(got.size())), image);
        readsAgain(true);
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
