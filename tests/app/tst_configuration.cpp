#include "mainwindow.h"
#include "simulatedwindow.h"
#include "noiseindicator.h"
#include "resources.h"
#include "ui_mainwindow.h"
#include "values.h"

#include "hart/detectorconfig.h"
#include "hart/identityrecord.h"

#include <QMessageBox>
#include <QtTest>

#include <cstring>

namespace {

// Rows of the configuration tables: an analysis setting as the window shows it, and the four
// configuration bytes that carry it.
struct Layout {
    int model, type; QString text; int types; bool uv; int dMin, dMax; QString captions; int longestTime;
};
struct Setting {
    int model, type, fixTime; bool heat, alarmNO, faultNC; int time, byte0, byte1, byte3;
};
// A write: what is edited (and how the line is set up), the box shown, what is sent and
// which groups stay marked.
struct Write {
    QString setup; int groups, answer; QString title, box, sent; int groupsAfter;
};
struct ReadBack {
    int model; QByteArray config; int type, sensitivity, time, fixTime; bool heat, alarmNO, faultNC;
};

}
Q_DECLARE_METATYPE(Layout)
Q_DECLARE_METATYPE(Setting)
Q_DECLARE_METATYPE(ReadBack)
Q_DECLARE_METATYPE(Write)

class TestConfiguration : public QObject, WindowBench {
    Q_OBJECT

    // A device of this model has answered: its writes may go out.
    void setModel(uint16_t model, int analysisType = -1)
    {
        window->deviceReady = true;
        window->deviceId = 1;
        window->expandedDeviceType = model;
        window->applyModelLayout();
        if (analysisType >= 0)
            window->ui->analysisType->setCurrentIndex(analysisType);
    }

private slots:
    void initTestCase()
    {
        initResources();
        TestClock::install(0x10000u);
    }
    void init() { start(); }
    void cleanup() { finish(); }

    // The layout per model and analysis type; "start-up" is the window before any device.
    void modelLayout_data()
    {
        QTest::addColumn<Layout>("l"); // types -1: the analysis type is hidden; dMin 0: no distance scale
        const QString irUv = QStringLiteral("\"Альтор - ИК/УФ\" HART"), ir = QStringLiteral("\"Альтор - 3 ИК\" HART");
        const QString to40 = "18 20 22 24 26 28 30 32 34 36 38 40", to25 = "18 19 20 21 22 23 24 25";
        QTest::newRow("start-up") << Layout{ 0, 4, irUv, 5, true, 18, 25, to25, 20 };
        QTest::newRow("FF04 type 0") << Layout{ 0xFF04, 0, irUv, 5, true, 18, 40, to40, 20 };
        QTest::newRow("FF03 type 0") << Layout{ 0xFF03, 0, ir, 2, false, 17, 50, "17 20 23 26 29 32 35 38 41 44 47 50", 20 };
        QTest::newRow("FF03 type 1") << Layout{ 0xFF03, 1, ir, 2, false, 17, 25, "17 18 19 20 21 22 23 24 25", 20 };
        QTest::newRow("FF02") << Layout{ 0xFF02, 1, irUv, 4, true, 0, 0, "", 10 };
        QTest::newRow("FF01") << Layout{ 0xFF01, 0, ir, -1, false, 0, 0, "", 10 };
        QTest::newRow("FF05") << Layout{ 0xFF05, 0, QStringLiteral("Неизвестная модель"), -1, false, 0, 0, "", 10 };
    }
    void modelLayout()
    {
        QFETCH(Layout, l);
        linelessWindow();
        Ui::MainWindow* ui = window->ui;
        if (l.model)
            setModel(uint16_t(l.model), l.type);
        QCOMPARE(values(ui->model->text(), ui->analysisTypeLabel->isHidden(), ui->uvValue->isHidden(),
                        ui->noiseSlider->isHidden(), ui->sensitivitySlider->tickPosition(),
                        ui->sensitivitySlider->captionsBelow.join(' ')),
                 values(l.text, l.types < 0, !l.uv, l.dMin == 0, l.dMin ? QSlider::TicksBothSides : QSlider::TicksAbove,
                        l.captions));
        QCOMPARE(ui->sensitivityLenLabel->isHidden(), ui->sensitivityLen->isHidden());
        if (l.types > 0)
            QCOMPARE(ui->analysisType->count(), l.types);
        if (l.dMin)
            QCOMPARE(values(ui->sensitivityLen->minimum(), ui->sensitivityLen->maximum()), values(l.dMin, l.dMax));
        QCOMPARE(values(ui->analysisTime->maximum(), ui->analysisTimeSlider->maximum(), ui->analysisTime->singleStep(),
                        ui->analysisTimeSlider->captionsBelow.join(',')),
                 values(l.longestTime, l.longestTime, l.longestTime == 20 ? 1 : 5,
                        l.longestTime == 20 ? QStringLiteral("5 с,10 с,15 с,20 с") : QStringLiteral("5 с,10 с")));
        if (l.dMin == 0)
            QCOMPARE(ui->noiseSlider->value(), 0);
        if (l.model == 0) {
            QCOMPARE(ui->analysisType->currentIndex(), 4);
            QCOMPARE(ui->sensitivityLen->value(), 25);
            QCOMPARE(ui->noiseSlider->value(), 77); // table 3 at 25 m and 10 s holds 0.7703
            QCOMPARE(window->modifiedGroups, uint8_t(0));
        }
    }

