#include "audittrail.h"
#include "auditwindow.h"
#include "sqlitefile.h"

#include <QBuffer>
#include <QComboBox>
#include <QDateEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

static Audit::Operation writeOperation()
{
    return { QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FF04"), QStringLiteral("123456"),
             QStringLiteral("TAG1"), QStringLiteral("Запись"),
             { { QStringLiteral("Заголовок"), QStringLiteral("OLD"), QStringLiteral("NEW") },
               { QStringLiteral("Ток сработки"), QStringLiteral("20,000"), QStringLiteral("19,000") } } };
}

class TestAuditTrail : public QObject {
    Q_OBJECT

private slots:
    void beginAndFinish()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sub/audit.db"));
        {
            AuditTrail trail(path);
            QVERIFY(trail.isOpen() && trail.notice().isEmpty());
            QVERIFY(trail.connectionName() != QLatin1String(QSqlDatabase::defaultConnection));
            const qint64 a = trail.begin(writeOperation());
            const qint64 b = trail.begin(writeOperation());
            QVERIFY(a > 0 && b > a);
            QVERIFY(trail.finish(a, Audit::Outcome::Refused, 7, QStringLiteral("Защищено от записи")));
            // A late second outcome cannot overwrite the first.
            QVERIFY(!trail.finish(a, Audit::Outcome::Done, 0));
        }
        QVERIFY(AuditTrail(path).notice().isEmpty()); // reopened as ours, nothing set aside
        QCOMPARE(sqlRows(path, "SELECT outcome, response_code, outcome_text, finished_at IS NULL, user FROM operations ORDER BY id"),
                 QStringList({ "refused | 7 | Защищено от записи | 0 | " + Audit::systemUser(),
                               "started | NULL | NULL | 1 | " + Audit::systemUser() }));
    }

    void fileSetAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("truncated") << QByteArray("SQLite format 3\0", 16) + QByteArray(200, '\x7f') << QStringLiteral("повреждён");
        QTest::newRow("foreign") << QByteArray() << QStringLiteral("не является журналом изменений этой программы");
    }
    // A damaged or foreign file is renamed aside with its bytes kept, and a fresh trail takes its place.
    void fileSetAside()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("audit.db"));
        if (content.isEmpty()) // another program's database
            sqlRows(path, "CREATE TABLE t (x)");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        if (!content.isEmpty())
            file.write(content);
        file.seek(0);
        const QByteArray before = file.readAll();
        file.close();

        AuditTrail trail(path);
        QVERIFY2(trail.isOpen() && trail.notice().contains(reason), qPrintable(trail.notice()));
        const QStringList aside = QDir(dir.path()).entryList({ QStringLiteral("audit.db.damaged-*") });
        QCOMPARE(aside.size(), 1);
        QVERIFY(trail.notice().contains(aside.first()));
        QFile kept(dir.filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == before);
        QVERIFY(trail.begin(writeOperation()) > 0);
    }

    // A writer killed at random moments: the file always opens as ours, every record it reported
    // committed is there with all its fields, and each record is either finished or "started".
    void survivesKill()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("audit.db"));
        QList<qint64> committed;
        for (int round = 0; round < 6; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/audit_writer"), { path });
            QVERIFY(child.waitForStarted() && child.waitForReadyRead(5000));
            QThread::msleep(QRandomGenerator::global()->bounded(5, 120));
            ::kill(pid_t(child.processId()), SIGKILL);
            QVERIFY(child.waitForFinished(5000));
            for (const QByteArray& line : child.readAllStandardOutput().split('\n'))
                if (line.toLongLong() > 0)
                    committed << line.toLongLong();
        }
        QVERIFY(committed.size() >= 6);
        AuditTrail trail(path);
        QVERIFY2(trail.notice().isEmpty(), qPrintable(trail.notice()));
        const QStringList incomplete = sqlRows(
            path, "SELECT id FROM operations WHERE (SELECT COUNT(*) FROM changes WHERE record_id = id) != 3 "
                  "OR (outcome = 'started') != (finished_at IS NULL) OR (outcome NOT IN ('started', 'done', 'refused'))");
        QVERIFY2(incomplete.isEmpty(), qPrintable(incomplete.join(',')));
        const QStringList ids = sqlRows(path, "SELECT id FROM operations");
        for (qint64 id : committed)
            QVERIFY2(ids.contains(QString::number(id)), qPrintable(QString::number(id)));
    }

    // The window lists one device or all, within the days chosen, newest first, and exports what
    // it lists with the event log's quoting.
    void window()
    {
        QTemporaryDir dir;
        AuditTrail trail(dir.filePath(QStringLiteral("audit.db")));
        const QDateTime today = QDateTime::currentDateTimeUtc();
        Audit::Operation op = writeOperation();
        trail.begin(op, today.addDays(-40));
        op.tag = QStringLiteral("A;B");
        trail.finish(trail.begin(op, today.addSecs(-60)), Audit::Outcome::Done, 0);
        op.deviceId = QStringLiteral("777");
        op.tag = QStringLiteral("OTHER");
        trail.begin(op, today);

        AuditWindow window([&trail] { return &trail; });
        window.show();
        QAbstractItemModel* model = window.table()->model();
        auto column = [model](int c) {
            QStringList out;
            for (int r = 0; r < model->rowCount(); ++r)
                out << model->index(r, c).data().toString();
            return out;
        };
        QCOMPARE(column(4), QStringList({ "777", "123456" }));
        window.deviceBox()->setCurrentIndex(window.deviceBox()->findData(QStringLiteral("123456")));
        window.firstDay()->setDate(QDate::currentDate().addDays(-50));
        QCOMPARE(column(5), QStringList({ "A;B", "TAG1" }));
        QCOMPARE(column(8), QStringList({ Audit::outcomeText("done"), Audit::outcomeText("started") }));
        QCOMPARE(column(7).first(), QStringLiteral("Заголовок: OLD → NEW; Ток сработки: 20,000 → 19,000"));

        QBuffer csv;
        QString error;
        QVERIFY(csv.open(QIODevice::WriteOnly) && AuditWindow::writeCsv(trail.records(window.filter()), csv, &error));
        const QList<QByteArray> lines = csv.data().split('\n');
        QVERIFY(lines[0].startsWith("\xEF\xBB\xBF\xD0\x92\xD1\x80\xD0\xB5\xD0\xBC\xD1\x8F;")); // BOM, "Время;"
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[1].contains(";\"A;B\";") && lines[1].endsWith("\r"));
    }
};

QTEST_MAIN(TestAuditTrail)
#include "tst_audittrail.moc"
