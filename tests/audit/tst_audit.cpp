#include "audittrail.h"
#include "commissioningreport.h"
#include "profilefields.h"
#include "russianlocale.h"
#include "mainwindow.h"
#include "simulatedwindow.h"
#include "ui_mainwindow.h"

#include "sim/faults.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include <chrono>
#include <thread>

namespace {

// Each row of a query as its fields joined by " | ".
QStringList rows(const QString& sql)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(AuditTrail::defaultPath());
        db.open();
        QSqlQuery query(sql, db);
        while (query.next()) {
            QStringList fields;
            for (int i = 0; i < query.record().count(); ++i)
                fields << (query.value(i).isNull() ? QStringLiteral("NULL") : query.value(i).toString());
            out << fields.join(QStringLiteral(" | "));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return out;
}

}

class TestAudit : public QObject, public WindowBench {
    Q_OBJECT

    // Reads the device once, then stops reading with the device identified.
    void identify()
    {
        window->ui->connectRead->trigger();
        runUntilQuiet();
        window->ui->connectRead->trigger();
        sim->clearRequests();
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

    void writeRecorded_data();
    void writeRecorded();
    void serviceOperations();
    void report();
    void damagedFileReported();
    void firmwareRecorded();
};

void TestAudit::writeRecorded_data()
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
void TestAudit::writeRecorded()
{
    QFETCH(QString, setup);
    QFETCH(QString, outcome);
    QVERIFY(connectWindow());
    identify();
    Ui::MainWindow* ui = window->ui;
    const QString oldMessage = ui->message->text();
    const QString oldAlarm = ui->currentAlarm->text();
    ui->message->setText(QStringLiteral("NEW NOTE"));
    ui->currentAlarm->setValue(ui->currentAlarm->value() - 1.5);
    const QString newAlarm = ui->currentAlarm->text();
    QVERIFY(oldAlarm != newAlarm);
    if (setup == "write protected")
        sim->modify([](Sim::DeviceState& s) { s.writeProtected = true; });
    if (setup == "no answer") {
        Sim::Fault fault = Sim::Fault::noAnswer(0);
        fault.command = 17;
        sim->inject(fault);
    }
    if (setup == "line lost") {
        Sim::Fault fault = Sim::Fault::lineClosed();
        fault.command = 17;
        sim->inject(fault);
    }
    ui->connectWrite->trigger();
    tickThrough(12);

    const QString head = QStringLiteral("Записать конфигурацию: ");
    QStringList expected = { head + ui->groupBox_4->title() + " | " + outcome };
    // A refused write stops the rest, as a lost answer does.
    if (setup.isEmpty())
        expected << head + ui->groupBox_5->title() + " | " + outcome;
    QCOMPARE(rows("SELECT operation, outcome, response_code, outcome_text FROM operations ORDER BY id"), expected);
    QStringList changes = { "1 | Заметки | " + oldMessage + " | NEW NOTE" };
    if (expected.size() > 1)
        changes << "2 | Ток сработки | " + oldAlarm + " | " + newAlarm;
    QCOMPARE(rows("SELECT record_id, field, before, after FROM changes ORDER BY record_id, position"), changes);
    QCOMPARE(rows("SELECT DISTINCT link || ' ' || device_type || ' ' || device_id || ' ' || (user != '') FROM operations"),
             QStringList{ QString::fromStdString(sim->portPath()) + " FF04 123456 1" });
}

// Operations from the menus are recorded under their menu texts.
void TestAudit::serviceOperations()
{
    QVERIFY(connectWindow());
    identify();
    window->ui->lockTemporary->trigger();
    runUntilQuiet();
    window->ui->unlock->trigger();
    runUntilQuiet();
    window->ui->actionClearStatus->trigger();
    runUntilQuiet();
    window->ui->fixMode20->trigger();
    runUntilQuiet();
    QTemporaryDir dir;
    window->eventLog().createLog(dir.filePath(QStringLiteral("log.db")));
    window->eventLog().findChild<QAction*>(QStringLiteral("actionErase"))->trigger();
    runUntilQuiet();
    QCOMPARE(rows("SELECT operation, outcome FROM operations ORDER BY id"),
             QStringList({ "Заблокировать временно | done", "Разблокировать устройство | done", "Сброс состояния | done",
                           "Запись адреса и режима токовой петли | done", "Фиксированный ток | done",
                           "Очистка журнала событий | done" }));
    QCOMPARE(rows("SELECT field, before, after FROM changes ORDER BY record_id, position"),
             QStringList{ "Фиксированный ток, мА |  | 20,000" });
}

// The report of the simulated detector, read back as text, holds its identity, every
// configuration value the window shows and this device's records.
void TestAudit::report()
{
    QVERIFY(connectWindow());
    identify();
    window->ui->message->setText(QStringLiteral("REPORT NOTE"));
    window->ui->connectWrite->trigger();
    runUntilQuiet();
    QTemporaryDir dir;
    // The device's log goes in only once a log file shown to be this device's is open.
    window->eventLog().createLog(dir.filePath(QStringLiteral("log.db")));
    QVERIFY(window->reportContent().events.isEmpty());
    window->eventLog().findChild<QAction*>(QStringLiteral("actionRead"))->trigger();
    runUntilQuiet(400);
    const int deviceRecords = int(sim->state().eventLog.records().size());
    QVERIFY(deviceRecords > 0);
    const ReportContent content = window->reportContent();
    QCOMPARE(content.events.size(), std::min(50, deviceRecords));
    QCOMPARE(content.events.last(), window->eventLog().lastRecords(1).value(0));
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    QString error;
    QVERIFY(writeReportPdf(content, path, &error));
    if (!qEnvironmentVariableIsEmpty("AUDIT_REPORT_COPY"))
        QFile::copy(path, qEnvironmentVariable("AUDIT_REPORT_COPY"));
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), { QStringLiteral("-layout"), path, QStringLiteral("-") });
    QVERIFY2(pdftotext.waitForFinished(20000) && pdftotext.exitCode() == 0, "pdftotext (poppler-utils) is needed");
    const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput()).simplified();
    QStringList expected = { window->ui->serial->text(), QStringLiteral("123456"), window->ui->tag->text(),
                             QStringLiteral("Записать конфигурацию"), QStringLiteral("REPORT NOTE"),
                             QStringLiteral("Подпись"), content.events.last().value(2) };
    QVERIFY(!window->ui->tag->text().isEmpty());
    for (int f = 0; f < FormField::Count; ++f)
        if (window->profileFields->isShown(f))
            expected << window->profileFields->displayText(f);
    for (const QString& value : expected)
        QVERIFY2(text.contains(value.simplified()), qPrintable(value));
    QCOMPARE(text.count(QStringLiteral("Записать конфигурацию")), 1);
}

