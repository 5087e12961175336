// screenshot_main PORT OUTPUT.png [SECONDS]: connects the main window to PORT (the simulator's
// pseudo-terminal) through the port dialog, reads the detector for a few seconds with the real
// timers, and saves a picture of the whole window. Not a test; scripts/screenshot-main runs it.

#include "mainwindow.h"
#include "resources.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT OUTPUT.png [SECONDS]\n", argv[0]);
        return 2;
    }
    initResources();
    const QString port = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    const int seconds = argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : 8;

    MainWindow window;
    window.show();

    // Picks the port in the port dialog; any message box is printed and closed so that the
    // run never waits for a person.
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&port] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            std::fprintf(stderr, "message: %s / %s\n", qPrintable(box->windowTitle()), qPrintable(box->text()));
            box->done(QMessageBox::Ok);
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            if (auto* list = dialog->findChild<QComboBox*>(QStringLiteral("port"))) {
                list->addItem(port);
                list->setCurrentText(port);
                dialog->accept();
            } else {
                dialog->reject();
            }
        }
    });
    answerer.start(20);

    auto action = [&window](const char* name) { return window.findChild<QAction*>(QLatin1String(name)); };
    QTimer::singleShot(100, [&] {
        action("connectButton")->trigger();
        if (!window.isPortOpen()) {
            std::fprintf(stderr, "could not open %s\n", qPrintable(port));
            application.exit(1);
            return;
        }
        action("connectRead")->trigger();
    });
    QTimer::singleShot(seconds * 1000, [&] {
        const bool saved = window.grab().save(output);
        std::fprintf(stderr, "%s %s (sent %u, received %u)\n", saved ? "saved" : "could not save",
                     qPrintable(output), window.sentPackets(), window.receivedPackets());
        application.exit(saved ? 0 : 1);
    });
    return application.exec();
}
