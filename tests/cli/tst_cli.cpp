// ipp93kt as built, run against detectors simulated in this process on a pseudo-terminal and
// behind their HART-IP gateway: each command's output and exit status, writes that must not
// happen, files the main window reads and writes alike, and fleet passes cut short and resumed.

#include "dialogeventlog.h"
#include "simulatedwindow.h"
#include "sqlitefile.h"
#include "testfiles.h"

#include <QAction>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <memory>

namespace {

struct Run {
    int status = -1; // -1: killed, crashed or still running after the limit
    QString out, err;
};

Run ipp93kt(const QStringList& arguments)
{
    QProcess program; // killed when it goes, if still running after the minute
    program.start(QStringLiteral(IPP93KT_PATH), arguments);
    const bool ended = program.waitForFinished(60000) && program.exitStatus() == QProcess::NormalExit;
    return { ended ? program.exitCode() : -1, QString::fromUtf8(program.readAllStandardOutput()),
             QString::fromUtf8(program.readAllStandardError()) };
}

// A multidrop loop of quick detectors on a pseudo-terminal and behind a HART-IP gateway.
std::unique_ptr<Sim::Simulator> startLoop(unsigned devices, std::uint32_t firstId = 123456)
{
    Sim::Options options = WindowBench::quick();
    options.devices = devices;
    options.deviceId = firstId;
    auto sim = std::make_unique<Sim::Simulator>(options);
    return sim->start() && sim->startHartIp() ? std::move(sim) : nullptr;
}

QStringList wire(const Sim::Simulator& sim) { return { "--port", QString::fromStdString(sim.portPath()) }; }
QStringList gateway(const Sim::Simulator& sim) { return { "--hartip", QStringLiteral("127.0.0.1:%1").arg(sim.hartIpPort()) }; }

// "@serial" and "@hartip" in a row's arguments stand for the loop's two links.
QStringList withLinks(const QStringList& arguments, const Sim::Simulator& sim)
{
    QStringList out;
    for (const QString& a : arguments)
        out << (a == "@serial" ? wire(sim) : a == "@hartip" ? gateway(sim) : QStringList{ a });
    return out;
}

// A setting of each group changed, so a write has both commands to send.
void changeSettings(Sim::DeviceState& s)
{
    s.configuration[3] = 20;
    s.currentsUa[4] = 16000;
}

bool sentAny(const Sim::Simulator& sim, std::initializer_list<std::uint16_t> commands)
{
    const auto& sent = sim.requests();
    return std::any_of(sent.begin(), sent.end(), [&](const Sim::ReceivedRequest& r) {
        return std::find(commands.begin(), commands.end(), r.command) != commands.end();
    });
}

// A detector's log as the plant file stores it and as the simulator holds it, one record a row.
QStringList plantRecords(const QString& plant, std::uint32_t deviceId)
{
    return sqlRows(plant, QStringLiteral("SELECT i, count, dt, type, event, hex(data) FROM LogRecords WHERE "
                                           "deviceType = 65284 AND deviceId = %1 ORDER BY i").arg(deviceId));
}
QStringList deviceRecords(const Sim::DeviceState& s)
{
    QStringList rows;
    for (const Sim::LogRecord& r : s.eventLog.records())
        rows << QStringLiteral("%1 | %2 | %3 | %4 | %5 | %6").arg(r.index).arg(r.positions).arg(r.time).arg(r.type).arg(r.event)
                    .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(r.data.data()), int(r.data.size())).toHex().toUpper()));
    return rows;
}

} // namespace

