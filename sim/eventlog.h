#pragma once
// The detector's event log: a catalogue of caption templates and a circular store of records,
// read and erased through command 252.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace Sim {

struct Caption {
    std::uint32_t id = 0;
    std::string text; // Windows-1251, with placeholders
};

struct LogRecord {
    std::uint32_t index = 0;   // first position the record occupies
    std::uint8_t positions = 1;
    std::uint8_t type = 0;     // 0 info, 1 warning, 2 error, 3 service
    std::uint32_t time = 0;    // device seconds since 2000
    std::uint32_t event = 0;   // caption id
    std::vector<std::uint8_t> data;
};

class EventLog {
public:
    // Largest argument block a record may carry: the answer must fit the master's 256-byte frame.
    static constexpr std::size_t maxDataBytes = 200;
    static constexpr std::uint8_t overwritten = 0x84; // short answer: the record is gone
    static constexpr std::uint8_t noRecord = 0x85;    // short answer: no record starts here

    std::vector<Caption> captions;
    std::uint32_t catalogueId = 0x49505039;
    std::uint32_t captionSetId = 0;

    // The default catalogue with count records spread over the last days; another phase starts
    // the pattern of record kinds and the times elsewhere, so that detectors on a loop differ.
    static EventLog withSampleRecords(std::uint32_t now, std::uint32_t count = 40, std::uint32_t phase = 0);
    static std::vector<Caption> defaultCatalogue();
    // FNV-1a over the captions, the identifier a device derives from its caption set.
    static std::uint32_t hashCaptions(const std::vector<Caption>& captions);

    // Appends a record; positions 0 takes one position per started 16 argument bytes.
    // Old records are dropped to make room, moving the first index on.
    std::uint32_t add(std::uint8_t type, std::uint32_t time, std::uint32_t event, std::vector<std::uint8_t> data,
                      std::uint8_t positions = 0);
    void erase();
    void setCapacity(std::uint32_t positions);

    std::uint32_t capacity() const { return m_capacity; }
    std::uint32_t first() const { return m_first; }
    std::uint32_t end() const { return m_end; }
    const std::deque<LogRecord>& records() const { return m_records; }
    const LogRecord* recordAt(std::uint32_t index) const;

private:
    void dropOldest();

    std::deque<LogRecord> m_records;
    std::uint32_t m_capacity = 128;
    std::uint32_t m_first = 0;
    std::uint32_t m_end = 0;
};

// Converts UTF-8 to Windows-1251 (Cyrillic, the common punctuation; anything else becomes '?').
std::string toWindows1251(const std::string& utf8);

} // namespace Sim
