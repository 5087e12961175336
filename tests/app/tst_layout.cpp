// The main window at laptop and desktop sizes: every field of the five groups is shown whole and
// clear of its neighbours, the slider scales keep every caption, and on a small screen the
// detector settings scroll rather than overlap.

#include "mainwindow.h"
#include "resources.h"
#include "slider.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

namespace {

// The size a widget needs to show itself whole: a word-wrapped label its height at its width.
QSize needed(const QWidget* widget)
{
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        if (label->wordWrap())
            return {label->minimumSizeHint().width(), label->heightForWidth(label->width())};
        return label->sizeHint();
    }
    return widget->minimumSizeHint();
}

QString describe(const QWidget* w)
{
    return QStringLiteral("%1 at %2,%3 %4x%5, needs %6x%7").arg(w->objectName()).arg(w->x()).arg(w->y())
        .arg(w->width()).arg(w->height()).arg(needed(w).width()).arg(needed(w).height());
}

} // namespace

class TestLayout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initResources();
        // The offscreen platform's own 12-point font is larger than a desktop's; take the X11
        // default that the screenshots show.
        QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 9));
    }

    void fieldsShownWhole_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("analysisType");
        QTest::addColumn<bool>("settingsScroll");
        QTest::newRow("1366x700, 18..25 m") << QSize(1366, 700) << 0xFF04 << 4 << false;
        QTest::newRow("1366x700, 18..40 m") << QSize(1366, 700) << 0xFF04 << 0 << false;
        QTest::newRow("1366x700, 17..50 m") << QSize(1366, 700) << 0xFF03 << 0 << false;
        QTest::newRow("1024x700, 18..40 m") << QSize(1024, 700) << 0xFF04 << 0 << true;
    }
    void fieldsShownWhole()
    {
        QFETCH(QSize, size);
        QFETCH(int, model);
        QFETCH(int, analysisType);
        QFETCH(bool, settingsScroll);
        MainWindow window;
        window.expandedDeviceType = uint16_t(model);
        window.applyModelLayout();
        window.findChild<QComboBox*>(QStringLiteral("analysisType"))->setCurrentIndex(analysisType);
        window.resize(size);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();
        QCOMPARE(window.size(), size);

        auto* scroll = window.findChild<QScrollArea*>(QStringLiteral("settingsScrollArea"));
        const bool scrolls = scroll->verticalScrollBar()->maximum() > 0 || scroll->horizontalScrollBar()->maximum() > 0;
        QCOMPARE(scrolls, settingsScroll);

        for (const char* name : {"groupBox", "groupBox_3", "groupBox_4", "groupBox_5", "groupBox_6"}) {
            auto* group = window.findChild<QGroupBox*>(QLatin1String(name));
            // A scrolled group need only be whole inside its scrolled contents.
            QWidget* clip = scroll->isAncestorOf(group) && !settingsScroll ? scroll->viewport() : group;
            const QRect visible = clip == group ? group->contentsRect() : clip->rect();
            QVector<QWidget*> shown;
            for (QWidget* child : group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                if (child->isVisibleTo(&window))
                    shown.append(child);
            QVERIFY(shown.size() >= 4);
            for (int i = 0; i < shown.size(); ++i) {
                QWidget* w = shown[i];
                const QRect onClip(w->mapTo(clip, QPoint(0, 0)), w->size());
                QVERIFY2(visible.contains(onClip), qPrintable(describe(w) + " is cut off"));
                QVERIFY2(w->width() >= needed(w).width() && w->height() >= needed(w).height(),
                         qPrintable(describe(w)));
                for (int j = 0; j < i; ++j)
                    QVERIFY2(!w->geometry().intersects(shown[j]->geometry()),
                             qPrintable(describe(w) + " overlaps " + describe(shown[j])));
            }
        }

        for (Slider* slider : window.findChildren<Slider*>()) {
            if (!slider->isVisibleTo(&window))
                continue;
            slider->grab();
            for (const auto row : {Slider::ScaleRow::Above, Slider::ScaleRow::Below}) {
                const bool above = row == Slider::ScaleRow::Above;
                if (!(slider->tickPosition() & (above ? QSlider::TicksAbove : QSlider::TicksBelow)))
                    continue;
                const QStringList& captions = above ? slider->captionsAbove : slider->captionsBelow;
                const auto labels = slider->scaleLabels(row);
                if (captions.size() >= 2)
                    QCOMPARE(labels.size(), captions.size());
                for (int i = 0; i < labels.size(); ++i) {
                    const QString where = slider->objectName() + ' ' + labels[i].text;
                    QVERIFY2(labels[i].x >= 0 && labels[i].x + labels[i].advance <= slider->width(), qPrintable(where));
                    if (i > 0)
                        QVERIFY2(labels[i].x > labels[i - 1].x + labels[i - 1].advance, qPrintable(where));
                }
            }
        }
    }
};

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
