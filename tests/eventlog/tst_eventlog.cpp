#include "dialogeventlog.h"
#include "formatcaption.h"
#include "logcsvexport.h"
#include "logstatements.h"
#include "resources.h"
#include "simulatedwindow.h"
#include "sqlitefile.h"
#include "testfiles.h"
#include "values.h"

#include <QAction>
#include <QMessageBox>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <QSqlDatabase>
#include <QSqlQuery>

#include <set>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// One row of the Log table as SQLite's own library reads it.
struct StoredRecord {
    qint64 i, count, dt, type, event;
    QByteArray data;
    bool operator==(const StoredRecord& o) const
    {
        return i == o.i && count == o.count && dt == o.dt && type == o.type && event == o.event && data == o.data;
    }
};

QList<StoredRecord> storedRecords(const QString& file)
{
    QList<StoredRecord> records;
    for (const auto& r : sqlite(file, "SELECT i, count, dt, type, event, data FROM Log ORDER BY id"))
        records << StoredRecord{ r[0].toLongLong(), r[1].toLongLong(), r[2].toLongLong(), r[3].toLongLong(),
                                 r[4].toLongLong(), r[5].toByteArray() };
    return records;
}

QList<StoredRecord> deviceRecords(const Sim::EventLog& log)
{
    QList<StoredRecord> records;
    for (const auto& r : log.records())
        records << StoredRecord{ r.index, r.positions, r.time, r.type, r.event,
                                 QByteArray(reinterpret_cast<const char*>(r.data.data()), int(r.data.size())) };
    return records;
}

// Reads a spreadsheet file as a spreadsheet program does: ";" between fields, CRLF between
// rows, quoted fields with doubled quotes and line breaks inside. Fails (empty) on a quote
// left open or text after a closing quote.
QList<QStringList> readCsv(const QString& text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false, wasQuoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += c, ++i;
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"' && field.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == ';') {
            row << field, field.clear(), wasQuoted = false;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows << (row << field), row.clear(), field.clear(), wasQuoted = false, ++i;
        } else if (wasQuoted) {
            return {};
        } else {
            field += c;
        }
    }
    if (quoted || !field.isEmpty() || !row.isEmpty())
        return {};
    return rows;
}

const QString question = QStringLiteral("Обновление конфигурации журнала/Конфигурация журнала устройства отличается "
                                        "от открытого журнала.\nОбновить конфигурацию?");

} // namespace

class TestEventLog : public QObject, WindowBench {
    Q_OBJECT

    QTemporaryDir dir;
    QString file;

    DialogEventLog& log() { return window->eventLog(); }
    QAction* action(const char* name) { return log().findChild<QAction*>(name); }
    QAbstractItemModel* view() { return log().findChild<QTableView*>("tableView")->model(); }
    // A log file with the window's own tables and what `more` puts in them.
    void createTables(const QString& more)
    {
        sqlite(file, LogSql::createInfo + ";" + LogSql::createEvents + ";" + LogSql::createLog + ";" + more);
    }
    // Starts a download and serves it to its end; the number of command-252 exchanges.
    int download(int maxTicks = 400)
    {
        sim->clearRequests();
        action("actionRead")->trigger();
        return exchanges(runUntilQuiet(maxTicks));
    }
    static int exchanges(const QString& commands) { return commands.split(' ').count("252"); }
    // Ticks until the device has seen this many more command-252 requests (the identification
    // and the reads it raises go first).
    void runRequests(int count)
    {
        const int target = exchanges(sent()) + count;
        for (int i = 0; i < 400 && exchanges(sent()) < target; ++i)
            rig->tick();
    }
    QString windowWithLog()
    {
        if (!connectWindow())
            return "no window";
        log().createLog(file);
        return answerer->boxes().isEmpty() ? QString() : boxTexts().join('|');
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
        TestClock::now = 1000;
        file = dir.filePath(QString("%1.db").arg(QTest::currentTestFunction()));
        QFile::remove(file);
        start();
    }
    void cleanup() { finish(); }