// A damaged file is set aside as the window opens, and the user is told once.
void TestAudit::damagedFileReported()
{
    QDir().mkpath(QFileInfo(AuditTrail::defaultPath()).absolutePath());
    QFile damaged(AuditTrail::defaultPath());
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("garbage that is not SQLite");
    damaged.close();
    MainWindow window;
    QTRY_COMPARE(answerer->boxes().size(), 1);
    QCOMPARE(answerer->boxes()[0].title, QStringLiteral("Журнал изменений"));
    QVERIFY(answerer->boxes()[0].text.contains(QStringLiteral("повреждён")));
    QVERIFY(window.auditTrail()->isOpen());
    QCoreApplication::processEvents();
    QCOMPARE(answerer->boxes().size(), 1);
}

// A firmware update is one record from its announce to the device's last answer.
void TestAudit::firmwareRecorded()
{
    QVERIFY(connectWindow());
    identify();
    rig->startTimers();
    QTemporaryDir dir;
    QFile image(dir.filePath(QStringLiteral("image.fwb")));
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.write(QByteArray(130, '\x5A'));
    image.close();
    runFirmwareUpdate(*answerer, *window, image.fileName());
    QCOMPARE(rows("SELECT operation, outcome FROM operations"), QStringList{ window->ui->actionFirmwareUpdate->text() + " | done" });
    QCOMPARE(rows("SELECT field, before, after FROM changes"), QStringList{ "Размер образа, байт |  | 130" });
}

QTEST_MAIN(TestAudit)
#include "tst_audit.moc"
