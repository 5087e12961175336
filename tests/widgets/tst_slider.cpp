#include "widgetstests.h"

#include "slider.h"

#include <QImage>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QtTest>

namespace {

// The handle's length as the style measures it over the groove.
int handleLength(Slider& slider)
{
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = slider.orientation();
    option.tickPosition = slider.tickPosition();
    option.rect = slider.grooveRect();
    return slider.style()->pixelMetric(QStyle::PM_SliderLength, &option, &slider);
}

// Columns in rows [top, bottom] holding a pixel that the predicate picks.
QVector<int> inkColumns(const QImage& image, int top, int bottom, bool (*pick)(QRgb))
{
    QVector<int> columns;
    for (int x = 0; x < image.width(); ++x)
        for (int y = top; y <= bottom; ++y)
            if (pick(image.pixel(x, y))) {
                columns.append(x);
                break;
            }
    return columns;
}

// Where the tick for a fraction of the range is painted.
double tickCentre(Slider& slider, double fraction)
{
    const int length = handleLength(slider);
    return slider.grooveRect().left() + length / 2 + (slider.grooveRect().width() - length) * fraction;
}

// A horizontal slider over 0..100 as the window uses them.
void setUp(Slider& slider, int ticks, int width, int height, const QStringList& captions = {}, int interval = 0)
{
    slider.setOrientation(Qt::Horizontal);
    slider.setRange(0, 100);
    slider.setTickInterval(interval);
    slider.setTickPosition(QSlider::TickPosition(ticks));
    slider.setCaptionsBelow(captions);
    slider.resize(width, height);
}

} // namespace

