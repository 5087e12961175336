#pragma once
// Live trends of the polled values: loop current, IR and UV channel, each on a plot of its own
// against real time, with the red of the main window for doubtful and limited values.

#include "trendbuffer.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class QAction;
class QCheckBox;
class QSpinBox;
class QStatusBar;
class QTimer;
class QwtPlot;
class QwtPlotCurve;

namespace Trend {
enum Series { LoopCurrent = 0, Infrared = 1, Ultraviolet = 2 };
constexpr int seriesCount = 3;
// Two samples a second for a day: more than the polling delivers, about 2.8 MB a series.
constexpr std::size_t samplesPerSeries = 2 * 24 * 3600;
constexpr int minSpanMinutes = 1;
constexpr int maxSpanMinutes = 30;
// Samples further apart than this are not joined: polling stopped in between (a firmware
// update, the port closed), and a straight line would show values nobody measured.
constexpr std::int64_t gapMs = 15000;
} // namespace Trend

class TrendWindow : public QDialog {
    Q_OBJECT

public:
    explicit TrendWindow(QWidget* parent = nullptr, std::size_t capacity = Trend::samplesPerSeries);

    // The checkable action that shows and hides the window; closing the window unchecks it.
    QAction* toggleAction() const { return toggle; }

    // One polled value, stamped with the window's clock. Kept whether or not the window is shown.
    void addSample(Trend::Series series, float value, bool flagged, const QString& unit);
    const TrendBuffer& buffer(Trend::Series series) const { return buffers[series]; }

    // Milliseconds since the epoch; tests move it by hand.
    void setClock(std::function<std::int64_t()> clock) { now = std::move(clock); }

    // Writes every kept sample as CSV; false, after telling the user, on failure.
    bool saveCsv(const QString& path);

    // Redraws the visible span ending now (or where the pause froze it).
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void askAndSaveCsv();
    void setPaused(bool paused);

    TrendBuffer buffers[Trend::seriesCount];
    // Unit texts as the samples refer to them; a device has a handful, the list stops at 256.
    QStringList units;
    int lastUnit[Trend::seriesCount] = { -1, -1, -1 };
    QwtPlot* plots[Trend::seriesCount] = {};
    QwtPlotCurve* lines[Trend::seriesCount] = {};
    QwtPlotCurve* flaggedPoints[Trend::seriesCount] = {};
    QAction* toggle = nullptr;
    QCheckBox* pause = nullptr;
    QSpinBox* span = nullptr;
    QStatusBar* status = nullptr;
    QTimer* refreshTimer = nullptr;
    std::function<std::int64_t()> now;
    std::int64_t frozenAt = 0; // the right edge while paused
};
