// How much of a 1200-baud line the program keeps busy while reading: the simulated detector runs
// paced at the wire rate in a child process, the program reads from it with its real timers for
// the given number of seconds, and the figures are printed. Then "Прочитать конфигурацию" is
// timed from the click to the last one-time answer against the wire time of the same exchanges.
// Both run twice: with each answer parsed on arrival (the program as shipped) and, for
// comparison, at the next parse tick only.
//
//   build/bench/app/bench_link [seconds] [--shot DIR [--maximized]]   (60 s per mode by default)
//
// With --shot the window, the traffic monitor and the trends are shown, and each is saved as a PNG
// picture into DIR at the end (run it under xvfb-run for a real X server). --maximized fills the
// screen's available area with the main window, as a laptop user would.

#include "dialogtraffic.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "onetimereads.h"
#include "resources.h"
#include "trendwindow.h"

#include "pacedline.h"
#include "sim/simulator.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QScreen>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of each thread of this process, to tell the GUI thread from the port's worker.
QMap<QString, double> threadTimes()
{
    QMap<QString, double> times;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    const long ticks = sysconf(_SC_CLK_TCK);
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const int close = text.lastIndexOf(')');
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.size() < 13 || ticks <= 0)
            continue;
        times[tid] = double(fields[11].toLongLong() + fields[12].toLongLong()) / double(ticks);
    }
    return times;
}

void printThreadTimes(const QMap<QString, double>& before)
{
    const QMap<QString, double> after = threadTimes();
    for (auto t = after.begin(); t != after.end(); ++t) {
        const bool main = t.key().toLongLong() == ::getpid();
        std::printf("    thread %-8s %-6s %.2f s\n", qPrintable(t.key()), main ? "GUI" : "",
                    t.value() - before.value(t.key()));
    }
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Opens the window's port on the simulator's line through the real port dialog.
bool connectTo(MainWindow& window, ModalAnswerer& answerer, const QString& port)
{
    answerer.choosePort(port);
    window.findChild<QAction*>(QStringLiteral("connectButton"))->trigger();
    return window.isPortOpen();
}

const char* modeName(bool parseOnArrival)
{
    return parseOnArrival ? "parsed on arrival" : "parsed at the next tick";
}

int measureCycle(QApplication& application, int seconds, bool parseOnArrival, const QString& shotDir,
                 bool maximized)
{
    PacedDetector detector;
    if (!detector.start())
        return 1;
    const std::string path = detector.portPath();

    ModalAnswerer answerer;
    MainWindow window;
    window.setParseOnArrival(parseOnArrival);
    if (!connectTo(window, answerer, QString::fromStdString(path))) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }

    if (!shotDir.isEmpty()) {
        window.show();
        const QRect available = window.screen()->availableGeometry();
        std::printf("main window opened at %dx%d on an available screen of %dx%d\n", window.width(),
                    window.height(), available.width(), available.height());
        // Without a window manager a maximize request would be ignored, so the geometry is set.
        if (maximized)
            window.setGeometry(available);
        window.findChild<QAction*>(QStringLiteral("traffic"))->trigger();
        window.findChild<QAction*>(QStringLiteral("trends"))->trigger();
    }

    answerer.setPollIntervalMs(1000);
    const double cpuBefore = cpuSeconds();
    const QMap<QString, double> threadsBefore = threadTimes();
    QElapsedTimer wall;
    wall.start();
    window.findChild<QAction*>(QStringLiteral("connectRead"))->trigger();
    QTimer::singleShot(seconds * 1000, &application, &QApplication::quit);
    application.exec();
    const double wallSeconds = wall.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    if (!shotDir.isEmpty()) {
        window.grab().save(shotDir + QStringLiteral("/main-window.png"));
        if (QWidget* monitor = window.findChild<DialogTraffic*>())
            monitor->grab().save(shotDir + QStringLiteral("/traffic.png"));
        if (TrendWindow* trends = window.findChild<TrendWindow*>())
            trends->grab().save(shotDir + QStringLiteral("/trends.png"));
    }

    LineFigures line;
    if (!detector.finish(&line))
        return 1;

    const double busy = line.busySeconds();
    std::printf("cyclic reading for %.1f s against the paced detector, %s\n", wallSeconds,
                modeName(parseOnArrival));
    std::printf("  requests %llu, answered %llu, frames sent %u, received %u, message boxes %d\n",
                (unsigned long long)line.requests, (unsigned long long)line.answered, window.sentPackets(),
                window.receivedPackets(), answerer.boxes().size());
    std::printf("  exchanges per second  %.2f\n", line.answered / wallSeconds);
    std::printf("  line bytes            %llu to the detector, %llu back\n", (unsigned long long)line.bytesIn,
                (unsigned long long)line.bytesOut);
    std::printf("  link efficiency       %.3f (line busy %.1f s of %.1f s)\n", busy / wallSeconds, busy,
                wallSeconds);
    std::printf("  program CPU           %.2f s, %.2f %% of a core (%.2f s per minute)\n", cpu,
                100.0 * cpu / wallSeconds, cpu * 60.0 / wallSeconds);
    printThreadTimes(threadsBefore);
    std::printf("  resident memory       %ld KiB\n", residentKiB());
    return 0;
}

