#include "mainwindow.h"
#include "resources.h"
#include "russianlocale.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    initResources();
    installRussian(application);
    // --port PATH offers one more port in the port dialog, e.g. the simulator's pseudo-terminal,
    // which the system's port list does not show.
    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Дополнительный порт в списке"),
                                        QStringLiteral("PATH"));
    options.addOption(portOption);
    options.process(application);

    int result = 0;
    {
        // The window goes before the application object.
        MainWindow window;
        window.setExtraPorts(options.values(portOption));
        window.show();
        result = application.exec();
    }
    return result;
}
