// The program's command line on a text console: no display and no platform named, as on a
// server or over ssh. Each option must answer and exit before any window system is needed.
#include <QProcess>
#include <QtTest>

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void withoutDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        const QString version = QString::fromUtf8(PRODUCT_NAME_UTF8 " " PRODUCT_VERSION "\n");
        QTest::newRow("version") << QStringList{"--version"} << 0 << version;
        QTest::newRow("Qt's own options left to Qt") << QStringList{"-platform", "offscreen", "-reverse", "--version"} << 0 << version;
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--port <PATH>";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 1 << "bogus";
        QTest::newRow("port without its path") << QStringList{"--port"} << 1 << "port";
        QTest::newRow("unreadable HART-IP server") << QStringList{"--hartip", "gateway:99999"} << 2 << "gateway:99999";
    }
    void withoutDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(CONFIGURATOR_PATH, arguments);
        QVERIFY(program.waitForFinished(10000));
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        const QString err = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        // --version prints exactly the name and version; --help lists the program's own option.
        if (arguments.last() == QLatin1String("--version"))
            QCOMPARE(out, output);
        else if (exitCode == 0)
            QVERIFY2(out.contains(output), qPrintable(out));
        else
            QVERIFY2(out.isEmpty() && err.contains(output), qPrintable(out + err));
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
