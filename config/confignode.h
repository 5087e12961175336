#pragma once
// One entry of a configuration tree: a name, a value held as text, and the entries below it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class ConfigValueType : std::int32_t {
    String = 0,  // written between double quotes
    Integer = 1, // written bare
    Real = 2,    // written bare
};

class ConfigNode {
public:
    explicit ConfigNode(std::string name = std::string());
    ~ConfigNode();
    ConfigNode(const ConfigNode&) = delete;
    ConfigNode& operator=(const ConfigNode&) = delete;

    // Appends a child with that name, an empty value and type String.
    ConfigNode* addChild(const std::string& name);
    // The first child of that name (byte for byte); a new one when create is set, else null.
    ConfigNode* findChild(const std::string& name, bool create);

    void setString(const std::string& text);
    void setInteger(std::int64_t number);
    // For the reader, which decides the type from the text.
    void setValue(const std::string& text, ConfigValueType valueType);

    const std::string& name() const { return nodeName; }
    ConfigValueType type() const { return valueType; }
    std::string stringValue() const { return value; }
    // Base 10 after leading blanks and one sign, up to the first non-digit; 0 without a digit.
    // Saturates rather than wrapping, so a huge number never reads as a small one.
    std::int64_t integerValue() const;

    // Null until the first child is added; an empty list still makes the node a group.
    const std::vector<std::unique_ptr<ConfigNode>>* children() const { return childList.get(); }
    // Makes the node a group even without children.
    void makeGroup();

    // Deletes the children, empties the value, type String; the name stays.
    void clear();

    // Appends the node's lines to out, depth tabs deep; the root is written with depth -1.
    void writeNode(std::string& out, int depth) const;

private:
    std::string nodeName;
    ConfigValueType valueType = ConfigValueType::String;
    std::string value;
    std::unique_ptr<std::vector<std::unique_ptr<ConfigNode>>> childList;
};
