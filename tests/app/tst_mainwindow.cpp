#include "dialogtraffic.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "resources.h"
#include "russianlocale.h"
#include "versioninfo.h"
#include "pseudoterminal.h"
#include "values.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QSettings>
#include <QtTest>

#include <sys/file.h>
#include <sys/stat.h>

namespace {

// The modem, watched on the master side for anything the window sends.
struct Modem : PseudoTerminal {
    const QString path = QString::fromLocal8Bit(name);
    // Bytes the window wrote within the given time.
    int bytesWithin(int ms) const
    {
        int total = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            QCoreApplication::processEvents();
            total += int(receiveOnce(10).size());
        }
        return total;
    }
};

QSettings settings()
{
    return QSettings(QStringLiteral("Norvel"), QStringLiteral("Конфигуратор"));
}

QString storedPort() { return settings().value(QStringLiteral("PortName HART")).toString(); }

QAction* action(MainWindow& window, const char* name)
{
    return window.findChild<QAction*>(QString::fromLatin1(name));
}

}

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        settings().clear();
    }

    void leadingInteger_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("product version") << "2.1" << 2;
        QTest::newRow("blanks and sign") << "  +17beta" << 17;
        QTest::newRow("negative") << "-3" << -3;
        QTest::newRow("no digits") << "v2" << 0;
        QTest::newRow("too large saturates") << "99999999999" << 0x7FFFFFFF;
    }
    void leadingInteger()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(::leadingInteger(text), value);
    }

    // Connecting stores the port, opens it and sends nothing by itself; the choice
    // is offered again by the next window; disconnecting and closing release the port.
    void connectPersistsAndDisconnects()
    {
        Modem modem;
        QVERIFY(modem.master >= 0);
        ModalAnswerer answerer;
        {
            MainWindow window;
            window.show();
            answerer.choosePort(modem.path);
            action(window, "connectButton")->trigger();
            QAction* button = action(window, "connectButton");
            QCOMPARE(values(window.isPortOpen(), button->text(), button->isChecked(), storedPort()),
                     values(true, QStringLiteral("Разъединить"), true, modem.path));
            QCOMPARE(modem.bytesWithin(300), 0);

            button->trigger();
            QCOMPARE(values(window.isPortOpen(), button->text(), button->isChecked()),
                     values(false, QStringLiteral("Соединить"), false));
        }
        MainWindow restarted;
        QCOMPARE(restarted.storedPortName(), modem.path);
        answerer.choosePort(modem.path);
        action(restarted, "connectButton")->trigger();
        QVERIFY(restarted.isPortOpen());
        QVERIFY(restarted.close());
        QVERIFY(!restarted.isPortOpen());
    }

    // The demo's --port: the extra port is listed after the system's and can be chosen.
    void extraPortIsOffered()
    {
        Modem modem;
        ModalAnswerer answerer;
        MainWindow window;
        window.setExtraPorts({ modem.path });
        int listed = -1;
        QString preselected;
        answerer.queue([&](QWidget* dialog) {
            auto* port = dialog->findChild<QComboBox*>(QStringLiteral("port"));
            preselected = port->currentText();
            listed = port->findText(modem.path);
            port->setCurrentIndex(listed);
            static_cast<QDialog*>(dialog)->accept();
        });
        action(window, "connectButton")->trigger();
        // With no port stored yet it is the one preselected, not the machine's first port.
        QCOMPARE(preselected, modem.path);
        QVERIFY(listed >= 0);
        QVERIFY(window.isPortOpen());
    }

    void cancelChangesNothing()
    {
        settings().setValue(QStringLiteral("PortName HART"), QStringLiteral("ttyUSB7"));
        ModalAnswerer answerer;
        MainWindow window;
        answerer.choosePort(QStringLiteral("/dev/some-other-port"), false);
        action(window, "connectButton")->trigger();
        QCOMPARE(values(window.isPortOpen(), action(window, "connectButton")->isChecked(), storedPort(),
                        window.storedPortName()),
                 values(false, false, QStringLiteral("ttyUSB7"), QStringLiteral("ttyUSB7")));
    }

    // A port that cannot be opened leaves the window disconnected, quickly, and says which port
    // failed and why; the name is remembered all the same.
    void badPortIsExplained_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing" << "порт не найден. Проверьте, подключён ли модем.";
        QTest::newRow("busy") << "busy" << "порт занят другой программой. Закройте её и повторите попытку.";
        // Root opens anything.
        if (geteuid() != 0)
            QTest::newRow("no permission") << "denied" << "нет прав доступа к порту.\nДобавьте пользователя в группу dialout "
                                                         "(sudo usermod -a -G dialout $USER) и войдите в систему заново.";
    }
    void badPortIsExplained()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, reason);
        Modem modem;
        int holder = -1;
        QString name = trouble == "missing" ? QStringLiteral("/dev/no-such-hart-modem") : modem.path;
        if (trouble == "busy") {
            holder = ::open(name.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(holder >= 0);
            QCOMPARE(flock(holder, LOCK_EX | LOCK_NB), 0);
        } else if (trouble == "denied") {
            QCOMPARE(::chmod(name.toLocal8Bit().constData(), 0), 0);
        }
        ModalAnswerer answerer;
        MainWindow window;
        answerer.choosePort(name);
        QElapsedTimer clock;
        clock.start();
        action(window, "connectButton")->trigger();
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(values(window.isPortOpen(), action(window, "connectButton")->text(), storedPort()),
                 values(false, QStringLiteral("Соединить"), name));
        QCOMPARE(answerer.boxes().size(), 1);
        QCOMPARE(answerer.boxes()[0].text, QStringLiteral("Не удалось открыть порт %1: ").arg(name) + reason);
        if (holder >= 0)
            ::close(holder);
    }

    // Dates and numbers in the editable fields read the Russian way whatever the machine's locale.
    void russianFormats()
    {
        installRussian(*QCoreApplication::instance());
        MainWindow window;
        QCOMPARE(window.findChild<QDateEdit*>(QStringLiteral("date"))->text(), QStringLiteral("01.01.2000"));
        auto* current = window.findChild<QDoubleSpinBox*>(QStringLiteral("currentError"));
        current->setValue(3.6);
        QCOMPARE(current->text(), QStringLiteral("3,600 мА"));
        QLocale::setDefault(QLocale::c());
    }

    // The traffic action shows and hides the monitor; closing the monitor unchecks the action.
    void trafficWindowFollowsItsAction()
    {
        MainWindow window;
        window.show();
        auto* monitor = window.findChild<DialogTraffic*>();
        QVERIFY(monitor && !monitor->isVisible());
        QAction* traffic = action(window, "traffic");
        traffic->trigger();
        QCOMPARE(values(traffic->isChecked(), monitor->isVisible()), values(true, true));
        traffic->trigger();
        QVERIFY(!monitor->isVisible());
        traffic->trigger();
        monitor->reject();
        QCOMPARE(values(traffic->isChecked(), monitor->isVisible()), values(false, false));
    }

    void aboutSequenceRevealsCalibration()
    {
        ModalAnswerer answerer;
        MainWindow window;
        QAction* calibration = action(window, "calibration");
        QVERIFY(!calibration->isVisible());
        answerer.queue([](QWidget* dialog) {
            for (char key : QByteArray("KLOVENT"))
                QTest::keyClick(dialog, Qt::Key(key));
        });
        action(window, "aboutAction")->trigger();
        QVERIFY(calibration->isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
