// How close a firmware update comes to what a 1200-baud line allows: an image goes through the
// main window's firmware window, the real terminal and engine, into the simulated detector
// running paced at the wire rate. Prints the image rate against the wire limit of its frames,
// and the whole update's time against the time its bytes need on the line. The update runs
// twice: with each answer parsed on arrival (the program as shipped) and, for comparison, at the
// next parse tick only.
//
//   build/bench/firmware/bench_firmware [bytes] [--shot DIR]   (8192 bytes by default)
//
// With --shot the firmware window is shown and saved as DIR/firmware-update.png a third of the
// way into the update, which then stops (run it under xvfb-run for a real X server).

#include "dialogfirmwareupdate.h"
#include "modalanswerer.h"
#include "resources.h"
#include "simulatedwindow.h"

#include "hart/encoding.h"
#include "hart/parsermasterfirmwareupdate.h"
#include "sim/simulator.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

constexpr double characterSeconds = 11.0 / 1200.0; // 8 data bits, parity, start and stop
// The master sends as many preambles as the detector's answer to command 0 asks for; 20 is the
// most a detector may ask, and what the master uses before it knows.
constexpr unsigned mostPreambles = 20;
// Delimiter, five address bytes, command, byte count, check byte.
constexpr unsigned longFrameOverhead = 9;

// Seconds of one command-253 exchange carrying `chunk` image bytes: the request, the detector's
// wait for the end of it (two character times), its turnaround, and the four-byte answer after
// its two status bytes.
double exchangeSeconds(unsigned chunk, unsigned requestPreambles, unsigned answerPreambles, unsigned turnaroundMs)
{
    const unsigned request = requestPreambles + longFrameOverhead + 4 + chunk;
    const unsigned answer = answerPreambles + longFrameOverhead + 2 + 4;
    return (request + answer + 2) * characterSeconds + turnaroundMs / 1000.0;
}

