#include "formatcaption.h"

#include "hart/calendar.h"

#include <QMap>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

const QString dataError = QStringLiteral("Ошибка данных");
const QString formatError = QStringLiteral("Неверный формат");
const QString unknownValue = QStringLiteral("Неизвестное значение");
const char placeholderLetters[] = "iIjJuUlLxXhHfFdcCsSaAbBoOeE";

// A width beyond this is no device's intent; it would only make the text (and the memory
// for it) as long as the template asks.
constexpr int maxDigits = 64;

// The bytes of one record, taken from the front.
class ArgumentBytes {
public:
    explicit ArgumentBytes(const QByteArray& data) : bytes(data) {}

    // The next n bytes as a little-endian number; false, and no bytes left, when too few remain.
    bool take(int n, std::uint64_t* value)
    {
        if (bytes.size() - cursor < n) {
            cursor = bytes.size();
            return false;
        }
        std::uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | std::uint8_t(bytes[cursor + i]);
        cursor += n;
        *value = v;
        return true;
    }
    bool atEnd() const { return cursor >= bytes.size(); }
    char next() { return bytes[cursor++]; }

private:
    const QByteArray& bytes;
    int cursor = 0;
};

struct NumberFormat {
    bool valid = true;
    bool plus = false;
    int integerDigits = 1;
    int fractionDigits = 0;
};

// "+" first, integer digits, then "." and fraction digits, each part optional.
NumberFormat parseNumberFormat(const QString& argument)
{
    NumberFormat format;
    int i = 0;
    if (argument.startsWith('+')) {
        format.plus = true;
        i = 1;
    }
    int* count = &format.integerDigits;
    bool seenPoint = false;
    *count = 0;
    for (; i < argument.size(); ++i) {
        const QChar c = argument[i];
        if (c == '.' && !seenPoint) {
            seenPoint = true;
            count = &format.fractionDigits;
            continue;
        }
        if (c < '0' || c > '9') {
            format.valid = false;
            return format;
        }
        // Saturates, so that any number of digits is judged without overflow.
        *count = std::min(*count * 10 + (c.unicode() - '0'), maxDigits + 1);
    }
    if (format.integerDigits == 0)
        format.integerDigits = 1;
    if (format.integerDigits > maxDigits || format.fractionDigits > maxDigits)
        format.valid = false;
    return format;
}

QString applyFormat(QString digits, bool negative, const NumberFormat& format)
{
    const int width = format.integerDigits + format.fractionDigits;
    if (digits.size() < width)
        digits.prepend(QString(width - digits.size(), '0'));
    if (format.fractionDigits > 0)
        digits.insert(digits.size() - format.fractionDigits, '.');
    if (negative)
        return '-' + digits;
    return format.plus ? '+' + digits : digits;
}

// Enumeration items: an optional decimal key and a text in backquotes; a text without a key
// takes the key after the previous one.
bool parseEnumeration(const QString& list, QMap<std::uint16_t, QString>* items)
{
    std::uint16_t nextKey = 0;
    std::uint32_t key = 0;
    bool haveKey = false;
    for (int i = 0; i < list.size(); ++i) {
        const QChar c = list[i];
        if (c >= '0' && c <= '9') {
            key = (key * 10 + std::uint32_t(c.unicode() - '0')) & 0xFFFF;
            haveKey = true;
            continue;
        }
        if (c != '`')
            return false;
        const int close = list.indexOf('`', i + 1);
        if (close < 0)
            return true; // an unterminated text at the end is dropped
        const std::uint16_t itemKey = haveKey ? std::uint16_t(key) : nextKey;
        (*items)[itemKey] = list.mid(i + 1, close - i - 1);
        nextKey = std::uint16_t(itemKey + 1);
        key = 0;
        haveKey = false;
        i = close;
    }
    return true;
}

int byteCount(char letter)
{
    switch (letter) {
    case 'i': case 'u': case 'x': case 'c': case 'a': case 'b': case 'o': case 'e': return 1;
    case 'I': case 'U': case 'X': case 'A': case 'B': case 'O': case 'E': return 2;
    case 'j': case 'l': case 'h': case 'f': case 'd': return 4;
    case 'J': case 'L': case 'H': case 'F': return 8;
    default: return 0;
    }
}

