#include "modalanswerer.h"

#include <QApplication>
#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

ModalAnswerer::ModalAnswerer()
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer.start(5);
}

void ModalAnswerer::choosePort(const QString& name, bool accept)
{
    queue([=](QWidget* dialog) {
        // The serial choice, whatever the dialog remembered (a HART-IP server, perhaps).
        if (auto* serial = dialog->findChild<QAbstractButton*>(QStringLiteral("serialChoice")))
            serial->setChecked(true);
        auto* port = dialog->findChild<QComboBox*>(QStringLiteral("port"));
        if (port->findText(name) < 0)
            port->addItem(name);
        port->setCurrentText(name);
        static_cast<QDialog*>(dialog)->done(accept ? QDialog::Accepted : QDialog::Rejected);
    });
}

QStringList ModalAnswerer::titledTexts() const
{
    QStringList texts;
    for (const Box& box : seen)
        texts << box.title + '/' + box.text;
    return texts;
}

void ModalAnswerer::chooseFile(const QString& path)
{
    queue([=](QWidget* dialog) {
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        if (!name || !buttons) {
            static_cast<QDialog*>(dialog)->reject();
            return;
        }
        name->setText(path);
        const auto accept = buttons->button(QDialogButtonBox::Open) ? QDialogButtonBox::Open : QDialogButtonBox::Save;
        if (QAbstractButton* button = buttons->button(accept))
            button->click();
    });
}

void ModalAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen.append({ box->windowTitle(), box->text(), int(box->icon()) });
        if (onBox)
            onBox(seen.last());
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
        else if (!keepOpen || !keepOpen(dialog))
            dialog->reject();
    }
}