int measure(int bytes, const QString& image, const QString& shotDir, bool parseOnArrival)
{
    Sim::Options options;
    options.paced = true;
    ModalAnswerer answerer;
    answerer.setPollIntervalMs(50);
    SimulatedWindow rig(answerer, options);
    if (!rig.isConnected()) {
        std::fprintf(stderr, "cannot connect to the simulator\n");
        return 1;
    }
    MainWindow& window = rig.window();
    Sim::Simulator& sim = rig.simulator();
    if (!parseOnArrival) {
        // The choice holds only while disconnected: connect again through the port dialog.
        window.findChild<QAction*>(QStringLiteral("connectButton"))->trigger();
        window.setParseOnArrival(false);
        answerer.choosePort(QString::fromStdString(sim.portPath()));
        window.findChild<QAction*>(QStringLiteral("connectButton"))->trigger();
        if (!window.isPortOpen())
            return 1;
    }
    rig.startTimers();
    if (!shotDir.isEmpty())
        window.show();

    QElapsedTimer clock;
    double transferSeconds = 0;
    uint64_t lineBefore = 0;
    runFirmwareUpdate(
        answerer, window, image,
        [&](DialogFirmwareUpdate* dialog) {
            clock.start();
            lineBefore = sim.lineBytesReceived() + sim.lineBytesSent();
            if (shotDir.isEmpty())
                return;
            auto* bar = dialog->findChild<QProgressBar*>(QStringLiteral("progressBar"));
            auto* poll = new QTimer(dialog);
            QObject::connect(poll, &QTimer::timeout, dialog, [=] {
                if (bar->isHidden() || bar->value() < bar->maximum() / 3)
                    return;
                poll->stop();
                dialog->grab().save(shotDir + QStringLiteral("/firmware-update.png"));
                dialog->close();
            });
            poll->start(100);
        },
        3600 * 1000);
    transferSeconds = clock.elapsed() / 1000.0;

    if (!shotDir.isEmpty()) {
        std::printf("firmware window saved a third into an update of %d bytes\n", bytes);
        return 0;
    }
    const auto requests = sim.requests();
    unsigned chunks = 0;
    unsigned announcements = 0;
    unsigned exchanges = 0;
    unsigned repeated = 0;
    std::set<uint32_t> offsets;
    unsigned requestPreambles = mostPreambles;
    QStringList repeats; // offset and the time since the request before, of each repeated chunk
    const Sim::ReceivedRequest* previous = nullptr;
    for (const auto& r : requests) {
        if (r.command != 253 || !r.answered)
            continue;
        requestPreambles = r.preambles;
        ++exchanges;
        (r.data.size() == 4 ? announcements : chunks) += 1;
        if (r.data.size() > 4 && !offsets.insert(Hart::loadU32(r.data.data())).second) {
            ++repeated;
            const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(r.time - previous->time);
            repeats << QStringLiteral("%1 after %2 ms").arg(Hart::loadU32(r.data.data())).arg(gap.count());
        }
        previous = &r;
    }
    const std::vector<uint8_t> got = sim.firmwareImage();
    QFile file(image);
    file.open(QIODevice::ReadOnly);
    const QByteArray sent = file.readAll();
    const bool exact = got.size() == size_t(sent.size()) && std::memcmp(got.data(), sent.constData(), got.size()) == 0;

    const unsigned answerPreambles = 5; // the simulator's default
    const double fullChunk
        = exchangeSeconds(Hart::firmwareChunkSize, requestPreambles, answerPreambles, sim.turnaroundMs());
    const double limit = Hart::firmwareChunkSize / fullChunk;
    const double limitMostPreambles
        = Hart::firmwareChunkSize
        / exchangeSeconds(Hart::firmwareChunkSize, mostPreambles, answerPreambles, sim.turnaroundMs());
    // The whole update on the wire: the announcement, every chunk as it was, at the line rate.
    const uint64_t lineBytes = sim.lineBytesReceived() + sim.lineBytesSent() - lineBefore;
    const double wireSeconds
        = double(lineBytes) * characterSeconds + exchanges * (2 * characterSeconds + sim.turnaroundMs() / 1000.0);
    const double rate = bytes / transferSeconds;

    std::printf("firmware update of %d bytes against the paced detector (turnaround %u ms), %s\n", bytes,
                sim.turnaroundMs(), parseOnArrival ? "parsed on arrival" : "parsed at the next tick");
    std::printf("  exchanges             %u (%u announcements, %u chunks, %u of them repeated), image %s, "
                "box: %s\n",
                exchanges, announcements, chunks, repeated, exact ? "exact" : "NOT exact",
                qPrintable(answerer.boxes().isEmpty() ? QStringLiteral("none") : answerer.boxes().last().text));
    if (!repeats.isEmpty())
        std::printf("  repeated chunks       %s; frames the detector discarded %zu\n", qPrintable(repeats.join(", ")),
                    sim.discardedFrames());
    std::printf("  wire limit            %.1f B/s (64-byte chunk with %u preambles: %u + %u bytes on the line "
                "and the turnaround, %.3f s); with %u preambles %.1f B/s\n",
                limit, requestPreambles, requestPreambles + longFrameOverhead + 4 + Hart::firmwareChunkSize,
                answerPreambles + longFrameOverhead + 6, fullChunk, mostPreambles, limitMostPreambles);
    std::printf("  image rate            %.1f B/s = %.3f of the wire limit, %.3f of 63.4 B/s\n", rate,
                rate / limit, rate / 63.4);
    std::printf("  whole update          %.1f s, wire time %.1f s (%llu line bytes) = %.3f\n", transferSeconds,
                wireSeconds, (unsigned long long)lineBytes, wireSeconds / transferSeconds);
    return exact ? 0 : 1;
}

}

int main(int argc, char* argv[])
{
    const int bytes = argc > 1 && argv[1][0] != '-' ? std::max(1, std::atoi(argv[1])) : 8192;
    QString shotDir;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--shot") == 0)
            shotDir = QString::fromLocal8Bit(argv[i + 1]);

    QApplication application(argc, argv);
    initResources();
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("image.fwb"));
    {
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray data(bytes, '\0');
        for (int i = 0; i < bytes; ++i)
            data[i] = char((i * 131 + 7) & 0xFF);
        file.write(data);
    }
    int failed = 0;
    for (const bool parseOnArrival : { false, true }) {
        if (!shotDir.isEmpty() && !parseOnArrival)
            continue;
        failed |= measure(bytes, image, shotDir, parseOnArrival);
    }
    return failed;
}
