#include "mainwindow.h"
#include "resources.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    initResources();
    // Qt's own buttons and dialogs (Cancel, Yes, No, the file dialog) in Russian like the rest.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ru"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&qtTranslator);
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
