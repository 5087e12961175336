#pragma once
// A configuration file: its path and the tree read from it or to be written to it.

#include "confignode.h"

#include <QString>

#include <cstdint>

class ConfigDocument {
public:
    // A configuration file of this program is a few dozen bytes; anything beyond this is not
    // one, and is not read, so a huge or endless file costs neither time nor memory.
    static constexpr std::int64_t maxFileSize = 1 << 20;

    enum class LoadResult { Loaded, CannotOpen, TooLarge };

    explicit ConfigDocument(const QString& path);

    ConfigNode* addChild(const std::string& name) { return root.addChild(name); }
    ConfigNode* findChild(const std::string& name, bool create) { return root.findChild(name, create); }
    const ConfigNode& tree() const { return root; }

    // Writes the tree, replacing the file only once all of it is written. False when the file
    // cannot be written.
    bool save();
    // Clears the tree and reads the file into it; the tree stays empty when the file cannot be
    // read or is larger than maxFileSize.
    LoadResult load();
    void clear() { root.clear(); }
    const QString& filePath() const { return path; }

private:
    QString path;
    ConfigNode root;
};