// "Прочитать конфигурацию" from the click until the program holds the answer to the last of the
// reads that identification raises once, against the wire time of every exchange meanwhile.
int measureOneTimeRead(bool parseOnArrival)
{
    Sim::Options options;
    options.paced = true;
    Sim::Simulator sim(options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    ModalAnswerer answerer;
    MainWindow window;
    window.setParseOnArrival(parseOnArrival);
    if (!connectTo(window, answerer, QString::fromStdString(sim.portPath())))
        return 1;
    // Let the port settle, then start from a quiet line.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    sim.clearRequests();

    const uint64_t bytesBefore = sim.lineBytesReceived() + sim.lineBytesSent();
    const uint32_t receivedBefore = window.receivedPackets();
    QElapsedTimer wall;
    wall.start();
    window.findChild<QAction*>(QStringLiteral("connectRead"))->trigger();
    size_t answered = 0;
    uint64_t bytes = 0;
    bool done = false;
    while (!done && wall.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::AllEvents, 1);
        // Taken before the log: the next request may start on the line the moment the last
        // answer is in, and its first byte or two would then be counted (under 1 %).
        bytes = sim.lineBytesReceived() + sim.lineBytesSent() - bytesBefore;
        done = oneTimeReadsDone(sim.requests(), window.receivedPackets() - receivedBefore, &answered);
    }
    const double seconds = wall.nsecsElapsed() / 1e9;
    if (!done) {
        std::fprintf(stderr, "the one-time reads did not finish\n");
        return 1;
    }
    // Wire time: the bytes and the detector's turnarounds. The detector also needs two quiet
    // character times to see a request end; that is its time, not the program's.
    const double wire = double(bytes) * characterSeconds + double(answered) * sim.turnaroundMs() / 1000.0;
    const double withDetector = wire + double(answered) * 2 * characterSeconds;
    std::printf("\"Прочитать конфигурацию\", %s\n", modeName(parseOnArrival));
    std::printf("  exchanges %zu, click to last one-time answer %.3f s\n", answered, seconds);
    std::printf("  wire time %.3f s, ratio %.3f; with the detector's end-of-request wait %.3f s, ratio %.3f\n",
                wire, seconds / wire, withDetector, seconds / withDetector);
    return 0;
}

}

int main(int argc, char* argv[])
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const QString shotDir = argc > 3 && std::strcmp(argv[2], "--shot") == 0 ? QString::fromLocal8Bit(argv[3]) : QString();
    const bool maximized = argc > 4 && std::strcmp(argv[4], "--maximized") == 0;
    QApplication application(argc, argv);
    initResources();
    int failed = 0;
    for (const bool parseOnArrival : { false, true }) {
        failed |= measureOneTimeRead(parseOnArrival);
        failed |= measureCycle(application, seconds, parseOnArrival, parseOnArrival ? shotDir : QString(), maximized);
    }
    return failed;
}
