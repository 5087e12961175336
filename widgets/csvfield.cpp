#include "csvfield.h"

const QByteArray csvByteOrderMark("\xEF\xBB\xBF");

QString csvField(const QString& text)
{
    const bool quoted = text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('"'))
                        || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!quoted)
        return text;
    QString field = text;
    field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

QString csvTextField(const QString& text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && formulaStarts.contains(text.front()))
        return csvField(QLatin1Char('\'') + text);
    return csvField(text);
}

QByteArray csvLine(const QStringList& fields)
{
    return fields.join(QLatin1Char(';')).toUtf8() + "\r\n";
}
