#include "sim/eventlog.h"

#include "hart/encoding.h"
#include "sim/exchange.h"

#include <algorithm>

namespace Sim {

namespace {

enum Subcommand : std::uint8_t { Info = 0x00, CaptionAt = 0x01, Range = 0x02, RecordAt = 0x03, Erase = 0x80 };

// The erase request carries a fixed pattern so that a stray byte cannot wipe the log.
constexpr std::uint8_t erasePattern[5] = {0x80, 0xFF, 0x00, 0x55, 0xAA};

void putLe16(Exchange& ex, std::uint16_t v)
{
    std::uint8_t b[2];
    Hart::storeU16Le(b, v);
    ex.putBytes(b, 2);
}

void putLe32(Exchange& ex, std::uint32_t v)
{
    std::uint8_t b[4];
    Hart::storeU32Le(b, v);
    ex.putBytes(b, 4);
}

} // namespace

std::string toWindows1251(const std::string& utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = '?';
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            len = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6)
                 | (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
            len = 3;
        }
        i += len;
        if (cp < 0x80)
            out += char(cp);
        else if (cp >= 0x410 && cp <= 0x44F)
            out += char(0xC0 + (cp - 0x410));
        else if (cp == 0x401)
            out += char(0xA8);
        else if (cp == 0x451)
            out += char(0xB8);
        else if (cp == 0xB0 || cp == 0xAB || cp == 0xBB)
            out += char(cp); // degree sign and guillemets keep their Latin-1 places
        else if (cp == 0x2116)
            out += char(0xB9);
        else if (cp == 0x2013)
            out += char(0x96);
        else if (cp == 0x2014)
            out += char(0x97);
        else
            out += '?';
    }
    return out;
}

std::vector<Caption> EventLog::defaultCatalogue()
{
    // The templates exercise every kind of placeholder: formatted numbers, enumerations,
    // device time, strings, characters and the yes/no families.
    static const struct {
        std::uint32_t id;
        const char* text;
    } entries[] = {
        {1, "Включение питания"},
        {2, "Перезапуск, версия ПО #u.#2u"},
        {3, "Пожар: ИК #.1U, УФ #.1U"},
        {4, "Неисправность: #0`Норма`1`Обрыв цепи`2`Короткое замыкание``Перегрев`e"},
        {5, "Установлено время #d"},
        {6, "Напряжение питания #.2U В"},
        {7, "Температура #+.1I °C"},
        {8, "Подогрев оптики #o"},
        {9, "Блокировка #b, режим #A"},
        {10, "Пользователь #s"},
        {11, "Код ошибки #4X"},
        {12, "Калибровка оптики: #2`выполнена``не выполнена`e"},
        {13, "Счётчик срабатываний #l"},
        {14, "Реле #c: #a"},
        {15, "Интенсивность #f"},
    };
    std::vector<Caption> captions;
    for (const auto& e : entries)
        captions.push_back({e.id, toWindows1251(e.text)});
    return captions;
}

std::uint32_t EventLog::hashCaptions(const std::vector<Caption>& captions)
{
    std::uint32_t h = 2166136261u;
    auto mix = [&h](std::uint8_t b) { h = (h ^ b) * 16777619u; };
    for (const Caption& c : captions) {
        for (int shift = 0; shift < 32; shift += 8)
            mix(std::uint8_t(c.id >> shift));
        for (char ch : c.text)
            mix(std::uint8_t(ch));
        mix(0);
    }
    return h;
}

EventLog EventLog::withSampleRecords(std::uint32_t now, std::uint32_t count, std::uint32_t phase)
{
    EventLog log;
    log.captions = defaultCatalogue();
    log.captionSetId = hashCaptions(log.captions);
    std::uint32_t t = now > 4 * 86400u ? now - 4 * 86400u + phase * 600 : 0;
    for (std::uint32_t i = 0; i < count; ++i, t += 7000 + (i * 37) % 1500) {
        switch ((i + phase) % 8) {
        case 0: log.add(3, t, 1, {}); break;
        case 1: log.add(0, t, 2, {14, 3}); break;
        case 2: log.add(2, t, 3, {0x2C, 0x01, 0x7B, 0x00}); break;                 // 30.0, 12.3
        case 3: log.add(1, t, 4, {std::uint8_t(i % 4)}); break;
        case 4: log.add(0, t, 6, {0x6A, 0x09}); break;                             // 24.10 V
        case 5: log.add(0, t, 7, {0x9C, 0xFF}); break;                             // -10.0 °C
        case 6: {
            static const char name[] = "service engineer"; // 17 bytes with its zero: two positions
            log.add(3, t, 10, std::vector<std::uint8_t>(name, name + sizeof name));
            break;
        }
        default: log.add(1, t, 11, {0xFF, 0x00}); break;
        }
    }
    return log;
}

