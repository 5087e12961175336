#include "mainwindow.h"
#include "resources.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    initResources();
    int result = 0;
    {
        // The window goes before the application object.
        MainWindow window;
        window.show();
        result = application.exec();
    }
    return result;
}
