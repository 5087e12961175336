#include "audittrail.h"
#include "commissioningreport.h"
#include "mainwindow.h"
#include "profilefields.h"
#include "russianlocale.h"
#include "simulatedwindow.h"
#include "testfiles.h"
#include "sqlitefile.h"
#include "ui_mainwindow.h"

#include "sim/faults.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <thread>

static QStringList rows(const QString& sql) { return sqlRows(AuditTrail::defaultPath(), sql); }

class TestAudit : public QObject, public WindowBench {
    Q_OBJECT

    // Connects, reads the device once, then stops reading with the device identified.
    bool identify()
    {
        if (connectWindow())
            readOnce();
        return window != nullptr;
    }
    // Ticks with the clock moved past every time-out until nothing is left to send.
    void tickThrough(int ticks)
    {
        for (int i = 0; i < ticks && window->isPortOpen(); ++i) {
            rig->tick(300);
            TestClock::now += 3000;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            QCoreApplication::processEvents();
        }
        // A lost line is noticed at the next parse tick.
        QMetaObject::invokeMethod(window, "parseTimerUpdate");
    }

private slots:
    void initTestCase()
    {
        TestClock::install(0x10000u);
        installRussian(*QCoreApplication::instance());
    }
    void init()
    {
        QFile::remove(AuditTrail::defaultPath());
        start();
    }
    void cleanup() { finish(); }

