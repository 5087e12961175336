#include "comhalfduplexterminal.h"
#include "serialport.h"
#include "../support/pseudoterminal.h"
#include "../support/values.h"

#include <QtTest>

#include <termios.h>

#include <ctime>
#include <functional>
#include <numeric>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
using PortFactory = std::function<std::unique_ptr<SerialPort>()>;
Q_DECLARE_METATYPE(SerialPortError)
Q_DECLARE_METATYPE(PortFactory)

namespace {

// Time until the terminal reaches the state, or -1 after two seconds.
qint64 msUntil(const ComHalfDuplexTerminal& terminal, TerminalState state)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000) {
        if (terminal.state() == state)
            return clock.elapsed();
        QThread::usleep(200);
    }
    return -1;
}

constexpr unsigned characterMs = 9; // 1200 baud 8O1

// A terminal with its own buffer, to be opened at 1200 baud 8O1.
struct Terminal : ComHalfDuplexTerminal {
    Terminal() : ComHalfDuplexTerminal(buffer, sizeof buffer, 2) {}
    bool open(const QByteArray& name) { return ComHalfDuplexTerminal::open(name.constData(), 1200, 1, 0); }
    std::uint8_t buffer[256] = {};
};

} // namespace

class TestSerialPosix : public QObject {
    Q_OBJECT

private slots:
    // The contract every backend keeps, checked against each one that runs here.
    void portContract_data()
    {
        QTest::addColumn<PortFactory>("make");
        QTest::newRow("posix") << PortFactory(createSerialPort);
    }
    void portContract()
    {
        QFETCH(PortFactory, make);
        PseudoTerminal pty;
        std::unique_ptr<SerialPort> port = make();
        const SerialLineSettings line;
        std::uint8_t data[SerialPort::maxReadSize];
        std::size_t received = 99;

        QCOMPARE(port->open(pty.name.constData(), line, characterMs), SerialPortError::None);
        QVERIFY(port->isOpen());

        // A silent line: nothing, after about one read time-out.
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(port->read(data, sizeof data, received), SerialPortError::None);
        QCOMPARE(received, std::size_t(0));
        QVERIFY2(clock.elapsed() >= characterMs - 2 && clock.elapsed() < 200,
                 qPrintable(QString::number(clock.elapsed())));

        QVERIFY(pty.send({0x10, 0x20, 0x30}));
        Bytes got;
        for (int i = 0; i < 20 && got.size() < 3; ++i) {
            port->read(data, sizeof data, received);
            got.insert(got.end(), data, data + received);
        }
        QCOMPARE(got, Bytes({0x10, 0x20, 0x30}));

        // A block goes out whole.
        Bytes block(300);
        std::iota(block.begin(), block.end(), std::uint8_t(0));
        QCOMPARE(port->write(block.data(), block.size()), SerialPortError::None);
        QCOMPARE(pty.receiveOnce(500), block);

        QVERIFY(pty.send({0x01, 0x02}));
        QThread::msleep(20);
        QCOMPARE(port->purge(), SerialPortError::None);
        QCOMPARE(port->read(data, sizeof data, received), SerialPortError::None);
        QCOMPARE(received, std::size_t(0));

        port->clearErrors();
        port->raiseThreadPriority();
        port->lowerThreadPriority();
        port->close();
        port->close();
        QVERIFY(!port->isOpen());
        QVERIFY(port->read(data, sizeof data, received) != SerialPortError::None);
        QCOMPARE(received, std::size_t(0));
        QCOMPARE(port->open(pty.name.constData(), line, characterMs), SerialPortError::None);
    }

