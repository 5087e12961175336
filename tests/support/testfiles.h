#pragma once

#include <QByteArray>
#include <QString>

class QTemporaryDir;

// A firmware-like image: every byte differs from its neighbours, so a chunk sent twice or
// skipped shows in the device's copy.
QByteArray imageBytes(int size);
// Writes bytes to a file of that name in dir and returns its path.
QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);
// The whole file, or "(unreadable)".
QByteArray readFile(const QString& path);
