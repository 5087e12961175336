#include "configreader.h"

#include <charconv>
#include <cstdint>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// One optional sign, then the rest must parse to the end; decimal digits only, so neither "inf"
// nor hexadecimal counts as a number. Independent of the locale.
const char* afterSign(const std::string& text)
{
    const char* p = text.data();
    if (*p == '+' || *p == '-')
        ++p;
    return p;
}

bool readsAsInteger(const std::string& text)
{
    const char* p = afterSign(text);
    const char* end = text.data() + text.size();
    if (p == end || *p < '0' || *p > '9')
        return false;
    std::int64_t number = 0;
    // from_chars takes the minus sign itself, so it reads from the start in that case.
    const char* from = text[0] == '-' ? text.data() : p;
    const auto result = std::from_chars(from, end, number);
    return result.ec == std::errc() && result.ptr == end;
}

bool readsAsReal(const std::string& text)
{
    const char* p = afterSign(text);
    const char* end = text.data() + text.size();
    if (p == end || !((*p >= '0' && *p <= '9') || *p == '.'))
        return false;
    double number = 0;
    const auto result = std::from_chars(p, end, number);
    // Out of range is still a number written in decimal.
    return (result.ec == std::errc() || result.ec == std::errc::result_out_of_range) && result.ptr == end;
}

ConfigValueType typeOf(const std::string& value, bool mayBeNumber)
{
    if (!mayBeNumber || value.empty())
        return ConfigValueType::String;
    if (readsAsInteger(value))
        return ConfigValueType::Integer;
    if (readsAsReal(value))
        return ConfigValueType::Real;
    return ConfigValueType::String;
}

}

ConfigReader::ConfigReader(ConfigNode& root)
{
    levels.push_back(&root);
}

void ConfigReader::parse(ConfigNode& root, const char* data, std::size_t size)
{
    ConfigReader reader(root);
    reader.feed(data, size);
    reader.finish();
}

bool ConfigReader::feed(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size && !ended; ++i)
        take(data[i]);
    return !ended;
}

void ConfigReader::finish()
{
    if (ended)
        return;
    // The file ends inside an entry (a backslash at the end included): the entry is kept.
    if (phase != Phase::Start)
        finishEntry();
    ended = true;
}

void ConfigReader::reset()
{
    phase = Phase::Start;
    inQuotes = false;
    group = false;
    mayBeNumber = true;
    escaped = false;
    token.clear();
    key.clear();
    trimmed = 0;
}

void ConfigReader::append(char c, bool significant)
{
    token += c;
    if (significant)
        trimmed = token.size();
}

void ConfigReader::take(char c)
{
    if (escaped) {
        escaped = false;
        append(c, true);
        return;
    }
    if (!inQuotes) {
        if (isBlank(c) && token.empty())
            return;
        if (isLineEnd(c)) {
            if (phase != Phase::Start)
                finishEntry();
            return;
        }
    }
    if (phase == Phase::Start) {
        if (c == '<') {
            group = true;
            phase = Phase::Name;
            return;
        }
        phase = Phase::Name;
        if (c == '"') {
            inQuotes = true;
            return;
        }
    }
    if (c == '"') {
        inQuotes = !inQuotes;
        if (phase == Phase::Value)
            mayBeNumber = false;
        return;
    }
    if (c == '\\') {
        escaped = true;
        return;
    }
    if (c == '>' && phase == Phase::Name && group) {
        if (!token.empty() && token[0] == '/') {
            closeLevel();
            return;
        }
        finishEntry();
        return;
    }
    if (c == '=' && phase == Phase::Name) {
        token.resize(trimmed);
        key.swap(token);
        token.clear();
        trimmed = 0;
        mayBeNumber = true;
        phase = Phase::Value;
        return;
    }
    append(c, inQuotes || !(isBlank(c) || isLineEnd(c)));
}

void ConfigReader::finishEntry()
{
    token.resize(trimmed);
    const bool opensGroup = group;
    // A group beyond the depth bound is dropped whole, its own entry included.
    const bool tooDeep = opensGroup && levels.size() > maxDepth;
    ConfigNode* child = nullptr;
    if (droppedLevels == 0 && !tooDeep && entries < maxEntries) {
        ++entries;
        const bool named = phase == Phase::Name;
        child = levels.back()->addChild(named ? token : key);
        if (!named)
            child->setValue(token, typeOf(token, mayBeNumber));
    }
    reset();
    if (!opensGroup)
        return;
    if (child) {
        child->makeGroup();
        levels.push_back(child);
    } else {
        ++droppedLevels;
    }
}

void ConfigReader::closeLevel()
{
    reset();
    if (droppedLevels > 0) {
        --droppedLevels;
        return;
    }
    if (levels.size() > 1) {
        levels.pop_back();
        return;
    }
    // A closing tag at the top ends the whole file.
    ended = true;
}