QString renderInteger(char letter, int bytes, std::uint64_t raw, const QString& argument)
{
    const bool isSigned = letter == 'i' || letter == 'I' || letter == 'j' || letter == 'J';
    const bool hex = letter == 'x' || letter == 'X' || letter == 'h' || letter == 'H';
    const NumberFormat format = parseNumberFormat(argument);
    if (!format.valid || (format.plus && !isSigned) || (hex && format.fractionDigits > 0))
        return formatError;
    bool negative = false;
    std::uint64_t magnitude = raw;
    if (isSigned && bytes < 8 && (raw >> (bytes * 8 - 1)) & 1)
        raw |= ~std::uint64_t(0) << (bytes * 8); // sign-extend
    if (isSigned && (raw >> 63)) {
        negative = true;
        magnitude = 0 - raw; // also right for the smallest value, which has no positive twin
    }
    return applyFormat(QString::number(magnitude, hex ? 16 : 10).toUpper(), negative, format);
}

QString renderFloat(int bytes, std::uint64_t raw, const QString& argument)
{
    const NumberFormat format = parseNumberFormat(argument);
    if (!format.valid || format.plus || format.fractionDigits > 0)
        return formatError;
    double value;
    if (bytes == 4) {
        const std::uint32_t bits = std::uint32_t(raw);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        value = f;
    } else {
        std::memcpy(&value, &raw, sizeof value);
    }
    const bool negative = value < 0;
    return applyFormat(QString::number(negative ? -value : value, 'f', 0), negative, format);
}

QString renderTime(std::uint32_t seconds)
{
    const Hart::CalendarTime t = Hart::secondsToCalendar(seconds);
    // The full year: a device clock runs past 2099.
    return QString::asprintf("%02d.%02d.%04d %02d:%02d:%02d", t.day, t.month, 2000 + t.year, t.hour, t.minute,
                             t.second);
}

QString renderValue(char letter, const QString& argument, ArgumentBytes& bytes)
{
    switch (letter) {
    case 'C': case 'S': return QString();
    case 'c': return bytes.atEnd() ? QString() : QString(QChar(std::uint8_t(bytes.next())));
    case 's': {
        QString text;
        while (!bytes.atEnd()) {
            const char c = bytes.next();
            if (c == 0)
                break;
            text += QChar(std::uint8_t(c));
        }
        return text;
    }
    default: break;
    }
    const int size = byteCount(letter);
    std::uint64_t raw = 0;
    if (!bytes.take(size, &raw))
        return dataError;
    switch (letter) {
    case 'd': return renderTime(std::uint32_t(raw));
    case 'f': case 'F': return renderFloat(size, raw, argument);
    case 'a': case 'A': return raw ? QStringLiteral("Активный") : QStringLiteral("Неактивный");
    case 'b': case 'B': return raw ? QStringLiteral("Да") : QStringLiteral("Нет");
    case 'o': case 'O': return raw ? QStringLiteral("Вкл") : QStringLiteral("Выкл");
    case 'e': case 'E': {
        QMap<std::uint16_t, QString> items;
        if (!parseEnumeration(argument, &items))
            return formatError;
        return items.value(std::uint16_t(raw), unknownValue);
    }
    default: return renderInteger(letter, size, raw, argument);
    }
}

char placeholderLetter(QChar c)
{
    if (c.unicode() > 0x7F || c.unicode() == 0)
        return 0;
    const char latin = char(c.unicode());
    return std::strchr(placeholderLetters, latin) ? latin : 0;
}

} // namespace

QString formatCaption(const QString& caption, const QByteArray& data)
{
    ArgumentBytes bytes(data);
    QString out;
    QString argument;
    bool inPlaceholder = false;
    bool quoted = false;
    for (int i = 0; i < caption.size(); ++i) {
        const QChar c = caption[i];
        if (!inPlaceholder) {
            if (c == '#')
                inPlaceholder = true;
            else
                out += c;
        } else if (quoted) {
            argument += c;
            if (c == '`')
                quoted = false;
        } else if (c == '#') {
            out += '#' + argument;
            argument.clear();
            if (i == caption.size() - 1)
                out += '#';
        } else if (const char letter = placeholderLetter(c)) {
            out += renderValue(letter, argument, bytes);
            argument.clear();
            inPlaceholder = false;
        } else {
            argument += c;
            if (c == '`')
                quoted = true;
        }
    }
    return out + argument;
}
