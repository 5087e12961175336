#include "mainwindow.h"
#include "resources.h"
#include "russianlocale.h"
#include "versioninfo.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>

namespace {

struct CommandLine {
    QStringList extraPorts;
    bool hartIpGiven = false;
    HartIpAddress hartIpServer;
};

// The options QApplication takes out of the command line for itself (-platform offscreen,
// -style fusion, ...). The command line is read before it exists, so they are known here too,
// unlisted, and left for it.
void acceptQtOptions(QCommandLineParser& options)
{
    static const char* const withValue[] = {
        "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
        "qwindowtitle", "title", "qwindowicon", "icon", "display", "name", "session", "style",
        "stylesheet", "qmljsdebugger",
    };
    static const char* const flags[] = { "reverse", "testability", "widgetcount", "nograb", "dograb", "sync" };
    for (const char* name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        options.addOption(option);
    }
    for (const char* name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        options.addOption(option);
    }
    // Qt writes its own options with one dash.
    options.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

// The command line is read before the window system is touched, so --help, --version and a
// mistyped option answer on a text console: QCommandLineParser prints and exits from process().
// Returns the extra ports to offer in the port dialog and the HART-IP server given.
CommandLine readCommandLine(int& argc, char* argv[])
{
    QCoreApplication commandLine(argc, argv);
    installRussian(commandLine);
    // --version prints the product name and version from the version information; the names
    // outlive this application object.
    const QString programPath = QCoreApplication::applicationFilePath();
    QCoreApplication::setApplicationName(versionString(programPath, "ProductName"));
    QCoreApplication::setApplicationVersion(versionString(programPath, "ProductVersion"));
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
    acceptQtOptions(options);
    options.process(commandLine);
    CommandLine read;
    read.extraPorts = options.values(portOption);
    read.hartIpGiven = options.isSet(hartIpOption);
    if (read.hartIpGiven && !HartIpAddress::parse(options.value(hartIpOption), read.hartIpServer)) {
        fprintf(stderr, "%s\n", qPrintable(QStringLiteral("Неверный адрес HART-IP: ") + options.value(hartIpOption)));
        std::exit(2);
    }
    return read;
}

}

int main(int argc, char* argv[])
{
    const CommandLine commandLine = readCommandLine(argc, argv);
    QApplication application(argc, argv);
    initResources();
    installRussian(application);

    int result = 0;
    {
        // The window goes before the application object.
        MainWindow window;
        window.setExtraPorts(commandLine.extraPorts);
        if (commandLine.hartIpGiven)
            window.setHartIpServer(commandLine.hartIpServer);
        window.show();
        result = application.exec();
    }
    return result;
}
