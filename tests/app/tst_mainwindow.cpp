#include "dialogtraffic.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "resources.h"
#include "versioninfo.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QSettings>
#include <QSpinBox>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A pseudo-terminal pair standing in for the modem: the window opens the slave path, the test
// keeps only the master side and watches it for anything the window sends.
struct Modem {
    int master = -1;
    QString path;

    Modem()
    {
        char name[128] = {};
        int slave = -1;
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            path = QString::fromLocal8Bit(name);
            termios raw {};
            tcgetattr(slave, &raw);
            cfmakeraw(&raw);
            tcsetattr(slave, TCSANOW, &raw);
            ::close(slave);
        }
    }
    ~Modem() { ::close(master); }
    // Bytes the window wrote within the given time.
    int bytesWithin(int ms) const
    {
        int total = 0;
        char buffer[256];
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            QCoreApplication::processEvents();
            pollfd p { master, POLLIN, 0 };
            if (::poll(&p, 1, 10) > 0 && (p.revents & POLLIN))
                total += int(qMax<ssize_t>(0, ::read(master, buffer, sizeof buffer)));
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
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("too large saturates") << "99999999999" << 0x7FFFFFFF;
    }
    void leadingInteger()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(::leadingInteger(text), value);
    }

    void startUpOpensNothing()
    {
        MainWindow window;
        window.show();
        QCOMPARE(window.windowTitle(), QStringLiteral("Конфигуратор ИПП-93кт-Hart"));
        QCOMPARE(window.version(), 2);
        QVERIFY(!window.isPortOpen());
        QAction* connect = action(window, "connectButton");
        QCOMPARE(connect->text(), QStringLiteral("Соединить"));
        QVERIFY(!connect->isChecked());
        auto* address = window.findChild<QSpinBox*>(QStringLiteral("deviceAddressSpinBox"));
        QVERIFY(address);
        QCOMPARE(address->value(), 0);
        QCOMPARE(address->maximum(), 62);
    }

    // Connecting stores the port, opens it exclusively and sends nothing by itself; the choice
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
            QVERIFY(window.isPortOpen());
            QCOMPARE(action(window, "connectButton")->text(), QStringLiteral("Разъединить"));
            QVERIFY(action(window, "connectButton")->isChecked());
            QCOMPARE(storedPort(), modem.path);

            // Another program cannot take the modem while the window holds it.
            const int other = ::open(modem.path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (other >= 0) {
                QVERIFY(flock(other, LOCK_EX | LOCK_NB) != 0);
                ::close(other);
            }
            QCOMPARE(modem.bytesWithin(300), 0);

            action(window, "connectButton")->trigger();
            QVERIFY(!window.isPortOpen());
            QCOMPARE(action(window, "connectButton")->text(), QStringLiteral("Соединить"));
            QVERIFY(!action(window, "connectButton")->isChecked());
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
        answerer.queue([&](QWidget* dialog) {
            auto* port = dialog->findChild<QComboBox*>(QStringLiteral("port"));
            listed = port->findText(modem.path);
            port->setCurrentIndex(listed);
            static_cast<QDialog*>(dialog)->accept();
        });
        action(window, "connectButton")->trigger();
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
        QVERIFY(!window.isPortOpen());
        QVERIFY(!action(window, "connectButton")->isChecked());
        QCOMPARE(storedPort(), QStringLiteral("ttyUSB7"));
        QCOMPARE(window.storedPortName(), QStringLiteral("ttyUSB7"));
    }

    // A port that is missing or busy leaves the window disconnected, quickly and silently;
    // the name is remembered all the same.
    void badPortStaysDisconnected_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::newRow("missing") << false;
        QTest::newRow("busy") << true;
    }
    void badPortStaysDisconnected()
    {
        QFETCH(bool, busy);
        Modem modem;
        int holder = -1;
        QString name = QStringLiteral("/dev/no-such-hart-modem");
        if (busy) {
            name = modem.path;
            holder = ::open(name.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(holder >= 0);
            QCOMPARE(flock(holder, LOCK_EX | LOCK_NB), 0);
        }
        ModalAnswerer answerer;
        MainWindow window;
        answerer.choosePort(name);
        QElapsedTimer clock;
        clock.start();
        action(window, "connectButton")->trigger();
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(!window.isPortOpen());
        QCOMPARE(action(window, "connectButton")->text(), QStringLiteral("Соединить"));
        QVERIFY(answerer.boxes().isEmpty());
        QCOMPARE(storedPort(), name);
        if (holder >= 0)
            ::close(holder);
    }

    // The traffic action shows and hides the monitor; closing the monitor unchecks the action.
    void trafficWindowFollowsItsAction()
    {
        MainWindow window;
        window.show();
        auto* monitor = window.findChild<DialogTraffic*>();
        QVERIFY(monitor);
        QVERIFY(!monitor->isVisible());
        action(window, "traffic")->trigger();
        QVERIFY(action(window, "traffic")->isChecked());
        QVERIFY(monitor->isVisible());
        action(window, "traffic")->trigger();
        QVERIFY(!monitor->isVisible());
        action(window, "traffic")->trigger();
        monitor->reject();
        QVERIFY(!monitor->isVisible());
        QVERIFY(!action(window, "traffic")->isChecked());
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
