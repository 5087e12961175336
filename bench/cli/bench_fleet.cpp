// What a fleet pass costs at the wire rate: eight detectors on four links (two serial lines and
// two HART-IP gateways, two detectors on each, every loop at 1200 baud), read by one pass of
// ipp93kt with the links in parallel, against the same four links passed one at a time. Each
// detector's own time (its identity, settings and whole event log) is printed too, for
// working out what a plant of many gateways costs.
//
//   build/bench/cli/bench_fleet

#include "sim/simulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int linkCount = 4;
constexpr unsigned detectorsPerLink = 2;

struct Link {
    std::unique_ptr<Sim::Simulator> sim;
    bool hartIp = false;
    QStringList arguments() const
    {
        return hartIp ? QStringList{ "--hartip", QStringLiteral("127.0.0.1:%1").arg(sim->hartIpPort()) }
                      : QStringList{ "--port", QString::fromStdString(sim->portPath()) };
    }
    QString name() const { return hartIp ? QStringLiteral("HART-IP") : QStringLiteral("serial"); }
};

struct Pass {
    double seconds = 0;
    int status = -1;
    QString summary;           // the pass's last line
    std::vector<double> lines; // when each detector's line came, seconds from the start
};

// Runs one fleet pass into a new file and times each detector's line as it comes.
Pass runPass(const QString& plant, const QStringList& links)
{
    Pass pass;
    QProcess program;
    QElapsedTimer clock;
    QEventLoop loop;
    QObject::connect(&program, &QProcess::readyReadStandardOutput, [&] {
        while (program.canReadLine()) {
            const QString line = QString::fromUtf8(program.readLine()).trimmed();
            if (line.contains(QStringLiteral("записей журнала:")))
                pass.lines.push_back(double(clock.nsecsElapsed()) / 1e9);
            else if (!line.isEmpty())
                pass.summary = line;
        }
    });
    QObject::connect(&program, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    clock.start();
    program.start(QStringLiteral(IPP93KT_PATH),
                  QStringList{ "fleet", "--out", plant, "--addresses", QStringLiteral("1-%1").arg(detectorsPerLink) } + links);
    if (!program.waitForStarted())
        return pass;
    loop.exec();
    pass.seconds = double(clock.nsecsElapsed()) / 1e9;
    pass.status = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    const QByteArray errors = program.readAllStandardError();
    if (!errors.isEmpty())
        std::fprintf(stderr, "%s", errors.constData());
    return pass;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as it is measured
    QTemporaryDir dir;
    std::vector<Link> links(linkCount);
    for (int i = 0; i < linkCount; ++i) {
        Sim::Options options;
        options.paced = true;
        options.devices = detectorsPerLink;
        options.deviceId = 100000u + 100u * unsigned(i);
        links[size_t(i)].sim = std::make_unique<Sim::Simulator>(options);
        links[size_t(i)].hartIp = i % 2 == 1;
        if (!links[size_t(i)].sim->start() || (links[size_t(i)].hartIp && !links[size_t(i)].sim->startHartIp())) {
            std::fprintf(stderr, "the simulator did not start\n");
            return 1;
        }
    }
    unsigned records = 0;
    for (const Link& link : links)
        for (size_t d = 0; d < link.sim->deviceCount(); ++d)
            records += unsigned(link.sim->state(d).eventLog.records().size());
    std::printf("%d links (serial and HART-IP alternating), %u detectors each, 1200 baud, %u log records in all\n\n",
                linkCount, detectorsPerLink, records);

    std::printf("one link at a time:\n");
    double sum = 0;
    std::vector<double> perDetector;
    for (int i = 0; i < linkCount; ++i) {
        const Link& link = links[size_t(i)];
        const Pass pass = runPass(dir.filePath(QStringLiteral("link%1.db").arg(i)), link.arguments());
        if (pass.status != 0 || pass.lines.size() != detectorsPerLink) {
            std::fprintf(stderr, "link %d: the pass ended with status %d after %zu detectors\n", i, pass.status, pass.lines.size());
            return 1;
        }
        sum += pass.seconds;
        std::printf("  link %d %-10s %6.1f s  [", i, qPrintable(QStringLiteral("(%1):").arg(link.name())), pass.seconds);
        for (size_t d = 0; d < pass.lines.size(); ++d) {
            perDetector.push_back(pass.lines[d] - (d ? pass.lines[d - 1] : 0.0));
            std::printf("%sdetector %zu %.1f s", d ? ", " : "", d + 1, perDetector.back());
        }
        std::printf("]\n");
    }
    QStringList all;
    for (const Link& link : links)
        all += link.arguments();
    const Pass fleet = runPass(dir.filePath(QStringLiteral("fleet.db")), all);
    if (fleet.status != 0 || fleet.lines.size() != size_t(linkCount) * detectorsPerLink) {
        std::fprintf(stderr, "the fleet pass ended with status %d after %zu detectors\n", fleet.status, fleet.lines.size());
        return 1;
    }
    double mean = 0, longest = 0;
    for (double t : perDetector) {
        mean += t / double(perDetector.size());
        longest = std::max(longest, t);
    }
    std::printf("  sum of the single-link passes: %.1f s\n\n", sum);
    std::printf("one fleet pass over all %d links: %.1f s (%.2f of the sum; %s)\n", linkCount, fleet.seconds,
                fleet.seconds / sum, qPrintable(fleet.summary));
    std::printf("per detector (identity, status, settings and its whole log of %.0f records on average): mean %.1f s, "
                "longest %.1f s\n", double(records) / double(perDetector.size()), mean, longest);
    // Links run in parallel, the detectors of one link one after another; an address without a
    // detector costs one unanswered command 0 (2 s).
    std::printf("500 detectors behind 50 gateways, 10 on each, links in parallel: about %.1f min with --addresses 1-10 "
                "(10 x the mean per detector), %.1f min over the default 0-15\n",
                10.0 * mean / 60.0, (10.0 * mean + 6 * 2.0) / 60.0);
    return 0;
}
