#pragma once

#include <QString>
#include <QTime>

// A status-bar message that says when it happened: "Журнал событий загружен 12:04:31". The
// time is the current one unless a test gives its own.
QString timedStatus(const QString& what, const QTime& at = QTime());
