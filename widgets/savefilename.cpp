#include "savefilename.h"

#include <QFileDialog>

QString saveFileName(QWidget* parent, const QString& caption, const QString& directory, const QString& filter,
                     const QString& suffix)
{
    QFileDialog dialog(parent, caption, directory, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}
