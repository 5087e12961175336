#include "framerenderer.h"

#include "hart/encoding.h"
#include "hart/messages.h"
#include "hart/parsermaster.h"

namespace {

// Every colour and decoration of the monitor, in one place. Each opening goes with spanClose.
namespace Style {
constexpr char red[] = "<span style=\" color:#FF0000;\">";
constexpr char green[] = "<span style=\" color:#005500;\">";
constexpr char blue[] = "<span style=\" color:#0000FF;\">";
constexpr char grey[] = "<span style=\" color:#808080;\">";
constexpr char olive[] = "<span style=\" color:#808000;\">";
constexpr char yellow[] = "<span style=\" color:#FFFF00;\">";
constexpr char bold[] = "<span style=\" font-weight:600;\">";
constexpr char struck[] = "<span style=\" text-decoration: line-through;\">";
constexpr char spanClose[] = "</span>";

constexpr char warningIcon[] = "<img src=\":/new/prefix/Resources/Icons/Basic/16x16/warning.png\"/> ";
constexpr char errorIcon[] = "<img src=\":/new/prefix/Resources/Icons/Basic/16x16/delete_button_error.png\"/> ";
constexpr char uploadIcon[] = "<img src=\":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-upload.png\"/> ";
constexpr char downloadIcon[] =
    "<img src=\":/new/prefix/Resources/Icons/HardwareNetwork/16x16/hardware-download.png\"/> ";
} // namespace Style

// A short address is padded to the width of a five-byte one, so the fields after it line up.
constexpr char shortAddressPad[] = "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";
constexpr char missingMark[] = " ??? ";
constexpr std::uint8_t preambleByte = 0xFF;
// The message table's code for an extended command number that is too small; the frame layer
// itself never produces it, so the result enum has no name for it.
constexpr std::uint32_t extendedCommandTooLow = 25;

bool isError(std::uint32_t result)
{
    return result >= 1 && result <= 53;
}

void appendHex(QString& out, std::uint8_t byte)
{
    static const char digits[] = "0123456789ABCDEF";
    out += QLatin1Char(digits[byte >> 4]);
    out += QLatin1Char(digits[byte & 0x0F]);
}

QString hex(std::uint8_t byte)
{
    QString out;
    appendHex(out, byte);
    return out;
}

QString coloured(const char* opening, const QString& text)
{
    return QLatin1String(opening) + text + QLatin1String(Style::spanClose);
}

QString field(const QString& text)
{
    return QLatin1Char('[') + text + QLatin1String("] ");
}

// Walks one frame that starts at its delimiter, field by field. Every field is checked against
// the bytes that are really there before it is read.
class FieldWriter {
public:
    FieldWriter(const std::uint8_t* frame, std::uint32_t frameLength, std::uint32_t result, QString& body)
        : p(frame)
        , stop(frame + frameLength)
        , result(result)
        , body(body)
    {
    }

    std::uint32_t write(const QString& checkText)
    {
        writeFields();
        body += coloured(Style::green, checkText);
        return result;
    }

private:
    std::uint32_t left() const { return static_cast<std::uint32_t>(stop - p); }

    // The frame ends before the field it needs: show what is there and mark the gap.
    void missing()
    {
        body += coloured(Style::red, hexBytes(p, stop) + QLatin1String(missingMark));
        result = Hart::TooFewDataBytes;
    }

    // A wrong field in red; whatever follows it is shown as it stands.
    void wrong(const QString& fieldText, std::uint32_t code)
    {
        body += field(coloured(Style::red, fieldText)) + hexBytes(p, stop) + QLatin1Char(' ');
        result = code;
    }

