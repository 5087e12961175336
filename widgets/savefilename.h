#pragma once

#include <QString>

class QWidget;

// QFileDialog::getSaveFileName that adds ".suffix" to a name typed without one, before the
// dialog asks whether to replace an existing file of that name: the open dialogs list files
// by their suffix, and a spreadsheet or a file manager picks a program by it.
QString saveFileName(QWidget* parent, const QString& caption, const QString& directory, const QString& filter,
                     const QString& suffix);
