// What the event-log download costs. First a whole download from the detector simulated at the
// wire rate in a child process, with the main window's real timers: the time it takes and how
// busy it keeps the line. Then, on the program's side alone, the cost of storing one record
// (its statement and the view's refresh) and of refreshing the view, with 1 000, 10 000 and
// 100 000 records already in the file, and of exporting the file as CSV with the peak memory
// the export adds.
//
//   build/bench/eventlog/bench_eventlog [records] [--shot DIR]   (300 records by default)
//
// With --shot the event-log window is shown and saved as DIR/event-log.png after the download
// (run it under xvfb-run for a real X server).

#include "dialogeventlog.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "pacedline.h"
#include "resources.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A device log of this many records of every kind the default catalogue knows.
void fillDeviceLog(Sim::DeviceState& state, int records)
{
    Sim::EventLog& log = state.eventLog;
    log.erase();
    log.setCapacity(uint32_t(records) * 2 + 16);
    for (int i = 0; i < records; ++i) {
        const uint32_t time = 700000000u + uint32_t(i) * 631;
        switch (i % 5) {
        case 0: log.add(0, time, 2, { 14, 3 }); break;
        case 1: log.add(2, time, 3, { 0x2C, 0x01, 0x7B, 0x00 }); break;
        case 2: log.add(1, time, 4, { uint8_t(i % 4) }); break;
        case 3: log.add(0, time, 7, { 0x9C, 0xFF }); break;
        default: log.add(3, time, 1, {}); break;
        }
    }
}

struct Download {
    double seconds = 0;
    int records = 0;
    bool finished = false;
};

Download downloadFromPacedDetector(QApplication& application, PacedDetector& detector, const QString& shotDir)
{
    Download result;
    QTemporaryDir dir;
    ModalAnswerer answerer;
    MainWindow window;
    answerer.choosePort(QString::fromStdString(detector.portPath()));
    window.findChild<QAction*>(QStringLiteral("connectButton"))->trigger();
    answerer.setPollIntervalMs(1000);
    DialogEventLog& log = window.eventLog();
    log.createLog(dir.filePath(QStringLiteral("bench.db")));
    if (!shotDir.isEmpty()) {
        window.show();
        window.findChild<QAction*>(QStringLiteral("actionReadLog"))->trigger();
        log.resize(900, 600);
    }
    QAction* read = log.findChild<QAction*>(QStringLiteral("actionRead"));
    QElapsedTimer wall;
    wall.start();
    read->trigger();
    // A failure unchecks the download before its message box opens: wait for the box.
    QString failure;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            failure = box->text();
            box->accept();
        }
        if ((!read->isChecked() && QApplication::activeModalWidget() == nullptr) || wall.elapsed() > 20 * 60 * 1000)
            application.quit();
    });
    poll.start(50);
    application.exec();
    result.seconds = wall.elapsed() / 1000.0;
    result.finished = failure.isEmpty() && answerer.boxes().isEmpty();
    QSqlQuery count(QSqlDatabase::database());
    if (count.exec(QStringLiteral("SELECT COUNT(*) FROM Log")) && count.next())
        result.records = count.value(0).toInt();
    if (!shotDir.isEmpty())
        log.grab().save(shotDir + QStringLiteral("/event-log.png"));

    LineFigures line;
    if (!detector.finish(&line))
        return result;
    const double busy = line.busySeconds();
    std::printf("download of %d records from the paced detector: %.1f s, %s%s\n", result.records, result.seconds,
                result.finished ? "ended normally" : "ended with the message: ", qPrintable(failure));
    std::printf("  exchanges %llu answered, %.2f per second, %.1f ms per record\n",
                (unsigned long long)line.answered, line.answered / result.seconds,
                1000.0 * result.seconds / std::max(1, result.records));
    std::printf("  line bytes            %llu to the detector, %llu back\n", (unsigned long long)line.bytesIn,
                (unsigned long long)line.bytesOut);
    std::printf("  link efficiency       %.3f (line busy %.1f s of %.1f s)\n", busy / result.seconds, busy,
                result.seconds);
    return result;
}

