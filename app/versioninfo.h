#pragma once

#include <QString>

// The six strings of the program's version information. On Windows they are read from the
// executable's version resource; elsewhere they are compiled in. A missing key gives "".
QString versionString(const QString& applicationPath, const char* key);

// The leading decimal integer of a version text ("2.1" gives 2): optional blanks and a sign,
// then digits; anything else ends it. No digits give 0.
int leadingInteger(const QString& text);