    void appliedSettings_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<speed_t>("speed"); // B0: the settings are refused
        QTest::newRow("1200 8O1") << 1200 << 1 << 0 << speed_t(B1200);
        QTest::newRow("9600 8N2") << 9600 << 0 << 2 << speed_t(B9600);
        QTest::newRow("115200 8E1") << 115200 << 2 << 0 << speed_t(B115200);
        QTest::newRow("1.5 stop bits") << 1200 << 1 << 1 << speed_t(B0);
        QTest::newRow("odd rate") << 12345 << 1 << 0 << speed_t(B0);
    }
    void appliedSettings()
    {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        QFETCH(speed_t, speed);
        PseudoTerminal pty;
        auto port = createSerialPort();
        const SerialLineSettings line{std::uint32_t(baud), SerialParity(parity), SerialStopBits(stopBits)};
        QCOMPARE(port->open(pty.name.constData(), line, characterMs),
                 speed == B0 ? SerialPortError::BadSettings : SerialPortError::None);
        QCOMPARE(port->isOpen(), speed != B0);
        if (speed == B0)
            return;

        termios tio{};
        QCOMPARE(tcgetattr(pty.slave, &tio), 0);
        // Speeds, character size, a local line without flow control, stop bits and parity (a
        // pseudo-terminal drops PARENB but keeps PARODD); raw input and output; reads wait for nothing.
        const tcflag_t control = CSIZE | CLOCAL | CREAD | CRTSCTS | CSTOPB | PARODD;
        const tcflag_t expected = CS8 | CLOCAL | CREAD | (stopBits == 2 ? CSTOPB : 0) | (parity == 1 ? PARODD : 0);
        QCOMPARE(values(cfgetospeed(&tio), cfgetispeed(&tio), tio.c_cflag & control), values(speed, speed, expected));
        QCOMPARE(values(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tio.c_oflag & OPOST, tio.c_cc[VMIN],
                        tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP | INPCK), tio.c_cc[VTIME]),
                 values(0, 0, 0, 0, 0));
    }

    void openFailure_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<SerialPortError>("result");
        QTest::newRow("missing name") << QByteArray("ttyNoSuchPort") << SerialPortError::NotFound;
        QTest::newRow("empty name") << QByteArray("") << SerialPortError::NotFound;
        QTest::newRow("not a terminal") << QByteArray("/dev/null") << SerialPortError::BadSettings;
    }
    void openFailure()
    {
        QFETCH(QByteArray, name);
        QFETCH(SerialPortError, result);

        auto port = createSerialPort();
        QCOMPARE(port->open(name.constData(), SerialLineSettings(), characterMs), result);
        QVERIFY(!port->isOpen());
        Terminal terminal;
        QVERIFY(!terminal.open(name));
        QVERIFY(!terminal.isOpen());
        QCOMPARE(terminal.openError(), result);
    }

    void secondOpenRefused()
    {
        PseudoTerminal pty;
        Terminal first;
        QVERIFY(first.open(pty.name));
        QCOMPARE(createSerialPort()->open(pty.name.constData(), SerialLineSettings(), characterMs),
                 SerialPortError::InUse);
        Terminal other;
        QVERIFY(!other.open(pty.name));
        QCOMPARE(other.openError(), SerialPortError::InUse);

        // The refused attempt must not have disturbed the holder.
        QVERIFY(pty.send({0x42}));
        QVERIFY(msUntil(first, TerminalState::Received) >= 0);
        first.close();
        QVERIFY(other.open(pty.name));
    }

    // Opening another port lets go of the one before; a failed open leaves the terminal closed.
    void reopenReleasesPreviousPort()
    {
        PseudoTerminal a;
        PseudoTerminal b;
        Terminal terminal;
        auto probe = createSerialPort();
        QVERIFY(terminal.open(a.name));
        QVERIFY(terminal.open(b.name));
        QCOMPARE(probe->open(a.name.constData(), SerialLineSettings(), characterMs), SerialPortError::None);
        probe->close();
        QVERIFY(!terminal.open("/dev/no-such-serial-port"));
        QVERIFY(!terminal.isOpen());
        QCOMPARE(probe->open(b.name.constData(), SerialLineSettings(), characterMs), SerialPortError::None);
    }

    // Closed at different points of the worker's read, and once more when already closed.
    void closeIsPrompt()
    {
        PseudoTerminal pty;
        Terminal terminal;
        for (int i = 0; i < 11; ++i) {
            QVERIFY(i == 10 || terminal.open(pty.name));
            QThread::msleep(5 + i * 3);
            QElapsedTimer clock;
            clock.start();
            terminal.close();
            QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
            QVERIFY(!terminal.isOpen());
        }
    }

    // The modem unplugged under an open port: the terminal says so and its worker stops
    // without spinning.
    void hangUpIsReported()
    {
        PseudoTerminal pty;
        Terminal terminal;
        QVERIFY(!terminal.open("/dev/no-such-serial-port"));
        QVERIFY(terminal.open(pty.name));
        QCOMPARE(terminal.openError(), SerialPortError::None);
        QVERIFY(pty.send({0x01, 0x02}));
        pty.hangUp();

        const std::clock_t cpuBefore = std::clock();
        QThread::msleep(300);
        const double cpuUsed = double(std::clock() - cpuBefore) * 1000 / CLOCKS_PER_SEC;
        QVERIFY2(cpuUsed < 100, qPrintable(QString("worker used %1 ms of CPU").arg(cpuUsed)));
        QVERIFY(terminal.portLost());
        QVERIFY(!terminal.isOpen());

        QElapsedTimer clock;
        clock.start();
        terminal.close();
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!terminal.portLost());
    }
};

QTEST_GUILESS_MAIN(TestSerialPosix)
#include "tst_serial_posix.moc"