    void captions_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        const QString dataError = QStringLiteral("Ошибка данных");
        const QString badFormat = QStringLiteral("Неверный формат");
        QTest::newRow("width") << "#3i" << QByteArray("fb") << "-005";
        QTest::newRow("fraction below one") << "#1.2i" << QByteArray("fb") << "-0.05";
        QTest::newRow("fixed point") << "#+.2j" << QByteArray("d2040000") << "+12.34";
        QTest::newRow("hex width") << "#4x" << QByteArray("ff") << "00FF";
        QTest::newRow("smallest 64-bit") << "#J" << QByteArray("0000000000000080") << "-9223372036854775808";
        QTest::newRow("largest unsigned 64-bit") << "#L" << QByteArray("ffffffffffffffff") << "18446744073709551615";
        QTest::newRow("float") << "#f" << QByteArray("00002842") << "42";
        QTest::newRow("double, negative") << "#F" << QByteArray("00000000000008c0") << "-3";
        QTest::newRow("letter after value") << "#aX" << QByteArray("01") << "АктивныйX";
        QTest::newRow("yes, no, on, off") << "#b #B #o #O" << QByteArray("00 0100 01 0000") << "Нет Да Вкл Выкл";
        QTest::newRow("hash digit hash at end") << "Код #5#" << QByteArray() << "Код #5#";
        QTest::newRow("hash digit hash then letter") << "#5#u" << QByteArray("07") << "#57";
        QTest::newRow("enumeration, no text") << "#`Выкл``Вкл`e" << QByteArray("02") << "Неизвестное значение";
        QTest::newRow("enumeration keys") << "#0`Норма`5`Авария``Отказ`E" << QByteArray("0600") << "Отказ";
        QTest::newRow("after 2099") << "#d" << QByteArray("801319bc") << "01.01.2100 00:00:00";
        QTest::newRow("plus on unsigned, bytes taken") << "#+u#u" << QByteArray("0102") << badFormat + "2";
        QTest::newRow("absurd width") << "#4000000000u" << QByteArray("01") << badFormat;
        QTest::newRow("characters") << "#c#c." << QByteArray("41") << "A.";
        QTest::newRow("string to zero") << "#s|#u" << QByteArray("6162 00 07") << "ab|7";
        QTest::newRow("string to end") << "#s|#u" << QByteArray("6162") << "ab|" + dataError;
        QTest::newRow("no-byte letters") << "#5C#S." << QByteArray("01") << ".";
        QTest::newRow("too few ends the bytes") << "#U #u" << QByteArray("01") << dataError + " " + dataError;
        QTest::newRow("unfinished placeholder") << "Текст #12" << QByteArray() << "Текст 12";
        QTest::newRow("unfinished quote") << "#`a#u" << QByteArray("01") << "`a#u";
    }
    void captions()
    {
        QFETCH(QString, caption);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QCOMPARE(formatCaption(caption, QByteArray::fromHex(bytes)), shown);
    }

    // A new file holds the three tables exactly as written, and one Info row of two NULLs;
    // creating over a file replaces it.
    void createdFile()
    {
        writeFile(dir, QFileInfo(file).fileName(), "not a database at all");
        QCOMPARE(windowWithLog(), QString());
        QVERIFY(log().isLogOpen());
        QCOMPARE(sqlite(file, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name <> 'sqlite_sequence' "
                              "ORDER BY name"),
                 (QList<QVariantList>{ { LogSql::createEvents }, { LogSql::createInfo }, { LogSql::createLog } }));
        QCOMPARE(sqlite(file, "SELECT idHash, captionHash FROM Info"),
                 (QList<QVariantList>{ { QVariant(), QVariant() } }));
        QCOMPARE(logRows(), 0);
    }

    // What the user sees for files that cannot serve as a log.
    void badFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("box");
        QTest::newRow("missing") << "missing" << "Не удается найти файл \"%1\"";
        QTest::newRow("not SQLite") << "garbage" << "file is not a database";
        QTest::newRow("no tables") << "empty" << "no such table: Log";
        QTest::newRow("folder gone on create") << "create" << "unable to open database file";
    }
    void badFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, box);
        QVERIFY(connectWindow());
        QString name = file;
        if (kind == "garbage")
            writeFile(dir, QFileInfo(file).fileName(), QByteArray(4096, 'x'));
        else if (kind == "empty")
            sqlite(name, "CREATE TABLE Other(x)");
        if (kind == "create") {
            name = dir.filePath("no such folder/log.db");
            log().createLog(name);
        } else {
            log().openLog(name);
        }
        QCOMPARE(answerer->boxes().size(), 1);
        QCOMPARE(answerer->boxes()[0].title, QString("Ошибка"));
        QVERIFY2(boxTexts()[0].contains(QString(box).replace("%1", name)), qPrintable(boxTexts()[0]));
        // A download then asks for a usable file or reports the file's fault, and sends nothing.
        answerer->clearBoxes();
        sim->clearRequests();
        action("actionRead")->trigger();
        runUntilQuiet(100);
        if (!log().isLogOpen())
            QCOMPARE(boxTexts(), QStringList{ "Файл журнала не открыт" });
        QVERIFY(!action("actionRead")->isChecked());
    }

    // Rows a device never wrote, as the view shows them and as the tool-bar export writes them
    // through the file dialog: the view's columns, its texts row by row, captions with
    // separators, quotes and line breaks intact.
    void storedRowsViewedAndExported()
    {
        createTables("INSERT INTO Events VALUES(1, 0, 'Порог #u%; реле \"К1\"');"
                     "INSERT INTO Events VALUES(2, 0, 'две' || char(10) || 'строки #d');"
                     "INSERT INTO Log (i, count, dt, type, event, data) VALUES"
                     "(0, 1, 0, 2, 1, x'2a'),"                 // device time 0
                     "(1, 1, 5097600, 7, 2, x'00000000'),"     // day 59, class without icon
                     "(2, 1, 68256000, 1, 99, x'00'),"         // no caption; day 790
                     "(3, 1, 'soon', 'x', 1, NULL),"           // text where numbers belong
                     "(4, 1, 1, 3, 1, zeroblob(1000000));"     // a huge argument block
                     "WITH RECURSIVE n(k) AS (SELECT 5 UNION ALL SELECT k + 1 FROM n WHERE k < 2003)"
                     " INSERT INTO Log (i, count, dt, type, event, data) SELECT k, 1, k * 60, k % 4, 1, x'07' FROM n");
        QVERIFY(connectWindow());
        log().openLog(file);
        QVERIFY(answerer->boxes().isEmpty());
        QAbstractItemModel* m = view();
        QCOMPARE(logRows(), 2004);
        const QStringList times = { "2000-01-01 00:00:00", "2000-02-29 00:00:00", "2002-03-01 00:00:00",
                                    "2000-01-01 00:00:00", "2000-01-01 00:00:01" };
        const QString relay = QStringLiteral("; реле \"К1\"");
        const QStringList texts = { "Порог 42%" + relay, "две\nстроки 01.01.2000 00:00:00", "Неизвестное событие",
                                    "Порог Ошибка данных%" + relay, "Порог 0%" + relay };
        for (int r = 0; r < 5; ++r) {
            QCOMPARE(m->data(m->index(r, 1)).toString(), times[r]);
            QCOMPARE(m->data(m->index(r, 2)).toString(), texts[r]);
            QCOMPARE(m->data(m->index(r, 0)).toString(), QString());
            QVERIFY(m->data(m->index(r, 0), Qt::DecorationRole).value<QPixmap>().size() == QSize(16, 16));
            QCOMPARE(m->headerData(r, Qt::Vertical).toInt(), r);
        }
        const auto image = [&](int r) { return m->data(m->index(r, 0), Qt::DecorationRole).value<QPixmap>().toImage(); };
        const auto icon = [](const char* name) {
            return QPixmap(QString(":/new/prefix/Resources/Icons/Basic/16x16/") + name).toImage();
        };
        QCOMPARE(image(0), icon("delete_button_error.png"));
        QCOMPARE(image(1), icon("info.png")); // class 7 has no icon of its own
        QCOMPARE(image(2), icon("warning.png"));
        QCOMPARE(image(3), icon("info.png")); // nor has a class that is no number
        QCOMPARE(m->data(m->index(2, 2), Qt::BackgroundRole).value<QColor>(), QColor(Qt::red));
        QVERIFY(!m->data(m->index(0, 2), Qt::BackgroundRole).isValid());
        QCOMPARE(m->headerData(2, Qt::Horizontal).toString(), QString("Сообщение"));
        QVERIFY(log().findChild<QTableView*>("tableView")->isColumnHidden(3));

        const QString csv = dir.filePath("export");
        QFile::remove(csv + ".csv");
        answerer->chooseFile(csv);
        action("actionExportCsv")->trigger();
        QCOMPARE(boxTexts(), QStringList());
        const QByteArray bytes = readFile(csv + ".csv"); // the suffix is added to a bare name
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY(!bytes.mid(3).contains("\xEF\xBB\xBF"));
        const QList<QStringList> table = readCsv(QString::fromUtf8(bytes.mid(3)));
        QCOMPARE(table.size(), 1 + 2004);
        QCOMPARE(table[0], (QStringList{ "Тип", "Время", "Сообщение" }));
        QCOMPARE((QStringList{ table[1][0], table[2][0], table[4][0] }), (QStringList{ "2", "7", "x" }));
        for (int r = 0; r < 2004; r += r < 5 ? 1 : 97) {
            QCOMPARE(table[r + 1].size(), 3);
            QCOMPARE(table[r + 1][1], m->data(m->index(r, 1)).toString());
            QCOMPARE(table[r + 1][2], m->data(m->index(r, 2)).toString());
        }
    }

    // A text field that a spreadsheet would take for a formula is read as text; a number
    // field is left as it is.
    void csvFields_data()
    {
        QTest::addColumn<bool>("isText");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << true << "Порог 42%" << "Порог 42%";
        QTest::newRow("empty") << true << "" << "";
        QTest::newRow("comma stays bare") << true << "1,5 мА" << "1,5 мА";
        QTest::newRow("carriage return inside") << true << "a\rb" << "\"a\rb\"";
        QTest::newRow("formula") << true << "=HYPERLINK(\"x\")" << "\"'=HYPERLINK(\"\"x\"\")\"";
        QTest::newRow("plus") << true << "+1" << "'+1";
        QTest::newRow("minus") << true << "-10 °C" << "'-10 °C";
        QTest::newRow("at") << true << "@SUM(A1)" << "'@SUM(A1)";
        QTest::newRow("tab") << true << "\tx" << "'\tx";
        QTest::newRow("carriage return first") << true << "\rx" << "\"'\rx\"";
        QTest::newRow("negative number") << false << "-1,5" << "-1,5";
    }
    void csvFields()
    {
        QFETCH(bool, isText);
        QFETCH(QString, text);
        QFETCH(QString, field);
        const QString written = isText ? csvTextField(text) : csvField(text);
        QCOMPARE(written, field);
        const bool guarded = written.startsWith('\'') || written.startsWith("\"'");
        QCOMPARE(readCsv(written + ";x\r\n"), (QList<QStringList>{ { (guarded ? "'" : "") + text, "x" } }));
    }

    // Through the file dialogs: a cancelled Create leaves the open file open, a log typed without
    // ".db" gets it, Open switches files. What the user is told without asking: the open file in
    // the title, each finished download, erase and export in the status bar with its time.
    void fileDialogsAndFeedback()
    {
        QCOMPARE(windowWithLog(), QString());
        action("actionCreate")->trigger(); // no answer queued: the dialog is cancelled
        QVERIFY(log().isLogOpen());
        const QString bare = dir.filePath("feedback");
        QFile::remove(bare + ".db");
        answerer->chooseFile(bare);
        action("actionCreate")->trigger();
        QCOMPARE(log().windowTitle(), QStringLiteral("Журнал событий — feedback.db"));
        answerer->chooseFile(file);
        action("actionOpen")->trigger();
        const QString title = QStringLiteral("Журнал событий — ") + QFileInfo(file).fileName();
        QCOMPARE(log().windowTitle(), title);
        const auto status = [this] { return log().statusBar()->currentMessage(); };
        const auto reported = [&](const QString& what) {
            return QRegularExpression("^" + what + QStringLiteral(" \\d\\d:\\d\\d:\\d\\d$")).match(status()).hasMatch();
        };
        download();
        QCOMPARE(values(storedRecords(file).size(), storedRecords(bare + ".db").size()), values(40, 0));
        QVERIFY2(reported(QStringLiteral("Журнал событий загружен")), qPrintable(status()));
        QVERIFY(log().exportCsv(dir.filePath("feedback.csv")));
        QVERIFY2(reported(QStringLiteral("Журнал событий сохранён в CSV")), qPrintable(status()));
        action("actionErase")->trigger();
        QCOMPARE(status(), QString()); // the old message goes as the erase starts
        runUntilQuiet(20);
        QVERIFY2(reported(QStringLiteral("Журнал событий в устройстве очищен")), qPrintable(status()));
        QCOMPARE(boxTexts(), QStringList());

        log().openLog(dir.filePath("missing.db"));
        QCOMPARE(log().windowTitle(), title);
        answerer->clearBoxes();
        log().createLog(dir.filePath("no-such-folder/x.db"));
        QCOMPARE(log().windowTitle(), QStringLiteral("Журнал событий"));
    }

    // One bar over the catalogue and the records: its fill never goes back during a download.
    void progressNeverRunsBackwards()
    {
        QCOMPARE(windowWithLog(), QString());
        auto* bar = log().findChild<QProgressBar*>();
        QList<double> fills;
        const auto watch = connect(bar, &QProgressBar::valueChanged, this, [&] {
            if (!bar->isHidden())
                fills << double(bar->value()) / bar->maximum();
        });
        download();
        disconnect(watch);
        QVERIFY2(fills.size() > 40, qPrintable(QString::number(fills.size())));
        for (int i = 1; i < fills.size(); ++i)
            QVERIFY2(fills[i] >= fills[i - 1], qPrintable(QString("%1 after %2").arg(fills[i]).arg(fills[i - 1])));
        QVERIFY(fills.last() > 0.9);
        QVERIFY(bar->isHidden());
    }

    // Records kept from before the file had a catalogue show their texts as soon as the
    // catalogue arrives, even when no new record follows to refresh the view.
    void catalogueShowsAtOnce()
    {
        QVERIFY(connectWindow());
        const Sim::EventLog device = sim->state().eventLog;
        createTables(LogSql::insertInfo + ";"
                     + QString("INSERT INTO Log (i, count, dt, type, event, data) VALUES(1000, 1, 0, 0, %1, x'')")
                           .arg(device.captions[0].id));
        log().openLog(file);
        QCOMPARE(view()->data(view()->index(0, 2)).toString(), QStringLiteral("Неизвестное событие"));
        QCOMPARE(download(), 1 + int(device.captions.size()) + 1); // nothing after record 1000
        QCOMPARE(storedRecords(file).size(), 1);
        QCOMPARE(view()->data(view()->index(0, 2)).toString(), QStringLiteral("Включение питания"));
    }

    // What the user sees when the file cannot be written; an earlier export of the same name is
    // kept whole.
    void csvExportFailures()
    {
        QCOMPARE(windowWithLog(), QString());
        const QString badName = dir.filePath("no such folder/log.csv");
        QVERIFY(!log().exportCsv(badName));
        QCOMPARE(boxTexts().size(), 1);
        QVERIFY2(boxTexts()[0].startsWith("Не удается записать файл \"" + badName + "\"\n"), qPrintable(boxTexts()[0]));
        answerer->clearBoxes();

        // The file's Log table gone: the export fails and the older export stays as it was.
        const QString csv = dir.filePath("kept.csv");
        QVERIFY(log().exportCsv(csv));
        const QByteArray before = readFile(csv);
        QCOMPARE(before, QByteArray("\xEF\xBB\xBFТип;Время;Сообщение\r\n"));
        sqlite(file, "DROP TABLE Log");
        QVERIFY(!log().exportCsv(csv));
        QCOMPARE(boxTexts().size(), 1);
        QVERIFY2(boxTexts()[0].contains("no such table: Log"), qPrintable(boxTexts()[0]));
        QCOMPARE(readFile(csv), before);
    }

    // The catalogue checks that ask nothing (identifiers compared as unsigned numbers); a changed
    // catalogue's question is the changed-catalogue test's. The identifiers are saved only with the
    // last entry of a catalogue, at once when it is empty.
    void catalogueCheck_data()
    {
        QTest::addColumn<bool>("fileKnown");
        QTest::addColumn<int>("captions");
        QTest::addColumn<quint32>("idHash");
        QTest::addColumn<quint32>("captionHash");
        QTest::addColumn<bool>("readCaptions");
        QTest::newRow("no captions") << false << 0 << 0x11u << 0x22u << true;
        QTest::newRow("same identifiers") << true << 3 << 0xF0000001u << 0xF0000002u << false;
        QTest::newRow("only idHash equal") << true << 3 << 0xF0000001u << 5u << true;
    }
    void catalogueCheck()
    {
        QFETCH(bool, fileKnown);
        QFETCH(int, captions);
        QFETCH(quint32, idHash);
        QFETCH(quint32, captionHash);
        QFETCH(bool, readCaptions);
        QCOMPARE(windowWithLog(), QString());
        DialogEventLog& w = log();
        w.requestFlags = Hart::EventLogRequest::Read;
        w.state = Hart::EventLogState::Range; // as the decoder leaves it before the callback
        if (fileKnown) {
            QVERIFY(w.onInfo(&w, 1, 0xF0000001u, 0xF0000002u));
            w.onCaption(&w, 0, 1, "x");
            QCOMPARE(sqlite(file, "SELECT idHash, captionHash FROM Info")[0],
                     (QVariantList{ qint64(0xF0000001u), qint64(0xF0000002u) }));
        }
        QCOMPARE(w.onInfo(&w, uint16_t(captions), idHash, captionHash), readCaptions);
        QVERIFY(answerer->boxes().isEmpty());
        QVERIFY(w.requestFlags & Hart::EventLogRequest::Read);
        if (readCaptions) {
            const qint64 before = fileKnown ? qint64(0xF0000001u) : 0;
            for (int i = 0; i < captions; ++i) {
                QCOMPARE(sqlite(file, "SELECT idHash FROM Info")[0][0].toLongLong(), before);
                w.onCaption(&w, uint16_t(i), 10 + i, "a");
            }
            QCOMPARE(sqlite(file, "SELECT idHash, captionHash FROM Info")[0],
                     (QVariantList{ qint64(idHash), qint64(captionHash) }));
        }
    }

    // The whole log, then again: the second download asks nothing and stores only what is new.
    void downloadAndAppend()
    {
        QCOMPARE(windowWithLog(), QString());
        const int first = download();
        QVERIFY(answerer->boxes().isEmpty());
        const Sim::EventLog device = sim->state().eventLog;
        QCOMPARE(first, 1 + int(device.captions.size()) + 1 + int(device.records().size()));
        QCOMPARE(storedRecords(file), deviceRecords(device));
        QCOMPARE(sqlite(file, "SELECT COUNT(*) FROM Events")[0][0].toInt(), int(device.captions.size()));
        // The view follows, with the device's own texts rendered.
        QCOMPARE(logRows(), int(device.records().size()));
        QCOMPARE(view()->data(view()->index(5, 2)).toString(), QStringLiteral("Температура -10.0 °C"));

        QCOMPARE(download(), 2); // description and range, nothing else
        QCOMPARE(sent(), QString("252 252"));

        sim->modify([](Sim::DeviceState& s) {
            s.eventLog.add(0, 100, 13, { 1, 0, 0, 0 });
            s.eventLog.add(1, 200, 99, {});
        });
        QCOMPARE(download(), 4);
        QCOMPARE(storedRecords(file), deviceRecords(sim->state().eventLog));
        QCOMPARE(view()->data(view()->index(logRows() - 1, 2)).toString(), QStringLiteral("Неизвестное событие"));

        // The device has since dropped everything the file holds: the download starts at its
        // first record, and only the records it still keeps follow.
        sim->modify([](Sim::DeviceState& s) {
            s.eventLog.setCapacity(20);
            for (uint32_t i = 0; i < 30; ++i)
                s.eventLog.add(2, 1000 + i, 3, { uint8_t(i), 0, 0, 0 });
        });
        const int before = storedRecords(file).size();
        QCOMPARE(download(), 2 + 20);
        QCOMPARE(storedRecords(file).mid(before), deviceRecords(sim->state().eventLog));
    }

    // Another catalogue in the device: asked; Yes reads it again, No keeps the file's.
    void changedCatalogue_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("yes") << int(QMessageBox::Yes);
        QTest::newRow("no") << int(QMessageBox::No);
    }
    void changedCatalogue()
    {
        QFETCH(int, answer);
        QCOMPARE(windowWithLog(), QString());
        download();
        sim->modify([](Sim::DeviceState& s) {
            s.eventLog.catalogueId ^= 1;
            s.eventLog.captions[0].text = "Power on";
            s.eventLog.captionSetId = Sim::EventLog::hashCaptions(s.eventLog.captions);
            s.eventLog.add(0, 300, 1, {});
        });
        answerer->answerBoxesWith(answer);
        const int commands = download();
        QCOMPARE(answerer->titledTexts(), QStringList{ question });
        const bool yes = answer == QMessageBox::Yes;
        const int captions = int(sim->state().eventLog.captions.size());
        QCOMPARE(commands, 1 + (yes ? captions : 0) + 1 + 1);
        QCOMPARE(view()->data(view()->index(logRows() - 1, 2)).toString(),
                 yes ? QString("Power on") : QStringLiteral("Включение питания"));
        QCOMPARE(storedRecords(file), deviceRecords(sim->state().eventLog));
    }

    // Records overwritten in the device while the download runs: the range is read again and
    // the download goes on from the device's new first record.
    void overwrittenDuringDownload()
    {
        QCOMPARE(windowWithLog(), QString());
        sim->clearRequests();
        action("actionRead")->trigger();
        runRequests(1 + 15 + 1 + 3); // description, catalogue, range, three records asked
        QCOMPARE(storedRecords(file).size(), 2); // the third answer waits in the terminal
        std::set<qint64> before;
        sim->modify([](Sim::DeviceState& s) {
            s.eventLog.setCapacity(50);
            for (int i = 0; i < 30; ++i)
                s.eventLog.add(0, 1000 + i, 1, {});
        });
        runUntilQuiet(400);
        const QList<StoredRecord> stored = storedRecords(file);
        const QList<StoredRecord> device = deviceRecords(sim->state().eventLog);
        QCOMPARE(stored.mid(stored.size() - device.size()), device);
        std::set<qint64> indices;
        for (const auto& r : stored)
            QVERIFY2(indices.insert(r.i).second, "a record stored twice");
        bool overwrittenSeen = false;
        for (const auto& req : sim->requests())
            overwrittenSeen |= req.command == 252 && req.data.size() == 1 && req.data[0] == 0x02;
        QVERIFY(overwrittenSeen);
        QVERIFY(!action("actionRead")->isChecked());
    }

    // Unchecking the download stops it at once; the next download resumes after what was kept.
    void stopAndResume_data()
    {
        QTest::addColumn<int>("requests");
        QTest::newRow("during catalogue") << 5;
        QTest::newRow("during records") << 1 + 15 + 1 + 7;
    }
    void stopAndResume()
    {
        QFETCH(int, requests);
        QCOMPARE(windowWithLog(), QString());
        sim->clearRequests();
        action("actionRead")->trigger();
        runRequests(requests); // the last answer waits in the terminal, to be read after the stop
        action("actionRead")->trigger();
        QVERIFY(!action("actionRead")->isChecked());
        runUntilQuiet(20);
        // The late answer was not taken; the request it answered times out unrepeated.
        TestClock::now += 2000;
        runUntilQuiet(20);
        const int kept = storedRecords(file).size();
        QCOMPARE(kept, std::max(0, requests - 1 - 17));
        if (requests < 17)
            QVERIFY(!sqlite(file, "SELECT idHash FROM Info")[0][0].isValid());

        const int again = download();
        const int captions = requests < 17 ? 15 : 0;
        QCOMPARE(again, 1 + captions + 1 + 40 - kept);
        QCOMPARE(storedRecords(file), deviceRecords(sim->state().eventLog));
    }

    // The erase goes out before anything else and leaves the download's check mark alone;
    // without a file it is refused.
    void erase()
    {
        QVERIFY(connectWindow());
        action("actionErase")->trigger();
        QCOMPARE(boxTexts(), QStringList{ "Файл журнала не открыт" });
        runUntilQuiet(10);
        QVERIFY(sim->requests().empty());
        answerer->clearBoxes();

        log().createLog(file);
        action("actionRead")->trigger();
        runRequests(3);
        action("actionErase")->trigger();
        sim->clearRequests();
        runUntilQuiet(20);
        QCOMPARE(sent(), QString("252"));
        QCOMPARE(sim->requests()[0].data, (std::vector<uint8_t>{ 0x80, 0xFF, 0x00, 0x55, 0xAA }));
        QCOMPARE(values(sim->state().eventLog.records().size(), action("actionRead")->isChecked(),
                        answerer->boxes().size(), storedRecords(file).size()),
                 values(0, true, 0, 0));
    }

    // The line dies at 20 random records; each time the detector comes back on a new line, the
    // same file is opened in a new window and the download resumes. The file ends with every
    // record exactly once.
    void cutAndResumed()
    {
        QCOMPARE(windowWithLog(), QString());
        const Sim::DeviceState device = sim->state();
        QRandomGenerator random(16);
        int kept = 0;
        for (int cut = 0; cut < 20; ++cut) {
            // The first run reads the catalogue before any record; later ones only the
            // description and range.
            const int before = cut == 0 ? 1 + 15 + 1 : 1 + 1;
            sim->clearRequests();
            action("actionRead")->trigger();
            runRequests(before + 1 + int(random.bounded(2)));
            sim->closeLine();
            for (int i = 0; i < 50 && answerer->boxes().isEmpty(); ++i) {
                rig->tick(50);
                TestClock::now += 2000;
            }
            QCOMPARE(boxTexts().size(), 1); // the lost port, explained
            QVERIFY2(boxTexts()[0].startsWith(QStringLiteral("Связь с портом")), qPrintable(boxTexts()[0]));
            QVERIFY(!action("actionRead")->isChecked());
            const int stored = storedRecords(file).size();
            QVERIFY2(stored >= kept && stored < 40, qPrintable(QString("%1 records after cut %2").arg(stored).arg(cut)));
            kept = stored;

            answerer->clearBoxes();
            disconnectWindow();
            QVERIFY(connectWindow());
            sim->setState(device);
            log().openLog(file);
        }
        QCOMPARE(download(), 1 + 1 + 40 - kept);
        QCOMPARE(storedRecords(file), deviceRecords(device.eventLog));
        QVERIFY(answerer->boxes().isEmpty());
    }

    // A program killed while it stores records leaves a file that opens whole and holds every
    // record it had committed. The child writes with the window's own statements and reports
    // each record once its statement has returned.
    void killedWhileWriting()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs fork and SIGKILL");
