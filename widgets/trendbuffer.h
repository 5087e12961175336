#pragma once
// The samples of one trend series in a ring of fixed capacity: once full, each new sample
// replaces the oldest, so a day of polling never grows the memory past the capacity.

#include <cstddef>
#include <cstdint>
#include <vector>

struct TrendSample {
    std::int64_t timeMs = 0; // milliseconds since the epoch
    float value = 0.0f;
    bool flagged = false; // doubtful or limited, drawn red as in the main window
    std::uint8_t unit = 0; // index into the owner's list of unit texts
};

class TrendBuffer {
public:
    explicit TrendBuffer(std::size_t capacity);

    // Times never run backwards in the buffer: an earlier time is taken as the last one.
    void append(std::int64_t timeMs, float value, bool flagged, std::uint8_t unit = 0);
    void clear();

    std::size_t size() const { return count; }
    std::size_t capacity() const { return limit; }
    // Bytes held for samples, never more than the capacity's worth.
    std::size_t storageBytes() const { return ring.capacity() * sizeof(TrendSample); }
    // 0 is the oldest sample; i must be below size().
    const TrendSample& at(std::size_t i) const { return ring[(head + i) % ring.size()]; }
    // The first sample at or after timeMs; size() when there is none.
    std::size_t firstAtOrAfter(std::int64_t timeMs) const;

private:
    std::vector<TrendSample> ring;
    std::size_t limit;
    std::size_t head = 0; // index of the oldest sample once the ring is full
    std::size_t count = 0;
};
