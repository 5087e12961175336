#include "modalanswerer.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

ModalAnswerer::ModalAnswerer()
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer.start(5);
}

void ModalAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen.append({ box->windowTitle(), box->text(), int(box->icon()) });
        QAbstractButton* button = boxAnswer ? box->button(QMessageBox::StandardButton(boxAnswer)) : nullptr;
        if (!button)
            button = box->defaultButton();
        if (!button)
            button = box->buttons().value(0);
        if (button)
            button->click();
        else
            box->reject();
        return;
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        if (!actions.isEmpty())
            actions.takeFirst()(dialog);
        else
            dialog->reject();
    }
}
