#pragma once
// Statements run on a SQLite file through a connection of its own, with SQLite's own library
// rather than the program's driver.

#include <QStringList>
#include <QVariantList>

#include <sqlite3.h>

// Rows as lists of values (NULL as an invalid QVariant).
inline QList<QVariantList> sqlite(const QString& file, const QString& sql)
{
    QList<QVariantList> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open(file.toUtf8().constData(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    const QByteArray text = sql.toUtf8();
    const char* tail = text.constData();
    while (tail && *tail) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, tail, -1, &stmt, &tail) != SQLITE_OK || !stmt)
            break;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QVariantList row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_NULL: row << QVariant(); break;
                case SQLITE_INTEGER: row << QVariant(qint64(sqlite3_column_int64(stmt, c))); break;
                case SQLITE_TEXT: row << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c))); break;
                default:
                    row << QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, c)), sqlite3_column_bytes(stmt, c));
                }
            }
            rows << row;
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rows;
}

// Each row of a query, its fields joined by " | ", NULL spelled out.
inline QStringList sqlRows(const QString& file, const QString& sql)
{
    QStringList out;
    for (const QVariantList& row : sqlite(file, sql)) {
        QStringList fields;
        for (const QVariant& value : row)
            fields << (value.isValid() ? value.toString() : QStringLiteral("NULL"));
        out << fields.join(QStringLiteral(" | "));
    }
    return out;
}
