#include "trendwindow.h"

#include "savefilename.h"
#include "timedstatus.h"
#include "trendcsv.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <qwt_date.h>
#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_symbol.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr int refreshIntervalMs = 1000;
constexpr int defaultSpanMinutes = 5;

const char* const seriesNames[Trend::seriesCount] = { "Ток петли", "ИК канал", "УФ канал" };

// Wall-clock time that never steps back when the system clock is set: the start time plus a
// monotonic count, so the buffers stay in time order.
std::function<std::int64_t()> monotonicWallClock()
{
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    const std::int64_t epoch = QDateTime::currentMSecsSinceEpoch();
    return [started, epoch] { return epoch + started->elapsed(); };
}

QString axisTitle(int series, const QString& unit)
{
    const QString name = QString::fromUtf8(seriesNames[series]);
    return unit.isEmpty() ? name : name + QStringLiteral(", ") + unit;
}

// A line that stops where samples are missing and goes on after the gap.
class GappedCurve : public QwtPlotCurve {
public:
    using QwtPlotCurve::QwtPlotCurve;

protected:
    void drawSeries(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap, const QRectF& canvasRect,
                    int from, int to) const override
    {
        const int last = to < 0 ? int(dataSize()) - 1 : to;
        int runStart = from;
        for (int i = from + 1; i <= last + 1; ++i) {
            if (i <= last && sample(i).x() - sample(i - 1).x() <= double(Trend::gapMs))
                continue;
            if (runStart < i - 1) {
                QwtPlotCurve::drawSeries(painter, xMap, yMap, canvasRect, runStart, i - 1);
            } else {
                // A sample alone between two gaps has no line: a dot shows it.
                const QPointF point = sample(runStart);
                painter->save();
                painter->setPen(QPen(pen().color(), 3.0));
                painter->drawPoint(QPointF(xMap.transform(point.x()), yMap.transform(point.y())));
                painter->restore();
            }
            runStart = i;
        }
    }
};

} // namespace

