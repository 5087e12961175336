#pragma once
// The end of "Прочитать конфигурацию" as the link benchmarks time it: every one-time read
// answered by the device and parsed by the window.

#include "sim/simulator.h"

#include <QSet>

#include <cstdint>
#include <vector>

// answered gets the number of answered requests up to the last one-time read; parsed is the
// number of answers the window has taken since the click.
inline bool oneTimeReadsDone(const std::vector<Sim::ReceivedRequest>& log, std::uint32_t parsed, std::size_t* answered)
{
    static const QSet<std::uint16_t> oneTime { 7, 12, 13, 16, 20, 48, 76, 131, 133 };
    QSet<std::uint16_t> seen;
    std::size_t count = 0;
    for (const Sim::ReceivedRequest& request : log) {
        if (!request.answered)
            continue;
        ++count;
        if (oneTime.contains(request.command)) {
            seen.insert(request.command);
            *answered = count;
        }
    }
    return seen.size() == oneTime.size() && parsed >= *answered;
}
