// Prints what a day of polling costs the two recorders that never forget until asked to: the
// traffic capture (four frames a second, a day) and the trend buffers (one value a second per
// series, a day). Memory held, time to record, time and size of the files written from them.
// Figures only; nothing passes or fails.

#include "trafficcapture.h"
#include "trendbuffer.h"
#include "trendcsv.h"
#include "trendwindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
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

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    constexpr int day = 24 * 3600;

    // A command-3 request with 5 preambles and its 31-byte answer, in turn.
    const std::vector<std::uint8_t> request { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x82, 0xBF, 0x04, 0x01, 0xE2, 0x40, 0x03, 0x00, 0x7B };
    std::vector<std::uint8_t> answer(5 + 8 + 26 + 1, 0);
    std::fill(answer.begin(), answer.begin() + 5, 0xFF);
    answer[5] = 0x86;
    answer[11] = 0x03;
    answer[12] = 26;

    long before = residentKiB();
    TrafficCapture capture;
    auto start = Clock::now();
    for (int i = 0; i < 4 * day; ++i) {
        const auto& frame = i % 2 == 0 ? request : answer;
        capture.record(frame.data(), std::uint32_t(frame.size()), i % 2 == 0, qint64(i) * 250000);
    }
    std::printf("capture, a day at four frames a second: %zu frames kept, %zu dropped, %.2f s to record\n",
                capture.frames().size(), capture.droppedFrames(), secondsSince(start));
    std::printf("  resident memory grew by %ld KiB (%zu line bytes)\n", residentKiB() - before, capture.storedBytes());
    const QString pcap = dir.filePath("day.pcap");
    start = Clock::now();
    QString error;
    const bool written = capture.writePcap(pcap, &error);
    std::printf("  pcap written: %s in %.2f s, %lld bytes\n", written ? "yes" : qPrintable(error), secondsSince(start),
                QFileInfo(pcap).size());

    before = residentKiB();
    std::vector<TrendBuffer> buffers(Trend::seriesCount, TrendBuffer(Trend::samplesPerSeries));
    start = Clock::now();
    // Two days, so each ring has wrapped.
    for (int t = 0; t < 2 * day; ++t)
        for (TrendBuffer& b : buffers)
            b.append(std::int64_t(t) * 1000, float(t % 100) / 7.0f, t % 50 == 0);
    std::size_t held = 0;
    for (const TrendBuffer& b : buffers)
        held += b.storageBytes();
    std::printf("trends, two days at one value a second per series: %zu samples a series kept, %.3f s to record\n",
                buffers[0].size(), secondsSince(start));
    std::printf("  sample storage %zu KiB in all; resident memory grew by %ld KiB\n", held / 1024,
                residentKiB() - before);
    QFile csv(dir.filePath("trends.csv"));
    if (!csv.open(QIODevice::WriteOnly))
        return 1;
    start = Clock::now();
    const bool csvWritten = writeTrendCsv(&csv, { { "Ток петли", &buffers[0] }, { "ИК канал", &buffers[1] },
                                                  { "УФ канал", &buffers[2] } },
                                          { "мА" });
    csv.close();
    std::printf("  CSV written: %s in %.2f s, %lld bytes\n", csvWritten ? "yes" : "no", secondsSince(start),
                QFileInfo(csv.fileName()).size());
    return 0;
}