    // The item lists are rebuilt only for another model, keeping the position where it exists.
    void itemListsFollowTheModel()
    {
        linelessWindow();
        Ui::MainWindow* ui = window->ui;
        setModel(0xFF04, 1);
        setModel(0xFF03, 1);
        QCOMPARE(ui->analysisType->itemText(1), QStringLiteral("3 ИК (повышенная помехозащищенность)"));
        QCOMPARE(ui->analysisType->currentIndex(), 1);
        setModel(0xFF04);
        QCOMPARE(values(ui->analysisType->count(), ui->analysisType->currentIndex()), values(5, 1));
        ui->analysisType->setCurrentIndex(4);
        setModel(0xFF03);
        QCOMPARE(values(ui->analysisType->currentIndex(), ui->sensitivityLen->maximum()), values(-1, 25));
    }

    // Sensitivity, its slider and the distance move together; the analysis type never drags
    // the sensitivity when its distance range narrows.
    void coupling()
    {
        linelessWindow();
        Ui::MainWindow* ui = window->ui;
        setModel(0xFF04, 0);
        ui->sensitivity->setValue(50);
        QCOMPARE(values(ui->sensitivitySlider->value(), ui->sensitivityLen->value()), values(50, 29));
        ui->sensitivityLen->setValue(19);   // 100 / 22 = 4.55
        QCOMPARE(values(ui->sensitivity->value(), ui->sensitivityLen->value()), values(5, 19));
        ui->sensitivitySlider->setValue(75); // 18 + 16.5
        QCOMPARE(values(ui->sensitivity->value(), ui->sensitivityLen->value()), values(75, 35));
        window->modifiedGroups = 0;
        ui->analysisType->setCurrentIndex(4); // 18 + 5.25
        QCOMPARE(values(ui->sensitivity->value(), ui->sensitivityLen->value(), window->modifiedGroups),
                 values(75, 23, 0x10));
    }

    // Models with 5 s steps round to the nearer step, by box or by slider; the others take any second.
    void analysisTimeSteps_data()
    {
        QTest::addColumn<QVector<int>>("c"); // model, value set, by slider, value shown
        QTest::newRow("FF01 box 7") << QVector<int>{ 0xFF01, 7, false, 5 };
        QTest::newRow("FF01 box 8") << QVector<int>{ 0xFF01, 8, false, 10 };
        QTest::newRow("FF02 slider 6") << QVector<int>{ 0xFF02, 6, true, 5 };
        QTest::newRow("FF04 box 7") << QVector<int>{ 0xFF04, 7, false, 7 };
    }
    void analysisTimeSteps()
    {
        QFETCH(QVector<int>, c);
        linelessWindow();
        Ui::MainWindow* ui = window->ui;
        setModel(uint16_t(c[0]), 0);
        ui->analysisTime->setValue(c[3] == 10 ? 5 : 10);
        window->modifiedGroups = 0;
        if (c[2])
            ui->analysisTimeSlider->setValue(c[1]);
        else
            ui->analysisTime->setValue(c[1]);
        QCOMPARE(values(ui->analysisTime->value(), ui->analysisTimeSlider->value(), window->modifiedGroups),
                 values(c[3], c[3], 0x10));
    }

