#pragma once

#include <QByteArray>
#include <QString>

// Renders an event caption template from the device with the record's argument bytes.
// "#", an optional argument and a letter make a placeholder; each placeholder takes its bytes
// from the record in turn (least significant byte first). The template comes from the device
// or a log file and may be anything: the result is always some text.
QString formatCaption(const QString& caption, const QByteArray& data);