    void writeFields()
    {
        if (left() == 0)
            return missing();

        // Only the frame types 2 (from a master) and 6 (from a device) have the low bits 10.
        const std::uint8_t delimiter = *p++;
        if ((delimiter & 0x03) != 0x02)
            return wrong(hex(delimiter), Hart::CommunicationFailure);
        body += field(coloured(Style::green, hex(delimiter)));

        if (delimiter & 0x80) {
            if (left() < 5)
                return missing();
            body += field(coloured(Style::blue, hexBytes(p, p + 5)));
            p += 5;
        } else {
            if (left() == 0)
                return missing();
            body += QLatin1Char('[') + coloured(Style::blue, hex(*p++)) + QLatin1String(shortAddressPad)
                + QLatin1String("] ");
        }

        const std::uint32_t expansion = (delimiter >> 5) & 0x03;
        if (expansion != 0) {
            if (left() < expansion)
                return missing();
            body += field(hexBytes(p, p + expansion));
            p += expansion;
        }

        if (left() == 0)
            return missing();
        const std::uint8_t command = *p++;
        body += field(coloured(Style::olive, hex(command)));

        if (left() == 0)
            return missing();
        const std::uint8_t byteCount = *p;
        const QString countText = hex(*p++);
        if (byteCount != left())
            return wrong(countText, Hart::CommunicationFailure);
        body += field(coloured(Style::green, countText));

        if ((delimiter & 0x07) == 0x06) {
            if (left() < 2)
                return missing();
            const std::uint8_t responseCode = p[0];
            const QString statusText = hex(p[1]);
            p += 2;
            if (isError(result)) {
                // The exchange failed: the data after the status bytes mean nothing.
                body += QLatin1Char('[') + coloured(Style::red, hex(responseCode)) + QLatin1Char(' ') + statusText
                    + QLatin1String("] ") + hexBytes(p, stop) + QLatin1Char(' ');
                return;
            }
            body += QLatin1Char('[') + coloured(responseCode == 0 ? Style::green : Style::yellow, hex(responseCode))
                + QLatin1Char(' ') + statusText + QLatin1String("] ");
        }

        // Command 31 carries the real command number, big-endian, ahead of the data; numbers below
        // 256 have a command byte of their own and are never sent this way.
        if (command == 31) {
            if (left() < 2)
                return missing();
            const std::uint32_t extended = (std::uint32_t(p[0]) << 8) | p[1];
            const QString extendedText = hexBytes(p, p + 2);
            p += 2;
            if (extended < 256)
                return wrong(extendedText, extendedCommandTooLow);
            body += field(coloured(Style::olive, extendedText));
        }

        if (left() != 0)
            body += field(hexBytes(p, stop));
    }

    const std::uint8_t* p;
    const std::uint8_t* const stop;
    std::uint32_t result;
    QString& body;
};

// frame holds the bytes from the delimiter to the end of the block, at least one.
std::uint32_t renderFrameBody(const std::uint8_t* frame, std::uint32_t available, std::uint32_t result, QString& body)
{
    // A frame that passes the framing check ends at its check byte and anything after it is
    // dropped; otherwise the whole rest is the frame and its last byte stands for the check byte.
    std::uint32_t frameLength = available;
    if (!Hart::checkFrame(frame, &frameLength))
        frameLength = available - 1;
    const std::uint8_t check = frame[frameLength];
    QString checkText = hex(check) + QLatin1Char(' ');

    if (Hart::checkByte(frame, frameLength) != check) {
        body += hexBytes(frame, frame + frameLength) + QLatin1Char(' ') + coloured(Style::red, checkText);
        return Hart::LongitudinalParityError;
    }
    return FieldWriter(frame, frameLength, result, body).write(checkText);
}

} // namespace

QString hexBytes(const std::uint8_t* first, const std::uint8_t* last)
{
    QString out;
    if (!first || last <= first)
        return out;
    out.reserve(static_cast<int>(last - first) * 3);
    for (const std::uint8_t* b = first; b != last; ++b) {
        if (b != first)
            out += QLatin1Char(' ');
        appendHex(out, *b);
    }
    return out;
}

QString renderFrame(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t resultCode, bool outgoing)
{
    if (!bytes)
        length = 0;
    std::uint32_t result = resultCode;
    QString body;
    body.reserve(512);

    // Noise before the preamble and the preamble itself are not shown.
    std::uint32_t start = 0;
    while (start < length && bytes[start] != preambleByte)
        ++start;
    while (start < length && bytes[start] == preambleByte)
        ++start;
    if (start >= length) {
        body = coloured(Style::grey, length ? hexBytes(bytes, bytes + length) + QLatin1Char(' ') : QString());
    } else {
        result = renderFrameBody(bytes + start, length - start, result, body);
    }

    if (outgoing)
        body = QLatin1String(Style::bold) + body + QLatin1String(Style::spanClose);
    QString line;
    if (result == Hart::Ignore)
        line = QLatin1String(Style::warningIcon) + QLatin1String(Style::struck) + body + QLatin1String(Style::spanClose);
    else if (isError(result))
        line = QLatin1String(Style::errorIcon) + body;
    else
        line = QLatin1String(outgoing ? Style::uploadIcon : Style::downloadIcon) + body;
    line += QLatin1String("<br>");
    return line;
}
