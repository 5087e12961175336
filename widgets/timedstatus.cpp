#include "timedstatus.h"

QString timedStatus(const QString& what, const QTime& at)
{
    return what + QLatin1Char(' ') + at.toString(QStringLiteral("HH:mm:ss"));
}
