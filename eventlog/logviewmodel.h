#pragma once

#include <QSqlQueryModel>

// The records of a log file as the view shows them: the class icon, the time, and the caption
// rendered with the record's bytes. Columns: 0 class, 1 time, 2 caption, 3 bytes (hidden).
class LogViewModel : public QSqlQueryModel {
    Q_OBJECT

public:
    using QSqlQueryModel::QSqlQueryModel;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The columns the view shows (the bytes stay hidden), with their titles; the CSV export
    // writes the same columns through the same texts.
    static constexpr int shownColumns = 3;
    static QString columnTitle(int section);
    // The message column's text: the caption rendered with the record's bytes, or the text for
    // an event the catalogue lacks (a NULL caption).
    static QString messageText(const QVariant& caption, const QByteArray& bytes);
};
