// A commissioning report of a simulated detector: the detector is read with its live values,
// one setting is written, the optics are checked, its event log is downloaded, and "Отчёт о проверке…" writes DIR/report.pdf.
// The audit trail lives in a temporary data folder, never the user's own.
//
//   build/bench/app/report_shot DIR   (scripts/screenshots --report renders its pages)

#include "mainwindow.h"
#include "modalanswerer.h"
#include "resources.h"
#include "russianlocale.h"
#include "simulatedwindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: report_shot DIR\n");
        return 2;
    }
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QApplication application(argc, argv);
    initResources();
    installRussian(application);
    const QString report = QDir(QString::fromLocal8Bit(argv[1])).absoluteFilePath(QStringLiteral("report.pdf"));
    ModalAnswerer answerer;
    SimulatedWindow rig(answerer);
    if (!rig.isConnected()) {
        std::fprintf(stderr, "the simulated detector did not connect\n");
        return 1;
    }
    MainWindow& window = rig.window();
    auto action = [&window](const char* name) { return window.findChild<QAction*>(QString::fromLatin1(name)); };
    action("connectRead")->trigger();
    rig.runUntilQuiet(100);
    window.centralWidget()->findChild<QLineEdit*>(QStringLiteral("tag"))->setText(QStringLiteral("TK-12"));
    action("connectWrite")->trigger();
    rig.runUntilQuiet(100);
    action("actionCheckOptics")->trigger();
    rig.runUntilQuiet(100);
    // The device's event log, downloaded into a file of this device.
    window.eventLog().createLog(data.filePath(QStringLiteral("log.db")));
    window.eventLog().findChild<QAction*>(QStringLiteral("actionRead"))->trigger();
    rig.runUntilQuiet(400);
    // One round of the live values.
    QMetaObject::invokeMethod(&window, "requestTimerUpdate");
    rig.runUntilQuiet(100);
    answerer.chooseFile(report);
    // The action is enabled as its menu opens.
    emit window.findChild<QMenu*>(QStringLiteral("menu"))->aboutToShow();
    action("actionReport")->trigger();
    for (const auto& box : answerer.boxes())
        std::fprintf(stderr, "message box: %s\n", qPrintable(box.text));
    std::printf("report: %s\n", qPrintable(report));
    return QFileInfo::exists(report) ? 0 : 1;
}
