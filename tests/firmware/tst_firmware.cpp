#include "dialogfirmwareupdate.h"
#include "modalanswerer.h"
#include "resources.h"
#include "simulatedwindow.h"
#include "values.h"

#include "hart/encoding.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QElapsedTimer>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QLabel>
#include <QtTest>

#include "testfiles.h"

namespace {

const QString doneBox = QStringLiteral("Обновление ПО/Обновление выполнено");

// The window on its own, with the codec of command 253 standing in for the engine: the test
// plays the device, answering each request with the offset it wants next.
struct Standalone {
    Hart::ParserMaster master;
    Hart::IdentityRecord identity;
    QString directory;
    DialogFirmwareUpdate window { FirmwareUpdateOwner { &master, &identity, [this] { return directory; },
                                                        [this](const QString& d) { directory = d; },
                                                        [] { return true; } } };
    QByteArray received;  // the image as the device has it
    int requests = 0;

    Hart::ParserMasterFirmwareUpdate* record() { return &window; }
    QLineEdit* fileName() { return window.findChild<QLineEdit*>(QStringLiteral("fileName")); }
    QPushButton* updateButton() { return window.findChild<QPushButton*>(QStringLiteral("update")); }
    QProgressBar* bar() { return window.findChild<QProgressBar*>(QStringLiteral("progressBar")); }

    void start(const QString& path)
    {
        fileName()->setText(path);
        updateButton()->click();
    }

    // The data of the next request, or empty when nothing goes out.
    QByteArray request()
    {
        uint8_t buffer[512];
        uint8_t* cursor = buffer;
        if (Hart::encodeFirmwareUpdate(record(), &master, &cursor) < 0)
            return QByteArray();
        ++requests;
        const QByteArray data(reinterpret_cast<const char*>(buffer), int(cursor - buffer));
        if (data.size() > 4) {
            const int offset = int(Hart::loadU32(buffer));
            if (received.size() < offset + data.size() - 4)
                received.resize(offset + data.size() - 4);
            received.replace(offset, data.size() - 4, data.mid(4));
        }
        return data;
    }

    uint32_t answer(uint32_t offset, uint8_t responseCode = 0)
    {
        uint8_t data[4];
        Hart::storeU32(data, offset);
        return Hart::decodeFirmwareUpdate(record(), &master, data, data + 4, responseCode);
    }

    // Answers every request with the end of the chunk just received, as a device that takes
    // the image in order; between exchanges `between` may change the world.
    QList<int> run(const std::function<void(int exchange)>& between = nullptr)
    {
        QList<int> barValues;
        for (int exchange = 0; exchange < 1000; ++exchange) {
            if (between)
                between(exchange);
            const QByteArray data = request();
            if (data.isEmpty())
                break;
            const uint32_t next = data.size() == 4 ? 0 : Hart::loadU32(reinterpret_cast<const uint8_t*>(data.data())) + uint32_t(data.size() - 4);
            answer(next);
            barValues << bar()->value();
        }
        return barValues;
    }
};

}

