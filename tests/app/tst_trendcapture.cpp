#include "dialogtraffic.h"
#include "mainwindow.h"
#include "simulatedwindow.h"
#include "resources.h"
#include "trendwindow.h"

#include <QAction>
#include <QtTest>

// The trend window and the capture fed by a window that polls the simulated detector.
class TestTrendCapture : public QObject, WindowBench {
    Q_OBJECT

    // Identification and the one-time reads, then a few rounds of cyclic polling.
    void poll(int rounds)
    {
        action("connectRead")->trigger();
        runUntilQuiet();
        for (int i = 0; i < rounds; ++i) {
            QMetaObject::invokeMethod(window, "requestTimerUpdate");
            runUntilQuiet();
        }
    }

private slots:
    void initTestCase() { initResources(); }
    void init() { start(); }
    void cleanup() { finish(); }

    // Each polled value becomes one sample, red exactly where the main window shows it red.
    void trendFollowsThePolledValues_data()
    {
        QTest::addColumn<int>("irStatus");
        QTest::addColumn<bool>("irFlagged");
        QTest::newRow("good") << 0xC0 << false;
        QTest::newRow("limited low") << 0xD0 << true;
    }
    void trendFollowsThePolledValues()
    {
        QFETCH(int, irStatus);
        QFETCH(bool, irFlagged);
        QVERIFY(connectWindow());
        sim->modify([irStatus](Sim::DeviceState& s) { s.variables[1].status = std::uint8_t(irStatus); });
        poll(3);
        auto* trends = window->findChild<TrendWindow*>();
        const TrendBuffer& ir = trends->buffer(Trend::Infrared);
        const TrendBuffer& uv = trends->buffer(Trend::Ultraviolet);
        const TrendBuffer& current = trends->buffer(Trend::LoopCurrent);
        QVERIFY(ir.size() >= 3);
        QCOMPARE(uv.size(), ir.size());
        QVERIFY(current.size() >= 3);
        for (std::size_t i = 0; i < ir.size(); ++i) {
            QCOMPARE(ir.at(i).flagged, irFlagged);
            QVERIFY(std::abs(ir.at(i).value - 120.0f) <= 6.01f);
            QCOMPARE(uv.at(i).flagged, false);
        }
        QVERIFY(current.at(0).value >= 4.0f && current.at(0).value <= 20.0f);
    }

    // Every request the detector saw and every answer goes to the capture, in order; Wireshark
    // decodes a serial capture in the capture tests.
    void captureOfAPollingSession()
    {
        QVERIFY(connectWindow());
        poll(2);
        QString expected, captured;
        for (const Sim::ReceivedRequest& request : sim->requests())
            expected += request.answered ? "><" : ">";
        for (const TrafficCapture::Frame& frame : window->findChild<DialogTraffic*>()->capture().frames())
            captured += frame.outgoing ? '>' : '<';
        QVERIFY(expected.size() > 20);
        QCOMPARE(captured, expected);
    }
};

QTEST_MAIN(TestTrendCapture)
#include "tst_trendcapture.moc"
