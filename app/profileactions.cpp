// Parameter profiles: the main window's configuration fields saved to a configuration file and
// loaded into the fields of another detector of the same model, to be written from there.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "savefilename.h"
#include "profile.h"
#include "profilefields.h"
#include "programfile.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>

namespace {

const QString profileFilter = QStringLiteral("Файлы конфигурации (*.cfg)");

}

void MainWindow::setupProfiles()
{
    profileFields = std::make_unique<ProfileFields>(ui);
    ui->menu->addSeparator();
    QAction* save = ui->menu->addAction(QStringLiteral("Сохранить параметры извещателя…"));
    save->setObjectName(QStringLiteral("saveProfile"));
    connect(save, &QAction::triggered, this, &MainWindow::chooseProfileToSave);
    QAction* load = ui->menu->addAction(QStringLiteral("Загрузить параметры извещателя…"));
    load->setObjectName(QStringLiteral("loadProfile"));
    connect(load, &QAction::triggered, this, &MainWindow::chooseProfileToLoad);
}

void MainWindow::chooseProfileToSave()
{
    const QString name = saveFileName(this, QStringLiteral("Сохранить параметры извещателя"), lastSaveDir,
                                      profileFilter, QStringLiteral("cfg"));
    if (name.isEmpty())
        return;
    rememberSaveDir(QFileInfo(name).absolutePath());
    ConfigDocument document(name);
    ProgramFile::fill(document, internalName.toUtf8(), versionNumber);
    Profile::write(document, profileFields->values(expandedDeviceType));
    saveProgramFile(document);
}

void MainWindow::chooseProfileToLoad()
{
    const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Загрузить параметры извещателя"),
                                                      lastOpenDir, profileFilter);
    if (name.isEmpty())
        return;
    rememberOpenDir(QFileInfo(name).absolutePath());
    ConfigDocument document(name);
    if (!loadProgramFile(document))
        return;
    const Profile::ReadOutcome read = Profile::read(document, profileFields->limits());
    if (read.result == Profile::ReadResult::NoParameters) {
        reportError(QStringLiteral("В файле нет параметров извещателя"));
        return;
    }
    // Analysis types, ranges and configuration bits mean different things on another model.
    if (read.modelRead && read.values.model != expandedDeviceType) {
        reportError(QStringLiteral("Параметры в файле сохранены для другой модели извещателя: %1.\n"
                                   "Модель извещателя в окне: %2.\nПараметры не загружены.")
                        .arg(Profile::modelCaption(read.values.model), Profile::modelCaption(expandedDeviceType)));
        return;
    }
    if (read.result == Profile::ReadResult::BadValue) {
        reportError(QStringLiteral("Неверное значение параметра \"%1\" в файле.\nПараметры не загружены.")
                        .arg(read.badEntry));
        return;
    }
    const QList<Profile::Field> changed = Profile::differences(profileFields->values(expandedDeviceType), read.values);
    std::uint8_t groups = 0;
    for (Profile::Field f : changed)
        groups |= Profile::groupOf(f);
    // The fields' own change signals mark what they touch; the marks end up exactly on the
    // groups the profile changed, besides those already edited. Nothing is sent from here.
    const std::uint8_t modifiedBefore = modifiedGroups;
    const std::uint8_t editedBefore = editedSinceWrite;
    profileFields->apply(read.values);
    modifiedGroups = modifiedBefore | groups;
    editedSinceWrite = editedBefore | groups;
    profileFields->highlight(changed);
}