class TestCli : public QObject, WindowBench {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        TestClock::install(0x10000u);
        QVERIFY(dir.isValid());
    }
    void init() { start(); }
    void cleanup() { finish(); }

    // Output and status of each command, and of the mistakes a script makes; a usage error
    // sends nothing.
    void commands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("faultCommand"); // answered with response code 16 (access restricted)
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("expected"); // on stdout when the status is 0, else on stderr
        QTest::newRow("identify, table") << QStringList{ "identify", "@serial", "--address", "1" } << -1 << 0
            << QStringList{ "(FF04)", "123456" };
        QTest::newRow("identify by tag, JSON, HART-IP") << QStringList{ "identify", "@hartip", "--tag", "IPP93-02", "--json" }
            << -1 << 0 << QStringList{ "\"address\": 2", "\"deviceId\": 123457", "\"deviceType\": \"FF04\"" };
        QTest::newRow("read, table") << QStringList{ "read", "@serial", "--address", "3" } << -1 << 0
            << QStringList{ "IPP93-03", "Flame detector simulator 3", "SIMULATOR 3", "FLAME DETECTOR" };
        QTest::newRow("read, JSON, HART-IP") << QStringList{ "read", "@hartip", "--address", "2", "--json" } << -1 << 0
            << QStringList{ "\"tag\": \"IPP93-02\"", "\"longTag\": \"Flame detector simulator 2\"", "\"message\": \"SIMULATOR 2\"",
                            "\"descriptor\": \"FLAME DETECTOR\"", "\"date\": \"06.12.2026\"", "\"finalAssemblyNumber\": 120346",
                            "\"status\": {", "\"loopCurrentMode\": 0", "\"settings\": {", "\"model\":" };
        QTest::newRow("scan 0-3 finds 1..3") << QStringList{ "scan", "@serial", "--addresses", "0-3" } << -1 << 0
            << QStringList{ "Адрес  Тип   Идентификатор  Тег       Длинный тег\n"
                            "1      FF04         123456  IPP93     Flame detector simulator\n"
                            "2      FF04         123457  IPP93-02  Flame detector simulator 2\n"
                            "3      FF04         123458  IPP93-03  Flame detector simulator 3\n" };
        QTest::newRow("set-clock") << QStringList{ "set-clock", "@hartip", "--address", "1" } << -1 << 0
            << QStringList{ "Текущее время установлено" };
        QTest::newRow("service operation") << QStringList{ "clear-status", "@serial", "--address", "2", "--yes" } << -1 << 0
            << QStringList{ "Состояние сброшено" };
        QTest::newRow("usage: no command") << QStringList{ "@serial" } << -1 << 2 << QStringList{ "Не указана команда" };
        QTest::newRow("usage: unknown command") << QStringList{ "frobnicate", "@serial" } << -1 << 2
            << QStringList{ "Неизвестная команда: frobnicate" };
        QTest::newRow("usage: no link") << QStringList{ "identify" } << -1 << 2 << QStringList{ "Укажите одну линию" };
        QTest::newRow("usage: address 64") << QStringList{ "identify", "@serial", "--address", "64" } << -1 << 2
            << QStringList{ "Неверный адрес: 64" };
        QTest::newRow("usage: address and tag") << QStringList{ "identify", "@serial", "--address", "1", "--tag", "IPP93" }
            << -1 << 2 << QStringList{ "--tag" };
        QTest::newRow("usage: range backwards") << QStringList{ "scan", "@serial", "--addresses", "5-2" } << -1 << 2
            << QStringList{ "Неверный диапазон адресов: 5-2" };
        QTest::newRow("usage: write without file") << QStringList{ "write", "@serial" } << -1 << 2
            << QStringList{ "Команде write нужен файл" };
        QTest::newRow("usage: restart unconfirmed") << QStringList{ "restart", "@serial", "--address", "1" } << -1 << 2
            << QStringList{ "--yes" };
        QTest::newRow("usage: unreadable HART-IP") << QStringList{ "identify", "--hartip", "gateway:99999" } << -1 << 2
            << QStringList{ "gateway:99999" };
        QTest::newRow("usage: fleet without --out") << QStringList{ "fleet", "@serial" } << -1 << 2 << QStringList{ "--out" };
        QTest::newRow("link: no such port") << QStringList{ "identify", "--port", "/dev/ipp93kt-no-such-port" } << -1 << 3
            << QStringList{ "/dev/ipp93kt-no-such-port" };
        QTest::newRow("link: no HART-IP server") << QStringList{ "identify", "--hartip", "127.0.0.1:1/tcp" } << -1 << 3
            << QStringList{ "Связь с портом 127.0.0.1:1/tcp потеряна" };
        QTest::newRow("link: nobody at the address") << QStringList{ "identify", "@serial", "--address", "9" } << -1 << 3
            << QStringList{ "Устройство не отвечает" };
        QTest::newRow("device: error answer") << QStringList{ "read", "@serial", "--address", "1" } << 12 << 1
            << QStringList{ "Ошибка 16: " };
    }
    void commands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, faultCommand);
        QFETCH(int, status);
        QFETCH(QStringList, expected);
        auto loop = startLoop(3);
        QVERIFY(loop);
        if (faultCommand >= 0)
            loop->inject(Sim::Fault::responseCode(faultCommand, 16));
        const Run run = ipp93kt(withLinks(arguments, *loop));
        QVERIFY2(run.status == status, qPrintable(QStringLiteral("%1\n%2%3").arg(run.status).arg(run.out, run.err)));
        for (const QString& text : expected)
            QVERIFY2((status ? run.err : run.out).contains(text), qPrintable(text + " not in:\n" + run.out + run.err));
        if (status)
            QCOMPARE(run.out, QString());
        if (status == 2)
            QVERIFY(loop->requests().empty());
    }

    // A write is refused for another model's profile, and shows the differences without --yes;
    // neither sends command 134 or 132.
    void refusedWrite_data()
    {
        QTest::addColumn<bool>("otherModel");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("other model, confirmed") << true << true << 2 << "Параметры в файле сохранены для другой модели";
        QTest::newRow("own model, unconfirmed") << false << false << 0 << "Параметры не записаны: для записи добавьте --yes";
    }
    void refusedWrite()
    {
        QFETCH(bool, otherModel);
        QFETCH(bool, yes);
        QFETCH(int, status);
        QFETCH(QString, message);
        auto loop = startLoop(2);
        QVERIFY(loop);
        const QString profile = dir.filePath("detector1.cfg");
        QCOMPARE(ipp93kt(wire(*loop) + QStringList{ "read", "--address", "1", "--profile", profile }).status, 0);
        if (otherModel) {
            QByteArray bytes = readFile(profile);
            QVERIFY(bytes.contains("\tmodel=65284\r\n"));
            QFile f(profile);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes.replace("\tmodel=65284\r\n", "\tmodel=65283\r\n"));
        }
        loop->modify(changeSettings, 1);
        loop->clearRequests();
        QStringList arguments = wire(*loop) + QStringList{ "write", profile, "--address", "2" };
        if (yes)
            arguments << "--yes";
        const Run run = ipp93kt(arguments);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(!loop->requests().empty());
        QVERIFY(!sentAny(*loop, { 134, 132 }));
        if (!otherModel)
            QCOMPARE(run.out.count(QStringLiteral(" → ")), 2);
    }

    // The profile the tool reads is the file the main window saves for the same detector, and
    // written back with --yes it restores the detector's settings.
    void profileAsTheWindowSaves()
    {
        QVERIFY(connectWindow());
        QVERIFY(sim->startHartIp());
        readOnce(100);
        const QString saved = dir.filePath("window.cfg"), read = dir.filePath("tool.cfg");
        QFile::remove(saved);
        answerer->chooseFile(saved);
        action("saveProfile")->trigger();
        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(ipp93kt(gateway(*sim) + QStringList{ "read", "--profile", read }).status, 0);
        QCOMPARE(readFile(read), readFile(saved));

        const Sim::DeviceState before = sim->state();
        sim->modify(changeSettings);
        const Run run = ipp93kt(gateway(*sim) + QStringList{ "write", read, "--yes" });
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY2(run.out.endsWith("Конфигурация записана в устройство\n"), qPrintable(run.out));
        QVERIFY(sentAny(*sim, { 134 }) && sentAny(*sim, { 132 }));
        // Both writes are in the audit trail of the installed window (its product name's data
        // folder), each with the field it changed.
        const QList<Audit::Record> records
            = AuditTrail(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                         + QStringLiteral("/Конфигуратор/audit.db")).records({});
        QVERIFY(records.size() >= 2);
        QCOMPARE(records[0].operation + " " + records[0].outcome + " " + records[0].changes.value(0).after,
                 QStringLiteral("Записать конфигурацию: Настройки извещателя done 10 с"));
        QCOMPARE(records[1].operation + " " + records[1].outcome + " " + records[1].changes.value(0).after,
                 QStringLiteral("Записать конфигурацию: Настройки токового выхода done 18,000 мА"));
        // Settings as the profile holds them; the bits the window writes as constants may differ.
        QCOMPARE(ipp93kt(gateway(*sim) + QStringList{ "read", "--profile", read }).status, 0);
        QCOMPARE(readFile(read), readFile(saved));
        QCOMPARE(sim->state().currentsUa, before.currentsUa);
    }

    // A log the tool downloaded, or wrote out of a plant file, opens in the window's event-log
    // view with every record; a second download into the same file adds nothing twice.
    void logOpensInTheWindow_data()
    {
        QTest::addColumn<QList<QStringList>>("runs"); // "@file": the log file, "@plant": a plant file
        QTest::addColumn<QString>("said");
        QTest::newRow("log, twice") << QList<QStringList>{ { "log", "@file", "--address", "2", "@serial" },
                                                           { "log", "@file", "--address", "2", "@serial" } }
                                    << "Журнал событий загружен\n";
        QTest::newRow("fleet, then fleet log") << QList<QStringList>{ { "fleet", "--out", "@plant", "@serial", "--addresses", "1-2" },
                                                                      { "fleet", "log", "@plant", "123457", "@file" } }
                                               << "Записей журнала: 38\n";
    }
    void logOpensInTheWindow()
    {
        QFETCH(QList<QStringList>, runs);
        QFETCH(QString, said);
        auto loop = startLoop(2);
        QVERIFY(loop);
        QTemporaryDir here;
        Run run;
        for (QStringList arguments : runs) {
            arguments.replaceInStrings(QRegularExpression("^@file$"), here.filePath("detector2.db"));
            run = ipp93kt(withLinks(arguments.replaceInStrings(QRegularExpression("^@plant$"), here.filePath("plant.db")), *loop));
            QVERIFY2(run.status == 0, qPrintable(run.err));
        }
        QVERIFY2(run.out.endsWith(said), qPrintable(run.out));
        const QString file = here.filePath("detector2.db");
        linelessWindow();
        window->eventLog().openLog(file);
        QCOMPARE(boxTexts(), QStringList());
        const Sim::DeviceState detector = loop->state(1);
        const auto& records = detector.eventLog.records();
        const QList<QStringList> shown = window->eventLog().lastRecords(1000);
        QCOMPARE(size_t(shown.size()), records.size());
        const QDateTime epoch(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC);
        for (int r = 0; r < shown.size(); ++r)
            QCOMPARE(shown[r][1] + (shown[r][2].isEmpty() || shown[r][2] == "Неизвестное событие" ? " no caption" : ""),
                     epoch.addSecs(records[size_t(r)].time).toString("yyyy-MM-dd hh:mm:ss"));
    }

    // One pass over a serial loop and a HART-IP gateway, three detectors each, into one file;
    // then each detector compared with a profile.
    void fleetOverTwoLinks()
    {
        auto serialLoop = startLoop(3), ipLoop = startLoop(3, 200001);
        QVERIFY(serialLoop && ipLoop);
        ipLoop->modify(changeSettings, 1);
        const QString plant = dir.filePath("plant.db");
        Run run = ipp93kt(QStringList{ "fleet", "--out", plant, "--addresses", "1-3" } + wire(*serialLoop) + gateway(*ipLoop));
        QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
        QVERIFY2(run.out.endsWith("Обход завершён: извещателей 6, новых записей журнала 228\n"), qPrintable(run.out));
        for (Sim::Simulator* loop : { serialLoop.get(), ipLoop.get() })
            for (size_t d = 0; d < 3; ++d) // each detector's log whole, each record once
                QCOMPARE(plantRecords(plant, loop->state(d).deviceId), deviceRecords(loop->state(d)));

        const QString profile = dir.filePath("fleet.cfg");
        QCOMPARE(ipp93kt(wire(*serialLoop) + QStringList{ "read", "--address", "1", "--profile", profile }).status, 0);
        run = ipp93kt({ "fleet", "diff", plant, profile });
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.count("совпадает с профилем"), 5);
        QCOMPARE(run.out.count(QRegularExpression("^FF04 200002 IPP93-02 +.+ → ", QRegularExpression::MultilineOption)), 2);
    }

    // A pass killed in the middle of a detector's log and resumed: every record exactly once,
    // and the download's own file gone.
    void fleetKilledAndResumed_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<int>("request"); // the kill comes with this command-252 request to it
        QTest::newRow("first detector's log") << 0 << 10;
        QTest::newRow("second detector's first requests") << 1 << 2;
        QTest::newRow("second detector's log, near its end") << 1 << 34;
    }
    void fleetKilledAndResumed()
    {
        QFETCH(int, device);
        QFETCH(int, request);
        std::atomic<qint64> pid{ 0 }; // before the loop, whose line thread reads it
        std::atomic<int> seen{ 0 };
        auto loop = startLoop(2);
        QVERIFY(loop);
        QTemporaryDir here;
        const QString plant = here.filePath("plant.db");
        const QStringList arguments = QStringList{ "fleet", "--out", plant, "--addresses", "1-2" } + wire(*loop);
        loop->setRequestObserver([&](const Sim::ReceivedRequest& r) {
            if (r.command == 252 && r.device == device && ++seen == request && pid > 0)
                ::kill(pid_t(pid), SIGKILL);
        });
        QProcess pass;
        pass.start(QStringLiteral(IPP93KT_PATH), arguments);
        pid = pass.processId();
        QVERIFY(pass.waitForFinished(60000));
        loop->setRequestObserver(nullptr);
        QCOMPARE(pass.exitStatus(), QProcess::CrashExit);
        const int before = sqlRows(plant, "SELECT COUNT(*) FROM LogRecords").value(0).toInt();

        const Run run = ipp93kt(arguments + QStringList{ "--resume" });
        QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
        // Rows and distinct keys: every record once.
        QCOMPARE(sqlRows(plant, "SELECT COUNT(*), COUNT(DISTINCT deviceType || '/' || deviceId || '/' || i) FROM LogRecords"),
                 QStringList{ "78 | 78" });
        QVERIFY2(run.out.endsWith(QStringLiteral("новых записей журнала %1\n").arg(78 - before)), qPrintable(run.out));
        for (size_t d = 0; d < 2; ++d)
            QCOMPARE(plantRecords(plant, loop->state(d).deviceId), deviceRecords(loop->state(d)));
        QCOMPARE(QDir(here.path()).entryList({ "*.log.db" }), QStringList());
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