    void writeRecorded_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("done") << "" << "done | 0 | NULL";
        QTest::newRow("write protected") << "write protected"
                                         << "refused | 7 | Полевое устройство защищено от записи и не может принять эту команду записи";
        QTest::newRow("no answer") << "no answer" << "no-answer | NULL | Устройство не отвечает";
        QTest::newRow("line lost") << "line lost" << "line-lost | NULL | Связь с портом потеряна";
    }
    // A write of two groups leaves one record per group with exactly the fields edited, their
    // values before and after as the window shows them, and the outcome the line gave.
    void writeRecorded()
    {
        QFETCH(QString, setup);
        QFETCH(QString, outcome);
        QVERIFY(identify());
        Ui::MainWindow* ui = window->ui;
        const QString oldMessage = ui->message->text(), oldAlarm = ui->currentAlarm->text();
        ui->message->setText(QStringLiteral("NEW NOTE"));
        ui->currentAlarm->setValue(ui->currentAlarm->value() - 1.5);
        const QString newAlarm = ui->currentAlarm->text();
        QVERIFY(oldAlarm != newAlarm);
        if (setup == "write protected")
            sim->modify([](Sim::DeviceState& s) { s.writeProtected = true; });
        else if (!setup.isEmpty()) {
            Sim::Fault fault = setup == "no answer" ? Sim::Fault::noAnswer(0) : Sim::Fault::lineClosed();
            fault.command = 17;
            sim->inject(fault);
        }
        ui->connectWrite->trigger();
        tickThrough(12);

        const QString head = QStringLiteral("Записать конфигурацию: ");
        QStringList expected = { head + ui->groupBox_4->title() + " | " + outcome };
        QStringList changes = { "1 | Заметки | " + oldMessage + " | NEW NOTE" };
        // A refused write stops the rest, as a lost answer does.
        if (setup.isEmpty()) {
            expected << head + ui->groupBox_5->title() + " | " + outcome;
            changes << "2 | Ток сработки | " + oldAlarm + " | " + newAlarm;
        }
        QCOMPARE(rows("SELECT operation, outcome, response_code, outcome_text FROM operations ORDER BY id"), expected);
        QCOMPARE(rows("SELECT record_id, field, before, after FROM changes ORDER BY record_id, position"), changes);
        QCOMPARE(rows("SELECT DISTINCT link || ' ' || device_type || ' ' || device_id || ' ' || (user != '') FROM operations"),
                 QStringList{ QString::fromStdString(sim->portPath()) + " FF04 123456 1" });
    }

    // Menu operations are recorded under their menu texts; the lock names its kind by the byte sent.
    void serviceOperations()
    {
        QVERIFY(identify());
        for (QAction* action : { window->ui->lockTemporary, window->ui->fixMode20 }) {
            action->trigger();
            runUntilQuiet();
        }
        QCOMPARE(rows("SELECT operation, outcome FROM operations ORDER BY id"),
                 QStringList({ "Заблокировать временно | done", "Запись адреса и режима токовой петли | done",
                               "Фиксированный ток | done" }));
        QCOMPARE(rows("SELECT field, before, after FROM changes ORDER BY record_id, position"),
                 QStringList{ "Фиксированный ток, мА |  | 20,000" });
    }

    // The report, read back as text, holds the detector's identity, every configuration value the
    // window shows, this device's records, and its log once a log shown to be this device's is open.
    void report()
    {
        QVERIFY(identify());
        window->ui->message->setText(QStringLiteral("REPORT NOTE"));
        window->ui->connectWrite->trigger();
        runUntilQuiet();
        QTemporaryDir dir;
        window->eventLog().createLog(dir.filePath(QStringLiteral("log.db")));
        QVERIFY(window->reportContent().events.isEmpty());
        window->eventLog().findChild<QAction*>(QStringLiteral("actionRead"))->trigger();
        runUntilQuiet(400);
        const ReportContent content = window->reportContent();
        QVERIFY(!content.events.isEmpty() && !window->ui->tag->text().isEmpty());
        QCOMPARE(content.events.size(), std::min(50, int(sim->state().eventLog.records().size())));
        QCOMPARE(content.events.last(), window->eventLog().lastRecords(1).value(0));
        const QString path = dir.filePath(QStringLiteral("report.pdf"));
        QString error;
        QVERIFY2(writeReportPdf(content, path, &error), qPrintable(error));
        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), { QStringLiteral("-layout"), path, QStringLiteral("-") });
        QVERIFY2(pdftotext.waitForFinished(20000) && pdftotext.exitCode() == 0, "pdftotext (poppler-utils) is needed");
        const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput()).simplified();
        QStringList expected = { window->ui->serial->text(), QStringLiteral("123456"), window->ui->tag->text(),
                                 QStringLiteral("REPORT NOTE"), QStringLiteral("Подпись"), content.events.last().value(2) };
        for (int f = 0; f < FormField::Count; ++f)
            if (window->profileFields->isShown(f))
                expected << window->profileFields->displayText(f);
        for (const QString& value : expected)
            QVERIFY2(text.contains(value.simplified()), qPrintable(value));
        QCOMPARE(text.count(QStringLiteral("Записать конфигурацию")), 1);
    }

    // A damaged file is set aside as the window opens, and the user is told once.
    void damagedFileReported()
    {
        QDir().mkpath(QFileInfo(AuditTrail::defaultPath()).absolutePath());
        QFile damaged(AuditTrail::defaultPath());
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write("garbage that is not SQLite") > 0);
        damaged.close();
        MainWindow window;
        QTRY_COMPARE(answerer->boxes().size(), 1);
        QCOMPARE(answerer->boxes()[0].title, QStringLiteral("Журнал изменений"));
        QVERIFY(answerer->boxes()[0].text.contains(QStringLiteral("повреждён")) && window.auditTrail()->isOpen());
        QCoreApplication::processEvents();
        QCOMPARE(answerer->boxes().size(), 1);
    }

    // A firmware update is one record from its announce to the device's last answer, which
    // decides it: the whole image taken, or data asked for beyond it.
    void firmwareRecorded_data()
    {
        QTest::addColumn<bool>("beyondEnd");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("taken") << false << "done | NULL";
        QTest::newRow("asked beyond the end") << true
            << "refused | Устройство запросило данные за концом файла прошивки. Обновление не выполнено";
    }
    void firmwareRecorded()
    {
        QFETCH(bool, beyondEnd);
        QFETCH(QString, outcome);
        QVERIFY(identify());
        sim->modify([&](Sim::DeviceState& s) { s.firmware.askBeyondEnd = beyondEnd; });
        rig->startTimers();
        QTemporaryDir dir;
        runFirmwareUpdate(*answerer, *window, writeFile(dir, QStringLiteral("image.fwb"), imageBytes(130)));
        QCOMPARE(rows("SELECT operation, outcome, outcome_text FROM operations"),
                 QStringList{ window->ui->actionFirmwareUpdate->text() + " | " + outcome });
        QCOMPARE(rows("SELECT field, before, after FROM changes"), QStringList{ "Размер образа, байт |  | 130" });
    }
};

QTEST_MAIN(TestAudit)
#include "tst_audit.moc"