#else
        int reports[2];
        QVERIFY(pipe(reports) == 0);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            close(reports[0]);
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("child"));
                db.setDatabaseName(file);
                if (!db.open())
                    _exit(1);
                QSqlQuery query(db);
                for (const QString* statement : { &LogSql::createInfo, &LogSql::createEvents, &LogSql::createLog,
                                                  &LogSql::insertInfo })
                    if (!query.exec(*statement))
                        _exit(1);
                for (uint32_t i = 0;; ++i) {
                    query.prepare(LogSql::insertRecord);
                    query.bindValue(QStringLiteral(":i"), i);
                    query.bindValue(QStringLiteral(":count"), 1);
                    query.bindValue(QStringLiteral(":dt"), 1000 + i);
                    query.bindValue(QStringLiteral(":type"), int(i % 3));
                    query.bindValue(QStringLiteral(":event"), i % 40);
                    query.bindValue(QStringLiteral(":data"), QByteArray(4, char(i)));
                    if (!query.exec() || write(reports[1], &i, sizeof i) != sizeof i)
                        _exit(1);
                }
            }
        }
        close(reports[1]);
        std::vector<uint32_t> committed;
        uint32_t index = 0;
        // Killed at a random moment after a few hundred records.
        const int killAt = 200 + int(QRandomGenerator::global()->bounded(300));
        while (int(committed.size()) < killAt && read(reports[0], &index, sizeof index) == sizeof index)
            committed.push_back(index);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        while (read(reports[0], &index, sizeof index) == sizeof index)
            committed.push_back(index);
        close(reports[0]);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(int(committed.size()) >= killAt, true);

        QCOMPARE(sqlite(file, "PRAGMA integrity_check"), QList<QVariantList>{ QVariantList{ QStringLiteral("ok") } });
        const QList<StoredRecord> stored = storedRecords(file);
        QVERIFY(stored.size() >= int(committed.size()));
        for (uint32_t i : committed)
            QVERIFY2(stored[int(i)] == (StoredRecord{ i, 1, 1000 + i, i % 3, i % 40, QByteArray(4, char(i)) }),
                     qPrintable(QString("record %1").arg(i)));
        QVERIFY(connectWindow());
        log().openLog(file);
        QVERIFY(answerer->boxes().isEmpty());
        QCOMPARE(logRows(), stored.size());
#endif
    }

    // Closing the window stops the download and unchecks the main window's action.
    void closingStops()
    {
        QCOMPARE(windowWithLog(), QString());
        QAction* readLog = window->findChild<QAction*>("actionReadLog");
        readLog->trigger();
        QVERIFY(log().isVisible());
        action("actionRead")->trigger();
        runRequests(3);
        readLog->trigger(); // hiding keeps it running
        QVERIFY(!log().isVisible());
        QVERIFY(action("actionRead")->isChecked());
        readLog->trigger();
        log().close();
        QVERIFY(!readLog->isChecked());
        QVERIFY(!action("actionRead")->isChecked());
        QCOMPARE(int(log().requestFlags), 0);
        sim->clearRequests();
        runUntilQuiet(10);
        QVERIFY(sim->requests().empty());
    }
};

QTEST_MAIN(TestEventLog)
#include "tst_eventlog.moc"