std::uint32_t EventLog::add(std::uint8_t type, std::uint32_t time, std::uint32_t event, std::vector<std::uint8_t> data,
                            std::uint8_t positions)
{
    if (data.size() > maxDataBytes)
        data.resize(maxDataBytes);
    if (positions == 0)
        positions = std::uint8_t(1 + data.size() / 16);
    if (positions > m_capacity)
        positions = std::uint8_t(m_capacity);
    while (!m_records.empty() && m_end + positions - m_first > m_capacity)
        dropOldest();
    if (m_records.empty())
        m_first = m_end;
    LogRecord record;
    record.index = m_end;
    record.positions = positions;
    record.type = type;
    record.time = time;
    record.event = event;
    record.data = std::move(data);
    m_records.push_back(std::move(record));
    m_end += positions;
    return m_records.back().index;
}

void EventLog::dropOldest()
{
    m_records.pop_front();
    m_first = m_records.empty() ? m_end : m_records.front().index;
}

void EventLog::erase()
{
    m_records.clear();
    m_first = m_end = 0;
}

void EventLog::setCapacity(std::uint32_t positions)
{
    m_capacity = std::max<std::uint32_t>(positions, 1);
    while (!m_records.empty() && m_end - m_first > m_capacity)
        dropOldest();
}

const LogRecord* EventLog::recordAt(std::uint32_t index) const
{
    auto it = std::lower_bound(m_records.begin(), m_records.end(), index,
                               [](const LogRecord& r, std::uint32_t i) { return r.index < i; });
    return it != m_records.end() && it->index == index ? &*it : nullptr;
}

void handleEventLog(Exchange& ex)
{
    EventLog& log = ex.state.eventLog;
    if (!ex.needs(1))
        return;
    const std::uint8_t sub = ex.data[0];
    switch (sub) {
    case Info:
        ex.put8(Info);
        putLe16(ex, std::uint16_t(std::min<std::size_t>(log.captions.size(), 0xFFFF)));
        putLe32(ex, log.catalogueId);
        putLe32(ex, log.captionSetId);
        return;
    case CaptionAt: {
        if (!ex.needs(3))
            return;
        const std::uint16_t index = Hart::loadU16Le(ex.data + 1);
        if (index >= log.captions.size())
            return ex.fail(Rc::InvalidSelection);
        const Caption& caption = log.captions[index];
        ex.put8(CaptionAt);
        putLe16(ex, index);
        putLe32(ex, caption.id);
        std::string text = caption.text.substr(0, caption.text.find('\0'));
        if (text.size() > EventLog::maxDataBytes)
            text.resize(EventLog::maxDataBytes);
        ex.putBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        ex.put8(0);
        return;
    }
    case Range:
        ex.put8(Range);
        putLe32(ex, log.first());
        putLe32(ex, log.end() - log.first());
        return;
    case RecordAt: {
        if (!ex.needs(5))
            return;
        const std::uint32_t index = Hart::loadU32Le(ex.data + 1);
        ex.put8(RecordAt);
        putLe32(ex, index);
        // Indices are running numbers: one below the first has been overwritten.
        const bool overwritten = std::int32_t(index - log.first()) < 0;
        const LogRecord* record = overwritten ? nullptr : log.recordAt(index);
        if (!record)
            return ex.put8(overwritten ? EventLog::overwritten : EventLog::noRecord);
        ex.put8(record->type);
        putLe32(ex, record->time);
        ex.put8(record->positions);
        putLe32(ex, record->event);
        ex.putBytes(record->data.data(), record->data.size());
        return;
    }
    case Erase:
        if (!ex.needs(sizeof erasePattern))
            return;
        if (!std::equal(erasePattern, erasePattern + sizeof erasePattern, ex.data))
            return ex.fail(Rc::InvalidSelection);
        log.erase();
        ex.put8(Erase);
        return;
    default:
        return ex.fail(Rc::InvalidSelection);
    }
}

} // namespace Sim
