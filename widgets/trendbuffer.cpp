#include "trendbuffer.h"

#include <algorithm>

TrendBuffer::TrendBuffer(std::size_t capacity)
    : limit(std::max<std::size_t>(1, capacity))
{
}

void TrendBuffer::append(std::int64_t timeMs, float value, bool flagged, std::uint8_t unit)
{
    if (count > 0)
        timeMs = std::max(timeMs, at(count - 1).timeMs);
    const TrendSample sample { timeMs, value, flagged, unit };
    if (ring.size() < limit) {
        // Grown by hand so that the vector's own doubling never reserves past the limit.
        if (ring.size() == ring.capacity())
            ring.reserve(std::min(limit, std::max<std::size_t>(64, ring.size() * 2)));
        ring.push_back(sample);
        ++count;
        return;
    }
    ring[head] = sample;
    head = (head + 1) % ring.size();
}

void TrendBuffer::clear()
{
    ring.clear();
    ring.shrink_to_fit();
    head = 0;
    count = 0;
}

std::size_t TrendBuffer::firstAtOrAfter(std::int64_t timeMs) const
{
    std::size_t low = 0;
    std::size_t high = count;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (at(middle).timeMs < timeMs)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}
