#include "logcsvexport.h"

#include "logstatements.h"
#include "logviewmodel.h"

#include <QIODevice>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

bool writeLine(QIODevice& out, const QStringList& fields, QString* error)
{
    const QByteArray line = csvLine(fields);
    if (out.write(line) == line.size())
        return true;
    *error = out.errorString();
    return false;
}

} // namespace

qint64 writeLogCsv(const QSqlDatabase& db, QIODevice& out, QString* error)
{
    QSqlQuery query(db);
    // Forward only: the driver then keeps the current row and not every row read so far.
    query.setForwardOnly(true);
    if (!query.exec(LogSql::selectView)) {
        *error = query.lastError().text();
        return -1;
    }
    if (out.write(csvByteOrderMark) != csvByteOrderMark.size()) {
        *error = out.errorString();
        return -1;
    }
    QStringList fields;
    for (int c = 0; c < LogViewModel::shownColumns; ++c)
        fields << csvField(LogViewModel::columnTitle(c));
    if (!writeLine(out, fields, error))
        return -1;
    qint64 rows = 0;
    while (query.next()) {
        // The message comes from the device's catalogue: it is text, whatever it starts with.
        fields = QStringList{ csvField(query.value(0).toString()), csvField(query.value(1).toString()),
                              csvTextField(LogViewModel::messageText(query.value(2), query.value(3).toByteArray())) };
        if (!writeLine(out, fields, error))
            return -1;
        ++rows;
    }
    // A statement that fails half-way (a damaged file) ends next() early.
    if (query.lastError().isValid()) {
        *error = query.lastError().text();
        return -1;
    }
    return rows;
}
