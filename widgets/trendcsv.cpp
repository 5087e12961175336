#include "trendcsv.h"

#include "trendbuffer.h"

#include <QDateTime>
#include <QIODevice>

#include <cmath>

namespace {

// Fixed forms, whatever the machine's locale: a spreadsheet set to Russian reads both.
QString timeText(qint64 timeMs)
{
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString numberText(float value)
{
    if (!std::isfinite(value))
        return QString();
    return QString::number(double(value), 'g', 7).replace(QLatin1Char('.'), QLatin1Char(','));
}

// A field holding the separator, a quote or a line break is quoted, inner quotes doubled.
QString field(QString text)
{
    if (text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n'))
        || text.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
    return text;
}

} // namespace

bool writeTrendCsv(QIODevice* out, const QVector<TrendCsvSeries>& series, const QStringList& units)
{
    const QByteArray head = QByteArray("\xEF\xBB\xBF") + QStringLiteral("Время;Канал;Значение;Единица;Качество\r\n").toUtf8();
    if (out->write(head) != head.size())
        return false;
    QVector<std::size_t> next(series.size(), 0);
    for (;;) {
        // The series whose next sample is the earliest; ties go to the series listed first.
        int pick = -1;
        for (int s = 0; s < series.size(); ++s) {
            const TrendBuffer* b = series[s].buffer;
            if (!b || next[s] >= b->size())
                continue;
            if (pick < 0 || b->at(next[s]).timeMs < series[pick].buffer->at(next[pick]).timeMs)
                pick = s;
        }
        if (pick < 0)
            break;
        const TrendSample& sample = series[pick].buffer->at(next[pick]++);
        const QString row = timeText(sample.timeMs) + QLatin1Char(';') + field(series[pick].name) + QLatin1Char(';')
            + numberText(sample.value) + QLatin1Char(';') + field(units.value(sample.unit)) + QLatin1Char(';')
            + (sample.flagged ? QStringLiteral("недостоверно") : QStringLiteral("норма")) + QStringLiteral("\r\n");
        const QByteArray bytes = row.toUtf8();
        if (out->write(bytes) != bytes.size())
            return false;
    }
    return true;
}
