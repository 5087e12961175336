// A picture of a parameter profile just loaded into the main window: a detector is read, a
// few of its settings are changed and saved as a profile, the detector is read again, and the
// profile is loaded, which highlights the fields it changed.
//
//   build/bench/app/profile_shot DIR   (run it under xvfb-run for a real X server)

#include "mainwindow.h"
#include "modalanswerer.h"
#include "resources.h"
#include "simulatedwindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>

namespace {

void readDevice(SimulatedWindow& rig)
{
    QAction* read = rig.window().findChild<QAction*>(QStringLiteral("connectRead"));
    read->trigger();
    rig.runUntilQuiet(100);
    read->trigger();
}

template <class T>
T* field(MainWindow& window, const char* name)
{
    return window.centralWidget()->findChild<T*>(QString::fromLatin1(name));
}

void trigger(ModalAnswerer& answerer, MainWindow& window, const char* action, const QString& path)
{
    answerer.chooseFile(path);
    window.findChild<QAction*>(QString::fromLatin1(action))->trigger();
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: profile_shot DIR\n");
        return 2;
    }
    QApplication application(argc, argv);
    initResources();
    const QString shotDir = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir dir;
    ModalAnswerer answerer;
    SimulatedWindow rig(answerer);
    if (!rig.isConnected()) {
        std::fprintf(stderr, "the simulated detector did not connect\n");
        return 1;
    }
    MainWindow& window = rig.window();
    window.show();
    readDevice(rig);

    field<QLineEdit>(window, "tag")->setText(QStringLiteral("TK-12"));
    field<QLineEdit>(window, "descriptor")->setText(QStringLiteral("CEH 4 OTM 12"));
    field<QDoubleSpinBox>(window, "sensitivity")->setValue(80);
    field<QCheckBox>(window, "autoHeat")->toggle();
    field<QDoubleSpinBox>(window, "currentAlarm")->setValue(20);
    const QString profile = dir.filePath(QStringLiteral("profile.cfg"));
    trigger(answerer, window, "saveProfile", profile);

    readDevice(rig);
    trigger(answerer, window, "loadProfile", profile);
    for (int i = 0; i < 10; ++i)
        application.processEvents();
    for (const auto& box : answerer.boxes())
        std::fprintf(stderr, "message box: %s\n", qPrintable(box.text));
    const QString picture = shotDir + QStringLiteral("/profile-loaded.png");
    if (!window.grab().save(picture))
        return 1;
    std::printf("groups marked after the load: 0x%02X\n", window.modifiedParameterGroups());
    return 0;
}
