#include "mainwindow.h"
#include "resources.h"

#include <QApplication>
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
    int result = 0;
    {
        // The window goes before the application object.
        MainWindow window;
        window.show();
        result = application.exec();
    }
    return result;
}
