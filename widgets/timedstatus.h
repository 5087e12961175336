#pragma once

#include <QString>
#include <QTime>

// A status-bar note of something completed, with the time it happened, e.g.
// "Конфигурация записана в устройство 12:04:31": an engineer back at the laptop sees what
// the last action did and when.
QString timedStatus(const QString& what, const QTime& at = QTime::currentTime());
