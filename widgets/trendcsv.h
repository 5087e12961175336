#pragma once
// The trend samples as a CSV text that a Russian spreadsheet opens as it stands: UTF-8 with a
// byte-order mark, semicolons between fields, decimal commas, local date and time.

#include <QString>
#include <QStringList>
#include <QVector>

class QIODevice;
class TrendBuffer;

struct TrendCsvSeries {
    QString name;
    const TrendBuffer* buffer = nullptr;
};

// One row per sample, all series merged in time order:
// "Время;Канал;Значение;Единица;Качество", the quality "норма" or "недостоверно". Written row by
// row, so a day of samples needs no copy in memory. A sample's unit is units[sample.unit], empty
// when there is no such entry. False when the device refuses a write.
bool writeTrendCsv(QIODevice* out, const QVector<TrendCsvSeries>& series, const QStringList& units);
