#include "logviewmodel.h"

#include "formatcaption.h"

#include <QColor>
#include <QPixmap>

namespace {

const QString iconPaths[] = {
    QStringLiteral(":/new/prefix/Resources/Icons/Basic/16x16/info.png"),
    QStringLiteral(":/new/prefix/Resources/Icons/Basic/16x16/warning.png"),
    QStringLiteral(":/new/prefix/Resources/Icons/Basic/16x16/delete_button_error.png"),
    QStringLiteral(":/new/prefix/Resources/Icons/Industry/16x16/manufacturing_process_1_gear-edit.png"),
};

// Classes without an icon of their own show the information icon.
QPixmap classIcon(const QVariant& value)
{
    static const QPixmap icons[] = {QPixmap(iconPaths[0]), QPixmap(iconPaths[1]), QPixmap(iconPaths[2]),
                                    QPixmap(iconPaths[3])};
    bool ok = false;
    const qulonglong type = value.toULongLong(&ok);
    return ok && type <= 3 ? icons[type] : icons[0];
}

} // namespace

QVariant LogViewModel::data(const QModelIndex& index, int role) const
{
    if (index.column() == 0 && role == Qt::DecorationRole)
        return classIcon(QSqlQueryModel::data(index, Qt::DisplayRole));
    if (index.column() == 0 && role == Qt::DisplayRole)
        return QString();
    if (index.column() == 2 && (role == Qt::DisplayRole || role == Qt::BackgroundRole)) {
        const QVariant caption = QSqlQueryModel::data(index, Qt::DisplayRole);
        if (role == Qt::BackgroundRole)
            return caption.isNull() ? QVariant(QColor(Qt::red)) : QSqlQueryModel::data(index, role);
        return messageText(caption, QSqlQueryModel::data(index.sibling(index.row(), 3), Qt::DisplayRole).toByteArray());
    }
    return QSqlQueryModel::data(index, role);
}

QString LogViewModel::messageText(const QVariant& caption, const QByteArray& bytes)
{
    if (caption.isNull())
        return QStringLiteral("Неизвестное событие");
    return formatCaption(caption.toString(), bytes);
}

QString LogViewModel::columnTitle(int section)
{
    switch (section) {
    case 0: return QStringLiteral("Тип");
    case 1: return QStringLiteral("Время");
    case 2: return QStringLiteral("Сообщение");
    default: return QString();
    }
}

QVariant LogViewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section; // rows count from 0
    const QString title = columnTitle(section);
    return title.isEmpty() ? QVariant() : QVariant(title);
}