    // Expected values worked out by hand from the published grids (single-precision cells).
    void noiseTables_data()
    {
        QTest::addColumn<QVector<double>>("c"); // table, distance, time, expected
        QTest::newRow("1 inside") << QVector<double>{ 1, 20.0, 7.0, 0.5019400000572205 };
        QTest::newRow("1 high outside") << QVector<double>{ 1, 60.0, 25.0, 0.49689990282058716 };
        QTest::newRow("2 on the axes") << QVector<double>{ 2, 25.0, 10.0, 0.259799987077713 };
        QTest::newRow("2 short time") << QVector<double>{ 2, 35.0, 3.0, 0.15003999695181847 };
        QTest::newRow("4 inside") << QVector<double>{ 4, 27.5, 12.5, 0.7549249976873398 };
        QTest::newRow("4 low outside") << QVector<double>{ 4, 10.0, 2.0, 0.749827580153942 };
        QTest::newRow("5 low outside") << QVector<double>{ 5, 10.0, 2.0, 0.9660150900483131 };
        QTest::newRow("6 far corner") << QVector<double>{ 6, 40.0, 20.0, 0.3743000030517578 };
        QTest::newRow("6 near long time") << QVector<double>{ 6, 12.0, 17.0, 0.6499050170183182 };
        QTest::newRow("no grid") << QVector<double>{ 0, 20.0, 7.0, 0.0 };
        QTest::newRow("not a number") << QVector<double>{ 4, qQNaN(), 7.0, 0.0 };
    }
    void noiseTables()
    {
        QFETCH(QVector<double>, c);
        const double value = NoiseIndicator::value(int(c[0]), c[1], c[2]);
        QVERIFY2(std::abs(value - c[3]) < 1e-9, qPrintable(QString::number(value, 'g', 17)));
    }

    // The slider shows the grid value at the distance and time set, in hundredths.
    void noiseIndicator_data()
    {
        QTest::addColumn<QVector<int>>("c"); // model, type, sensitivity, time, position
        QTest::newRow("FF04 type 0, 29 m, 12 s") << QVector<int>{ 0xFF04, 0, 50, 12, 75 };
        QTest::newRow("FF04 type 1, 18 m, 5 s") << QVector<int>{ 0xFF04, 1, 0, 5, 26 };
        QTest::newRow("FF04 type 3, 40 m, 20 s") << QVector<int>{ 0xFF04, 3, 100, 20, 25 };
        QTest::newRow("FF04 type 4, 20.31 m, 6 s") << QVector<int>{ 0xFF04, 4, 33, 6, 76 };
        QTest::newRow("FF03 type 0, 26.9 m, 15 s") << QVector<int>{ 0xFF03, 0, 30, 15, 57 };
        QTest::newRow("FF03 type 1, 23 m, 20 s") << QVector<int>{ 0xFF03, 1, 75, 20, 100 };
    }
    void noiseIndicator()
    {
        QFETCH(QVector<int>, c);
        linelessWindow();
        setModel(uint16_t(c[0]), c[1]);
        window->ui->sensitivity->setValue(c[2]);
        window->ui->analysisTime->setValue(c[3]);
        QCOMPARE(window->ui->noiseSlider->value(), c[4]);
    }

    void upperCaseWhileTyping()
    {
        linelessWindow();
        Ui::MainWindow* ui = window->ui;
        QTest::keyClicks(ui->tag, QStringLiteral("abc"));
        QCOMPARE(ui->tag->text(), QStringLiteral("ABC"));
        QCOMPARE(window->modifiedGroups, uint8_t(0x02));
        ui->tag->setCursorPosition(1);
        QTest::keyClicks(ui->tag, QStringLiteral("x"));
        QCOMPARE(ui->tag->text(), QStringLiteral("AXBC"));
        QCOMPARE(ui->tag->cursorPosition(), 2);
        QTest::keyClicks(ui->tag, QStringLiteral("defgh"));
        // Eight characters at most: the last key is refused.
        QCOMPARE(ui->tag->text(), QStringLiteral("AXDEFGBC"));
        QTest::keyClicks(ui->message, QStringLiteral("zone 1"));
        QCOMPARE(ui->message->text(), QStringLiteral("ZONE 1"));
        QTest::keyClicks(ui->longTag, QStringLiteral("Zone 1"));
        QCOMPARE(ui->longTag->text(), QStringLiteral("Zone 1"));
        QCOMPARE(window->modifiedGroups, uint8_t(0x02 | 0x08 | 0x04));
    }

