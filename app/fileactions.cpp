// The configuration file actions and the firmware action of the main window.

#include "mainwindow.h"

#include "savefilename.h"
#include "programfile.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

const QString configFilter = QStringLiteral("Файлы конфигурации (*.cfg)");

}

void MainWindow::on_fileSave_triggered()
{
    const QString name
        = saveFileName(this, QStringLiteral("Сохранить файл как"), lastSaveDir, configFilter, QStringLiteral("cfg"));
    if (name.isEmpty())
        return;
    rememberSaveDir(QFileInfo(name).absolutePath());
    ConfigDocument document(name);
    ProgramFile::fill(document, internalName.toUtf8(), versionNumber);
    saveProgramFile(document);
}

void MainWindow::on_fileOpen_triggered()
{
    const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Открыть файл"), lastOpenDir, configFilter);
    if (name.isEmpty())
        return;
    rememberOpenDir(QFileInfo(name).absolutePath());
    ConfigDocument document(name);
    loadProgramFile(document);
}

bool MainWindow::loadProgramFile(ConfigDocument& document)
{
    document.load();
    switch (ProgramFile::check(document, internalName.toUtf8(), versionNumber)) {
    case ProgramFile::Check::WrongFormat:
        reportError(QStringLiteral("Неверный формат файла"));
        return false;
    case ProgramFile::Check::NewerVersion:
        reportError(QStringLiteral("Файл конфигурации более новой версии, чем версия программы"));
        return false;
    case ProgramFile::Check::Accepted:
        break;
    }
    return true;
}

void MainWindow::saveProgramFile(ConfigDocument& document)
{
    // A save that did not happen is said, or the engineer would count on a file that is not there.
    if (!document.save())
        reportError(QStringLiteral("Не удается сохранить файл"));
    else
        noteDone(QStringLiteral("Файл сохранён: %1").arg(QFileInfo(document.filePath()).fileName()));
}

void MainWindow::on_actionFirmwareUpdate_triggered()
{
    if (!checkPortOpen())
        return;
    // Nothing else goes to the device while the image does.
    stopPolling();
    firmwareWindow.exec();
}
