#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

// Each row of a query on the SQLite file at path, its fields joined by " | ", NULL spelled out.
inline QStringList sqlRows(const QString& path, const QString& sql)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(sql, db);
        while (query.next()) {
            QStringList fields;
            for (int i = 0; i < query.record().count(); ++i)
                fields << (query.value(i).isNull() ? QStringLiteral("NULL") : query.value(i).toString());
            out << fields.join(QStringLiteral(" | "));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return out;
}
