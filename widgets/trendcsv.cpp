#include "trendcsv.h"

#include "csvfield.h"
#include "trendbuffer.h"

#include <QDateTime>
#include <QIODevice>

#include <cmath>
#include <limits>

namespace {

// Local date and time in a fixed form, whatever the machine's locale: a spreadsheet set to
// Russian reads it. Asking the time zone is slow, so its offset is asked once per quarter hour,
// the finest step at which any zone changes it.
class TimeText {
public:
    QString operator()(qint64 timeMs)
    {
        const qint64 second = floorDiv(timeMs, 1000);
        const qint64 quarter = floorDiv(second, 900);
        if (quarter != lastQuarter) {
            lastQuarter = quarter;
            offsetSeconds = QDateTime::fromMSecsSinceEpoch(second * 1000).offsetFromUtc();
        }
        const qint64 local = second + offsetSeconds;
        const QDate date = QDate(1970, 1, 1).addDays(floorDiv(local, 86400));
        const qint64 inDay = local - floorDiv(local, 86400) * 86400;
        return QString::asprintf("%02d.%02d.%04d %02d:%02d:%02d", date.day(), date.month(), date.year(),
                                 int(inDay / 3600), int(inDay / 60 % 60), int(inDay % 60));
    }

private:
    static qint64 floorDiv(qint64 a, qint64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

    qint64 lastQuarter = std::numeric_limits<qint64>::min();
    int offsetSeconds = 0;
};

QString numberText(float value)
{
    if (!std::isfinite(value))
        return QString();
    return QString::number(double(value), 'g', 7).replace(QLatin1Char('.'), QLatin1Char(','));
}

} // namespace

bool writeTrendCsv(QIODevice* out, const QVector<TrendCsvSeries>& series, const QStringList& units)
{
    const QByteArray head = QByteArray("\xEF\xBB\xBF") + QStringLiteral("Время;Канал;Значение;Единица;Качество\r\n").toUtf8();
    if (out->write(head) != head.size())
        return false;
    QVector<std::size_t> next(series.size(), 0);
    TimeText timeText;
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
        const QString row = timeText(sample.timeMs) + QLatin1Char(';') + csvTextField(series[pick].name) + QLatin1Char(';')
            + numberText(sample.value) + QLatin1Char(';') + csvTextField(units.value(sample.unit)) + QLatin1Char(';')
            + (sample.flagged ? QStringLiteral("недостоверно") : QStringLiteral("норма")) + QStringLiteral("\r\n");
        const QByteArray bytes = row.toUtf8();
        if (out->write(bytes) != bytes.size())
            return false;
    }
    return true;
}
