// The program over HART-IP against the simulated detector's server on the loopback, unpaced, so
// that the figures are the program's and the link's own: exchanges per second and records per
// second of an event-log download, "Прочитать конфигурацию" from the click to the last
// one-time answer, firmware bytes per second, and CPU per exchange, with the same download over
// the serial link (the pseudo-terminal, unpaced) for comparison.
//
//   build/bench/app/bench_hartip [records] [firmware KiB] [--port N]
//
// --port N serves HART-IP on 127.0.0.1:N instead of a free port (5094 for a live capture with
// tshark -i lo -f "port 5094").

#include "mainwindow.h"
#include "onetimereads.h"
#include "resources.h"
#include "simulatedwindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

const char* linkName(SimulatedLink link)
{
    switch (link) {
    case SimulatedLink::HartIpUdp: return "HART-IP/UDP";
    case SimulatedLink::HartIpTcp: return "HART-IP/TCP";
    default: return "serial (pty, unpaced)";
    }
}

Sim::Options unpaced()
{
    Sim::Options options;
    options.paced = false;
    options.turnaroundMs = 0;
    return options;
}

void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// "Прочитать конфигурацию": click to the answer of the last one-time read.
bool configurationRead(SimulatedLink link)
{
    ModalAnswerer answerer;
    SimulatedWindow rig(answerer, unpaced(), link);
    if (!rig.isConnected())
        return false;
    rig.startTimers();
    spin(200);
    Sim::Simulator& sim = rig.simulator();
    MainWindow& window = rig.window();
    sim.clearRequests();
    const uint32_t receivedBefore = window.receivedPackets();
    QElapsedTimer wall;
    wall.start();
    window.findChild<QAction*>(QStringLiteral("connectRead"))->trigger();
    bool done = false;
    size_t answered = 0;
    while (!done && wall.elapsed() < 30000) {
        QApplication::processEvents(QEventLoop::AllEvents, 1);
        done = oneTimeReadsDone(sim.requests(), window.receivedPackets() - receivedBefore, &answered);
    }
    const double seconds = wall.nsecsElapsed() / 1e9;
    std::printf("  \"Прочитать конфигурацию\": %zu exchanges, click to last one-time answer %.3f s (%.0f exchanges/s)\n",
                answered, seconds, answered / seconds);
    return done;
}

bool logDownload(SimulatedLink link, int records, double* cpuPerExchange)
{
    ModalAnswerer answerer;
    answerer.answerBoxesWith(QMessageBox::Yes);
    SimulatedWindow rig(answerer, unpaced(), link);
    if (!rig.isConnected())
        return false;
    Sim::Simulator& sim = rig.simulator();
    sim.modify([records](Sim::DeviceState& s) {
        s.eventLog.setCapacity(std::uint32_t(records) + 16);
        for (int i = 0; i < records; ++i)
            s.eventLog.add(std::uint8_t(i % 3), 1000u + std::uint32_t(i), 3, { std::uint8_t(i), 0, 0, 0 });
    });
    // Every record is committed on its own, so on a disk the download runs at the disk's sync
    // rate whatever the link; in memory (tmpfs) it shows the program and the link.
    const bool inMemory = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
    QTemporaryDir dir(inMemory ? QStringLiteral("/dev/shm/bench_hartip-XXXXXX") : QString());
    MainWindow& window = rig.window();
    window.eventLog().createLog(dir.filePath(QStringLiteral("bench.db")));
    rig.startTimers();
    spin(200);
    sim.clearRequests();
    QAction* read = window.eventLog().findChild<QAction*>(QStringLiteral("actionRead"));
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    read->trigger();
    while (read->isChecked() && wall.elapsed() < 600000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    const double seconds = wall.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const size_t exchanges = sim.requests().size();
    *cpuPerExchange = cpu / double(exchanges);
    std::printf("  event-log download (file %s): %d records, %zu exchanges in %.2f s: %.0f exchanges/s, %.0f records/s\n",
                inMemory ? "in memory" : "on disk", records, exchanges, seconds, exchanges / seconds, records / seconds);
    std::printf("    CPU (program and simulator) %.2f s, %.0f us per exchange; boxes %d\n", cpu,
                1e6 * *cpuPerExchange, answerer.boxes().size());
    return !read->isChecked() && answerer.boxes().isEmpty();
}

bool firmware(SimulatedLink link, int kib)
{
    ModalAnswerer answerer;
    SimulatedWindow rig(answerer, unpaced(), link);
    if (!rig.isConnected())
        return false;
    rig.startTimers();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.fwb"));
    QByteArray image(kib * 1024, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 31 + 7);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return false;
    file.close();
    QElapsedTimer wall;
    wall.start();
    runFirmwareUpdate(answerer, rig.window(), path, nullptr, 600000);
    const double seconds = wall.nsecsElapsed() / 1e9;
    const std::vector<uint8_t> got = rig.simulator().firmwareImage();
    const size_t exchanges = rig.simulator().requests().size();
    const bool whole = got.size() == size_t(image.size()) && std::memcmp(got.data(), image.constData(), got.size()) == 0;
    std::printf("  firmware update: %d KiB in %.2f s, %.0f bytes/s, %zu exchanges (%.0f/s), image %s\n", kib, seconds,
                image.size() / seconds, exchanges, exchanges / seconds, whole ? "whole" : "NOT whole");
    return whole;
}

} // namespace

int main(int argc, char* argv[])
{
    int records = 2000;
    int kib = 64;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc)
            SimulatedWindow::hartIpPort = uint16_t(std::atoi(argv[++i]));
        else if (positional++ == 0)
            records = std::max(1, std::atoi(argv[i]));
        else
            kib = std::max(1, std::atoi(argv[i]));
    }
    QApplication application(argc, argv);
    initResources();
    bool ok = true;
    double serialCpu = 0;
    for (SimulatedLink link : { SimulatedLink::HartIpUdp, SimulatedLink::HartIpTcp, SimulatedLink::Serial }) {
        std::printf("%s\n", linkName(link));
        double cpu = 0;
        ok &= configurationRead(link);
        ok &= logDownload(link, records, &cpu);
        if (link == SimulatedLink::Serial)
            serialCpu = cpu;
        else
            ok &= firmware(link, kib);
        std::fflush(stdout);
    }
    std::printf("serial CPU per exchange %.0f us (its exchanges are paced by the line's silence detection)\n",
                1e6 * serialCpu);
    return ok ? 0 : 1;
}
