#include "confignode.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

ConfigNode::ConfigNode(std::string name)
    : nodeName(std::move(name))
{
}

ConfigNode::~ConfigNode() = default;

void ConfigNode::makeGroup()
{
    if (!childList)
        childList = std::make_unique<std::vector<std::unique_ptr<ConfigNode>>>();
}

ConfigNode* ConfigNode::addChild(const std::string& name)
{
    makeGroup();
    childList->push_back(std::make_unique<ConfigNode>(name));
    return childList->back().get();
}

ConfigNode* ConfigNode::findChild(const std::string& name, bool create)
{
    if (childList) {
        for (const auto& child : *childList)
            if (child->nodeName == name)
                return child.get();
    }
    return create ? addChild(name) : nullptr;
}

void ConfigNode::setString(const std::string& text)
{
    setValue(text, ConfigValueType::String);
}

void ConfigNode::setInteger(std::int64_t number)
{
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64, number);
    setValue(text, ConfigValueType::Integer);
}

void ConfigNode::setValue(const std::string& text, ConfigValueType type)
{
    value = text;
    valueType = type;
}

std::int64_t ConfigNode::integerValue() const
{
    std::size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-'))
        negative = value[i++] == '-';
    // Accumulated as a negative number, whose range is the larger one.
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    std::int64_t number = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        const int digit = value[i] - '0';
        if (number < (lowest + digit) / 10) {
            number = lowest;
            break;
        }
        number = number * 10 - digit;
    }
    if (negative)
        return number;
    return number == lowest ? std::numeric_limits<std::int64_t>::max() : -number;
}

void ConfigNode::clear()
{
    childList.reset();
    value.clear();
    valueType = ConfigValueType::String;
}

namespace {

void endLine(std::string& out)
{
    out += "\r\n";
}

void indent(std::string& out, int depth)
{
    if (depth > 0)
        out.append(std::size_t(depth), '\t');
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A backslash before anything the reader would take as structure, so every name reads back as
// written: quotes, backslashes, "=", the tag brackets, line ends, and blanks at either end.
void appendName(std::string& out, const std::string& name)
{
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool edgeBlank = isBlank(c) && (i == 0 || i + 1 == name.size());
        if (c == '"' || c == '\\' || c == '=' || c == '<' || c == '>' || c == '\r' || c == '\n' || edgeBlank)
            out += '\\';
        out += c;
    }
}

// Between quotes only a quote and a backslash need the escape.
void appendQuoted(std::string& out, const std::string& value)
{
    out += '"';
    for (char c : value) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
}

}

void ConfigNode::writeNode(std::string& out, int depth) const
{
    // Only the root (depth -1) goes without a line of its own; a group with an empty name still
    // gets its tags, or its children would read back one level up.
    const bool root = depth < 0;
    const bool hasLine = (!root && childList) || !nodeName.empty() || !value.empty();
    if (hasLine)
        indent(out, depth);
    if (!root && childList) {
        out += '<';
        appendName(out, nodeName);
        out += '>';
    } else if (!nodeName.empty()) {
        appendName(out, nodeName);
    }
    if (!value.empty()) {
        out += '=';
        if (valueType == ConfigValueType::String)
            appendQuoted(out, value);
        else
            out += value;
    }
    if (hasLine)
        endLine(out);
    if (!childList)
        return;
    for (const auto& child : *childList)
        child->writeNode(out, depth + 1);
    if (!root) {
        indent(out, depth);
        out += "</>";
        endLine(out);
    }
}
