// Feeds hostile caption templates and argument bytes to the caption formatter: it must end,
// and its text must stay within a fixed multiple of the template's length.
//
// Input: the template up to the first zero byte (as UTF-8, so characters beyond Latin-1 and
// broken sequences occur too), then the record's argument bytes.

#include "formatcaption.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto* text = reinterpret_cast<const char*>(data);
    const std::size_t split = std::find(data, data + size, 0) - data;
    const QString caption = QString::fromUtf8(text, int(split));
    const QByteArray bytes = split < size ? QByteArray(text + split + 1, int(size - split - 1)) : QByteArray();
    const QString shown = formatCaption(caption, bytes);
    // The longest value comes from a double in fixed notation (about 310 digits) for "#F";
    // "#s" and "#c" copy the record's own bytes, at most all of them.
    if (shown.size() > 400 * (caption.size() + 1) + bytes.size())
        std::abort();
    return 0;
}