    void writeBytes_data()
    {
        QTest::addColumn<Setting>("c");
        QTest::newRow("FF04 type 0") << Setting{ 0xFF04, 0, 0, true, true, true, 13, 0x07, 0x86, 13 };
        QTest::newRow("FF04 type 1") << Setting{ 0xFF04, 1, 1, false, false, false, 5, 0x04, 0x8B, 5 };
        QTest::newRow("FF04 type 2") << Setting{ 0xFF04, 2, 0, true, true, false, 20, 0x06, 0x96, 20 };
        QTest::newRow("FF04 type 3") << Setting{ 0xFF04, 3, 1, true, false, true, 7, 0x05, 0x9F, 7 };
        QTest::newRow("FF04 type 4") << Setting{ 0xFF04, 4, 1, true, true, true, 10, 0x07, 0xA7, 10 };
        QTest::newRow("FF03 type 0") << Setting{ 0xFF03, 0, 0, false, true, true, 17, 0x07, 0x82, 17 };
        QTest::newRow("FF03 type 1") << Setting{ 0xFF03, 1, 1, true, false, false, 6, 0x04, 0xA7, 6 };
        QTest::newRow("FF01") << Setting{ 0xFF01, 0, 0, false, true, true, 7, 0x07, 0xA2, 5 };
        QTest::newRow("FF02") << Setting{ 0xFF02, 3, 1, true, false, true, 9, 0x05, 0xA7, 10 };
    }
    void writeBytes()
    {
        QFETCH(Setting, c);
        QVERIFY(connectWindow());
        Ui::MainWindow* ui = window->ui;
        setModel(uint16_t(c.model), c.type);
        ui->fixTime->setCurrentIndex(c.fixTime);
        ui->autoHeat->setChecked(c.heat);
        (c.alarmNO ? ui->alarmNO : ui->alarmNC)->setChecked(true);
        (c.faultNC ? ui->faultNC : ui->faultNO)->setChecked(true);
        ui->analysisTime->setValue(c.time);
        ui->sensitivity->setValue(37);
        window->modifiedGroups = 0x10;
        window->readGroups = 0x3F;
        ui->connectWrite->trigger();
        const Hart::DetectorConfig& d = window->detector;
        QCOMPARE(d.requestFlags, Hart::DetectorRequest::WriteConfiguration);
        const QVector<int> bytes = { d.configurationByte(0), d.configurationByte(1), d.configurationByte(2), d.configurationByte(3) };
        QCOMPARE(bytes, QVector<int>({ c.byte0, c.byte1, 37, c.byte3 }));
        QVERIFY(answerer->boxes().isEmpty());
    }

    void writeCurrentsAndIdentity()
    {
        QVERIFY(connectWindow());
        Ui::MainWindow* ui = window->ui;
        // Products that fall just short of a whole microampere in binary must still round up.
        ui->currentError->setValue(3.6);
        ui->currentOptic->setValue(1.005);
        ui->currentIdle->setValue(16.019);
        ui->currentTest->setValue(0.001);
        ui->currentAlarm->setValue(24);
        ui->date->setDate(QDate(2099, 12, 31));
        setModel(0xFF04);
        window->modifiedGroups = 0x20 | 0x02;
        window->readGroups = 0x3F;
        ui->connectWrite->trigger();
        const uint16_t* c = window->detector.currentSettings;
        QCOMPARE(QVector<int>({ c[0], c[1], c[2], c[3], c[4] }), QVector<int>({ 3600, 1005, 16019, 1, 24000 }));
        QCOMPARE(window->detector.requestFlags, Hart::DetectorRequest::WriteCurrents);
        QCOMPARE(window->identity.requestFlags, Hart::IdentityRequest::WriteTagDescriptorDate);
        const uint8_t* date = window->identity.date;
        QCOMPARE(QVector<int>({ date[0], date[1], date[2] }), QVector<int>({ 31, 12, 199 }));
    }

