#pragma once
// The character-level reader of configuration files. Any text yields some tree: malformed
// structure only changes where the entries end up. Bytes are fed in pieces of any size, so a
// file is read in blocks and never held whole.
//
// Hostile files are bounded: groups nested deeper than maxDepth are read but dropped with
// everything inside them, and no more than maxEntries entries are kept.

#include "confignode.h"

#include <cstddef>
#include <string>
#include <vector>

class ConfigReader {
public:
    static constexpr std::size_t maxDepth = 32;
    static constexpr std::size_t maxEntries = 100000;

    // Appends what it reads to the children of root.
    explicit ConfigReader(ConfigNode& root);

    // False once the reading has ended (a closing tag at the top level); later bytes are ignored.
    bool feed(const char* data, std::size_t size);
    // The end of the file: finishes the entry being read.
    void finish();

    // Reads a whole text into root's children.
    static void parse(ConfigNode& root, const char* data, std::size_t size);

private:
    enum class Phase { Start, Name, Value };

    void take(char c);
    void append(char c, bool significant);
    void finishEntry();
    void closeLevel();
    void reset();

    std::vector<ConfigNode*> levels; // the open groups, the root first
    std::size_t droppedLevels = 0;   // groups open beyond maxDepth, whose entries are not kept
    std::size_t entries = 0;
    bool ended = false;

    Phase phase = Phase::Start;
    bool inQuotes = false;
    bool group = false;
    bool mayBeNumber = true;
    bool escaped = false; // a backslash came last: the next character is taken as it is
    std::string token;
    std::string key;
    std::size_t trimmed = 0;
};
