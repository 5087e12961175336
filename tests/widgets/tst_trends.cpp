#include "widgetstests.h"

#include "modalanswerer.h"
#include "testfiles.h"
#include "values.h"
#include "trendbuffer.h"
#include "trendcsv.h"
#include "trendwindow.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QDateTime>
#include <QPushButton>
#include <QSpinBox>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_map.h>

namespace {

// The samples one plot shows: its line, and its red points.
QPair<std::size_t, std::size_t> shown(TrendWindow& window, int series)
{
    const QList<QwtPlot*> plots = window.findChildren<QwtPlot*>();
    const QwtPlotItemList curves = plots.at(series)->itemList(QwtPlotItem::Rtti_PlotCurve);
    return { static_cast<QwtPlotCurve*>(curves.at(0))->dataSize(), static_cast<QwtPlotCurve*>(curves.at(1))->dataSize() };
}

} // namespace

class TestTrends : public QObject {
    Q_OBJECT

private slots:
    void bufferBounded_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("appended");
        QTest::newRow("partly filled") << 100 << 37;
        QTest::newRow("exactly full") << 100 << 100;
        QTest::newRow("wrapped three times and a bit") << 100 << 345;
        QTest::newRow("capacity one") << 1 << 5;
    }
    void bufferBounded()
    {
        QFETCH(int, capacity);
        QFETCH(int, appended);
        TrendBuffer buffer(capacity);
        for (int i = 0; i < appended; ++i)
            buffer.append(std::int64_t(i) * 1000, float(i), i % 3 == 0);
        const std::size_t kept = std::min(capacity, appended), first = appended - kept;
        QCOMPARE(buffer.size(), kept);
        QVERIFY(buffer.storageBytes() <= capacity * sizeof(TrendSample));
        // The newest samples kept, oldest first; searching by time works across the wrap.
        const std::int64_t firstMs = std::int64_t(first) * 1000, lastMs = std::int64_t(appended - 1) * 1000;
        QCOMPARE(values(buffer.at(0).timeMs, buffer.at(kept - 1).value, buffer.at(kept - 1).flagged,
                        buffer.firstAtOrAfter(firstMs - 1), buffer.firstAtOrAfter(lastMs),
                        buffer.firstAtOrAfter(lastMs + 1000)),
                 values(firstMs, float(appended - 1), (appended - 1) % 3 == 0, 0, kept - 1, kept));
    }

    // A clock set back does not unsort the buffer.
    void timeNeverRunsBack()
    {
        TrendBuffer buffer(10);
        buffer.append(5000, 1, false);
        buffer.append(3000, 2, false);
        QCOMPARE(buffer.at(1).timeMs, std::int64_t(5000));
        QCOMPARE(buffer.firstAtOrAfter(5000), std::size_t(0));
    }

    // The saved file read back as a Russian spreadsheet reads it.
    void csvReadBack()
    {
        ModalAnswerer answerer;
        TrendWindow window;
        const std::int64_t start = QDateTime(QDate(2026, 12, 6), QTime(21, 50, 1)).toMSecsSinceEpoch();
        std::int64_t now = start;
        window.setClock([&now] { return now; });
        window.addSample(Trend::LoopCurrent, 4.0f, false, "мА");
        window.addSample(Trend::Infrared, 120.5f, false, "мВ");
        now += 1000;
        window.addSample(Trend::Ultraviolet, -0.0125f, true, "мВ");
        window.addSample(Trend::Infrared, std::numeric_limits<float>::quiet_NaN(), true, "мВ");
        now += 1000;
        window.addSample(Trend::Infrared, 1.5e7f, true, "a;b");
        window.addSample(Trend::Infrared, -2.0f, false, "=1+2");
        QTemporaryDir dir;
        const QString path = dir.filePath("trends.csv");
        QVERIFY(window.saveCsv(path));
        QCOMPARE(answerer.boxes().size(), 0);

        const QByteArray bytes = readFile(path);
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QStringList rows = QString::fromUtf8(bytes.mid(3)).split("\r\n");
        QCOMPARE(rows, (QStringList { "Время;Канал;Значение;Единица;Качество",
                                      "06.12.2026 21:50:01;Ток петли;4;мА;норма",
                                      "06.12.2026 21:50:01;ИК канал;120,5;мВ;норма",
                                      "06.12.2026 21:50:02;УФ канал;-0,0125;мВ;недостоверно",
                                      "06.12.2026 21:50:03;ИК канал;1,5e+07;\"a;b\";недостоверно",
                                      "06.12.2026 21:50:03;ИК канал;-2;'=1+2;норма", "" }));
    }

    // The local time of each row across both clock changes of a zone with summer time.
    void csvTimesAcrossSummerTime()
    {
        const QByteArray savedZone = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        const std::int64_t spring = QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
        const std::int64_t autumn = QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
        if (QDateTime::fromMSecsSinceEpoch(spring - 1).offsetFromUtc() == QDateTime::fromMSecsSinceEpoch(spring).offsetFromUtc())
            QSKIP("no time zone data for Europe/Berlin");
        TrendBuffer buffer(100000);
        QStringList expected;
        for (std::int64_t change : { spring, autumn })
            for (std::int64_t t = change - 3 * 3600 * 1000; t < change + 3 * 3600 * 1000; t += 61 * 1000 + 7) {
                buffer.append(t, 1.0f, false);
                expected << QDateTime::fromMSecsSinceEpoch(t).toString("dd.MM.yyyy HH:mm:ss");
            }
        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        QVERIFY(writeTrendCsv(&csv, { { "ИК канал", &buffer } }, {}));
        QStringList times;
        for (const QString& row : QString::fromUtf8(csv.data().mid(3)).split("\r\n").mid(1, expected.size()))
            times << row.section(';', 0, 0);
        if (savedZone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", savedZone);
        QCOMPARE(times, expected);
    }

    void saveButtonWritesTheCsv()
    {
        ModalAnswerer answerer;
        QTemporaryDir dir;
        answerer.chooseFile(dir.filePath("trends"));
        TrendWindow window;
        window.addSample(Trend::LoopCurrent, 12.0f, false, "мА");
        window.findChild<QPushButton*>("saveCsv")->click();
        QCOMPARE(readFile(dir.filePath("trends.csv")).count('\n'), 2);
        QCOMPARE(answerer.boxes().size(), 0);
        const QString status = window.findChild<QStatusBar*>("statusBar")->currentMessage();
        QVERIFY2(QRegularExpression("^Тренды сохранены в CSV \\d\\d:\\d\\d:\\d\\d$").match(status).hasMatch(),
                 qPrintable(status));
    }

    // Polling stopped for minutes: the line stops at the last sample before the gap and starts
    // again after it, instead of a straight stroke across the time nothing was measured.
    void lineBreaksAtGaps()
    {
        TrendWindow window;
        std::int64_t now = 1'000'000'000'000;
        window.setClock([&now] { return now; });
        const auto addMinute = [&] {
            for (int i = 0; i < 60; ++i, now += 1'000)
                window.addSample(Trend::Infrared, 50.0f + float(i % 2), false, "мВ");
        };
        addMinute();
        now += 3 * 60'000;
        addMinute();
        window.resize(900, 640);
        window.toggleAction()->trigger();
        window.findChild<QSpinBox*>("span")->setValue(5);
        QwtPlot* plot = window.findChildren<QwtPlot*>().at(Trend::Infrared);
        // Columns of the canvas a third and two thirds into the gap; a line is drawn dark.
        const QImage image = plot->canvas()->grab().toImage();
        const QwtScaleMap x = plot->canvasMap(QwtPlot::xBottom);
        const auto darkIn = [&](std::int64_t t) {
            const int column = int(x.transform(double(t)));
            int dark = 0;
            for (int row = 5; row < image.height() - 5; ++row) // not the canvas frame
                dark += qGray(image.pixel(column, row)) < 100;
            return dark;
        };
        const std::int64_t gapStart = 1'000'000'000'000 + 59'000;
        QCOMPARE(darkIn(gapStart + 60'000), 0);
        QCOMPARE(darkIn(gapStart + 120'000), 0);
        QVERIFY(darkIn(1'000'000'000'000 + 30'500) > 0); // the line itself
    }

    void unwritableCsvIsReported()
    {
        ModalAnswerer answerer;
        TrendWindow window;
        QVERIFY(!window.saveCsv("/nonexistent-folder/trends.csv"));
        QCOMPARE(answerer.boxes().size(), 1);
        QVERIFY(answerer.boxes()[0].text.startsWith("Не удалось сохранить файл /nonexistent-folder/trends.csv"));
    }

    // The plots show the chosen span up to now; pausing freezes them while samples keep coming.
    void spanAndPause()
    {
        TrendWindow window;
        std::int64_t now = 1'000'000'000'000;
        window.setClock([&now] { return now; });
        // Forty minutes of samples, one every ten seconds, every fourth one doubtful.
        for (int i = 0; i < 240; ++i, now += 10'000)
            window.addSample(Trend::Infrared, float(i), i % 4 == 0, "мВ");
        window.toggleAction()->trigger();
        QVERIFY(window.isVisible());
        auto* span = window.findChild<QSpinBox*>("span");
        QCOMPARE(qMakePair(span->minimum(), span->maximum()), qMakePair(1, 30));
        span->setValue(5);
        // 30 samples in the five minutes, and the one before them that the line enters from.
        QCOMPARE(shown(window, Trend::Infrared), qMakePair(std::size_t(31), std::size_t(7)));
        QCOMPARE(shown(window, Trend::LoopCurrent).first, std::size_t(0));
        span->setValue(30);
        QCOMPARE(shown(window, Trend::Infrared).first, std::size_t(181));

        window.findChild<QCheckBox*>("pause")->setChecked(true);
        now += 5'000;
        for (int i = 0; i < 60; ++i, now += 10'000)
            window.addSample(Trend::Infrared, 1.0f, false, "мВ");
        window.refresh();
        QCOMPARE(shown(window, Trend::Infrared).first, std::size_t(181));
        // Resumed ten minutes later: 119 old and 60 new samples in the last half hour, and one before.
        window.findChild<QCheckBox*>("pause")->setChecked(false);
        QCOMPARE(shown(window, Trend::Infrared).first, std::size_t(180));
        QCOMPARE(window.buffer(Trend::Infrared).size(), std::size_t(300));

        window.close();
        QVERIFY(!window.toggleAction()->isChecked());
    }
};

WIDGETS_TEST_RUNNER(runTrendTests, TestTrends)
#include "tst_trends.moc"