    void writeChoice_data()
    {
        QTest::addColumn<Write>("w");
        const QString none = "Нет изменений параметров.\nВыполнить запись всех параметров?";
        // Before a read the form holds only its defaults: overwriting the device needs a Yes.
        const QString unread = "Конфигурация ещё не прочитана из устройства.\n"
                               "Записать в устройство значения, показанные в окне?";
        QTest::newRow("not read, No") << Write{ "unread", 0x3F, QMessageBox::No, "", unread, "", 0x3F };
        QTest::newRow("not read, Yes") << Write{ "unread", 0x3F, QMessageBox::Yes, "", unread, "6 17 18 22 132 134", 0 };
        QTest::newRow("nothing edited, No") << Write{ "", 0, QMessageBox::No, "", none, "", 0 };
        // Raised together, the writes reach the device in the command table's order.
        QTest::newRow("nothing edited, Yes") << Write{ "", 0, QMessageBox::Yes, "", none, "6 17 18 22 132 134", 0 };
        QTest::newRow("message and currents") << Write{ "", 0x28, 0, "", "", "17 132", 0 };
        QTest::newRow("no port") << Write{ "no port", 0x3F, 0, "Ошибка", "Соединение не установлено", "", 0x3F };
        // A refused write leaves its group marked for the next attempt.
        QTest::newRow("write protected") << Write{ "write protected", 0x08, 0, "Ошибка 7",
                                                   "Полевое устройство защищено от записи и не может принять эту команду записи",
                                                   "17", 0x08 };
        // An edit made while its group is on the way to the device is not lost with the confirmation.
        QTest::newRow("edit during the write") << Write{ "edit", 0x08 | 0x02, 0, "", "", "17 18", 0x08 };
    }
    void writeChoice()
    {
        QFETCH(Write, w);
        if (w.setup == "no port") {
            linelessWindow();
        } else {
            QVERIFY(connectWindow());
            readOnce();
        }
        // The device's reads were refused: it is known, its configuration is not.
        if (w.setup == "unread")
            window->readGroups = 0;
        if (w.setup == "write protected")
            sim->modify([](Sim::DeviceState& s) { s.writeProtected = true; });
        window->modifiedGroups = uint8_t(w.groups);
        answerer->answerBoxesWith(w.answer);
        window->ui->connectWrite->trigger();
        if (w.setup == "edit")
            window->ui->message->setText(QStringLiteral("CHANGED AGAIN"));
        QCOMPARE(rig ? runUntilQuiet() : QString(), w.sent);
        QCOMPARE(boxTexts(), w.box.isEmpty() ? QStringList() : QStringList{ w.box });
        if (!w.box.isEmpty())
            QCOMPARE(answerer->boxes()[0].title, w.title);
        QCOMPARE(window->modifiedGroups, uint8_t(w.groupsAfter));
        QCOMPARE(window->identity.requestFlags | window->detector.requestFlags, 0);
        QCOMPARE(window->doneLabel->text().startsWith(QStringLiteral("Конфигурация записана в устройство ")),
                 !w.sent.isEmpty() && w.setup != "write protected");
    }

