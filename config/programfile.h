#pragma once
// The program's own configuration file: which program wrote it, and which version.

#include "configdocument.h"

#include <QByteArray>

#include <cstdint>

namespace ProgramFile {

enum class Check {
    Accepted,
    WrongFormat,  // another program's file, or no configuration file at all
    NewerVersion, // written by a newer version of this program, or without a version
};

// Fills the document with the two entries: app (the internal name, UTF-8) and version.
void fill(ConfigDocument& document, const QByteArray& internalName, std::int64_t version);
// Judges a loaded document against this program.
Check check(ConfigDocument& document, const QByteArray& internalName, std::int64_t version);

}
