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
};
