// Linked into every test program: its settings and files live in a folder of its own, removed
// at exit, so a test run by hand never reads or clears the user's own configuration.

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

namespace {

void isolateUserFiles()
{
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/configurator-test-XXXXXX"));
    if (!home.isValid())
        qFatal("no folder for the test's own settings");
    for (const char* variable : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME" })
        qputenv(variable, home.path().toLocal8Bit() + '/' + variable);
    // The registry on Windows would be the user's own: use files there too.
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
}

} // namespace

// Runs inside the application object's constructor, before any test code.
Q_COREAPP_STARTUP_FUNCTION(isolateUserFiles)