class TestFirmware : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initResources(); }
    void init() { answerer = std::make_unique<ModalAnswerer>(); }
    void cleanup()
    {
        bench.finish();
        answerer.reset();
    }

    void chooseFile()
    {
        Standalone s;
        const QString path = writeFile(dir, QStringLiteral("chosen.fwb"), "x");
        answerer->chooseFile(path);
        s.window.findChild<QToolButton*>(QStringLiteral("fileOpen"))->click();
        QCOMPARE(s.fileName()->text(), path);
        QVERIFY(s.updateButton()->isEnabled());
        QCOMPARE(s.directory, dir.path());
    }

    void updateButtonFollowsName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        const QString existing = writeFile(dir, QStringLiteral("a.fwb"), "x");
        QTest::newRow("existing") << existing << true;
        QTest::newRow("blank-padded") << "  " + existing + " \t" << true;
        QTest::newRow("missing") << existing + QStringLiteral("x") << false;
        QTest::newRow("blank") << QStringLiteral("   ") << false;
        QTest::newRow("a directory") << dir.path() << false;
    }
    void updateButtonFollowsName()
    {
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        Standalone s;
        QVERIFY(!s.updateButton()->isEnabled());
        s.fileName()->setText(text);
        QCOMPARE(s.updateButton()->isEnabled(), enabled);
    }

    void restartDuringTransfer()
    {
        Standalone s;
        const QByteArray image = imageBytes(200);
        const QString path = writeFile(dir, QStringLiteral("r.fwb"), image);
        s.start(path);
        s.request();
        s.answer(0);
        QCOMPARE(s.request().left(4).toHex(), QByteArray("00000000"));
        // Pressed again: the file is reopened and the size announced again ...
        s.updateButton()->click();
        QVERIFY(s.window.isImageOpen());
        QCOMPARE(s.window.started, 0u);
        // ... but the answer to the chunk sent before still names an offset and moves on to it.
        s.answer(64);
        QCOMPARE(s.request(), QByteArray::fromHex("00000040") + image.mid(64, 64));
        // Without such an answer the next request is the announcement.
        s.updateButton()->click();
        QCOMPARE(s.request().toHex(), QByteArray("000000c8"));
    }

    void stopping_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("stops");
        QTest::newRow("cancel button") << "cancel" << true;
        QTest::newRow("close button") << "close" << true;
        QTest::newRow("escape hides only") << "escape" << false;
    }
    void stopping()
    {
        QFETCH(QString, how);
        QFETCH(bool, stops);
        Standalone s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        s.start(writeFile(dir, QStringLiteral("s.fwb"), imageBytes(300)));
        s.request();
        s.answer(0);
        if (how == QLatin1String("cancel"))
            s.window.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
        else if (how == QLatin1String("close"))
            s.window.close();
        else
            QTest::keyClick(&s.window, Qt::Key_Escape);
        QVERIFY(s.window.isHidden());
        if (stops) {
            // The device hears nothing more, and a late answer moves nothing.
            QVERIFY(s.request().isEmpty());
            QCOMPARE(s.answer(64), uint32_t(Hart::Ignore));
            return;
        }
        // Hidden, the transfer goes on to its end and still says so.
        s.run();
        QCOMPARE(s.received, imageBytes(300));
        QTRY_COMPARE(answerer->titledTexts(), QStringList { doneBox });
    }

    void badImages_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("requests");
        QTest::newRow("empty") << "empty" << QStringLiteral("Ошибка/Файл прошивки пуст") << 0;
        QTest::newRow("beyond 32-bit offsets") << "huge" << QStringLiteral("Ошибка/Файл прошивки слишком велик") << 0;
        QTest::newRow("offset past the end") << "past" << QStringLiteral(
            "Ошибка/Устройство запросило данные за концом файла прошивки. Обновление не выполнено") << 3;
        QTest::newRow("truncated during the update")
            << "truncated" << QStringLiteral("Ошибка/Не удается прочитать файл прошивки") << 2;
        QTest::newRow("removed during the update") << "removed" << doneBox << 4;
    }
    void badImages()
    {
        QFETCH(QString, kind);
        QFETCH(QString, box);
        QFETCH(int, requests);
        Standalone s;
        const QByteArray image = imageBytes(130);
        const QString path = writeFile(dir, kind + QStringLiteral(".fwb"), kind == QLatin1String("empty") ? QByteArray() : image);
        if (kind == QLatin1String("huge")) {
            QFile file(path);
            QVERIFY(file.resize(qint64(UINT32_MAX) + 1)); // sparse: costs no disk
        }
        s.start(path);
        if (kind == QLatin1String("past")) {
            for (uint32_t offset : { 0u, 64u })
                s.request(), s.answer(offset);
            s.request();
            QCOMPARE(s.answer(131), uint32_t(Hart::Ok));
            QVERIFY(s.request().isEmpty());
        } else {
            s.run([&](int exchange) {
                if (exchange != 2)
                    return;
                if (kind == QLatin1String("truncated"))
                    QFile(path).resize(70);
                else if (kind == QLatin1String("removed"))
                    QFile::remove(path);
            });
        }
        QCOMPARE(s.requests, requests);
        QCOMPARE(int(s.window.requestFlags), 0);
        QVERIFY(!s.window.isImageOpen());
        if (kind == QLatin1String("removed"))
            QCOMPARE(s.received, image);
        QTRY_COMPARE(answerer->titledTexts(), QStringList { box });
        QTest::qWait(30);
        QCOMPARE(answerer->boxes().size(), 1);
        QFile::remove(path);
    }

    // The bar tells the time left at the rate the device has taken the image so far; the end is
    // announced for the main window's status bar.
    void timeLeft_data()
    {
        QTest::addColumn<int>("msPerChunk");
        QTest::addColumn<QString>("halfWay");
        QTest::newRow("seconds") << 500 << QStringLiteral("50%, осталось 5 с");
        QTest::newRow("minutes") << 30000 << QStringLiteral("50%, осталось 5 мин 00 с");
    }
    void timeLeft()
    {
        QFETCH(int, msPerChunk);
        QFETCH(QString, halfWay);
        TestClock::install(1000);
        Standalone s;
        QStringList finished;
        connect(&s.window, &DialogFirmwareUpdate::finishedWith, this, [&](const QString& text) { finished << text; });
        s.start(writeFile(dir, QStringLiteral("1280.fwb"), imageBytes(1280)));
        QString shownHalfWay;
        s.run([&](int exchange) {
            TestClock::now += uint32_t(msPerChunk);
            if (exchange == 11) // the answer naming offset 640 has been taken
                shownHalfWay = s.bar()->text();
        });
        QCOMPARE(values(shownHalfWay, s.bar()->text(), finished.size()), values(halfWay, QStringLiteral("100%"), 1));
        const QRegularExpression note(QStringLiteral("^ПО обновлено \\d\\d:\\d\\d:\\d\\d$"));
        QVERIFY2(note.match(finished[0]).hasMatch(), qPrintable(finished[0]));
        QTRY_COMPARE(answerer->titledTexts(), QStringList { doneBox });
    }

    // The device falls silent at three random chunks, one update after another; the update started
    // once more after each delivers the very image in the end.
    void cutAtRandomChunks()
    {
        bench.answerer = std::move(answerer);
        QVERIFY(bench.connectWindow());
        TestClock::install(1000);
        bench.rig->startTimers();
        QByteArray image(1500, '\0');
        QRandomGenerator random(16);
        random.fillRange(reinterpret_cast<quint32*>(image.data()), image.size() / 4);
        const QString path = writeFile(dir, QStringLiteral("cut.fwb"), image);
        for (int cut = 0; cut < 3; ++cut) {
            const size_t cutAt = 2 + random.bounded(20); // the identification, then chunks
            bench.sim->clearRequests();
            bool failed = false;
            QTimer watch;
            QObject::connect(&watch, &QTimer::timeout, [&] {
                if (failed) {
                    TestClock::now += 6000; // the five sends of the chunk time out at once
                } else if (bench.sim->requests().size() >= cutAt) {
                    failed = true;
                    bench.sim->inject(Sim::Fault::noAnswer(10));
                }
            });
            watch.start(20);
            runFirmwareUpdate(*bench.answerer, *bench.window, path);
            watch.stop();
            QCOMPARE(bench.answerer->titledTexts(), QStringList { QStringLiteral("Ошибка/Устройство не отвечает") });
            bench.sim->clearFaults();
            bench.answerer->clearBoxes();
        }
        runFirmwareUpdate(*bench.answerer, *bench.window, path);
        QCOMPARE(bench.answerer->titledTexts(), QStringList { doneBox });
        QVERIFY(bench.window->findChild<QLabel*>(QStringLiteral("doneLabel"))->text().startsWith(QStringLiteral("ПО обновлено ")));
        const std::vector<uint8_t> got = bench.sim->firmwareImage();
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(got.data()), int(got.size())), image);
    }

    void portClosed()
    {
        MainWindow window;
        bool shown = false;
        answerer->keepOpen = [&](QWidget*) { return shown = true; };
        window.findChild<QAction*>(QStringLiteral("actionFirmwareUpdate"))->trigger();
        QCOMPARE(answerer->titledTexts(), QStringList { QStringLiteral("Ошибка/Соединение не установлено") });
        QVERIFY(!shown);
    }

    // The port is lost while the window is open: "Обновить ПО" says so at once, and nothing waits
    // for a device that cannot hear.
    void portLostWhileOpen()
    {
        bench.answerer = std::move(answerer);
        QVERIFY(bench.connectWindow());
        TestClock::install(1000);
        bench.rig->startTimers();
        const QString path = writeFile(dir, QStringLiteral("lost.fwb"), imageBytes(130));
        QStringList seen;
        QPointer<DialogFirmwareUpdate> dialog;
        bench.answerer->keepOpen = [](QWidget* w) { return qobject_cast<DialogFirmwareUpdate*>(w) != nullptr; };
        bench.answerer->queue([&](QWidget* w) {
            dialog = qobject_cast<DialogFirmwareUpdate*>(w);
            if (dialog)
                bench.sim->closeLine();
        });
        // Once the main window's parse tick has found the port gone and said so, the user presses
        // "Обновить ПО"; what follows within 300 ms is what the user is told.
        QElapsedTimer clicked;
        QTimer steps;
        QObject::connect(&steps, &QTimer::timeout, [&] {
            if (!dialog)
                return;
            if (!clicked.isValid() && !bench.answerer->boxes().isEmpty()) {
                bench.answerer->clearBoxes();
                clicked.start();
                dialog->findChild<QLineEdit*>(QStringLiteral("fileName"))->setText(path);
                dialog->findChild<QPushButton*>(QStringLiteral("update"))->click();
            } else if (clicked.isValid() && clicked.elapsed() > 300) {
                steps.stop();
                seen = bench.answerer->titledTexts();
                QVERIFY(!dialog->isImageOpen());
                QCOMPARE(int(dialog->requestFlags), 0);
                dialog->close();
            }
        });
        steps.start(20);
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, [&] {
            if (dialog)
                dialog->close();
        });
        limit.start(5000);
        bench.window->findChild<QAction*>(QStringLiteral("actionFirmwareUpdate"))->trigger();
        bench.answerer->keepOpen = nullptr;
        QCOMPARE(seen, QStringList { QStringLiteral("Ошибка/Соединение не установлено") });
    }

private:
    std::unique_ptr<ModalAnswerer> answerer;
    WindowBench bench;
    QTemporaryDir dir;
};

QTEST_MAIN(TestFirmware)
#include "tst_firmware.moc"