TrendWindow::TrendWindow(QWidget* parent, std::size_t capacity)
    : QDialog(parent)
    , buffers { TrendBuffer(capacity), TrendBuffer(capacity), TrendBuffer(capacity) }
    , now(monotonicWallClock())
{
    setWindowTitle(QStringLiteral("Тренды"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    resize(900, 640);

    toggle = new QAction(QStringLiteral("Тренды"), this);
    toggle->setObjectName(QStringLiteral("trends"));
    toggle->setCheckable(true);
    toggle->setToolTip(QStringLiteral("Графики тока петли, ИК и УФ каналов во время опроса"));
    connect(toggle, &QAction::toggled, this, &QWidget::setVisible);
    connect(this, &QDialog::finished, toggle, [this] { toggle->setChecked(false); });

    auto* layout = new QVBoxLayout(this);
    auto* controls = new QHBoxLayout;
    pause = new QCheckBox(QStringLiteral("Пауза"), this);
    pause->setObjectName(QStringLiteral("pause"));
    connect(pause, &QCheckBox::toggled, this, &TrendWindow::setPaused);
    controls->addWidget(pause);
    controls->addSpacing(16);
    controls->addWidget(new QLabel(QStringLiteral("Интервал:"), this));
    span = new QSpinBox(this);
    span->setObjectName(QStringLiteral("span"));
    span->setRange(Trend::minSpanMinutes, Trend::maxSpanMinutes);
    span->setValue(defaultSpanMinutes);
    span->setSuffix(QStringLiteral(" мин"));
    connect(span, QOverload<int>::of(&QSpinBox::valueChanged), this, &TrendWindow::refresh);
    controls->addWidget(span);
    controls->addSpacing(16);
    auto* legend = new QLabel(QStringLiteral("<span style=\" color:#ff0000;\">●</span> — значение недостоверно "
                                             "или вышло за предел"),
                              this);
    controls->addWidget(legend);
    controls->addStretch(1);
    auto* save = new QPushButton(QStringLiteral("Сохранить в CSV…"), this);
    save->setObjectName(QStringLiteral("saveCsv"));
    connect(save, &QPushButton::clicked, this, &TrendWindow::askAndSaveCsv);
    controls->addWidget(save);
    layout->addLayout(controls);

    const QColor normal = palette().color(QPalette::Text);
    for (int s = 0; s < Trend::seriesCount; ++s) {
        QwtPlot* plot = new QwtPlot(this);
        plot->setCanvasBackground(palette().color(QPalette::Base));
        plot->setAxisTitle(QwtPlot::yLeft, axisTitle(s, QString()));
        auto* scaleDraw = new QwtDateScaleDraw(Qt::LocalTime);
        scaleDraw->setDateFormat(QwtDate::Second, QStringLiteral("hh:mm:ss"));
        scaleDraw->setDateFormat(QwtDate::Minute, QStringLiteral("hh:mm"));
        plot->setAxisScaleDraw(QwtPlot::xBottom, scaleDraw);
        plot->setAxisScaleEngine(QwtPlot::xBottom, new QwtDateScaleEngine(Qt::LocalTime));
        auto* grid = new QwtPlotGrid;
        grid->setPen(QColor(0xD0, 0xD0, 0xD0), 0.0, Qt::DotLine);
        grid->attach(plot);

        lines[s] = new GappedCurve(QString::fromUtf8(seriesNames[s]));
        lines[s]->setPen(normal, 1.5);
        lines[s]->setRenderHint(QwtPlotItem::RenderAntialiased);
        lines[s]->attach(plot);
        flaggedPoints[s] = new QwtPlotCurve;
        flaggedPoints[s]->setStyle(QwtPlotCurve::NoCurve);
        flaggedPoints[s]->setSymbol(new QwtSymbol(QwtSymbol::Ellipse, QBrush(Qt::red), QPen(Qt::red), QSize(5, 5)));
        flaggedPoints[s]->attach(plot);
        plots[s] = plot;
        layout->addWidget(plot, 1);
    }

    // Says when the samples were last saved.
    status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("statusBar"));
    status->setSizeGripEnabled(false);
    layout->addWidget(status);

    refreshTimer = new QTimer(this);
    connect(refreshTimer, &QTimer::timeout, this, &TrendWindow::refresh);
}

void TrendWindow::addSample(Trend::Series series, float value, bool flagged, const QString& unit)
{
    if (series < 0 || series >= Trend::seriesCount || !std::isfinite(value))
        return;
    int index = units.indexOf(unit);
    if (index < 0 && units.size() < 256) {
        units.append(unit);
        index = units.size() - 1;
    }
    index = std::max(index, 0);
    buffers[series].append(now(), value, flagged, std::uint8_t(index));
    if (index != lastUnit[series]) {
        lastUnit[series] = index;
        plots[series]->setAxisTitle(QwtPlot::yLeft, axisTitle(series, units.value(index)));
    }
}

void TrendWindow::refresh()
{
    const std::int64_t right = pause->isChecked() ? frozenAt : now();
    const std::int64_t left = right - std::int64_t(span->value()) * 60 * 1000;
    for (int s = 0; s < Trend::seriesCount; ++s) {
        const TrendBuffer& b = buffers[s];
        QVector<QPointF> all;
        QVector<QPointF> flagged;
        // One sample before the span, so the line enters from the left edge.
        std::size_t i = b.firstAtOrAfter(left);
        i = i > 0 ? i - 1 : 0;
        for (; i < b.size() && b.at(i).timeMs <= right; ++i) {
            const TrendSample& sample = b.at(i);
            const QPointF point(double(sample.timeMs), double(sample.value));
            all.append(point);
            if (sample.flagged)
                flagged.append(point);
        }
        lines[s]->setSamples(all);
        flaggedPoints[s]->setSamples(flagged);
        plots[s]->setAxisScale(QwtPlot::xBottom, double(left), double(right));
        plots[s]->replot();
    }
}

void TrendWindow::setPaused(bool paused)
{
    frozenAt = now();
    if (paused)
        refreshTimer->stop();
    else if (isVisible())
        refreshTimer->start(refreshIntervalMs);
    refresh();
}

void TrendWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    toggle->setChecked(true);
    if (!pause->isChecked())
        refreshTimer->start(refreshIntervalMs);
    refresh();
}

void TrendWindow::hideEvent(QHideEvent* event)
{
    refreshTimer->stop();
    QDialog::hideEvent(event);
}

bool TrendWindow::saveCsv(const QString& path)
{
    QVector<TrendCsvSeries> series;
    for (int s = 0; s < Trend::seriesCount; ++s)
        series.append({ QString::fromUtf8(seriesNames[s]), &buffers[s] });
    // Written to a temporary file and renamed at the end, so a failed save leaves no half file.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && writeTrendCsv(&file, series, units) && file.commit()) {
        status->showMessage(timedStatus(QStringLiteral("Тренды сохранены в CSV")));
        return true;
    }
    QMessageBox::critical(this, QStringLiteral("Ошибка"),
                          QStringLiteral("Не удалось сохранить файл ") + path + QStringLiteral(": ") + file.errorString());
    return false;
}

void TrendWindow::askAndSaveCsv()
{
    const QString path = saveFileName(this, QStringLiteral("Сохранить в CSV"), QString(),
                                      QStringLiteral("Таблица CSV (*.csv)"), QStringLiteral("csv"));
    if (!path.isEmpty())
        saveCsv(path);
}
