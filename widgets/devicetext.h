#pragma once

#include <QByteArray>
#include <QString>

// Text to and from the detector is Windows-1251 on every platform; the local 8-bit code page
// would be UTF-8 on Linux and garble Cyrillic.
QString fromDeviceText(const char* data, int size = -1);
QByteArray toDeviceText(const QString& text);
