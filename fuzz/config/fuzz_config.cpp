// Feeds any bytes to the configuration reader, in two pieces split where the first byte says,
// so state carried across pieces (a backslash, quotes) is exercised too. Then checks that what
// the writer makes of the tree settles: read back and written again, it gives the same bytes.

#include "configreader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string write(const ConfigNode& root)
{
    std::string out;
    root.writeNode(out, -1);
    return out;
}

std::string reread(const std::string& text)
{
    ConfigNode root;
    ConfigReader::parse(root, text.data(), text.size());
    return write(root);
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t split = data[0] % size;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;

    ConfigNode root;
    ConfigReader reader(root);
    if (reader.feed(text, split < length ? split : length) && split < length)
        reader.feed(text + split, length - split);
    reader.finish();

    ConfigNode whole;
    ConfigReader::parse(whole, text, length);
    const std::string first = write(root);
    // Where the input is cut must not matter.
    if (first != write(whole))
        std::abort();
    // A group that carries a value is written with the value on its tag line, which reads back
    // as its first child; from then on the text is stable.
    const std::string second = reread(first);
    if (reread(second) != second)
        std::abort();
    return 0;
}
