#include "timedstatus.h"

QString timedStatus(const QString& what, const QTime& at)
{
    const QTime time = at.isValid() ? at : QTime::currentTime();
    return what + QLatin1Char(' ') + time.toString(QStringLiteral("HH:mm:ss"));
}
