// Feeds any bytes to the configuration reader, in two pieces split where the first byte says,
// so state carried across pieces (a backslash, quotes) is exercised too. Then checks that what
// the writer makes of the tree settles: read back and written again, it gives the same bytes.
// On every entry read, integerValue agrees with strtoll and findChild finds each child's name
// at its first use.

#include "configreader.h"

#include <cctype>
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

// strtoll also skips leading blanks and one sign, and saturates; it skips more kinds of blank.
std::int64_t referenceInteger(const std::string& text)
{
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos || std::isspace(static_cast<unsigned char>(text[start])))
        return 0;
    return std::strtoll(text.c_str() + start, nullptr, 10);
}

void checkEntries(ConfigNode& node)
{
    if (node.integerValue() != referenceInteger(node.stringValue()))
        std::abort();
    const auto* children = node.children();
    if (!children)
        return;
    for (std::size_t i = 0; i < children->size(); ++i) {
        const std::string& name = (*children)[i]->name();
        std::size_t first = 0;
        while ((*children)[first]->name() != name)
            ++first;
        if (node.findChild(name, false) != (*children)[first].get())
            std::abort();
        checkEntries(*(*children)[i]);
    }
    // A name no child has is not found, and asked to create, becomes the last child.
    const std::string absent = children->empty() ? std::string() : children->back()->name() + '\x01';
    if (node.findChild(absent, false) == nullptr) {
        ConfigNode* added = node.findChild(absent, true);
        if (!added || added != children->back().get() || added->name() != absent)
            std::abort();
    }
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
    checkEntries(whole);
    return 0;
}