// Fills the open file's Log table to this many records in one transaction, on a connection of
// its own.
void prefill(const QString& file, int records)
{
    {
        QSqlDatabase fill = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("prefill"));
        fill.setDatabaseName(file);
        fill.open();
        fill.transaction();
        QSqlQuery query(fill);
        query.exec(QStringLiteral("INSERT OR REPLACE INTO Events(id, type, caption) VALUES(7, 0, 'Температура #+.1I °C')"));
        query.prepare(QStringLiteral("INSERT INTO Log (i, count, dt, type, event, data) VALUES(?, 1, ?, 0, 7, ?)"));
        for (int i = 0; i < records; ++i) {
            query.bindValue(0, i);
            query.bindValue(1, 700000000 + i);
            query.bindValue(2, QByteArray("\x9c\xff", 2));
            query.exec();
        }
        fill.commit();
        fill.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("prefill"));
}

// A figure of /proc/self/status in kB (VmRSS, VmHWM), 0 where there is none.
long statusKb(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key)) + 1).trimmed().split(' ')[0].toLong();
    return 0;
}

void measureExport(DialogEventLog& log, const QString& csv, int size)
{
    const long before = statusKb("VmRSS:");
    // Writing 5 to clear_refs starts the peak over from the present size.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    QElapsedTimer t;
    t.start();
    const bool ok = log.exportCsv(csv);
    const double ms = t.nsecsElapsed() / 1e6;
    std::printf("  %6d records exported as CSV: %.0f ms, %.1f MB written, peak memory +%ld kB%s\n", size, ms,
                QFile(csv).size() / 1e6, std::max(0L, statusKb("VmHWM:") - before), ok ? "" : " (failed)");
}

void measureStoreAndRefresh()
{
    std::printf("storing and showing, per operation (median of the runs):\n");
    for (int size : { 1000, 10000, 100000 }) {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("bench.db"));
        DialogEventLog log(EventLogOwner{ [] { return true; }, nullptr, nullptr });
        log.resize(900, 600);
        log.show();
        log.createLog(file);
        prefill(file, size);
        log.openLog(file);

        constexpr int runs = 50;
        std::vector<double> refresh, store;
        QElapsedTimer t;
        for (int i = 0; i < runs; ++i) {
            t.start();
            log.refreshView();
            refresh.push_back(t.nsecsElapsed() / 1e6);
        }
        log.requestFlags = Hart::EventLogRequest::Read;
        log.state = Hart::EventLogState::Records;
        const uint8_t data[] = { 0x9C, 0xFF };
        for (int i = 0; i < runs; ++i) {
            log.remaining = uint32_t(runs - i);
            t.start();
            log.onRecords(&log, uint32_t(size + i), 1, 0, 700000000u, 7, data, sizeof data);
            store.push_back(t.nsecsElapsed() / 1e6);
        }
        std::sort(refresh.begin(), refresh.end());
        std::sort(store.begin(), store.end());
        std::printf("  %6d records in the file: refresh of the view %.2f ms, one record stored and shown %.2f ms "
                    "(slowest %.2f ms)\n",
                    size, refresh[runs / 2], store[runs / 2], store.back());
        measureExport(log, dir.filePath(QStringLiteral("bench.csv")), size + runs);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const QString shotDir = argc > 3 && std::strcmp(argv[2], "--shot") == 0 ? QString::fromLocal8Bit(argv[3]) : QString();
    // The detector's process is forked before Qt starts any thread.
    PacedDetector detector;
    if (!detector.start([records](Sim::DeviceState& s) { fillDeviceLog(s, records); }))
        return 1;
    QApplication application(argc, argv);
    initResources();
    downloadFromPacedDetector(application, detector, shotDir);
    if (shotDir.isEmpty())
        measureStoreAndRefresh();
    return 0;
}
