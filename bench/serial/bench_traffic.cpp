// Prints what the traffic monitor costs: renderFrame per frame for a typical request and response,
// and, with the monitor shown, the time per appended line and the resident memory as lines pile up.
// Figures only; nothing passes or fails. With "--grab FILE.png" it instead saves a picture of the
// monitor holding a mix of lines, to check colours and legibility by eye.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <QApplication>
#include <QFile>
#include <QTextEdit>

#include "dialogtraffic.h"
#include "framerenderer.h"
#include "resources.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> framed(std::size_t preambles, std::vector<std::uint8_t> frame)
{
    std::uint8_t check = 0;
    for (std::uint8_t b : frame)
        check ^= b;
    frame.push_back(check);
    frame.insert(frame.begin(), preambles, 0xFF);
    return frame;
}

// Command 3 to a long address, as the program sends it.
const std::vector<std::uint8_t> request = framed(20, {0x82, 0x3F, 0x04, 0x0A, 0x0B, 0x0C, 0x03, 0x00});

// Its answer: status, loop current and four variables with their units.
const std::vector<std::uint8_t> response =
    framed(5, {0x86, 0x3F, 0x04, 0x0A, 0x0B, 0x0C, 0x03, 0x1A, 0x00, 0x00, 0x41, 0x80, 0x00, 0x00, 0x39, 0x42, 0x48,
               0x00, 0x00, 0x39, 0x41, 0x20, 0x00, 0x00, 0x39, 0x40, 0xA0, 0x00, 0x00, 0x39, 0x3F, 0x80, 0x00, 0x00});

double nsPerRender(const std::vector<std::uint8_t>& frame, std::uint32_t result, bool outgoing, int rounds)
{
    std::size_t sink = 0;
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i)
        sink += renderFrame(frame.data(), std::uint32_t(frame.size()), result, outgoing).size();
    const auto ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    if (sink == 0)
        std::puts("nothing rendered");
    return ns / rounds;
}

long residentKb()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// A session as the line brings it: identity, cyclic reads, a device error, a damaged answer,
// an answer to somebody else, noise, a cut-off frame and a device-specific command via 31.
void fillWithSession(DialogTraffic& dialog)
{
    struct Line {
        std::vector<std::uint8_t> bytes;
        std::uint32_t result;
        bool outgoing;
    };
    std::vector<std::uint8_t> damaged = response;
    damaged[20] ^= 0x40;
    std::vector<std::uint8_t> cut(response.begin(), response.begin() + 17);
    const Line session[] = {
        {framed(20, {0x02, 0x00, 0x00, 0x00}), 0, true},
        {framed(5, {0x06, 0x00, 0x00, 0x0E, 0x00, 0x50, 0xFE, 0xFF, 0x04, 0x05, 0x07, 0x05, 0x01, 0x01, 0x08, 0x00,
                    0x0A, 0x0B, 0x0C}),
         0, false},
        {request, 0, true},
        {response, 0, false},
        {framed(20, {0x82, 0x3F, 0x04, 0x0A, 0x0B, 0x0C, 0x11, 0x18, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
                     0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58}),
         0, true},
        {framed(5, {0x86, 0x3F, 0x04, 0x0A, 0x0B, 0x0C, 0x11, 0x02, 0x05, 0x50}), 18, false},
        {request, 0, true},
        {damaged, 55, false},
        {request, 0, true},
        {framed(5, {0x86, 0x3F, 0x04, 0x0A, 0x0B, 0x0D, 0x03, 0x02, 0x00, 0x00}), 55, false},
        {{0x12, 0x00, 0x8C, 0x3E}, 55, false},
        {request, 0, true},
        {cut, 55, false},
        {framed(20, {0x82, 0x3F, 0x04, 0x0A, 0x0B, 0x0C, 0x1F, 0x02, 0x01, 0x04}), 0, true},
        {framed(5, {0x86, 0x3F, 0x04, 0x0A, 0x0B, 0x0C, 0x1F, 0x06, 0x00, 0x00, 0x01, 0x04, 0x12, 0x34}), 0, false},
        {framed(20, {0x82, 0x3F, 0x04, 0x0A, 0x0B, 0x0C, 0x30, 0x00}), 0, true},
        {framed(5, {0x86, 0x3F, 0x04, 0x0A, 0x0B, 0x0C, 0x30, 0x05, 0x08, 0x10, 0x00, 0x00, 0x20}), 0, false},
        {framed(20, {0x82, 0x3F, 0x04, 0x0A, 0x0B, 0x0C, 0x26, 0x00}), 0, true},
        {framed(5, {0x86, 0x3F, 0x04, 0x0A, 0x0B, 0x0C, 0x26, 0x02, 0x82, 0x00}), 47, false},
    };
    for (const Line& line : session)
        dialog.appendHtml(renderFrame(line.bytes.data(), std::uint32_t(line.bytes.size()), line.result, line.outgoing));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    initResources();

    if (argc == 3 && std::strcmp(argv[1], "--grab") == 0) {
        DialogTraffic dialog;
        dialog.show();
        app.processEvents();
        fillWithSession(dialog);
        app.processEvents();
        return dialog.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }

    constexpr int renderRounds = 200000;
    std::printf("renderFrame, request (command 3, 20 preambles, %zu bytes): %.0f ns\n", request.size(),
                nsPerRender(request, 0, true, renderRounds));
    std::printf("renderFrame, response (command 3, 26 data bytes, %zu bytes): %.0f ns\n", response.size(),
                nsPerRender(response, 0, false, renderRounds));

    // The parse timer hands over a request and its answer in turn.
    const QString lines[2] = {
        renderFrame(request.data(), std::uint32_t(request.size()), 0, true),
        renderFrame(response.data(), std::uint32_t(response.size()), 0, false),
    };
    DialogTraffic dialog;
    dialog.show();
    app.processEvents();
    auto* text = dialog.findChild<QTextEdit*>("textEdit");

    constexpr int totalLines = 20000;
    constexpr int block = 1000;
    double worstUs = 0;
    double blockUs = 0;
    std::printf("\nmonitor shown, %d lines appended (per block of %d: mean and worst append, HTML size, VmRSS)\n",
                totalLines, block);
    for (int i = 1; i <= totalLines; ++i) {
        const auto start = Clock::now();
        dialog.appendHtml(lines[i % 2]);
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        blockUs += us;
        if (us > worstUs)
            worstUs = us;
        if (i % 100 == 0)
            app.processEvents();
        if (i % block == 0) {
            std::printf("  %5d lines: %7.1f us mean, %7.1f us worst, html %6d chars, VmRSS %ld kB\n", i,
                        blockUs / block, worstUs, text->toHtml().size(), residentKb());
            blockUs = 0;
            worstUs = 0;
        }
    }
    const auto start = Clock::now();
    std::size_t sink = 0;
    for (int i = 0; i < 200; ++i)
        sink += text->toHtml().size();
    std::printf("of which toHtml() at %d chars of HTML: %.1f us\n", text->toHtml().size(),
                std::chrono::duration<double, std::micro>(Clock::now() - start).count() / 200 + 0 * double(sink));
    return 0;
}