class TestSlider : public QObject {
    Q_OBJECT

private slots:
    void threeCaptionsStayInside()
    {
        Slider slider;
        setUp(slider, QSlider::TicksBelow, 300, 60, {QStringLiteral("Низкий"), QStringLiteral("Средний"), QStringLiteral("Высокий")});
        slider.setEnabled(false);
        const QImage image = slider.grab().toImage();

        const QFontMetrics fm(slider.font());
        QCOMPARE(slider.grooveRect(), QRect(QPoint(0, 0), QPoint(299, 60 - fm.height() - 1)));

        const auto labels = slider.scaleLabels(Slider::ScaleRow::Below);
        QCOMPARE(labels.size(), 3);
        QCOMPARE(labels[0].x, 0);
        QCOMPARE(labels[2].x + labels[2].advance, 299);
        QVERIFY2(qAbs(labels[1].x + labels[1].advance / 2.0 - tickCentre(slider, 0.5)) <= 1.5, qPrintable(labels[1].text));
        // The ink itself starts at the left edge and ends at the right edge.
        const QVector<int> ink = inkColumns(image, 60 - fm.height(), 59, [](QRgb c) { return qGray(c) < 100; });
        QVERIFY(!ink.isEmpty());
        QVERIFY2(ink.first() <= 2, qPrintable(QString::number(ink.first())));
        QVERIFY2(ink.last() >= 299 - 3, qPrintable(QString::number(ink.last())));
    }
    void manyCaptionsCentredAndGrooveShortened_data()
    {
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<int>("ticks");
        const QStringList distances = QString("17 20 23 26 29 32 35 38 41 44 47 50").split(' ');
        QTest::newRow("12 distances below") << distances << int(QSlider::TicksBelow);
        QTest::newRow("12 distances both sides") << distances << int(QSlider::TicksBothSides);
        QTest::newRow("4 long end captions") << QStringList{"Быстродействие", "a", "b", "Достоверность"} << int(QSlider::TicksBelow);
    }
    void manyCaptionsCentredAndGrooveShortened()
    {
        QFETCH(QStringList, captions);
        QFETCH(int, ticks);
        Slider slider;
        setUp(slider, ticks, 400, 80, captions);
        slider.grab();

        const QFontMetrics fm(slider.font());
        const int half = handleLength(slider) / 2;
        // An upper row without captions shows the end numbers, which need their own room.
        const bool both = ticks == QSlider::TicksBothSides;
        const int leftWidth = qMax(fm.horizontalAdvance(captions.first()), both ? fm.horizontalAdvance("0") : 0);
        const int rightWidth = qMax(fm.horizontalAdvance(captions.last()), both ? fm.horizontalAdvance("100") : 0);
        QCOMPARE(slider.grooveRect(), QRect(QPoint(qMax(0, (leftWidth + 1) / 2 - half), both ? fm.height() : 0),
                                            QPoint(399 - qMax(0, (rightWidth + 1) / 2 - half), 80 - fm.height() - 1)));

        const auto labels = slider.scaleLabels(Slider::ScaleRow::Below);
        QCOMPARE(labels.size(), captions.size());
        for (int i = 0; i < labels.size(); ++i) {
            QCOMPARE(labels[i].text, captions[i]);
            const double centre = labels[i].x + labels[i].advance / 2.0;
            QVERIFY2(qAbs(centre - tickCentre(slider, double(i) / (captions.size() - 1))) <= 1.5, qPrintable(captions[i]));
            QVERIFY(labels[i].x >= 0 && labels[i].x + labels[i].advance <= 400);
        }
    }
    // A scale too long for its slider keeps every caption: a smaller font, none touching.
    void crowdedScaleKeepsEveryCaption_data()
    {
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<int>("width");
        QTest::newRow("17..50 m on 240 px") << QString("17 20 23 26 29 32 35 38 41 44 47 50").split(' ') << 240;
        QTest::newRow("5..20 s on 170 px") << QString("5 с|10 с|15 с|20 с").split(QLatin1Char('|')) << 170;
    }
    void crowdedScaleKeepsEveryCaption()
    {
        QFETCH(QStringList, captions);
        QFETCH(int, width);
        Slider slider;
        setUp(slider, QSlider::TicksBothSides, width, 80, captions, 25);
        slider.captionsAbove = QStringList{"Быстродействие", "Достоверность"};
        slider.grab();
        for (const auto row : {Slider::ScaleRow::Above, Slider::ScaleRow::Below}) {
            const auto labels = slider.scaleLabels(row);
            QCOMPARE(labels.size(), row == Slider::ScaleRow::Above ? 2 : captions.size());
            for (int i = 0; i < labels.size(); ++i) {
                QVERIFY2(labels[i].x >= 0 && labels[i].x + labels[i].advance <= width, qPrintable(labels[i].text));
                if (i > 0)
                    QVERIFY2(labels[i].x > labels[i - 1].x + labels[i - 1].advance, qPrintable(labels[i].text));
            }
        }
    }
    void numericLabels_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("every 25") << 25 << QStringList{"0", "25", "50", "75", "100"};
        QTest::newRow("no interval") << 0 << QStringList{};
        QTest::newRow("interval past the range") << 150 << QStringList{"0"};
    }
    void numericLabels()
    {
        QFETCH(int, interval);
        QFETCH(QStringList, texts);
        Slider slider;
        setUp(slider, QSlider::TicksAbove, 300, 60, {}, interval);
        slider.grab();

        const auto labels = slider.scaleLabels(Slider::ScaleRow::Above);
        QStringList shown;
        for (const auto& label : labels)
            shown << label.text;
        QCOMPARE(shown, texts);
        for (const auto& label : labels)
            QVERIFY2(qAbs(label.x + label.advance / 2.0 - tickCentre(slider, label.text.toInt() / 100.0)) <= 1.5,
                     qPrintable(label.text));
    }
    void lowerRowBlackUpperRowTextColour()
    {
        Slider slider;
        setUp(slider, QSlider::TicksBothSides, 300, 80, {}, 50);
        QPalette palette = slider.palette();
        palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0, 0, 255));
        slider.setPalette(palette);
        slider.setEnabled(false);
        const QImage image = slider.grab().toImage();
        const QFontMetrics fm(slider.font());

        auto darkest = [&](int top, int bottom, bool (*pick)(QRgb)) { return inkColumns(image, top, bottom, pick).size(); };
        auto blue = [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 80 && qGreen(c) < 80; };
        auto black = [](QRgb c) { return qRed(c) < 40 && qGreen(c) < 40 && qBlue(c) < 40; };
        // Upper numbers in the palette's (disabled) text colour, lower numbers black.
        QVERIFY(darkest(0, fm.height() - 1, blue) > 0);
        QCOMPARE(darkest(0, fm.height() - 1, black), 0);
        QVERIFY(darkest(80 - fm.height(), 79, black) > 0);
        QCOMPARE(darkest(80 - fm.height(), 79, blue), 0);
    }
    void clickLandsWhereClicked_data()
    {
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("target");
        const QStringList wide{"Быстродействие", "1", "2", "Достоверность"};
        for (int target : {0, 30, 70, 100}) {
            QTest::addRow("wide end captions, to %d", target) << wide << int(QSlider::TicksBelow) << target;
            QTest::addRow("numbers both sides, to %d", target) << QStringList{} << int(QSlider::TicksBothSides) << target;
        }
    }
    // Drags the handle from where it is painted to where the target value is painted.
    void clickLandsWhereClicked()
    {
        QFETCH(QStringList, captions);
        QFETCH(int, ticks);
        QFETCH(int, target);
        Slider slider;
        setUp(slider, ticks, 400, 80, captions, 25);
        slider.setValue(50);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        slider.grab();

        auto paintedX = [&](int value) { return int(tickCentre(slider, value / 100.0)); };
        const int y = slider.grooveRect().center().y();

        QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(paintedX(50), y));
        QVERIFY(slider.isSliderDown());
        QMouseEvent move(QEvent::MouseMove, QPointF(paintedX(target), y), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&slider, &move);
        QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(paintedX(target), y));
        QVERIFY2(qAbs(slider.value() - target) <= 1, qPrintable(QString::number(slider.value())));

        // Styles that jump to the clicked point must land on the value painted there too.
        const auto jumpButtons = Qt::MouseButtons(slider.style()->styleHint(QStyle::SH_Slider_AbsoluteSetButtons));
        for (Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton}) {
            if (!(jumpButtons & button))
                continue;
            slider.setValue(target > 50 ? 0 : 100);
            QTest::mouseClick(&slider, button, Qt::NoModifier, QPoint(paintedX(target), y));
            QVERIFY2(qAbs(slider.value() - target) <= 1, qPrintable(QString::number(slider.value())));
        }
    }
    // Room for both caption rows; it grows with the font and never shrinks back.
    void minimumHeightFollowsFont()
    {
        Slider slider;
        setUp(slider, QSlider::TicksBothSides, 300, 40, {}, 10);
        slider.grab();
        const int small = slider.minimumHeight();
        QVERIFY(small > 2 * QFontMetrics(slider.font()).height());
        QFont font = slider.font();
        const auto withPoints = [&](int points) {
            font.setPointSize(points);
            slider.setFont(font);
            slider.grab();
            return slider.minimumHeight();
        };
        const int grown = withPoints(font.pointSize() * 3);
        QVERIFY(grown > 2 * QFontMetrics(font).height() && grown > small);
        QCOMPARE(withPoints(6), grown);
    }
};

WIDGETS_TEST_RUNNER(runSliderTests, TestSlider)

#include "tst_slider.moc"