    void readFillsFields_data()
    {
        QTest::addColumn<ReadBack>("r");
        QTest::newRow("FF04 type 4") << ReadBack{ 0xFF04, QByteArray("\x07\xA7\x32\x0D", 4), 4, 50, 13, 1, true, true, true };
        QTest::newRow("FF04 time in bit 1") << ReadBack{ 0xFF04, QByteArray("\x05\x0A\x64\x11", 4), 1, 100, 10, 0, false, false, true };
        QTest::newRow("FF04 five seconds") << ReadBack{ 0xFF04, QByteArray("\x06\x00\x21\x11", 4), 0, 33, 5, 0, false, true, false };
        QTest::newRow("FF03 type 1") << ReadBack{ 0xFF03, QByteArray("\x07\xA0\x4B\x06", 4), 1, 75, 6, 0, false, true, true };
        QTest::newRow("FF01 keeps type") << ReadBack{ 0xFF01, QByteArray("\x07\xBF\x4B\x07", 4), 0, 75, 5, 1, true, true, true };
        QTest::newRow("out of range") << ReadBack{ 0xFF04, QByteArray("\xFF\xFF\xFF\xFF", 4), 4, 100, 20, 1, true, true, true };
        QTest::newRow("time zero") << ReadBack{ 0xFF03, QByteArray("\x00\x80\x00\x00", 4), 0, 0, 5, 0, false, false, false };
    }
    void readFillsFields()
    {
        QFETCH(ReadBack, r);
        linelessWindow();
        Ui::MainWindow* ui = window->ui;
        setModel(0xFF04, 0);
        ui->sensitivity->setValue(80);
        window->expandedDeviceType = uint16_t(r.model);
        Hart::DetectorConfig& d = window->detector;
        std::memcpy(d.configuration, r.config.constData(), 3);
        d.configuration3 = uint8_t(r.config[3]);
        window->modifiedGroups = 0x3F;

        MainWindow::handleReadDetectorSettings(&d, window, 5);
        QCOMPARE(window->modifiedGroups, uint8_t(0x3F));
        MainWindow::handleReadDetectorSettings(&d, window, 0);
        QCOMPARE(window->modifiedGroups, uint8_t(0x2F));
        QCOMPARE(values(ui->analysisType->currentIndex(), ui->sensitivity->value(), ui->sensitivitySlider->value(),
                        ui->analysisTime->value(), ui->analysisTimeSlider->value(), ui->fixTime->currentIndex(),
                        ui->autoHeat->isChecked(), ui->alarmNO->isChecked(), ui->alarmNC->isChecked(),
                        ui->faultNC->isChecked(), ui->faultNO->isChecked()),
                 values(r.type, r.sensitivity, r.sensitivity, r.time, r.time, r.fixTime, r.heat, r.alarmNO, !r.alarmNO,
                        r.faultNC, !r.faultNC));
        if (r.model == 0xFF04 && r.type == 4)
            QCOMPARE(ui->sensitivityLen->value(), 18 + (r.sensitivity * 7 + 50) / 100);
    }

    void readFillsIdentity()
    {
        linelessWindow();
        Ui::MainWindow* ui = window->ui;
        Hart::IdentityRecord& r = window->identity;
        std::strcpy(r.message, "LINE 4 NORTH WALL               ");
        std::strcpy(r.tag, "FD-12   ");
        std::strcpy(r.descriptor, "BOILER HOUSE    ");
        const uint8_t date[3] = { 29, 2, 124 };
        std::memcpy(r.date, date, 3);
        // The long tag is Latin-1: bytes 0xC0..0xFF are letters its field accepts, not Cyrillic.
        std::strcpy(r.longTag, "Z\xFCrich \xC0\xFF");
        const uint16_t currents[5] = { 2500, 3000, 65535, 8000, 0 };
        std::memcpy(window->detector.currentSettings, currents, sizeof currents);
        window->modifiedGroups = 0x3F;

        MainWindow::handleReadMessage(&r, window, 0);
        MainWindow::handleReadTagDescriptorDate(&r, window, 0);
        MainWindow::handleReadLongTag(&r, window, 0);
        MainWindow::handleReadCurrents(&window->detector, window, 0);
        QCOMPARE(window->modifiedGroups, uint8_t(0x11));
        // The standby current is held at the box's limit.
        QCOMPARE(values(ui->message->text(), ui->tag->text(), ui->descriptor->text(), ui->date->date(),
                        ui->longTag->text(), ui->currentError->value(), ui->currentIdle->value(),
                        ui->currentAlarm->value()),
                 values(QString::fromLatin1(r.message), "FD-12   ", "BOILER HOUSE    ", QDate(2024, 2, 29),
                        QStringLiteral("Zürich Àÿ"), 2.5, 24.0, 0.0));
        QVERIFY(ui->longTag->hasAcceptableInput());

        std::memset(r.longTag, 'A', sizeof r.longTag);
        const uint8_t impossible[3] = { 0, 13, 255 };
        std::memcpy(r.date, impossible, 3);
        MainWindow::handleReadLongTag(&r, window, 0);
        MainWindow::handleReadTagDescriptorDate(&r, window, 0);
        QCOMPARE(ui->longTag->text(), QString(32, 'A'));
        QCOMPARE(ui->date->date(), QDate(2024, 2, 29));
    }
};

QTEST_MAIN(TestConfiguration)
#include "tst_configuration.moc"
