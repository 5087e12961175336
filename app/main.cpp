#include "mainwindow.h"
#include "resources.h"
#include "russianlocale.h"
#include "versioninfo.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    initResources();
    installRussian(application);
    // --version prints the product name and version from the version information.
    const QString programPath = QCoreApplication::applicationFilePath();
    application.setApplicationName(versionString(programPath, "ProductName"));
    application.setApplicationVersion(versionString(programPath, "ProductVersion"));
    QCommandLineParser options;
    options.addHelpOption();
    options.addVersionOption();
    // --port PATH offers one more port in the port dialog, e.g. the simulator's pseudo-terminal,
    // which the system's port list does not show.
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Дополнительный порт в списке"),
                                        QStringLiteral("PATH"));
    options.addOption(portOption);
    // --hartip HOST[:PORT][/tcp] preselects a HART-IP server (a gateway, or the simulator).
    const QCommandLineOption hartIpOption(QStringLiteral("hartip"), QStringLiteral("Сервер HART-IP"),
                                          QStringLiteral("HOST[:PORT][/tcp]"));
    options.addOption(hartIpOption);
    options.process(application);
    HartIpAddress hartIpServer;
    const bool hartIpGiven = options.isSet(hartIpOption);
    if (hartIpGiven && !HartIpAddress::parse(options.value(hartIpOption), hartIpServer)) {
        fprintf(stderr, "%s\n", qPrintable(QStringLiteral("Неверный адрес HART-IP: ") + options.value(hartIpOption)));
        return 2;
    }

    int result = 0;
    {
        // The window goes before the application object.
        MainWindow window;
        window.setExtraPorts(options.values(portOption));
        if (hartIpGiven)
            window.setHartIpServer(hartIpServer);
        window.show();
        result = application.exec();
    }
    return result;
}
